// Internal to the codec library: the limits and the pixel transforms every libpng reader of ours
// sets, so the reader and the streaming thumbnail decoder accept, refuse and colour the same files.
#pragma once

#include "imaging/codec/raster.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <png.h>

namespace pixmoor::codec::detail {

// Ancillary chunks we never use: libpng skips them without inflating or storing them (a large
// compressed ICC profile or text chunk would otherwise cost time and memory). Dimensions are
// capped, and so are the size and number of the ancillary chunks libpng keeps.
inline void applyPngReadLimits(png_structp png) {
    static constexpr png_byte kIgnoredChunks[] = {
        'b', 'K', 'G', 'D', '\0', 'c', 'H', 'R', 'M', '\0', 'e', 'X', 'I', 'f', '\0',
        'g', 'A', 'M', 'A', '\0', 'h', 'I', 'S', 'T', '\0', 'i', 'C', 'C', 'P', '\0',
        'i', 'T', 'X', 't', '\0', 'o', 'F', 'F', 's', '\0', 'p', 'C', 'A', 'L', '\0',
        'p', 'H', 'Y', 's', '\0', 's', 'B', 'I', 'T', '\0', 's', 'C', 'A', 'L', '\0',
        's', 'P', 'L', 'T', '\0', 's', 'R', 'G', 'B', '\0', 't', 'E', 'X', 't', '\0',
        't', 'I', 'M', 'E', '\0', 'z', 'T', 'X', 't', '\0'};
    constexpr int kIgnoredChunkCount = int(sizeof kIgnoredChunks / 5);

    png_set_user_limits(png, limits::kMaxDimension, limits::kMaxDimension);
    png_set_chunk_cache_max(png, limits::kMaxPngChunksKept);
    png_set_chunk_malloc_max(png, limits::kMaxPngChunkBytes);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kIgnoredChunks, kIgnoredChunkCount);
}

// What libpng's error and read callbacks below record. A reader's job derives from it and is
// registered as libpng's error and I/O pointer through a PngIo* (cast before it becomes void*).
struct PngIo {
    std::FILE* file;           // the file read or written; null when reading from memory
    const std::uint8_t* bytes; // the PNG held in memory, when file is null
    std::size_t size;          // bytes there
    std::size_t position;      // the next byte libpng reads
    bool eof;                  // the file ended inside the data
    bool readError;            // the system reported an I/O error
    char message[128];         // libpng's last error text
};

// Records libpng's error text, then jumps back to the setjmp frame (the default would print).
void onPngError(png_structp png, png_const_charp message);
// Warnings are dropped: libpng would print them.
void onPngWarning(png_structp png, png_const_charp message);
// Reads from PngIo::file, or from PngIo::bytes when there is no file, marking the end of the
// data or an I/O error before raising.
void readPngData(png_structp png, png_bytep data, std::size_t length);
// After png_read_info: Truncated when inputBytes (the file's or the buffer's size) are too few to
// hold the image data the header claims (deflate expands at most limits::kMaxDeflateExpansion times), so
// no reader allocates for it.
int checkPngDataFits(png_structp png, png_infop info, std::uint64_t inputBytes);
// The result code of a read that libpng ended with an error.
int pngReadFailure(const PngIo& io);

// After png_read_info: sets libpng's transforms and reports how rows will arrive. Palette files
// and gray up to 8 bits give one index per pixel into `palette` (transparency composited over
// white; rasterBits 1, 4 or 8 by the file's depth); other gray files give 8-bit gray indices into
// a 256-level ramp (rasterBits 8); everything else gives 8-bit RGB over white (rasterBits 24).
// With keepAlpha every file gives 8-bit R, G, B, A instead (rasterBits 32, no palette): palette
// and gray expanded, tRNS turned into alpha, opaque files with an alpha of 255.
// palette must hold 256 entries. Returns Ok, or Corrupt for a palette file without a palette.
int setUpPngTransforms(png_structp png, png_infop info, bool keepAlpha, Rgb* palette,
                       int& paletteSize, int& rasterBits);

} // namespace pixmoor::codec::detail
