// Internal to the codec library: libjpeg's error manager and limits, shared by the reader, the
// writer and the streaming thumbnail decoder, so every path accepts and refuses the same files.
#pragma once

#include "imaging/codec/limits.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace pixmoor::codec::detail {

// libjpeg reports errors by calling error_exit, which must not return: we longjmp back to the
// frame that called setjmp. Those frames hold only trivially destructible locals.
struct JpegError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    int result;     // the result code decided when the error was raised
    int forced;     // a code set by us before raising an error ourselves
    bool truncated; // the compressed data ended early; libjpeg would pad the rest with gray
};

// Resets err and points libjpeg's error, warning and output hooks at our handlers.
void installJpegErrorManager(JpegError& err);

// Raises Corrupt from a progress monitor when a progressive file goes past limits::kMaxJpegScans.
void checkJpegScanLimit(j_common_ptr cinfo);

// Applies the memory limit and installs progress as the progress monitor.
void applyJpegLimits(j_decompress_ptr cinfo, jpeg_progress_mgr& progress,
                     void (*monitor)(j_common_ptr));

// After jpeg_read_header: Truncated when a Huffman-coded file is too small to hold the image its
// frame header claims (arithmetic coding has no such bound), so neither libjpeg nor we allocate
// for pixels that cannot come; else Ok. fileBytes < 0 means unknown.
int checkJpegDataFits(j_decompress_ptr cinfo, long long fileBytes);

} // namespace pixmoor::codec::detail
