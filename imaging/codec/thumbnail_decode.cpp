// Streaming JPEG and PNG decoders for thumbnails: rows go to a sink as they are decoded, so a
// thumbnail is made without a full-size raster. The error handling and the acceptance rules follow
// jpeg.cpp and png.cpp, so both paths accept and refuse the same files.
#include "imaging/codec/thumbnail_decode.h"

#include "imaging/codec/errors.h"
#include "imaging/codec/format_io.h"
#include "imaging/codec/jpeg_dc.h"
#include "imaging/codec/jpeg_errors.h"
#include "imaging/codec/png_common.h"
#include "imaging/codec/png_whole.h"

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <jpeglib.h>
#include <png.h>

namespace pixmoor::codec {

using detail::CFile;
using detail::FastDecodeResult;

namespace {

// The file buffer: libjpeg and our PNG callback read in small pieces; a larger stdio buffer turns
// those into few system calls.
constexpr std::size_t kReadBuffer = 1u << 16;

constexpr std::array<Rgb, 256> makeGrayPalette() {
    std::array<Rgb, 256> ramp{};
    for (int i = 0; i < 256; ++i)
        ramp[std::size_t(i)] = {std::uint8_t(i), std::uint8_t(i), std::uint8_t(i)};
    return ramp;
}
constexpr std::array<Rgb, 256> kGrayPalette = makeGrayPalette();

int openStream(const std::string& file, CFile& f) {
    if (const int rc = detail::openForRead(file, f); rc != Ok) return rc;
    std::setvbuf(f.get(), nullptr, _IOFBF, kReadBuffer);
    return Ok;
}

// ---- JPEG ---------------------------------------------------------------------------------------

// Rows asked of libjpeg per call.
constexpr int kJpegRowBatch = 8;
// Files up to this size are read whole into memory before decoding.
constexpr std::int64_t kMaxInMemory = 64 << 20;
// The forced result that means "the sink stopped" (forced results must be nonzero).
constexpr int kForcedStop = -1000;

// Everything the decoding frame needs, owned by the caller: the frame that calls setjmp keeps
// only trivially destructible locals.
struct StreamJpegJob {
    jpeg_decompress_struct cinfo;
    detail::JpegError err;
    jpeg_progress_mgr progress;
    std::FILE* file;
    const unsigned char* data; // the whole file when it was read into memory, else null
    std::size_t size;
    int minWidth;
    int minHeight;
    bool fastUpsampling;
    RowSink* sink;
};

// Caps the scans of a progressive file and lets the sink stop a long decode.
void onStreamJpegProgress(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor) return;
    auto* job = static_cast<StreamJpegJob*>(cinfo->client_data);
    detail::checkJpegScanLimit(cinfo);
    if (!job->sink->keepGoing()) {
        job->err.forced = kForcedStop;
        cinfo->err->error_exit(cinfo);
    }
}

int streamJpegFrame(StreamJpegJob* job) {
    jpeg_decompress_struct* cinfo = &job->cinfo;
    std::memset(cinfo, 0, sizeof *cinfo);
    detail::installJpegErrorManager(job->err);
    cinfo->err = &job->err.pub;
    if (setjmp(job->err.jump)) {
        jpeg_destroy_decompress(cinfo);
        return job->err.result == kForcedStop ? kStreamStopped : job->err.result;
    }
    jpeg_create_decompress(cinfo);
    cinfo->client_data = job;
    if (job->data)
        jpeg_mem_src(cinfo, job->data, static_cast<unsigned long>(job->size));
    else
        jpeg_stdio_src(cinfo, job->file);
    detail::applyJpegLimits(cinfo, job->progress, onStreamJpegProgress);

    jpeg_read_header(cinfo, TRUE);
    int rc = detail::checkDimensions(cinfo->image_width, cinfo->image_height);
    if (rc == Ok)
        rc = detail::checkJpegDataFits(cinfo, job->data ? static_cast<long long>(job->size)
                                                        : detail::fileSize(job->file));
    if (rc != Ok) {
        jpeg_destroy_decompress(cinfo);
        return rc;
    }
    switch (cinfo->jpeg_color_space) {
    case JCS_GRAYSCALE:
        cinfo->out_color_space = JCS_GRAYSCALE;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        jpeg_destroy_decompress(cinfo);
        return Unsupported;
    default:
        cinfo->out_color_space = JCS_EXT_RGB;
        break;
    }
    cinfo->scale_num = 1;
    cinfo->scale_denom = unsigned(jpegScaleCovering(
        int(cinfo->image_width), int(cinfo->image_height), job->minWidth, job->minHeight));
    if (job->fastUpsampling) cinfo->do_fancy_upsampling = FALSE;
    jpeg_calc_output_dimensions(cinfo);
    const bool gray = cinfo->out_color_space == JCS_GRAYSCALE;
    if (!job->sink->begin(int(cinfo->output_width), int(cinfo->output_height),
                          gray ? kGrayPalette.data() : nullptr, gray ? 256 : 0)) {
        jpeg_destroy_decompress(cinfo);
        return kStreamStopped;
    }

    jpeg_start_decompress(cinfo);
    const JDIMENSION rowBytes = cinfo->output_width * JDIMENSION(cinfo->output_components);
    JSAMPARRAY rows = cinfo->mem->alloc_sarray(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                               rowBytes, kJpegRowBatch);
    while (cinfo->output_scanline < cinfo->output_height) {
        const JDIMENSION got = jpeg_read_scanlines(cinfo, rows, kJpegRowBatch);
        if (got == 0) break;
        for (JDIMENSION i = 0; i < got; ++i) {
            if (!job->sink->row(rows[i])) {
                jpeg_destroy_decompress(cinfo);
                return kStreamStopped;
            }
        }
    }
    const bool complete = cinfo->output_scanline == cinfo->output_height;
    jpeg_destroy_decompress(cinfo);
    if (job->err.truncated || !complete) return Truncated;
    return Ok;
}

// ---- PNG ----------------------------------------------------------------------------------------

struct StreamPngJob : detail::PngIo {
    png_structp png;
    png_infop info;
    RowSink* sink;
    Rgb* palette;        // 256 entries, from libpng's allocator
    png_bytep rowBuffer; // one row, or the whole image of an interlaced file
    bool stopped;
};

int streamPngFailure(const StreamPngJob& job) {
    return job.stopped ? kStreamStopped : detail::pngReadFailure(job);
}

int streamPngFrame(StreamPngJob* job) {
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
        return streamPngFailure(*job);
    }
    png_set_read_fn(job->png, static_cast<detail::PngIo*>(job), detail::readPngData);
    detail::applyPngReadLimits(job->png);
    png_read_info(job->png, job->info);

