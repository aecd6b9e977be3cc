// Area-averaging reduction to thumbnail size, in exact integer arithmetic.
//
// Lengths are measured in units where a source pixel is targetSize long and a target pixel
// sourceSize long, so both grids have integer edges: a target pixel's value is the sum of its
// source pixels weighted by their overlap, divided by sourceWidth x sourceHeight.
#include "catalogue/downscale.h"

#include "imaging/codec/decode.h"

#include <QPainter>

#include <algorithm>
#include <array>
#include <cstring>

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

namespace {

// Rows of whole weight summed in 16 bits before they are folded into the band: 257 x 255 is
// the largest sum that fits.
constexpr int kWholeRowsMax = 65535 / 255;

} // namespace

AreaDownscaler::AreaDownscaler(int sourceWidth, int sourceHeight, QSize target, bool bgr)
    : sourceWidth_(sourceWidth), sourceHeight_(sourceHeight), targetWidth_(target.width()),
      targetHeight_(target.height()), bgr_(bgr), columns_(spans(sourceWidth, target.width())),
      band_(std::size_t(sourceWidth) * 3, 0), whole_(std::size_t(sourceWidth) * 3, 0),
      pixels_(std::size_t(target.width()) * std::size_t(target.height()), qRgb(0, 0, 0)) {}

void AreaDownscaler::accumulate(const std::uint8_t* rgb, std::uint32_t weight) {
    std::uint32_t* band = band_.data();
    const std::size_t n = band_.size();
    for (std::size_t i = 0; i < n; ++i) band[i] += weight * rgb[i];
}

void AreaDownscaler::addWhole(const std::uint8_t* rgb) {
    std::uint16_t* sums = whole_.data();
    const std::size_t n = whole_.size();
    for (std::size_t i = 0; i < n; ++i) sums[i] = std::uint16_t(sums[i] + rgb[i]);
    if (++wholeRows_ == kWholeRowsMax) foldWholeRows();
}

void AreaDownscaler::foldWholeRows() {
    if (wholeRows_ == 0) return;
    std::uint32_t* band = band_.data();
    std::uint16_t* sums = whole_.data();
    const std::uint32_t weight = std::uint32_t(targetHeight_);
    const std::size_t n = band_.size();
    for (std::size_t i = 0; i < n; ++i) band[i] += weight * sums[i];
    std::fill(whole_.begin(), whole_.end(), std::uint16_t(0));
    wholeRows_ = 0;
}

void AreaDownscaler::finishBand(int row) {
    foldWholeRows();
    if (row < targetHeight_) {
        const std::uint64_t total = std::uint64_t(sourceWidth_) * std::uint64_t(sourceHeight_);
        const std::uint64_t half = total / 2;
        const std::uint64_t unit = std::uint64_t(targetWidth_); // weight of a whole source pixel
        QRgb* out = pixels_.data() + std::size_t(row) * std::size_t(targetWidth_);
        const std::uint32_t* band = band_.data();
        for (const Span& span : columns_) {
            const std::uint32_t* p = band + 3 * std::size_t(span.first);
            std::uint64_t r = std::uint64_t(span.wFirst) * p[0];
            std::uint64_t g = std::uint64_t(span.wFirst) * p[1];
            std::uint64_t b = std::uint64_t(span.wFirst) * p[2];
            if (span.last > span.first) {
                std::uint64_t ri = 0, gi = 0, bi = 0;
                const std::uint32_t* lastPixel = band + 3 * std::size_t(span.last);
                for (const std::uint32_t* q = p + 3; q < lastPixel; q += 3) {
                    ri += q[0];
                    gi += q[1];
                    bi += q[2];
                }
                r += ri * unit + std::uint64_t(span.wLast) * lastPixel[0];
                g += gi * unit + std::uint64_t(span.wLast) * lastPixel[1];
                b += bi * unit + std::uint64_t(span.wLast) * lastPixel[2];
            }
            if (bgr_) std::swap(r, b);
            *out++ =
                qRgb(int((r + half) / total), int((g + half) / total), int((b + half) / total));
        }
    }
    std::fill(band_.begin(), band_.end(), 0u);
}

