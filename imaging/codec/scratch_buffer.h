// Internal to the codec library: byte buffers kept by a thread between files, and reading a file
// whole into one. Thumbnails decode file after file on the same worker thread; reusing the pages
// spares the kernel faulting in fresh zeroed memory for every file.
#pragma once

#include "imaging/codec/limits.h"

#include <cstddef>
#include <cstdio>
#include <vector>

namespace pixmoor::codec::detail {

// A buffer handed out empty (its capacity kept from earlier use on this thread) and released
// when it grew past limits::kMaxKeptScratch. Taking more than the thread keeps gives a fresh one.
class ScratchBuffer {
public:
    ScratchBuffer();
    ~ScratchBuffer();
    ScratchBuffer(const ScratchBuffer&) = delete;
    ScratchBuffer& operator=(const ScratchBuffer&) = delete;
    std::vector<unsigned char>& get() { return *buffer_; }

private:
    std::vector<unsigned char>* buffer_;
    int slot_; // which of the thread's kept buffers, or -1 for an own one
    std::vector<unsigned char> own_;
};

// Reads an open file from its start into bytes when it is no larger than limits::kMaxInMemory (a file
// that shrank meanwhile is read as it is now). Returns true with the bytes read; false, with
// bytes empty and the file rewound, when it is larger or memory is short; ReadFailed in
// `result` for an I/O error (result is Ok otherwise).
bool readWholeFile(std::FILE* file, std::vector<unsigned char>& bytes, int& result);

} // namespace pixmoor::codec::detail
