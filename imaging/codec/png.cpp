// The PNG reader of the codec library over libpng: the information call and the one decoder of
// PNG data (every colour type and depth, Adam7, tRNS and alpha over white, or kept on request),
// from a file or from memory, streaming its rows. For thumbnails of plain files it may take a
// faster road of its own: the whole image data inflated at once by libdeflate.
#include "imaging/codec/codec.h"
#include "imaging/codec/decode.h"
#include "imaging/codec/format_io.h"
#include "imaging/codec/formats.h"
#include "imaging/codec/png_common.h"
#include "imaging/codec/png_filters.h"
#include "imaging/codec/raster_sink.h"
#include "imaging/codec/scratch_buffer.h"
#include "imaging/codec/strategy.h"

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <png.h>

namespace pixmoor::codec {

using detail::CFile;

namespace detail {

namespace {

constexpr std::array<std::uint8_t, 8> kPngSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::uint32_t be32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

} // namespace

// Reads the header chunk and walks the chunk list up to the image data for the palette size and
// the frame count of animated files; the compressed data is not inflated.
int infoPng(const std::string& file, ImageInfo& out) {
    out = ImageInfo{};
    CFile f;
    if (const int rc = openForRead(file, f); rc != Ok) return rc;
    std::FILE* in = f.get();
    std::uint8_t head[33];
    const std::size_t got = std::fread(head, 1, sizeof head, in);
    if (got < 8 || !std::equal(kPngSignature.begin(), kPngSignature.end(), head))
        return NotThisFormat;
    if (got < sizeof head) return Truncated;
    if (be32(head + 8) != 13 || std::memcmp(head + 12, "IHDR", 4) != 0) return Corrupt;
    const std::uint32_t width = be32(head + 16);
    const std::uint32_t height = be32(head + 20);
    const int depth = head[24];
    const int colourType = head[25];
    const int interlace = head[28];
    int channels = 0;
    switch (colourType) {
    case 0:
        channels = 1;
        break;
    case 2:
        channels = 3;
        break;
    case 3:
        channels = 1;
        break;
    case 4:
        channels = 2;
        break;
    case 6:
        channels = 4;
        break;
    default:
        return Corrupt;
    }
    if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF) return Corrupt;
    if (depth != 1 && depth != 2 && depth != 4 && depth != 8 && depth != 16) return Corrupt;
    if (interlace > 1) return Corrupt;

    out.format = "PNG";
    out.width = std::int32_t(width);
    out.height = std::int32_t(height);
    out.bitsPerPixel = depth * channels;
    out.colours = colourType == 0 && depth <= 8 ? 1 << depth : 0;
    out.pages = 1;
    out.detail = interlace ? "Interlaced" : "Non-interlaced";

    // Chunks after IHDR, up to the first IDAT; a damaged tail here does not spoil the header.
    for (int chunks = 0; chunks < 100000; ++chunks) {
        std::uint8_t chunk[8];
        if (std::fread(chunk, 1, 8, in) != 8) break;
        const std::uint32_t length = be32(chunk);
        if (length > 0x7FFFFFFF) break;
        if (std::memcmp(chunk + 4, "IDAT", 4) == 0 || std::memcmp(chunk + 4, "IEND", 4) == 0) break;
        if (std::memcmp(chunk + 4, "PLTE", 4) == 0 && colourType == 3) {
            out.colours = int(std::min<std::uint32_t>(length / 3, 256));
        } else if (std::memcmp(chunk + 4, "acTL", 4) == 0 && length >= 8) {
            std::uint8_t actl[8];
            if (std::fread(actl, 1, 8, in) != 8) break;
            const std::uint32_t frames = be32(actl);
            if (frames > 0 && frames <= 0x7FFFFFFF) out.pages = std::int32_t(frames);
            if (std::fseek(in, long(length) - 8 + 4, SEEK_CUR) != 0) break;
            continue;
        }
        if (std::fseek(in, long(length) + 4, SEEK_CUR) != 0) break;
    }
    return Ok;
}

} // namespace detail

// ---- the whole-buffer road -----------------------------------------------------------------

