// Tests of the catalogue's directory search: which names each type lists and in what order.
#include "catalogue/enumeration.h"
#include "platform/file_name.h"
#include "tests/catalogue/catalogue_test_util.h"

#include <QProcess>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace pixmoor;
using namespace pixmoor::test;

namespace {

void touch(const TempDir& dir, const std::string& name) {
    writeBytes(dir.file(name), "x");
}

QStringList sorted(QStringList list) {
    list.sort();
    return list;
}

} // namespace

TEST(Enumeration, MatchesExtensionsCaseInsensitivelyWithTheLongerSpellings) {
    EXPECT_TRUE(matchesImageType("a.bmp", "bmp"));
    EXPECT_TRUE(matchesImageType("B.BMP", "bmp"));
    EXPECT_TRUE(matchesImageType(".bmp", "bmp")); // a hidden file with no other name
    EXPECT_FALSE(matchesImageType("a.bmpx", "bmp"));
    EXPECT_FALSE(matchesImageType("abmp", "bmp"));
    EXPECT_FALSE(matchesImageType("bmp", "bmp"));
    for (const char* name : {"p.jpg", "p.JPEG", "p.jpe", "p.Jpeg"})
        EXPECT_TRUE(matchesImageType(name, "jpg")) << name;
    EXPECT_FALSE(matchesImageType("p.jpgx", "jpg"));
    EXPECT_TRUE(matchesImageType("t.TIFF", "tif"));
    EXPECT_TRUE(matchesImageType("t.tif", "tif"));
    EXPECT_FALSE(matchesImageType("t.tiff", "bmp"));
    EXPECT_FALSE(matchesImageType("p.jpeg", "png"));
    EXPECT_FALSE(matchesImageType("a.bmp", ""));
}

TEST(Enumeration, ListsFilesHiddenFilesAndLinksButNoDirectoriesOrSpecialFiles) {
    TempDir dir;
    for (const char* name : {"a.bmp", "B.BMP", "c.Bmp", ".hidden.bmp", "d.bmpx", "e.txt", "f.gif",
                             "spaces and 'quotes'.bmp", "ünïcødé.bmp"})
        touch(dir, name);
    fs::create_directory(dir.path() / "folder.bmp");
    fs::create_symlink(dir.path() / "a.bmp", dir.path() / "link.bmp");
    fs::create_symlink(dir.path() / "folder.bmp", dir.path() / "dirlink.bmp");
    fs::create_symlink(dir.path() / "missing.bmp", dir.path() / "dangling.bmp");
    ASSERT_EQ(::mkfifo(dir.file("pipe.bmp").c_str(), 0600), 0);

    const QStringList found = enumerateImageFiles(qpath(dir.path().string()), "bmp");
    EXPECT_EQ(sorted(found), sorted({"a.bmp", "B.BMP", "c.Bmp", ".hidden.bmp", "link.bmp",
                                     "spaces and 'quotes'.bmp", "ünïcødé.bmp"}));
    EXPECT_EQ(enumerateImageFiles(qpath(dir.path().string()), "gif"), QStringList{"f.gif"});
    EXPECT_TRUE(enumerateImageFiles(qpath(dir.path().string()), "png").isEmpty());
}

TEST(Enumeration, JpegAndTiffTypesTakeTheirLongerExtensions) {
    TempDir dir;
    for (const char* name : {"a.jpg", "b.jpeg", "c.JPE", "d.tif", "e.TIFF", "f.jfif"})
        touch(dir, name);
    const QString d = qpath(dir.path().string());
    EXPECT_EQ(sorted(enumerateImageFiles(d, "jpg")), sorted({"a.jpg", "b.jpeg", "c.JPE"}));
    EXPECT_EQ(sorted(enumerateImageFiles(d, "tif")), sorted({"d.tif", "e.TIFF"}));
}

TEST(Enumeration, KeepsTheOrderOfTheDirectoryListing) {
    TempDir dir;
    // Enough names that the listing order is all but certain to differ from the sorted one.
    for (int i = 0; i < 40; ++i) touch(dir, "img" + std::to_string((i * 17) % 40) + ".png");
    QProcess ls;
    ls.start("ls", {"-U", "-a", "-1", qpath(dir.path().string())});
    ASSERT_TRUE(ls.waitForFinished());
    QStringList listing;
    for (const QString& line : QString::fromUtf8(ls.readAllStandardOutput()).split(u'\n'))
        if (line.endsWith(QLatin1String(".png"))) listing.append(line);
    ASSERT_EQ(listing.size(), 40);
    EXPECT_EQ(enumerateImageFiles(qpath(dir.path().string()), "png"), listing);
}

TEST(Enumeration, AMissingOrUnreadableDirectoryGivesNothing) {
    TempDir dir;
    EXPECT_TRUE(enumerateImageFiles(qpath(dir.file("nope")), "bmp").isEmpty());
    EXPECT_TRUE(enumerateImageFiles(QString(), "bmp").isEmpty());
    if (::geteuid() != 0) {
        touch(dir, "a.bmp");
        fs::permissions(dir.path(), fs::perms::owner_write | fs::perms::owner_exec);
        EXPECT_TRUE(enumerateImageFiles(qpath(dir.path().string()), "bmp").isEmpty());
        fs::permissions(dir.path(), fs::perms::owner_all);
    }
}

TEST(Enumeration, LinksToFifosAndDevicesAreLeftOutLikeTheFifosThemselves) {
    TempDir dir;
    touch(dir, "a.jpg");
    ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0600), 0);
    fs::create_symlink(dir.path() / "pipe", dir.path() / "fifo-link.jpg");
    fs::create_symlink("/dev/zero", dir.path() / "zero.jpg");
    fs::create_symlink("/dev/null", dir.path() / "null.jpg");
    fs::create_symlink(dir.path() / "a.jpg", dir.path() / "good-link.jpg");
    EXPECT_EQ(sorted(enumerateImageFiles(qpath(dir.path().string()), "jpg")),
              sorted({"a.jpg", "good-link.jpg"}));
}

TEST(Enumeration, NamesThatAreNotUtf8AreListedWithTheirBytesKept) {
    TempDir dir;
    touch(dir, "Caf\xe9.bmp");
    touch(dir, "ok.bmp");
    const QStringList found = sorted(enumerateImageFiles(qpath(dir.path().string()), "bmp"));
    ASSERT_EQ(found.size(), 2);
    EXPECT_EQ(encodeFileName(found[0]), QByteArray("Caf\xe9.bmp"));
    EXPECT_EQ(found[1], "ok.bmp");
}
