// The thumbnail sheet's cell arithmetic.
#include "printing/sheet_layout.h"

#include <algorithm>

namespace pixmoor {

QSize SheetLayout::thumbSize(int thumbWidth, int thumbHeight) {
    return QSize(std::clamp(thumbWidth, 1, kMaxThumbSide),
                 std::clamp(thumbHeight, 1, kMaxThumbSide));
}

QSize SheetLayout::iconBitmapSize(QSize thumb) {
    return QSize(std::max(1, thumb.width() - kIconInset), std::max(1, thumb.height() - kIconInset));
}

SheetCursor::SheetCursor(QSize thumb, QSize page)
    : cell_(SheetLayout::cellSize(thumb)), page_(page) {
    home();
}

void SheetCursor::home() {
    left_ = 0;
    top_ = 0;
    right_ = cell_.width();
    bottom_ = cell_.height();
}

bool SheetCursor::advance() {
    const int across = cell_.width() + SheetLayout::kGap;
    left_ += across;
    right_ += across;
    if (right_ > page_.width()) {
        const int down = cell_.height() + SheetLayout::kGap;
        top_ += down;
        bottom_ += down;
        left_ = 0;
        right_ = cell_.width();
    }
    if (page_.height() < bottom_ + SheetLayout::kRoomBelow) {
        home();
        return true;
    }
    return false;
}

} // namespace pixmoor
