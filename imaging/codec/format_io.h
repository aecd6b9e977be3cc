// Internal helpers shared by the JPEG, PNG, GIF and TIFF codecs: owned C files, opening with the
// library's result codes, safe completion of written files, and raster preparation for writers.
#pragma once

#include "imaging/codec/encoded_image.h"
#include "imaging/codec/errors.h"
#include "imaging/codec/raster.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace pixmoor::codec::detail {

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};
using CFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens a file for binary reading. Returns Ok, EmptyFileName or FileNotFound.
int openForRead(const std::string& file, CFile& out);

// A file being written. The bytes go to a temporary file in the target's directory, which takes
// the target's name only once every byte is written and flushed: a failed or abandoned write
// leaves an existing file byte for byte as it was and no temporary file behind. A replaced file
// keeps its permission bits (and, where allowed, its owner and user attributes). A symbolic link
// at the name is replaced by the new file, never followed: nothing outside the target's own
// directory is written or created. Devices and pipes named as the target are written in place,
// as they cannot be replaced. While a MemoryOutput is alive on the thread, the file opened is the
// memory it holds instead, and commit() only completes the bytes there.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Returns Ok, EmptyFileName or CreateFailed (also for a file without write permission).
    int open(const std::string& file);
    std::FILE* get() const { return file_; }
    // Flushes, closes and puts the file in place; Ok, or WriteFailed (nothing is then changed).
    int commit();
    // Closes and removes what was written (used when encoding failed).
    void abandon();

private:
    int openTemporary();
    void closeDirectory();

    std::string name_;      // the name given (device or pipe: written through it)
    std::string target_;    // the entry the temporary file replaces
    std::string directory_; // the directory of target_
    std::string tempName_;  // the temporary file's name in directory_ (empty: anonymous)
    int dirFd_ = -1;
    bool inPlace_ = false;   // a device or pipe
    bool replacing_ = false; // target_ exists: its mode, owner and attributes go to the new file
    unsigned oldMode_ = 0;
    unsigned oldUid_ = 0;
    unsigned oldGid_ = 0;
    EncodedImage* memory_ = nullptr; // the bytes written to instead of a file
    std::FILE* file_ = nullptr;
};

// While alive, every OutputFile opened on this thread writes into `into` instead of a file: the
// writers encode into memory unchanged this way (see encodeImage). Not nested.
class MemoryOutput {
public:
    explicit MemoryOutput(EncodedImage& into);
    ~MemoryOutput();
    MemoryOutput(const MemoryOutput&) = delete;
    MemoryOutput& operator=(const MemoryOutput&) = delete;
};

// Size of an open file in bytes, or -1.
std::int64_t fileSize(std::FILE* f);

// Checks image dimensions read from a header: Ok, Corrupt for zero or negative, TooLarge above the
// library's limits.
int checkDimensions(std::int64_t width, std::int64_t height);

// Whether outputBytes of image data can come from inputBytes coded at the given expansion (one of
// the expansion limits of limits.h).
inline bool plausibleExpansion(std::uint64_t outputBytes, std::uint64_t inputBytes,
                               std::uint64_t expansion) {
    return outputBytes / expansion <= inputBytes;
}

// The palette of n evenly spaced grays from black to white (n >= 2).
std::vector<Rgb> grayRamp(int n);

// Whether bits is one the writers accept (0, 1, 4, 8, 24).
bool validDepth(int bits);

// Brings `in` to the depth a writer asked for, with error diffusion. Returns the raster to encode:
// `in` itself when it already fits, otherwise `scratch` holding the converted copy. On failure
// returns nullptr and sets result. For indexed depths the returned raster's palette has at most
// 2^depth entries and every index is below its size.
const Raster* rasterForDepth(const Raster& in, int bits, Raster& scratch, int& result);

// Makes every index of an indexed raster valid: grows the palette with black up to the largest
// index used (hostile files may use indices beyond their colour table).
void coverIndices(Raster& image);

// Bits of an indexed raster needed for its palette: 1, 4 or 8.
int indexedBitsFor(std::size_t paletteSize);

// Alpha blend of a colour value over white.
inline std::uint8_t overWhite(unsigned value, unsigned alpha) {
    return static_cast<std::uint8_t>((value * alpha + 255u * (255u - alpha) + 127u) / 255u);
}

} // namespace pixmoor::codec::detail
