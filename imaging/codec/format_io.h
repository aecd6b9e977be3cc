// Internal helpers shared by the JPEG, PNG, GIF and TIFF codecs: owned C files, opening with the
// library's result codes, safe completion of written files, and raster preparation for writers.
#pragma once

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

// A file being written: created on open, removed again unless commit() succeeds, so a failed
// write never leaves a half-written image behind.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Returns Ok, EmptyFileName or CreateFailed.
    int open(const std::string& file);
    std::FILE* get() const { return file_; }
    // Flushes and closes; Ok, or WriteFailed (the file is then removed).
    int commit();
    // Closes and removes the file (used when encoding failed).
    void abandon();

private:
    std::string name_;
    std::FILE* file_ = nullptr;
};

// Size of an open file in bytes, or -1.
std::int64_t fileSize(std::FILE* f);

// Checks image dimensions read from a header: Ok, Corrupt for zero or negative, TooLarge above the
// library's limits.
int checkDimensions(std::int64_t width, std::int64_t height);

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
