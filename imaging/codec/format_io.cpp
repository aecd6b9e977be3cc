// Internal helpers shared by the JPEG, PNG, GIF and TIFF codecs (see format_io.h).
#include "imaging/codec/format_io.h"

#include "imaging/codec/codec.h"
#include "imaging/codec/regular_file.h"

#include <algorithm>
#include <cerrno>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace pixmoor::codec::detail {

int openForRead(const std::string& file, CFile& out) {
    out.reset();
    if (file.empty()) return EmptyFileName;
    const int fd = openRegularFile(file);
    if (fd < 0) return FileNotFound;
    std::FILE* f = ::fdopen(fd, "rb");
    if (!f) {
        ::close(fd);
        return OutOfMemory;
    }
    out.reset(f);
    return Ok;
}

OutputFile::~OutputFile() {
    abandon();
}

int OutputFile::open(const std::string& file) {
    abandon();
    if (file.empty()) return EmptyFileName;
    file_ = std::fopen(file.c_str(), "wbe");
    if (!file_) return CreateFailed;
    name_ = file;
    return Ok;
}

namespace {

// Removes what a failed write left, but only a regular file: a name may also lead to a device
// (/dev/null, /dev/full) or a pipe, which must stay.
void removeIfRegular(std::FILE* f, const std::string& name) {
    struct stat st {};
    if (fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(name.c_str());
}

} // namespace

int OutputFile::commit() {
    if (!file_) return WriteFailed;
    // A full disk shows up at the latest when the buffered bytes are flushed.
    const bool ok = std::fflush(file_) == 0 && !std::ferror(file_);
    if (!ok) {
        abandon();
        return WriteFailed;
    }
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!closed) {
        struct stat st {};
        if (::stat(name_.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(name_.c_str());
        name_.clear();
        return WriteFailed;
    }
    name_.clear();
    return Ok;
}

void OutputFile::abandon() {
    if (file_) {
        removeIfRegular(file_, name_);
        std::fclose(file_);
        file_ = nullptr;
    }
    name_.clear();
}

std::int64_t fileSize(std::FILE* f) {
    struct stat st {};
    if (!f || fstat(fileno(f), &st) != 0) return -1;
    return st.st_size;
}

int checkDimensions(std::int64_t width, std::int64_t height) {
    if (width <= 0 || height <= 0) return Corrupt;
    if (width > kMaxDimension || height > kMaxDimension || width * height > kMaxPixels)
        return TooLarge;
    return Ok;
}

std::vector<Rgb> grayRamp(int n) {
    std::vector<Rgb> ramp(std::size_t(std::max(n, 2)));
    const int last = int(ramp.size()) - 1;
    for (int i = 0; i <= last; ++i) {
        const auto v = static_cast<std::uint8_t>((i * 255 + last / 2) / last);
        ramp[std::size_t(i)] = {v, v, v};
    }
    return ramp;
}

bool validDepth(int bits) {
    return bits == 0 || bits == 1 || bits == 4 || bits == 8 || bits == 24;
}

int indexedBitsFor(std::size_t paletteSize) {
    if (paletteSize <= 2) return 1;
    if (paletteSize <= 16) return 4;
    return 8;
}

void coverIndices(Raster& image) {
    if (!image.indexed() || image.palette.size() >= 256) return;
    std::uint8_t highest = 0;
    const std::size_t width = std::size_t(image.width);
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* p = image.row(y);
        for (std::size_t x = 0; x < width; ++x) highest = std::max(highest, p[x]);
    }
    if (highest >= image.palette.size()) image.palette.resize(std::size_t(highest) + 1, Rgb{});
    image.bits = std::max(image.bits, indexedBitsFor(image.palette.size()));
}

const Raster* rasterForDepth(const Raster& in, int bits, Raster& scratch, int& result) {
    result = Ok;
    if (!validDepth(bits)) {
        result = BadDepth;
        return nullptr;
    }
    if (in.empty() || (in.bits != 1 && in.bits != 4 && in.bits != 8 && in.bits != 24)) {
        result = EmptyImage;
        return nullptr;
    }
    const std::size_t rowBytes = std::size_t(in.width) * (in.bits == 24 ? 3 : 1);
    if (in.stride < rowBytes || in.pixels.size() < in.stride * std::size_t(in.height)) {
        result = Corrupt;
        return nullptr;
    }
    // Already at the asked depth: encode as it stands (indices are made safe by the writers).
    if (bits == 24 && in.bits == 24) return &in;
    if (bits != 0 && bits != 24 && in.indexed() && in.palette.size() <= (std::size_t(1) << bits)) {
        bool inRange = true;
        for (int y = 0; y < in.height && inRange; ++y) {
            const std::uint8_t* p = in.row(y);
            for (int x = 0; x < in.width; ++x)
                if (p[x] >= in.palette.size()) {
                    inRange = false;
                    break;
                }
        }
        if (inRange) return &in;
    }
    try {
        scratch = in;
    } catch (const std::bad_alloc&) {
        result = OutOfMemory;
        return nullptr;
    }
    if (scratch.indexed()) coverIndices(scratch);
    result = convertDepth(scratch, bits, 1);
    if (result != Ok) return nullptr;
    return &scratch;
}

} // namespace pixmoor::codec::detail
