// Saves never destroy an existing file: every writer puts a complete file in place or changes
// nothing, keeps a replaced file's mode and user attributes, replaces a symbolic link instead of
// following it, and still writes straight into devices and pipes; a file encoded in memory is
// written out the same way. The full-disk case runs on a small tmpfs in a
// private mount namespace (needs root and unshare).
#include "imaging/codec/errors.h"
#include "imaging/codec/format_table.h"
#include "tests/codec/format_test_util.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

namespace pixmoor::codec::test {
namespace {

namespace fs = std::filesystem;

std::set<std::string> entriesOf(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

WriteOptions optionsFor(ImageFormat format) {
    WriteOptions o;
    o.bits = format == ImageFormat::Gif ? 8 : 24;
    o.quality = 90;
    return o;
}

std::string extensionOf(ImageFormat format) {
    return std::string(formatEntry(format).extensions[0]);
}

// Random colours: no compressor shrinks them much.
Raster makeNoise(int width, int height) {
    std::uint32_t seed = 7;
    return makeRgb(width, height, [&seed](int, int) {
        seed = seed * 1103515245u + 12345u;
        return Rgb{std::uint8_t(seed >> 24), std::uint8_t(seed >> 16), std::uint8_t(seed >> 8)};
    });
}

TEST(AtomicSave, EveryWriterReplacesAFileKeepingItsModeAndUserAttributes) {
    pixmoor::test::TempDir dir;
    const Raster picture = makeBlocks(40, 30);
    for (const FormatEntry& entry : formatTable()) {
        SCOPED_TRACE(entry.name);
        const std::string file = dir.file("old." + extensionOf(entry.format));
        writeWholeFile(file, {'o', 'l', 'd'});
        ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
        const bool attributes =
            ::setxattr(file.c_str(), "user.DOSATTRIB", "0x22", 4, 0) == 0; // tmpfs may refuse
        const auto before = entriesOf(dir.path());

        ASSERT_EQ(writeImage(entry.format, file, optionsFor(entry.format), picture), Ok);
        Raster back;
        EXPECT_EQ(readAs(entry.format, file, 24, 1, 0, back), Ok);
        EXPECT_EQ(back.width, 40);
        struct stat st {};
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
        if (attributes) {
            char value[16] = {};
            EXPECT_EQ(::getxattr(file.c_str(), "user.DOSATTRIB", value, sizeof value), 4);
            EXPECT_STREQ(value, "0x22");
        }
        EXPECT_EQ(entriesOf(dir.path()), before); // no temporary file left
    }
}

TEST(AtomicSave, ANewFileGetsTheUsualModeAndNothingElseIsLeft) {
    pixmoor::test::TempDir dir;
    const mode_t mask = ::umask(027);
    const int rc = writeImage(ImageFormat::Png, dir.file("new.png"), optionsFor(ImageFormat::Png),
                              makeBlocks(10, 10));
    ::umask(mask);
    ASSERT_EQ(rc, Ok);
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("new.png").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(entriesOf(dir.path()), std::set<std::string>({"new.png"}));
}

std::vector<std::uint8_t> bytesOf(const EncodedImage& encoded) {
    std::vector<std::uint8_t> out;
    encoded.forEachPart([&out](const std::uint8_t* data, std::size_t length) {
        out.insert(out.end(), data, data + length);
        return true;
    });
    return out;
}

// A picture encoded in memory is the file its writer writes, byte for byte (TIFF seeks back to
// finish its header; BMP and TIFF span several of the memory's blocks), and written out later the
// way every writer writes; encoding touches no file.
TEST(AtomicSave, EncodingInMemoryMakesTheWritersFileAndWritesItTheSameWay) {
    pixmoor::test::TempDir dir;
    const Raster noise = makeNoise(300, 300);
    for (const FormatEntry& entry : formatTable()) {
        SCOPED_TRACE(entry.name);
        const std::string written = dir.file("written." + extensionOf(entry.format));
        const std::string later = dir.file("later." + extensionOf(entry.format));
        ASSERT_EQ(writeImage(entry.format, written, optionsFor(entry.format), noise), Ok);
        const auto before = entriesOf(dir.path());
        EncodedImage encoded;
        ASSERT_EQ(encodeImage(entry.format, optionsFor(entry.format), noise, encoded), Ok);
        EXPECT_EQ(entriesOf(dir.path()), before);
        EXPECT_EQ(bytesOf(encoded), readWholeFile(written));
        ASSERT_EQ(writeEncoded(later, encoded), Ok);
        EXPECT_EQ(readWholeFile(later), readWholeFile(written));
        // A failure is the writer's, and leaves nothing encoded.
        WriteOptions bad = optionsFor(entry.format);
        bad.bits = 3;
        EXPECT_EQ(encodeImage(entry.format, bad, noise, encoded), BadDepth);
        EXPECT_EQ(encoded.size(), 0u);
    }
    EncodedImage nothing;
    EXPECT_EQ(writeEncoded(dir.file("missing/x.png"), nothing), CreateFailed);
}

// A link at the target's name may lead anywhere (a hostile folder can hold one): it is replaced
// by the new file, and nothing it leads to is written or created.
TEST(AtomicSave, ASymbolicLinkIsReplacedAndWhatItLeadsToIsLeftAlone) {
    pixmoor::test::TempDir dir;
    fs::create_directory(dir.path() / "elsewhere");
    fs::create_directory(dir.path() / "target");
    const std::string precious = dir.file("elsewhere/precious.txt");
    const Raster picture = makeBlocks(12, 9);
    struct Case {
        const char* name;
        const char* leadsTo;
    } cases[] = {
        {"existing.bmp", "../elsewhere/precious.txt"}, // an existing file
        {"dangling.bmp", "../elsewhere/new-file.bmp"}, // a name that does not exist yet
        {"chain.bmp", "existing-link"},                // a link to a link
        {"loop.bmp", "loop.bmp"},                      // a loop
    };
    ASSERT_EQ(::symlink("../elsewhere/precious.txt", dir.file("target/existing-link").c_str()), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeWholeFile(precious, {'k', 'e', 'e', 'p'});
        const std::string file = dir.file(std::string("target/") + c.name);
        ASSERT_EQ(::symlink(c.leadsTo, file.c_str()), 0);
        ASSERT_EQ(writeBmp(file, 24, picture), Ok);
        EXPECT_FALSE(fs::is_symlink(file));
        Raster back;
        ASSERT_EQ(readBmp(file, 24, 0, back), Ok);
        EXPECT_EQ(maxDifference(back, picture), 0);
        EXPECT_EQ(readWholeFile(precious), std::vector<std::uint8_t>({'k', 'e', 'e', 'p'}));
        EXPECT_EQ(entriesOf(dir.path() / "elsewhere"), std::set<std::string>({"precious.txt"}));
    }
    EXPECT_TRUE(fs::is_symlink(dir.file("target/existing-link")));
}

TEST(AtomicSave, ATargetThatCannotBeWrittenIsLeftAlone) {
    pixmoor::test::TempDir dir;
    const Raster picture = makeBlocks(8, 8);
    // A directory of the target's name, and a directory that does not exist.
    fs::create_directory(dir.path() / "taken.png");
    EXPECT_EQ(writePng(dir.file("taken.png"), 24, 0, picture), CreateFailed);
    EXPECT_TRUE(fs::is_directory(dir.path() / "taken.png"));
    EXPECT_EQ(writePng(dir.file("missing/x.png"), 24, 0, picture), CreateFailed);
    EXPECT_EQ(writePng("", 24, 0, picture), EmptyFileName);
    std::set<std::string> expected{"taken.png"};
    // A file without write permission is not replaced (root may write anything).
    if (::geteuid() != 0) {
        const std::string locked = dir.file("locked.png");
        writeWholeFile(locked, {'k', 'e', 'e', 'p'});
        ASSERT_EQ(::chmod(locked.c_str(), 0444), 0);
        EXPECT_EQ(writePng(locked, 24, 0, picture), CreateFailed);
        EXPECT_EQ(readWholeFile(locked), std::vector<std::uint8_t>({'k', 'e', 'e', 'p'}));
        expected.insert("locked.png");
    }
    EXPECT_EQ(entriesOf(dir.path()), expected);
}

TEST(AtomicSave, DevicesAndPipesAreWrittenInPlace) {
    pixmoor::test::TempDir dir;
    const Raster picture = makeBlocks(30, 20);
    EXPECT_EQ(writePng("/dev/null", 24, 0, picture), Ok);
    struct stat st {};
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));

