// Internal helpers shared by the JPEG, PNG, GIF and TIFF codecs (see format_io.h).
#include "imaging/codec/format_io.h"

#include "imaging/codec/codec.h"
#include "imaging/codec/regular_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <sys/xattr.h>
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

namespace {

std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string baseOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A hidden name beside the target that no other writer uses: the process, a counter and the time.
std::string temporaryName(const std::string& base) {
    static std::atomic<std::uint64_t> counter{0};
    const auto now = std::uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
    char tag[64];
    std::snprintf(tag, sizeof tag, ".%lx-%llx-%llx.part", static_cast<unsigned long>(::getpid()),
                  static_cast<unsigned long long>(counter.fetch_add(1)),
                  static_cast<unsigned long long>(now & 0xffffffffffULL));
    return "." + base.substr(0, 200) + tag;
}

// The user attributes of a replaced file (the DOS attribute word among them) go to its successor;
// a file system without them keeps none, as before.
void copyUserAttributes(const std::string& from, int to) {
    const ssize_t size = ::llistxattr(from.c_str(), nullptr, 0);
    if (size <= 0) return;
    std::vector<char> names(std::size_t(size) + 1, '\0');
    const ssize_t listed = ::llistxattr(from.c_str(), names.data(), std::size_t(size));
    if (listed <= 0) return;
    for (std::size_t at = 0; at < std::size_t(listed);) {
        const std::string name(names.data() + at);
        at += name.size() + 1;
        if (name.rfind("user.", 0) != 0) continue;
        const ssize_t length = ::lgetxattr(from.c_str(), name.c_str(), nullptr, 0);
        if (length < 0) continue;
        std::vector<char> value(std::size_t(length) + 1);
        const ssize_t got = ::lgetxattr(from.c_str(), name.c_str(), value.data(), value.size());
        if (got < 0) continue;
        if (::fsetxattr(to, name.c_str(), value.data(), std::size_t(got), 0) != 0) continue;
    }
}

// The bytes this thread's writers encode into instead of files (see MemoryOutput).
thread_local EncodedImage* memoryOutput = nullptr;

} // namespace

MemoryOutput::MemoryOutput(EncodedImage& into) {
    memoryOutput = &into;
}

MemoryOutput::~MemoryOutput() {
    memoryOutput = nullptr;
}

int OutputFile::open(const std::string& file) {
    abandon();
    if (file.empty()) return EmptyFileName;
    if (baseOf(file).empty()) return CreateFailed;
    if (memoryOutput) {
        memoryOutput->clear();
        file_ = memoryOutput->openStream();
        if (!file_) return OutOfMemory;
        memory_ = memoryOutput;
        return Ok;
    }
    struct stat st {};
    if (::lstat(file.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return CreateFailed;
        if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
            // A device or a pipe cannot be replaced: it is written as it stands (never through
            // a link put in its place since).
            const int fd = ::open(file.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
            if (fd < 0) return CreateFailed;
            file_ = ::fdopen(fd, "wb");
            if (!file_) {
                ::close(fd);
                return CreateFailed;
            }
            name_ = file;
            inPlace_ = true;
            return Ok;
        }
        if (S_ISREG(st.st_mode)) {
            // Replacing takes the permission to write the file itself, not only its directory.
            if (::faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS) != 0) return CreateFailed;
            replacing_ = true;
            oldMode_ = st.st_mode & 07777;
            oldUid_ = st.st_uid;
            oldGid_ = st.st_gid;
        }
        // A symbolic link is replaced by the new file like any entry; what it points to, which
        // may lie outside the folder, is neither written nor created.
    } else if (errno != ENOENT) {
        return CreateFailed;
    }
    name_ = file;
    target_ = file;
    directory_ = directoryOf(file);
    const int rc = openTemporary();
    if (rc != Ok) abandon();
    return rc;
}

