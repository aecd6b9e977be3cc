// File attributes on Linux: permissions for read-only, the name and user.DOSATTRIB for the rest.
#include "platform/file_attributes.h"
#include "platform/file_name.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <sys/xattr.h>

namespace pixmoor {

namespace {

// The bits user.DOSATTRIB holds: everything but read-only, which the permissions hold.
constexpr AttributeWord kStoredBits = AttributeWord(~kAttrReadOnly);

using GetAttribute = ssize_t (*)(const char*, const char*, void*, size_t);

// The stored word, 0 when there is none; nothing when it exists but cannot be read. get is
// lgetxattr for an entry named by its path (a link itself is read, not its target), getxattr for
// the /proc name of an opened descriptor.
std::optional<AttributeWord> readStoredWord(const QByteArray& native,
                                            GetAttribute get = ::lgetxattr) {
    QByteArray buffer(256, Qt::Uninitialized);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const ssize_t n =
            get(native.constData(), kDosAttribName, buffer.data(), size_t(buffer.size()));
        if (n >= 0) return parseDosAttrib(buffer.left(n)).value_or(0);
        // No attribute, or a file system without them: no bits.
        if (errno == ENODATA || errno == ENOTSUP) return AttributeWord(0);
        if (errno != ERANGE) return std::nullopt;
        // Samba appends binary data to the text: ask for the size and read again.
        const ssize_t size = get(native.constData(), kDosAttribName, nullptr, 0);
        if (size < 0 || size > 65536) return std::nullopt;
        buffer.resize(size);
    }
    return std::nullopt;
}

bool startsWithDot(const QString& path) {
    return QFileInfo(path).fileName().startsWith(u'.');
}

} // namespace

std::optional<AttributeWord> parseDosAttrib(const QByteArray& value) {
    QByteArray text = value;
    const qsizetype nul = text.indexOf('\0');
    if (nul >= 0) text.truncate(nul);
    text = text.trimmed();
    if (text.isEmpty()) return std::nullopt;
    bool ok = false;
    const uint number = text.startsWith("0x") || text.startsWith("0X") ? text.mid(2).toUInt(&ok, 16)
                                                                       : text.toUInt(&ok, 10);
    if (!ok) return std::nullopt;
    return AttributeWord(number & 0xffff);
}

QByteArray formatDosAttrib(AttributeWord word) {
    return "0x" + QByteArray::number(word, 16);
}

std::optional<AttributeWord> readFileAttributes(const QString& path) {
    const QByteArray native = pixmoor::encodeFileName(path);
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0) return std::nullopt;
    AttributeWord word = readStoredWord(native).value_or(0) & kStoredBits;
    if (!(st.st_mode & S_IWUSR)) word |= kAttrReadOnly;
    if (startsWithDot(path)) word |= kAttrHidden;
    return word;
}

bool writeFileAttributes(const QString& path, AttributeWord word) {
    // The entry is opened without following a link, and changed through that descriptor: a
    // symbolic link's target, which may lie outside the folder, is never touched, nor a file
    // put in the entry's place after it was looked at.
    const int fd = ::open(pixmoor::encodeFileName(path).constData(),
                          O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))) return false;
    // A descriptor opened for its path only is changed through its /proc name.
    const QByteArray native = "/proc/self/fd/" + QByteArray::number(fd);
    bool ok = true;

    const mode_t mode = st.st_mode & 07777;
    const mode_t wanted =
        (word & kAttrReadOnly) ? mode_t(mode & ~(S_IWUSR | S_IWGRP | S_IWOTH)) : (mode | S_IWUSR);
    if (wanted != mode && ::chmod(native.constData(), wanted) != 0) ok = false;

    const std::optional<AttributeWord> stored = readStoredWord(native, ::getxattr);
    const AttributeWord bits = word & kStoredBits;
    // A dot file reads as hidden whatever is stored; only the stored bits are compared.
    if (!stored || (*stored & kStoredBits) != bits) {
        const QByteArray text = formatDosAttrib(bits);
        if (::setxattr(native.constData(), kDosAttribName, text.constData(), size_t(text.size()),
                       0) != 0)
            ok = false;
    }
    return ok;
}

} // namespace pixmoor
