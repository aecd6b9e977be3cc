// File stamps from stat (see file_stamp.h).
#include "platform/file_stamp.h"

#include "platform/file_name.h"

#include <sys/stat.h>

namespace pixmoor {

namespace {

constexpr std::int64_t kNanoseconds = 1'000'000'000;

std::int64_t nanoseconds(const timespec& t) {
    return std::int64_t(t.tv_sec) * kNanoseconds + t.tv_nsec;
}

} // namespace

std::int64_t FileStamp::mtime() const {
    // Rounded down, so a time before 1970 gives its own second as tv_sec does.
    const std::int64_t seconds = modified / kNanoseconds;
    return modified % kNanoseconds < 0 ? seconds - 1 : seconds;
}

std::optional<FileStamp> fileStamp(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileStamp{st.st_dev, st.st_ino, std::int64_t(st.st_size), nanoseconds(st.st_mtim),
                     nanoseconds(st.st_ctim)};
}

std::optional<FileStamp> fileStamp(QStringView path) {
    return fileStamp(nativePath(path));
}

} // namespace pixmoor
