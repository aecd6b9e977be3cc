// ImageList: the thumbnails of one view of the catalogue, all of one fixed size, with white as
// the mask colour (pure white pixels are shown transparent). The size is in logical pixels, as
// the view lays its cells out; the images are held at the device pixels of that size on the
// view's screen (70 x 70 at a device pixel ratio of 2 is a 140 x 140 image), so a view on a
// high-density screen draws them without enlarging.
#pragma once

#include <QImage>
#include <QObject>
#include <QSize>
#include <vector>

namespace pixmoor {

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
    // the new image's index.
    int append(const QImage& image);
    // Appends image scaled to the device size keeping its own transparency (icons).
    int appendWithAlpha(const QImage& image);

    void clear();
    int count() const { return int(images_.size()); }
    // Image k, or a null image when k is out of range.
    QImage image(int k) const;

signals:
    // The list was emptied, resized or had an image appended at index.
    void changed();
    void appended(int index);

private:
    QImage fitted(const QImage& image) const;
    int store(QImage image);

    QSize size_;
    qreal ratio_ = 1;
    std::vector<QImage> images_;
};

// The white-mask rule on its own: a premultiplied ARGB copy of image with every opaque pure white
// pixel made fully transparent.
QImage applyWhiteMask(const QImage& image);

} // namespace pixmoor
