// The picture control: placement of the picture (stretched, centred or at the top-left),
// automatic sizing, and repainting whenever the picture or a placement setting changes.
#include "imaging/picture_control.h"

#include <QPainter>

namespace pixmoor {

TImage::TImage(QWidget* parent) : QWidget(parent) {}

void TImage::setPicture(const Picture& picture) {
    picture_ = picture;
    pictureWasChanged();
}

void TImage::loadPicture(const QString& path) {
    try {
        picture_.loadFromFile(path);
    } catch (...) {
        // The picture is empty after a failed load; show that before passing the error on.
        pictureWasChanged();
        throw;
    }
    pictureWasChanged();
}

void TImage::clearPicture() {
    picture_.clear();
    pictureWasChanged();
}

void TImage::setStretch(bool on) {
    if (stretch_ == on) return;
    stretch_ = on;
    update();
}

void TImage::setCenter(bool on) {
    if (center_ == on) return;
    center_ = on;
    update();
}

void TImage::setAutoSize(bool on) {
    if (autoSize_ == on) return;
    autoSize_ = on;
    if (on && !picture_.isEmpty()) resize(picture_.width(), picture_.height());
    update();
}

void TImage::pictureWasChanged() {
    if (autoSize_ && !picture_.isEmpty()) resize(picture_.width(), picture_.height());
    updateGeometry();
    update();
    emit pictureChanged();
}

QRect TImage::destRect() const {
    if (stretch_) return rect();
    const QSize size(picture_.width(), picture_.height());
    if (center_)
        return QRect(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
    return QRect(QPoint(0, 0), size);
}

QSize TImage::sizeHint() const {
    if (picture_.isEmpty()) return QWidget::sizeHint();
    return QSize(picture_.width(), picture_.height());
}

void TImage::paintEvent(QPaintEvent*) {
    if (picture_.isEmpty()) return;
    QPainter painter(this);
    painter.setClipRect(rect());
    picture_.draw(painter, destRect(), stretch_);
}

} // namespace pixmoor
