// The atomic copy: copy_file_range (which clones where the file system can) or a large buffer into
// an anonymous or hidden temporary file beside the target, then a link or rename onto the name.
#include "platform/file_copy.h"
#include "platform/file_name.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace pixmoor {

namespace {

// A file descriptor closed on every path.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    // Closes now and reports the error close found (a write the file system failed late).
    int close() {
        const int fd = fd_;
        fd_ = -1;
        return fd >= 0 && ::close(fd) != 0 ? errno : 0;
    }

private:
    int fd_;
};

constexpr size_t kRangeChunk = size_t(32) << 20; // per copy_file_range call
constexpr size_t kBufferSize = size_t(1) << 20;  // read/write fallback
constexpr int kPulseMs = 30;

int writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return ENOSPC;
        data += n;
        size -= size_t(n);
    }
    return 0;
}

constexpr off_t kFlushStep = off_t(32) << 20;

// Copies every byte from in to out (both at their start). durable: the bytes are written back
// while the copy runs (each step started, the one before it waited for), so the final fsync of a
// large file is short and the window keeps painting between the steps.
int copyBytes(int in, int out, off_t expected, bool durable, const std::function<void()>& pulse) {
    bool useRange = true;
    off_t total = 0;
    off_t started = 0; // written back from 0 up to here, or under way
    off_t waited = 0;  // on the disk from 0 up to here
    std::unique_ptr<char[]> buffer;
    QElapsedTimer sincePulse;
    sincePulse.start();
    for (;;) {
        ssize_t n;
        if (useRange) {
            n = ::copy_file_range(in, nullptr, out, nullptr, kRangeChunk, 0);
            // Not offered between these files, or a file system that reports nothing for a
            // file that has bytes: the plain road, from where the kernel stopped (nowhere).
            if (total == 0 && ((n < 0 && (errno == EXDEV || errno == ENOSYS ||
                                          errno == EOPNOTSUPP || errno == EINVAL)) ||
                               (n == 0 && expected > 0))) {
                useRange = false;
                continue;
            }
        } else {
            if (!buffer) buffer = std::make_unique<char[]>(kBufferSize);
            n = ::read(in, buffer.get(), kBufferSize);
            if (n > 0) {
                if (const int error = writeAll(out, buffer.get(), size_t(n))) return error;
            }
        }
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return 0;
        total += n;
        if (durable && total - started >= kFlushStep) {
            if (::sync_file_range(out, started, total - started, SYNC_FILE_RANGE_WRITE) == 0 &&
                started > waited &&
                ::sync_file_range(out, waited, started - waited,
                                  SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                      SYNC_FILE_RANGE_WAIT_AFTER) == 0)
                waited = started;
            started = total;
        }
        if (pulse && sincePulse.elapsed() >= kPulseMs) {
            pulse();
            sincePulse.restart();
        }
    }
}

QByteArray temporaryName(const QByteArray& name) {
    const quint64 r = QRandomGenerator::global()->generate64();
    return "." + name.left(200) + "." + QByteArray::number(r, 36) + ".part";
}

