// libjpeg's error manager and limits for the codec library (see jpeg_errors.h).
#include "imaging/codec/jpeg_errors.h"

#include "imaging/codec/errors.h"

#include <jerror.h>

namespace pixmoor::codec::detail {

namespace {

void onJpegError(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<JpegError*>(cinfo->err);
    if (err->forced) {
        err->result = err->forced;
    } else if (err->truncated) {
        err->result = Truncated; // the data ended, whatever libjpeg tripped over next
    } else {
        switch (err->pub.msg_code) {
        case JERR_OUT_OF_MEMORY:
            err->result = OutOfMemory;
            break;
        case JERR_NO_BACKING_STORE: // over our memory limit
        case JERR_IMAGE_TOO_BIG:
        case JERR_WIDTH_OVERFLOW:
            err->result = TooLarge;
            break;
        case JERR_NO_SOI:
            err->result = NotThisFormat;
            break;
        case JERR_INPUT_EMPTY:
        case JERR_INPUT_EOF:
            err->result = Truncated;
            break;
        case JERR_FILE_READ:
            err->result = ReadFailed;
            break;
        case JERR_FILE_WRITE:
            err->result = WriteFailed;
            break;
        case JERR_BAD_IN_COLORSPACE:
        case JERR_NOT_COMPILED:
            err->result = Unsupported;
            break;
        default:
            err->result = Corrupt;
            break;
        }
    }
    std::longjmp(err->jump, 1);
}

// Warnings are counted silently. Those that matter say the compressed data ended before the image
// did: at the end of the file, or at a marker where more data should have followed (a cut-off
// download with an end marker appended, say). Everything after that point would be invented.
void onJpegMessage(j_common_ptr cinfo, int level) {
    auto* err = reinterpret_cast<JpegError*>(cinfo->err);
    if (level < 0) {
        ++err->pub.num_warnings;
        if (err->pub.msg_code == JWRN_JPEG_EOF || err->pub.msg_code == JWRN_HIT_MARKER)
            err->truncated = true;
    }
}

void onJpegOutput(j_common_ptr) {}

} // namespace

void installJpegErrorManager(JpegError& err) {
    jpeg_std_error(&err.pub);
    err.pub.error_exit = onJpegError;
    err.pub.emit_message = onJpegMessage;
    err.pub.output_message = onJpegOutput;
    err.result = Corrupt;
    err.forced = 0;
    err.truncated = false;
}

void checkJpegScanLimit(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor) return;
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > limits::kMaxJpegScans) {
        reinterpret_cast<JpegError*>(cinfo->err)->forced = Corrupt;
        cinfo->err->error_exit(cinfo);
    }
}

void applyJpegLimits(j_decompress_ptr cinfo, jpeg_progress_mgr& progress,
                     void (*monitor)(j_common_ptr)) {
    progress.progress_monitor = monitor;
    cinfo->progress = &progress;
    cinfo->mem->max_memory_to_use = limits::kMaxJpegMemory;
}

int checkJpegDataFits(j_decompress_ptr cinfo, long long fileBytes) {
    if (cinfo->arith_code || fileBytes < 0) return Ok;
    const unsigned long long pixels =
        static_cast<unsigned long long>(cinfo->image_width) * cinfo->image_height;
    return pixels / limits::kMaxJpegPixelsPerByte > static_cast<unsigned long long>(fileBytes) ? Truncated
                                                                                       : Ok;
}

} // namespace pixmoor::codec::detail
