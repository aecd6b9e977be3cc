// The JPEG reader of the codec library over libjpeg-turbo: the information call and the one
// decoder of JPEG files, which streams rows at a DCT-reduced scale when asked. For thumbnails it
// may take faster roads: the thumbnail the EXIF block carries, and for progressive files at 1/8
// scale the DC scans alone (jpeg_progressive_dc.cpp).
#include "imaging/codec/codec.h"
#include "imaging/codec/decode.h"
#include "imaging/codec/format_io.h"
#include "imaging/codec/formats.h"
#include "imaging/codec/jpeg_errors.h"
#include "imaging/codec/jpeg_progressive_dc.h"
#include "imaging/codec/orientation.h"
#include "imaging/codec/raster_sink.h"
#include "imaging/codec/scratch_buffer.h"
#include "imaging/codec/strategy.h"

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

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

// ---- the libjpeg road ----------------------------------------------------------------------

namespace {

using detail::JpegError;

// Rows asked of libjpeg per call.
constexpr int kJpegRowBatch = 16;
// The forced result that means "the sink stopped" (forced results must be nonzero).
constexpr int kForcedStop = -1000;

constexpr std::array<Rgb, 256> makeGrayPalette() {
    std::array<Rgb, 256> ramp{};
    for (int i = 0; i < 256; ++i)
        ramp[std::size_t(i)] = {std::uint8_t(i), std::uint8_t(i), std::uint8_t(i)};
    return ramp;
}
constexpr std::array<Rgb, 256> kGrayPalette = makeGrayPalette();

// CMYK to RGB. CMYK JPEGs store their inks inverted (0 is full ink), the convention Photoshop's
// files declare with an Adobe marker; files without the marker are written the same way in
// practice, and ImageMagick and Pillow read every CMYK JPEG so.
void cmykRowToRgb(const JSAMPLE* cmyk, std::uint8_t* rgb, int width) {
    for (int x = 0; x < width; ++x, cmyk += 4, rgb += 3) {
        const unsigned k = cmyk[3];
        rgb[0] = std::uint8_t((cmyk[0] * k + 127) / 255);
        rgb[1] = std::uint8_t((cmyk[1] * k + 127) / 255);
        rgb[2] = std::uint8_t((cmyk[2] * k + 127) / 255);
    }
}

// Everything the decoding frame needs, owned by the caller: the frame that calls setjmp keeps
// only trivially destructible locals.
struct JpegDecodeJob {
    jpeg_decompress_struct cinfo;
    JpegError err;
    jpeg_progress_mgr progress;
    std::FILE* file;
    const unsigned char* data; // the whole file when it was read into memory, else null
    std::size_t size;
    long long fileBytes;
    DecodeOptions options;
    RowSink* sink; // upright, below
    detail::OrientingSink* upright;
    bool embedded; // an EXIF thumbnail: it is turned as its picture is, not by an EXIF of its own
};

// Caps the scans of a progressive file and lets the sink stop a long decode.
void onJpegProgress(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor) return;
    auto* job = static_cast<JpegDecodeJob*>(cinfo->client_data);
    detail::checkJpegScanLimit(cinfo);
    if (!job->sink->keepGoing()) {
        job->err.forced = kForcedStop;
        cinfo->err->error_exit(cinfo);
    }
}

