// TIFF for the codec library over libtiff: the information call and the reader (first page; the
// usual compressions, layouts and photometrics). The sample road for unusual samples is in
// tiff_samples.cpp, the writer in tiff_write.cpp.
#include "imaging/codec/codec.h"
#include "imaging/codec/decode.h"
#include "imaging/codec/format_io.h"
#include "imaging/codec/formats.h"
#include "imaging/codec/lzw.h"
#include "imaging/codec/orientation.h"
#include "imaging/codec/raster_sink.h"
#include "imaging/codec/scratch_buffer.h"
#include "imaging/codec/tiff_common.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>

#include <tiffio.h>

namespace pixmoor::codec {

using detail::CFile;

namespace detail {

namespace {

int onTiffError(TIFF*, void* user, const char*, const char* fmt, va_list ap) {
    auto* messages = static_cast<TiffMessages*>(user);
    if (messages && messages->errors++ == 0)
        std::vsnprintf(messages->first, sizeof messages->first, fmt, ap);
    return 1; // handled: nothing reaches the global handler or stderr
}

int onTiffWarning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

struct OptionsFree {
    void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

// Whether the first bytes are a classic or BigTIFF header in either byte order.
int checkTiffSignature(std::FILE* f) {
    std::uint8_t head[4];
    const std::size_t got = std::fread(head, 1, 4, f);
    std::rewind(f);
    const bool ii = got >= 2 && head[0] == 'I' && head[1] == 'I';
    const bool mm = got >= 2 && head[0] == 'M' && head[1] == 'M';
    if (!ii && !mm) return NotThisFormat;
    if (got < 4) return Truncated;
    const int magic = ii ? head[2] | head[3] << 8 : head[2] << 8 | head[3];
    if (magic != 42 && magic != 43) return NotThisFormat;
    return Ok;
}

// libtiff works on our FILE (owned by RAII), never on a mapping of it: a file that shrinks under
// us gives a read error rather than a signal. A file read for decoding comes into memory whole
// when it is not too large, and libtiff sees that copy as its mapping: its mapped reading takes
// the short edge tiles and strips that common writers store, which its plain reading refuses.
struct TiffInput {
    std::FILE* file = nullptr;
    std::vector<unsigned char> bytes; // the whole file, when in memory
    bool inMemory = false;
    std::size_t pos = 0;
    std::int64_t size() const { return inMemory ? std::int64_t(bytes.size()) : fileSize(file); }
};

TiffInput& asInput(thandle_t h) {
    return *static_cast<TiffInput*>(h);
}
tmsize_t inputRead(thandle_t h, void* data, tmsize_t size) {
    TiffInput& in = asInput(h);
    if (!in.inMemory) return tmsize_t(std::fread(data, 1, std::size_t(size), in.file));
    const std::size_t n =
        std::min(std::size_t(size), in.bytes.size() - std::min(in.pos, in.bytes.size()));
    if (n) std::memcpy(data, in.bytes.data() + in.pos, n);
    in.pos += n;
    return tmsize_t(n);
}
tmsize_t inputWrite(thandle_t, void*, tmsize_t) {
    return 0;
}
toff_t inputSeek(thandle_t h, toff_t offset, int whence) {
    TiffInput& in = asInput(h);
    if (!in.inMemory) {
        if (offset > toff_t(INT64_MAX) || fseeko(in.file, off_t(offset), whence) != 0)
            return toff_t(-1);
        return toff_t(ftello(in.file));
    }
    const std::uint64_t base = whence == SEEK_SET   ? 0
                               : whence == SEEK_CUR ? in.pos
                                                    : in.bytes.size();
    const std::uint64_t to = base + offset; // libtiff passes negative moves as wrapped values
    if (to > std::uint64_t(INT64_MAX)) return toff_t(-1);
    in.pos = std::size_t(to);
    return toff_t(to);
}
toff_t inputSize(thandle_t h) {
    const std::int64_t size = asInput(h).size();
    return size < 0 ? 0 : toff_t(size);
}
int inputMap(thandle_t h, void** base, toff_t* size) {
    TiffInput& in = asInput(h);
    if (!in.inMemory) return 0;
    *base = in.bytes.data();
    *size = toff_t(in.bytes.size());
    return 1;
}
int tiffCloseNothing(thandle_t) {
    return 0;
}
void tiffUnmapNothing(thandle_t, void*, toff_t) {}

} // namespace

// Opens libtiff on a handle with the given procedures, silent handlers and an allocation cap.
int openTiffWith(thandle_t handle, const std::string& name, const char* mode,
                 TiffMessages& messages, TiffHandle& out, TIFFReadWriteProc read,
                 TIFFReadWriteProc write, TIFFSeekProc seek, TIFFSizeProc size,
                 TIFFMapFileProc map) {
    // The few messages libtiff raises outside any open file would go to stderr; silence them once.
    static std::once_flag silenced;
    std::call_once(silenced, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
    std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
    if (!options) return OutOfMemory;
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), tmsize_t(limits::kMaxTiffAlloc));
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), onTiffError, &messages);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), onTiffWarning, &messages);
    out.reset(TIFFClientOpenExt(name.c_str(), mode, handle, read, write, seek, tiffCloseNothing,
                                size, map, tiffUnmapNothing, options.get()));
    return out ? Ok : Corrupt;
}

