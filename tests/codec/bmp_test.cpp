// Tests of the BMP codec against files and decoders of ImageMagick, Pillow and netpbm, hand-made
// RLE streams, and damaged files.
#include "core_test_util.h"
#include "tests/support/test_dirs.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstring>
#include <filesystem>

namespace pixmoor::codec {
namespace {

using pixmoor::test::run;
using pixmoor::test::TempDir;
using test::differingPixels;
using test::expanded;
using test::peerDecode;
using test::q;

struct BmpFiles : ::testing::Test {
    TempDir dir;
    std::string source = dir.file("source.ppm");
    Raster original = test::makePhotoLike(37, 23); // odd width: every row needs padding
    void SetUp() override { ASSERT_TRUE(test::writePpm(source, original)); }
    std::string make(const std::string& name, const std::string& command) {
        const std::string file = dir.file(name);
        EXPECT_EQ(run(command + " 2>/dev/null"), 0) << command;
        return file;
    }
};

// A BMP put together by hand: 40-byte header (or 12 for OS/2), palette, then `pixels`.
std::vector<std::uint8_t> handMadeBmp(int width, int height, int bits, std::uint32_t compression,
                                      const std::vector<Rgb>& palette,
                                      const std::vector<std::uint8_t>& pixels) {
    std::vector<std::uint8_t> f(14 + 40 + 4 * palette.size(), 0);
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) f[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
    };
    f[0] = 'B', f[1] = 'M';
    put32(10, std::uint32_t(f.size()));
    put32(14, 40);
    put32(18, std::uint32_t(width));
    put32(22, std::uint32_t(height));
    f[26] = 1;
    f[28] = std::uint8_t(bits);
    put32(30, compression);
    put32(46, std::uint32_t(palette.size()));
    for (std::size_t i = 0; i < palette.size(); ++i) {
        f[54 + 4 * i] = palette[i].b, f[55 + 4 * i] = palette[i].g, f[56 + 4 * i] = palette[i].r;
    }
    f.insert(f.end(), pixels.begin(), pixels.end());
    put32(2, std::uint32_t(f.size()));
    return f;
}

const std::vector<Rgb> kFour = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};

