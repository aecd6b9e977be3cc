// Thread-kept byte buffers and whole-file reading (see scratch_buffer.h).
#include "imaging/codec/scratch_buffer.h"

#include "imaging/codec/errors.h"
#include "imaging/codec/format_io.h"

#include <array>
#include <new>

namespace pixmoor::codec::detail {

namespace {

constexpr int kKeptBuffers = 3;
struct KeptBuffers {
    std::array<std::vector<unsigned char>, kKeptBuffers> buffers;
    std::array<bool, kKeptBuffers> inUse{};
};
thread_local KeptBuffers kept;

} // namespace

ScratchBuffer::ScratchBuffer() : buffer_(&own_), slot_(-1) {
    for (int i = 0; i < kKeptBuffers; ++i) {
        if (!kept.inUse[std::size_t(i)]) {
            kept.inUse[std::size_t(i)] = true;
            slot_ = i;
            buffer_ = &kept.buffers[std::size_t(i)];
            break;
        }
    }
    buffer_->clear();
}

ScratchBuffer::~ScratchBuffer() {
    if (slot_ < 0) return;
    if (buffer_->capacity() > limits::kMaxKeptScratch) std::vector<unsigned char>().swap(*buffer_);
    buffer_->clear();
    kept.inUse[std::size_t(slot_)] = false;
}

bool readWholeFile(std::FILE* file, std::vector<unsigned char>& bytes, int& result) {
    result = Ok;
    bytes.clear();
    const long long length = fileSize(file);
    if (length <= 0 || length > limits::kMaxInMemory) return false;
    try {
        bytes.resize(std::size_t(length));
    } catch (const std::bad_alloc&) {
        bytes.clear();
        return false;
    }
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
    if (got != bytes.size() && std::ferror(file)) {
        bytes.clear();
        result = ReadFailed;
        return false;
    }
    bytes.resize(got);
    return true;
}

} // namespace pixmoor::codec::detail
