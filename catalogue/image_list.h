// ImageList: the thumbnails of one view of the catalogue, all of one fixed size, with white as
// the mask colour (pure white pixels are shown transparent). The size is in logical pixels, as
// the view lays its cells out; the images are held at the device pixels of that size on the
// view's screen (70 x 70 at a device pixel ratio of 2 is a 140 x 140 image), so a view on a
// high-density screen draws them without enlarging.
#pragma once

#include <QImage>
#include <QObject>
#include <QSize>
#include <cstdint>
#include <memory>
#include <vector>

namespace pixmoor {

class ImageList;

// What makes a list's images again after the list has dropped them.
class ImageSource {
public:
    virtual ~ImageSource() = default;
    // Asks for image k again. The answer comes later, on the list's thread, as list.restore(k,
    // ...); a source destroyed first never answers.
    virtual void request(ImageList& list, int k) = 0;
};

class ImageList : public QObject {
    Q_OBJECT
public:
    explicit ImageList(QSize size, QObject* parent = nullptr);

    QSize imageSize() const { return size_; }
    int width() const { return size_.width(); }
    int height() const { return size_.height(); }

    // Sets the image size; the list is emptied, as its images no longer fit. Sizes below 1 x 1
    // are raised to 1 x 1.
    void setSize(QSize size);

    // The device pixel ratio the images are made for (1 unless set). A new ratio empties the
    // list, as its images no longer fit. Ratios below 1 are taken as 1.
    qreal devicePixelRatio() const { return ratio_; }
    void setDevicePixelRatio(qreal ratio);
    // The images' size in device pixels: the size times the ratio, rounded, at least 1 x 1.
    QSize deviceSize() const;
    static QSize deviceSize(QSize size, qreal ratio);

    // Appends image, scaled to the device size when it differs, with every pure white pixel
    // (0xFFFFFF, opaque) made transparent; the stored image carries the list's ratio. Returns
    // the new image's index. A remakable image may be dropped while it is out of use, when the
    // list holds more than its budget, and is asked of the source again when it is next used.
    int append(const QImage& image, bool remakable = false);
    // Appends image scaled to the device size keeping its own transparency (icons).
    int appendWithAlpha(const QImage& image);

    // Empties the list and forgets its source.
    void clear();
    int count() const { return int(images_.size()); }
    // Image k, or a null image when k is out of range or dropped. Each call counts as a use:
    // the least recently used images are dropped first, and a dropped image is asked of the
    // source (once, until it is back).
    QImage image(int k);

    // Memory budget, in bytes of pixels held: above it, remakable images out of use are dropped
    // down to three quarters of it. A large folder then holds about what the view shows.
    static constexpr std::int64_t kDefaultBudget = 192ll << 20;
    void setBudget(std::int64_t bytes);
    std::int64_t heldBytes() const { return heldBytes_; }
    // The source that makes dropped images again (none: nothing is dropped).
    void setSource(std::unique_ptr<ImageSource> source);
    // Puts back image k made again by the source (fitted and masked as append does); ignored
    // when k is out of range or the image is held.
    void restore(int k, const QImage& image);

signals:
    // The list was emptied, resized or had an image appended at index.
    void changed();
    void appended(int index);
    // A dropped image is back.
    void restored(int index);

private:
    struct Slot {
        QImage image;
        std::uint64_t lastUse = 0;
        bool remakable = false;
        bool requested = false; // dropped and asked of the source
    };
    QImage fitted(const QImage& image) const;
    QImage masked(const QImage& image) const;
    int store(QImage image, bool remakable);
    void hold(Slot& slot, QImage image);
    void dropOldest();
    void reset(); // empty, no source

    QSize size_;
    qreal ratio_ = 1;
    std::vector<Slot> images_;
    std::int64_t budget_ = kDefaultBudget;
    std::int64_t heldBytes_ = 0;
    std::uint64_t clock_ = 0;
    std::unique_ptr<ImageSource> source_;
};

// The white-mask rule on its own: a premultiplied ARGB copy of image with every opaque pure white
// pixel made fully transparent.
QImage applyWhiteMask(const QImage& image);

} // namespace pixmoor