namespace detail {

namespace {

struct DecompressorFree {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// libpng's 8-bit composition over a background (round(fg * a + bg * (255 - a)) / 255).
inline std::uint8_t composeOverWhite(unsigned value, unsigned alpha) {
    return overWhite(value, alpha);
}

// The rows of a plain PNG held in data, its image data inflated in one call by libdeflate (two
// to three times zlib's speed) and unfiltered here: row for row what the libpng road gives.
// Non-interlaced 8-bit RGB, RGBA, gray-alpha, and gray or palette of 1 to 8 bits, every CRC
// checked; Declined, with nothing sent, for any other file or any doubt.
Strategy decodeWhole(const unsigned char* data, std::size_t size, RowSink& sink) {
    using R = Strategy;
    static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (!data || size < 8 + 25 || std::memcmp(data, kSignature, 8) != 0) return R::Declined;

    std::uint32_t width = 0, height = 0;
    int depth = 0, colourType = -1;
    std::array<Rgb, 256> palette{};
    int paletteSize = 0;
    std::array<std::uint8_t, 256> alphas{};
    int alphaCount = 0;
    int transparentGray = -1;
    ScratchBuffer compressedBuffer;
    std::vector<std::uint8_t>& compressed = compressedBuffer.get();
    bool sawHeader = false, sawData = false, dataEnded = false, sawEnd = false;

    std::size_t pos = 8;
    while (pos + 12 <= size && !sawEnd) {
        const std::uint32_t length = be32(data + pos);
        if (length > 0x7FFFFFFF || std::size_t(length) + 12 > size - pos) return R::Declined;
        const std::uint8_t* type = data + pos + 4;
        const std::uint8_t* body = data + pos + 8;
        const std::uint32_t crc = be32(body + length);
        if (libdeflate_crc32(0, type, std::size_t(length) + 4) != crc) return R::Declined;
        const bool critical = (type[0] & 0x20) == 0;
        const auto is = [type](const char* name) { return std::memcmp(type, name, 4) == 0; };

        if (!sawHeader) {
            if (!is("IHDR") || length != 13) return R::Declined;
            width = be32(body);
            height = be32(body + 4);
            depth = body[8];
            colourType = body[9];
            if (body[10] != 0 || body[11] != 0 || body[12] != 0) return R::Declined; // interlaced
            if (checkDimensions(width, height) != Ok) return R::Declined;
            const bool indexDepth = depth == 1 || depth == 2 || depth == 4 || depth == 8;
            const bool supported =
                ((colourType == 0 || colourType == 3) && indexDepth) ||
                ((colourType == 2 || colourType == 4 || colourType == 6) && depth == 8);
            if (!supported) return R::Declined;
            sawHeader = true;
        } else if (is("IDAT")) {
            if (dataEnded) return R::Declined; // a second run of data chunks
            if (colourType == 3 && paletteSize == 0) return R::Declined;
            sawData = true;
            compressed.insert(compressed.end(), body, body + length);
        } else {
            if (sawData) dataEnded = true;
            if (is("IEND")) {
                sawEnd = true;
            } else if (is("PLTE")) {
                if (sawData || paletteSize || length == 0 || length % 3 || length > 768)
                    return R::Declined;
                if (colourType == 0 || colourType == 4) return R::Declined;
                if (colourType == 3) {
                    paletteSize = int(length / 3);
                    for (int i = 0; i < paletteSize; ++i)
                        palette[std::size_t(i)] = {body[3 * i], body[3 * i + 1], body[3 * i + 2]};
                }
            } else if (is("tRNS")) {
                if (sawData || alphaCount || transparentGray >= 0) return R::Declined;
                if (colourType == 3 && paletteSize && length >= 1 && int(length) <= paletteSize) {
                    alphaCount = int(length);
                    std::copy(body, body + length, alphas.begin());
                } else if (colourType == 0 && length == 2) {
                    transparentGray = int(body[0]) << 8 | body[1];
                } else {
                    return R::Declined; // RGB colour keys and anything odd go to libpng
                }
            } else if (critical) {
                return R::Declined;
            }
        }
        pos += std::size_t(length) + 12;
    }
    if (!sawEnd || !sawData) return R::Declined;

    const int channels = colourType == 2 ? 3 : colourType == 4 ? 2 : colourType == 6 ? 4 : 1;
    const std::size_t rowBytes = (std::size_t(width) * std::size_t(channels * depth) + 7) / 8;
    const std::size_t bpp = std::max<std::size_t>(1, std::size_t(channels * depth) / 8);
    const std::size_t expected = (rowBytes + 1) * std::size_t(height);
    // The rows are allocated only when the compressed data can fill them.
    if (!plausibleExpansion(expected, compressed.size(), limits::kMaxDeflateExpansion)) return R::Declined;
    ScratchBuffer rawBuffer;
    std::vector<std::uint8_t>& raw = rawBuffer.get();
    try {
        raw.resize(expected);
    } catch (const std::bad_alloc&) {
        return R::Declined;
    }
    std::unique_ptr<libdeflate_decompressor, DecompressorFree> inflater(
        libdeflate_alloc_decompressor());
    if (!inflater) return R::Declined;
    std::size_t produced = 0;
    if (libdeflate_zlib_decompress(inflater.get(), compressed.data(), compressed.size(), raw.data(),
                                   raw.size(), &produced) != LIBDEFLATE_SUCCESS ||
        produced != expected)
        return R::Declined;

    // The colours the rows index, as readPng builds them.
    std::vector<std::uint8_t> out;
    const Rgb* sinkPalette = nullptr;
    int sinkPaletteSize = 0;
    if (colourType == 3) {
        const int count = std::min(paletteSize, 1 << depth);
        for (int i = 0; i < count; ++i) {
            const unsigned a = i < alphaCount ? alphas[std::size_t(i)] : 255;
            const Rgb c = palette[std::size_t(i)];
            palette[std::size_t(i)] = {overWhite(c.r, a), overWhite(c.g, a), overWhite(c.b, a)};
        }
        sinkPalette = palette.data();
        sinkPaletteSize = count;
    } else if (colourType == 0) {
        const int levels = 1 << depth;
        for (int i = 0; i < levels; ++i) {
            const auto v = std::uint8_t(i * 255 / (levels - 1));
            palette[std::size_t(i)] = {v, v, v};
        }
        if (transparentGray >= 0 && transparentGray < levels)
            palette[std::size_t(transparentGray)] = {255, 255, 255};
        sinkPalette = palette.data();
        sinkPaletteSize = levels;
    } else if (colourType == 4) {
        for (int i = 0; i < 256; ++i)
            palette[std::size_t(i)] = {std::uint8_t(i), std::uint8_t(i), std::uint8_t(i)};
        sinkPalette = palette.data();
        sinkPaletteSize = 256;
    }
    const bool rgbRows = colourType == 2 || colourType == 6;
    out.resize(std::size_t(width) * (rgbRows ? 3 : 1));
    // A bad filter byte means libpng must judge the file; rows sent cannot be taken back, so
    // they are all checked before the first goes out.
    for (std::uint32_t y = 0; y < height; ++y)
        if (raw[std::size_t(y) * (rowBytes + 1)] > 4) return R::Declined;
    RowLayout layout;
    layout.width = int(width);
    layout.height = int(height);
    layout.palette = sinkPalette;
    layout.paletteSize = sinkPaletteSize;
    layout.bits =
        rgbRows ? 24
                : (colourType == 3 && depth == 1 ? 1 : (colourType == 3 && depth <= 4 ? 4 : 8));
    if (!sink.begin(layout)) return R::Stopped;

    const std::vector<std::uint8_t> zeros(rowBytes, 0);
    const std::uint8_t* previous = nullptr;
    for (std::uint32_t y = 0; y < height; ++y) {
        std::uint8_t* line = raw.data() + std::size_t(y) * (rowBytes + 1);
        std::uint8_t* row = line + 1;
        unfilter(line[0], row, previous, rowBytes, bpp, zeros.data());
        previous = row;
        const std::uint8_t* pixels = row;
        switch (colourType) {
        case 2:
            break;
        case 6:
            for (std::uint32_t x = 0; x < width; ++x) {
                const std::uint8_t* p = row + 4 * std::size_t(x);
                out[3 * x] = composeOverWhite(p[0], p[3]);
                out[3 * x + 1] = composeOverWhite(p[1], p[3]);
                out[3 * x + 2] = composeOverWhite(p[2], p[3]);
            }
            pixels = out.data();
            break;
        case 4:
            for (std::uint32_t x = 0; x < width; ++x)
                out[x] = composeOverWhite(row[2 * x], row[2 * x + 1]);
            pixels = out.data();
            break;
        default: // indices of 1, 2, 4 or 8 bits, first pixel in the high bits
            if (depth == 8) break;
            for (std::uint32_t x = 0; x < width; ++x) {
                const std::size_t bit = std::size_t(x) * std::size_t(depth);
                const int shift = 8 - depth - int(bit % 8);
                out[x] = std::uint8_t((row[bit / 8] >> shift) & ((1 << depth) - 1));
            }
            pixels = out.data();
            break;
        }
        if (!sink.row(pixels)) return R::Stopped;
    }
    return R::Done;
}

} // namespace

} // namespace detail

// ---- the libpng road -----------------------------------------------------------------------

namespace {

// State shared with libpng's callbacks; lives in the caller's frame (see decodeWithLibpng).
struct PngReadJob : detail::PngIo {
    png_structp png;
    png_infop info;
    RowSink* sink;
    bool keepAlpha;      // RGBA rows instead of alpha over white
    Rgb* palette;        // 256 entries, from libpng's allocator
    png_bytep rowBuffer; // one row, or the whole image of an interlaced file
    bool stopped;
};

// Decodes into job->sink. Only trivially destructible locals: libpng may longjmp back here.
int decodeWithLibpng(PngReadJob* job) {
    job->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, static_cast<detail::PngIo*>(job),
                                      detail::onPngError, detail::onPngWarning);
    if (!job->png) return OutOfMemory;
    job->info = png_create_info_struct(job->png);
    if (!job->info) {
        png_destroy_read_struct(&job->png, nullptr, nullptr);
        return OutOfMemory;
    }
    job->palette = static_cast<Rgb*>(png_malloc_warn(job->png, 256 * sizeof(Rgb)));
    if (!job->palette) {
        png_destroy_read_struct(&job->png, &job->info, nullptr);
        return OutOfMemory;
    }
    if (setjmp(png_jmpbuf(job->png))) {
        png_free(job->png, job->rowBuffer);
        png_free(job->png, job->palette);
        png_destroy_read_struct(&job->png, &job->info, nullptr);
        return job->stopped ? Stopped : detail::pngReadFailure(*job);
    }
    png_set_read_fn(job->png, static_cast<detail::PngIo*>(job), detail::readPngData);
    detail::applyPngReadLimits(job->png);
    png_read_info(job->png, job->info);

