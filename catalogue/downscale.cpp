// Area-averaging reduction to thumbnail size, in exact integer arithmetic.
//
// Lengths are measured in units where a source pixel is targetSize long and a target pixel
// sourceSize long, so both grids have integer edges: a target pixel's value is the sum of its
// source pixels weighted by their overlap, divided by sourceWidth x sourceHeight.
#include "catalogue/downscale.h"

#include <QPainter>

#include <algorithm>
#include <array>

namespace pixmoor {

bool AreaDownscaler::fits(int sourceWidth, int sourceHeight, QSize target) {
    return target.width() >= 1 && target.height() >= 1 && sourceWidth >= target.width() &&
           sourceHeight >= target.height();
}

std::vector<AreaDownscaler::Span> AreaDownscaler::spans(int source, int target) {
    std::vector<Span> out(static_cast<std::size_t>(target));
    const std::int64_t s = source, t = target;
    for (std::int64_t j = 0; j < t; ++j) {
        const std::int64_t begin = j * s, end = (j + 1) * s; // in units; a source pixel is t long
        Span& span = out[std::size_t(j)];
        span.first = int(begin / t);
        span.last = int((end + t - 1) / t - 1);
        span.wFirst = std::uint32_t(std::min((span.first + 1) * t, end) - begin);
        span.wLast = span.last > span.first ? std::uint32_t(end - span.last * t) : 0;
    }
    return out;
}

AreaDownscaler::AreaDownscaler(int sourceWidth, int sourceHeight, QSize target)
    : sourceWidth_(sourceWidth), sourceHeight_(sourceHeight), targetWidth_(target.width()),
      targetHeight_(target.height()), columns_(spans(sourceWidth, target.width())),
      rowSums_(std::size_t(target.width()) * 3),
      accumulator_(std::size_t(target.width()) * std::size_t(target.height()) * 3) {}

void AreaDownscaler::addRgbRow(const std::uint8_t* rgb) {
    if (sourceY_ >= sourceHeight_) return;
    const std::uint32_t unit = std::uint32_t(targetWidth_); // weight of a whole source pixel
    std::uint32_t* sums = rowSums_.data();
    for (const Span& span : columns_) {
        const std::uint8_t* p = rgb + 3 * std::size_t(span.first);
        std::uint32_t r = span.wFirst * p[0], g = span.wFirst * p[1], b = span.wFirst * p[2];
        if (span.last > span.first) {
            std::uint32_t ri = 0, gi = 0, bi = 0;
            const std::uint8_t* q = p + 3;
            const std::uint8_t* lastPixel = rgb + 3 * std::size_t(span.last);
            for (; q < lastPixel; q += 3) {
                ri += q[0];
                gi += q[1];
                bi += q[2];
            }
            r += ri * unit + span.wLast * lastPixel[0];
            g += gi * unit + span.wLast * lastPixel[1];
            b += bi * unit + span.wLast * lastPixel[2];
        }
        sums[0] = r;
        sums[1] = g;
        sums[2] = b;
        sums += 3;
    }
    addHorizontalSums();
}

void AreaDownscaler::addIndexedRow(const std::uint8_t* indices, const codec::Rgb* palette256) {
    rgbRow_.resize(std::size_t(sourceWidth_) * 3);
    std::uint8_t* out = rgbRow_.data();
    for (int x = 0; x < sourceWidth_; ++x, out += 3) {
        const codec::Rgb c = palette256[indices[x]];
        out[0] = c.r;
        out[1] = c.g;
        out[2] = c.b;
    }
    addRgbRow(rgbRow_.data());
}

void AreaDownscaler::addRgb32Row(const QRgb* pixels) {
    rgbRow_.resize(std::size_t(sourceWidth_) * 3);
    std::uint8_t* out = rgbRow_.data();
    for (int x = 0; x < sourceWidth_; ++x, out += 3) {
        out[0] = std::uint8_t(qRed(pixels[x]));
        out[1] = std::uint8_t(qGreen(pixels[x]));
        out[2] = std::uint8_t(qBlue(pixels[x]));
    }
    addRgbRow(rgbRow_.data());
}

// The current source row covers [y * th, (y + 1) * th) in units where a target row is sh long:
// it falls into one target row, or straddles two.
void AreaDownscaler::addHorizontalSums() {
    const std::int64_t th = targetHeight_, sh = sourceHeight_, y = sourceY_;
    const std::int64_t begin = y * th, end = (y + 1) * th;
    const std::int64_t row = begin / sh;
    const std::uint64_t w0 = std::uint64_t(std::min(end, (row + 1) * sh) - begin);
    const std::uint64_t w1 = std::uint64_t(th) - w0;
    const std::size_t n = rowSums_.size();
    std::uint64_t* acc = accumulator_.data() + std::size_t(row) * n;
    for (std::size_t i = 0; i < n; ++i) acc[i] += w0 * rowSums_[i];
    if (w1 != 0 && row + 1 < targetHeight_) {
        acc += n;
        for (std::size_t i = 0; i < n; ++i) acc[i] += w1 * rowSums_[i];
    }
    ++sourceY_;
}

QImage AreaDownscaler::result() const {
    QImage out(targetWidth_, targetHeight_, QImage::Format_RGB32);
    if (out.isNull()) return out;
    const std::uint64_t total = std::uint64_t(sourceWidth_) * std::uint64_t(sourceHeight_);
    const std::uint64_t half = total / 2;
    const std::uint64_t* acc = accumulator_.data();
    for (int y = 0; y < targetHeight_; ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < targetWidth_; ++x, acc += 3)
            line[x] = qRgb(int((acc[0] + half) / total), int((acc[1] + half) / total),
                           int((acc[2] + half) / total));
    }
    return out;
}

