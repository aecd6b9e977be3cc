// PNG for the codec library over libpng: the information call, the reader (every colour type and
// depth, Adam7, tRNS and alpha over white) and the writer at 1, 4, 8 and 24 bits.
#include "imaging/codec/codec.h"
#include "imaging/codec/format_io.h"
#include "imaging/codec/formats.h"
#include "imaging/codec/png_common.h"

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstring>

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

namespace {

// State shared with libpng's callbacks; lives in the caller's frame (see decodePng).
struct PngJob : detail::PngIo {
    png_structp png;
    png_infop info;
    Raster* out;
    const Raster* in; // writer: the raster to encode
    png_bytepp rows;  // writer: one pointer per raster row
    int depth;        // writer: 1, 4, 8 or 24
    int interlace;    // writer
    Rgb palette[256]; // reader: the raster's palette, installed once libpng is done
    int paletteSize;
};

void writePngData(png_structp png, png_bytep data, std::size_t length) {
    auto* job = static_cast<PngJob*>(png_get_io_ptr(png));
    if (std::fwrite(data, 1, length, job->file) != length) png_error(png, "Write failed");
}

void flushPngData(png_structp) {}

// Decodes into job->out. Only trivially destructible locals: libpng may longjmp back here.
int decodePng(PngJob* job) {
    job->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, static_cast<detail::PngIo*>(job),
                                      detail::onPngError, detail::onPngWarning);
    if (!job->png) return OutOfMemory;
    job->info = png_create_info_struct(job->png);
    if (!job->info) {
        png_destroy_read_struct(&job->png, nullptr, nullptr);
        return OutOfMemory;
    }
    if (setjmp(png_jmpbuf(job->png))) {
        png_destroy_read_struct(&job->png, &job->info, nullptr);
        return detail::pngReadFailure(*job);
    }
    png_set_read_fn(job->png, static_cast<detail::PngIo*>(job), detail::readPngData);
    detail::applyPngReadLimits(job->png);
    png_read_info(job->png, job->info);

    const png_uint_32 width = png_get_image_width(job->png, job->info);
    const png_uint_32 height = png_get_image_height(job->png, job->info);
    int rc = detail::checkDimensions(width, height);
    if (rc == Ok) rc = detail::checkPngDataFits(job->png, job->info, job->file);
    int rasterBits = 0;
    if (rc == Ok)
        rc = detail::setUpPngTransforms(job->png, job->info, job->palette, job->paletteSize,
                                        rasterBits);
    if (rc == Ok) rc = allocateRaster(*job->out, int(width), int(height), rasterBits);
    if (rc == Ok) {
        const int passes = png_set_interlace_handling(job->png);
        png_read_update_info(job->png, job->info);
        // The transformations must leave exactly one raster row per PNG row.
        const std::size_t rowBytes = png_get_rowbytes(job->png, job->info);
        const std::size_t expected = std::size_t(width) * (rasterBits == 24 ? 3 : 1);
        if (rowBytes != expected || rowBytes > job->out->stride) {
            rc = Unsupported;
        } else {
            for (int pass = 0; pass < passes; ++pass)
                for (png_uint_32 y = 0; y < height; ++y)
                    png_read_row(job->png, job->out->row(int(y)), nullptr);
        }
    }
    png_destroy_read_struct(&job->png, &job->info, nullptr);
    return rc;
}

// Encodes job->in. Only trivially destructible locals: libpng may longjmp back here.
int encodePng(PngJob* job) {
    job->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, static_cast<detail::PngIo*>(job),
                                       detail::onPngError, detail::onPngWarning);
    if (!job->png) return OutOfMemory;
    job->info = png_create_info_struct(job->png);
    if (!job->info) {
        png_destroy_write_struct(&job->png, nullptr);
        return OutOfMemory;
    }
    if (setjmp(png_jmpbuf(job->png))) {
        png_destroy_write_struct(&job->png, &job->info);
        return std::strstr(job->message, "memory") ? OutOfMemory : WriteFailed;
    }
    png_set_write_fn(job->png, job, writePngData, flushPngData);
    const Raster& in = *job->in;
    const bool indexed = job->depth != 24;
    png_set_IHDR(job->png, job->info, png_uint_32(in.width), png_uint_32(in.height),
                 indexed ? job->depth : 8, indexed ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB,
                 job->interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (indexed) {
        png_color entries[256];
        const int count =
            int(std::min<std::size_t>(in.palette.size(), std::size_t(1) << job->depth));
        for (int i = 0; i < count; ++i)
            entries[i] = {in.palette[std::size_t(i)].r, in.palette[std::size_t(i)].g,
                          in.palette[std::size_t(i)].b};
        png_set_PLTE(job->png, job->info, entries, count);
    }
    png_write_info(job->png, job->info);
    if (indexed && job->depth < 8) png_set_packing(job->png);
    png_write_image(job->png, job->rows);
    png_write_end(job->png, job->info);
    png_destroy_write_struct(&job->png, &job->info);
    return Ok;
}

} // namespace