    // The bytes that reach a reader through a pipe are those of a file written the plain way.
    const std::string plain = dir.file("plain.png");
    ASSERT_EQ(writePng(plain, 24, 0, picture), Ok);
    const std::string fifo = dir.file("pipe.png");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::vector<std::uint8_t> received;
    std::thread reader([&] { received = readWholeFile(fifo); });
    EXPECT_EQ(writePng(fifo, 24, 0, picture), Ok);
    reader.join();
    EXPECT_EQ(received, readWholeFile(plain));
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// Every writer fails on a full file system and leaves the file it was to replace as it was.
TEST(AtomicSave, AFullDiskLeavesTheOldFileByteForByte) {
    const char* full = std::getenv("PIXMOOR_FULL_SAVE_DIR");
    if (!full) {
        if (::geteuid() != 0 || !pixmoor::test::haveProgram("unshare"))
            GTEST_SKIP() << "needs root and unshare for a private tmpfs";
        if (pixmoor::test::run("unshare -m true 2>/dev/null") != 0)
            GTEST_SKIP() << "unshare refused";
        char self[PATH_MAX] = {};
        const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
        ASSERT_GT(n, 0);
        pixmoor::test::TempDir mountPoint;
        const std::string inner =
            "mount -t tmpfs -o size=1m tmpfs " + q(mountPoint.path().string()) +
            " && PIXMOOR_FULL_SAVE_DIR=" + q(mountPoint.path().string()) + " exec " + q(self) +
            " --gtest_filter=AtomicSave.AFullDiskLeavesTheOldFileByteForByte";
        EXPECT_EQ(pixmoor::test::run("unshare -m sh -c " + q(inner) + " >/dev/null 2>&1"), 0)
            << "a failed save damaged the file it was to replace";
        return;
    }
    const fs::path dir(full);
    // Old files of 100 KiB each, then a filler that leaves about 150 KiB free.
    std::vector<std::uint8_t> old(100 * 1024);
    for (std::size_t i = 0; i < old.size(); ++i) old[i] = std::uint8_t(i * 131 + (i >> 9));
    for (const FormatEntry& entry : formatTable())
        writeWholeFile((dir / ("photo." + extensionOf(entry.format))).string(), old);
    std::vector<std::uint8_t> filler(1024 * 1024 - 6 * old.size() - 150 * 1024);
    writeWholeFile((dir / "filler").string(), filler);
    const auto before = entriesOf(dir);

    const Raster noise = makeNoise(500, 500); // 750 KB of pixels: no format fits them
    for (const FormatEntry& entry : formatTable()) {
        SCOPED_TRACE(entry.name);
        const std::string file = (dir / ("photo." + extensionOf(entry.format))).string();
        WriteOptions options = optionsFor(entry.format);
        options.quality = 100;
        EXPECT_EQ(writeImage(entry.format, file, options, noise), WriteFailed);
        EXPECT_EQ(readWholeFile(file), old);
        EXPECT_EQ(entriesOf(dir), before);
        EncodedImage encoded; // the same file made in memory first
        ASSERT_EQ(encodeImage(entry.format, options, noise, encoded), Ok);
        EXPECT_EQ(writeEncoded(file, encoded), WriteFailed);
        EXPECT_EQ(readWholeFile(file), old);
        EXPECT_EQ(entriesOf(dir), before);
    }
    // A picture that fits replaces the old file.
    const std::string bmp = (dir / "photo.bmp").string();
    ASSERT_EQ(writeBmp(bmp, 24, makeBlocks(20, 20)), Ok);
    Raster back;
    EXPECT_EQ(readBmp(bmp, 24, 0, back), Ok);
    EXPECT_EQ(back.width, 20);
    EXPECT_EQ(entriesOf(dir), before);
}

} // namespace
} // namespace pixmoor::codec::test
