// A FUSE file system whose reads never return (see blocking_fuse.h), speaking the kernel's FUSE
// protocol on /dev/fuse directly.
#include "tests/support/blocking_fuse.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/fuse.h>
#include <new>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace pixmoor::test {

namespace {

constexpr std::uint64_t kRoot = FUSE_ROOT_ID;
constexpr std::uint64_t kHang = 2;
constexpr std::uint64_t kEio = 3;
constexpr std::uint64_t kFileSize = 64 * 1024;

fuse_attr attributesOf(std::uint64_t node) {
    fuse_attr a{};
    a.ino = node;
    a.mode = node == kRoot ? (S_IFDIR | 0755) : (S_IFREG | 0644);
    a.nlink = node == kRoot ? 2 : 1;
    a.size = node == kRoot ? 0 : kFileSize;
    a.blocks = a.size / 512;
    a.blksize = 4096;
    a.atime = a.mtime = a.ctime = std::uint64_t(std::time(nullptr));
    return a;
}

} // namespace

namespace {

void reply(int fd, std::uint64_t unique, int error, const void* body, std::size_t size) {
    fuse_out_header header{};
    header.len = std::uint32_t(sizeof header + (error == 0 ? size : 0));
    header.error = -error;
    header.unique = unique;
    iovec parts[2] = {{&header, sizeof header}, {const_cast<void*>(body), size}};
    (void)!::writev(fd, parts, error == 0 && size > 0 ? 2 : 1);
}

void handle(int fd, const unsigned char* request, std::size_t size, std::atomic<int>& waiting);

// The server process's loop: only system calls and the buffer given, since the process was
// forked from a threaded one.
[[noreturn]] void serve(int fd, unsigned char* buffer, std::size_t capacity,
                        std::atomic<int>& waiting) {
    for (;;) {
        const ssize_t n = ::read(fd, buffer, capacity);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == ENOENT) continue;
            ::_exit(0); // the connection is gone
        }
        if (std::size_t(n) >= sizeof(fuse_in_header)) handle(fd, buffer, std::size_t(n), waiting);
    }
}

} // namespace

BlockingFuse::BlockingFuse() {
    void* shared = ::mmap(nullptr, sizeof(std::atomic<int>), PROT_READ | PROT_WRITE,
                          MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) {
        failure_ = std::string("mmap: ") + std::strerror(errno);
        return;
    }
    waitingReads_ = new (shared) std::atomic<int>(0);
    const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        failure_ = std::string("/dev/fuse: ") + std::strerror(errno);
        return;
    }
    const std::string options =
        "fd=" + std::to_string(fd) + ",rootmode=40000,user_id=0,group_id=0,allow_other";
    if (::mount("pixmoor-test", dir_.path().c_str(), "fuse.pixmoor-test", MS_NOSUID | MS_NODEV,
                options.c_str()) != 0) {
        failure_ = std::string("mount: ") + std::strerror(errno);
        ::close(fd);
        return;
    }
    std::vector<unsigned char> buffer(256 * 1024);
    const pid_t parent = ::getpid();
    server_ = ::fork();
    if (server_ == 0) {
        // Ends with the test process, whatever ends it.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(0);
        serve(fd, buffer.data(), buffer.size(), *waitingReads_);
    }
    // Only the server holds the connection: when it ends, the connection is aborted.
    ::close(fd);
    if (server_ < 0) {
        failure_ = std::string("fork: ") + std::strerror(errno);
        ::umount2(dir_.path().c_str(), MNT_DETACH);
    }
}

BlockingFuse::~BlockingFuse() {
    if (server_ > 0) {
        // The server's end aborts the connection: waiting reads fail at once.
        ::kill(server_, SIGKILL);
        int status = 0;
        while (::waitpid(server_, &status, 0) < 0 && errno == EINTR) {
        }
        ::umount2(dir_.path().c_str(), MNT_DETACH);
    }
    if (waitingReads_) ::munmap(waitingReads_, sizeof(std::atomic<int>));
}

namespace {

void handle(int fd, const unsigned char* request, std::size_t size, std::atomic<int>& waiting) {
    fuse_in_header in{};
    std::memcpy(&in, request, sizeof in);
    const unsigned char* arg = request + sizeof in;
    const std::size_t argSize = size - sizeof in;
    switch (in.opcode) {
    case FUSE_INIT: {
        fuse_init_in init{};
        std::memcpy(&init, arg, std::min(argSize, sizeof init));
        fuse_init_out out{};
        out.major = FUSE_KERNEL_VERSION;
        out.minor = FUSE_KERNEL_MINOR_VERSION;
        out.max_readahead = init.max_readahead;
        out.max_background = 16;
        out.congestion_threshold = 12;
        out.max_write = 4096;
        out.time_gran = 1;
        reply(fd, in.unique, 0, &out, init.minor < 23 ? FUSE_COMPAT_22_INIT_OUT_SIZE : sizeof out);
        return;
    }
    case FUSE_LOOKUP: {
        const auto named = [&](const char* name) {
            const std::size_t length = std::strlen(name) + 1; // with its terminating zero
            return argSize >= length && std::memcmp(arg, name, length) == 0;
        };
        const std::uint64_t node = in.nodeid != kRoot ? 0
                                   : named("hang")    ? kHang
                                   : named("eio")     ? kEio
                                                      : 0;
        if (node == 0) return reply(fd, in.unique, ENOENT, nullptr, 0);
        fuse_entry_out out{};
        out.nodeid = node;
        out.entry_valid = out.attr_valid = 3600;
        out.attr = attributesOf(node);
        return reply(fd, in.unique, 0, &out, sizeof out);
    }
    case FUSE_GETATTR: {
        fuse_attr_out out{};
        out.attr_valid = 3600;
        out.attr = attributesOf(in.nodeid);
        return reply(fd, in.unique, 0, &out, sizeof out);
    }
    case FUSE_OPEN:
    case FUSE_OPENDIR: {
        fuse_open_out out{};
        out.fh = in.nodeid;
        out.open_flags = in.opcode == FUSE_OPEN ? FOPEN_DIRECT_IO : 0;
        return reply(fd, in.unique, 0, &out, sizeof out);
    }
    case FUSE_READ:
        if (in.nodeid == kHang) {
            ++waiting; // never answered: the reader waits until the connection ends
            return;
        }
        return reply(fd, in.unique, EIO, nullptr, 0);
    case FUSE_READDIR:
        return reply(fd, in.unique, 0, nullptr, 0);
    case FUSE_STATFS: {
        fuse_statfs_out out{};
        out.st.bsize = out.st.frsize = 4096;
        out.st.namelen = 255;
        return reply(fd, in.unique, 0, &out, sizeof out);
    }
    case FUSE_FLUSH:
    case FUSE_RELEASE:
    case FUSE_RELEASEDIR:
    case FUSE_ACCESS:
    case FUSE_DESTROY:
        return reply(fd, in.unique, 0, nullptr, 0);
    case FUSE_FORGET:
    case FUSE_BATCH_FORGET:
    case FUSE_INTERRUPT:
        return; // no answer expected
    default:
        return reply(fd, in.unique, ENOSYS, nullptr, 0);
    }
}

} // namespace

} // namespace pixmoor::test