namespace {

// Opens a file for reading as TIFF: Ok, or the reason it cannot be read. `in` must outlive tif.
// wholeFile brings a file of up to limits::kMaxInMemory bytes into memory first (see TiffInput).
int openTiffForRead(const std::string& file, CFile& f, TiffInput& in, TiffMessages& messages,
                    TiffHandle& tif, bool wholeFile) {
    if (const int rc = openForRead(file, f); rc != Ok) return rc;
    if (const int rc = checkTiffSignature(f.get()); rc != Ok) return rc;
    in.file = f.get();
    if (wholeFile) {
        int rc = Ok;
        in.inMemory = readWholeFile(f.get(), in.bytes, rc);
        if (rc != Ok) return rc;
        std::rewind(f.get());
    }
    const int rc = openTiffWith(&in, file, wholeFile ? "r" : "rm", messages, tif, inputRead,
                                inputWrite, inputSeek, inputSize, inputMap);
    // A header that points past the end of the file is a truncated file.
    if (rc != Ok && in.size() < 16) return Truncated;
    return rc;
}

const char* compressionName(int compression) {
    switch (compression) {
    case COMPRESSION_NONE:
        return "None";
    case COMPRESSION_CCITTRLE:
        return "CCITT MH";
    case COMPRESSION_CCITTFAX3:
        return "CCITT G3";
    case COMPRESSION_CCITTFAX4:
        return "CCITT G4";
    case COMPRESSION_CCITTRLEW:
        return "CCITT MH Word";
    case COMPRESSION_LZW:
        return "LZW";
    case COMPRESSION_OJPEG:
        return "Old JPEG";
    case COMPRESSION_JPEG:
        return "JPEG";
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
        return "Deflate";
    case COMPRESSION_PACKBITS:
        return "PackBits";
    case COMPRESSION_LZMA:
        return "LZMA";
    case COMPRESSION_ZSTD:
        return "Zstandard";
    case COMPRESSION_WEBP:
        return "WebP";
    case COMPRESSION_JBIG:
        return "JBIG";
    default:
        return "Other";
    }
}

} // namespace

int infoTiff(const std::string& file, ImageInfo& out) {
    out = ImageInfo{};
    CFile f;
    TiffInput in;
    TiffMessages messages;
    TiffHandle tif;
    if (const int rc = openTiffForRead(file, f, in, messages, tif, false); rc != Ok) return rc;

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
    out.bitsPerPixel = int(std::min<std::int64_t>(std::int64_t(bps) * spp, 0x7FFFFFFF));
    const bool gray =
        photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
    if ((photometric == PHOTOMETRIC_PALETTE || gray) && spp == 1 && bps <= 8)
        out.colours = 1 << bps;
    out.pages = std::max<int>(1, int(TIFFNumberOfDirectories(tif.get())));
    out.detail = compressionName(compression);
    return Ok;
}

} // namespace detail

