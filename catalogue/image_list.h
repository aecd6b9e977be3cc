// ImageList: the thumbnails of one view of the catalogue, all of one fixed size, with white as
// the mask colour (pure white pixels are shown transparent).
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

    // Appends image, scaled to the list's size when it differs, with every pure white pixel
    // (0xFFFFFF, opaque) made transparent. Returns the new image's index.
    int append(const QImage& image);
    // Appends image scaled to the list's size keeping its own transparency (icons).
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

    QSize size_;
    std::vector<QImage> images_;
};

// The white-mask rule on its own: a premultiplied ARGB copy of image with every opaque pure white
// pixel made fully transparent.
QImage applyWhiteMask(const QImage& image);

} // namespace pixmoor