TEST_F(BmpFiles, ReadsEveryVariantOtherToolsWrite) {
    const std::string s = q(source);
    const std::vector<std::pair<std::string, std::string>> variants = {
        {"v3-24.bmp", "convert " + s + " BMP3:" + dir.file("v3-24.bmp")},
        {"os2-24.bmp", "convert " + s + " BMP2:" + dir.file("os2-24.bmp")},
        {"v5-24.bmp", "convert " + s + " BMP:" + dir.file("v5-24.bmp")},
        {"565.bmp", "convert " + s + " -define bmp:subtype=RGB565 BMP:" + dir.file("565.bmp")},
        {"555.bmp", "convert " + s + " -define bmp:subtype=RGB555 BMP:" + dir.file("555.bmp")},
        {"argb.bmp",
         "convert " + s + " -alpha set -channel A -fx 'i/w' BMP:" + dir.file("argb.bmp")},
        {"pal8.bmp",
         "convert " + s + " -colors 200 -type Palette -compress None BMP3:" + dir.file("pal8.bmp")},
        {"rle8.bmp",
         "convert " + s + " -colors 200 -type Palette -compress RLE BMP3:" + dir.file("rle8.bmp")},
        {"pal4.bmp",
         "convert " + s + " -colors 12 -type Palette -compress None BMP3:" + dir.file("pal4.bmp")},
        {"mono.bmp", "convert " + s + " -monochrome BMP3:" + dir.file("mono.bmp")},
        {"pil-1.bmp", "/usr/bin/python3 -c \"from PIL import Image; Image.open('" + source +
                          "').convert('1').save('" + dir.file("pil-1.bmp") + "')\""},
        {"pil-l.bmp", "/usr/bin/python3 -c \"from PIL import Image; Image.open('" + source +
                          "').convert('L').save('" + dir.file("pil-l.bmp") + "')\""},
        {"pil-p.bmp", "/usr/bin/python3 -c \"from PIL import Image; Image.open('" + source +
                          "').convert('P', palette=Image.ADAPTIVE, colors=60).save('" +
                          dir.file("pil-p.bmp") + "')\""},
        {"netpbm-os2.bmp", "ppmtobmp -os2 " + s + " > " + dir.file("netpbm-os2.bmp")},
        {"netpbm-8.bmp", "pnmquant 100 " + s + " | ppmtobmp -bpp 8 > " + dir.file("netpbm-8.bmp")},
    };
    for (const auto& [name, command] : variants) {
        SCOPED_TRACE(name);
        const std::string file = make(name, command);
        Raster ours;
        ASSERT_EQ(readBmp(file, 24, 0, ours), Ok);
        const Raster theirs = peerDecode("magick", file, dir.file("peer.ppm"));
        ASSERT_FALSE(theirs.empty());
        // Widening 5-bit fields and blending alpha round differently from tool to tool (ImageMagick
        // replicates bits, Pillow truncates, we round): one level of difference is allowed there.
        const bool rounding = name == "565.bmp" || name == "555.bmp" || name == "argb.bmp";
        if (rounding) {
            ASSERT_NE(differingPixels(ours, theirs), -1); // same size
            EXPECT_LE(test::maxChannelDifference(ours, theirs), 1);
        } else {
            EXPECT_EQ(differingPixels(ours, theirs), 0);
        }
    }
    // Alpha over white as Pillow blends it.
    Raster argb;
    ASSERT_EQ(readBmp(dir.file("argb.bmp"), 24, 0, argb), Ok);
    EXPECT_EQ(differingPixels(argb, peerDecode("pillow", dir.file("argb.bmp"), dir.file("p.ppm"))),
              0);
    EXPECT_EQ(argb.at(0, 5), (Rgb{255, 255, 255})); // fully transparent column
    // The lossless ones give back the source exactly.
    for (const char* name : {"v3-24.bmp", "os2-24.bmp", "v5-24.bmp", "netpbm-os2.bmp"}) {
        Raster ours;
        ASSERT_EQ(readBmp(dir.file(name), 24, 1, ours), Ok);
        EXPECT_EQ(differingPixels(ours, original), 0) << name;
    }
    // Indexed files arrive with their own palette when it fits.
    Raster pal;
    ASSERT_EQ(readBmp(dir.file("pal4.bmp"), 8, 1, pal), Ok);
    EXPECT_EQ(pal.bits, 8);
    EXPECT_LE(pal.palette.size(), 16u);
    EXPECT_EQ(differingPixels(pal, peerDecode("magick", dir.file("pal4.bmp"), dir.file("p.ppm"))),
              0);
}

TEST_F(BmpFiles, TopDownRowsReadTheSameAsBottomUp) {
    const std::string file = make("v3.bmp", "convert " + q(source) + " BMP3:" + dir.file("v3.bmp"));
    std::vector<std::uint8_t> bytes = test::readWholeFile(file);
    const std::size_t rowBytes = (37 * 3 + 3) & ~3, offset = 54;
    std::vector<std::uint8_t> flipped(bytes.begin(), bytes.begin() + offset);
    for (int y = 22; y >= 0; --y)
        flipped.insert(flipped.end(),
                       bytes.begin() + std::ptrdiff_t(offset + rowBytes * std::size_t(y)),
                       bytes.begin() + std::ptrdiff_t(offset + rowBytes * std::size_t(y + 1)));
    const std::int32_t negative = -23;
    std::memcpy(&flipped[22], &negative, 4);
    test::writeWholeFile(dir.file("top.bmp"), flipped);
    Raster r;
    ASSERT_EQ(readBmp(dir.file("top.bmp"), 24, 0, r), Ok);
    EXPECT_EQ(differingPixels(r, original), 0);
    ImageInfo info;
    ASSERT_EQ(imageInfo(dir.file("top.bmp"), info), Ok);
    EXPECT_EQ(info.height, 23);
    EXPECT_EQ(info.detail, "None, top-down");
}

