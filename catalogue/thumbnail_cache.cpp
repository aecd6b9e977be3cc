// The shared thumbnail cache (see thumbnail_cache.h): naming, reading entries as untrusted PNG
// files, and atomic writing.
#include "catalogue/thumbnail_cache.h"

#include "imaging/codec/errors.h"
#include "imaging/codec/png_quick_write.h"
#include "imaging/codec/png_text.h"
#include "imaging/png_image.h"
#include "platform/cache_home.h"
#include "platform/file_name.h"

#include <QCryptographicHash>
#include <QDir>
#include <QMimeDatabase>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace pixmoor {

namespace {

constexpr const char* kLevelDirectories[ThumbnailCache::kLevels] = {"normal", "large", "x-large",
                                                                    "xx-large"};
constexpr int kLevelSizes[ThumbnailCache::kLevels] = {128, 256, 512, 1024};
// The failure entries of this program, and the Software key of its entries.
constexpr const char* kFailureDirectory = "fail/pixmoor-1.00";
constexpr const char* kSoftware = "Pixmoor 1.00";

std::atomic<bool> cacheEnabled{true};

// Bytes GLib leaves as they are in a file URI's path (g_filename_to_uri), so both name the same
// file by the same URI and therefore the same entry.
bool keptInUri(unsigned char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    return std::strchr("-._~/!$&'()*+,=:@", c) != nullptr && c != 0;
}

// ---- the entry's PNG --------------------------------------------------------------------------

// The PNG of image with the text chunks right after its header, encoded at once (libdeflate at
// its fastest level): entries are written while a build decodes, and libpng through Qt's writer
// took several times as long. Values are stored as plain tEXt chunks, as other programs read
// them (Qt's writer would store those of 40 characters or more, the URI among them, as zTXt).
QByteArray encodePng(const QImage& image, const QList<QPair<QByteArray, QByteArray>>& keys) {
    const bool alpha = image.hasAlphaChannel();
    const QImage pixels =
        image.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    if (pixels.isNull()) return {};
    std::vector<codec::PngText> texts;
    texts.reserve(std::size_t(keys.size()));
    for (const auto& [key, value] : keys)
        texts.emplace_back(key.toStdString(), value.toStdString());
    const std::vector<std::uint8_t> png =
        codec::encodePngQuick(pixels.constBits(), pixels.width(), pixels.height(),
                              std::size_t(pixels.bytesPerLine()), alpha ? 4 : 3, texts);
    return QByteArray(reinterpret_cast<const char*>(png.data()), qsizetype(png.size()));
}

// ---- folders and files ----------------------------------------------------------------------

// An owned file descriptor.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            if (fd_ >= 0) ::close(fd_);
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

int retryOpenAt(int dirFd, const char* name, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::openat(dirFd, name, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Creates a directory and any missing parents, each 0700 as the cache's directories must be.
bool makeDirectories(const QByteArray& path, int depth = 0) {
    if (path.isEmpty() || depth > 64) return false;
    if (::mkdir(path.constData(), 0700) == 0) return true;
    if (errno == EEXIST) {
        struct stat st {};
        return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    if (errno != ENOENT) return false;
    const qsizetype slash = path.lastIndexOf('/');
    if (slash <= 0) return false;
    if (!makeDirectories(path.left(slash), depth + 1)) return false;
    return ::mkdir(path.constData(), 0700) == 0 || errno == EEXIST;
}

// The folder `name` inside the folder open as parentFd, opened without following a link: only a
// real directory owned by the user with mode 0700 is used. With create, a missing one is made
// so. Anything else (a link, a file, a folder of another user or with other permissions) gives
// an invalid descriptor, and the cache does not use that folder. Every step works on the
// descriptors, so a name swapped for a link meanwhile is refused, not followed.
Fd openPrivateFolder(int parentFd, const char* name, bool create) {
    bool made = false;
    if (create) {
        if (::mkdirat(parentFd, name, 0700) == 0)
            made = true;
        else if (errno != EEXIST)
            return Fd();
    }
    Fd fd(retryOpenAt(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
    if (!fd.valid()) return Fd();
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return Fd();
    // A folder just made may have lost bits to the umask; one found is taken only as it is.
    if ((st.st_mode & 07777) != 0700 && !(made && ::fchmod(fd.get(), 0700) == 0)) return Fd();
    return fd;
}

// The cache's own folder at relative ("normal", "fail/pixmoor-1.00") below the root, each step
// checked by openPrivateFolder. The root itself may be reached through links (the user's cache
// directory may live elsewhere), but must be the user's. With create, the root (and its
// parents) and the folders are made when missing.
Fd openCacheFolder(const QString& root, const char* relative, bool create) {
    const QByteArray rootPath = encodeFileName(root);
    Fd current(retryOpenAt(AT_FDCWD, rootPath.constData(), O_RDONLY | O_DIRECTORY));
    if (!current.valid() && create && errno == ENOENT && makeDirectories(rootPath))
        current = Fd(retryOpenAt(AT_FDCWD, rootPath.constData(), O_RDONLY | O_DIRECTORY));
    if (!current.valid()) return Fd();
    struct stat st {};
    if (::fstat(current.get(), &st) != 0 || st.st_uid != ::geteuid()) return Fd();
    const QList<QByteArray> steps = QByteArray(relative).split('/');
    for (const QByteArray& step : steps) {
        current = openPrivateFolder(current.get(), step.constData(), create);
        if (!current.valid()) return Fd();
    }
    return current;
}

bool writeAll(int fd, const QByteArray& bytes) {
    const char* p = bytes.constData();
    std::size_t left = std::size_t(bytes.size());
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        left -= std::size_t(n);
    }
    return true;
}

// Reads the whole entry `name` of the folder open as dirFd if it is a regular file (not a link)
// of at most maxBytes; nullopt otherwise (a FIFO or a device placed in the cache cannot block or
// flood the reader).
std::optional<QByteArray> readRegularFileAt(int dirFd, const QByteArray& name,
                                            std::int64_t maxBytes) {
    Fd fd(retryOpenAt(dirFd, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    if (!fd.valid()) return std::nullopt;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 ||
        st.st_size > maxBytes)
        return std::nullopt;
    QByteArray bytes(qsizetype(st.st_size), Qt::Uninitialized);
    qsizetype got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + got, std::size_t(bytes.size() - got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += n;
    }
    if (got != bytes.size()) return std::nullopt;
    return bytes;
}

// A strict decimal integer, as the keys hold them: an optional minus and digits, nothing else.
std::optional<std::int64_t> integerKey(const std::optional<std::string>& text) {
    if (!text || text->empty() || text->size() > 20 || text->front() == '+') return std::nullopt;
    std::int64_t value = 0;
    const char* end = text->data() + text->size();
    const auto [stop, error] = std::from_chars(text->data(), end, value, 10);
    if (error != std::errc() || stop != end) return std::nullopt;
    return value;
}

// The keys an entry is judged by, in this order.
constexpr std::string_view kEntryKeys[] = {"Thumb::URI", "Thumb::MTime", "Thumb::Size",
                                           "Thumb::Image::Width", "Thumb::Image::Height"};
enum EntryKey { Uri, MTime, Size, Width, Height };

// An entry file read with its keys: the keys of the text chunks before the image data, found
// with bounded work (a few text chunks, each value inflated into a small buffer), so a hostile
// entry cannot cost much before it is judged.
struct EntryFile {
    QByteArray bytes;
    std::vector<std::optional<std::string>> keys;
};

std::optional<EntryFile> readEntryFile(int dirFd, const QString& name, std::size_t uriLength) {
    std::optional<QByteArray> bytes =
        readRegularFileAt(dirFd, encodeFileName(name), ThumbnailCache::kMaxFileBytes);
    if (!bytes) return std::nullopt;
    EntryFile entry;
    codec::PngTextLimits limits;
    // Room for the longest URI of a path: the file's own URI must fit.
    limits.maxValueBytes = std::max(limits.maxValueBytes, uriLength);
    if (codec::readPngText(reinterpret_cast<const std::uint8_t*>(bytes->constData()),
                           std::size_t(bytes->size()), kEntryKeys, entry.keys, limits) != codec::Ok)
        return std::nullopt;
    entry.bytes = std::move(*bytes);
    return entry;
}

bool keyIs(const std::optional<std::string>& value, const QByteArray& expected) {
    return value && QByteArrayView(*value) == QByteArrayView(expected);
}

// The picture of an entry whose keys passed, if it is one a thumbnail can be: a PNG the codec
// reads, no larger than kMaxSide a side. Alpha is composited over white, as the catalogue shows
// it; no text of the file comes along.
std::optional<QImage> entryPicture(const QByteArray& bytes) {
    PngImageOptions options;
    options.maxSide = ThumbnailCache::kMaxSide;
    QImage image = decodePngImage(bytes, options);
    if (image.isNull()) return std::nullopt;
    return image;
}

} // namespace

bool ThumbnailCache::enabled() {
    return cacheEnabled.load(std::memory_order_relaxed);
}

void ThumbnailCache::setEnabled(bool on) {
    cacheEnabled.store(on, std::memory_order_relaxed);
}

// ---- sizes ----------------------------------------------------------------------------------

int ThumbnailCache::levelSize(Level level) {
    return kLevelSizes[int(level)];
}

const char* ThumbnailCache::levelDirectory(Level level) {
    return kLevelDirectories[int(level)];
}

std::optional<ThumbnailCache::Level> ThumbnailCache::levelFor(QSize thumbnail) {
    const int side = std::max(thumbnail.width(), thumbnail.height());
    if (side < 1) return std::nullopt;
    for (int i = 0; i < kLevels; ++i)
        if (side <= kLevelSizes[i]) return Level(i);
    return std::nullopt;
}

QSize ThumbnailCache::entrySize(QSize image, Level level) {
    const int w = image.width(), h = image.height();
    if (w < 1 || h < 1) return {};
    const int limit = levelSize(level);
    if (w <= limit && h <= limit) return image;
    // The longer side becomes the limit, the other is rounded to the nearest pixel, at least 1.
    if (w >= h)
        return {limit, int(std::max<std::int64_t>(1, (std::int64_t(h) * limit * 2 + w) /
                                                         (std::int64_t(w) * 2)))};
    return {
        int(std::max<std::int64_t>(1, (std::int64_t(w) * limit * 2 + h) / (std::int64_t(h) * 2))),
        limit};
}

bool ThumbnailCache::Entry::isOriginalSize() const {
    const QSize s = image.size();
    return !original.isEmpty() && (s == original || s == original.transposed());
}

bool ThumbnailCache::Entry::covers(QSize thumbnail) const {
    if (image.isNull()) return false;
    return isOriginalSize() ||
           (image.width() >= thumbnail.width() && image.height() >= thumbnail.height());
}

// ---- naming ---------------------------------------------------------------------------------

ThumbnailCache::ThumbnailCache()
    : ThumbnailCache(userCacheDirectory() + QStringLiteral("/thumbnails")) {}

ThumbnailCache::ThumbnailCache(const QString& root) : root_(QDir::cleanPath(root)) {
    char* resolved = ::realpath(nativePath(root_).c_str(), nullptr);
    if (resolved) {
        canonicalRoot_ = decodeFileName(QByteArrayView(resolved));
        std::free(resolved);
    }
}

QByteArray ThumbnailCache::fileUri(const QString& absolutePath) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const QByteArray bytes = encodeFileName(absolutePath);
    QByteArray uri("file://");
    uri.reserve(uri.size() + bytes.size() * 3);
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (keptInUri(c)) {
            uri.append(ch);
        } else {
            uri.append('%').append(kHex[c >> 4]).append(kHex[c & 15]);
        }
    }
    return uri;
}

QString ThumbnailCache::entryName(const QByteArray& uri) {
    return QString::fromLatin1(QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex()) +
           QStringLiteral(".png");
}

QString ThumbnailCache::entryPath(const QString& absolutePath, Level level) const {
    return root_ + u'/' + QLatin1String(levelDirectory(level)) + u'/' +
           entryName(fileUri(absolutePath));
}

QString ThumbnailCache::failurePath(const QString& absolutePath) const {
    return root_ + u'/' + QLatin1String(kFailureDirectory) + u'/' +
           entryName(fileUri(absolutePath));
}

bool ThumbnailCache::mayCache(const QString& absoluteDirectory) const {
    const QString clean = QDir::cleanPath(absoluteDirectory);
    const auto inside = [](const QString& dir, const QString& root) {
        return !root.isEmpty() && (dir == root || dir.startsWith(root + u'/'));
    };
    if (inside(clean, root_)) return false;
    if (canonicalRoot_.isEmpty()) return true;
    char* resolved = ::realpath(nativePath(clean).c_str(), nullptr);
    if (!resolved) return true; // nothing there to read either
    const QString canonical = decodeFileName(QByteArrayView(resolved));
    std::free(resolved);
    return !inside(canonical, canonicalRoot_);
}

// ---- reading --------------------------------------------------------------------------------

std::optional<ThumbnailCache::Entry> ThumbnailCache::read(Level level, const QString& absolutePath,
                                                          std::int64_t mtime,
                                                          std::int64_t fileSize) const {
    const QByteArray uri = fileUri(absolutePath);
    const Fd folder = openCacheFolder(root_, levelDirectory(level), false);
    if (!folder.valid()) return std::nullopt;
    const std::optional<EntryFile> file =
        readEntryFile(folder.get(), entryName(uri), std::size_t(uri.size()));
    if (!file) return std::nullopt;
    const auto& keys = file->keys;
    if (!keyIs(keys[Uri], uri) || integerKey(keys[MTime]) != mtime) return std::nullopt;
    // A size given that differs from the file's shows a change within the same second.
    if (keys[Size] && !keys[Size]->empty() && fileSize >= 0 && integerKey(keys[Size]) != fileSize)
        return std::nullopt;
    std::optional<QImage> image = entryPicture(file->bytes);
    if (!image) return std::nullopt;
    Entry entry;
    const std::optional<std::int64_t> w = integerKey(keys[Width]);
    const std::optional<std::int64_t> h = integerKey(keys[Height]);
    if (w && h && *w > 0 && *h > 0 && *w <= 1 << 30 && *h <= 1 << 30)
        entry.original = QSize(int(*w), int(*h));
    entry.image = std::move(*image);
    return entry;
}

std::optional<QImage> ThumbnailCache::lookup(const QString& absolutePath, std::int64_t mtime,
                                             QSize thumbnail, std::int64_t fileSize) const {
    const std::optional<Level> first = levelFor(thumbnail);
    if (!first) return std::nullopt;
    for (int i = int(*first); i < kLevels; ++i) {
        std::optional<Entry> entry = read(Level(i), absolutePath, mtime, fileSize);
        if (entry && entry->covers(thumbnail)) return std::move(entry->image);
    }
    return std::nullopt;
}

bool ThumbnailCache::hasFailed(const QString& absolutePath, std::int64_t mtime) const {
    const QByteArray uri = fileUri(absolutePath);
    const Fd folder = openCacheFolder(root_, kFailureDirectory, false);
    if (!folder.valid()) return false;
    const std::optional<EntryFile> file =
        readEntryFile(folder.get(), entryName(uri), std::size_t(uri.size()));
    return file && keyIs(file->keys[Uri], uri) && integerKey(file->keys[MTime]) == mtime &&
           entryPicture(file->bytes);
}

// ---- writing --------------------------------------------------------------------------------

bool ThumbnailCache::writeEntry(const char* folder, const QString& name, const QImage& image,
                                const QList<QPair<QByteArray, QByteArray>>& keys) const {
    if (image.isNull()) return false;
    const QByteArray png = encodePng(image, keys);
    if (png.isEmpty()) return false;
    // Only inside the cache's own folders: nothing is written through a link or into a folder
    // another user or program could have put there.
    const Fd directory = openCacheFolder(root_, folder, true);
    if (!directory.valid()) return false;
    const QByteArray target = encodeFileName(name);
    // A private name in the same directory, created exclusively (mode 0600), then renamed over
    // the entry: a reader sees the old entry or the new one, never a part.
    static constexpr char kLetters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray temporary;
    Fd fd;
    for (int attempt = 0; attempt < 64 && !fd.valid(); ++attempt) {
        unsigned char random[8];
        if (::getrandom(random, sizeof random, 0) != ssize_t(sizeof random)) return false;
        temporary = ".pixmoor-" + target + '.';
        for (unsigned char r : random) temporary.append(kLetters[r % (sizeof kLetters - 1)]);
        fd = Fd(retryOpenAt(directory.get(), temporary.constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600));
        if (!fd.valid() && errno != EEXIST) return false;
    }
    if (!fd.valid()) return false;
    bool ok = ::fchmod(fd.get(), 0600) == 0 && writeAll(fd.get(), png);
    if (::close(fd.release()) != 0) ok = false;
    if (ok && ::renameat(directory.get(), temporary.constData(), directory.get(),
                         target.constData()) == 0)
        return true;
    ::unlinkat(directory.get(), temporary.constData(), 0);
    return false;
}

bool ThumbnailCache::store(Level level, const Source& source, const QImage& image) const {
    if (image.isNull() || image.width() > kMaxSide || image.height() > kMaxSide) return false;
    const QByteArray uri = fileUri(source.absolutePath);
    QList<QPair<QByteArray, QByteArray>> keys{{"Thumb::URI", uri},
                                              {"Thumb::MTime", QByteArray::number(source.mtime)}};
    if (source.fileSize >= 0) keys.append({"Thumb::Size", QByteArray::number(source.fileSize)});
    QString mime = source.mimeType;
    if (mime.isEmpty()) {
        static const QMimeDatabase database; // thread-safe
        const QMimeType type =
            database.mimeTypeForFile(source.absolutePath, QMimeDatabase::MatchExtension);
        if (type.isValid() && !type.isDefault()) mime = type.name();
    }
    if (!mime.isEmpty()) keys.append({"Thumb::Mimetype", mime.toLatin1()});
    if (!source.original.isEmpty()) {
        keys.append({"Thumb::Image::Width", QByteArray::number(source.original.width())});
        keys.append({"Thumb::Image::Height", QByteArray::number(source.original.height())});
    }
    keys.append({"Software", QByteArray(kSoftware)});
    return writeEntry(levelDirectory(level), entryName(uri), image, keys);
}

bool ThumbnailCache::markFailed(const QString& absolutePath, std::int64_t mtime) const {
    QImage pixel(1, 1, QImage::Format_ARGB32);
    pixel.fill(Qt::transparent);
    const QList<QPair<QByteArray, QByteArray>> keys{{"Thumb::URI", fileUri(absolutePath)},
                                                    {"Thumb::MTime", QByteArray::number(mtime)},
                                                    {"Software", QByteArray(kSoftware)}};
    return writeEntry(kFailureDirectory, entryName(fileUri(absolutePath)), pixel, keys);
}

} // namespace pixmoor
