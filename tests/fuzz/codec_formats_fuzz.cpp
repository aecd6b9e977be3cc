// libFuzzer entry for one of the JPEG, PNG, GIF and TIFF readers (chosen when compiling): the
// input goes to a file, as the readers take file names, then through the reader and the
// information call; PNG input also goes through the reader over memory (icon entries, cache
// entries), with and without alpha; TIFF input also through the thumbnails' road, which must
// give what libtiff gives. Any crash, leak, hang or sanitizer report is a bug.
#include "imaging/codec/codec.h"
#include "imaging/codec/decode.h"
#include "imaging/codec/formats.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const std::string& inputPath() {
    static const std::string path = [] {
        const char* dir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        return std::string(dir) + "/pixmoor-fuzz-" + std::to_string(::getpid()) + ".bin";
    }();
    return path;
}

bool writeInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(inputPath().c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// Checks what a decoder streams: a sane layout, every row read whole, no row beyond the height.
struct CheckedRows final : pixmoor::codec::RowSink {
    int width = 0, height = 0, rows = 0;
    std::size_t rowBytes = 0;
    unsigned sum = 0;
    bool keep = false; // keep the rows (up to 16 MB of them) to compare two roads
    std::vector<std::uint8_t> kept;
    bool begin(const pixmoor::codec::RowLayout& layout) override {
        if (layout.width < 1 || layout.height < 1) __builtin_trap();
        if (layout.bits != 1 && layout.bits != 4 && layout.bits != 8 && layout.bits != 24 &&
            layout.bits != 32)
            __builtin_trap();
        if ((layout.palette != nullptr) != (layout.bits <= 8)) __builtin_trap();
        width = layout.width;
        height = layout.height;
        rowBytes = std::size_t(width) * (layout.bits == 32 ? 4 : layout.bits == 24 ? 3 : 1);
        return true;
    }
    bool row(const std::uint8_t* pixels) override {
        if (++rows > height) __builtin_trap();
        for (std::size_t i = 0; i < rowBytes; ++i) sum += pixels[i];
        if (keep && kept.size() + rowBytes <= (std::size_t(1) << 24))
            kept.insert(kept.end(), pixels, pixels + rowBytes);
        return true;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pixmoor::codec;
    if (!writeInput(data, size)) return 0;
    const std::string& file = inputPath();
    Raster raster;
    ImageInfo info;
#if defined(PIXMOOR_FUZZ_JPEG)
    readJpeg(file, 24, 1, 0, raster);
    readJpeg(file, 24, 8, 0, raster);
    detail::infoJpeg(file, info);
#elif defined(PIXMOOR_FUZZ_PNG)
    readPng(file, 24, 0, raster);
    detail::infoPng(file, info);
    // The same reader over memory, on both strategies and with alpha kept.
    for (const bool keepAlpha : {false, true}) {
        DecodeOptions options;
        options.fastPaths = true;
        options.keepAlpha = keepAlpha;
        CheckedRows rows;
        decodePngData(data, size, options, rows);
    }
#elif defined(PIXMOOR_FUZZ_GIF)
    readGif(file, 24, 0, raster);
    detail::infoGif(file, info);
#elif defined(PIXMOOR_FUZZ_TIFF)
    readTiff(file, 24, 0, raster);
    detail::infoTiff(file, info);
    // The thumbnails' road decodes LZW strips with our own decoder: it must deliver libtiff's
    // rows and end with libtiff's result, whatever the data.
    {
        CheckedRows plain, fast;
        plain.keep = fast.keep = true;
        DecodeOptions options;
        const int expected = detail::decodeTiffFile(file, options, plain);
        options.fastPaths = true;
        if (detail::decodeTiffFile(file, options, fast) != expected || fast.kept != plain.kept ||
            fast.rows != plain.rows)
            __builtin_trap();
    }
#else
#error "define one of PIXMOOR_FUZZ_JPEG, _PNG, _GIF, _TIFF"
#endif
    // Whatever came out must be a well-formed raster.
    if (!raster.empty()) {
        const std::size_t rowBytes = std::size_t(raster.width) * (raster.bits == 24 ? 3 : 1);
        if (raster.stride < rowBytes ||
            raster.pixels.size() < raster.stride * std::size_t(raster.height))
            __builtin_trap();
        if (raster.indexed())
            for (int y = 0; y < raster.height; ++y)
                for (int x = 0; x < raster.width; ++x)
                    if (raster.row(y)[x] >= raster.palette.size()) __builtin_trap();
    }
    return 0;
}