// An anonymous file where the file system offers one (nothing is left if the program dies),
// else a hidden name beside the target.
int OutputFile::openTemporary() {
    dirFd_ = ::open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd_ < 0) return CreateFailed;
    int fd = ::openat(dirFd_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) {
        // Only a missing O_TMPFILE falls back; a full or read-only disk is an answer.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return CreateFailed;
        const std::string base = baseOf(target_);
        for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
            tempName_ = temporaryName(base);
            fd = ::openat(dirFd_, tempName_.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
            if (fd < 0 && errno != EEXIST) break;
        }
        if (fd < 0) {
            tempName_.clear();
            return CreateFailed;
        }
    }
    file_ = ::fdopen(fd, "wb");
    if (!file_) {
        ::close(fd);
        return OutOfMemory;
    }
    return Ok;
}

void OutputFile::closeDirectory() {
    if (dirFd_ >= 0) ::close(dirFd_);
    dirFd_ = -1;
}

int OutputFile::commit() {
    if (!file_) return WriteFailed;
    // A full disk shows up at the latest when the buffered bytes are flushed.
    bool ok = std::fflush(file_) == 0 && !std::ferror(file_);
    if (memory_) {
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        if (!ok || !closed) memory_->clear();
        memory_ = nullptr;
        return ok && closed ? Ok : WriteFailed;
    }
    if (inPlace_) {
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        abandon();
        return ok && closed ? Ok : WriteFailed;
    }
    const int fd = ::fileno(file_);
    if (ok && replacing_) {
        // Owner first: a change of owner clears the set-id bits that the mode then restores.
        // Only a privileged writer may give a file away; the others keep their own.
        if ((oldUid_ != ::geteuid() || oldGid_ != ::getegid()) &&
            ::fchown(fd, uid_t(oldUid_), gid_t(oldGid_)) != 0 &&
            ::fchown(fd, uid_t(-1), gid_t(oldGid_)) != 0) {
            // Not allowed: the new file belongs to the writer, as a file it creates would.
        }
        copyUserAttributes(target_, fd);
        ok = ::fchmod(fd, mode_t(oldMode_)) == 0;
        // The old file is at stake: the new bytes are on the disk before its name moves.
        ok = ok && ::fsync(fd) == 0;
    }
    if (ok && tempName_.empty()) {
        // The anonymous file gets a hidden name through its /proc link, then the target's.
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        const std::string base = baseOf(target_);
        int error = EEXIST;
        for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
            tempName_ = temporaryName(base);
            error =
                ::linkat(AT_FDCWD, self.c_str(), dirFd_, tempName_.c_str(), AT_SYMLINK_FOLLOW) == 0
                    ? 0
                    : errno;
        }
        if (error) {
            tempName_.clear();
            ok = false;
        }
    }
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    ok =
        ok && closed && ::renameat(dirFd_, tempName_.c_str(), dirFd_, baseOf(target_).c_str()) == 0;
    if (!ok) {
        abandon(); // removes the hidden name
        return WriteFailed;
    }
    tempName_.clear();
    if (replacing_ && ::fsync(dirFd_) != 0) {
        // The new name is in place either way; only its way to the disk is left to the system.
    }
    abandon();
    return Ok;
}

void OutputFile::abandon() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (memory_) memory_->clear();
    memory_ = nullptr;
    if (!tempName_.empty() && dirFd_ >= 0) ::unlinkat(dirFd_, tempName_.c_str(), 0);
    closeDirectory();
    name_.clear();
    target_.clear();
    directory_.clear();
    tempName_.clear();
    inPlace_ = false;
    replacing_ = false;
}

std::int64_t fileSize(std::FILE* f) {
    struct stat st {};
    if (!f || fstat(fileno(f), &st) != 0) return -1;
    return st.st_size;
}

int checkDimensions(std::int64_t width, std::int64_t height) {
    if (width <= 0 || height <= 0) return Corrupt;
    if (width > limits::kMaxDimension || height > limits::kMaxDimension ||
        width * height > limits::kMaxPixels)
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
