// TIFF for the codec library over libtiff: the information call, the reader (first page; the
// usual compressions, layouts and photometrics) and the writer at 1, 4, 8 and 24 bits.
#include "imaging/codec/codec.h"
#include "imaging/codec/format_io.h"
#include "imaging/codec/formats.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <memory>

#include <tiffio.h>

namespace pixmoor::codec {

using detail::CFile;

namespace detail {

namespace {

// libtiff's messages are kept, not printed: the first error decides nothing by itself, but it
// is useful when debugging a file.
struct TiffMessages {
    int errors = 0;
    char first[160] = {};
};

int onTiffError(TIFF*, void* user, const char*, const char* fmt, va_list ap) {
    auto* messages = static_cast<TiffMessages*>(user);
    if (messages && messages->errors++ == 0)
        std::vsnprintf(messages->first, sizeof messages->first, fmt, ap);
    return 1; // handled: nothing reaches the global handler or stderr
}

int onTiffWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffCloser {
    void operator()(TIFF* tif) const {
        if (tif) TIFFClose(tif);
    }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

struct OptionsFree {
    void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

// The largest single allocation libtiff may make for us (strip and tile buffers, directories).
constexpr tmsize_t kTiffMaxAlloc = tmsize_t(256) << 20;

// Whether the first bytes are a classic or BigTIFF header in either byte order.
int checkTiffSignature(const std::string& file) {
    CFile f;
    if (const int rc = openForRead(file, f); rc != Ok) return rc;
    std::uint8_t head[4];
    const std::size_t got = std::fread(head, 1, 4, f.get());
    const bool ii = got >= 2 && head[0] == 'I' && head[1] == 'I';
    const bool mm = got >= 2 && head[0] == 'M' && head[1] == 'M';
    if (!ii && !mm) return NotThisFormat;
    if (got < 4) return Truncated;
    const int magic = ii ? head[2] | head[3] << 8 : head[2] << 8 | head[3];
    if (magic != 42 && magic != 43) return NotThisFormat;
    return Ok;
}

// Opens a TIFF for reading with silent handlers and an allocation cap (no memory mapping, so a
// file that shrinks under us gives a read error rather than a signal).
int openTiff(const std::string& file, const char* mode, TiffMessages& messages, TiffHandle& out) {
    std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
    if (!options) return OutOfMemory;
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kTiffMaxAlloc);
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), onTiffError, &messages);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), onTiffWarning, &messages);
    out.reset(TIFFOpenExt(file.c_str(), mode, options.get()));
    return out ? Ok : Corrupt;
}

const char* compressionName(int compression) {
    switch (compression) {
    case COMPRESSION_NONE: return "None";
    case COMPRESSION_CCITTRLE: return "CCITT MH";
    case COMPRESSION_CCITTFAX3: return "CCITT G3";
    case COMPRESSION_CCITTFAX4: return "CCITT G4";
    case COMPRESSION_CCITTRLEW: return "CCITT MH Word";
    case COMPRESSION_LZW: return "LZW";
    case COMPRESSION_OJPEG: return "Old JPEG";
    case COMPRESSION_JPEG: return "JPEG";
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE: return "Deflate";
    case COMPRESSION_PACKBITS: return "PackBits";
    case COMPRESSION_LZMA: return "LZMA";
    case COMPRESSION_ZSTD: return "Zstandard";
    case COMPRESSION_WEBP: return "WebP";
    case COMPRESSION_JBIG: return "JBIG";
    default: return "Other";
    }
}

} // namespace

int infoTiff(const std::string& file, ImageInfo& out) {
    out = ImageInfo{};
    if (const int rc = checkTiffSignature(file); rc != Ok) return rc;
    TiffMessages messages;
    TiffHandle tif;
    if (const int rc = openTiff(file, "rm", messages, tif); rc != Ok) return rc;

    std::uint32_t width = 0, height = 0;
    std::uint16_t bps = 1, spp = 1, photometric = PHOTOMETRIC_MINISWHITE, compression = 1;
    if (!TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width) ||
        !TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height))
        return Corrupt;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric);
    if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF) return Corrupt;

    out.format = "TIFF";
    out.width = std::int32_t(width);
    out.height = std::int32_t(height);
    out.bitsPerPixel = int(bps) * int(spp);
    const bool gray = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
    if ((photometric == PHOTOMETRIC_PALETTE || gray) && spp == 1 && bps <= 8) out.colours = 1 << bps;
    out.pages = std::max<int>(1, int(TIFFNumberOfDirectories(tif.get())));
    out.detail = compressionName(compression);
    return Ok;
}

} // namespace detail

} // namespace pixmoor::codec
