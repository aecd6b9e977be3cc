// The thumbnail image lists of the catalogue.
#include "catalogue/image_list.h"

#include <algorithm>

namespace pixmoor {

QImage applyWhiteMask(const QImage& image) {
    // Opaque pure white is 0xFFFFFFFF premultiplied or not, and no other pixel is: so the mask
    // is one pass over the premultiplied copy (which for an opaque RGB32 image is a plain copy).
    QImage out = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int w = out.width();
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < w; ++x)
            if (line[x] == 0xFFFFFFFFu) line[x] = 0;
    }
    return out;
}

ImageList::ImageList(QSize size, QObject* parent)
    : QObject(parent), size_(size.expandedTo({1, 1})) {}

void ImageList::setSize(QSize size) {
    size_ = size.expandedTo({1, 1});
    images_.clear();
    emit changed();
}

void ImageList::setDevicePixelRatio(qreal ratio) {
    ratio = std::max<qreal>(ratio, 1);
    if (qFuzzyCompare(ratio, ratio_)) return;
    ratio_ = ratio;
    images_.clear();
    emit changed();
}

QSize ImageList::deviceSize(QSize size, qreal ratio) {
    return QSize(qRound(size.width() * ratio), qRound(size.height() * ratio)).expandedTo({1, 1});
}

QSize ImageList::deviceSize() const {
    return deviceSize(size_, ratio_);
}

QImage ImageList::fitted(const QImage& image) const {
    const QSize size = deviceSize();
    if (image.isNull()) {
        QImage blank(size, QImage::Format_ARGB32_Premultiplied);
        blank.fill(Qt::transparent);
        return blank;
    }
    if (image.size() == size) return image;
    return image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

int ImageList::append(const QImage& image) {
    return store(applyWhiteMask(fitted(image)));
}

int ImageList::appendWithAlpha(const QImage& image) {
    return store(fitted(image).convertToFormat(QImage::Format_ARGB32_Premultiplied));
}

int ImageList::store(QImage image) {
    image.setDevicePixelRatio(ratio_);
    images_.push_back(std::move(image));
    const int index = count() - 1;
    emit appended(index);
    return index;
}

void ImageList::clear() {
    if (images_.empty()) return;
    images_.clear();
    emit changed();
}

QImage ImageList::image(int k) const {
    if (k < 0 || k >= count()) return {};
    return images_[size_t(k)];
}

} // namespace pixmoor
