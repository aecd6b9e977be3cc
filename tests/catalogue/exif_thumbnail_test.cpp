// Thumbnails of JPEGs from the thumbnail stored in their EXIF block: used only where it gives the
// thumbnail without enlarging, has the picture's proportions and decodes, turned as the picture
// is; everywhere else, and on any damage, the picture itself is decoded. The stored thumbnail of
// most cases is a decoy (the picture negated), so which one was used shows in the result.
#include "catalogue/thumbnail_cache.h"
#include "catalogue/thumbnail_pipeline.h"
#include "tests/catalogue/catalogue_test_util.h"
#include "tests/support/image_compare.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

namespace {

using namespace pixmoor;
using namespace pixmoor::test;

// Writes the embedded thumbnail with exiftool, which every test run has (scripts/deps.sh).
void exiftool(const std::string& args, const std::string& path) {
    ASSERT_EQ(run("exiftool -q -q -overwrite_original -n " + args + " " + shellQuote(path)), 0)
        << args;
}

QByteArray bytesOf(const std::string& path) {
    QFile f(qpath(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

double psnrOf(const std::optional<QImage>& a, const std::optional<QImage>& b) {
    if (!a || !b || a->size() != b->size()) return 0;
    return psnr(*a, *b);
}

// The picture: 3:2, a gradient with a block in one corner (asymmetric, so a wrong turn shows).
// Its stored thumbnails are made by ImageMagick from the JPEG, as a camera makes its own.
struct ExifThumbnails : ::testing::Test {
    TempDir dir;
    void SetUp() override {
        magick("-size 480x320 gradient:red-blue -fill lime -draw 'rectangle 0,0 95,63' "
               "-quality 92",
               dir.file("plain.jpg"));
        const std::string from = shellQuote(dir.file("plain.jpg"));
        magick(from + " -thumbnail 160x120 -quality 90", dir.file("faithful.jpg"));
        magick(from + " -thumbnail 160x120 -negate -quality 90", dir.file("decoy.jpg"));
        magick(from + " -thumbnail 160x120 -negate -background black -gravity center "
                      "-extent 160x120 -quality 90",
               dir.file("letterboxed.jpg"));
        const QByteArray decoy = bytesOf(dir.file("decoy.jpg"));
        writeBytes(dir.file("truncated.jpg"), decoy.left(decoy.size() * 2 / 3));
        // Zeros three quarters through the scan: libjpeg warns of a bad Huffman code and
        // decodes on, inventing the rest.
        QByteArray corrupt = decoy;
        corrupt.replace(int(decoy.size() * 3 / 4), 40, QByteArray(40, '\0'));
        writeBytes(dir.file("corrupt.jpg"), corrupt);
    }
    // The picture stored with orientation and the given stored thumbnail (none when empty).
    std::string camera(const std::string& name, int orientation, const std::string& thumbnail) {
        const std::string out = dir.file(name + ".jpg");
        EXPECT_TRUE(QFile::copy(qpath(dir.file("plain.jpg")), qpath(out)));
        exiftool("-Orientation=" + std::to_string(orientation) +
                     (thumbnail.empty() ? "" : " '-ThumbnailImage<=" + dir.file(thumbnail) + "'"),
                 out);
        return out;
    }
};

TEST_F(ExifThumbnails, UsedWhereItServesAndThePictureEverywhereElse) {
    struct Case {
        const char* what;
        const char* thumbnail;
        int orientation;
        QSize size;
        bool used;
    } const cases[] = {
        {"covers the cell", "decoy.jpg", 1, {70, 70}, true},
        {"covers it exactly", "decoy.jpg", 1, {160, 107}, true},
        {"short of the cell at scale 2", "decoy.jpg", 1, {140, 140}, false},
        {"too narrow", "decoy.jpg", 1, {161, 50}, false},
        {"letterboxed into 160x120", "letterboxed.jpg", 1, {70, 70}, false},
        {"turned a quarter (6)", "decoy.jpg", 6, {70, 70}, true},
        {"turned a quarter (8)", "decoy.jpg", 8, {70, 70}, true},
        {"too narrow once turned", "decoy.jpg", 6, {150, 100}, false},
        {"cut short", "truncated.jpg", 1, {70, 70}, false},
        {"damaged", "corrupt.jpg", 1, {70, 70}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = "cam" + std::to_string(&c - cases);
        const std::optional<QImage> got =
            makeThumbnail(qpath(camera(name, c.orientation, c.thumbnail)), {c.size});
        ASSERT_TRUE(got);
        // What each source gives: the picture turned, or the decoy turned as the picture is.
        const std::string source = c.used ? "decoy" : "plain";
        const std::string stored = dir.file(source + std::to_string(c.orientation) + ".jpg");
        if (!QFile::exists(qpath(stored))) {
            ASSERT_TRUE(QFile::copy(qpath(dir.file(source + ".jpg")), qpath(stored)));
            exiftool("-Orientation=" + std::to_string(c.orientation), stored);
        }
        const std::optional<QImage> expected = makeThumbnail(qpath(stored), {c.size});
        // The stored thumbnail is decoded with libjpeg's smoothing, a file of its own with the
        // cell's plain replication: close, not equal. The picture's road is unchanged.
        EXPECT_GE(psnrOf(got, expected), c.used ? 35.0 : 99.0);
    }
}

// A faithful stored thumbnail gives a cell close to the picture's own. 30 dB: the stored
// thumbnail is another program's reduction, stored lossy, then reduced again; a thumbnail of
// another picture or another framing lands far below (the decoy above: under 10 dB).
TEST_F(ExifThumbnails, AFaithfulThumbnailLooksLikeThePicture) {
    const std::optional<QImage> got =
        makeThumbnail(qpath(camera("cam", 1, "faithful.jpg")), {{70, 70}});
    const std::optional<QImage> picture = makeThumbnail(qpath(dir.file("plain.jpg")), {{70, 70}});
    EXPECT_GE(psnrOf(got, picture), 30.0);
    EXPECT_LT(psnrOf(got, picture), 99.0); // it was used
}

// Through the shared cache the stored thumbnail also makes the entry, only of a class whose size
// it covers: a 160x107 thumbnail holds a normal entry (128x85), never a large one (256x171).
TEST_F(ExifThumbnails, AnEntryIsWrittenOnlyWhereTheStoredThumbnailCoversIt) {
    const QString file = qpath(camera("cam", 1, "decoy.jpg"));
    const std::optional<QImage> fromDecoy = makeThumbnail(qpath(dir.file("decoy.jpg")), {{70, 70}});
    struct Case {
        QSize size;
        const char* level;
        bool written;
    } const cases[] = {{{70, 70}, "normal", true}, {{150, 100}, "large", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.level);
        const QString root = qpath(dir.file(std::string("cache-") + c.level));
        const ThumbnailCache cache(root);
        const std::optional<QImage> got = makeThumbnail(file, {c.size}, nullptr, &cache);
        ASSERT_TRUE(got);
        const QStringList entries =
            QDir(root + "/" + c.level).entryList(QDir::Files | QDir::NoDotAndDotDot);
        EXPECT_EQ(entries.size(), c.written ? 1 : 0);
        if (c.written) {
            EXPECT_EQ(QImage(root + "/" + c.level + "/" + entries.value(0)).size(), QSize(128, 85));
            EXPECT_GE(psnrOf(got, fromDecoy), 30.0); // from the stored thumbnail, through the entry
        }
    }
}

// EXIF blocks built by hand around a real stored thumbnail: the well-formed one is used; every
// hostile variant (offsets and lengths out of the block, into the header or a directory, a
// directory chain that loops or leaves the block, entry counts past the end, an uncompressed
// thumbnail) falls back to the picture, without a crash.
TEST_F(ExifThumbnails, HostileDirectoriesFallBackToThePicture) {
    const QByteArray thumbnail = bytesOf(dir.file("decoy.jpg"));
    ASSERT_GT(thumbnail.size(), 100);
    ASSERT_LT(thumbnail.size(), 60000);
    // Little-endian TIFF: IFD0 at 8 (orientation), IFD1 at 26 (compression, offset, length),
    // the thumbnail at 68.
    struct Block {
        std::uint32_t ifd0Count = 1, ifd1Link = 26, compression = 6, offset = 68;
        std::uint32_t length = 0; // 0: the thumbnail's own
    };
    const auto build = [&](const Block& b) {
        QByteArray t;
        const auto u16 = [&](std::uint32_t v) {
            t.append(char(v & 0xFF));
            t.append(char(v >> 8 & 0xFF));
        };
        const auto u32 = [&](std::uint32_t v) {
            u16(v & 0xFFFF);
            u16(v >> 16);
        };
        const auto entry = [&](unsigned tag, unsigned type, std::uint32_t value) {
            u16(tag), u16(type), u32(1);
            type == 3 ? (u16(value), u16(0)) : u32(value);
        };
        t.append("II");
        u16(42), u32(8);
        u16(b.ifd0Count), entry(274, 3, 1), u32(b.ifd1Link);
        u16(3), entry(259, 3, b.compression), entry(513, 4, b.offset);
        entry(514, 4, b.length ? b.length : std::uint32_t(thumbnail.size())), u32(0);
        t.append(thumbnail);
        const QByteArray payload = QByteArray("Exif\0\0", 6) + t;
        QByteArray app1("\xFF\xE1", 2);
        app1.append(char((payload.size() + 2) >> 8)).append(char((payload.size() + 2) & 0xFF));
        return app1 + payload;
    };
    const QByteArray plain = bytesOf(dir.file("plain.jpg"));
    const std::optional<QImage> picture = makeThumbnail(qpath(dir.file("plain.jpg")), {{70, 70}});
    const std::uint32_t end = 8 + 18 + 42 + std::uint32_t(thumbnail.size()); // the block's size
    struct Case {
        const char* what;
        std::function<void(Block&)> change;
        bool used;
    } const cases[] = {
        {"well formed", [](Block&) {}, true},
        {"offset past the block", [&](Block& b) { b.offset = end; }, false},
        {"length past the block", [&](Block& b) { b.length = end - 68 + 1; }, false},
        {"offset and length wrapping", [](Block& b) { b.offset = b.length = 0xFFFFFFFF; }, false},
        {"offset into the TIFF header", [](Block& b) { b.offset = 0; }, false},
        {"offset into its own directory", [](Block& b) { b.offset = 26; }, false},
        {"second directory is the first", [](Block& b) { b.ifd1Link = 8; }, false},
        {"second directory past the block", [&](Block& b) { b.ifd1Link = end + 4; }, false},
        {"first directory's count past the block", [](Block& b) { b.ifd0Count = 0xFFFF; }, false},
        {"uncompressed thumbnail", [](Block& b) { b.compression = 1; }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Block block;
        c.change(block);
        const std::string file = dir.file("hostile" + std::to_string(&c - cases) + ".jpg");
        writeBytes(file, plain.left(2) + build(block) + plain.mid(2));
        const std::optional<QImage> got = makeThumbnail(qpath(file), {{70, 70}});
        ASSERT_TRUE(got);
        EXPECT_EQ(psnrOf(got, picture) == 99.0, !c.used);
    }
}

} // namespace
