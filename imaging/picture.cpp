// The picture: holds an empty picture, a bitmap, an icon or a metafile, loads them by file
// extension, and draws each the way the picture control shows it.
#include "imaging/picture.h"
#include "imaging/codec/errors.h"
#include "imaging/image_file.h"
#include "imaging/raster_image.h"
#include "imaging/wmf/metafile.h"

#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QPainter>

namespace pixmoor {

Picture::Picture() = default;
Picture::~Picture() = default;

Picture::Picture(const Picture& other)
    : kind_(other.kind_), bitmap_(other.bitmap_),
      icon_(other.icon_ ? std::make_unique<pixmoor::Icon>(*other.icon_) : nullptr),
      metafile_(other.metafile_) {}

Picture& Picture::operator=(const Picture& other) {
    if (this != &other) {
        Picture copy(other);
        *this = std::move(copy);
    }
    return *this;
}

Picture::Picture(Picture&& other) noexcept
    : kind_(other.kind_), bitmap_(std::move(other.bitmap_)), icon_(std::move(other.icon_)),
      metafile_(std::move(other.metafile_)) {
    other.kind_ = Kind::Empty;
}

Picture& Picture::operator=(Picture&& other) noexcept {
    if (this != &other) {
        kind_ = other.kind_;
        bitmap_ = std::move(other.bitmap_);
        icon_ = std::move(other.icon_);
        metafile_ = std::move(other.metafile_);
        other.kind_ = Kind::Empty;
        other.bitmap_ = QImage();
    }
    return *this;
}

void Picture::clear() {
    kind_ = Kind::Empty;
    bitmap_ = QImage();
    icon_.reset();
    metafile_.reset();
}

void Picture::setBitmap(const QImage& image) {
    clear();
    if (image.isNull()) return;
    bitmap_ = image; // QImage keeps an indexed image's colour table
    kind_ = Kind::Bitmap;
}

void Picture::setIcon(const pixmoor::Icon& icon) {
    clear();
    icon_ = std::make_unique<pixmoor::Icon>(icon);
    kind_ = Kind::Icon;
}

void Picture::setMetafile(std::shared_ptr<const wmf::Metafile> metafile) {
    clear();
    if (!metafile) return;
    metafile_ = std::move(metafile);
    kind_ = Kind::Metafile;
}

const pixmoor::Icon* Picture::icon() const {
    return icon_.get();
}

namespace {

// The codec's BMP reader at the file's own depth.
QImage readBitmap(const QString& path) {
    QFile file;
    QString error;
    if (!openImageFile(file, path, error))
        throw PictureError(
            QStringLiteral("Cannot read bitmap %1: %2").arg(path, error).toStdString());
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw PictureError(QStringLiteral("Cannot read bitmap %1: %2")
                               .arg(path, file.errorString())
                               .toStdString());
    int result = codec::Ok;
    QSize size;
    QImage image = bmpDataToImage(data, result, &size);
    if (result == codec::TooLarge)
        throw PictureError(QStringLiteral("Bitmap %1 is too large (%2 x %3)")
                               .arg(path)
                               .arg(size.width())
                               .arg(size.height())
                               .toStdString());
    if (image.isNull())
        throw PictureError(QStringLiteral("Cannot read bitmap %1: %2")
                               .arg(path, QString::fromUtf8(codec::errorText(result)))
                               .toStdString());
    return image;
}

} // namespace

void Picture::loadFromFile(const QString& path) {
    clear();
    const QString fileName = QFileInfo(path).fileName();
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot >= 0 ? fileName.mid(dot) : QString();
    const QString lower = extension.toLower();
    if (lower == QLatin1String(".wmf")) {
        try {
            setMetafile(wmf::Metafile::fromFile(path));
        } catch (const wmf::MetafileError& e) {
            throw PictureError(e.what());
        }
    } else if (lower == QLatin1String(".ico")) {
        setIcon(pixmoor::Icon::fromFile(path));
    } else if (lower == QLatin1String(".bmp")) {
        setBitmap(readBitmap(path));
    } else {
        throw PictureError(
            QStringLiteral("Unknown picture file extension (%1)").arg(extension).toStdString());
    }
}

int Picture::width() const {
    switch (kind_) {
    case Kind::Bitmap:
        return bitmap_.width();
    case Kind::Icon:
        return pixmoor::Icon::kSystemSize;
    case Kind::Metafile:
        return metafile_->size().width();
    case Kind::Empty:
        break;
    }
    return 0;
}

int Picture::height() const {
    switch (kind_) {
    case Kind::Bitmap:
        return bitmap_.height();
    case Kind::Icon:
        return pixmoor::Icon::kSystemSize;
    case Kind::Metafile:
        return metafile_->size().height();
    case Kind::Empty:
        break;
    }
    return 0;
}

std::unique_ptr<QMimeData> Picture::toMimeData() const {
    switch (kind_) {
    case Kind::Empty:
        return nullptr;
    case Kind::Icon:
        throw std::runtime_error("Clipboard does not support Icons");
    case Kind::Bitmap: {
        auto data = std::make_unique<QMimeData>();
        data->setImageData(bitmap_);
        return data;
    }
    case Kind::Metafile: {
        auto data = std::make_unique<QMimeData>();
        data->setData(QString::fromLatin1(kMetafileMimeType), metafile_->bytes());
        data->setImageData(toImage());
        return data;
    }
    }
    return nullptr;
}

void Picture::draw(QPainter& painter, const QRect& target, bool smooth) const {
    if (target.isEmpty()) return;
    switch (kind_) {
    case Kind::Empty:
        return;
    case Kind::Bitmap:
        painter.save();
        painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
        painter.drawImage(target, bitmap_);
        painter.restore();
        return;
    case Kind::Icon: {
        // The system icon size at the top-left corner, never stretched to the target.
        constexpr int s = pixmoor::Icon::kSystemSize;
        painter.save();
        painter.setClipRect(target, painter.hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        painter.drawImage(QRect(target.topLeft(), QSize(s, s)), icon_->image());
        painter.restore();
        return;
    }
    case Kind::Metafile:
        wmf::drawMetafile(painter, *metafile_, QRectF(target));
        return;
    }
}

QImage Picture::toImage() const {
    switch (kind_) {
    case Kind::Empty:
        return {};
    case Kind::Bitmap:
        return bitmap_;
    case Kind::Icon:
        return icon_->scaled(pixmoor::Icon::kSystemSize, pixmoor::Icon::kSystemSize);
    case Kind::Metafile:
        return wmf::renderMetafile(*metafile_);
    }
    return {};
}

} // namespace pixmoor
