// libFuzzer entries for the catalogue's thumbnail road, chosen when compiling:
//   PIXMOOR_FUZZ_THUMB_JPEG  the JPEG reader at thumbnail sizes, its EXIF thumbnail road (the
//                            EXIF directories and the stored thumbnail), its DC-scan road for
//                            progressive files and its libjpeg road at a reduced scale
//   PIXMOOR_FUZZ_THUMB_PNG   the PNG reader's whole-buffer road and its libpng road
//   PIXMOOR_FUZZ_THUMBNAIL   every format's reader, by the data's signature, streaming into the
//                            area downscaler at several thumbnail sizes, and the raster road
// A checking sink reads every byte of every row it is given and holds the readers to their
// contract (begin once, before any row; no more rows than announced; all of them on success).
// On every other input it turns the picture itself, as the catalogue's sink does: it then gets
// the rows as stored and reduces them to the thumbnail with the sides swapped where they are.
#include "catalogue/downscale.h"
#include "imaging/codec/codec.h"
#include "imaging/codec/decode.h"
#include "imaging/codec/errors.h"
#include "imaging/codec/format_table.h"
#include "tests/fuzz/fuzz_file.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace {

using namespace pixmoor;

class CheckingSink final : public codec::RowSink {
public:
    CheckingSink(QSize target, bool turns) : target_(target), turns_(turns) {}

    bool turnsItself(int orientation) override {
        if (begun_ || orientation < 1 || orientation > 8) __builtin_trap();
        orientation_ = turns_ ? orientation : 1;
        return turns_;
    }

    bool begin(const codec::RowLayout& layout) override {
        if (begun_ || layout.width < 1 || layout.height < 1 || layout.paletteSize < 0 ||
            layout.paletteSize > 256)
            __builtin_trap();
        if (layout.palette && layout.paletteSize == 0) __builtin_trap();
        if (layout.bgr && (layout.palette || layout.bits != 24)) __builtin_trap();
        begun_ = true;
        width_ = layout.width;
        height_ = layout.height;
        indexed_ = layout.palette != nullptr;
        if (indexed_)
            std::memcpy(palette_.data(), layout.palette,
                        sizeof(codec::Rgb) * std::size_t(layout.paletteSize));
        // The downscaler is met by images up to 4 megapixels: beyond, its instrumented loops
        // take longer than the fuzzer's time limit (uninstrumented they take milliseconds), and
        // the decoders still deliver every row to the checks below.
        const QSize stored = orientation_ >= 5 ? target_.transposed() : target_;
        if (std::int64_t(width_) * height_ <= (std::int64_t(1) << 22) &&
            AreaDownscaler::fits(width_, height_, stored))
            scaler_ = std::make_unique<AreaDownscaler>(width_, height_, stored, layout.bgr);
        return true;
    }

    bool row(const std::uint8_t* pixels) override {
        if (!begun_ || rows_ >= height_) __builtin_trap();
        const std::size_t bytes = std::size_t(width_) * (indexed_ ? 1 : 3);
        unsigned sum = 0;
        for (std::size_t i = 0; i < bytes; ++i) sum += pixels[i]; // every byte must be readable
        checksum_ += sum;
        if (scaler_) {
            if (indexed_)
                scaler_->addIndexedRow(pixels, palette_.data());
            else
                scaler_->addRgbRow(pixels);
        }
        ++rows_;
        return true;
    }

    void finish(int rc) const {
        if (codec::succeeded(rc) && (!begun_ || rows_ != height_)) __builtin_trap();
        if (rc == codec::Stopped) __builtin_trap(); // this sink never stops
        if (scaler_ && scaler_->complete() &&
            uprightImage(scaler_->result(), orientation_).size() != target_)
            __builtin_trap();
    }

private:
    QSize target_;
    bool turns_;
    int orientation_ = 1;
    bool begun_ = false, indexed_ = false;
    int width_ = 0, height_ = 0, rows_ = 0;
    std::array<codec::Rgb, 256> palette_{};
    std::unique_ptr<AreaDownscaler> scaler_;
    unsigned checksum_ = 0;
};

// The thumbnail sizes the catalogue asks for (the minimum decode size is twice the thumbnail),
// picked by the input's length so that seed files stay valid images.
QSize targetFor(std::size_t size) {
    static constexpr std::array<int, 4> kSides = {1, 16, 50, 150};
    const int side = kSides[size % kSides.size()];
    return {side, side + int(size / 4 % 3)};
}

void decodeAs(codec::ImageFormat format, const std::string& file, QSize target, bool fastPaths,
              bool fastUpsampling, bool turns, bool embedded = false) {
    CheckingSink sink(target, turns);
    codec::DecodeOptions options;
    options.minWidth = 2 * target.width();
    options.minHeight = 2 * target.height();
    if (embedded) { // as the catalogue asks: a stored thumbnail must cover the thumbnail
        options.embeddedMinWidth = target.width();
        options.embeddedMinHeight = target.height();
    }
    options.fastPaths = fastPaths;
    options.bgrRows = fastPaths; // as the catalogue asks, with the faster roads
    options.fastUpsampling = fastUpsampling;
    sink.finish(codec::formatEntry(format).decode(file, options, sink));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::ScratchCleanup cleanup;
    if (!fuzz::writeInput(data, size)) return 0;
    const std::string& file = fuzz::scratchFile();
    const QSize target = targetFor(size);
#if defined(PIXMOOR_FUZZ_THUMB_JPEG)
    decodeAs(codec::ImageFormat::Jpeg, file, target, true, size % 2, size / 2 % 2, true);
    decodeAs(codec::ImageFormat::Jpeg, file, target, false, false, size / 2 % 2);
#elif defined(PIXMOOR_FUZZ_THUMB_PNG)
    decodeAs(codec::ImageFormat::Png, file, target, true, false, false);
    decodeAs(codec::ImageFormat::Png, file, target, false, false, false);
#elif defined(PIXMOOR_FUZZ_THUMBNAIL)
    int rc = codec::Ok;
    const codec::FormatEntry* entry = codec::formatOfFile(file, rc);
    if (!entry) return 0;
    decodeAs(entry->format, file, target, true, true, size / 2 % 2);
    // The reduced-depth road: the reader into a raster, then the downscaler.
    codec::ImageInfo info;
    if (!codec::succeeded(codec::imageInfo(file, info))) return 0;
    if (std::int64_t(info.width) * info.height > (std::int64_t(1) << 22))
        return 0; // slow, not wrong
    codec::Raster raster;
    if (codec::succeeded(codec::readAs(entry->format, file, 8, 8, 1, raster)) &&
        scaleToThumbnail(raster, target).size() != target)
        __builtin_trap();
#else
#error "choose a thumbnail fuzz entry"
#endif
    return 0;
}
