// JPEG for the codec library over libjpeg-turbo's libjpeg API: the information call, the reader
// (with DCT-scaled decoding for thumbnails) and the writer with quality and smoothing.
#include "imaging/codec/codec.h"
#include "imaging/codec/format_io.h"
#include "imaging/codec/formats.h"
#include "imaging/codec/jpeg_errors.h"

#include <algorithm>
#include <csetjmp>
#include <cstring>

#include <jpeglib.h>

namespace pixmoor::codec {

using detail::CFile;

namespace detail {

namespace {

// Reads one byte; -1 at the end of the file.
int nextByte(std::FILE* f) {
    return std::getc(f);
}

int read16(std::FILE* f) {
    const int hi = nextByte(f);
    const int lo = nextByte(f);
    return (hi < 0 || lo < 0) ? -1 : (hi << 8) | lo;
}

const char* frameKind(int marker) {
    switch (marker) {
    case 0xC0:
        return "Baseline";
    case 0xC1:
        return "Extended sequential";
    case 0xC2:
        return "Progressive";
    case 0xC3:
        return "Lossless";
    case 0xC9:
        return "Arithmetic";
    case 0xCA:
        return "Progressive arithmetic";
    case 0xCB:
        return "Lossless arithmetic";
    default:
        return "Hierarchical";
    }
}

} // namespace

// Walks the marker segments up to the frame header; no pixel data is decoded.
int infoJpeg(const std::string& file, ImageInfo& out) {
    out = ImageInfo{};
    CFile f;
    if (const int rc = openForRead(file, f); rc != Ok) return rc;
    std::FILE* in = f.get();
    if (nextByte(in) != 0xFF || nextByte(in) != 0xD8) return NotThisFormat;
    for (;;) {
        // Stray bytes between segments are tolerated, as libjpeg does.
        int c = nextByte(in);
        while (c >= 0 && c != 0xFF) c = nextByte(in);
        if (c < 0) return Truncated;
        int marker;
        do marker = nextByte(in);
        while (marker == 0xFF);
        if (marker < 0) return Truncated;
        if (marker == 0xD8 || marker == 0xD9 || marker == 0xDA) return Corrupt; // no frame header
        if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) continue;     // no length
        const int length = read16(in);
        if (length < 0) return Truncated;
        if (length < 2) return Corrupt;
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (!frame) {
            if (std::fseek(in, length - 2, SEEK_CUR) != 0) return ReadFailed;
            continue;
        }
        const int precision = nextByte(in);
        const int height = read16(in);
        const int width = read16(in);
        const int components = nextByte(in);
        if (components < 0) return Truncated;
        if (length < 8 + 3 * components) return Corrupt;
        if (width <= 0 || height <= 0 || components <= 0 || precision <= 0) return Corrupt;
        out.format = "JPEG";
        out.width = width;
        out.height = height;
        out.bitsPerPixel = components * (precision > 8 ? precision : 8);
        out.colours = components == 1 && precision <= 8 ? 256 : 0; // decoded as 256 grays
        out.pages = 1;
        out.detail = frameKind(marker);
        return Ok;
    }
}

} // namespace detail

