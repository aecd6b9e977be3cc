// Internal to the codec library: whole-file reading for the BMP and PCX codecs, reading a file in
// parts, and little-endian field access. Every field read is bounds-checked by its caller
// against the size of what was read.
#pragma once

#include "imaging/codec/decode.h"
#include "imaging/codec/raster.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace pixmoor::codec::detail {

// A regular file opened for reading in parts (see regular_file.h), with its size when opened.
class OpenFile {
public:
    OpenFile() = default;
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    ~OpenFile();
    // Ok, EmptyFileName, FileNotFound or ReadFailed.
    int open(const std::string& file);
    std::uint64_t size() const { return size_; }
    // Reads up to n bytes at offset into `to`: the count read, short when the file ends there
    // (or shrank since it was opened), or -1 on a read error.
    std::int64_t readAt(std::uint64_t offset, std::uint8_t* to, std::size_t n) const;

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

struct FileBytes {
    std::unique_ptr<std::uint8_t[]> data;
    std::size_t size = 0;
};

// Reads at most `limit` bytes of a file (the whole file when it is smaller). Returns Ok,
// EmptyFileName, FileNotFound, ReadFailed or OutOfMemory.
int readFileBytes(const std::string& file, FileBytes& out, std::size_t limit = std::size_t(-1));
// The same from a file already open. Ok, ReadFailed or OutOfMemory.
int readFileBytes(const OpenFile& file, FileBytes& out, std::size_t limit = std::size_t(-1));

// A format decoded from the whole file in memory: reads the file, decodes it with
// decode(data, size, raster), frees the file's bytes, then hands the raster to sink. Ok, Stopped
// or an error code; running out of memory gives OutOfMemory.
using WholeFileDecoder = int (*)(const std::uint8_t* data, std::size_t size, Raster& out);
int decodeWholeFile(const std::string& file, WholeFileDecoder decode, RowSink& sink);

inline std::uint16_t le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}
inline void putLe16(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}
inline void putLe32(std::uint8_t* p, std::uint32_t v) {
    putLe16(p, v);
    putLe16(p + 2, v >> 16);
}

} // namespace pixmoor::codec::detail