namespace {

using detail::TiffHandle;
using detail::TiffLayout;
using detail::TiffMessages;

// Every strip or tile must lie inside the file; one that reaches past its end means a truncated
// file (libtiff would otherwise decode garbage or fail half-way). storedBytes gets their total.
int checkStriles(TIFF* tif, std::int64_t size, std::uint64_t& storedBytes) {
    storedBytes = 0;
    // Every tile of a tiled file (TIFFNumberOfStrips counts its rows as one strip).
    const std::uint32_t count = TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    for (std::uint32_t i = 0; i < count; ++i) {
        int err = 0;
        const std::uint64_t offset = TIFFGetStrileOffsetWithErr(tif, i, &err);
        if (err) return Corrupt;
        const std::uint64_t bytes = TIFFGetStrileByteCountWithErr(tif, i, &err);
        if (err) return Corrupt;
        if (bytes == 0) continue; // absent strip: libtiff reports it when read
        if (offset > std::uint64_t(size) || bytes > std::uint64_t(size) - offset) return Truncated;
        storedBytes += bytes;
    }
    return Ok;
}

// Whether the stored strips can hold the image the tags describe, at the compression's largest
// expansion: no raster is allocated for pixels the data cannot produce.
bool dataFitsImage(const TiffLayout& t, std::uint64_t storedBytes) {
    // Width is at most 2^20 and the sample fields 16 bits each, so a row cannot overflow.
    const std::uint64_t rowBytes = (std::uint64_t(t.width) * t.spp * t.bps + 7) / 8;
    if (t.height && rowBytes > std::numeric_limits<std::uint64_t>::max() / t.height) return false;
    const std::uint64_t imageBytes = rowBytes * t.height;
    std::uint64_t expansion;
    switch (t.compression) {
    case COMPRESSION_NONE:
        expansion = 1;
        break;
    case COMPRESSION_PACKBITS:
        expansion = 64; // a 2-byte run gives at most 128 bytes
        break;
    case COMPRESSION_LZW:
        expansion = limits::kMaxLzwExpansion;
        break;
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
        expansion = limits::kMaxDeflateExpansion;
        break;
    default:
        // Fax codings describe a blank row in a bit or two, so their bound grows with the width.
        expansion = std::max<std::uint64_t>(limits::kMaxLzwExpansion, t.width);
        break;
    }
    return detail::plausibleExpansion(imageBytes, storedBytes, expansion);
}

// Scanline paths: the common layouts are read row by row straight into the raster (no whole-image
// buffer); everything else goes through libtiff's RGBA conversion in bands.
enum class Path { Palette, Gray, Gray16, GrayAlpha, Rgb, Rgb16, Rgba, Cmyk, Cmyk16 };

bool scanlinePath(const TiffLayout& t, Path& path) {
    if (t.tiled || t.compression == COMPRESSION_JPEG || t.compression == COMPRESSION_OJPEG)
        return false;
    if (t.sampleFormat != SAMPLEFORMAT_UINT) return false;
    if (t.spp > 1 && t.planar != PLANARCONFIG_CONTIG) return false;
    const bool gray =
        t.photometric == PHOTOMETRIC_MINISBLACK || t.photometric == PHOTOMETRIC_MINISWHITE;
    const bool smallDepth = t.bps == 1 || t.bps == 2 || t.bps == 4 || t.bps == 8;
    if (t.photometric == PHOTOMETRIC_PALETTE && t.spp == 1 && smallDepth)
        path = Path::Palette;
    else if (gray && t.spp == 1 && smallDepth)
        path = Path::Gray;
    else if (gray && t.spp == 1 && t.bps == 16)
        path = Path::Gray16;
    else if (gray && t.spp == 2 && t.bps == 8 && t.extraCount == 1)
        path = Path::GrayAlpha;
    else if (t.photometric == PHOTOMETRIC_RGB && t.spp == 3 && t.bps == 8)
        path = Path::Rgb;
    else if (t.photometric == PHOTOMETRIC_RGB && t.spp == 3 && t.bps == 16)
        path = Path::Rgb16;
    else if (t.photometric == PHOTOMETRIC_RGB && t.spp == 4 && t.bps == 8 && t.extraCount == 1)
        path = Path::Rgba;
    else if (t.photometric == PHOTOMETRIC_SEPARATED && t.inkSet == INKSET_CMYK &&
             (t.spp == 4 || (t.spp == 5 && !t.hasAlpha())) && (t.bps == 8 || t.bps == 16))
        path =
            t.bps == 8 ? Path::Cmyk : Path::Cmyk16; // a fifth sample that is not alpha is ignored
    else
        return false;
    return true;
}

// One byte per pixel from packed 1, 2 or 4 bit samples (most significant first).
void unpackRow(const std::uint8_t* in, std::uint8_t* out, std::uint32_t width, int bps) {
    const int perByte = 8 / bps;
    const unsigned mask = (1u << bps) - 1;
    for (std::uint32_t x = 0; x < width; ++x) {
        const int shift = 8 - bps * (int(x % unsigned(perByte)) + 1);
        out[x] = std::uint8_t((in[x / unsigned(perByte)] >> shift) & mask);
    }
}

// One stored row (buffer) in the sink's form: indices or R, G, B bytes.
void convertRow(Path path, const TiffLayout& t, std::size_t samples, const std::uint8_t* buffer,
                std::uint8_t* row) {
    switch (path) {
    case Path::Palette:
    case Path::Gray:
        unpackRow(buffer, row, t.width, t.bps);
        break;
    case Path::Gray16: {
        const auto* v = reinterpret_cast<const std::uint16_t*>(buffer);
        for (std::uint32_t x = 0; x < t.width; ++x) row[x] = std::uint8_t(v[x] >> 8);
        break;
    }
    case Path::GrayAlpha:
    case Path::Rgba: {
        const bool premultiplied = t.extraTypes && t.extraTypes[0] == EXTRASAMPLE_ASSOCALPHA;
        const int colours = path == Path::Rgba ? 3 : 1;
        const std::uint8_t* p = buffer;
        for (std::uint32_t x = 0; x < t.width; ++x, p += colours + 1) {
            const unsigned a = p[colours];
            for (int c = 0; c < colours; ++c)
                row[x * unsigned(colours) + unsigned(c)] =
                    premultiplied ? std::uint8_t(std::min(255u, p[c] + 255u - a))
                                  : detail::overWhite(p[c], a);
        }
        break;
    }
    case Path::Rgb16: {
        const auto* v = reinterpret_cast<const std::uint16_t*>(buffer);
        for (std::size_t i = 0; i < samples; ++i) row[i] = std::uint8_t(v[i] >> 8);
        break;
    }
    case Path::Cmyk:
    case Path::Cmyk16: {
        // Inks over white paper: each colour is what its ink and the black leave of it.
        const auto* v8 = buffer;
        const auto* v16 = reinterpret_cast<const std::uint16_t*>(buffer);
        const bool wide = path == Path::Cmyk16;
        for (std::uint32_t x = 0; x < t.width; ++x) {
            const std::size_t at = std::size_t(x) * t.spp;
            unsigned ink[4];
            for (int i = 0; i < 4; ++i)
                ink[i] = wide ? v16[at + std::size_t(i)] >> 8 : v8[at + std::size_t(i)];
            const unsigned k = 255 - ink[3];
            for (int c = 0; c < 3; ++c)
                row[3 * x + unsigned(c)] = std::uint8_t(((255 - ink[c]) * k + 127) / 255);
        }
        break;
    }
    case Path::Rgb:
        break;
    }
}

// The strips of an LZW file held in memory, for our own decoder (lzw.h): null file when libtiff
// reads every row.
struct LzwStrips {
    const std::vector<unsigned char>* file = nullptr;
    std::uint32_t rowsPerStrip = 0;
    bool predictor = false; // horizontal differencing of 8-bit samples
};

// The strips our LZW decoder takes: 8-bit samples stored as the sink's rows are (RGB, palette
// and gray), in strips, in bit order 1, with no predictor or the horizontal one. Anything else is
// libtiff's.
LzwStrips lzwStripsOf(TIFF* tif, const TiffLayout& t, Path path, const detail::TiffInput& in) {
    LzwStrips strips;
    if (!in.inMemory || t.compression != COMPRESSION_LZW || t.tiled || t.bps != 8) return strips;
    if (path != Path::Rgb && path != Path::Palette && path != Path::Gray) return strips;
    std::uint16_t predictor = PREDICTOR_NONE, fillOrder = FILLORDER_MSB2LSB;
    std::uint32_t rowsPerStrip = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_PREDICTOR, &predictor);
    TIFFGetFieldDefaulted(tif, TIFFTAG_FILLORDER, &fillOrder);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    if (fillOrder != FILLORDER_MSB2LSB || rowsPerStrip == 0) return strips;
    if (predictor != PREDICTOR_NONE && predictor != PREDICTOR_HORIZONTAL) return strips;
    strips.file = &in.bytes;
    strips.rowsPerStrip = std::min(rowsPerStrip, t.height);
    strips.predictor = predictor == PREDICTOR_HORIZONTAL;
    return strips;
}