// Decodes through libjpeg into job->sink. Only trivially destructible locals: libjpeg may
// longjmp back here.
int decodeWithLibjpeg(JpegDecodeJob* job) {
    jpeg_decompress_struct* cinfo = &job->cinfo;
    std::memset(cinfo, 0, sizeof *cinfo);
    detail::installJpegErrorManager(job->err);
    cinfo->err = &job->err.pub;
    if (setjmp(job->err.jump)) {
        jpeg_destroy_decompress(cinfo);
        return job->err.result == kForcedStop ? Stopped : job->err.result;
    }
    jpeg_create_decompress(cinfo);
    cinfo->client_data = job;
    if (job->data)
        jpeg_mem_src(cinfo, job->data, static_cast<unsigned long>(job->size));
    else
        jpeg_stdio_src(cinfo, job->file);
    detail::applyJpegLimits(cinfo, job->progress, onJpegProgress);
    if (!job->embedded) jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xFFFF); // EXIF: orientation

    jpeg_read_header(cinfo, TRUE);
    int rc = detail::checkDimensions(cinfo->image_width, cinfo->image_height);
    if (rc == Ok) rc = detail::checkJpegDataFits(cinfo, job->fileBytes);
    int orientation = 1;
    for (jpeg_saved_marker_ptr m = cinfo->marker_list; m && orientation == 1; m = m->next)
        if (m->marker == JPEG_APP0 + 1)
            orientation = detail::exifOrientation(m->data, m->data_length);
    if (!job->embedded) job->upright->setOrientation(orientation);
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
    const DecodeOptions& options = job->options;
    // The minimum size is the upright picture's: a quarter turn swaps it.
    const bool turned = detail::swapsSides(orientation);
    cinfo->scale_num = 1;
    cinfo->scale_denom = unsigned(
        options.jpegScale > 0 ? options.jpegScale
                              : jpegScaleCovering(int(cinfo->image_width), int(cinfo->image_height),
                                                  turned ? options.minHeight : options.minWidth,
                                                  turned ? options.minWidth : options.minHeight));
    // The accurate integer DCT stays: the fast one costs 5 dB at 1/2.
    if (options.fastUpsampling) cinfo->do_fancy_upsampling = FALSE;
    jpeg_calc_output_dimensions(cinfo);
    const bool gray = cinfo->out_color_space == JCS_GRAYSCALE;
    RowLayout layout;
    layout.width = int(cinfo->output_width);
    layout.height = int(cinfo->output_height);
    layout.palette = gray ? kGrayPalette.data() : nullptr;
    layout.paletteSize = gray ? 256 : 0;
    layout.bits = gray ? 8 : 24;
    if (!job->sink->begin(layout)) {
        jpeg_destroy_decompress(cinfo);
        return Stopped;
    }

    jpeg_start_decompress(cinfo); // reads every scan of a progressive file
    // Decoding stops at the first sign of missing data (a file too small for its frame was
    // refused before anything was allocated for it).
    if (job->err.truncated) {
        jpeg_destroy_decompress(cinfo);
        return Truncated;
    }
    const int width = layout.width;
    RowSink& sink = *job->sink;
    rc = Ok;
    if (cmyk) {
        // One row of inks and one of colour in libjpeg's own pool, released with it.
        JSAMPARRAY inks = cinfo->mem->alloc_sarray(reinterpret_cast<j_common_ptr>(cinfo),
                                                   JPOOL_IMAGE, JDIMENSION(width) * 4, 1);
        JSAMPARRAY colour = cinfo->mem->alloc_sarray(reinterpret_cast<j_common_ptr>(cinfo),
                                                     JPOOL_IMAGE, JDIMENSION(width) * 3, 1);
        while (rc == Ok && cinfo->output_scanline < cinfo->output_height && !job->err.truncated) {
            const int y = int(cinfo->output_scanline);
            if (jpeg_read_scanlines(cinfo, inks, 1) != 1) break;
            std::uint8_t* target = sink.rowBuffer(y);
            if (!target) target = colour[0];
            cmykRowToRgb(inks[0], target, width);
            if (!sink.row(target)) rc = Stopped;
        }
    } else {
        // Several rows per call, straight into the sink's rows when it offers them.
        const JDIMENSION rowBytes = JDIMENSION(width) * JDIMENSION(cinfo->output_components);
        JSAMPARRAY own = cinfo->mem->alloc_sarray(reinterpret_cast<j_common_ptr>(cinfo),
                                                  JPOOL_IMAGE, rowBytes, kJpegRowBatch);
        JSAMPROW rows[kJpegRowBatch];
        while (rc == Ok && cinfo->output_scanline < cinfo->output_height && !job->err.truncated) {
            const int y = int(cinfo->output_scanline);
            const int count = std::min(kJpegRowBatch, layout.height - y);
            for (int i = 0; i < count; ++i) {
                std::uint8_t* target = sink.rowBuffer(y + i);
                rows[i] = target ? target : own[i];
            }
            const JDIMENSION got = jpeg_read_scanlines(cinfo, rows, JDIMENSION(count));
            if (got == 0) break;
            for (JDIMENSION i = 0; rc == Ok && i < got; ++i)
                if (!sink.row(rows[i])) rc = Stopped;
        }
    }
    const bool complete = cinfo->output_scanline == cinfo->output_height;
    // Whatever follows the last scan is of no interest, so the decompressor is dropped here rather
    // than finished; except for an EXIF thumbnail, which must prove itself clean: damaged data
    // decodes to invented pixels, often silently, but then rarely ends where the scan does
    // (libjpeg warns of the bytes left over before the end marker).
    if (job->embedded && rc == Ok && complete && !job->err.truncated)
        jpeg_finish_decompress(cinfo);
    jpeg_destroy_decompress(cinfo);
    if (rc != Ok) return rc;
    if (job->err.truncated || !complete) return Truncated;
    return Ok;
}