namespace {

int readPngUnguarded(const std::string& file, int bits, int dither, Raster& out) {
    out = Raster{};
    if (!detail::validDepth(bits)) return BadDepth;
    CFile f;
    if (const int rc = detail::openForRead(file, f); rc != Ok) return rc;
    std::uint8_t signature[8];
    const std::size_t got = std::fread(signature, 1, 8, f.get());
    if (got < 8 || png_sig_cmp(signature, 0, 8) != 0)
        return got < 8 && got > 0 && png_sig_cmp(signature, 0, got) == 0 ? Truncated
                                                                         : NotThisFormat;
    std::rewind(f.get());

    auto job = std::make_unique<PngJob>(); // 1 KiB of palette: kept off the stack
    job->file = f.get();
    job->out = &out;
    int rc = decodePng(job.get());
    if (rc == Ok) {
        out.palette.assign(job->palette, job->palette + job->paletteSize);
        if (out.indexed()) detail::coverIndices(out);
    }
    if (rc == Ok) rc = convertDepth(out, bits, dither);
    if (rc != Ok) out = Raster{};
    return rc;
}

} // namespace

// An allocation failure anywhere inside ends as OutOfMemory: nothing throws across the interface.
int readPng(const std::string& file, int bits, int dither, Raster& out) {
    try {
        return readPngUnguarded(file, bits, dither, out);
    } catch (const std::bad_alloc&) {
        out = Raster{};
        return OutOfMemory;
    }
}

namespace {

int writePngUnguarded(const std::string& file, int bits, int interlace, const Raster& in) {
    if (interlace != 0 && interlace != 1) return BadParameter;
    int rc = Ok;
    Raster scratch;
    const Raster* image = detail::rasterForDepth(in, bits, scratch, rc);
    if (!image) return rc;
    std::vector<png_bytep> rows;
    try {
        rows.resize(std::size_t(image->height));
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
    for (int y = 0; y < image->height; ++y)
        rows[std::size_t(y)] = const_cast<png_bytep>(image->row(y));

    detail::OutputFile output;
    if (const int orc = output.open(file); orc != Ok) return orc;
    PngJob job{};
    job.file = output.get();
    job.in = image;
    job.rows = rows.data();
    job.depth = bits == 0 ? 4 : bits;
    job.interlace = interlace;
    rc = encodePng(&job);
    if (rc != Ok) {
        output.abandon();
        return rc;
    }
    return output.commit();
}

} // namespace

// An allocation failure anywhere inside ends as OutOfMemory: nothing throws across the interface.
int writePng(const std::string& file, int bits, int interlace, const Raster& in) {
    try {
        return writePngUnguarded(file, bits, interlace, in);
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
}

namespace detail {

int setUpPngTransforms(png_structp png, png_infop info, Rgb* palette, int& paletteSize,
                       int& rasterBits) {
    const int colourType = png_get_color_type(png, info);
    const int depth = png_get_bit_depth(png, info);
    const bool hasTrns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    paletteSize = 0;

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
    if (std::fread(data, 1, length, io->file) != length) {
        if (std::ferror(io->file))
            io->readError = true;
        else
            io->eof = true;
        png_error(png, "Read past the end of the file");
    }
}

int checkPngDataFits(png_structp png, png_infop info, std::FILE* file) {
    const std::uint64_t width = png_get_image_width(png, info);
    const std::uint64_t height = png_get_image_height(png, info);
    const std::uint64_t pixelBits =
        std::uint64_t(png_get_bit_depth(png, info)) * png_get_channels(png, info);
    const std::uint64_t rawBytes = height * (1 + (width * pixelBits + 7) / 8);
    const auto fileBytes = std::uint64_t(std::max<std::int64_t>(0, fileSize(file)));
    return plausibleExpansion(rawBytes, fileBytes, kMaxDeflateExpansion) ? Ok : Truncated;
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
