// Tests of image information: recognition by signature, the fields per format, and refusals.
#include "core_test_util.h"
#include "tests/support/test_dirs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sys/stat.h>

namespace pixmoor::codec {
namespace {

using pixmoor::test::run;
using pixmoor::test::TempDir;
using test::q;

TEST(Info, RecognisesEveryFormatByItsSignatureWhateverItsName) {
    TempDir dir;
    const std::string src = dir.file("s.ppm");
    ASSERT_TRUE(test::writePpm(src, test::makePhotoLike(41, 17)));
    struct Case {
        std::string name, command, format;
        int bits;
    };
    // Each file carries a misleading extension.
    const std::vector<Case> cases = {
        {"a.png", "convert " + q(src) + " -compress RLE -colors 40 -type Palette BMP3:", "BMP", 8},
        {"b.gif", "convert " + q(src) + " PCX:", "PCX", 24},
        {"c.bmp", "convert " + q(src) + " -quality 80 JPEG:", "JPEG", 24},
        {"d.jpg", "convert " + q(src) + " PNG24:", "PNG", 24},
        {"e.tif", "convert " + q(src) + " GIF:", "GIF", 8},
        {"f.pcx", "convert " + q(src) + " -compress LZW TIFF:", "TIFF", 24},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(run(c.command + q(dir.file(c.name))), 0);
        ImageInfo info;
        ASSERT_EQ(imageInfo(dir.file(c.name), info), Ok);
        EXPECT_EQ(info.format, c.format);
        EXPECT_EQ(info.width, 41);
        EXPECT_EQ(info.height, 17);
        EXPECT_EQ(info.bitsPerPixel, c.bits);
        EXPECT_EQ(info.pages, 1);
        EXPECT_LE(info.format.size(), 5u);
        EXPECT_LE(info.detail.size(), 25u);
        Raster r;
        ASSERT_EQ(readImage(dir.file(c.name), 24, 1, 1, r), Ok);
        EXPECT_EQ(r.width, 41);
    }
    ImageInfo bmp;
    ASSERT_EQ(imageInfo(dir.file("a.png"), bmp), Ok);
    EXPECT_EQ(bmp.detail, "RLE8");
    EXPECT_GT(bmp.colours, 0);
}

TEST(Info, ReportsWidthsBeyondSixteenBitsAndTheBmpVariant) {
    TempDir dir;
    // An OS/2-style header is 16-bit; a Windows one may describe 70000 pixels a row.
    std::vector<std::uint8_t> f(54, 0);
    const std::int32_t width = 70000, height = 2;
    f[0] = 'B', f[1] = 'M', f[10] = 54, f[14] = 40, f[26] = 1, f[28] = 24;
    std::memcpy(&f[18], &width, 4);
    std::memcpy(&f[22], &height, 4);
    f.resize(54 + 2 * ((width * 3 + 3) & ~3), 0x7F);
    test::writeWholeFile(dir.file("wide.bmp"), f);
    ImageInfo info;
    ASSERT_EQ(imageInfo(dir.file("wide.bmp"), info), Ok);
    EXPECT_EQ(info.width, 70000);
    EXPECT_EQ(info.colours, 0);
    EXPECT_EQ(info.detail, "None");
    Raster r;
    ASSERT_EQ(readBmp(dir.file("wide.bmp"), 24, 0, r), Ok);
    EXPECT_EQ(r.at(69999, 1), (Rgb{0x7F, 0x7F, 0x7F}));

    ASSERT_EQ(
        run("convert -size 5x3 xc:red -define bmp:subtype=RGB565 BMP:" + q(dir.file("v5.bmp"))), 0);
    ASSERT_EQ(imageInfo(dir.file("v5.bmp"), info), Ok);
    EXPECT_EQ(info.bitsPerPixel, 16);
    EXPECT_EQ(info.detail, "Bitfields, V5");
    ASSERT_EQ(
        run("pbmmake -white 9 4 | ppmtobmp -os2 > " + q(dir.file("os2.bmp")) + " 2>/dev/null"), 0);
    ASSERT_EQ(imageInfo(dir.file("os2.bmp"), info), Ok);
    EXPECT_EQ(info.bitsPerPixel, 1);
    EXPECT_EQ(info.colours, 2);
    EXPECT_EQ(info.detail, "None, OS/2");
}

TEST(Info, RefusesWhatIsNotAnImage) {
    TempDir dir;
    ImageInfo info;
    test::writeWholeFile(dir.file("empty.bmp"), {});
    EXPECT_EQ(imageInfo(dir.file("empty.bmp"), info), NotThisFormat);
    test::writeWholeFile(dir.file("text.png"), {'h', 'e', 'l', 'l', 'o', '\n'});
    EXPECT_EQ(imageInfo(dir.file("text.png"), info), NotThisFormat);
    test::writeWholeFile(dir.file("short.bmp"), {'B', 'M', 0, 0});
    EXPECT_EQ(imageInfo(dir.file("short.bmp"), info), Truncated);
    EXPECT_EQ(imageInfo(dir.file("missing.gif"), info), FileNotFound);
    EXPECT_EQ(imageInfo("", info), EmptyFileName);
    EXPECT_EQ(imageInfo(dir.path().string(), info), FileNotFound);
    EXPECT_TRUE(info.format.empty());
    Raster r;
    EXPECT_EQ(readImage(dir.file("text.png"), 24, 1, 1, r), NotThisFormat);
}

} // namespace
} // namespace pixmoor::codec

namespace pixmoor::codec {
namespace {

// Inputs the fuzzers found troublesome, kept so each fault stays mended: every one must give a
// clean result from the information call and from reading at every depth.
TEST(Info, FuzzerRegressionFilesFailCleanly) {
    const std::filesystem::path folder =
        std::filesystem::path(PIXMOOR_FIXTURES) / "codec" / "regressions";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string file = entry.path().string();
        SCOPED_TRACE(file);
        ++files;
        ImageInfo info;
        if (succeeded(imageInfo(file, info))) {
            EXPECT_GT(info.width, 0);
            EXPECT_GT(info.height, 0);
        }
        for (int bits : {24, 8, 4, 1, 0}) {
            Raster r;
            const int rc = readImage(file, bits, 1, 1, r);
            EXPECT_EQ(succeeded(rc), !r.empty());
        }
    }
    EXPECT_GT(files, 0);
}

} // namespace
} // namespace pixmoor::codec

namespace pixmoor::codec {
namespace {

TEST(Info, NamedPipesAndDevicesAreRefusedWithoutBlocking) {
    TempDir dir;
    const std::string fifo = dir.file("pipe.bmp");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ImageInfo info;
    Raster r;
    EXPECT_EQ(imageInfo(fifo, info), FileNotFound); // nobody writes: a blocking open would hang
    EXPECT_EQ(readBmp(fifo, 24, 0, r), FileNotFound);
    EXPECT_EQ(readImage("/dev/zero", 24, 1, 0, r), FileNotFound);
}

} // namespace
} // namespace pixmoor::codec
