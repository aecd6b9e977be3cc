// Whole-file reading for the BMP and PCX codecs (see file_bytes.h).
#include "imaging/codec/file_bytes.h"

#include "imaging/codec/codec.h"
#include "imaging/codec/errors.h"
#include "imaging/codec/format_io.h"
#include "imaging/codec/regular_file.h"

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace pixmoor::codec::detail {

namespace {
struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};
} // namespace

int readFileBytes(const std::string& file, FileBytes& out, std::size_t limit) {
    out = FileBytes{};
    if (file.empty()) return EmptyFileName;
    Descriptor d;
    d.fd = openRegularFile(file);
    if (d.fd < 0) return FileNotFound;
    struct stat st {};
    if (::fstat(d.fd, &st) != 0) return ReadFailed;
    std::size_t size = st.st_size > 0 ? std::size_t(st.st_size) : 0;
    if (size > limit) size = limit;
    try {
        out.data.reset(new std::uint8_t[size ? size : 1]);
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(d.fd, out.data.get() + got, size - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            out = FileBytes{};
            return ReadFailed;
        }
        if (n == 0) break; // the file shrank while we read: treat what we have as the file
        got += std::size_t(n);
    }
    out.size = got;
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