    const png_uint_32 width = png_get_image_width(job->png, job->info);
    const png_uint_32 height = png_get_image_height(job->png, job->info);
    int rc = detail::checkDimensions(width, height);
    if (rc == Ok) rc = detail::checkPngDataFits(job->png, job->info, job->file);
    bool rgb = false;
    int paletteSize = 0;
    if (rc == Ok) {
        int rasterBits = 0;
        rc = detail::setUpPngTransforms(job->png, job->info, job->palette, paletteSize, rasterBits);
        rgb = rasterBits == 24;
    }
    if (rc == Ok) {
        const int passes = png_set_interlace_handling(job->png);
        png_read_update_info(job->png, job->info);
        const std::size_t rowBytes = png_get_rowbytes(job->png, job->info);
        if (rowBytes != std::size_t(width) * (rgb ? 3 : 1)) {
            rc = Unsupported;
        } else if (!job->sink->begin(int(width), int(height), rgb ? nullptr : job->palette,
                                     paletteSize)) {
            rc = kStreamStopped;
        } else if (passes == 1) {
            job->rowBuffer = static_cast<png_bytep>(png_malloc_warn(job->png, rowBytes));
            if (!job->rowBuffer) rc = OutOfMemory;
            for (png_uint_32 y = 0; rc == Ok && y < height; ++y) {
                png_read_row(job->png, job->rowBuffer, nullptr);
                if (!job->sink->row(job->rowBuffer)) rc = kStreamStopped;
            }
        } else {
            // Adam7: every pass refines rows all over the image, so all of it is kept.
            job->rowBuffer =
                static_cast<png_bytep>(png_malloc_warn(job->png, rowBytes * std::size_t(height)));
            if (!job->rowBuffer) rc = OutOfMemory;
            for (int pass = 0; rc == Ok && pass < passes; ++pass) {
                for (png_uint_32 y = 0; y < height; ++y)
                    png_read_row(job->png, job->rowBuffer + rowBytes * y, nullptr);
                if (!job->sink->keepGoing()) rc = kStreamStopped;
            }
            for (png_uint_32 y = 0; rc == Ok && y < height; ++y)
                if (!job->sink->row(job->rowBuffer + rowBytes * y)) rc = kStreamStopped;
        }
    }
    png_free(job->png, job->rowBuffer);
    job->rowBuffer = nullptr;
    png_free(job->png, job->palette);
    png_destroy_read_struct(&job->png, &job->info, nullptr);
    return rc;
}

