// Internal to the codec library: how the TIFF reader and writer open libtiff, with its messages
// kept rather than printed and its allocations capped, and what the reader's roads share.
#pragma once

#include "imaging/codec/decode.h"

#include <cstdint>
#include <memory>
#include <string>

#include <tiffio.h>

namespace pixmoor::codec::detail {

// libtiff's messages are kept, not printed: the first error decides nothing by itself, but it
// is useful when debugging a file.
struct TiffMessages {
    int errors = 0;
    char first[160] = {};
};

struct TiffCloser {
    void operator()(TIFF* tif) const {
        if (tif) TIFFClose(tif);
    }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

// Opens libtiff on a handle with the given procedures, silent handlers and an allocation cap.
// Ok, OutOfMemory, or Corrupt when libtiff refuses the file.
int openTiffWith(thandle_t handle, const std::string& name, const char* mode,
                 TiffMessages& messages, TiffHandle& out, TIFFReadWriteProc read,
                 TIFFReadWriteProc write, TIFFSeekProc seek, TIFFSizeProc size,
                 TIFFMapFileProc map);

// The tags of the first page that decide how its pixels are read.
struct TiffLayout {
    std::uint32_t width = 0, height = 0;
    std::uint16_t bps = 1, spp = 1, photometric = PHOTOMETRIC_MINISWHITE,
                  planar = PLANARCONFIG_CONTIG;
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint16_t extraCount = 0;
    std::uint16_t* extraTypes = nullptr;
    std::uint16_t inkSet = INKSET_CMYK;
    std::uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    bool tiled = false;

    // Whether the first extra sample is alpha, and whether the colours are premultiplied by it.
    bool hasAlpha() const {
        return extraCount >= 1 && extraTypes &&
               (extraTypes[0] == EXTRASAMPLE_ASSOCALPHA || extraTypes[0] == EXTRASAMPLE_UNASSALPHA);
    }
    bool premultiplied() const { return hasAlpha() && extraTypes[0] == EXTRASAMPLE_ASSOCALPHA; }
};

// The sample road: layouts that libtiff's RGBA conversion refuses or reads without their alpha.
// Samples of any width up to 32 bits, unsigned or signed, and 16, 24, 32 and 64-bit floating
// point; grey, RGB, palette and CMYK, with or without alpha; strips or tiles, contiguous or in
// separate planes. Integer samples span their whole range, floating-point ones 0 to 1 (values
// outside are clipped), as the usual writers mean them.

// Whether the RGBA conversion would refuse the layout or drop its alpha.
bool needsSamplePath(const TiffLayout& t);
// Whether the sample road reads the layout: its colour model, sample format and depth.
bool samplePathReads(const TiffLayout& t);
// Streams the picture into sink as R, G, B rows over white (tiff_samples.cpp).
int streamSamples(TIFF* tif, const TiffLayout& t, RowSink& sink);

} // namespace pixmoor::codec::detail
