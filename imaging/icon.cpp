// The icon object: reads .ico files (1, 4, 8, 24 and 32-bit entries with their AND masks, and
// PNG-compressed entries) and keeps the entry closest to the system icon size.
#include "imaging/codec/limits.h"
#include "imaging/image_file.h"
#include "imaging/picture.h"
#include "imaging/png_image.h"
#include "imaging/wmf/dib.h"

#include <QFile>
#include <algorithm>
#include <cstdlib>
#include <vector>

namespace pixmoor {
namespace {

std::uint16_t u16(const char* p) {
    return std::uint16_t(std::uint8_t(p[0]) | std::uint8_t(p[1]) << 8);
}
std::uint32_t u32(const char* p) {
    return u16(p) | std::uint32_t(u16(p + 2)) << 16;
}

struct Entry {
    int width = 0, height = 0, bitCount = 0;
    std::uint32_t size = 0, offset = 0;
};

// One entry's image as premultiplied ARGB, or a null image with the reason in error.
QImage decodeEntry(const QByteArray& data, const Entry& e, QString& error) {
    const char* d = data.constData() + e.offset;
    if (e.size >= 8 && QByteArray(d, 8) == QByteArray("\x89PNG\r\n\x1a\n", 8)) {
        // The codec's PNG reader, keeping the alpha; text chunks are skipped unread.
        PngImageOptions options;
        options.keepAlpha = true;
        options.maxPixels = limits::kMaxDibPixels;
        QImage png = decodePngImage(QByteArray::fromRawData(d, qsizetype(e.size)), options);
        if (png.isNull()) error = QStringLiteral("damaged PNG image");
        return png.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    if (e.size < 40 || u32(d) != 40) {
        error = QStringLiteral("unknown image format");
        return {};
    }
    // The header's height counts the colour rows and the AND mask rows.
    const std::int32_t doubled = std::int32_t(u32(d + 8));
    const int rows = doubled > 0 ? doubled / 2 : 0;
    if (rows <= 0) {
        error = QStringLiteral("invalid image height");
        return {};
    }
    wmf::DibOptions options;
    options.rowsOverride = rows;
    options.keepAlpha = true;
    options.maxSide = limits::kMaxIconBitmapSide;
    wmf::DibResult dib = wmf::decodeDib(reinterpret_cast<const std::uint8_t*>(d), e.size, options);
    if (dib.image.isNull()) {
        error = dib.error;
        return {};
    }
    QImage image = dib.image.convertToFormat(QImage::Format_ARGB32);
    const int w = image.width(), h = image.height();
    // The AND mask: one bit a pixel, rows padded to 32 bits, bottom row first; a set bit is
    // transparent. 32-bit entries with an alpha channel carry their transparency in it.
    const std::size_t maskStride = ((std::size_t(w) + 31) / 32) * 4;
    const std::size_t maskBytes = maskStride * std::size_t(h);
    const bool useAlpha = dib.bitCount == 32 && dib.hasAlphaBytes;
    if (!useAlpha && dib.bitsEnd + maskBytes <= e.size) {
        const std::uint8_t* mask = reinterpret_cast<const std::uint8_t*>(d) + dib.bitsEnd;
        for (int y = 0; y < h; ++y) {
            const std::uint8_t* row = mask + std::size_t(h - 1 - y) * maskStride;
            QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < w; ++x)
                if ((row[x / 8] >> (7 - x % 8)) & 1) line[x] = 0;
        }
    }
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

Icon Icon::fromFile(const QString& path, int preferredSize) {
    QFile file;
    QString error;
    if (!openImageFile(file, path, error))
        throw PictureError(
            QStringLiteral("Cannot open icon %1: %2").arg(path, error).toStdString());
    if (file.size() > limits::kMaxIconFileBytes)
        throw PictureError(QStringLiteral("Icon file %1 is too large").arg(path).toStdString());
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw PictureError(
            QStringLiteral("Cannot read icon %1: %2").arg(path, file.errorString()).toStdString());
    try {
        return fromData(data, preferredSize);
    } catch (const PictureError& e) {
        throw PictureError(
            QStringLiteral("%1: %2").arg(path, QString::fromStdString(e.what())).toStdString());
    }
}

Icon Icon::fromData(const QByteArray& data, int preferredSize) {
    // ICONDIR: reserved (0), type (1 icon, 2 cursor), count; then 16-byte entries.
    const char* d = data.constData();
    const std::size_t n = std::size_t(data.size());
    if (n < 6 || u16(d) != 0 || (u16(d + 2) != 1 && u16(d + 2) != 2))
        throw PictureError("Not an icon file");
    const int count = u16(d + 4);
    if (count == 0) throw PictureError("Icon file holds no images");
    if (6 + std::size_t(count) * 16 > n) throw PictureError("Icon directory is truncated");
    std::vector<Entry> entries;
    for (int i = 0; i < count; ++i) {
        const char* e = d + 6 + i * 16;
        Entry entry;
        entry.width = std::uint8_t(e[0]) ? std::uint8_t(e[0]) : 256;
        entry.height = std::uint8_t(e[1]) ? std::uint8_t(e[1]) : 256;
        entry.bitCount = u16(e + 6);
        entry.size = u32(e + 8);
        entry.offset = u32(e + 12);
        if (entry.size == 0 || entry.offset > n || entry.size > n - entry.offset)
            continue; // an entry outside the file
        entries.push_back(entry);
    }
    if (entries.empty())
        throw PictureError("Icon file is truncated: its images lie beyond its end");
    // Order by closeness to the preferred size (32 x 32 unless asked), then by the larger size
    // and the deeper colour; the first entry that decodes wins.
    auto distance = [preferredSize](const Entry& e) {
        return std::abs(e.width - preferredSize) + std::abs(e.height - preferredSize);
    };
    std::stable_sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
        if (distance(a) != distance(b)) return distance(a) < distance(b);
        if (a.width != b.width) return a.width > b.width;
        return a.bitCount > b.bitCount;
    });
    QString firstError;
    std::vector<const Entry*> tried;
    for (const Entry& entry : entries) {
        if (tried.size() >= std::size_t(limits::kMaxIconEntriesTried)) break;
        // The same image listed twice fails the same way twice.
        if (std::any_of(tried.begin(), tried.end(), [&](const Entry* t) {
                return t->offset == entry.offset && t->size == entry.size;
            }))
            continue;
        tried.push_back(&entry);
        QString error;
        QImage image = decodeEntry(data, entry, error);
        if (!image.isNull()) {
            Icon icon;
            icon.image_ = std::move(image);
            return icon;
        }
        if (firstError.isEmpty()) firstError = error;
    }
    throw PictureError(QStringLiteral("Damaged icon image (%1)").arg(firstError).toStdString());
}

QImage Icon::scaled(int width, int height) const {
    if (image_.isNull() || width <= 0 || height <= 0) return {};
    if (image_.size() == QSize(width, height)) return image_;
    return image_.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace pixmoor
