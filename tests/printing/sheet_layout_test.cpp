// The sheet's cell arithmetic on its own: rows, pages, the room test and the bitmap sizes.
#include "printing/sheet_layout.h"

#include <gtest/gtest.h>
#include <vector>

using pixmoor::SheetCursor;
using pixmoor::SheetLayout;

namespace {

struct Placed {
    QRect cell;
    int page;
};

// Where count thumbnails go, and the number of pages begun (the first included).
std::vector<Placed> place(QSize thumb, QSize page, int count, int* pages = nullptr) {
    std::vector<Placed> out;
    SheetCursor cursor(thumb, page);
    int current = 1;
    for (int i = 0; i < count; ++i) {
        out.push_back({cursor.cell(), current});
        if (cursor.advance()) ++current;
    }
    if (pages) *pages = current;
    return out;
}

} // namespace

TEST(SheetLayout, SeventyPixelThumbnailsFillSevenColumnsAndNineRowsOfA2400By3000Page) {
    int pages = 0;
    const auto cells = place(QSize(70, 70), QSize(2400, 3000), 64, &pages);
    for (int i = 0; i < 63; ++i) {
        EXPECT_EQ(cells[i].page, 1) << i;
        EXPECT_EQ(cells[i].cell, QRect((i % 7) * 320, (i / 7) * 320, 210, 210)) << i;
    }
    EXPECT_EQ(cells[62].cell.topLeft(), QPoint(1920, 2560));
    EXPECT_EQ(cells[63].page, 2);
    EXPECT_EQ(cells[63].cell, QRect(0, 0, 210, 210));
    EXPECT_EQ(pages, 2);

    SheetCursor cursor(QSize(70, 70), QSize(2400, 3000));
    EXPECT_EQ(cursor.Right(), 210);
    EXPECT_EQ(cursor.Bottom(), 210);
    EXPECT_EQ(cursor.captionPosition(), QPoint(0, 220));
}

TEST(SheetLayout, ARowNeedsItsRightEdgeOnThePageAnd200PixelsBelowIt) {
    // Exactly fitting: the third cell's right edge equals the page width; a second row's bottom
    // plus 200 passes the page height by one pixel.
    const QSize thumb(20, 20); // cell 60, step 170
    auto cells = place(thumb, QSize(400, 429), 4);
    EXPECT_EQ(cells[2].cell.left(), 340);
    EXPECT_EQ(cells[2].page, 1);
    EXPECT_EQ(cells[3].page, 2);
    EXPECT_EQ(cells[3].cell.topLeft(), QPoint(0, 0));
    // One pixel more height takes the second row.
    cells = place(thumb, QSize(400, 430), 4);
    EXPECT_EQ(cells[3].page, 1);
    EXPECT_EQ(cells[3].cell.topLeft(), QPoint(0, 170));
    // One pixel less width leaves two a row.
    cells = place(thumb, QSize(399, 430), 3);
    EXPECT_EQ(cells[2].cell.topLeft(), QPoint(0, 170));
}

TEST(SheetLayout, APageTooSmallForOneRowTakesOneThumbnailAndEndsWithAnEmptyPage) {
    int pages = 0;
    const auto cells = place(QSize(70, 70), QSize(300, 300), 3, &pages);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(cells[i].page, i + 1);
        EXPECT_EQ(cells[i].cell.topLeft(), QPoint(0, 0));
    }
    EXPECT_EQ(pages, 4); // the last thumbnail's advance begins a page of its own too
}

TEST(SheetLayout, ThumbnailAndIconBitmapSizesStayUsable) {
    EXPECT_EQ(SheetLayout::thumbSize(70, 90), QSize(70, 90));
    EXPECT_EQ(SheetLayout::thumbSize(0, -5), QSize(1, 1));
    EXPECT_EQ(SheetLayout::thumbSize(100000, 2000), QSize(1024, 1024));
    EXPECT_EQ(SheetLayout::cellSize(QSize(70, 90)), QSize(210, 270));
    EXPECT_EQ(SheetLayout::iconBitmapSize(QSize(70, 70)), QSize(55, 55));
    EXPECT_EQ(SheetLayout::iconBitmapSize(QSize(20, 20)), QSize(5, 5));
    EXPECT_EQ(SheetLayout::iconBitmapSize(QSize(3, 16)), QSize(1, 1));
}