    const png_uint_32 width = png_get_image_width(job->png, job->info);
    const png_uint_32 height = png_get_image_height(job->png, job->info);
    int rc = detail::checkDimensions(width, height);
    if (rc == Ok) {
        const std::int64_t inputBytes =
            job->file ? detail::fileSize(job->file) : std::int64_t(job->size);
        rc = detail::checkPngDataFits(job->png, job->info,
                                      std::uint64_t(std::max<std::int64_t>(0, inputBytes)));
    }
    bool rgb = false;
    std::size_t pixelBytes = 1;
    RowLayout layout;
    if (rc == Ok) {
        int rasterBits = 0;
        rc = detail::setUpPngTransforms(job->png, job->info, job->keepAlpha, job->palette,
                                        layout.paletteSize, rasterBits);
        rgb = rasterBits >= 24;
        pixelBytes = rasterBits == 32 ? 4 : rgb ? 3 : 1;
        layout.bits = rasterBits;
    }
    RowSink& sink = *job->sink;
    if (rc == Ok) {
        const int passes = png_set_interlace_handling(job->png);
        png_read_update_info(job->png, job->info);
        // The transformations must leave exactly one pixel per byte (three for RGB, four for
        // RGBA).
        const std::size_t rowBytes = png_get_rowbytes(job->png, job->info);
        layout.width = int(width);
        layout.height = int(height);
        layout.palette = rgb ? nullptr : job->palette;
        if (rowBytes != std::size_t(width) * pixelBytes) {
            rc = Unsupported;
        } else if (!sink.begin(layout)) {
            rc = Stopped;
        } else if (passes == 1) {
            job->rowBuffer = static_cast<png_bytep>(png_malloc_warn(job->png, rowBytes));
            if (!job->rowBuffer) rc = OutOfMemory;
            for (png_uint_32 y = 0; rc == Ok && y < height; ++y) {
                std::uint8_t* target = sink.rowBuffer(int(y));
                if (!target) target = job->rowBuffer;
                png_read_row(job->png, target, nullptr);
                if (!sink.row(target)) rc = Stopped;
            }
        } else {
            // Adam7: every pass refines rows all over the image, so all of it is kept: in the
            // sink's own rows when it offers them, else in one buffer.
            const bool inPlace = sink.rowBuffer(0) != nullptr;
            if (!inPlace) {
                job->rowBuffer = static_cast<png_bytep>(
                    png_malloc_warn(job->png, rowBytes * std::size_t(height)));
                if (!job->rowBuffer) rc = OutOfMemory;
            }
            auto rowAt = [&](png_uint_32 y) {
                return inPlace ? sink.rowBuffer(int(y)) : job->rowBuffer + rowBytes * y;
            };
            for (int pass = 0; rc == Ok && pass < passes; ++pass) {
                for (png_uint_32 y = 0; y < height; ++y) png_read_row(job->png, rowAt(y), nullptr);
                if (!sink.keepGoing()) rc = Stopped;
            }
            for (png_uint_32 y = 0; rc == Ok && y < height; ++y)
                if (!sink.row(rowAt(y))) rc = Stopped;
        }
    }
    png_free(job->png, job->rowBuffer);
    job->rowBuffer = nullptr;
    png_free(job->png, job->palette);
    png_destroy_read_struct(&job->png, &job->info, nullptr);
    return rc;
}

} // namespace

