// Tests of the shared thumbnail cache on real files, each test with a private cache: entries as
// other programs see them (checked with md5sum, gio and Pillow), thumbnails from the cache
// against fresh ones, renewal, failures, hostile entries, concurrent writers, and a cache that
// cannot be written.
#include "catalogue/thumbnail_cache.h"
#include "catalogue/thumbnail_pipeline.h"
#include "platform/file_name.h"
#include "platform/file_stamp.h"
#include "tests/catalogue/catalogue_test_util.h"

#include <QColorSpace>
#include <QDirIterator>
#include <QFile>
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <fstream>
#include <functional>
#include <map>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utime.h>

namespace {

using namespace pixmoor;
using namespace pixmoor::test;

// Output of a shell command, without the final newline.
std::string capture(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
        ::pclose(p);
    }
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

// Largest mean absolute difference of one channel between two images of the same size.
double meanDifference(const QImage& a, const QImage& b) {
    EXPECT_EQ(a.size(), b.size());
    if (a.size() != b.size()) return 255;
    double sum[3] = {0, 0, 0};
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum[0] += std::abs(qRed(p) - qRed(q));
            sum[1] += std::abs(qGreen(p) - qGreen(q));
            sum[2] += std::abs(qBlue(p) - qBlue(q));
        }
    const double n = double(a.width()) * a.height();
    return std::max({sum[0], sum[1], sum[2]}) / n;
}

// Overwrites a file with zeros of the same length and gives it back its modification time:
// the file then cannot be decoded, while the cache still takes it for the same file.
void spoil(const QString& path) {
    struct stat st {};
    ASSERT_EQ(::stat(nativePath(path).c_str(), &st), 0);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(qsizetype(st.st_size), '\0'));
    f.close();
    const struct utimbuf times { st.st_atime, st.st_mtime };
    ASSERT_EQ(::utime(nativePath(path).c_str(), &times), 0);
}

class ThumbnailCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        old_ = qgetenv("XDG_CACHE_HOME");
        qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(cacheHome.path().string()));
        root = qpath(cacheHome.file("thumbnails"));
    }
    void TearDown() override { qputenv("XDG_CACHE_HOME", old_); }

    QString file(const std::string& name) const { return qpath(dir.file(name)); }

    // The thumbnail through a pipeline using the cache, as the catalogue build makes it.
    std::optional<QImage> cached(const QString& path, QSize size) const {
        ThumbnailRequest request{size};
        request.useCache = true;
        const QFileInfo info(path);
        ThumbnailPipeline pipeline(info.absolutePath(), {info.fileName()}, info.suffix().toLower(),
                                   request, 1);
        return pipeline.take(0);
    }
    // A fresh thumbnail, without the cache.
    static std::optional<QImage> fresh(const QString& path, QSize size) {
        return makeThumbnail(path, ThumbnailRequest{size});
    }

    QString entry(const QString& path, const char* level = "normal") const {
        return root + '/' + level + '/' + ThumbnailCache::entryName(ThumbnailCache::fileUri(path));
    }
    // Every file under the cache root.
    QStringList cacheFiles() const {
        QStringList out;
        QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) out << it.next();
        return out;
    }

    TempDir dir;
    TempDir cacheHome;
    QString root;

private:
    QByteArray old_;
};

const char* kPhoto = "-size 800x600 plasma:red-blue -blur 0x1 -attenuate 0.3 +noise Gaussian";

