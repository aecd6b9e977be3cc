// Device-independent bitmaps: the one decoder of the pixels a BMP file carries after its 14-byte
// file header, and of the DIBs held in memory (bitmaps in metafiles, the images of icons).
// Headers of 12 to 124 bytes (Windows and OS/2), 1, 2, 4, 8, 16, 24 and 32 bits, colour tables,
// bit fields with alpha, RLE4 and RLE8, bottom-up and top-down rows; every read is checked
// against the bytes given.
#pragma once

#include "imaging/codec/decode.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace pixmoor::codec {

// What made a DIB fail, finer than the result code, for callers that explain it in words.
enum class DibFault : std::uint8_t {
    None,
    HeaderTruncated,
    HeaderSize,           // a header length no variant has
    NoPixels,             // width or height zero or negative
    TooLarge,             // beyond the general limits or the caller's
    OverBudget,           // more pixels than the caller has left
    Depth,                // bits per pixel
    Compression,          // a compression we do not read
    InvalidRle,           // run-length data with the wrong depth, or top-down
    MasksNeedDepth,       // bit fields on a depth other than 16 or 32
    MasksTruncated,
    ColourCount,          // a colour count the data cannot hold
    ColourTableTruncated, // a DIB in memory whose colour table runs past its end
    RleTruncated,         // runs that stop early, or far more pixels than they could describe
    PixelsTruncated,
    OutOfMemory,
    PixelOffset,          // a BMP file whose pixel offset points into its headers
};

struct DibOptions {
    // Decode this many rows although the header's height counts more (an icon's AND mask).
    int rowsOverride = 0;
    // Rows of R, G, B, A (RowLayout::bits 32, not premultiplied) when the bitmap carries alpha:
    // its alpha mask, or the fourth byte of a 32-bit pixel without one. Otherwise alpha is
    // composited over white. Alpha that is zero in every pixel means an opaque picture.
    bool keepAlpha = false;
    // 24-bit rows may be handed over as stored, B, G, R (see DecodeOptions::bgrRows).
    bool bgrRows = false;
    // Colour table entries are 16-bit palette indexes (DIB_PAL_COLORS), mapped to this table
    // where it has the entry, else to grey levels.
    bool paletteIndexes = false;
    const Rgb* indexedColours = nullptr;
    std::size_t indexedColourCount = 0;
    // Refuse bitmaps wider or taller than this, or with more pixels (0: the general limits).
    int maxSide = 0;
    std::int64_t maxPixels = 0;
    // When set, the pixels still allowed for the caller's decodes: a bitmap larger than what is
    // left is refused before anything is allocated, and one that passes is deducted.
    std::uint64_t* pixelBudget = nullptr;
};

// A parsed DIB header, and after a decode where its pixel rows end.
struct DibHeader {
    std::uint32_t headerSize = 0;
    std::int64_t width = 0;
    std::int64_t height = 0; // rows decoded: the override when given, never negative once valid
    bool topDown = false;    // rows stored top row first (negative height)
    int bitCount = 0;
    std::uint32_t compression = 0;
    bool os2 = false;                     // 12-byte header, or OS/2 2.x (16 to 64 bytes)
    std::array<std::uint32_t, 4> masks{}; // red, green, blue, alpha
    std::size_t paletteOffset = 0;
    std::size_t paletteEntrySize = 4;
    std::size_t paletteCount = 0;    // entries actually present
    std::size_t declaredColours = 0; // what the header announces (indexed: its table's size)
    std::size_t pixelOffset = 0;
    DibFault fault = DibFault::None;
    std::size_t bitsEnd = 0;  // just past the pixel rows (where an icon's AND mask starts)
    bool hasAlpha = false;    // alpha present and not zero everywhere
};

// Decodes the DIB in data[0..size) into sink: indexed rows with the colour table for 8 bits and
// fewer, R, G, B rows (or R, G, B, A with keepAlpha) for the rest. Returns Ok, Stopped or an
// error code; header (when given) gets the parsed fields and the fault.
int decodeDib(const std::uint8_t* data, std::size_t size, const DibOptions& options,
              RowSink& sink, DibHeader* header = nullptr);

// A whole BMP file held in memory (a bitmap compiled into the program), decoded at its own
// depth: indexed rasters keep the file's colour table. On failure `out` is left empty; header
// (when given) gets the parsed fields, so a caller can name the size it refused.
int readBmpData(const std::uint8_t* data, std::size_t size, Raster& out,
                DibHeader* header = nullptr);

namespace detail {

// Parses the DIB header at d[start..size). inFile: a BMP file header precedes it, giving the
// pixel offset at d[10]; otherwise the pixels follow the colour table.
int parseDibHeader(const std::uint8_t* d, std::size_t size, std::size_t start, bool inFile,
                   const DibOptions& options, DibHeader& h);

struct FileBytes;

// Decodes the pixels of a parsed DIB into sink; sets h.bitsEnd, h.hasAlpha and a fault. When
// `release` holds the bytes d points into, they are freed before a run-length picture, expanded
// whole, is handed to the sink.
int decodeDibPixels(const std::uint8_t* d, std::size_t size, DibHeader& h,
                    const DibOptions& options, RowSink& sink, FileBytes* release = nullptr);

// The bytes of one stored row of an uncompressed DIB, padding included.
std::size_t dibRowBytes(const DibHeader& h);

// Where an uncompressed DIB's rows come from: its bytes in memory, or a file read a band at a
// time. Rows are asked for mostly in ascending order.
class DibRows {
public:
    virtual ~DibRows() = default;
    // Stored row i (the first in the data is 0); null when the data ends before it.
    virtual const std::uint8_t* row(std::size_t i) = 0;
};

// Whether decodeDibRows can decode this parsed DIB in one pass over its rows: uncompressed, and
// no alpha channel that every row would have to be searched for first.
bool streamableDib(const DibHeader& h, const DibOptions& options);

// Decodes the pixels of a parsed, streamable DIB from `rows`, `available` bytes of pixel data,
// into sink; d holds the headers and colour table. With storedOrder the rows are delivered as
// stored (a bottom-up picture bottom row first, for a sink that turns it itself), otherwise top
// row first. Sets h.bitsEnd and a fault as decodeDibPixels does.
int decodeDibRows(const std::uint8_t* d, DibHeader& h, std::size_t available,
                  const DibOptions& options, DibRows& rows, bool storedOrder, RowSink& sink);

} // namespace detail

} // namespace pixmoor::codec