// ---- BMP ----------------------------------------------------------------------------------------

std::uint32_t le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

// Streams an uncompressed 24-bit BMP (Windows 3 header or later) straight from the file's bytes:
// rows in top-down order, B, G, R turned into R, G, B. NotApplicable for every other kind, and for
// anything short or odd, so readBmp gives the verdict on those.
FastDecodeResult streamBmpBytes(const std::uint8_t* d, std::size_t size, RowSink& sink) {
    using R = FastDecodeResult;
    constexpr std::size_t kFileHeader = 14;
    if (size < kFileHeader + 40 || d[0] != 'B' || d[1] != 'M') return R::NotApplicable;
    const std::uint32_t headerSize = le32(d + kFileHeader);
    if (headerSize != 40 && headerSize != 108 && headerSize != 124) return R::NotApplicable;
    if (kFileHeader + headerSize > size) return R::NotApplicable;
    const std::int64_t width = std::int32_t(le32(d + kFileHeader + 4));
    std::int64_t height = std::int32_t(le32(d + kFileHeader + 8));
    const unsigned bitCount = unsigned(d[kFileHeader + 14]) | unsigned(d[kFileHeader + 15]) << 8;
    const std::uint32_t compression = le32(d + kFileHeader + 16);
    const bool topDown = height < 0;
    if (topDown) height = -height;
    if (bitCount != 24 || compression != 0) return R::NotApplicable;
    if (detail::checkDimensions(width, height) != Ok) return R::NotApplicable;
    const std::size_t pixelOffset = le32(d + 10);
    if (pixelOffset < kFileHeader + headerSize || pixelOffset >= size) return R::NotApplicable;
    const std::size_t rowBytes = ((std::size_t(width) * 24 + 31) / 32) * 4;
    const std::size_t lastRow = std::size_t(width) * 3;
    if (size - pixelOffset < rowBytes * std::size_t(height - 1) + lastRow) return R::NotApplicable;

    if (!sink.begin(int(width), int(height), nullptr, 0)) return R::Stopped;
    std::vector<std::uint8_t> rgb(lastRow);
    for (std::int64_t y = 0; y < height; ++y) {
        const std::int64_t stored = topDown ? y : height - 1 - y;
        const std::uint8_t* bgr = d + pixelOffset + rowBytes * std::size_t(stored);
        std::uint8_t* out = rgb.data();
        for (std::int64_t x = 0; x < width; ++x, bgr += 3, out += 3) {
            out[0] = bgr[2];
            out[1] = bgr[1];
            out[2] = bgr[0];
        }
        if (!sink.row(rgb.data())) return R::Stopped;
    }
    return R::Done;
}

} // namespace

int streamBmp(const std::string& file, RowSink& sink) {
    CFile f;
    if (const int rc = openStream(file, f); rc != Ok) return rc;
    const std::int64_t length = detail::fileSize(f.get());
    if (length <= 0 || length > kMaxInMemory) return Unsupported;
    detail::ScratchBuffer file_bytes;
    std::vector<unsigned char>& bytes = file_bytes.get();
    try {
        bytes.resize(std::size_t(length));
    } catch (const std::bad_alloc&) {
        return Unsupported;
    }
    if (std::fread(bytes.data(), 1, bytes.size(), f.get()) != bytes.size()) return Unsupported;
    switch (streamBmpBytes(bytes.data(), bytes.size(), sink)) {
    case FastDecodeResult::Done:
        return Ok;
    case FastDecodeResult::Stopped:
        return kStreamStopped;
    case FastDecodeResult::NotApplicable:
        break;
    }
    return Unsupported;
}