TEST_F(ThumbnailCacheTest, EntryFollowsTheStandardAsOtherToolsReadIt) {
    magick(std::string(kPhoto) + " -quality 90", dir.file("photo.jpg"));
    const QString path = file("photo.jpg");
    ASSERT_TRUE(cached(path, {70, 70}));

    const std::string uri = "file://" + dir.file("photo.jpg");
    // The entry's name is the MD5 of the URI, computed by md5sum.
    const std::string md5 = capture("printf %s " + shellQuote(uri) + " | md5sum | cut -d' ' -f1");
    const QString name = root + "/normal/" + QString::fromStdString(md5) + ".png";
    ASSERT_TRUE(QFile::exists(name)) << name.toStdString();
    EXPECT_EQ(name, entry(path));
    EXPECT_EQ(cacheFiles(), QStringList{name});

    struct stat st {};
    ASSERT_EQ(::stat(nativePath(name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    for (const QString& d : {root, root + "/normal"}) {
        ASSERT_EQ(::stat(nativePath(d).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u) << d.toStdString();
    }

    // Pillow reads the keys from plain tEXt chunks; sizes and times as stat gives them.
    const std::string script =
        "import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
        "raw = open(sys.argv[1], 'rb').read(); "
        "assert raw.count(b'tEXtThumb::URI\\0') == 1 and raw.count(b'tEXtThumb::MTime\\0') == 1; "
        "print(im.format, im.mode, im.size[0], im.size[1], im.info.get('interlace', 0)); "
        "[print(k + '=' + im.text.get(k, '-')) for k in ('Thumb::URI', 'Thumb::MTime', "
        "'Thumb::Size', 'Thumb::Mimetype', 'Thumb::Image::Width', 'Thumb::Image::Height')]";
    const std::string keys =
        capture("/usr/bin/python3 -c " + shellQuote(script) + " " + shellQuote(name.toStdString()));
    const std::string mtime = capture("stat -c %Y " + shellQuote(dir.file("photo.jpg")));
    const std::string size = capture("stat -c %s " + shellQuote(dir.file("photo.jpg")));
    EXPECT_EQ(keys, "PNG RGB 128 96 0\nThumb::URI=" + uri + "\nThumb::MTime=" + mtime +
                        "\nThumb::Size=" + size +
                        "\nThumb::Mimetype=image/jpeg\nThumb::Image::Width=800\n"
                        "Thumb::Image::Height=600");
}

TEST_F(ThumbnailCacheTest, UrisEncodeTheNamesBytesAsTheDesktopDoes) {
    EXPECT_EQ(ThumbnailCache::fileUri("/home/jens/photo/me.jpg"), "file:///home/jens/photo/me.jpg");
    EXPECT_EQ(ThumbnailCache::fileUri(QStringLiteral("/tmp/a b(1)!,;=:@&+$~'*#%.jpg")),
              "file:///tmp/a%20b(1)!,%3B=:@&+$~'*%23%25.jpg");
    EXPECT_EQ(ThumbnailCache::fileUri(QStringLiteral("/tmp/\u00e9t\u00e9.jpg")),
              "file:///tmp/%C3%A9t%C3%A9.jpg");
    // A Latin-1 name: its one byte 0xE9, not the UTF-8 of a replacement character.
    const QString latin1 = decodeFileName(QByteArray("/tmp/x\xe9y.jpg"));
    EXPECT_EQ(ThumbnailCache::fileUri(latin1), "file:///tmp/x%E9y.jpg");

    // The desktop's own library gives the same URIs for real files.
    if (!haveProgram("gio")) GTEST_SKIP() << "gio is not installed";
    for (const QByteArray& name : {QByteArray("a b(1)!,;=:@&+$~'*#%.jpg"), QByteArray("x\xe9y.jpg"),
                                   QByteArray("\xc3\xa9t\xc3\xa9 [2].jpg")}) {
        const QByteArray bytes = QByteArray::fromStdString(dir.path().string()) + '/' + name;
        std::ofstream(bytes.toStdString()) << "x";
        const std::string gio =
            capture("gio info -a standard::name " + shellQuote(bytes.toStdString()) +
                    " | sed -n 's/^uri: //p'");
        EXPECT_EQ(ThumbnailCache::fileUri(decodeFileName(bytes)).toStdString(), gio);
    }
}

TEST_F(ThumbnailCacheTest, ThumbnailsFromTheCacheLookLikeFreshOnes) {
    magick("-size 1600x1200 plasma:orange-teal -attenuate 0.3 +noise Gaussian -quality 90",
           dir.file("wide.jpg"));
    magick("-size 900x1200 plasma:green-purple -blur 0x1 -quality 92", dir.file("tall.jpg"));
    magick("logo:", dir.file("logo.png"));
    magick("-size 90x60 plasma:red-yellow", dir.file("small.bmp"));
    const QList<QSize> sizes{{50, 50}, {70, 70}, {100, 100}, {150, 150}, {100, 40}};
    for (const char* name : {"wide.jpg", "tall.jpg", "logo.png", "small.bmp"}) {
        const QString path = file(name);
        std::map<int, QImage> reference;
        for (int i = 0; i < sizes.size(); ++i) {
            const std::optional<QImage> f = fresh(path, sizes[i]);
            ASSERT_TRUE(f);
            reference[i] = *f;
            // The visit that writes the entry gives the fresh thumbnail's picture too.
            const std::optional<QImage> first = cached(path, sizes[i]);
            ASSERT_TRUE(first);
            EXPECT_LE(meanDifference(*first, *f), 3.0) << name << " " << sizes[i].width();
        }
        // From now on the file itself cannot be decoded: every thumbnail comes from the cache.
        spoil(path);
        ASSERT_FALSE(fresh(path, {70, 70}));
        for (int i = 0; i < sizes.size(); ++i) {
            const std::optional<QImage> hit = cached(path, sizes[i]);
            ASSERT_TRUE(hit) << name << " " << sizes[i].width() << "x" << sizes[i].height();
            EXPECT_EQ(hit->size(), sizes[i]);
            EXPECT_LE(meanDifference(*hit, reference[i]), 3.0)
                << name << " " << sizes[i].width() << "x" << sizes[i].height();
        }
    }
    // Thumbnails up to 128 a side came from normal/, 150 from large/; the small picture is
    // kept at its own size.
    EXPECT_TRUE(QFile::exists(entry(file("wide.jpg"), "large")));
    EXPECT_EQ(QImage(entry(file("wide.jpg"))).size(), QSize(128, 96));
    EXPECT_EQ(QImage(entry(file("wide.jpg"), "large")).size(), QSize(256, 192));
    EXPECT_EQ(QImage(entry(file("tall.jpg"))).size(), QSize(96, 128));
    EXPECT_EQ(QImage(entry(file("small.bmp"))).size(), QSize(90, 60));
}

TEST_F(ThumbnailCacheTest, EntriesOfTurnedPicturesAreUprightAndNameTheUprightSize) {
    // Nearly square, so that the decoded size alone cannot tell which way round the original
    // is: a JPEG read at a reduced scale, and a TIFF read whole.
    magick("-size 640x639 gradient:red-blue -fill lime -draw 'rectangle 0,0 159,119'",
           dir.file("base.png"));
    const char* const orient[] = {"TopLeft", "TopRight", "BottomRight", "BottomLeft",
                                  "LeftTop", "RightTop", "RightBottom", "LeftBottom"};
    const std::string script =
        "import sys\nfrom PIL import Image\nim = Image.open(sys.argv[2]).convert('RGB')\n"
        "exif = Image.Exif()\nexif[274] = int(sys.argv[3])\n"
        "im.save(sys.argv[1], exif=exif.tobytes(), quality=95, subsampling=0)\n";
    for (const bool jpeg : {true, false}) {
        for (int o = 1; o <= 8; ++o) {
            const QString name = QString("o%1.%2").arg(o).arg(jpeg ? "jpg" : "tif");
            SCOPED_TRACE(name.toStdString());
            const std::string stored = dir.file(name.toStdString());
            if (jpeg)
                ASSERT_EQ(run("/usr/bin/python3 -c " + shellQuote(script) + " " +
                              shellQuote(stored) + " " + shellQuote(dir.file("base.png")) + " " +
                              std::to_string(o)),
                          0);
            else
                magick(shellQuote(dir.file("base.png")) + " -depth 8 -compress lzw -orient " +
                           orient[o - 1],
                       stored);
            const QString path = qpath(stored);
            const std::optional<QImage> f = fresh(path, {70, 70});
            const std::optional<QImage> first = cached(path, {70, 70});
            ASSERT_TRUE(f && first);
            EXPECT_LE(meanDifference(*first, *f), 3.0);
            const QImage written(entry(path));
            const QSize upright = o >= 5 ? QSize(639, 640) : QSize(640, 639);
            EXPECT_EQ(written.text("Thumb::Image::Width").toInt(), upright.width());
            EXPECT_EQ(written.text("Thumb::Image::Height").toInt(), upright.height());
            EXPECT_EQ(written.size(),
                      ThumbnailCache::entrySize(upright, ThumbnailCache::Level::Normal));
            EXPECT_LE(meanDifference(
                          written.scaled(70, 70, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                              .convertToFormat(QImage::Format_RGB32),
                          *f),
                      3.0);
        }
    }
}

TEST_F(ThumbnailCacheTest, ATouchedFileIsDecodedAgainAndItsEntryRenewed) {
    magick("-size 300x200 xc:red", dir.file("a.png"));
    const QString path = file("a.png");
    ASSERT_TRUE(cached(path, {70, 70}));
    magick("-size 300x200 xc:blue", dir.file("a.png"));
    ASSERT_EQ(run("touch -d '2030-01-02 03:04:05' " + shellQuote(dir.file("a.png"))), 0);
    const std::optional<QImage> thumb = cached(path, {70, 70});
    ASSERT_TRUE(thumb);
    EXPECT_EQ(thumb->pixel(35, 35), qRgb(0, 0, 255));
    const QImage renewed(entry(path));
    EXPECT_EQ(renewed.text("Thumb::MTime"),
              QString::fromStdString(capture("stat -c %Y " + shellQuote(dir.file("a.png")))));
    EXPECT_EQ(renewed.pixel(10, 10), qRgb(0, 0, 255));
}

TEST_F(ThumbnailCacheTest, ACacheThatCannotBeWrittenIsLeftAloneAndTheThumbnailStands) {
    magick(kPhoto, dir.file("p.bmp"));
    const QString path = file("p.bmp");
    const std::optional<QImage> reference = fresh(path, {70, 70});
    ASSERT_TRUE(reference);

    // The cache's place is taken by a file: nothing can be made there.
    ASSERT_TRUE(QFile(root).open(QIODevice::WriteOnly));
    std::optional<QImage> thumb = cached(path, {70, 70});
    ASSERT_TRUE(thumb);
    // Made through the entry's size, as when the entry can be written.
    EXPECT_LE(meanDifference(*thumb, *reference), 3.0);
    ASSERT_TRUE(QFile::remove(root));

    // A read-only class directory (immutable for root, who may write anywhere else).
    ASSERT_TRUE(QDir().mkpath(root + "/normal"));
    const std::string normal = shellQuote((root + "/normal").toStdString());
    const bool root_user = ::geteuid() == 0;
    if (root_user) {
        if (run("chattr +i " + normal + " 2>/dev/null") != 0)
            GTEST_SKIP() << "no immutable directories here";
    } else {
        ASSERT_EQ(::chmod(nativePath(root + "/normal").c_str(), 0500), 0);
    }
    thumb = cached(path, {70, 70});
    if (root_user) run("chattr -i " + normal);
    ASSERT_TRUE(thumb);
    EXPECT_LE(meanDifference(*thumb, *reference), 3.0);
    EXPECT_TRUE(cacheFiles().isEmpty()) << cacheFiles().join(' ').toStdString();
}

TEST_F(ThumbnailCacheTest, FailureEntriesAreValidOnlyForTheSameFileAndTime) {
    writeBytes(dir.file("bad.jpg"), QByteArray("not a picture"));
    const QString path = file("bad.jpg");
    const ThumbnailCache cache;
    EXPECT_EQ(cache.root(), root);
    const std::optional<FileStamp> stamp = fileStamp(path);
    ASSERT_TRUE(stamp);
    EXPECT_FALSE(cache.hasFailed(path, stamp->mtime()));
    ASSERT_TRUE(cache.markFailed(path, stamp->mtime()));
    const QString failure =
        root + "/fail/pixmoor-1.00/" + ThumbnailCache::entryName(ThumbnailCache::fileUri(path));
    EXPECT_EQ(cache.failurePath(path), failure);
    EXPECT_EQ(QImage(failure).text("Thumb::URI").toStdString(), "file://" + dir.file("bad.jpg"));
    EXPECT_TRUE(cache.hasFailed(path, stamp->mtime()));
    EXPECT_FALSE(cache.hasFailed(path, stamp->mtime() + 1));
    EXPECT_FALSE(cache.hasFailed(file("other.jpg"), stamp->mtime()));

    // A recorded failure skips the fast decode, even once the file could be read: until the
    // file changes, the caller's ordinary load decides.
    magick("-size 40x40 xc:red", dir.file("bad.jpg"));
    const struct utimbuf times { stamp->mtime(), stamp->mtime() };
    ASSERT_EQ(::utime(dir.file("bad.jpg").c_str(), &times), 0);
    EXPECT_FALSE(cached(path, {70, 70}));
    ASSERT_EQ(run("touch -d '2031-05-06 07:08:09' " + shellQuote(dir.file("bad.jpg"))), 0);
    EXPECT_TRUE(cached(path, {70, 70}));
}

TEST_F(ThumbnailCacheTest, FilesInsideTheCacheAreNeverCached) {
    ASSERT_TRUE(QDir().mkpath(root + "/normal"));
    magick("-size 200x100 xc:red", (root + "/normal/picture.png").toStdString());
    ThumbnailRequest request{{70, 70}};
    request.useCache = true;
    {
        ThumbnailPipeline pipeline(root + "/normal", {"picture.png"}, "png", request, 1);
        EXPECT_FALSE(pipeline.usesCache());
        EXPECT_TRUE(pipeline.take(0));
    }
    // Also when reached through a link.
    ASSERT_EQ(::symlink(nativePath(root).c_str(), dir.file("link").c_str()), 0);
    {
        ThumbnailPipeline pipeline(file("link") + "/normal", {"picture.png"}, "png", request, 1);
        EXPECT_FALSE(pipeline.usesCache());
        EXPECT_TRUE(pipeline.take(0));
    }
    EXPECT_EQ(cacheFiles(), QStringList{root + "/normal/picture.png"});
    ThumbnailPipeline outside(dir.path().c_str(), {"x.png"}, "png", request, 1);
    EXPECT_TRUE(outside.usesCache());
    request.bits = 8;
    ThumbnailPipeline reduced(dir.path().c_str(), {"x.png"}, "png", request, 1);
    EXPECT_FALSE(reduced.usesCache());
}

// A PNG whose header claims width x height, with a valid checksum and the right keys.
void writeHostilePng(const std::string& path, const std::string& uri, std::int64_t mtime, int width,
                     int height) {
    const std::string script =
        "import sys, struct, zlib\n"
        "def chunk(t, d): return struct.pack('>I', len(d)) + t + d + "
        "struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)\n"
        "w, h = int(sys.argv[2]), int(sys.argv[3])\n"
        "data = b'\\x89PNG\\r\\n\\x1a\\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 2, 0, "
        "0, 0))\n"
        "data += chunk(b'tEXt', b'Thumb::URI\\0' + sys.argv[4].encode())\n"
        "data += chunk(b'tEXt', b'Thumb::MTime\\0' + sys.argv[5].encode())\n"
        "data += chunk(b'IDAT', zlib.compress(b'\\0' * 64)) + chunk(b'IEND', b'')\n"
        "open(sys.argv[1], 'wb').write(data)\n";
    ASSERT_EQ(run("/usr/bin/python3 -c " + shellQuote(script) + " " + shellQuote(path) + " " +
                  std::to_string(width) + " " + std::to_string(height) + " " + shellQuote(uri) +
                  " " + std::to_string(mtime)),
              0);
}

TEST_F(ThumbnailCacheTest, DamagedOrForeignEntriesAreIgnoredAndReplaced) {
    magick(kPhoto, dir.file("p.png"));
    const QString path = file("p.png");
    const std::optional<QImage> reference = fresh(path, {70, 70});
    ASSERT_TRUE(reference);
    ASSERT_TRUE(cached(path, {70, 70}));
    const QString name = entry(path);
    QFile good(name);
    ASSERT_TRUE(good.open(QIODevice::ReadOnly));
    const QByteArray valid = good.readAll();
    good.close();
    const std::optional<FileStamp> stamp = fileStamp(path);
    ASSERT_TRUE(stamp);
    const std::string uri = ThumbnailCache::fileUri(path).toStdString();
    const ThumbnailCache cache;
    EXPECT_TRUE(cache.read(ThumbnailCache::Level::Normal, path, stamp->mtime(), stamp->size));

    const auto damaged = [&](const char* what, const std::function<void()>& make) {
        SCOPED_TRACE(what);
        QFile::remove(name);
        make();
        EXPECT_FALSE(cache.read(ThumbnailCache::Level::Normal, path, stamp->mtime(), stamp->size));
        const std::optional<QImage> thumb = cached(path, {70, 70});
        ASSERT_TRUE(thumb);
        EXPECT_LE(meanDifference(*thumb, *reference), 1.0);
        // Replaced by a valid entry.
        EXPECT_TRUE(cache.read(ThumbnailCache::Level::Normal, path, stamp->mtime(), stamp->size));
    };
    damaged("truncated", [&] { writeBytes(name.toStdString(), valid.left(valid.size() * 2 / 3)); });
    damaged("cut in its header", [&] { writeBytes(name.toStdString(), valid.left(30)); });
    damaged("not a PNG", [&] { writeBytes(name.toStdString(), QByteArray(4000, 'x')); });
    damaged("empty", [&] { writeBytes(name.toStdString(), QByteArray()); });
    damaged("another file's", [&] {
        QImage other(128, 96, QImage::Format_RGB32);
        other.fill(Qt::green);
        other.setText("Thumb::URI", "file:///somewhere/else.png");
        other.setText("Thumb::MTime", QString::number(stamp->mtime()));
        ASSERT_TRUE(other.save(name, "PNG"));
    });
    damaged("another time", [&] {
        QImage other(128, 96, QImage::Format_RGB32);
        other.fill(Qt::green);
        other.setText("Thumb::URI", QString::fromStdString(uri));
        other.setText("Thumb::MTime", QString::number(stamp->mtime() - 7));
        ASSERT_TRUE(other.save(name, "PNG"));
    });
    damaged("absurd size",
            [&] { writeHostilePng(name.toStdString(), uri, stamp->mtime(), 60000, 60000); });
    damaged("larger than any thumbnail",
            [&] { writeHostilePng(name.toStdString(), uri, stamp->mtime(), 1025, 8); });
    damaged("a FIFO", [&] { ASSERT_EQ(::mkfifo(name.toStdString().c_str(), 0600), 0); });
}

// Writes a 128 x 96 green entry with Pillow, its text chunks before the image data in the order
// given: each of `chunks` is kind (t: tEXt, z: zTXt), key and value, a value "@N" standing for
// N times "x".
void writeEntryWithText(const std::string& path,
                        const std::vector<std::array<std::string, 3>>& chunks) {
    std::string script =
        "import sys\n"
        "from PIL import Image, PngImagePlugin\n"
        "info = PngImagePlugin.PngInfo()\n"
        "a = sys.argv[2:]\n"
        "for i in range(0, len(a), 3):\n"
        "    v = 'x' * int(a[i + 2][1:]) if a[i + 2].startswith('@') else a[i + 2]\n"
        "    info.add_text(a[i + 1], v, zip=a[i] == 'z')\n"
        "Image.new('RGB', (128, 96), (0, 200, 0)).save(sys.argv[1], pnginfo=info)\n";
    std::string command = "/usr/bin/python3 -c " + shellQuote(script) + " " + shellQuote(path);
    for (const auto& chunk : chunks)
        for (const std::string& part : chunk) command += " " + shellQuote(part);
    ASSERT_EQ(run(command), 0);
}

TEST_F(ThumbnailCacheTest, EntriesAreJudgedByTheirKeysWithBoundedWorkAndCarryNoText) {
    magick("-size 300x200 xc:red", dir.file("p.png"));
    const QString path = file("p.png");
    ASSERT_TRUE(cached(path, {70, 70}));
    const QString name = entry(path);
    QFile own(name);
    ASSERT_TRUE(own.open(QIODevice::ReadOnly));
    const QByteArray ours = own.readAll();
    own.close();
    const std::optional<FileStamp> stamp = fileStamp(path);
    ASSERT_TRUE(stamp);
    const std::string uri = ThumbnailCache::fileUri(path).toStdString();
    const std::string mtime = std::to_string(stamp->mtime());
    const std::string size = std::to_string(stamp->size);
    ASSERT_GT(uri.size(), 40u); // so Qt stores it compressed
    const ThumbnailCache cache;

    using Chunks = std::vector<std::array<std::string, 3>>;
    const Chunks keys{{"t", "Thumb::MTime", mtime}, {"t", "Thumb::Size", size}};
    // Many large compressed values besides the keys: none of them is ever inflated.
    Chunks padded{{"t", "Thumb::URI", uri}};
    for (int i = 0; i < 40; ++i) padded.push_back({"z", "Comment" + std::to_string(i), "@200000"});
    padded.insert(padded.end(), keys.begin(), keys.end());
    Chunks tooMany{{"t", "Thumb::URI", uri}};
    for (int i = 0; i < 70; ++i) tooMany.push_back({"t", "Comment" + std::to_string(i), "x"});
    tooMany.insert(tooMany.end(), keys.begin(), keys.end());

    struct Case {
        const char* what;
        std::function<void()> make;
        bool valid;
    };
    const auto pillowEntry = [&](Chunks chunks) {
        return [&, chunks] { writeEntryWithText(name.toStdString(), chunks); };
    };
    const auto qtEntry = [&](const std::string& entryUri, const std::string& entryMtime) {
        return [&, entryUri, entryMtime] {
            QImage image(128, 96, QImage::Format_RGB32);
            image.fill(Qt::green);
            image.setText("Thumb::URI", QString::fromStdString(entryUri));
            image.setText("Thumb::MTime", QString::fromStdString(entryMtime));
            ASSERT_TRUE(image.save(name, "PNG"));
            QFile saved(name);
            ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
            ASSERT_TRUE(saved.readAll().contains("zTXtThumb::URI"));
        };
    };
    Chunks longUri = keys;
    longUri.insert(longUri.begin(), {"z", "Thumb::URI", "@1000000"});
    Chunks otherSize{{"t", "Thumb::URI", uri},
                     {"t", "Thumb::MTime", mtime},
                     {"t", "Thumb::Size", std::to_string(stamp->size + 1)}};
    const Case cases[] = {
        {"written by our own writer", [&] { writeBytes(name.toStdString(), ours); }, true},
        {"written by Qt: the URI compressed", qtEntry(uri, mtime), true},
        {"keys in tEXt, a compressed URI", pillowEntry([&] {
             Chunks c = keys;
             c.push_back({"z", "Thumb::URI", uri});
             return c;
         }()),
         true},
        {"many large compressed text chunks besides valid keys", pillowEntry(padded), true},
        {"more than 64 text chunks", pillowEntry(tooMany), false},
        {"a URI inflating far beyond any path", pillowEntry(longUri), false},
        {"another file's URI",
         qtEntry("file:///somewhere/else/entirely/another/picture.png", mtime), false},
        {"a stale time", qtEntry(uri, std::to_string(stamp->mtime() - 1)), false},
        {"another size", pillowEntry(otherSize), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(name);
        c.make();
        const std::optional<ThumbnailCache::Entry> read =
            cache.read(ThumbnailCache::Level::Normal, path, stamp->mtime(), stamp->size);
        EXPECT_EQ(bool(read), c.valid);
        if (!read) continue;
        EXPECT_EQ(read->image.width(), 128);
        EXPECT_TRUE(read->image.textKeys().isEmpty()) << read->image.textKeys().size();
    }
}

TEST_F(ThumbnailCacheTest, FoldersThatAreNotTheCachesOwnAreNeitherWrittenNorRead) {
    const QString photos = file("photos");
    ASSERT_TRUE(QDir().mkpath(photos));
    magick("-size 300x200 xc:red", (photos + "/a.png").toStdString());
    const QString path = photos + "/a.png";
    const std::optional<FileStamp> stamp = fileStamp(path);
    ASSERT_TRUE(stamp);
    // A valid green entry of the file, made in a cache of its own, to plant where it must not be
    // read.
    TempDir elsewhere;
    const ThumbnailCache other(qpath(elsewhere.file("thumbnails")));
    QImage green(128, 85, QImage::Format_RGB32);
    green.fill(Qt::green);
    ThumbnailCache::Source source{path, stamp->mtime(), stamp->size, {300, 200}, {}};
    ASSERT_TRUE(other.store(ThumbnailCache::Level::Normal, source, green));
    ASSERT_TRUE(other.markFailed(path, stamp->mtime()));
    const QString name = ThumbnailCache::entryName(ThumbnailCache::fileUri(path));
    const auto listing = [](const QString& folder) {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                      QDir::NoDotAndDotDot);
    };
    const auto linkTo = [&](const QString& link, const QString& target) {
        ASSERT_EQ(::symlink(nativePath(target).c_str(), nativePath(link).c_str()), 0);
    };

    struct Case {
        const char* what;
        const char* folder; // the cache's folder that is not its own
        std::function<void(const QString&)> make;
        bool onlyAsRoot = false; // only root can give a folder away
    };
    const Case cases[] = {
        {"normal/ a link to the photos", "normal", [&](const QString& f) { linkTo(f, photos); }},
        {"fail/pixmoor-1.00/ a link to the photos", "fail/pixmoor-1.00",
         [&](const QString& f) {
             ASSERT_TRUE(QDir().mkpath(root + "/fail"));
             linkTo(f, photos);
         }},
        {"fail/ a link to the photos", "fail", [&](const QString& f) { linkTo(f, photos); }},
        {"normal/ open to others", "normal",
         [&](const QString& f) {
             ASSERT_TRUE(QDir().mkpath(f));
             ASSERT_EQ(::chmod(nativePath(f).c_str(), 0755), 0);
         }},
        {"normal/ of another user", "normal",
         [&](const QString& f) {
             ASSERT_TRUE(QDir().mkpath(f));
             ASSERT_EQ(::chmod(nativePath(f).c_str(), 0700), 0);
             ASSERT_EQ(::chown(nativePath(f).c_str(), 65534, 65534), 0);
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.onlyAsRoot && ::geteuid() != 0) continue;
        QDir(root).removeRecursively();
        for (const QString& f : listing(photos))
            if (f != "a.png") QFile::remove(photos + '/' + f);
        ASSERT_TRUE(QDir().mkpath(root));
        const QString folder = root + '/' + c.folder;
        c.make(folder);
        // The valid entry planted where the folder leads.
        const bool failures = std::string_view(c.folder).starts_with("fail");
        const QString planted = QFileInfo(folder).isSymLink() ? photos : folder;
        ASSERT_TRUE(QFile::copy(failures ? other.failurePath(path)
                                         : other.entryPath(path, ThumbnailCache::Level::Normal),
                                planted + '/' + name));
        const QStringList photosBefore = listing(photos), before = listing(planted);

        const ThumbnailCache cache;
        if (failures) {
            EXPECT_FALSE(cache.markFailed(path, stamp->mtime()));
            EXPECT_FALSE(cache.hasFailed(path, stamp->mtime()));
        } else {
            EXPECT_FALSE(
                cache.read(ThumbnailCache::Level::Normal, path, stamp->mtime(), stamp->size));
            // A build makes the thumbnail from the file, not from the planted entry.
            const std::optional<QImage> thumb = cached(path, {70, 70});
            ASSERT_TRUE(thumb);
            EXPECT_EQ(thumb->pixel(35, 20), qRgb(255, 0, 0));
        }
        EXPECT_EQ(listing(photos), photosBefore);
        EXPECT_EQ(listing(planted), before);
    }
}

TEST_F(ThumbnailCacheTest, ConcurrentWritersNeverLeaveAPartialEntry) {
    magick(kPhoto, dir.file("p.png"));
    const QString path = file("p.png");
    const std::optional<FileStamp> stamp = fileStamp(path);
    ASSERT_TRUE(stamp);
    const ThumbnailCache cache;
    ThumbnailCache::Source source;
    source.absolutePath = path;
    source.mtime = stamp->mtime();
    source.fileSize = stamp->size;
    source.original = {800, 600};
    // Each writer stores its own picture, large enough to need several writes.
    std::vector<QImage> pictures;
    for (int i = 0; i < 4; ++i) {
        QImage image(QImage(path).scaled(128, 96));
        image.invertPixels(i % 2 ? QImage::InvertRgb : QImage::InvertRgba);
        image.setPixel(i, 0, qRgb(i * 50, 0, 0));
        // Entries are read back as pixels alone, without the source file's colour space.
        image.setColorSpace(QColorSpace());
        pictures.push_back(image.convertToFormat(QImage::Format_RGB32));
    }
    std::atomic<bool> stop{false};
    std::atomic<int> stored{0};
    std::vector<std::thread> writers;
    for (int i = 0; i < 4; ++i)
        writers.emplace_back([&, i] {
            for (int n = 0; n < 60; ++n)
                if (cache.store(ThumbnailCache::Level::Normal, source, pictures[std::size_t(i)]))
                    ++stored;
        });
    int seen = 0, bad = 0;
    std::thread reader([&] {
        while (!stop) {
            if (!QFile::exists(entry(path))) continue;
            const std::optional<ThumbnailCache::Entry> e =
                cache.read(ThumbnailCache::Level::Normal, path, stamp->mtime(), stamp->size);
            ++seen;
            if (!e || std::none_of(pictures.begin(), pictures.end(), [&](const QImage& p) {
                    return p == e->image.convertToFormat(QImage::Format_RGB32);
                }))
                ++bad;
        }
    });
    for (std::thread& t : writers) t.join();
    stop = true;
    reader.join();
    EXPECT_EQ(stored.load(), 240);
    EXPECT_GT(seen, 0);
    EXPECT_EQ(bad, 0);
    // One entry and no temporary file left.
    EXPECT_EQ(cacheFiles(), QStringList{entry(path)});
}

TEST_F(ThumbnailCacheTest, EntrySizesKeepTheAspectAndNeverEnlarge) {
    using L = ThumbnailCache::Level;
    EXPECT_EQ(ThumbnailCache::entrySize({4000, 3000}, L::Normal), QSize(128, 96));
    EXPECT_EQ(ThumbnailCache::entrySize({3000, 4000}, L::Large), QSize(192, 256));
    EXPECT_EQ(ThumbnailCache::entrySize({5000, 10}, L::Normal), QSize(128, 1));
    EXPECT_EQ(ThumbnailCache::entrySize({100, 60}, L::Large), QSize(100, 60));
    EXPECT_EQ(ThumbnailCache::levelFor({70, 70}), L::Normal);
    EXPECT_EQ(ThumbnailCache::levelFor({128, 20}), L::Normal);
    EXPECT_EQ(ThumbnailCache::levelFor({150, 150}), L::Large);
    EXPECT_EQ(ThumbnailCache::levelFor({1024, 1}), L::XXLarge);
    EXPECT_FALSE(ThumbnailCache::levelFor({1025, 1}));
}

} // namespace
