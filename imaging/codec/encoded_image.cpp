// An image file encoded in memory (see encoded_image.h): its bytes in chunks and the C stream the
// writers write them through.
#include "imaging/codec/encoded_image.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>

namespace pixmoor::codec {

struct EncodedImage::Stream {
    EncodedImage* bytes;
    std::size_t position = 0;

    static ssize_t read(void* cookie, char* data, std::size_t length) {
        auto* s = static_cast<Stream*>(cookie);
        const EncodedImage& b = *s->bytes;
        std::size_t done = 0;
        while (done < length && s->position < b.size_) {
            const std::size_t offset = s->position % kChunk;
            const std::size_t n =
                std::min({length - done, kChunk - offset, b.size_ - s->position});
            std::memcpy(data + done, b.chunks_[s->position / kChunk].get() + offset, n);
            done += n;
            s->position += n;
        }
        return ssize_t(done);
    }

    static ssize_t write(void* cookie, const char* data, std::size_t length) {
        auto* s = static_cast<Stream*>(cookie);
        EncodedImage& b = *s->bytes;
        if (length > std::numeric_limits<std::size_t>::max() - s->position ||
            !b.reserve(s->position + length)) {
            errno = ENOMEM;
            return -1;
        }
        for (std::size_t done = 0; done < length;) {
            const std::size_t offset = s->position % kChunk;
            const std::size_t n = std::min(length - done, kChunk - offset);
            std::memcpy(b.chunks_[s->position / kChunk].get() + offset, data + done, n);
            done += n;
            s->position += n;
        }
        b.size_ = std::max(b.size_, s->position);
        return ssize_t(length);
    }

    static int seek(void* cookie, off64_t* offset, int whence) {
        auto* s = static_cast<Stream*>(cookie);
        const off64_t base = whence == SEEK_SET   ? 0
                             : whence == SEEK_CUR ? off64_t(s->position)
                             : whence == SEEK_END ? off64_t(s->bytes->size_)
                                                  : -1;
        if (base < 0 || (*offset > 0 && *offset > std::numeric_limits<off64_t>::max() - base) ||
            base + *offset < 0) {
            errno = EINVAL;
            return -1;
        }
        s->position = std::size_t(base + *offset);
        *offset = off64_t(s->position);
        return 0;
    }

    static int close(void* cookie) {
        delete static_cast<Stream*>(cookie);
        return 0;
    }
};

void EncodedImage::clear() {
    chunks_.clear();
    size_ = 0;
}

bool EncodedImage::reserve(std::size_t end) noexcept {
    try {
        while (chunks_.size() * kChunk < end) {
            // Zeroed: a seek past the end leaves a gap that reads as zeros.
            chunks_.push_back(std::make_unique<std::uint8_t[]>(kChunk));
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

std::FILE* EncodedImage::openStream() {
    auto* stream = new (std::nothrow) Stream{this};
    if (!stream) return nullptr;
    std::FILE* f = ::fopencookie(stream, "w+b",
                                 {&Stream::read, &Stream::write, &Stream::seek, &Stream::close});
    if (!f) delete stream;
    return f;
}

} // namespace pixmoor::codec
