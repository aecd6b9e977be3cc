// libFuzzer entries for the catalogue's thumbnail road, chosen when compiling:
//   PIXMOOR_FUZZ_THUMB_JPEG  the DC-only decoder of progressive JPEGs (from memory) and the
//                            streamed libjpeg decoder at a reduced scale
//   PIXMOOR_FUZZ_THUMB_PNG   the whole-buffer inflate (from memory) and the streamed libpng road
//   PIXMOOR_FUZZ_THUMBNAIL   every format's streamed or read road, by the data's signature, into
//                            the area downscaler at several thumbnail sizes
// A checking sink reads every byte of every row it is given and holds the decoders to their
// contract (begin once, before any row; no more rows than announced).
#include "catalogue/downscale.h"
#include "imaging/codec/codec.h"
#include "imaging/codec/errors.h"
#include "imaging/codec/jpeg_dc.h"
#include "imaging/codec/png_whole.h"
#include "imaging/codec/thumbnail_decode.h"
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
    explicit CheckingSink(QSize target) : target_(target) {}

    bool begin(int width, int height, const codec::Rgb* palette, int paletteSize) override {
        if (begun_ || width < 1 || height < 1 || paletteSize < 0 || paletteSize > 256)
            __builtin_trap();
        if (palette && paletteSize == 0) __builtin_trap();
        begun_ = true;
        width_ = width;
        height_ = height;
        indexed_ = palette != nullptr;
        if (indexed_) std::memcpy(palette_.data(), palette, sizeof(codec::Rgb) * paletteSize);
        if (AreaDownscaler::fits(width, height, target_))
            scaler_ = std::make_unique<AreaDownscaler>(width, height, target_);
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
        // Success means every announced row arrived.
        if (codec::succeeded(rc) && (!begun_ || rows_ != height_)) __builtin_trap();
        if (scaler_ && scaler_->complete() && scaler_->result().size() != target_) __builtin_trap();
    }

private:
    QSize target_;
    bool begun_ = false, indexed_ = false;
    int width_ = 0, height_ = 0, rows_ = 0;
    std::array<codec::Rgb, 256> palette_{};
    std::unique_ptr<AreaDownscaler> scaler_;
    unsigned checksum_ = 0;
};

int asResult(codec::detail::FastDecodeResult r) {
    return r == codec::detail::FastDecodeResult::Done ? codec::Ok : codec::Corrupt;
}

// The thumbnail sizes the catalogue asks for (the minimum decode size is twice the thumbnail),
// picked by the input's length so that seed files stay valid images.
QSize targetFor(std::size_t size) {
    static constexpr std::array<int, 4> kSides = {1, 16, 50, 150};
    const int side = kSides[size % kSides.size()];
    return {side, side + int(size / 4 % 3)};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::ScratchCleanup cleanup;
    const QSize target = targetFor(size);
    const int minWidth = 2 * target.width(), minHeight = 2 * target.height();
#if defined(PIXMOOR_FUZZ_THUMB_JPEG)
    {
        CheckingSink sink(target);
        sink.finish(
            asResult(codec::detail::decodeProgressiveDc(data, size, minWidth, minHeight, sink)));
    }
    if (!fuzz::writeInput(data, size)) return 0;
    CheckingSink sink(target);
    sink.finish(codec::streamJpeg(fuzz::scratchFile(), minWidth, minHeight, sink, size % 2));
#elif defined(PIXMOOR_FUZZ_THUMB_PNG)
    {
        CheckingSink sink(target);
        sink.finish(asResult(codec::detail::decodePngWhole(data, size, sink)));
    }
    if (!fuzz::writeInput(data, size)) return 0;
    CheckingSink sink(target);
    sink.finish(codec::streamPng(fuzz::scratchFile(), sink, false));
#elif defined(PIXMOOR_FUZZ_THUMBNAIL)
    if (!fuzz::writeInput(data, size)) return 0;
    const std::string& file = fuzz::scratchFile();
    CheckingSink sink(target);
    int rc = codec::Unsupported;
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xD8)
        rc = codec::streamJpeg(file, minWidth, minHeight, sink);
    else if (size >= 1 && data[0] == 0x89)
        rc = codec::streamPng(file, sink);
    else if (size >= 2 && data[0] == 'B' && data[1] == 'M')
        rc = codec::streamBmp(file, sink);
    if (rc != codec::Unsupported) {
        sink.finish(rc);
        return 0;
    }
    // The other formats, and whatever the streams leave, go through the readers at true colour.
    codec::Raster raster;
    codec::ImageInfo info;
    if (!codec::succeeded(codec::imageInfo(file, info))) return 0;
    if (std::int64_t(info.width) * info.height > (std::int64_t(1) << 22))
        return 0; // slow, not wrong
    rc = codec::readImage(file, 24, 8, 0, raster);
    if (codec::succeeded(rc) && scaleToThumbnail(raster, target).size() != target) __builtin_trap();
#else
#error "choose a thumbnail fuzz entry"
#endif
    return 0;
}
