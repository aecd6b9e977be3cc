// DIBs for the metafile player and the icon reader: the codec's decoder into a QImage.
#include "imaging/wmf/dib.h"

#include "imaging/codec/dib.h"
#include "imaging/codec/errors.h"

#include <algorithm>
#include <vector>

namespace pixmoor::wmf {
namespace {

// Keeps the decoded rows as RGB32, or ARGB32 when the rows carry alpha that the caller keeps.
class ImageSink final : public codec::RowSink {
public:
    explicit ImageSink(bool keepAlpha) : keepAlpha_(keepAlpha) {}

    bool begin(const codec::RowLayout& layout) override {
        palette_.clear();
        if (layout.palette)
            for (int i = 0; i < layout.paletteSize; ++i)
                palette_.push_back(qRgb(layout.palette[i].r, layout.palette[i].g,
                                        layout.palette[i].b));
        palette_.resize(256, qRgb(0, 0, 0)); // indices past the table are black
        indexed_ = layout.palette != nullptr;
        rgba_ = layout.bits == 32;
        image_ = QImage(layout.width, layout.height,
                        rgba_ && keepAlpha_ ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        outOfMemory_ = image_.isNull();
        return !outOfMemory_;
    }

    bool row(const std::uint8_t* pixels) override {
        if (y_ >= image_.height()) return false;
        QRgb* line = reinterpret_cast<QRgb*>(image_.scanLine(y_++));
        const int w = image_.width();
        if (indexed_) {
            for (int x = 0; x < w; ++x) line[x] = palette_[pixels[x]];
        } else if (rgba_) {
            // Alpha the caller does not keep is dropped, as GDI's blts do.
            for (int x = 0; x < w; ++x, pixels += 4)
                line[x] = qRgba(pixels[0], pixels[1], pixels[2], keepAlpha_ ? pixels[3] : 255);
        } else {
            for (int x = 0; x < w; ++x, pixels += 3) line[x] = qRgb(pixels[0], pixels[1], pixels[2]);
        }
        return true;
    }

    bool outOfMemory() const { return outOfMemory_; }
    QImage take() { return std::move(image_); }

private:
    const bool keepAlpha_;
    std::vector<QRgb> palette_;
    bool indexed_ = false, rgba_ = false, outOfMemory_ = false;
    QImage image_;
    int y_ = 0;
};

QString faultText(const codec::DibHeader& h) {
    using codec::DibFault;
    switch (h.fault) {
    case DibFault::HeaderTruncated:
        return QStringLiteral("bitmap header is truncated");
    case DibFault::HeaderSize:
        return QStringLiteral("unknown bitmap header size %1").arg(h.headerSize);
    case DibFault::NoPixels:
        return QStringLiteral("bitmap has no pixels (%1 x %2)").arg(h.width).arg(h.height);
    case DibFault::TooLarge:
        return QStringLiteral("bitmap of %1 x %2 pixels is too large").arg(h.width).arg(h.height);
    case DibFault::OverBudget:
        return QStringLiteral("too many bitmap pixels in one picture");
    case DibFault::Depth:
        return QStringLiteral("unsupported bitmap depth of %1 bits").arg(h.bitCount);
    case DibFault::Compression:
        return QStringLiteral("unsupported bitmap compression %1").arg(h.compression);
    case DibFault::InvalidRle:
        return QStringLiteral("invalid run-length compressed bitmap");
    case DibFault::MasksNeedDepth:
        return QStringLiteral("bit fields need 16 or 32 bits per pixel");
    case DibFault::MasksTruncated:
        return QStringLiteral("bitmap colour masks are truncated");
    case DibFault::ColourCount:
        return QStringLiteral("bitmap colour count %1 does not fit its data")
            .arg(h.declaredColours);
    case DibFault::ColourTableTruncated:
        return QStringLiteral("bitmap colour table is truncated");
    case DibFault::RleTruncated:
        return QStringLiteral("run-length compressed bitmap is truncated");
    case DibFault::PixelsTruncated:
    case DibFault::PixelOffset:
        return QStringLiteral("bitmap pixel data is truncated");
    case DibFault::OutOfMemory:
    case DibFault::None:
        break;
    }
    return QStringLiteral("not enough memory for a %1 x %2 bitmap").arg(h.width).arg(h.height);
}

} // namespace

DibResult decodeDib(const std::uint8_t* data, std::size_t size, const DibOptions& options) {
    std::vector<codec::Rgb> colours;
    codec::DibOptions decode;
    decode.rowsOverride = options.rowsOverride;
    // Alpha is always asked for, so that a metafile's bitmaps can drop it rather than have it
    // composited.
    decode.keepAlpha = true;
    decode.paletteIndexes = options.paletteIndexes;
    if (options.paletteIndexes && options.palette) {
        for (const QRgb c : *options.palette)
            colours.push_back({std::uint8_t(qRed(c)), std::uint8_t(qGreen(c)),
                               std::uint8_t(qBlue(c))});
        decode.indexedColours = colours.data();
        decode.indexedColourCount = colours.size();
    }
    decode.maxSide = options.maxSide > 0 ? std::min(options.maxSide, limits::kMaxDibSide)
                                          : limits::kMaxDibSide;
    decode.maxPixels = limits::kMaxDibPixels;
    decode.pixelBudget = options.pixelBudget;

    ImageSink sink(options.keepAlpha);
    codec::DibHeader header;
    const int rc = codec::decodeDib(data, size, decode, sink, &header);
    DibResult result;
    if (rc != codec::Ok) {
        if (rc == codec::Stopped && sink.outOfMemory()) header.fault = codec::DibFault::OutOfMemory;
        result.error = faultText(header);
        return result;
    }
    result.image = sink.take();
    result.bitsEnd = header.bitsEnd;
    result.bitCount = header.bitCount;
    result.topDown = header.topDown;
    result.hasAlphaBytes = header.hasAlpha;
    return result;
}

} // namespace pixmoor::wmf
