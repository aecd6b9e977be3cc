// libFuzzer target for the information call, which recognises the format by signature and reads
// each format's header: every input must give a result code and texts within their limits.
#include "imaging/codec/codec.h"
#include "imaging/codec/errors.h"
#include "tests/fuzz/fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static pixmoor::fuzz::ScratchCleanup cleanup;
    if (!pixmoor::fuzz::writeInput(data, size)) return 0;
    pixmoor::codec::ImageInfo info;
    const int rc = pixmoor::codec::imageInfo(pixmoor::fuzz::scratchFile(), info);
    if (info.format.size() > 5 || info.detail.size() > 25) __builtin_trap();
    if (pixmoor::codec::succeeded(rc) && (info.width <= 0 || info.height <= 0)) __builtin_trap();
    return 0;
}