// ---- the EXIF thumbnail road ----------------------------------------------------------------

// The picture's header, read as the libjpeg road reads it, with its EXIF blocks kept.
struct HeaderJob {
    jpeg_decompress_struct cinfo;
    JpegError err;
    jpeg_progress_mgr progress;
};

void onHeaderProgress(j_common_ptr cinfo) {
    detail::checkJpegScanLimit(cinfo);
}

// On Ok the decompressor stays created for the caller to destroy; nothing more of it can fail.
// Only trivially destructible locals: libjpeg may longjmp back here.
int readHeaderWithExif(HeaderJob* job, const unsigned char* data, std::size_t size) {
    jpeg_decompress_struct* cinfo = &job->cinfo;
    std::memset(cinfo, 0, sizeof *cinfo);
    detail::installJpegErrorManager(job->err);
    cinfo->err = &job->err.pub;
    if (setjmp(job->err.jump)) {
        jpeg_destroy_decompress(cinfo);
        return job->err.result == Ok ? Corrupt : job->err.result;
    }
    jpeg_create_decompress(cinfo);
    jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
    detail::applyJpegLimits(cinfo, job->progress, onHeaderProgress);
    jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(cinfo, TRUE);
    return Ok;
}

struct DecompressorGuard {
    jpeg_decompress_struct* cinfo;
    ~DecompressorGuard() { jpeg_destroy_decompress(cinfo); }
};

// Takes an EXIF thumbnail's rows, as stored, into a raster once its frame has been checked
// against the picture's (width x height as stored, turned by orientation): it refuses a
// thumbnail larger than the picture, one that would have to be enlarged to give the size asked
// for, and one whose proportions are not the picture's (a stale thumbnail, or one letterboxed
// into a fixed 160 x 120).
class EmbeddedThumbnailSink final : public RowSink {
public:
    EmbeddedThumbnailSink(Raster& out, int width, int height, int orientation,
                          const DecodeOptions& options)
        : raster_(out), width_(width), height_(height), orientation_(orientation),
          minWidth_(options.embeddedMinWidth), minHeight_(options.embeddedMinHeight) {}

    bool begin(const RowLayout& layout) override {
        return suits(layout.width, layout.height) && raster_.begin(layout);
    }
    bool row(const std::uint8_t* pixels) override { return raster_.row(pixels); }
    std::uint8_t* rowBuffer(int y) override { return raster_.rowBuffer(y); }
    bool complete() const { return raster_.complete(); }

private:
    bool suits(int width, int height) const {
        if (width > width_ || height > height_) return false;
        const bool turned = detail::swapsSides(orientation_);
        if ((turned ? height : width) < minWidth_ || (turned ? width : height) < minHeight_)
            return false;
        // A reduction rounds each side to a whole pixel, so one of the thumbnail's sides may be
        // up to a pixel off the picture's proportions: |w / h - W / H| within one pixel of h or
        // of w. Anything more is another picture's shape.
        const long long w = width, h = height, W = width_, H = height_;
        const long long skew = w * H - h * W;
        return (skew < 0 ? -skew : skew) <= std::max(W, H);
    }

    detail::RasterSink raster_;
    int width_, height_, orientation_, minWidth_, minHeight_;
};