namespace {

// Formats the area filter reads directly; anything else is converted first.
QImage readableForm(const QImage& image) {
    if (image.hasAlphaChannel()) {
        QImage flat(image.size(), QImage::Format_RGB32);
        if (flat.isNull()) return flat;
        flat.fill(Qt::white);
        QPainter painter(&flat);
        painter.drawImage(0, 0, image);
        return flat;
    }
    switch (image.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_RGB888:
    case QImage::Format_Indexed8: return image;
    default: return image.convertToFormat(QImage::Format_RGB32);
    }
}

} // namespace

QImage scaleToThumbnail(const QImage& image, QSize target) {
    if (image.isNull() || target.width() < 1 || target.height() < 1) return {};
    const QImage source = readableForm(image);
    if (source.isNull()) return {};
    if (!AreaDownscaler::fits(source.width(), source.height(), target)) {
        return source.convertToFormat(QImage::Format_RGB32)
            .scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
            .convertToFormat(QImage::Format_RGB32);
    }
    AreaDownscaler scaler(source.width(), source.height(), target);
    std::array<codec::Rgb, 256> palette{};
    if (source.format() == QImage::Format_Indexed8) {
        const QList<QRgb> table = source.colorTable();
        for (qsizetype i = 0; i < table.size() && i < 256; ++i)
            palette[std::size_t(i)] = {std::uint8_t(qRed(table[i])), std::uint8_t(qGreen(table[i])),
                                       std::uint8_t(qBlue(table[i]))};
    }
    for (int y = 0; y < source.height(); ++y) {
        const uchar* line = source.constScanLine(y);
        switch (source.format()) {
        case QImage::Format_RGB888: scaler.addRgbRow(line); break;
        case QImage::Format_Indexed8: scaler.addIndexedRow(line, palette.data()); break;
        default: scaler.addRgb32Row(reinterpret_cast<const QRgb*>(line)); break;
        }
    }
    return scaler.result();
}

QImage scaleToThumbnail(const codec::Raster& raster, QSize target) {
    if (raster.empty() || target.width() < 1 || target.height() < 1) return {};
    if (raster.bits != 24 && !raster.indexed()) return {};
    if (!AreaDownscaler::fits(raster.width, raster.height, target)) {
        // Enlarging: wrap the pixels (no copy) and let Qt interpolate.
        QImage view(raster.pixels.data(), raster.width, raster.height, qsizetype(raster.stride),
                    raster.bits == 24 ? QImage::Format_RGB888 : QImage::Format_Indexed8);
        if (raster.indexed()) {
            QList<QRgb> table(256, qRgb(0, 0, 0));
            for (std::size_t i = 0; i < raster.palette.size() && i < 256; ++i)
                table[qsizetype(i)] = qRgb(raster.palette[i].r, raster.palette[i].g,
                                           raster.palette[i].b);
            view.setColorTable(table);
        }
        return scaleToThumbnail(view, target);
    }
    AreaDownscaler scaler(raster.width, raster.height, target);
    std::array<codec::Rgb, 256> palette{};
    std::copy_n(raster.palette.begin(), std::min<std::size_t>(raster.palette.size(), 256),
                palette.begin());
    for (int y = 0; y < raster.height; ++y) {
        if (raster.bits == 24)
            scaler.addRgbRow(raster.row(y));
        else
            scaler.addIndexedRow(raster.row(y), palette.data());
    }
    return scaler.result();
}

} // namespace pixmoor
