// Fuzzes the reading of thumbnail cache entries: the input is put where a file's entry belongs
// and read back through every call that reads entries, and its text chunks are read alone with
// tight limits. Entries come from other programs, so any bytes must give a clean yes or no. When
// started with an empty corpus directory, the harness writes valid entries there first (its own,
// and ones with the keys compressed as Qt and other programs write them), so the fuzzer starts
// from real entries.
#include "catalogue/thumbnail_cache.h"
#include "imaging/codec/errors.h"
#include "imaging/codec/png_text.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <sys/stat.h>

namespace {

constexpr std::int64_t kMtime = 1700000000;
constexpr std::int64_t kSize = 12345;

struct Harness {
    QTemporaryDir root;
    std::unique_ptr<pixmoor::ThumbnailCache> cache;
    QString file;

    Harness() {
        cache = std::make_unique<pixmoor::ThumbnailCache>(root.path() + "/thumbnails");
        file = root.path() + "/photos/IMG (1) \xc3\xa9.jpg";
    }

    // Valid entries to start from: a normal and a large one for the harness's file.
    void seed(const QString& corpus) {
        QImage picture(128, 96, QImage::Format_RGB32);
        for (int y = 0; y < 96; ++y)
            for (int x = 0; x < 128; ++x) picture.setPixel(x, y, qRgb(x * 2, y * 2, x ^ y));
        pixmoor::ThumbnailCache::Source source;
        source.absolutePath = file;
        source.mtime = kMtime;
        source.fileSize = kSize;
        source.original = QSize(4000, 3000);
        int n = 0;
        for (auto level :
             {pixmoor::ThumbnailCache::Level::Normal, pixmoor::ThumbnailCache::Level::Large}) {
            const QImage scaled =
                picture.scaled(pixmoor::ThumbnailCache::entrySize(source.original, level));
            if (!cache->store(level, source, scaled)) continue;
            QFile::copy(cache->entryPath(file, level),
                        corpus + QStringLiteral("/seed-%1.png").arg(n++));
        }
        // Qt's writer: values of 40 characters or more (the URI) in zTXt chunks, and iTXt for
        // text beyond Latin-1.
        QImage qt = picture.scaled(64, 48);
        qt.setText("Thumb::URI", QString::fromLatin1(pixmoor::ThumbnailCache::fileUri(file)));
        qt.setText("Thumb::MTime", QString::number(kMtime));
        qt.setText("Thumb::Size", QString::number(kSize));
        qt.setText("Comment", QStringLiteral("\u00e9t\u00e9 \u2014 %1").arg(QString(50, u'x')));
        qt.save(corpus + QStringLiteral("/seed-%1.png").arg(n++), "PNG");
    }
};

// The cache's folders as the cache makes them (0700), so its checks let the entries be read.
void makePrivateFolder(const QString& path) {
    QDir().mkpath(path);
    ::chmod(QFile::encodeName(path).constData(), 0700);
}

Harness* harness = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static int qtArgc = 1;
    static char name[] = "fuzz_thumb_cache";
    static char* qtArgv[] = {name, nullptr};
    static QCoreApplication app(qtArgc, qtArgv);
    harness = new Harness;
    // The first argument that names an empty directory is the corpus: seed it.
    for (int i = 1; i < *argc; ++i) {
        const QString arg = QString::fromLocal8Bit((*argv)[i]);
        if (arg.startsWith('-')) continue;
        QDir dir(arg);
        if (dir.exists() && dir.isEmpty()) harness->seed(arg);
        break;
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using Level = pixmoor::ThumbnailCache::Level;
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    makePrivateFolder(harness->cache->root());
    makePrivateFolder(harness->cache->root() + "/fail");
    for (const QString& path : {harness->cache->entryPath(harness->file, Level::Normal),
                                harness->cache->entryPath(harness->file, Level::Large),
                                harness->cache->failurePath(harness->file)}) {
        makePrivateFolder(QFileInfo(path).absolutePath());
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
        out.write(bytes);
        out.close();
    }
    const auto entry = harness->cache->read(Level::Normal, harness->file, kMtime, kSize);
    if (entry && (entry->image.isNull() || entry->image.width() > 1024)) std::abort();
    const auto thumbnail = harness->cache->lookup(harness->file, kMtime, QSize(70, 70), kSize);
    if (thumbnail && thumbnail->isNull()) std::abort();
    (void)harness->cache->hasFailed(harness->file, kMtime);

    // The text reader alone, with limits small enough for the fuzzer to reach.
    static constexpr std::string_view kKeys[] = {"Thumb::URI", "Thumb::MTime", "Comment"};
    std::vector<std::optional<std::string>> values;
    pixmoor::codec::PngTextLimits limits;
    limits.maxTextChunks = 3;
    limits.maxValueBytes = 64;
    const int rc = pixmoor::codec::readPngText(data, size, kKeys, values, limits);
    if (values.size() != std::size(kKeys)) std::abort();
    for (const auto& value : values)
        if (value && (rc != pixmoor::codec::Ok || value->size() > limits.maxValueBytes))
            std::abort();
    return 0;
}