// Undoes the horizontal predictor of a row of 8-bit samples: each sample is the difference from
// the same sample of the pixel to its left. The running pixel stays in registers rather than
// being read back from the row just written.
template <std::size_t Samples> void addLeftPixels(std::uint8_t* row, std::size_t bytes) {
    std::array<std::uint8_t, Samples> left;
    std::memcpy(left.data(), row, Samples);
    for (std::size_t i = Samples; i + Samples <= bytes; i += Samples)
        for (std::size_t c = 0; c < Samples; ++c)
            row[i + c] = left[c] = std::uint8_t(left[c] + row[i + c]);
}

void undoHorizontalPredictor(std::uint8_t* row, std::size_t bytes, std::size_t samples) {
    if (samples == 3)
        addLeftPixels<3>(row, bytes);
    else if (samples == 1)
        addLeftPixels<1>(row, bytes);
    else
        for (std::size_t i = samples; i < bytes; ++i)
            row[i] = std::uint8_t(row[i] + row[i - samples]);
}

// Our decoder holds a whole strip decoded; a larger strip (a file stored as one strip) is left to
// libtiff, which streams it a row at a time, so memory stays small for any picture.
constexpr std::size_t kMaxOwnStripBytes = std::size_t(32) << 20;

// Streams whole strips, decoded by our LZW decoder, from row y on; y ends at the first row of the
// first strip it did not take (a strip it doubts or one too large to hold, which libtiff then
// reads and judges), or at the height. Ok, or Stopped.
int streamLzwStrips(TIFF* tif, const TiffLayout& t, const LzwStrips& strips, std::size_t rowBytes,
                    RowSink& sink, std::uint32_t& y) {
    const std::size_t samples = t.spp;
    std::vector<std::uint8_t> buffer;
    while (y < t.height) {
        const std::uint32_t strip = y / strips.rowsPerStrip;
        const std::uint32_t rows = std::min(strips.rowsPerStrip, t.height - y);
        int err = 0;
        const std::uint64_t offset = TIFFGetStrileOffsetWithErr(tif, strip, &err);
        const std::uint64_t bytes = err ? 0 : TIFFGetStrileByteCountWithErr(tif, strip, &err);
        const std::vector<unsigned char>& file = *strips.file;
        if (err || bytes == 0 || offset > file.size() || bytes > file.size() - offset) return Ok;
        const std::size_t count = rowBytes * rows;
        if (count > kMaxOwnStripBytes) return Ok;
        buffer.resize(count + detail::kLzwSlack);
        if (detail::decodeTiffLzw(file.data() + offset, std::size_t(bytes), buffer.data(), count) !=
            Ok)
            return Ok;
        for (std::uint32_t r = 0; r < rows; ++r, ++y) {
            std::uint8_t* row = buffer.data() + std::size_t(r) * rowBytes;
            if (strips.predictor) undoHorizontalPredictor(row, rowBytes, samples);
            if (!sink.row(row)) return Stopped;
        }
    }
    return Ok;
}

