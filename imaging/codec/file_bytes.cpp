// Whole-file reading for the BMP and PCX codecs (see file_bytes.h).
#include "imaging/codec/file_bytes.h"

#include "imaging/codec/codec.h"
#include "imaging/codec/errors.h"
#include "imaging/codec/format_io.h"
#include "imaging/codec/regular_file.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace pixmoor::codec::detail {

OpenFile::~OpenFile() {
    if (fd_ >= 0) ::close(fd_);
}

int OpenFile::open(const std::string& file) {
    if (file.empty()) return EmptyFileName;
    if (fd_ >= 0) ::close(fd_);
    fd_ = openRegularFile(file);
    if (fd_ < 0) return FileNotFound;
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return ReadFailed;
    size_ = st.st_size > 0 ? std::uint64_t(st.st_size) : 0;
    return Ok;
}

std::int64_t OpenFile::readAt(std::uint64_t offset, std::uint8_t* to, std::size_t n) const {
    if (fd_ < 0) return -1;
    std::size_t got = 0;
    while (got < n) {
        const ssize_t r = ::pread(fd_, to + got, n - got, off_t(offset + got));
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (r == 0) break; // the end of the file, or it shrank while we read
        got += std::size_t(r);
    }
    return std::int64_t(got);
}

int readFileBytes(const std::string& file, FileBytes& out, std::size_t limit) {
    out = FileBytes{};
    OpenFile f;
    if (const int rc = f.open(file); rc != Ok) return rc;
    return readFileBytes(f, out, limit);
}

int readFileBytes(const OpenFile& f, FileBytes& out, std::size_t limit) {
    out = FileBytes{};
    const std::size_t size = std::size_t(std::min<std::uint64_t>(f.size(), limit));
    try {
        out.data.reset(new std::uint8_t[size ? size : 1]);
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
    const std::int64_t got = f.readAt(0, out.data.get(), size);
    if (got < 0) {
        out = FileBytes{};
        return ReadFailed;
    }
    out.size = std::size_t(got); // a file that shrank while we read is what we have of it
    return Ok;
}

} // namespace pixmoor::codec::detail

namespace pixmoor::codec::detail {

int decodeWholeFile(const std::string& file, WholeFileDecoder decode, RowSink& sink) {
    try {
        Raster raster;
        {
            FileBytes bytes;
            if (const int rc = readFileBytes(file, bytes); rc != Ok) return rc;
            if (const int rc = decode(bytes.data.get(), bytes.size, raster); rc != Ok) return rc;
        } // the file's bytes go before the raster is handed on
        return sink.image(std::move(raster)) ? Ok : Stopped;
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
}

} // namespace pixmoor::codec::detail
