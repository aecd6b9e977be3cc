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
    reset();
    emit changed();
}

void ImageList::reset() {
    source_.reset();
    heldBytes_ = 0;
    images_.clear();
}

void ImageList::setDevicePixelRatio(qreal ratio) {
    ratio = std::max<qreal>(ratio, 1);
    if (qFuzzyCompare(ratio, ratio_)) return;
    ratio_ = ratio;
    reset();
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

QImage ImageList::masked(const QImage& image) const {
    QImage out = applyWhiteMask(fitted(image));
    out.setDevicePixelRatio(ratio_);
    return out;
}

int ImageList::append(const QImage& image, bool remakable) {
    return store(masked(image), remakable);
}

int ImageList::appendWithAlpha(const QImage& image) {
    QImage out = fitted(image).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    out.setDevicePixelRatio(ratio_);
    return store(std::move(out), false);
}

void ImageList::hold(Slot& slot, QImage image) {
    heldBytes_ += image.sizeInBytes();
    slot.image = std::move(image);
    slot.lastUse = ++clock_;
    slot.requested = false;
}

int ImageList::store(QImage image, bool remakable) {
    images_.emplace_back();
    images_.back().remakable = remakable;
    hold(images_.back(), std::move(image));
    const int index = count() - 1;
    if (heldBytes_ > budget_ && source_) dropOldest();
    emit appended(index);
    return index;
}

void ImageList::dropOldest() {
    // The images that may go, oldest use first, until three quarters of the budget are held:
    // one pass per quarter of the budget keeps the cost per image constant.
    std::vector<std::pair<std::uint64_t, int>> candidates;
    for (int k = 0; k < count(); ++k) {
        const Slot& slot = images_[size_t(k)];
        if (slot.remakable && !slot.image.isNull()) candidates.emplace_back(slot.lastUse, k);
    }
    std::sort(candidates.begin(), candidates.end());
    const std::int64_t target = budget_ / 4 * 3;
    for (const auto& [use, k] : candidates) {
        if (heldBytes_ <= target) break;
        Slot& slot = images_[size_t(k)];
        heldBytes_ -= slot.image.sizeInBytes();
        slot.image = QImage();
    }
}

void ImageList::setBudget(std::int64_t bytes) {
    budget_ = std::max<std::int64_t>(bytes, 0);
    if (heldBytes_ > budget_ && source_) dropOldest();
}

void ImageList::setSource(std::unique_ptr<ImageSource> source) {
    source_ = std::move(source);
    if (heldBytes_ > budget_ && source_) dropOldest();
}

void ImageList::restore(int k, const QImage& image) {
    if (k < 0 || k >= count() || !images_[size_t(k)].image.isNull()) return;
    hold(images_[size_t(k)], masked(image));
    if (heldBytes_ > budget_) dropOldest();
    emit restored(k);
}

void ImageList::clear() {
    const bool wasEmpty = images_.empty();
    reset();
    if (!wasEmpty) emit changed();
}

QImage ImageList::image(int k) {
    if (k < 0 || k >= count()) return {};
    Slot& slot = images_[size_t(k)];
    slot.lastUse = ++clock_;
    if (slot.image.isNull() && !slot.requested && source_) {
        slot.requested = true;
        source_->request(*this, k);
    }
    return slot.image;
}

} // namespace pixmoor