namespace {

using detail::JpegError;

// Stops decoding a progressive file with too many scans.
void onJpegProgress(j_common_ptr cinfo) {
    detail::checkJpegScanLimit(cinfo);
}

// Everything the decoding frame needs, owned by the caller so that the frame that calls setjmp has
// no locals of its own worth keeping across a longjmp.
struct JpegDecodeJob {
    jpeg_decompress_struct cinfo;
    JpegError err;
    jpeg_progress_mgr progress;
    std::FILE* file;
    int scale;
    Raster* out;
};

// CMYK to RGB. Files with an Adobe marker (Photoshop's and most others) store the inks inverted.
void cmykRowToRgb(const JSAMPLE* cmyk, std::uint8_t* rgb, int width, bool inverted) {
    for (int x = 0; x < width; ++x, cmyk += 4, rgb += 3) {
        unsigned c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        rgb[0] = std::uint8_t((c * k + 127) / 255);
        rgb[1] = std::uint8_t((m * k + 127) / 255);
        rgb[2] = std::uint8_t((y * k + 127) / 255);
    }
}

// Decodes into job->out. Only trivially destructible locals: libjpeg may longjmp back here.
int decodeJpeg(JpegDecodeJob* job) {
    jpeg_decompress_struct* cinfo = &job->cinfo;
    std::memset(cinfo, 0, sizeof *cinfo);
    detail::installJpegErrorManager(job->err);
    cinfo->err = &job->err.pub;
    if (setjmp(job->err.jump)) {
        jpeg_destroy_decompress(cinfo);
        return job->err.result;
    }
    jpeg_create_decompress(cinfo);
    jpeg_stdio_src(cinfo, job->file);
    detail::applyJpegLimits(cinfo, job->progress, onJpegProgress);

    jpeg_read_header(cinfo, TRUE);
    int rc = detail::checkDimensions(cinfo->image_width, cinfo->image_height);
    if (rc == Ok) rc = detail::checkJpegDataFits(cinfo, detail::fileSize(job->file));
    if (rc != Ok) {
        jpeg_destroy_decompress(cinfo);
        return rc;
    }
    bool cmyk = false;
    switch (cinfo->jpeg_color_space) {
    case JCS_GRAYSCALE:
        cinfo->out_color_space = JCS_GRAYSCALE;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        cinfo->out_color_space = JCS_CMYK;
        cmyk = true;
        break;
    default:
        cinfo->out_color_space = JCS_EXT_RGB;
        break;
    }
    cinfo->scale_num = 1;
    cinfo->scale_denom = unsigned(job->scale);
    // In a scaled decode the DCT scaling already enlarges subsampled chroma, and the plain
    // upsampler gives the same picture (measured against a box-filtered full decode) in up to a
    // fifth less time at 1/2. The accurate integer DCT stays: the fast one costs 5 dB at 1/2.
    if (job->scale > 1) cinfo->do_fancy_upsampling = FALSE;
    jpeg_calc_output_dimensions(cinfo);
    const bool gray = cinfo->out_color_space == JCS_GRAYSCALE;
    rc = allocateRaster(*job->out, int(cinfo->output_width), int(cinfo->output_height),
                        gray ? 8 : 24);
    if (rc != Ok) {
        jpeg_destroy_decompress(cinfo);
        return rc;
    }

    jpeg_start_decompress(cinfo); // reads every scan of a progressive file
    // Decoding stops at the first sign of missing data (a file too small for its frame was
    // refused before the raster was allocated).
    if (job->err.truncated) {
        jpeg_destroy_decompress(cinfo);
        return Truncated;
    }
    const int width = int(cinfo->output_width);
    if (cmyk) {
        // One row of inks in libjpeg's own pool, released with the decompressor.
        JSAMPARRAY inks = cinfo->mem->alloc_sarray(reinterpret_cast<j_common_ptr>(cinfo),
                                                   JPOOL_IMAGE, JDIMENSION(width) * 4, 1);
        const bool inverted = cinfo->saw_Adobe_marker;
        while (cinfo->output_scanline < cinfo->output_height && !job->err.truncated) {
            const int y = int(cinfo->output_scanline);
            if (jpeg_read_scanlines(cinfo, inks, 1) != 1) break;
            cmykRowToRgb(inks[0], job->out->row(y), width, inverted);
        }
    } else {
        // Straight into the raster, several rows per call.
        JSAMPROW rows[16];
        while (cinfo->output_scanline < cinfo->output_height && !job->err.truncated) {
            const int y = int(cinfo->output_scanline);
            const int count = std::min(16, int(cinfo->output_height) - y);
            for (int i = 0; i < count; ++i) rows[i] = job->out->row(y + i);
            if (jpeg_read_scanlines(cinfo, rows, JDIMENSION(count)) == 0) break;
        }
    }
    const bool complete = cinfo->output_scanline == cinfo->output_height;
    // Whatever follows the last scan is of no interest, so the decompressor is dropped here rather
    // than finished.
    jpeg_destroy_decompress(cinfo);
    if (job->err.truncated || !complete) return Truncated;
    return Ok;
}

struct JpegEncodeJob {
    jpeg_compress_struct cinfo;
    JpegError err;
    std::FILE* file;
    const Raster* in;
    bool gray;
    int quality;
    int smoothing;
    std::uint8_t* rowBuffer;    // width * 3 bytes, for rows that need converting
    const std::uint8_t* lookup; // palette index -> R, G, B (3 * 256) or luminance (256)
};

inline std::uint8_t luminance(unsigned r, unsigned g, unsigned b) {
    return std::uint8_t((77 * r + 150 * g + 29 * b + 128) >> 8);
}

// Encodes job->in. Only trivially destructible locals: libjpeg may longjmp back here.
int encodeJpeg(JpegEncodeJob* job) {
    jpeg_compress_struct* cinfo = &job->cinfo;
    std::memset(cinfo, 0, sizeof *cinfo);
    detail::installJpegErrorManager(job->err);
    cinfo->err = &job->err.pub;
    if (setjmp(job->err.jump)) {
        jpeg_destroy_compress(cinfo);
        return job->err.result;
    }
    jpeg_create_compress(cinfo);
    jpeg_stdio_dest(cinfo, job->file);
    const Raster& in = *job->in;
    cinfo->image_width = JDIMENSION(in.width);
    cinfo->image_height = JDIMENSION(in.height);
    cinfo->input_components = job->gray ? 1 : 3;
    cinfo->in_color_space = job->gray ? JCS_GRAYSCALE : JCS_EXT_RGB;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, job->quality, TRUE);
    cinfo->smoothing_factor = job->smoothing;
    jpeg_start_compress(cinfo, TRUE);

