// Opening image files safely (see regular_file.h).
#include "imaging/codec/regular_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

namespace pixmoor::codec {

namespace {

// Whether the open file lives on one of the kernel's pseudo file systems, whose "regular" files
// are views of kernel state: some block in read until the kernel has news (/proc/kmsg, tracefs's
// trace_pipe), others never end. None of them holds a picture.
bool onPseudoFileSystem(int fd) {
#ifdef __linux__
    // Not all of these are in <linux/magic.h>.
    constexpr unsigned long kConfigFs = 0x62656570, kFuseCtl = 0x65735543, kMqueue = 0x19800202;
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0) return false; // undecided: the reader's own checks follow
    switch (static_cast<unsigned long>(fs.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case SELINUX_MAGIC:
    case SMACK_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case BPF_FS_MAGIC:
    case PSTOREFS_MAGIC:
    case EFIVARFS_MAGIC:
    case BINFMTFS_MAGIC:
    case NSFS_MAGIC:
    case kConfigFs:
    case kFuseCtl:
    case kMqueue:
        return true;
    default:
        return false;
    }
#else
    (void)fd;
    return false;
#endif
}

} // namespace

int openRegularFile(const std::string& path) {
    if (path.empty()) {
        errno = ENOENT;
        return -1;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    struct stat st {};
    int error = 0;
    if (::fstat(fd, &st) != 0)
        error = errno;
    else if (!S_ISREG(st.st_mode) || onPseudoFileSystem(fd))
        error = EINVAL;
    if (error != 0) {
        ::close(fd);
        errno = error;
        return -1;
    }
    // Regular files ignore O_NONBLOCK, but callers may hand the descriptor on: clear it.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace pixmoor::codec