// The current source row covers [y * th, (y + 1) * th) in units where a target row is sh long:
// it lies inside one target row, or straddles the edge between two.
void AreaDownscaler::addRgbRow(const std::uint8_t* rgb) {
    if (sourceY_ >= sourceHeight_) return;
    const std::int64_t th = targetHeight_, sh = sourceHeight_, y = sourceY_;
    const std::int64_t begin = y * th, end = begin + th;
    const int row = int(begin / sh);
    const std::int64_t edge = (row + 1) * sh;
    if (end <= edge) {
        addWhole(rgb);
        if (end == edge) finishBand(row);
    } else {
        accumulate(rgb, std::uint32_t(edge - begin));
        finishBand(row);
        accumulate(rgb, std::uint32_t(end - edge));
    }
    ++sourceY_;
}

void AreaDownscaler::addIndexedRow(const std::uint8_t* indices, const codec::Rgb* palette256) {
    rgbRow_.resize(std::size_t(sourceWidth_) * 3);
    std::uint8_t* out = rgbRow_.data();
    for (int x = 0; x < sourceWidth_; ++x, out += 3) {
        const codec::Rgb c = palette256[indices[x]];
        out[0] = bgr_ ? c.b : c.r;
        out[1] = c.g;
        out[2] = bgr_ ? c.r : c.b;
    }
    addRgbRow(rgbRow_.data());
}

void AreaDownscaler::addRgb32Row(const QRgb* pixels) {
    rgbRow_.resize(std::size_t(sourceWidth_) * 3);
    std::uint8_t* out = rgbRow_.data();
    for (int x = 0; x < sourceWidth_; ++x, out += 3) {
        out[0] = std::uint8_t(bgr_ ? qBlue(pixels[x]) : qRed(pixels[x]));
        out[1] = std::uint8_t(qGreen(pixels[x]));
        out[2] = std::uint8_t(bgr_ ? qRed(pixels[x]) : qBlue(pixels[x]));
    }
    addRgbRow(rgbRow_.data());
}

QImage AreaDownscaler::result() const {
    QImage out(targetWidth_, targetHeight_, QImage::Format_RGB32);
    if (out.isNull()) return out;
    for (int y = 0; y < targetHeight_; ++y)
        std::copy_n(pixels_.data() + std::size_t(y) * std::size_t(targetWidth_), targetWidth_,
                    reinterpret_cast<QRgb*>(out.scanLine(y)));
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
    case QImage::Format_Indexed8:
        return image;
    default:
        return image.convertToFormat(QImage::Format_RGB32);
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
        case QImage::Format_RGB888:
            scaler.addRgbRow(line);
            break;
        case QImage::Format_Indexed8:
            scaler.addIndexedRow(line, palette.data());
            break;
        default:
            scaler.addRgb32Row(reinterpret_cast<const QRgb*>(line));
            break;
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
                table[qsizetype(i)] =
                    qRgb(raster.palette[i].r, raster.palette[i].g, raster.palette[i].b);
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

QImage uprightImage(const QImage& image, int orientation) {
    if (image.isNull() || orientation <= 1 || orientation > 8) return image;
    QImage source = image;
    if (source.format() != QImage::Format_RGB32 && source.format() != QImage::Format_RGB888 &&
        source.format() != QImage::Format_Indexed8)
        source = source.convertToFormat(QImage::Format_RGB32);
    if (source.isNull()) return {};
    const int w = source.width(), h = source.height();
    const bool swapped = orientation >= 5;
    QImage out(swapped ? h : w, swapped ? w : h, source.format());
    if (out.isNull()) return out;
    if (source.format() == QImage::Format_Indexed8) out.setColorTable(source.colorTable());
    const std::size_t px = std::size_t(source.depth() / 8);
    for (int y = 0; y < out.height(); ++y) {
        uchar* dst = out.scanLine(y);
        for (int x = 0; x < out.width(); ++x) {
            const auto [sx, sy] = codec::storedPixel(orientation, x, y, w, h);
            std::memcpy(dst + std::size_t(x) * px, source.constScanLine(sy) + std::size_t(sx) * px,
                        px);
        }
    }
    return out;
}

} // namespace pixmoor
