// The desktop's shared thumbnail cache (freedesktop.org layout): $XDG_CACHE_HOME/thumbnails with
// normal/ (128), large/ (256), x-large/ (512) and xx-large/ (1024), each entry a PNG named by the
// MD5 of the file's URI and valid only while its Thumb::URI and Thumb::MTime match the file.
// File managers and other image browsers read and write the same entries, so every entry read
// is treated as untrusted input, and every write is atomic (temporary file, then rename).
// Nothing here reports to the user: a cache that cannot be read or written is simply not used.
#pragma once

#include "imaging/codec/limits.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <cstdint>
#include <optional>

namespace pixmoor {

class ThumbnailCache {
public:
    // The size classes, smallest first; an entry's longer side is the class's size, or the
    // image's own when that is smaller (entries are never enlarged).
    enum class Level { Normal, Large, XLarge, XXLarge };
    static constexpr int kLevels = 4;
    static int levelSize(Level level);
    static const char* levelDirectory(Level level);
    // The smallest class whose size holds both sides of a thumbnail, if any.
    static std::optional<Level> levelFor(QSize thumbnail);
    // The entry size of an image of the given size in a class: the aspect ratio kept, the longer
    // side the class's size unless the image is smaller.
    static QSize entrySize(QSize image, Level level);

    // A valid entry read from the cache.
    struct Entry {
        QImage image;   // the stored picture, Format_RGB32 (alpha over white), no text
        QSize original; // Thumb::Image::Width x Height, empty when not given
        // Whether the entry holds the whole image at its own size, so any thumbnail may be made
        // from it (enlarging included, as from the file itself).
        bool isOriginalSize() const;
        // Whether a thumbnail of the given size can be made from it without enlarging.
        bool covers(QSize thumbnail) const;
    };

    // What is stored besides the picture.
    struct Source {
        QString absolutePath;
        std::int64_t mtime = 0; // seconds, as stat gives them
        std::int64_t fileSize = -1;
        QSize original;   // the image's own size (upright)
        QString mimeType; // empty: looked up from the name
    };

    // The cache under $XDG_CACHE_HOME/thumbnails (~/.cache/thumbnails when unset or relative).
    ThumbnailCache();
    // The cache under root (tests).
    explicit ThumbnailCache(const QString& root);

    const QString& root() const { return root_; }

    // Whether the catalogue build uses the cache at all (on unless switched off; the benchmark
    // switches it off to time builds without it).
    static bool enabled();
    static void setEnabled(bool on);

    // "file://" and the path's bytes (escaped names decoded to the real bytes), percent-encoded
    // as GLib encodes file names: unreserved characters, '/' and !$&'()*+,=:@ stay, every other
    // byte becomes %XX in upper case.
    static QByteArray fileUri(const QString& absolutePath);
    // Lower-case hex MD5 of the URI and ".png".
    static QString entryName(const QByteArray& uri);
    // Full path of the entry of a file in a class.
    QString entryPath(const QString& absolutePath, Level level) const;
    QString failurePath(const QString& absolutePath) const;

    // Whether files in this directory may be cached: not the cache itself, nor anything in it.
    bool mayCache(const QString& absoluteDirectory) const;

    // The valid entry of the file in one class: nullopt when missing, stale (another URI or
    // MTime, or another Thumb::Size), damaged, not a PNG, larger than 1024 pixels a side, with
    // more than 64 text chunks or a key too long, or when the class's folder is not the cache's
    // own (see store). The keys are checked before the picture is decoded.
    std::optional<Entry> read(Level level, const QString& absolutePath, std::int64_t mtime,
                              std::int64_t fileSize = -1) const;
    // The first valid entry, from the class that fits the thumbnail upwards, from which a
    // thumbnail of that size can be made.
    std::optional<QImage> lookup(const QString& absolutePath, std::int64_t mtime, QSize thumbnail,
                                 std::int64_t fileSize = -1) const;

    // Writes the entry of a class; image should already be entrySize(original, level). Returns
    // false when nothing could be written (read-only or full disk, ...); never leaves a partial
    // entry or a temporary file behind. Writes only into the cache's own folders: each folder
    // below the root (normal/, ..., fail/pixmoor-1.00/) must be a real directory, not a link,
    // owned by the user with mode 0700 (made so when missing); otherwise that class is not used.
    bool store(Level level, const Source& source, const QImage& image) const;

    // Records that the file cannot be read (fail/pixmoor-<version>/), and asks for it.
    bool markFailed(const QString& absolutePath, std::int64_t mtime) const;
    bool hasFailed(const QString& absolutePath, std::int64_t mtime) const;

    // Largest side an entry read may have; anything larger is not a thumbnail.
    static constexpr int kMaxSide = limits::kMaxThumbnailEntrySide;
    // Largest entry file read.
    static constexpr std::int64_t kMaxFileBytes = limits::kMaxThumbnailEntryBytes;

private:
    // Writes the entry `name` into the cache's folder at `folder` ("normal", ...).
    bool writeEntry(const char* folder, const QString& name, const QImage& image,
                    const QList<QPair<QByteArray, QByteArray>>& keys) const;
    QString root_;
    QString canonicalRoot_; // the root with links resolved, empty while it does not exist
};

} // namespace pixmoor