namespace detail {

namespace {

// The libpng road over a job whose input (file or bytes) is set.
int decodeJob(std::unique_ptr<PngReadJob> job, const DecodeOptions& options, RowSink& sink) {
    job->sink = &sink;
    job->keepAlpha = options.keepAlpha;
    return decodeWithLibpng(job.get());
}

} // namespace

int decodePng(const std::string& file, const DecodeOptions& options, RowSink& sink) {
    try {
        CFile f;
        if (const int rc = openForRead(file, f); rc != Ok) return rc;
        if (options.fastPaths) {
            // Read whole, the file is decoded from memory (plain files inflated in one call).
            ScratchBuffer fileBytes;
            std::vector<unsigned char>& bytes = fileBytes.get();
            int rc = Ok;
            if (readWholeFile(f.get(), bytes, rc))
                return decodePngData(bytes.data(), bytes.size(), options, sink);
            if (rc != Ok) return rc;
        }
        std::uint8_t signature[8];
        const std::size_t got = std::fread(signature, 1, 8, f.get());
        if (got < 8 || png_sig_cmp(signature, 0, 8) != 0)
            return got < 8 && got > 0 && png_sig_cmp(signature, 0, got) == 0 ? Truncated
                                                                             : NotThisFormat;
        std::rewind(f.get());
        auto job = std::make_unique<PngReadJob>();
        job->file = f.get();
        return decodeJob(std::move(job), options, sink);
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
}

} // namespace detail

int decodePngData(const std::uint8_t* data, std::size_t size, const DecodeOptions& options,
                  RowSink& sink) {
    try {
        if (!data || size == 0) return NotThisFormat;
        if (options.fastPaths && !options.keepAlpha) {
            int rc = Ok;
            if (detail::settled(detail::decodeWhole(data, size, sink), rc)) return rc;
        }
        if (size < 8 || png_sig_cmp(data, 0, 8) != 0)
            return size < 8 && png_sig_cmp(data, 0, size) == 0 ? Truncated : NotThisFormat;
        auto job = std::make_unique<PngReadJob>();
        job->bytes = data;
        job->size = size;
        return detail::decodeJob(std::move(job), options, sink);
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
}

int readPng(const std::string& file, int bits, int dither, Raster& out) {
    return detail::readThroughSink(detail::decodePng, file, DecodeOptions{}, bits, dither, out);
}

namespace detail {

int setUpPngTransforms(png_structp png, png_infop info, bool keepAlpha, Rgb* palette,
                       int& paletteSize, int& rasterBits) {
    const int colourType = png_get_color_type(png, info);
    const int depth = png_get_bit_depth(png, info);
    const bool hasTrns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    paletteSize = 0;

    if (keepAlpha) {
        if (colourType == PNG_COLOR_TYPE_PALETTE && !png_get_valid(png, info, PNG_INFO_PLTE))
            return Corrupt;
        // Palette, low-depth gray and tRNS expanded to 8-bit samples with an alpha channel;
        // 16-bit samples rounded to 8 (as Qt reads them), gray spread over R, G and B.
        png_set_expand(png);
        if (depth == 16) png_set_scale_16(png);
        if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA)
            png_set_gray_to_rgb(png);
        if (!(colourType & PNG_COLOR_MASK_ALPHA) && !hasTrns)
            png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
        rasterBits = 32;
        return Ok;
    }

    const auto indexBits = [](int d) { return d == 1 ? 1 : (d <= 4 ? 4 : 8); };
    if (colourType == PNG_COLOR_TYPE_PALETTE) {
        png_colorp entries = nullptr;
        int count = 0;
        if (!png_get_PLTE(png, info, &entries, &count) || count <= 0) return Corrupt;
        png_bytep alphas = nullptr;
        int alphaCount = 0;
        if (hasTrns) png_get_tRNS(png, info, &alphas, &alphaCount, nullptr);
        count = std::min(count, 1 << depth);
        for (int i = 0; i < count; ++i) {
            const unsigned a = alphas && i < alphaCount ? alphas[i] : 255;
            palette[i] = {detail::overWhite(entries[i].red, a),
                          detail::overWhite(entries[i].green, a),
                          detail::overWhite(entries[i].blue, a)};
        }
        paletteSize = count;
        if (depth < 8) png_set_packing(png);
        rasterBits = indexBits(depth);
        return Ok;
    }
    if (colourType == PNG_COLOR_TYPE_GRAY && depth <= 8) {
        // Gray up to 8 bits is an index into a gray ramp; a transparent gray level turns white.
        const int levels = 1 << depth;
        for (int i = 0; i < levels; ++i) {
            const auto v = std::uint8_t(i * 255 / (levels - 1));
            palette[i] = {v, v, v};
        }
        png_color_16p transparent = nullptr;
        if (hasTrns && png_get_tRNS(png, info, nullptr, nullptr, &transparent) && transparent &&
            transparent->gray < levels)
            palette[transparent->gray] = {255, 255, 255};
        paletteSize = levels;
        if (depth < 8) png_set_packing(png);
        rasterBits = indexBits(depth);
        return Ok;
    }
    if (depth == 16) png_set_strip_16(png);
    const bool gray = colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA;
    if (hasTrns || (colourType & PNG_COLOR_MASK_ALPHA)) {
        png_color_16 white{};
        white.red = white.green = white.blue = white.gray = 255;
        png_set_background_fixed(png, &white, PNG_BACKGROUND_GAMMA_SCREEN, 0, PNG_FP_1);
    }
    if (gray) {
        for (int i = 0; i < 256; ++i)
            palette[i] = {std::uint8_t(i), std::uint8_t(i), std::uint8_t(i)};
        paletteSize = 256;
        rasterBits = 8;
    } else {
        rasterBits = 24;
    }
    return Ok;
}

void onPngError(png_structp png, png_const_charp message) {
    auto* io = static_cast<PngIo*>(png_get_error_ptr(png));
    if (io && message) std::snprintf(io->message, sizeof io->message, "%s", message);
    png_longjmp(png, 1); // never returns; the default handler would print
}

void onPngWarning(png_structp, png_const_charp) {}

void readPngData(png_structp png, png_bytep data, std::size_t length) {
    auto* io = static_cast<PngIo*>(png_get_io_ptr(png));
    if (!io->file) {
        if (length > io->size - io->position) {
            io->eof = true;
            png_error(png, "Read past the end of the data");
        }
        std::memcpy(data, io->bytes + io->position, length);
        io->position += length;
        return;
    }
    if (std::fread(data, 1, length, io->file) != length) {
        if (std::ferror(io->file))
            io->readError = true;
        else
            io->eof = true;
        png_error(png, "Read past the end of the file");
    }
}

int checkPngDataFits(png_structp png, png_infop info, std::uint64_t inputBytes) {
    const std::uint64_t width = png_get_image_width(png, info);
    const std::uint64_t height = png_get_image_height(png, info);
    const std::uint64_t pixelBits =
        std::uint64_t(png_get_bit_depth(png, info)) * png_get_channels(png, info);
    const std::uint64_t rawBytes = height * (1 + (width * pixelBits + 7) / 8);
    return plausibleExpansion(rawBytes, inputBytes, limits::kMaxDeflateExpansion) ? Ok : Truncated;
}

int pngReadFailure(const PngIo& io) {
    if (io.readError) return ReadFailed;
    if (io.eof) return Truncated;
    if (std::strstr(io.message, "memory")) return OutOfMemory;
    if (std::strstr(io.message, "exceeds user limit")) return TooLarge;
    return Corrupt;
}

} // namespace detail

} // namespace pixmoor::codec
