// An image file encoded in memory: the bytes a writer of the format table makes, held until they
// are written out under a name. Conversion encodes on worker threads this way, while the names
// (and the questions before replacing a file) stay with the thread that asks them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

namespace pixmoor::codec {

class EncodedImage {
public:
    EncodedImage() = default;
    EncodedImage(EncodedImage&&) noexcept = default;
    EncodedImage& operator=(EncodedImage&&) noexcept = default;
    EncodedImage(const EncodedImage&) = delete;
    EncodedImage& operator=(const EncodedImage&) = delete;

    std::size_t size() const { return size_; }
    void clear();

    // Calls write(data, length) for the bytes in order until it returns false; true when every
    // byte was written.
    template <typename Write>
    bool forEachPart(Write&& write) const {
        for (std::size_t at = 0; at < size_; at += kChunk)
            if (!write(chunks_[at / kChunk].get(), std::min(kChunk, size_ - at))) return false;
        return true;
    }

    // A stream over the bytes (read, write and seek; writing past the end extends them, a gap
    // reads as zeros), closed by the caller with fclose. Null when none can be had.
    std::FILE* openStream();

private:
    // Fixed chunks: the bytes grow without being copied to a larger block, so memory follows
    // the file's size.
    static constexpr std::size_t kChunk = std::size_t(256) << 10;

    struct Stream;
    // Makes room up to end; false when memory runs out.
    bool reserve(std::size_t end) noexcept;

    std::vector<std::unique_ptr<std::uint8_t[]>> chunks_;
    std::size_t size_ = 0;
};

} // namespace pixmoor::codec
