// The TIFF writer of the codec library over libtiff: 1, 4, 8 and 24 bits, uncompressed, CCITT,
// LZW or PackBits, in strips.
#include "imaging/codec/codec.h"
#include "imaging/codec/format_io.h"
#include "imaging/codec/tiff_common.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include <tiffio.h>

namespace pixmoor::codec {

namespace {

using detail::TiffHandle;
using detail::TiffMessages;

// libtiff writes to our FILE, owned by the OutputFile that commits it.
std::FILE* asFile(thandle_t h) {
    return static_cast<std::FILE*>(h);
}
tmsize_t tiffRead(thandle_t h, void* data, tmsize_t size) {
    return tmsize_t(std::fread(data, 1, std::size_t(size), asFile(h)));
}
tmsize_t tiffWrite(thandle_t h, void* data, tmsize_t size) {
    return tmsize_t(std::fwrite(data, 1, std::size_t(size), asFile(h)));
}
toff_t tiffSeek(thandle_t h, toff_t offset, int whence) {
    if (offset > toff_t(INT64_MAX) || fseeko(asFile(h), off_t(offset), whence) != 0)
        return toff_t(-1);
    return toff_t(ftello(asFile(h)));
}
toff_t tiffSize(thandle_t h) {
    const std::int64_t size = detail::fileSize(asFile(h));
    return size < 0 ? 0 : toff_t(size);
}
int tiffMapNothing(thandle_t, void**, toff_t*) {
    return 0;
}

// Opens libtiff on an open file for writing.
int openTiff(std::FILE* f, const std::string& name, const char* mode, TiffMessages& messages,
             TiffHandle& out) {
    return detail::openTiffWith(f, name, mode, messages, out, tiffRead, tiffWrite, tiffSeek,
                                tiffSize, tiffMapNothing);
}

// Packs one byte per pixel into 1 or 4 bit samples, most significant first.
void packRow(const std::uint8_t* in, std::uint8_t* out, int width, int bits,
             const std::uint8_t* map) {
    const int perByte = 8 / bits;
    std::memset(out, 0, std::size_t((width * bits + 7) / 8));
    for (int x = 0; x < width; ++x) {
        const int shift = 8 - bits * (x % perByte + 1);
        out[x / perByte] = std::uint8_t(out[x / perByte] | (map[in[x]] << shift));
    }
}

int writeTiffUnguarded(const std::string& file, int compression, int bits, const Raster& in) {
    if (!detail::validDepth(bits)) return BadDepth;
    if (compression != TiffNone && compression != TiffCcitt && compression != TiffLzw &&
        compression != TiffPackBits)
        return BadParameter;
    if (compression == TiffCcitt && bits != 1) return CompressionDepth;
    int rc = Ok;
    Raster scratch;
    const Raster* image = detail::rasterForDepth(in, bits, scratch, rc);
    if (!image) return rc;
    const int depth = bits == 0 ? 4 : bits;

    // Samples per palette index: bilevel images are written as gray (white is zero, the usual
    // form for fax-style data); other indexed depths with a colour map.
    std::uint16_t photometric = depth == 24 ? PHOTOMETRIC_RGB : PHOTOMETRIC_PALETTE;
    std::uint8_t sampleOf[256];
    for (int i = 0; i < 256; ++i) sampleOf[i] = std::uint8_t(i);
    if (depth == 1) {
        bool blackAndWhite = true;
        for (const Rgb& c : image->palette) {
            const bool black = c == Rgb{0, 0, 0}, white = c == Rgb{255, 255, 255};
            blackAndWhite = blackAndWhite && (black || white);
        }
        if (blackAndWhite || compression == TiffCcitt) {
            photometric = PHOTOMETRIC_MINISWHITE;
            for (std::size_t i = 0; i < image->palette.size(); ++i) {
                const Rgb c = image->palette[i];
                sampleOf[i] = (77 * c.r + 150 * c.g + 29 * c.b) / 256 < 128 ? 1 : 0;
            }
        }
    }

    detail::OutputFile output;
    if (const int orc = output.open(file); orc != Ok) return orc;
    TiffMessages messages;
    TiffHandle tif;
    if (openTiff(output.get(), file, "w", messages, tif) != Ok) return OutOfMemory;
    TIFF* t = tif.get();
    const std::uint16_t spp = depth == 24 ? 3 : 1;
    const std::uint16_t bps = depth == 24 ? 8 : std::uint16_t(depth);
    bool ok = TIFFSetField(t, TIFFTAG_IMAGEWIDTH, std::uint32_t(image->width)) &&
              TIFFSetField(t, TIFFTAG_IMAGELENGTH, std::uint32_t(image->height)) &&
              TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bps) &&
              TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, spp) &&
              TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric) &&
              TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              TIFFSetField(
                  t, TIFFTAG_COMPRESSION,
                  std::uint16_t(compression == TiffCcitt ? COMPRESSION_CCITTRLE : compression)) &&
              TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
              TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) &&
              TIFFSetField(t, TIFFTAG_XRESOLUTION, 72.0) &&
              TIFFSetField(t, TIFFTAG_YRESOLUTION, 72.0);
    if (ok && compression == TiffLzw && depth == 24)
        ok = TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    std::vector<std::uint16_t> map;
    if (ok && photometric == PHOTOMETRIC_PALETTE) {
        const std::size_t entries = std::size_t(1) << depth;
        map.assign(entries * 3, 0);
        for (std::size_t i = 0; i < image->palette.size() && i < entries; ++i) {
            map[i] = std::uint16_t(image->palette[i].r * 257);
            map[entries + i] = std::uint16_t(image->palette[i].g * 257);
            map[2 * entries + i] = std::uint16_t(image->palette[i].b * 257);
        }
        ok = TIFFSetField(t, TIFFTAG_COLORMAP, map.data(), map.data() + entries,
                          map.data() + 2 * entries);
    }
    if (ok) {
        // Strips of about 64 KiB: small enough to stream, large enough to compress well.
        const tmsize_t line = TIFFScanlineSize(t);
        const std::uint32_t rows =
            std::uint32_t(std::max<tmsize_t>(1, (64 << 10) / std::max<tmsize_t>(1, line)));
        ok = TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, rows));
    }
    std::vector<std::uint8_t> packed(std::size_t(image->width) * 3 + 4);
    for (int y = 0; ok && y < image->height; ++y) {
        const std::uint8_t* src = image->row(y);
        if (depth == 24) {
            std::memcpy(packed.data(), src, std::size_t(image->width) * 3);
        } else if (depth == 8) {
            std::memcpy(packed.data(), src, std::size_t(image->width));
        } else {
            packRow(src, packed.data(), image->width, depth, sampleOf);
        }
        ok = TIFFWriteScanline(t, packed.data(), std::uint32_t(y), 0) >= 0;
    }
    ok = ok && TIFFFlush(t) == 1;
    tif.reset();
    if (!ok) {
        output.abandon();
        return WriteFailed;
    }
    return output.commit();
}

} // namespace

// An allocation failure anywhere inside ends as OutOfMemory: nothing throws across the interface.
int writeTiff(const std::string& file, int compression, int bits, const Raster& in) {
    try {
        return writeTiffUnguarded(file, compression, bits, in);
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
}

} // namespace pixmoor::codec
