// Internal to the codec library: whole-buffer decoding of plain PNGs for thumbnails (libdeflate
// inflates the image data in one call), giving exactly the rows readPng's libpng set-up gives.
#pragma once

#include "imaging/codec/jpeg_dc.h"

#include <cstddef>
#include <vector>

namespace pixmoor::codec::detail {

// A byte buffer kept by the thread between files: thumbnails decode file after file on the same
// worker, and reusing the pages spares the kernel faulting in fresh zeroed memory every time.
// The buffer is handed out empty (its capacity kept) and released when it grew past kMaxKept.
// Taking a second one on the same thread while the first is in use gives a fresh buffer.
class ScratchBuffer {
public:
    ScratchBuffer();
    ~ScratchBuffer();
    ScratchBuffer(const ScratchBuffer&) = delete;
    ScratchBuffer& operator=(const ScratchBuffer&) = delete;
    std::vector<unsigned char>& get() { return *buffer_; }

private:
    static constexpr std::size_t kMaxKept = 32u << 20;
    std::vector<unsigned char>* buffer_;
    int slot_; // which of the thread's kept buffers, or -1 for an own one
    std::vector<unsigned char> own_;
};

// Decodes a PNG held in data and streams its rows to sink as streamPng does: non-interlaced,
// 8-bit RGB, RGBA, gray-alpha, and gray or palette of 1 to 8 bits, with every chunk's CRC
// checked. NotApplicable, with nothing sent to the sink, for any other file or any doubt.
FastDecodeResult decodePngWhole(const unsigned char* data, std::size_t size, RowSink& sink);

} // namespace pixmoor::codec::detail