// Opens a temporary file in the directory dirFd: anonymous where possible, else a hidden name
// (returned in name).
int openTemporary(int dirFd, const QByteArray& target, bool anonymous, Fd& out, QByteArray& name) {
    if (anonymous) {
        const int fd = ::openat(dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fd >= 0) {
            out.reset(fd);
            name.clear();
            return 0;
        }
        // Only a missing O_TMPFILE falls back; a full or read-only disk is an answer.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return errno;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = temporaryName(target);
        const int fd =
            ::openat(dirFd, name.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
        if (fd >= 0) {
            out.reset(fd);
            return 0;
        }
        if (errno != EEXIST) return errno;
    }
    return EEXIST;
}

int renameNoReplaceAt(int fromDir, const char* from, int toDir, const char* to) {
    if (::renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without the flag: a link fails on an existing name just the same.
    if (::linkat(fromDir, from, toDir, to, 0) != 0) return errno;
    if (::unlinkat(fromDir, from, 0) != 0) {
        const int error = errno;
        ::unlinkat(toDir, to, 0);
        return error;
    }
    return 0;
}

bool sameInode(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The copy shared by copy and move. On success the source's directory and name are left in
// sourceDir and sourceName, and the opened source's identity in sourceStat, for a move to check
// the entry it removes; the copy's own identity is in copyStat.
int copyAndPlace(const QString& source, const QString& target, const CopyFileOptions& options,
                 Fd& sourceDir, QByteArray& sourceName, struct stat& sourceStat,
                 struct stat& copyStat) {
    const QFileInfo sourceInfo(source);
    const QFileInfo targetInfo(target);
    const QByteArray dirPath = pixmoor::encodeFileName(targetInfo.absolutePath());
    const QByteArray name = pixmoor::encodeFileName(targetInfo.fileName());
    sourceName = pixmoor::encodeFileName(sourceInfo.fileName());
    if (name.isEmpty() || sourceName.isEmpty()) return EINVAL;

    sourceDir.reset(::open(pixmoor::encodeFileName(sourceInfo.absolutePath()).constData(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!sourceDir.valid()) return errno;
    // O_NONBLOCK: a FIFO put in the file's place since it was listed must not hang the open.
    Fd in(::openat(sourceDir.get(), sourceName.constData(),
                   O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!in.valid()) return errno;
    struct stat& st = sourceStat;
    if (::fstat(in.get(), &st) != 0) return errno;
    if (!S_ISREG(st.st_mode)) return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    ::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    Fd dir(::open(dirPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid()) return errno;
    // Decided on the opened directories and files, so no link or mount changed since the caller
    // looked can make the copy take the source's own place.
    struct stat sourceDirStat {}, targetDirStat{}, existing{};
    if (::fstat(sourceDir.get(), &sourceDirStat) != 0 || ::fstat(dir.get(), &targetDirStat) != 0)
        return errno;
    if (sameInode(sourceDirStat, targetDirStat) && name == sourceName) return kTargetIsSource;
    if (::fstatat(dir.get(), name.constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
        sameInode(existing, st))
        return kTargetIsSource;

    Fd out;
    QByteArray tempName;
    if (const int error = openTemporary(dir.get(), name, options.anonymousTemporary, out, tempName))
        return error;
    const bool anonymous = tempName.isEmpty();
    if (::fstat(out.get(), &copyStat) != 0) {
        const int error = errno;
        out.close();
        if (!anonymous) ::unlinkat(dir.get(), tempName.constData(), 0);
        return error;
    }
    // Removes the named temporary file on every failure below.
    const auto failed = [&](int error) {
        out.close();
        if (!anonymous) ::unlinkat(dir.get(), tempName.constData(), 0);
        return error;
    };

    if (const int error =
            copyBytes(in.get(), out.get(), st.st_size, options.durable, options.pulse))
        return failed(error);
    if (options.durable && ::fsync(out.get()) != 0) return failed(errno);

    const bool replace = options.placement == Placement::Replace;
    // The entry about to be replaced is checked once more: a hard link to the source put there
    // since must not be exchanged for the copy.
    const auto replacesSource = [&] {
        struct stat now {};
        return ::fstatat(dir.get(), name.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
               sameInode(now, st);
    };
    if (anonymous) {
        // An anonymous file gets a name through its /proc link; to replace a file it first gets
        // a hidden name of its own and is then renamed over the target.
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(out.get());
        QByteArray linkName = name;
        int error = EEXIST;
        for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
            if (replace) linkName = temporaryName(name);
            error = ::linkat(AT_FDCWD, self.constData(), dir.get(), linkName.constData(),
                             AT_SYMLINK_FOLLOW) == 0
                        ? 0
                        : errno;
            if (!replace) break;
        }
        if (error) return failed(error);
        if (const int closeError = out.close()) {
            ::unlinkat(dir.get(), linkName.constData(), 0);
            return closeError;
        }
        if (replace) {
            const int renameError =
                replacesSource() ? kTargetIsSource
                : ::renameat(dir.get(), linkName.constData(), dir.get(), name.constData()) == 0
                    ? 0
                    : errno;
            if (renameError) {
                ::unlinkat(dir.get(), linkName.constData(), 0);
                return renameError;
            }
        }
    } else {
        if (const int closeError = out.close()) return failed(closeError);
        if (replace && replacesSource()) return failed(kTargetIsSource);
        const int error =
            replace
                ? (::renameat(dir.get(), tempName.constData(), dir.get(), name.constData()) == 0
                       ? 0
                       : errno)
                : renameNoReplaceAt(dir.get(), tempName.constData(), dir.get(), name.constData());
        if (error) return failed(error);
    }
    if (options.durable && ::fsync(dir.get()) != 0) return errno;
    return 0;
}

} // namespace

int copyFileAtomically(const QString& source, const QString& target,
                       const CopyFileOptions& options) {
    Fd sourceDir;
    QByteArray sourceName;
    struct stat sourceStat {}, copyStat{};
    return copyAndPlace(source, target, options, sourceDir, sourceName, sourceStat, copyStat);
}

int moveFileAtomically(const QString& source, const QString& target, bool& sourceRemoved,
                       CopyFileOptions options) {
    sourceRemoved = false;
    // The copy is the only other copy once the source goes: on the disk first.
    options.durable = true;
    Fd sourceDir;
    QByteArray sourceName;
    struct stat sourceStat {}, copyStat{};
    if (const int error =
            copyAndPlace(source, target, options, sourceDir, sourceName, sourceStat, copyStat))
        return error;
    // The entry removed is the file that was copied (or a link, the item itself), never the
    // copy and never a file put in its place since.
    struct stat entry {};
    if (::fstatat(sourceDir.get(), sourceName.constData(), &entry, AT_SYMLINK_NOFOLLOW) != 0)
        return 0;
    if (sameInode(entry, copyStat)) return 0;
    if (!S_ISLNK(entry.st_mode) && !sameInode(entry, sourceStat)) return 0;
    if (::unlinkat(sourceDir.get(), sourceName.constData(), 0) != 0) return 0;
    sourceRemoved = true;
    return 0;
}

int renameNoReplace(const QString& from, const QString& to) {
    return renameNoReplaceAt(AT_FDCWD, pixmoor::encodeFileName(from).constData(), AT_FDCWD,
                             pixmoor::encodeFileName(to).constData());
}

bool entryExists(const QString& path) {
    struct stat st {};
    return ::lstat(pixmoor::encodeFileName(path).constData(), &st) == 0;
}

bool sameDirectory(const QString& a, const QString& b) {
    struct stat sa {
    }, sb{};
    if (::stat(pixmoor::encodeFileName(a).constData(), &sa) != 0 ||
        ::stat(pixmoor::encodeFileName(b).constData(), &sb) != 0)
        return false;
    return S_ISDIR(sa.st_mode) && S_ISDIR(sb.st_mode) && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

} // namespace pixmoor
