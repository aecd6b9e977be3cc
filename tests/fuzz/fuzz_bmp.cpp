// libFuzzer target for the BMP reader: every input is decoded at each depth the library offers,
// so the decoder and the depth conversion both see hostile data, and from memory at its own depth,
// which must give the picture the file gives (a large file streams its rows from the file).
#include "imaging/codec/codec.h"
#include "imaging/codec/dib.h"
#include "imaging/codec/errors.h"
#include "tests/fuzz/fuzz_file.h"

#include <utility>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static pixmoor::fuzz::ScratchCleanup cleanup;
    if (!pixmoor::fuzz::writeInput(data, size)) return 0;
    // Run-length data may describe up to 4096 pixels a byte; a 64 KB input could still ask for
    // the largest image the library accepts, correct but slow to decode at every depth, so claims
    // beyond 4 megapixels stop at the header, which fuzz_info covers.
    pixmoor::codec::ImageInfo info;
    if (pixmoor::codec::succeeded(pixmoor::codec::imageInfo(pixmoor::fuzz::scratchFile(), info)) &&
        std::int64_t(info.width) * info.height > (std::int64_t(1) << 22))
        return 0;
    // The last byte picks the depth and dithering, so the corpus explores them too.
    const int depths[] = {24, 8, 4, 1, 0};
    const std::uint8_t pick = size ? data[size - 1] : 0;
    pixmoor::codec::Raster raster;
    const int rc = pixmoor::codec::readBmp(pixmoor::fuzz::scratchFile(), depths[pick % 5],
                                           (pick >> 3) & 1, raster);
    if (pixmoor::codec::succeeded(rc) && raster.empty())
        __builtin_trap(); // success must give pixels
    if (!pixmoor::codec::succeeded(rc) && !raster.empty()) __builtin_trap(); // failure must not
    // The same bytes as a bitmap held in memory, at their own depth.
    pixmoor::codec::Raster fromFile = std::move(raster);
    const int own = pixmoor::codec::readBmpData(data, size, raster);
    if (pixmoor::codec::succeeded(own) == raster.empty()) __builtin_trap();
    // A file larger than its first bytes streams its rows from the file; it must give the picture
    // the whole bytes in memory give.
    if (pick % 5 == 0) {
        if (pixmoor::codec::succeeded(own) != pixmoor::codec::succeeded(rc)) __builtin_trap();
        if (pixmoor::codec::succeeded(own) &&
            (pixmoor::codec::convertDepth(raster, 24, 0) != pixmoor::codec::Ok ||
             raster.pixels != fromFile.pixels || raster.width != fromFile.width))
            __builtin_trap();
    }
    return 0;
}