// Streams the rows of a scanline layout into sink, each converted to one index or three bytes a
// pixel; where the stored row already is that, it is read straight into the sink's own row.
// Whole strips our LZW decoder takes come from it first.
int streamScanlines(TIFF* tif, const TiffLayout& t, Path path, const LzwStrips& strips,
                    RowSink& sink) {
    const int rasterBits = path == Path::Palette || path == Path::Gray
                               ? (t.bps == 1 ? 1 : (t.bps <= 4 ? 4 : 8))
                               : (path == Path::Gray16 || path == Path::GrayAlpha ? 8 : 24);
    const tmsize_t lineSize = TIFFScanlineSize(tif);
    const std::size_t samples = std::size_t(t.width) * t.spp;
    const std::size_t needed = (samples * t.bps + 7) / 8;
    if (lineSize <= 0 || std::size_t(lineSize) < needed) return Corrupt;
    const int levels = 1 << std::min<int>(t.bps, 8);
    std::vector<Rgb> palette;
    if (path == Path::Palette) {
        std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
        if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) || !red || !green || !blue)
            return Corrupt;
        // Some old writers store 8-bit values in the 16-bit colour map.
        bool eightBit = true;
        for (int i = 0; i < levels; ++i)
            if (red[i] > 255 || green[i] > 255 || blue[i] > 255) eightBit = false;
        const int shift = eightBit ? 0 : 8;
        palette.resize(std::size_t(levels));
        for (int i = 0; i < levels; ++i)
            palette[std::size_t(i)] = {std::uint8_t(red[i] >> shift),
                                       std::uint8_t(green[i] >> shift),
                                       std::uint8_t(blue[i] >> shift)};
    } else if (path == Path::Gray || path == Path::Gray16 || path == Path::GrayAlpha) {
        palette = detail::grayRamp(path == Path::Gray ? levels : 256);
        if (t.photometric == PHOTOMETRIC_MINISWHITE) std::reverse(palette.begin(), palette.end());
    }
    RowLayout layout;
    layout.width = int(t.width);
    layout.height = int(t.height);
    layout.bits = rasterBits;
    if (!palette.empty()) {
        layout.palette = palette.data();
        layout.paletteSize = int(std::min<std::size_t>(palette.size(), 256));
    }
    if (!sink.begin(layout)) return Stopped;

    const std::size_t rowBytes = std::size_t(t.width) * (rasterBits == 24 ? 3 : 1);
    std::vector<std::uint8_t> line(static_cast<std::size_t>(lineSize));
    std::vector<std::uint8_t> own;
    const bool direct =
        (path == Path::Rgb || ((path == Path::Palette || path == Path::Gray) && t.bps == 8)) &&
        std::size_t(lineSize) == rowBytes;
    std::uint32_t y = 0;
    if (strips.file && direct)
        if (const int rc = streamLzwStrips(tif, t, strips, rowBytes, sink, y); rc != Ok) return rc;
    for (; y < t.height; ++y) {
        std::uint8_t* row = sink.rowBuffer(int(y));
        if (!row) {
            own.resize(rowBytes);
            row = own.data();
        }
        std::uint8_t* buffer = direct ? row : line.data();
        if (TIFFReadScanline(tif, buffer, y, 0) < 0) return Corrupt;
        if (!direct) convertRow(path, t, samples, buffer, row);
        if (!sink.row(row)) return Stopped;
    }
    return Ok;
}