TEST_F(BmpFiles, Rle4AndRle8StreamsWithEscapesAndRunsPastTheRow) {
    // RLE4, 6 x 3. Bottom line: run of 5 alternating 1/2, then an absolute run of 3 (odd, padded),
    // clipped at 6; end of line. Middle line: delta (2, 0), run of 10 of 3 that must stop at the
    // row's end rather than wrap; end of line. Top line: absent (end of bitmap first): index 0.
    const std::vector<std::uint8_t> rle4 = {5, 0x12, 0, 3, 0x33, 0x30, 0, 0, //
                                            0, 2,    2, 0, 10,   0x33, 0, 0, //
                                            0, 1};
    const std::string f4 = dir.file("rle4.bmp");
    test::writeWholeFile(f4, handMadeBmp(6, 3, 4, 2, kFour, rle4));
    Raster r;
    ASSERT_EQ(readBmp(f4, 8, 0, r), Ok);
    const std::vector<std::vector<int>> expect4 = {
        {0, 0, 0, 0, 0, 0}, {0, 0, 3, 3, 3, 3}, {1, 2, 1, 2, 1, 3}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(r.at(x, y), kFour[std::size_t(expect4[y][x])]) << x << "," << y;

    // RLE8 with a delta that jumps off the image, and with no end-of-bitmap marker after the last
    // line: both end cleanly with what was decoded.
    for (const std::vector<std::uint8_t>& stream :
         {std::vector<std::uint8_t>{3, 1, 0, 2, 200, 200, 4, 2},
          std::vector<std::uint8_t>{2, 3, 0, 0, 255, 2}}) {
        const std::string f8 = dir.file("rle8.bmp");
        test::writeWholeFile(f8, handMadeBmp(4, 2, 8, 1, kFour, stream));
        ASSERT_EQ(readBmp(f8, 24, 0, r), Ok);
        EXPECT_EQ(r.at(0, 1), kFour[stream[1]]);
    }
    // Streams that stop before the image is complete are truncated.
    for (const std::vector<std::uint8_t>& stream :
         {std::vector<std::uint8_t>{0, 4, 1, 2}, std::vector<std::uint8_t>{4, 1, 0, 0, 2, 2}}) {
        test::writeWholeFile(dir.file("cut.bmp"), handMadeBmp(4, 2, 8, 1, kFour, stream));
        EXPECT_EQ(readBmp(dir.file("cut.bmp"), 24, 0, r), Truncated);
        EXPECT_TRUE(r.empty());
    }
}

TEST_F(BmpFiles, DamagedFilesFailCleanly) {
    // Every prefix of a valid file, RLE8 or plain, is refused, never a crash. (The last row may
    // lack its padding, and an RLE stream its end marker: such files exist and are read.)
    const std::string cut = dir.file("cut.bmp");
    for (const char* compress : {"RLE", "None"}) {
        const std::string file =
            make("p.bmp", "convert " + q(source) + " -colors 30 -type Palette -compress " +
                              compress + " BMP3:" + dir.file("p.bmp"));
        const std::vector<std::uint8_t> bytes = test::readWholeFile(file);
        for (std::size_t n = 0; n < bytes.size() - 3; n += (n < 200 ? 1 : 7)) {
            test::writeWholeFile(cut, {bytes.begin(), bytes.begin() + std::ptrdiff_t(n)});
            Raster r;
            const int rc = readBmp(cut, 8, 1, r);
            EXPECT_FALSE(succeeded(rc)) << compress << " " << n;
            EXPECT_TRUE(r.empty());
        }
    }
    struct Case {
        const char* what;
        int width, height, bits;
        std::uint32_t compression;
        int expected;
    };
    for (const Case& c :
         {Case{"huge", 60000, 60000, 24, 0, TooLarge}, Case{"no width", 0, 5, 24, 0, Corrupt},
          Case{"odd depth", 4, 4, 7, 0, Corrupt}, Case{"embedded jpeg", 4, 4, 24, 4, Unsupported},
          Case{"rle8 at 4 bits", 4, 4, 4, 1, Corrupt},
          Case{"pixels missing", 4, 4, 24, 0, Truncated}}) {
        test::writeWholeFile(cut,
                             handMadeBmp(c.width, c.height, c.bits, c.compression, {}, {1, 2, 3}));
        Raster r;
        EXPECT_EQ(readBmp(cut, 24, 1, r), c.expected) << c.what;
        EXPECT_TRUE(r.empty());
    }
    // Indices past a short colour table read as black instead of reading past it.
    test::writeWholeFile(cut, handMadeBmp(4, 1, 8, 0, {{9, 9, 9}}, {0, 200, 0, 255}));
    Raster r;
    ASSERT_EQ(readBmp(cut, 24, 0, r), Ok);
    EXPECT_EQ(r.at(0, 0), (Rgb{9, 9, 9}));
    EXPECT_EQ(r.at(1, 0), (Rgb{0, 0, 0}));

    EXPECT_EQ(readBmp(dir.file("missing.bmp"), 24, 0, r), FileNotFound);
    EXPECT_EQ(readBmp("", 24, 0, r), EmptyFileName);
    EXPECT_EQ(readBmp(dir.path().string(), 24, 0, r), FileNotFound);
    EXPECT_EQ(readBmp(source, 24, 0, r), NotThisFormat);
    EXPECT_EQ(readBmp(dir.file("p.bmp"), 3, 0, r), BadDepth);
}

TEST_F(BmpFiles, ColourCountsTheFileCannotHoldAreCorrupt) {
    // The header's count of colours is checked against what an indexed bitmap can use and against
    // the bytes present; a depth's worth of colours with a larger count is still read.
    struct Case {
        int bits;
        std::uint32_t colours;
        int expected;
    };
    const std::string file = dir.file("c.bmp");
    for (const Case& c : {Case{8, 2147483647u, Corrupt}, Case{8, 0x80000000u, Corrupt},
                          Case{8, 257, Corrupt}, Case{24, 2147483647u, Corrupt},
                          Case{24, 1000, Corrupt}, Case{4, 256, Ok}, Case{24, 2, Ok}}) {
        SCOPED_TRACE(std::to_string(c.bits) + " bits, " + std::to_string(c.colours) + " colours");
        const std::vector<Rgb> palette =
            c.bits <= 8 ? std::vector<Rgb>(16, Rgb{9, 9, 9}) : std::vector<Rgb>(2, Rgb{0, 0, 0});
        std::vector<std::uint8_t> bytes =
            handMadeBmp(2, 2, c.bits, 0, palette, std::vector<std::uint8_t>(16, 0));
        std::memcpy(&bytes[46], &c.colours, 4);
        test::writeWholeFile(file, bytes);
        Raster r;
        EXPECT_EQ(readBmp(file, 24, 0, r), c.expected);
        EXPECT_EQ(r.empty(), c.expected != Ok);
        ImageInfo info;
        EXPECT_EQ(imageInfo(file, info), c.expected);
    }
}

TEST_F(BmpFiles, BitFieldAlphaOfLargerHeadersBlendsOverWhite) {
    // 16- and 32-bit bit fields with an alpha mask inside 56-, 108- and 124-byte headers, laid out
    // as GIMP and ImageMagick write them. ImageMagick reads a set 1-bit alpha as half transparent
    // and a 4-bit one slightly off, so the reference is the source quantised to the fields, alpha
    // over white; the 8-bit alpha of 32-bit files is also compared with ImageMagick's reading.
    struct Layout {
        const char* name;
        int bits;
        std::array<std::uint32_t, 4> masks; // red, green, blue, alpha
    };
    const int w = 37, h = 23;
    auto field = [](std::uint32_t mask, unsigned value) { // 8-bit value into a field, rounded
        const int shift = std::countr_zero(mask);
        const std::uint32_t max = mask >> shift;
        return std::uint32_t((value * max + 127) / 255) << shift;
    };
    auto widen = [](std::uint32_t pixel, std::uint32_t mask) {
        const int shift = std::countr_zero(mask);
        const std::uint32_t max = mask >> shift;
        return unsigned((((pixel & mask) >> shift) * 255 + max / 2) / max);
    };
    for (const Layout& l : {Layout{"ARGB1555", 16, {0x7C00, 0x03E0, 0x001F, 0x8000}},
                            Layout{"ARGB4444", 16, {0x0F00, 0x00F0, 0x000F, 0xF000}},
                            Layout{"ARGB8888", 32, {0xFF0000, 0xFF00, 0xFF, 0xFF000000u}},
                            Layout{"RGBA8888", 32, {0xFF000000u, 0xFF0000, 0xFF00, 0xFF}}}) {
        for (const std::uint32_t headerSize : {56u, 108u, 124u}) {
            SCOPED_TRACE(std::string(l.name) + ", header " + std::to_string(headerSize));
            const std::size_t bpp = std::size_t(l.bits) / 8, rowBytes = (w * bpp + 3) & ~3u;
            const std::size_t offset = 14 + headerSize;
            std::vector<std::uint8_t> f(offset + rowBytes * h, 0);
            auto put32 = [&](std::size_t at, std::uint32_t v) { std::memcpy(&f[at], &v, 4); };
            f[0] = 'B', f[1] = 'M';
            put32(2, std::uint32_t(f.size()));
            put32(10, std::uint32_t(offset));
            put32(14, headerSize);
            put32(18, w);
            put32(22, h);
            f[26] = 1;
            f[28] = std::uint8_t(l.bits);
            put32(30, 3); // bit fields
            for (int i = 0; i < 4; ++i) put32(54 + 4 * std::size_t(i), l.masks[std::size_t(i)]);
            Raster expected = test::makeRgb(w, h, [](int, int) { return Rgb{}; });
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const Rgb c = original.at(x, y);
                    // Clear at the left, a ramp across, opaque in the bottom rows.
                    const unsigned a = y >= h - 4 ? 255 : x < 4 ? 0 : unsigned(x * 255 / (w - 1));
                    const std::uint32_t px = field(l.masks[0], c.r) | field(l.masks[1], c.g) |
                                             field(l.masks[2], c.b) | field(l.masks[3], a);
                    std::memcpy(&f[offset + rowBytes * std::size_t(h - 1 - y) + bpp * x], &px, bpp);
                    const unsigned alpha = widen(px, l.masks[3]);
                    auto over = [&](std::uint32_t mask) {
                        return std::uint8_t((widen(px, mask) * alpha + 255 * (255 - alpha)) / 255);
                    };
                    std::uint8_t* e = expected.row(y) + 3 * x;
                    e[0] = over(l.masks[0]), e[1] = over(l.masks[1]), e[2] = over(l.masks[2]);
                }
            const std::string file = dir.file(std::string(l.name) + ".bmp");
            test::writeWholeFile(file, f);
            Raster ours;
            ASSERT_EQ(readBmp(file, 24, 0, ours), Ok);
            EXPECT_LE(test::maxChannelDifference(ours, expected), 1);
            EXPECT_EQ(ours.at(0, 0), (Rgb{255, 255, 255})); // clear
            if (l.bits == 32) {
                const Raster theirs = peerDecode("magick", file, dir.file("peer.ppm"));
                ASSERT_NE(differingPixels(ours, theirs), -1); // read, and the same size
                EXPECT_LE(test::maxChannelDifference(ours, theirs), 1);
            }
        }
    }
}