    const int width = in.width;
    while (cinfo->next_scanline < cinfo->image_height) {
        const std::uint8_t* src = in.row(int(cinfo->next_scanline));
        JSAMPROW row = job->rowBuffer;
        if (job->gray) {
            if (in.bits == 24) {
                for (int x = 0; x < width; ++x)
                    row[x] = luminance(src[3 * x], src[3 * x + 1], src[3 * x + 2]);
            } else {
                for (int x = 0; x < width; ++x) row[x] = job->lookup[src[x]];
            }
        } else if (in.bits == 24) {
            row = const_cast<JSAMPROW>(src); // libjpeg only reads its input rows
        } else {
            for (int x = 0; x < width; ++x) std::memcpy(row + 3 * x, job->lookup + 3 * src[x], 3);
        }
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
    jpeg_destroy_compress(cinfo);
    return Ok;
}

} // namespace

namespace {

int readJpegUnguarded(const std::string& file, int bits, int jpegScale, int dither, Raster& out) {
    out = Raster{};
    if (!detail::validDepth(bits)) return BadDepth;
    if (jpegScale != 1 && jpegScale != 2 && jpegScale != 4 && jpegScale != 8) return BadParameter;
    CFile f;
    if (const int rc = detail::openForRead(file, f); rc != Ok) return rc;

    auto job = std::make_unique<JpegDecodeJob>();
    job->file = f.get();
    job->scale = jpegScale;
    job->out = &out;
    int rc = decodeJpeg(job.get());
    if (rc == Ok && out.bits == 8) out.palette = detail::grayRamp(256); // grayscale
    if (rc == Ok) rc = convertDepth(out, bits, dither);
    if (rc != Ok) out = Raster{};
    return rc;
}

} // namespace

// An allocation failure anywhere inside ends as OutOfMemory: nothing throws across the interface.
int readJpeg(const std::string& file, int bits, int jpegScale, int dither, Raster& out) {
    try {
        return readJpegUnguarded(file, bits, jpegScale, dither, out);
    } catch (const std::bad_alloc&) {
        out = Raster{};
        return OutOfMemory;
    }
}

namespace {

int writeJpegUnguarded(const std::string& file, int quality, int smoothing, int bits,
                       const Raster& in) {
    if (!detail::validDepth(bits)) return BadDepth;
    if (quality < 1 || quality > 100 || smoothing < 0 || smoothing > 100) return BadParameter;
    int rc = Ok;
    Raster scratch;
    // Any depth but 1 is written in colour; the raster is only validated here, not reduced.
    const Raster* image = detail::rasterForDepth(in, in.bits == 24 ? 24 : 8, scratch, rc);
    if (!image) return rc;
    if (image->width > JPEG_MAX_DIMENSION || image->height > JPEG_MAX_DIMENSION) return TooLarge;

    const bool gray = bits == 1;
    std::vector<std::uint8_t> rowBuffer, lookup;
    try {
        rowBuffer.resize(std::size_t(image->width) * 3);
        if (image->indexed()) {
            lookup.assign(gray ? 256 : 3 * 256, 0);
            for (std::size_t i = 0; i < image->palette.size() && i < 256; ++i) {
                const Rgb c = image->palette[i];
                if (gray) {
                    lookup[i] = luminance(c.r, c.g, c.b);
                } else {
                    lookup[3 * i] = c.r;
                    lookup[3 * i + 1] = c.g;
                    lookup[3 * i + 2] = c.b;
                }
            }
        }
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }

    detail::OutputFile output;
    if (const int orc = output.open(file); orc != Ok) return orc;
    auto job = std::make_unique<JpegEncodeJob>();
    job->file = output.get();
    job->in = image;
    job->gray = gray;
    job->quality = quality;
    job->smoothing = smoothing;
    job->rowBuffer = rowBuffer.data();
    job->lookup = lookup.data();
    rc = encodeJpeg(job.get());
    if (rc != Ok) {
        output.abandon();
        return rc;
    }
    return output.commit();
}

} // namespace

// An allocation failure anywhere inside ends as OutOfMemory: nothing throws across the interface.
int writeJpeg(const std::string& file, int quality, int smoothing, int bits, const Raster& in) {
    try {
        return writeJpegUnguarded(file, quality, smoothing, bits, in);
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
}

} // namespace pixmoor::codec