// Sends the EXIF thumbnail instead of the picture when it serves (see DecodeOptions); Declined,
// with nothing sent, when there is none, it does not serve, or it is damaged in any way.
detail::Strategy decodeExifThumbnail(const unsigned char* data, std::size_t size,
                                     const DecodeOptions& options, RowSink& sink) {
    using detail::Strategy;
    auto header = std::make_unique<HeaderJob>();
    if (readHeaderWithExif(header.get(), data, size) != Ok) return Strategy::Declined;
    const DecompressorGuard guard{&header->cinfo};
    jpeg_decompress_struct& cinfo = header->cinfo;
    // A picture the reader would refuse (too large, or far too short for its frame) is left to
    // the general road, which says why.
    if (detail::checkDimensions(cinfo.image_width, cinfo.image_height) != Ok ||
        detail::checkJpegDataFits(&cinfo, static_cast<long long>(size)) != Ok)
        return Strategy::Declined;
    // The orientation as the libjpeg road finds it; the thumbnail from the first block with one.
    int orientation = 1;
    const std::uint8_t* thumbnail = nullptr;
    std::size_t thumbnailSize = 0;
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
        if (m->marker != JPEG_APP0 + 1) continue;
        const detail::ExifFacts exif = detail::readExif(m->data, m->data_length);
        if (orientation == 1) orientation = exif.orientation;
        if (!thumbnail) {
            thumbnail = exif.thumbnail;
            thumbnailSize = exif.thumbnailSize;
        }
    }
    if (!thumbnail) return Strategy::Declined;

    Raster raster;
    EmbeddedThumbnailSink checked(raster, int(cinfo.image_width), int(cinfo.image_height),
                                  orientation, options);
    detail::OrientingSink asStored(checked, 1);
    auto job = std::make_unique<JpegDecodeJob>();
    job->data = thumbnail;
    job->size = thumbnailSize;
    job->fileBytes = static_cast<long long>(thumbnailSize);
    job->sink = &asStored;
    job->upright = &asStored;
    job->embedded = true;
    // Clean means without a single warning, to the end marker.
    if (decodeWithLibjpeg(job.get()) != Ok || job->err.pub.num_warnings != 0 || !checked.complete())
        return Strategy::Declined;
    detail::OrientingSink upright(sink, orientation);
    return upright.image(std::move(raster)) ? Strategy::Done : Strategy::Stopped;
}

} // namespace

int jpegScaleCovering(int width, int height, int minWidth, int minHeight) {
    if (width <= 0 || height <= 0 || minWidth <= 0 || minHeight <= 0) return 1;
    for (int d : {8, 4, 2}) {
        if ((width + d - 1) / d >= minWidth && (height + d - 1) / d >= minHeight) return d;
    }
    return 1;
}

namespace detail {

int decodeJpeg(const std::string& file, const DecodeOptions& options, RowSink& sink) {
    if (options.jpegScale != 0 && options.jpegScale != 1 && options.jpegScale != 2 &&
        options.jpegScale != 4 && options.jpegScale != 8)
        return BadParameter;
    try {
        CFile f;
        if (const int rc = openForRead(file, f); rc != Ok) return rc;
        auto job = std::make_unique<JpegDecodeJob>();
        job->file = f.get();
        job->fileBytes = fileSize(f.get());
        job->options = options;
        OrientingSink upright(sink, 1);
        job->upright = &upright;
        job->sink = &upright;
        // From memory, libjpeg-turbo's Huffman decoder stays on its fast path for nearly the
        // whole file (with a small refilled buffer it drops to the careful path at every refill).
        ScratchBuffer fileBytes;
        std::vector<unsigned char>& bytes = fileBytes.get();
        int rc = Ok;
        if (readWholeFile(f.get(), bytes, rc)) {
            job->data = bytes.data();
            job->size = bytes.size();
            job->fileBytes = static_cast<long long>(bytes.size());
            if (options.jpegScale == 0 &&
                (options.embeddedMinWidth > 0 || options.embeddedMinHeight > 0) &&
                settled(decodeExifThumbnail(job->data, job->size, options, sink), rc))
                return rc;
            if (options.fastPaths && options.jpegScale == 0 &&
                settled(decodeProgressiveDc(job->data, job->size, options.minWidth,
                                            options.minHeight, sink),
                        rc))
                return rc;
        } else if (rc != Ok) {
            return rc;
        } else {
            std::rewind(f.get());
        }
        return decodeWithLibjpeg(job.get());
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
}

} // namespace detail

int readJpeg(const std::string& file, int bits, int jpegScale, int dither, Raster& out) {
    if (jpegScale != 1 && jpegScale != 2 && jpegScale != 4 && jpegScale != 8) {
        out = Raster{};
        return detail::validDepth(bits) ? BadParameter : BadDepth;
    }
    DecodeOptions options;
    options.jpegScale = jpegScale;
    // In a scaled decode the DCT scaling already enlarges subsampled chroma, and the plain
    // upsampler gives the same picture (measured against a box-filtered full decode) in up to a
    // fifth less time at 1/2.
    options.fastUpsampling = jpegScale > 1;
    return detail::readThroughSink(detail::decodeJpeg, file, options, bits, dither, out);
}

} // namespace pixmoor::codec
