// PNG data in memory decoded into a QImage by the codec (see png_image.h).
#include "imaging/png_image.h"

#include "imaging/codec/decode.h"
#include "imaging/codec/errors.h"

#include <array>
#include <cstring>
#include <new>

namespace pixmoor {

namespace {

// Keeps the rows as a QImage: RGBA rows are decoded straight into an RGBA8888 image, RGB and
// indexed rows converted into RGB32.
class ImageSink final : public codec::RowSink {
public:
    explicit ImageSink(const PngImageOptions& options) : options_(options) {}

    bool begin(const codec::RowLayout& layout) override {
        if (layout.width < 1 || layout.height < 1 || layout.width > options_.maxSide ||
            layout.height > options_.maxSide ||
            std::int64_t(layout.width) * layout.height > options_.maxPixels) {
            failure_ = codec::TooLarge;
            return false;
        }
        rgba_ = layout.bits == 32;
        if (rgba_ != options_.keepAlpha) {
            failure_ = codec::Unsupported;
            return false;
        }
        rgb_ = !layout.palette;
        if (layout.palette)
            for (int i = 0; i < layout.paletteSize && i < 256; ++i)
                palette_[std::size_t(i)] = layout.palette[i];
        image_ = QImage(layout.width, layout.height,
                        rgba_ ? QImage::Format_RGBA8888 : QImage::Format_RGB32);
        if (image_.isNull()) {
            failure_ = codec::OutOfMemory;
            return false;
        }
        return true;
    }

    std::uint8_t* rowBuffer(int y) override {
        return rgba_ && y >= 0 && y < image_.height() ? image_.scanLine(y) : nullptr;
    }

    bool row(const std::uint8_t* pixels) override {
        if (y_ >= image_.height()) return false;
        uchar* line = image_.scanLine(y_);
        const int width = image_.width();
        if (rgba_) {
            if (pixels != line) std::memcpy(line, pixels, std::size_t(width) * 4);
        } else {
            auto* out = reinterpret_cast<QRgb*>(line);
            for (int x = 0; x < width; ++x) {
                if (rgb_) {
                    out[x] = qRgb(pixels[3 * x], pixels[3 * x + 1], pixels[3 * x + 2]);
                } else {
                    // Indices past the palette are black (the palette's unused entries).
                    const codec::Rgb c = palette_[pixels[x]];
                    out[x] = qRgb(c.r, c.g, c.b);
                }
            }
        }
        ++y_;
        return true;
    }

    bool complete() const { return !image_.isNull() && y_ == image_.height(); }
    int failure() const { return failure_; }
    QImage take() {
        return rgba_ ? std::move(image_).convertToFormat(QImage::Format_ARGB32) : std::move(image_);
    }

private:
    const PngImageOptions& options_;
    std::array<codec::Rgb, 256> palette_{};
    QImage image_;
    bool rgba_ = false;
    bool rgb_ = false;
    int y_ = 0;
    int failure_ = codec::Ok;
};

} // namespace

QImage decodePngImage(const QByteArray& data, const PngImageOptions& options, int* result) {
    int rc = codec::Ok;
    QImage image;
    try {
        ImageSink sink(options);
        codec::DecodeOptions decode;
        decode.keepAlpha = options.keepAlpha;
        decode.fastPaths = !options.keepAlpha;
        rc = codec::decodePngData(reinterpret_cast<const std::uint8_t*>(data.constData()),
                                  std::size_t(data.size()), decode, sink);
        if (rc == codec::Stopped && sink.failure() != codec::Ok) rc = sink.failure();
        if (rc == codec::Ok && !sink.complete()) rc = codec::Truncated;
        if (rc == codec::Ok) image = sink.take();
    } catch (const std::bad_alloc&) {
        rc = codec::OutOfMemory;
    }
    if (result) *result = rc;
    if (rc != codec::Ok) return {};
    return image;
}

} // namespace pixmoor
