// Raster <-> QImage: zero-copy wrapping of decoded rasters, and rasters for the writers.
#include "imaging/raster_image.h"

#include "imaging/codec/dib.h"

#include <QPainter>
#include <cstring>
#include <memory>
#include <new>

namespace pixmoor {

namespace {

void freeRaster(void* info) {
    delete static_cast<codec::Raster*>(info);
}

int bitsForColourCount(int count) {
    if (count <= 2) return 1;
    if (count <= 16) return 4;
    return 8;
}

// A raster of the given shape with the codec's own stride rule (rows on 4-byte boundaries).
codec::Raster allocate(int width, int height, int bits) {
    codec::Raster raster;
    raster.width = width;
    raster.height = height;
    raster.bits = bits;
    const std::size_t bytesPerPixel = bits == 24 ? 3 : 1;
    raster.stride = (std::size_t(width) * bytesPerPixel + 3) & ~std::size_t(3);
    raster.pixels.resize(raster.stride * std::size_t(height));
    return raster;
}

} // namespace

QImage rasterToImage(codec::Raster&& raster) {
    if (raster.empty()) {
        raster = codec::Raster{};
        return {};
    }
    auto holder = std::make_unique<codec::Raster>(std::move(raster));
    raster = codec::Raster{};
    const bool indexed = holder->indexed();
    QImage image(holder->pixels.data(), holder->width, holder->height, qsizetype(holder->stride),
                 indexed ? QImage::Format_Indexed8 : QImage::Format_RGB888, freeRaster,
                 holder.get());
    if (image.isNull()) return {};           // holder still owned here and freed on return
    codec::Raster* owned = holder.release(); // now owned by the image's cleanup function
    if (indexed) {
        QList<QRgb> table;
        table.reserve(qsizetype(owned->palette.size()));
        for (const codec::Rgb& c : owned->palette) table.push_back(qRgb(c.r, c.g, c.b));
        // Indices are below the palette's size; an empty palette would leave pixels undefined.
        if (table.isEmpty()) table.push_back(qRgb(0, 0, 0));
        image.setColorTable(table);
    }
    return image;
}

QImage bmpDataToImage(const QByteArray& data, int& result, QSize* size) {
    codec::Raster raster;
    codec::DibHeader header;
    result = codec::readBmpData(reinterpret_cast<const std::uint8_t*>(data.constData()),
                                std::size_t(data.size()), raster, &header);
    if (size) *size = QSize(int(header.width), int(header.height));
    return rasterToImage(std::move(raster));
}

codec::Raster imageToRaster(const QImage& source) {
    if (source.isNull()) return {};
    QImage image = source;
    if (image.format() == QImage::Format_Mono || image.format() == QImage::Format_MonoLSB)
        image = image.convertToFormat(QImage::Format_Indexed8);

    if (image.format() == QImage::Format_Indexed8) {
        const QList<QRgb> table = image.colorTable();
        bool opaque = true;
        for (QRgb c : table) opaque = opaque && qAlpha(c) == 255;
        if (opaque && !table.isEmpty()) {
            codec::Raster raster =
                allocate(image.width(), image.height(), bitsForColourCount(int(table.size())));
            raster.palette.reserve(std::size_t(table.size()));
            for (QRgb c : table)
                raster.palette.push_back(
                    {std::uint8_t(qRed(c)), std::uint8_t(qGreen(c)), std::uint8_t(qBlue(c))});
            const std::uint8_t last = std::uint8_t(table.size() - 1);
            for (int y = 0; y < image.height(); ++y) {
                const uchar* in = image.constScanLine(y);
                std::uint8_t* out = raster.row(y);
                for (int x = 0; x < image.width(); ++x) out[x] = in[x] <= last ? in[x] : last;
            }
            return raster;
        }
    }

    if (image.hasAlphaChannel()) {
        QImage flat(image.size(), QImage::Format_RGB888);
        if (flat.isNull()) throw std::bad_alloc();
        flat.fill(Qt::white);
        QPainter painter(&flat);
        painter.drawImage(0, 0, image);
        painter.end();
        image = flat;
    } else if (image.format() != QImage::Format_RGB888) {
        image = image.convertToFormat(QImage::Format_RGB888);
    }
    if (image.isNull()) throw std::bad_alloc();
    codec::Raster raster = allocate(image.width(), image.height(), 24);
    const std::size_t rowBytes = std::size_t(image.width()) * 3;
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(raster.row(y), image.constScanLine(y), rowBytes);
    return raster;
}

} // namespace pixmoor
