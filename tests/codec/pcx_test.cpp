// Tests of the PCX codec against files and decoders of ImageMagick, Pillow and netpbm, hand-made
// run-length data, and damaged files.
#include "core_test_util.h"
#include "tests/support/test_dirs.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace pixmoor::codec {
namespace {

using pixmoor::test::run;
using pixmoor::test::TempDir;
using test::differingPixels;
using test::expanded;
using test::peerDecode;
using test::q;

struct PcxFiles : ::testing::Test {
    TempDir dir;
    std::string source = dir.file("source.ppm");
    Raster original = test::makePhotoLike(37, 23); // odd width: odd or padded scan lines
    void SetUp() override { ASSERT_TRUE(test::writePpm(source, original)); }
    std::string make(const std::string& name, const std::string& command) {
        EXPECT_EQ(run(command + " 2>/dev/null"), 0) << command;
        return dir.file(name);
    }
};

// A PCX header for hand-made files.
std::vector<std::uint8_t> pcxHeader(int xmin, int ymin, int xmax, int ymax, int bits, int planes,
                                    int bytesPerLine) {
    std::vector<std::uint8_t> h(128, 0);
    h[0] = 0x0A, h[1] = 5, h[2] = 1, h[3] = std::uint8_t(bits);
    auto put16 = [&](std::size_t at, int v) {
        h[at] = std::uint8_t(v), h[at + 1] = std::uint8_t(v >> 8);
    };
    put16(4, xmin), put16(6, ymin), put16(8, xmax), put16(10, ymax);
    h[65] = std::uint8_t(planes);
    put16(66, bytesPerLine);
    return h;
}

TEST_F(PcxFiles, ReadsEveryVariantOtherToolsWrite) {
    const std::string s = q(source);
    const std::string q4 = q(dir.file("q4.ppm")), q16 = q(dir.file("q16.ppm"));
    ASSERT_EQ(run("pnmquant 4 " + s + " > " + q4 + " 2>/dev/null"), 0);
    ASSERT_EQ(run("pnmquant 16 " + s + " > " + q16 + " 2>/dev/null"), 0);
    auto pillow = [&](const std::string& mode, const std::string& name) {
        return "/usr/bin/python3 -c \"from PIL import Image; Image.open('" + source +
               "').convert(" + mode + ").save('" + dir.file(name) + "')\"";
    };
    const std::vector<std::pair<std::string, std::string>> variants = {
        {"im-24.pcx", "convert " + s + " PCX:" + dir.file("im-24.pcx")},
        {"im-8.pcx", "convert " + s + " -colors 100 PCX:" + dir.file("im-8.pcx")},
        {"pil-1.pcx", pillow("'1'", "pil-1.pcx")},
        {"pil-l.pcx", pillow("'L'", "pil-l.pcx")},
        {"pil-p.pcx", pillow("'P', palette=Image.ADAPTIVE, colors=50", "pil-p.pcx")},
        {"pil-rgb.pcx", pillow("'RGB'", "pil-rgb.pcx")},
        {"planes2.pcx", "ppmtopcx " + q4 + " > " + dir.file("planes2.pcx")},
        {"planes3.pcx", "ppmtopcx -planes 3 " + q4 + " > " + dir.file("planes3.pcx")},
        {"planes4.pcx", "ppmtopcx " + q16 + " > " + dir.file("planes4.pcx")},
        {"packed2.pcx", "ppmtopcx -packed " + q4 + " > " + dir.file("packed2.pcx")},
        {"packed4.pcx", "ppmtopcx -packed " + q16 + " > " + dir.file("packed4.pcx")},
        {"netpbm-8.pcx", "ppmtopcx -8bit " + q16 + " > " + dir.file("netpbm-8.pcx")},
        {"netpbm-24.pcx", "ppmtopcx -24bit " + s + " > " + dir.file("netpbm-24.pcx")},
    };
    for (const auto& [name, command] : variants) {
        SCOPED_TRACE(name);
        const std::string file = make(name, command);
        Raster ours;
        ASSERT_EQ(readPcx(file, 24, 0, ours), Ok);
        const Raster theirs = peerDecode("pcxtoppm", file, dir.file("peer.ppm"));
        ASSERT_FALSE(theirs.empty());
        EXPECT_EQ(differingPixels(ours, theirs), 0);
    }
    for (const char* name : {"im-24.pcx", "pil-rgb.pcx", "netpbm-24.pcx"}) {
        Raster ours;
        ASSERT_EQ(readPcx(dir.file(name), 24, 1, ours), Ok);
        EXPECT_EQ(differingPixels(ours, original), 0) << name;
    }
    // The 16 colours in four planes arrive as a 16-entry palette, unchanged.
    Raster planar;
    ASSERT_EQ(readPcx(dir.file("planes4.pcx"), 8, 1, planar), Ok);
    EXPECT_EQ(planar.palette.size(), 16u);
    EXPECT_EQ(differingPixels(planar, test::readPpm(dir.file("q16.ppm"))), 0);
}

TEST_F(PcxFiles, RunsMayCrossScanLinesAndTheWindowNeedNotStartAtZero) {
    // 3 x 2 at 8 bits, window (10, 20)-(12, 21), 4 bytes a line: one run of 7 covers line one and
    // three bytes of line two, then a literal and a run for 0xC5 (which must be encoded as a run).
    std::vector<std::uint8_t> f = pcxHeader(10, 20, 12, 21, 8, 1, 4);
    for (std::uint8_t b : {0xC7, 0x02, 0x01, 0xC1, 0xC5}) f.push_back(b);
    f.push_back(0x0C);
    for (int i = 0; i < 256; ++i) f.insert(f.end(), {std::uint8_t(i), std::uint8_t(i), 0});
    test::writeWholeFile(dir.file("hand.pcx"), f);
    Raster r;
    ASSERT_EQ(readPcx(dir.file("hand.pcx"), 8, 0, r), Ok);
    ASSERT_EQ(r.width, 3);
    ASSERT_EQ(r.height, 2);
    EXPECT_EQ(r.at(2, 0), (Rgb{2, 2, 0}));
    EXPECT_EQ(r.at(2, 1), (Rgb{2, 2, 0}));
    ImageInfo info;
    ASSERT_EQ(imageInfo(dir.file("hand.pcx"), info), Ok);
    EXPECT_EQ(info.format, "PCX");
    EXPECT_EQ(info.width, 3);
    EXPECT_EQ(info.colours, 256);
}

TEST_F(PcxFiles, DamagedFilesFailCleanly) {
    const std::string cut = dir.file("cut.pcx");
    for (const char* variant : {"", "-colors 20"}) {
        const std::string file = make("p.pcx", std::string("convert ") + q(source) + " " + variant +
                                                   " PCX:" + dir.file("p.pcx"));
        const std::vector<std::uint8_t> bytes = test::readWholeFile(file);
        // For 8 bits the trailing palette makes the last 769 bytes optional: those prefixes read
        // as a grey image, so stop before them.
        const std::size_t limit = bytes.size() - (*variant ? 769 : 0);
        for (std::size_t n = 0; n < limit; n += (n < 300 ? 1 : 13)) {
            test::writeWholeFile(cut, {bytes.begin(), bytes.begin() + std::ptrdiff_t(n)});
            Raster r;
            EXPECT_FALSE(succeeded(readPcx(cut, 24, 1, r))) << variant << " " << n;
            EXPECT_TRUE(r.empty());
        }
    }
    struct Case {
        const char* what;
        std::vector<std::uint8_t> header;
        int expected;
    };
    for (const Case& c : {Case{"xmax below xmin", pcxHeader(10, 0, 5, 3, 8, 1, 8), Corrupt},
                          Case{"ymax below ymin", pcxHeader(0, 9, 5, 3, 8, 1, 8), Corrupt},
                          Case{"huge", pcxHeader(0, 0, 65535, 65535, 8, 1, 65536 - 2), TooLarge},
                          Case{"short lines", pcxHeader(0, 0, 99, 0, 8, 3, 50), Corrupt},
                          Case{"8 bits in 2 planes", pcxHeader(0, 0, 3, 3, 8, 2, 4), Unsupported},
                          Case{"no data", pcxHeader(0, 0, 3, 3, 8, 3, 4), Truncated}}) {
        test::writeWholeFile(cut, c.header);
        Raster r;
        EXPECT_EQ(readPcx(cut, 24, 1, r), c.expected) << c.what;
        EXPECT_TRUE(r.empty());
    }
    Raster r;
    EXPECT_EQ(readPcx(dir.file("none.pcx"), 24, 0, r), FileNotFound);
    EXPECT_EQ(readPcx(source, 24, 0, r), NotThisFormat);
}

TEST_F(PcxFiles, WrittenFilesReadBackInEveryToolWithTheSamePixels) {
    for (int bits : {0, 1, 4, 8, 24}) {
        SCOPED_TRACE(bits);
        const std::string file = dir.file("out " + std::to_string(bits) + ".pcx");
        ASSERT_EQ(writePcx(file, bits, original), Ok);
        Raster expected = original;
        ASSERT_EQ(convertDepth(expected, bits, 1), Ok);
        Raster ours;
        ASSERT_EQ(readPcx(file, 24, 0, ours), Ok);
        EXPECT_EQ(differingPixels(ours, expanded(expected)), 0);
        ImageInfo info;
        ASSERT_EQ(imageInfo(file, info), Ok);
        EXPECT_EQ(info.bitsPerPixel, bits == 0 ? 4 : bits);
        for (const char* tool : {"magick", "pillow", "pcxtoppm"}) {
            // ImageMagick reads every 1-bit, 1-plane PCX with 0 as white, whatever the header's
            // palette says; Pillow and netpbm (and we) read 0 as black.
            if (bits == 1 && std::string(tool) == "magick") continue;
            const Raster theirs = peerDecode(tool, file, dir.file("peer.ppm"));
            ASSERT_FALSE(theirs.empty()) << tool;
            EXPECT_EQ(differingPixels(theirs, ours), 0) << tool;
        }
    }
    // A two-colour image at 1 bit is stored black and white, the brighter colour white.
    Raster two = test::makeRgb(9, 3, [](int x, int) {
        return x % 3 ? Rgb{200, 180, 0} : Rgb{0, 0, 90};
    });
    ASSERT_EQ(writePcx(dir.file("two.pcx"), 1, two), Ok);
    Raster back;
    ASSERT_EQ(readPcx(dir.file("two.pcx"), 24, 0, back), Ok);
    EXPECT_EQ(back.at(0, 0), (Rgb{0, 0, 0}));
    EXPECT_EQ(back.at(1, 0), (Rgb{255, 255, 255}));

    EXPECT_EQ(writePcx(dir.file("x.pcx"), 2, original), BadDepth);
    EXPECT_EQ(writePcx(dir.file("missing/x.pcx"), 8, original), CreateFailed);
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.pcx")));
}

} // namespace
} // namespace pixmoor::codec