TEST_F(BmpFiles, WrittenFilesReadBackInEveryToolWithTheSamePixels) {
    for (int bits : {0, 1, 4, 8, 24}) {
        SCOPED_TRACE(bits);
        const std::string file = dir.file("out " + std::to_string(bits) + ".bmp");
        ASSERT_EQ(writeBmp(file, bits, original), Ok);
        const std::vector<std::uint8_t> bytes = test::readWholeFile(file);
        ASSERT_GT(bytes.size(), 54u);
        EXPECT_EQ(bytes[28], bits == 0 ? 4 : bits);

        Raster expected = original;
        ASSERT_EQ(convertDepth(expected, bits, 1), Ok);
        Raster ours;
        ASSERT_EQ(readBmp(file, 24, 0, ours), Ok);
        EXPECT_EQ(differingPixels(ours, expanded(expected)), 0);
        for (const char* tool : {"magick", "pillow", "bmptopnm"}) {
            const Raster theirs = peerDecode(tool, file, dir.file("peer.ppm"));
            ASSERT_FALSE(theirs.empty()) << tool;
            EXPECT_EQ(differingPixels(theirs, ours), 0) << tool;
        }
    }
}

TEST_F(BmpFiles, WritingRefusesBadRequestsAndLeavesNoFile) {
    const std::string file = dir.file("x.bmp");
    EXPECT_EQ(writeBmp(file, 16, original), BadDepth);
    EXPECT_EQ(writeBmp(file, 24, Raster{}), EmptyImage);
    EXPECT_EQ(writeBmp("", 24, original), EmptyFileName);
    EXPECT_EQ(writeBmp(dir.file("no/such/dir/x.bmp"), 24, original), CreateFailed);
    EXPECT_FALSE(std::filesystem::exists(file));
}

} // namespace
} // namespace pixmoor::codec