struct RgbaImageEnd {
    void operator()(TIFFRGBAImage* img) const { TIFFRGBAImageEnd(img); }
};

// libtiff's general conversion (CMYK, YCbCr and JPEG, tiles, separate planes, odd depths, Lab...)
// into 24-bit RGB, one band of rows at a time. Its output is premultiplied by alpha.
int readThroughRgba(TIFF* tif, const TiffLayout& t, Raster& out) {
    char message[1024] = {};
    if (!TIFFRGBAImageOK(tif, message)) return Unsupported;
    TIFFRGBAImage img{};
    if (!TIFFRGBAImageBegin(&img, tif, 0, message)) return Unsupported;
    std::unique_ptr<TIFFRGBAImage, RgbaImageEnd> guard(&img);
    // Rows in the order they are stored, as the scanline roads give them: the reader turns every
    // picture upright itself, in one place (libtiff would only mirror, never turn).
    img.req_orientation = img.orientation;

    // Bands follow the file's strips or tiles so that nothing is decoded twice.
    std::uint32_t band = 0;
    if (t.tiled) {
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &band);
    } else {
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &band);
    }
    if (band == 0 || band > t.height) band = t.height;
    // A compressed strip or tile is decoded from its start, so a band should not cut one in two:
    // the band is as tall as a strip, unless that needs more than 64 MiB of buffer (one huge
    // strip), in which case the strip is decoded again for each band: slower, but bounded.
    const std::uint32_t maxBand = std::max<std::uint32_t>(
        1, std::uint32_t((std::size_t(64) << 20) / (std::size_t(t.width) * 4)));
    band = std::min(band, maxBand);
    if (const int rc = allocateRaster(out, int(t.width), int(t.height), 24); rc != Ok) return rc;
    std::vector<std::uint32_t> pixels(std::size_t(t.width) * band);
    for (std::uint32_t y = 0; y < t.height; y += band) {
        const std::uint32_t rows = std::min(band, t.height - y);
        img.row_offset = int(y);
        img.col_offset = 0;
        if (!TIFFRGBAImageGet(&img, pixels.data(), t.width, rows)) return Corrupt;
        for (std::uint32_t r = 0; r < rows; ++r) {
            const std::uint32_t* p = pixels.data() + std::size_t(r) * t.width;
            std::uint8_t* o = out.row(int(y + r));
            for (std::uint32_t x = 0; x < t.width; ++x, o += 3) {
                const std::uint32_t v = p[x];
                const unsigned cover = 255u - TIFFGetA(v);
                o[0] = std::uint8_t(std::min(255u, TIFFGetR(v) + cover));
                o[1] = std::uint8_t(std::min(255u, TIFFGetG(v) + cover));
                o[2] = std::uint8_t(std::min(255u, TIFFGetB(v) + cover));
            }
        }
    }
    return Ok;
}