int jpegScaleCovering(int width, int height, int minWidth, int minHeight) {
    if (width <= 0 || height <= 0 || minWidth <= 0 || minHeight <= 0) return 1;
    for (int d : {8, 4, 2}) {
        if ((width + d - 1) / d >= minWidth && (height + d - 1) / d >= minHeight) return d;
    }
    return 1;
}

int streamJpeg(const std::string& file, int minWidth, int minHeight, RowSink& sink,
               bool fastUpsampling) {
    CFile f;
    if (const int rc = openStream(file, f); rc != Ok) return rc;
    auto job = std::make_unique<StreamJpegJob>();
    job->file = f.get();
    // From memory, libjpeg-turbo's Huffman decoder stays on its fast path for nearly the whole
    // file (with a small refilled buffer it drops to the careful path near every refill).
    detail::ScratchBuffer file_bytes;
    std::vector<unsigned char>& bytes = file_bytes.get();
    const std::int64_t length = detail::fileSize(f.get());
    if (length > 0 && length <= kMaxInMemory) {
        try {
            bytes.resize(std::size_t(length));
        } catch (const std::bad_alloc&) {
            bytes.clear();
        }
        if (!bytes.empty()) {
            const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), f.get());
            if (got != bytes.size() && std::ferror(f.get())) return ReadFailed;
            // A file shorter than its size said (it shrank meanwhile) is read as it is now.
            bytes.resize(got);
            job->data = bytes.data();
            job->size = bytes.size();
            // A progressive file at 1/8 scale needs only its DC scans.
            switch (detail::decodeProgressiveDc(job->data, job->size, minWidth, minHeight, sink)) {
            case detail::FastDecodeResult::Done:
                return Ok;
            case detail::FastDecodeResult::Stopped:
                return kStreamStopped;
            case detail::FastDecodeResult::NotApplicable:
                break;
            }
        }
    }
    job->minWidth = minWidth;
    job->minHeight = minHeight;
    job->fastUpsampling = fastUpsampling;
    job->sink = &sink;
    return streamJpegFrame(job.get());
}

int streamPng(const std::string& file, RowSink& sink, bool wholeBuffer) {
    CFile f;
    if (const int rc = openStream(file, f); rc != Ok) return rc;
    if (wholeBuffer) {
        // Plain files are inflated in one call from memory; the rest go to libpng below.
        const std::int64_t length = detail::fileSize(f.get());
        if (length > 0 && length <= kMaxInMemory) {
            detail::ScratchBuffer file_bytes;
            std::vector<unsigned char>& bytes = file_bytes.get();
            try {
                bytes.resize(std::size_t(length));
            } catch (const std::bad_alloc&) {
                bytes.clear();
            }
            if (!bytes.empty() &&
                std::fread(bytes.data(), 1, bytes.size(), f.get()) == bytes.size()) {
                switch (detail::decodePngWhole(bytes.data(), bytes.size(), sink)) {
                case detail::FastDecodeResult::Done:
                    return Ok;
                case detail::FastDecodeResult::Stopped:
                    return kStreamStopped;
                case detail::FastDecodeResult::NotApplicable:
                    break;
                }
            }
            std::rewind(f.get());
        }
    }
    std::uint8_t signature[8];
    const std::size_t got = std::fread(signature, 1, 8, f.get());
    if (got < 8 || png_sig_cmp(signature, 0, 8) != 0)
        return got < 8 && got > 0 && png_sig_cmp(signature, 0, got) == 0 ? Truncated
                                                                         : NotThisFormat;
    std::rewind(f.get());
    StreamPngJob job{};
    job.file = f.get();
    job.sink = &sink;
    return streamPngFrame(&job);
}

} // namespace pixmoor::codec
