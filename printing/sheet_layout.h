// The thumbnail sheet's layout in printer device pixels, from the printable area's top-left
// corner: the cell rectangle CellRect, how it moves from cell to cell, row to row and page to
// page, and the sizes of the bitmaps drawn into a cell. No window and no printer needed.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace pixmoor {

struct SheetLayout {
    // Gap between cells, across and down.
    static constexpr int kGap = 110;
    // The caption starts this far below the cell's bottom edge.
    static constexpr int kCaptionOffset = 10;
    // A row is begun only if this much room is left below its cells.
    static constexpr int kRoomBelow = 200;
    static constexpr int kCaptionPoints = 8;
    // An icon is drawn into a bitmap this much smaller than the thumbnail in each direction.
    static constexpr int kIconInset = 15;
    // Thumbnail sides from a hand-edited settings file are held to what the catalogue shows.
    static constexpr int kMaxThumbSide = 1024;

    // The thumbnail size the sheet is laid out for: each side 1 to kMaxThumbSide.
    static QSize thumbSize(int thumbWidth, int thumbHeight);
    // A cell: three printer pixels for each thumbnail pixel.
    static QSize cellSize(QSize thumb) { return thumb * 3; }
    // The white bitmap an icon is drawn into (at least 1 x 1).
    static QSize iconBitmapSize(QSize thumb);
};

// CellRect: the current cell, moved on after every thumbnail.
class SheetCursor {
public:
    // thumb as SheetLayout::thumbSize returns it; page is the printable area in device pixels.
    SheetCursor(QSize thumb, QSize page);

    int Left() const { return left_; }
    int Top() const { return top_; }
    int Right() const { return right_; }   // exclusive, Left + cell width
    int Bottom() const { return bottom_; } // exclusive, Top + cell height
    QRect cell() const { return QRect(left_, top_, right_ - left_, bottom_ - top_); }
    // Top-left of the caption's text cell.
    QPoint captionPosition() const { return QPoint(left_, bottom_ + SheetLayout::kCaptionOffset); }

    // Moves on after a thumbnail: right, to a new row when the next cell would pass the page's
    // right edge, to a new page when a row would leave less than kRoomBelow below it. Returns
    // true when the caller must begin a new page.
    bool advance();

private:
    void home();

    QSize cell_;
    QSize page_;
    int left_ = 0, top_ = 0, right_ = 0, bottom_ = 0;
};

} // namespace pixmoor