// Decodes the picture into sink, turned upright: the common layouts row by row, unusual sample
// formats and alpha by the sample road, the others through libtiff's RGBA conversion of the whole
// picture.
int decodeTiff(const std::string& file, const DecodeOptions& options, RowSink& sink) {
    CFile f;
    detail::TiffInput in;
    TiffMessages messages;
    TiffHandle tif;
    if (const int rc = detail::openTiffForRead(file, f, in, messages, tif, true); rc != Ok)
        return rc;
    TIFF* t = tif.get();
    TiffLayout layout;
    if (!TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &layout.width) ||
        !TIFFGetField(t, TIFFTAG_IMAGELENGTH, &layout.height))
        return Corrupt;
    if (const int rc = detail::checkDimensions(layout.width, layout.height); rc != Ok) return rc;
    std::uint16_t stored = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(t, TIFFTAG_ORIENTATION, &stored);
    const int orientation = stored;
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &layout.bps);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &layout.spp);
    TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &layout.planar);
    TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &layout.compression);
    TIFFGetFieldDefaulted(t, TIFFTAG_EXTRASAMPLES, &layout.extraCount, &layout.extraTypes);
    TIFFGetFieldDefaulted(t, TIFFTAG_INKSET, &layout.inkSet);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &layout.sampleFormat);
    if (!TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &layout.photometric))
        layout.photometric = layout.spp >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISWHITE;
    layout.tiled = TIFFIsTiled(t) != 0;
    if (!TIFFIsCODECConfigured(layout.compression)) return Unsupported;
    std::uint64_t storedBytes = 0;
    if (const int rc = checkStriles(t, in.size(), storedBytes); rc != Ok) return rc;
    if (!dataFitsImage(layout, storedBytes)) return Truncated;

    Path path = Path::Rgb;
    if (scanlinePath(layout, path)) {
        detail::OrientingSink upright(sink, orientation);
        const LzwStrips strips = options.fastPaths ? lzwStripsOf(t, layout, path, in) : LzwStrips{};
        return streamScanlines(t, layout, path, strips, upright);
    }
    if (detail::needsSamplePath(layout) && detail::samplePathReads(layout)) {
        detail::OrientingSink upright(sink, orientation);
        return detail::streamSamples(t, layout, upright);
    }
    Raster raster;
    if (const int rc = readThroughRgba(t, layout, raster); rc != Ok) return rc;
    detail::OrientingSink upright(sink, orientation);
    return upright.image(std::move(raster)) ? Ok : Stopped;
}

} // namespace

namespace detail {

int decodeTiffFile(const std::string& file, const DecodeOptions& options, RowSink& sink) {
    try {
        return decodeTiff(file, options, sink);
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
}

} // namespace detail

int readTiff(const std::string& file, int bits, int dither, Raster& out) {
    return detail::readThroughSink(detail::decodeTiffFile, file, DecodeOptions{}, bits, dither,
                                   out);
}

} // namespace pixmoor::codec
