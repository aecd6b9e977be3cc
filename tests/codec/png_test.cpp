// Tests of the PNG reader, writer and information call against files made and read by Pillow and
// ImageMagick.
#include "imaging/codec/codec.h"
#include "imaging/codec/decode.h"
#include "imaging/codec/errors.h"
#include "imaging/codec/formats.h"
#include "imaging/codec/png_quick_write.h"
#include "imaging/codec/png_text.h"
#include "tests/codec/format_test_util.h"

#include <gtest/gtest.h>

#include <cstring>

#include <zlib.h>

namespace pixmoor::codec::test {
namespace {

using pixmoor::test::TempDir;

// Writes every PNG colour type and depth from one 37 x 23 picture with soft alpha.
const char* kPillowFixtures = R"PY(
import sys
from PIL import Image
d = sys.argv[1]
w, h = 37, 23
rgba = Image.new('RGBA', (w, h))
rgba.putdata([((x * 7) % 256, (y * 11) % 256, (x * y) % 256, (x * 255) // (w - 1))
              for y in range(h) for x in range(w)])
rgb = rgba.convert('RGB')
rgb.save(d + '/rgb8.png')
rgba.save(d + '/rgba8.png')
rgb.convert('L').save(d + '/gray8.png')
rgb.convert('1').save(d + '/gray1.png')
rgba.convert('LA').save(d + '/graya8.png')
rgb.quantize(4).save(d + '/pal2.png', bits=2)
rgb.quantize(16).save(d + '/pal4.png', bits=4)
rgb.quantize(200).save(d + '/pal8.png')
rgb.quantize(2).save(d + '/pal1.png', bits=1)
p = rgb.quantize(16)
p.save(d + '/paltrns.png', bits=4, transparency=bytes([0, 128] + [255] * 14))
g = rgb.convert('L')
g.save(d + '/graytrns.png', transparency=g.getpixel((0, 0)))
rgb.save(d + '/rgbtrns.png', transparency=rgb.getpixel((3, 3)))
rgb.convert('L').point(lambda v: v * 257, 'I').convert('I;16').save(d + '/gray16.png')
)PY";

struct Variant {
    const char* file;
    int bitsPerPixel; // what the file must hold, so the fixture is what the test means
    bool indexed;     // palette or gray: fits 8 bits without any change of colour
};

// Every variant of the Pillow fixtures, plus 16-bit, 2- and 4-bit gray and interlaced files.
void writeVariants(const TempDir& dir) {
    writeWholeFile(
        dir.file("make.py"),
        std::vector<std::uint8_t>(kPillowFixtures, kPillowFixtures + std::strlen(kPillowFixtures)));
    make("/usr/bin/python3 " + q(dir.file("make.py")) + " " + q(dir.path().string()));
    const std::string src = dir.file("rgba8.png");
    make("convert " + q(src) + " -depth 16 PNG64:" + q(dir.file("rgba16.png")));
    make("convert " + q(dir.file("rgb8.png")) + " -depth 16 PNG48:" + q(dir.file("rgb16.png")));
    make("convert " + q(dir.file("graya8.png")) +
         " -depth 16 -define png:bit-depth=16 -define png:color-type=4 " +
         q(dir.file("graya16.png")));
    // netpbm writes gray PNGs at the depth of the PGM's maximum value.
    make("convert " + q(dir.file("gray8.png")) + " -depth 2 pgm:- | pnmtopng > " +
         q(dir.file("gray2.png")));
    make("convert " + q(dir.file("gray8.png")) + " -depth 4 pgm:- | pnmtopng > " +
         q(dir.file("gray4.png")));
    make("convert " + q(src) + " -interlace PNG PNG32:" + q(dir.file("rgba8i.png")));
    make("convert " + q(dir.file("pal4.png")) + " -interlace PNG PNG8:" + q(dir.file("pal8i.png")));
    make("convert " + q(dir.file("gray1.png")) + " -interlace PNG " + q(dir.file("gray1i.png")));
}

const Variant kVariants[] = {
    {"gray1.png", 1, true},    {"gray2.png", 2, true},    {"gray4.png", 4, true},
    {"gray8.png", 8, true},    {"gray16.png", 16, true},  {"pal1.png", 1, true},
    {"pal2.png", 2, true},     {"pal4.png", 4, true},     {"pal8.png", 8, true},
    {"paltrns.png", 4, true},  {"graytrns.png", 8, true}, {"graya8.png", 16, true},
    {"graya16.png", 32, true}, {"rgb8.png", 24, false},   {"rgbtrns.png", 24, false},
    {"rgb16.png", 48, false},  {"rgba8.png", 32, false},  {"rgba16.png", 64, false},
    {"rgba8i.png", 32, false}, {"pal8i.png", 8, true},    {"gray1i.png", 1, true},
};

TEST(PngRead, EveryColourTypeAndDepthMatchesImageMagick) {
    TempDir dir;
    writeVariants(dir);
    const auto& variants = kVariants;
    for (const Variant& v : variants) {
        SCOPED_TRACE(v.file);
        const std::string file = dir.file(v.file);
        ImageInfo info;
        ASSERT_EQ(detail::infoPng(file, info), Ok);
        EXPECT_EQ(info.bitsPerPixel, v.bitsPerPixel);
        EXPECT_EQ(info.width, 37);
        EXPECT_EQ(info.height, 23);

        Raster ours;
        ASSERT_EQ(readPng(file, 24, 0, ours), Ok);
        const Raster peer = peerDecode("magick", file, dir.file("peer.ppm"));
        // 16-bit samples: we keep the high byte, ImageMagick rounds; alpha blends round alike.
        EXPECT_LE(maxDifference(ours, peer), 1);
        if (v.indexed) {
            // Palette and gray files fit 8 bits as they are: no colour may change.
            Raster native;
            ASSERT_EQ(readPng(file, 8, 0, native), Ok);
            EXPECT_TRUE(native.indexed());
            EXPECT_EQ(differingPixels(expanded(native), ours), 0);
        }
    }
}

// A PNG of the given header fields and one tiny image data chunk, with correct CRCs.
std::vector<std::uint8_t> handMadePng(std::uint32_t width, std::uint32_t height) {
    std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto chunk = [&](const char* type, const std::vector<std::uint8_t>& data) {
        const auto n = std::uint32_t(data.size());
        for (int s = 24; s >= 0; s -= 8) out.push_back(std::uint8_t(n >> s));
        std::vector<std::uint8_t> body(type, type + 4);
        body.insert(body.end(), data.begin(), data.end());
        out.insert(out.end(), body.begin(), body.end());
        const std::uint32_t crc = std::uint32_t(crc32(0, body.data(), uInt(body.size())));
        for (int s = 24; s >= 0; s -= 8) out.push_back(std::uint8_t(crc >> s));
    };
    std::vector<std::uint8_t> ihdr;
    for (int s = 24; s >= 0; s -= 8) ihdr.push_back(std::uint8_t(width >> s));
    for (int s = 24; s >= 0; s -= 8) ihdr.push_back(std::uint8_t(height >> s));
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
    chunk("IHDR", ihdr);
    chunk("IDAT", {0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01});
    chunk("IEND", {});
    return out;
}

// Any decoded rows as R, G, B, A bytes (opaque unless the rows carry alpha).
struct RgbaRows final : RowSink {
    int width = 0, height = 0, bits = 0, rows = 0;
    std::vector<Rgb> palette;
    std::vector<std::uint8_t> rgba;
    bool begin(const RowLayout& layout) override {
        width = layout.width;
        height = layout.height;
        bits = layout.bits;
        if (layout.palette) palette.assign(layout.palette, layout.palette + layout.paletteSize);
        return true;
    }
    bool row(const std::uint8_t* p) override {
        for (int x = 0; x < width; ++x) {
            if (bits == 32) {
                rgba.insert(rgba.end(), p + 4 * x, p + 4 * x + 4);
                continue;
            }
            const Rgb c = !palette.empty() ? (p[x] < palette.size() ? palette[p[x]] : Rgb{})
                                           : Rgb{p[3 * x], p[3 * x + 1], p[3 * x + 2]};
            rgba.insert(rgba.end(), {c.r, c.g, c.b, 255});
        }
        ++rows;
        return true;
    }
};

int maxByteDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return 256;
    int worst = 0;
    for (std::size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
    return worst;
}

TEST(PngRead, FromMemoryAsFromTheFileAndWithItsAlphaWhenAsked) {
    TempDir dir;
    writeVariants(dir);
    for (const Variant& v : kVariants) {
        SCOPED_TRACE(v.file);
        const std::string file = dir.file(v.file);
        const std::vector<std::uint8_t> bytes = readWholeFile(file);
        Raster fromFile;
        ASSERT_EQ(readPng(file, 24, 0, fromFile), Ok);
        RgbaRows expected;
        expected.begin({fromFile.width, fromFile.height, nullptr, 0, 24});
        for (int y = 0; y < fromFile.height; ++y) expected.row(fromFile.row(y));
        // The memory road gives the file road's picture, on either strategy.
        for (bool fastPaths : {false, true}) {
            DecodeOptions options;
            options.fastPaths = fastPaths;
            RgbaRows rows;
            ASSERT_EQ(decodePngData(bytes.data(), bytes.size(), options, rows), Ok);
            EXPECT_EQ(rows.rows, fromFile.height);
            EXPECT_EQ(rows.rgba, expected.rgba) << fastPaths;
        }
        // Alpha kept: the samples ImageMagick reads, 16 bits rounded to 8 as it rounds them.
        DecodeOptions keep;
        keep.keepAlpha = true;
        keep.fastPaths = true;
        RgbaRows rows;
        ASSERT_EQ(decodePngData(bytes.data(), bytes.size(), keep, rows), Ok);
        EXPECT_EQ(rows.bits, 32);
        make("convert " + q(file) + " -depth 8 rgba:" + q(dir.file("peer.rgba")));
        EXPECT_LE(maxByteDifference(rows.rgba, readWholeFile(dir.file("peer.rgba"))), 1);
    }
    // Damaged data fails as the file road fails.
    const std::vector<std::uint8_t> good = readWholeFile(dir.file("rgb8.png"));
    RgbaRows rows;
    for (bool keepAlpha : {false, true}) {
        DecodeOptions options;
        options.keepAlpha = keepAlpha;
        EXPECT_EQ(decodePngData(good.data(), 0, options, rows), NotThisFormat);
        EXPECT_EQ(decodePngData(good.data(), 5, options, rows), Truncated);
        EXPECT_EQ(decodePngData(good.data(), good.size() - 20, options, rows), Truncated);
        const std::vector<std::uint8_t> huge = handMadePng(60000, 60000);
        EXPECT_EQ(decodePngData(huge.data(), huge.size(), options, rows), TooLarge);
        const std::vector<std::uint8_t> bomb = handMadePng(15000, 15000);
        EXPECT_EQ(decodePngData(bomb.data(), bomb.size(), options, rows), Truncated);
    }
}

// PNGs written with a chosen row filter (0 to 4, or 5: the filter changing from row to row), at
// one to four bytes a pixel: gray, gray-alpha, RGB and RGBA. Other writers pick filters by their
// own rules, so these are filtered here, by the standard's definitions.
const char* kFilteredFixtures = R"PY(
import random, struct, sys, zlib
d = sys.argv[1]
random.seed(5)
w, h = 41, 19
def chunk(kind, body):
    return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))
def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else (b if pb <= pc else c)
for colour, bpp in ((0, 1), (4, 2), (2, 3), (6, 4)):
    # Smooth areas with noise and hard edges, so every predictor meets every case.
    rows = [bytes(min(255, max(0, (x * 5 + y * 9 + 60 * (((x // 7) + (y // 5)) % 2) + c * 40
                                   + random.randint(-12, 12)) % 256))
                  for x in range(w) for c in range(bpp)) for y in range(h)]
    for f in range(6):
        out, prev = b'', bytes(w * bpp)
        for y, row in enumerate(rows):
            kind = f if f < 5 else y % 5
            line = bytearray()
            for i, v in enumerate(row):
                a = row[i - bpp] if i >= bpp else 0
                b, c = prev[i], (prev[i - bpp] if i >= bpp else 0)
                pred = (0, a, b, (a + b) // 2, paeth(a, b, c))[kind]
                line.append((v - pred) % 256)
            out += bytes([kind]) + bytes(line)
            prev = row
        png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, colour, 0, 0, 0))
        png += chunk(b'IDAT', zlib.compress(out)) + chunk(b'IEND', b'')
        open('%s/c%d-f%d.png' % (d, colour, f), 'wb').write(png)
)PY";

TEST(PngRead, EveryRowFilterAtEveryPixelSizeIsUndoneAsLibpngUndoesIt) {
    TempDir dir;
    writeWholeFile(dir.file("make.py"),
                   std::vector<std::uint8_t>(kFilteredFixtures,
                                             kFilteredFixtures + std::strlen(kFilteredFixtures)));
    make("/usr/bin/python3 " + q(dir.file("make.py")) + " " + q(dir.path().string()));
    for (int colour : {0, 4, 2, 6}) {
        for (int filter = 0; filter <= 5; ++filter) {
            const std::vector<std::uint8_t> bytes = readWholeFile(
                dir.file("c" + std::to_string(colour) + "-f" + std::to_string(filter) + ".png"));
            RgbaRows libpng, ours;
            DecodeOptions fast;
            fast.fastPaths = true;
            ASSERT_EQ(decodePngData(bytes.data(), bytes.size(), DecodeOptions{}, libpng), Ok);
            ASSERT_EQ(decodePngData(bytes.data(), bytes.size(), fast, ours), Ok);
            EXPECT_EQ(ours.rgba, libpng.rgba) << "colour type " << colour << " filter " << filter;
        }
    }
}

TEST(PngWrite, QuickEncodingRoundTripsPixelsAndTextAndRefusesBadArguments) {
    // A photo-like picture with alpha, and the same without.
    const Raster photo = makePhotoLike(61, 37);
    std::vector<std::uint8_t> rgba;
    for (int y = 0; y < photo.height; ++y)
        for (int x = 0; x < photo.width; ++x) {
            const std::uint8_t* p = photo.row(y) + 3 * x;
            rgba.insert(rgba.end(), {p[0], p[1], p[2], std::uint8_t(x * 4)});
        }
    const std::vector<PngText> texts = {{"Thumb::URI", "file:///tmp/a%20b.png"}, {"Software", ""}};
    for (const int channels : {3, 4}) {
        const std::vector<std::uint8_t> png =
            channels == 3
                ? encodePngQuick(photo.row(0), photo.width, photo.height, photo.stride, 3, texts)
                : encodePngQuick(rgba.data(), photo.width, photo.height,
                                 std::size_t(photo.width) * 4, 4, texts);
        ASSERT_FALSE(png.empty()) << channels;
        DecodeOptions keep;
        keep.keepAlpha = channels == 4;
        RgbaRows rows;
        ASSERT_EQ(decodePngData(png.data(), png.size(), keep, rows), Ok) << channels;
        std::vector<std::uint8_t> expected;
        if (channels == 4) {
            expected = rgba;
        } else {
            for (int y = 0; y < photo.height; ++y)
                for (int x = 0; x < photo.width; ++x) {
                    const std::uint8_t* p = photo.row(y) + 3 * x;
                    expected.insert(expected.end(), {p[0], p[1], p[2], 255});
                }
        }
        EXPECT_EQ(rows.rgba, expected) << channels;
        const std::string_view keys[] = {"Thumb::URI", "Software"};
        std::vector<std::optional<std::string>> values;
        ASSERT_EQ(readPngText(png.data(), png.size(), keys, values), Ok);
        EXPECT_EQ(values[0], texts[0].second);
        EXPECT_EQ(values[1], std::string());
    }
    const std::uint8_t pixel[4] = {};
    EXPECT_TRUE(encodePngQuick(nullptr, 1, 1, 3, 3, {}).empty());
    EXPECT_TRUE(encodePngQuick(pixel, 0, 1, 3, 3, {}).empty());
    EXPECT_TRUE(encodePngQuick(pixel, 1, 1, 2, 3, {}).empty()); // stride shorter than a row
    EXPECT_TRUE(encodePngQuick(pixel, 1, 1, 4, 2, {}).empty()); // two channels
    EXPECT_TRUE(encodePngQuick(pixel, 1, 1, 3, 3, {{"", "x"}}).empty());
    EXPECT_TRUE(encodePngQuick(pixel, 1, 1, 3, 3, {{std::string(80, 'k'), "x"}}).empty());
}

TEST(PngRead, PaletteIsKeptExactlyAndTransparencyTurnsWhite) {
    TempDir dir;
    // Five colours, the second fully transparent.
    make("/usr/bin/python3 -c \"from PIL import Image; im = Image.new('P', (10, 4)); "
         "im.putpalette([10,20,30, 200,0,0, 0,200,0, 0,0,200, 90,90,90]); "
         "im.putdata([x % 5 for x in range(40)]); "
         "im.save('" +
         dir.file("five.png") + "', transparency=bytes([255, 0, 255, 255, 255]))\"");
    Raster r;
    ASSERT_EQ(readPng(dir.file("five.png"), 8, 1, r), Ok);
    ASSERT_TRUE(r.indexed());
    ASSERT_GE(r.palette.size(), 5u);
    EXPECT_EQ(r.palette[0], (Rgb{10, 20, 30}));
    EXPECT_EQ(r.palette[1], (Rgb{255, 255, 255}));
    EXPECT_EQ(r.palette[4], (Rgb{90, 90, 90}));
    EXPECT_EQ(r.at(6, 2), (Rgb{255, 255, 255}));
    EXPECT_EQ(r.at(7, 0), (Rgb{0, 200, 0}));
}

TEST(PngWrite, EveryDepthRoundTripsAndOpensInOtherTools) {
    TempDir dir;
    const Raster photo = makePhotoLike(61, 29);
    for (const int bits : {0, 1, 4, 8, 24}) {
        for (const int interlace : {0, 1}) {
            SCOPED_TRACE("bits " + std::to_string(bits) + " interlace " +
                         std::to_string(interlace));
            const std::string file =
                dir.file("out" + std::to_string(bits) + "_" + std::to_string(interlace) + ".png");
            ASSERT_EQ(writePng(file, bits, interlace, photo), Ok);
            Raster expected = photo;
            ASSERT_EQ(convertDepth(expected, bits, 1), Ok);

            Raster back;
            ASSERT_EQ(readPng(file, 24, 0, back), Ok);
            EXPECT_EQ(differingPixels(back, expected), 0);
            ImageInfo info;
            ASSERT_EQ(detail::infoPng(file, info), Ok);
            EXPECT_EQ(info.bitsPerPixel, bits == 0 ? 4 : bits);
            EXPECT_EQ(info.detail, interlace ? "Interlaced" : "Non-interlaced");
            EXPECT_EQ(differingPixels(peerDecode("magick", file, dir.file("m.ppm")), expected), 0);
            EXPECT_EQ(differingPixels(peerDecode("pillow", file, dir.file("p.ppm")), expected), 0);
        }
    }
}

TEST(PngWrite, RefusesBadArgumentsAndUnwritableTargets) {
    TempDir dir;
    const Raster photo = makePhotoLike(8, 8);
    EXPECT_EQ(writePng(dir.file("a.png"), 2, 0, photo), BadDepth);
    EXPECT_EQ(writePng(dir.file("a.png"), 24, 2, photo), BadParameter);
    EXPECT_EQ(writePng(dir.file("a.png"), 24, 0, Raster{}), EmptyImage);
    EXPECT_EQ(writePng("", 24, 0, photo), EmptyFileName);
    EXPECT_EQ(writePng(dir.file("no/such/dir/a.png"), 24, 0, photo), CreateFailed);
    EXPECT_FALSE(std::filesystem::exists(dir.file("a.png")));
    // Odd characters in the name are just characters.
    EXPECT_EQ(writePng(dir.file("été 'x' $HOME.png"), 8, 0, photo), Ok);
    Raster back;
    EXPECT_EQ(readPng(dir.file("été 'x' $HOME.png"), 24, 0, back), Ok);
}

TEST(PngRead, DamagedFilesFailCleanly) {
    TempDir dir;
    const std::string good = dir.file("good.png");
    ASSERT_EQ(writePng(good, 24, 0, makePhotoLike(200, 150)), Ok);
    const auto bytes = readWholeFile(good);
    Raster r;

    EXPECT_EQ(readPng(dir.file("missing.png"), 24, 0, r), FileNotFound);
    EXPECT_EQ(readPng(dir.path().string(), 24, 0, r), FileNotFound);
    writeWholeFile(dir.file("empty.png"), {});
    EXPECT_EQ(readPng(dir.file("empty.png"), 24, 0, r), NotThisFormat);
    writeWholeFile(dir.file("text.png"), {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'});
    EXPECT_EQ(readPng(dir.file("text.png"), 24, 0, r), NotThisFormat);

    for (const std::size_t keep :
         {std::size_t(5), std::size_t(20), std::size_t(60), bytes.size() / 2, bytes.size() - 20}) {
        SCOPED_TRACE(keep);
        auto cut = bytes;
        cut.resize(keep);
        writeWholeFile(dir.file("cut.png"), cut);
        EXPECT_EQ(readPng(dir.file("cut.png"), 24, 0, r), Truncated);
        EXPECT_TRUE(r.empty());
    }

    auto badCrc = bytes;
    badCrc[20] ^= 0x40; // inside IHDR: the header's CRC no longer matches
    writeWholeFile(dir.file("crc.png"), badCrc);
    EXPECT_EQ(readPng(dir.file("crc.png"), 24, 0, r), Corrupt);

    auto badData = bytes;
    for (std::size_t i = 60; i < 90; ++i) badData[i] = 0xFF; // deflate data destroyed
    writeWholeFile(dir.file("data.png"), badData);
    EXPECT_EQ(readPng(dir.file("data.png"), 24, 0, r), Corrupt);

    // Claims 60000 x 60000: refused before anything is allocated; the information call still
    // reports what the header says.
    writeWholeFile(dir.file("huge.png"), handMadePng(60000, 60000));
    EXPECT_EQ(readPng(dir.file("huge.png"), 24, 0, r), TooLarge);
    ImageInfo info;
    ASSERT_EQ(detail::infoPng(dir.file("huge.png"), info), Ok);
    EXPECT_EQ(info.width, 60000);
    // Within the limits, but far more pixels than the file's bytes could inflate to: refused as
    // truncated before the 675 MB raster is allocated.
    writeWholeFile(dir.file("bomb.png"), handMadePng(15000, 15000));
    EXPECT_EQ(readPng(dir.file("bomb.png"), 24, 0, r), Truncated);
    // A zero width is invalid.
    writeWholeFile(dir.file("zero.png"), handMadePng(0, 10));
    EXPECT_EQ(readPng(dir.file("zero.png"), 24, 0, r), Corrupt);
    EXPECT_EQ(detail::infoPng(dir.file("zero.png"), info), Corrupt);
    // Image data shorter than the header promises.
    writeWholeFile(dir.file("short.png"), handMadePng(40, 40));
    EXPECT_NE(readPng(dir.file("short.png"), 24, 0, r), Ok);
    EXPECT_TRUE(r.empty());
}

TEST(PngInfo, ReportsPaletteSizeAndAnimationFrames) {
    TempDir dir;
    make("/usr/bin/python3 -c \"from PIL import Image; "
         "f = [Image.new('RGB', (12, 9), c) for c in ('red', 'green', 'blue')]; "
         "f[0].save('" +
         dir.file("anim.png") +
         "', save_all=True, append_images=f[1:]); "
         "f[0].quantize(3).save('" +
         dir.file("pal.png") + "')\"");
    ImageInfo info;
    ASSERT_EQ(detail::infoPng(dir.file("anim.png"), info), Ok);
    EXPECT_EQ(info.format, "PNG");
    EXPECT_EQ(info.pages, 3);
    EXPECT_EQ(info.colours, 0);
    ASSERT_EQ(detail::infoPng(dir.file("pal.png"), info), Ok);
    EXPECT_EQ(info.colours, 3);
    EXPECT_EQ(info.pages, 1);
    Raster first;
    ASSERT_EQ(readPng(dir.file("anim.png"), 24, 0, first), Ok);
    EXPECT_EQ(first.at(5, 5), (Rgb{255, 0, 0}));
}

// Text chunks as Pillow writes them: plain (tEXt), compressed (zTXt), international (iTXt, plain
// and compressed), and entries padded with large compressed values.
const char* kPillowText = R"PY(
import sys
from PIL import Image, PngImagePlugin
d = sys.argv[1]
def save(name, chunks):
    info = PngImagePlugin.PngInfo()
    for kind, key, value in chunks:
        if kind in 'tz': info.add_text(key, value, zip=kind == 'z')
        else: info.add_itxt(key, value, 'en', 'x', zip=kind == 'I')
    Image.new('RGB', (3, 2), 'red').save(d + '/' + name, pnginfo=info)
long = 'file:///' + 'd/' * 60 + 'photo.jpg'
save('kinds.png', [('t', 'A', 'alpha'), ('z', 'B', long), ('i', 'C', '\u00e9t\u00e9'),
                   ('I', 'D', long)])
save('padded.png', [('z', 'Pad%d' % i, 'x' * 1000000) for i in range(8)] + [('t', 'A', 'alpha')])
save('long.png', [('z', 'A', 'x' * 1000000)])
save('many.png', [('t', 'Pad%d' % i, 'x') for i in range(65)] + [('t', 'A', 'alpha')])
save('twice.png', [('t', 'A', 'alpha'), ('z', 'A', 'beta')])
)PY";

TEST(PngText, KeysAskedForAreReadFromEveryTextChunkWithBoundedWork) {
    TempDir dir;
    writeWholeFile(dir.file("make.py"),
                   std::vector<std::uint8_t>(kPillowText, kPillowText + std::strlen(kPillowText)));
    make("/usr/bin/python3 " + q(dir.file("make.py")) + " " + q(dir.path().string()));
    std::string longValue = "file:///";
    for (int i = 0; i < 60; ++i) longValue += "d/";
    longValue += "photo.jpg";
    const std::vector<std::uint8_t> kinds = readWholeFile(dir.file("kinds.png"));
    // kinds.png with the CRC of the chunk holding A spoilt.
    std::vector<std::uint8_t> badCrc = kinds;
    const std::string marker = "tEXtA";
    const auto at = std::search(badCrc.begin(), badCrc.end(), marker.begin(), marker.end());
    ASSERT_NE(at, badCrc.end());
    at[7] ^= 1; // a byte of "alpha"
    std::vector<std::uint8_t> badHeader = kinds;
    badHeader[20] ^= 1;

    using Values = std::vector<std::optional<std::string>>;
    const std::optional<std::string> none;
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        std::vector<std::string_view> keys;
        int result;
        Values values;
    };
    const Case cases[] = {
        {"every kind of chunk",
         kinds,
         {"A", "B", "C", "D", "E"},
         Ok,
         {"alpha", longValue, "\xc3\xa9t\xc3\xa9", longValue, none}},
        {"large values of other keys are not read",
         readWholeFile(dir.file("padded.png")),
         {"A"},
         Ok,
         {"alpha"}},
        {"a value too long", readWholeFile(dir.file("long.png")), {"A"}, TooLarge, {none}},
        {"a long value not asked for", readWholeFile(dir.file("long.png")), {"B"}, Ok, {none}},
        {"too many text chunks", readWholeFile(dir.file("many.png")), {"A"}, TooLarge, {none}},
        {"a key given twice", readWholeFile(dir.file("twice.png")), {"A"}, Corrupt, {none}},
        {"a chunk with a bad CRC is ignored", badCrc, {"A", "B"}, Ok, {none, longValue}},
        {"a damaged header", badHeader, {"A"}, Corrupt, {none}},
        {"cut before the image data",
         std::vector<std::uint8_t>(kinds.begin(), kinds.begin() + 60),
         {"A"},
         Truncated,
         {none}},
        {"not a PNG", {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0}, {"A"}, NotThisFormat, {none}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Values values;
        EXPECT_EQ(readPngText(c.bytes.data(), c.bytes.size(), c.keys, values), c.result);
        if (c.result == Ok) {
            EXPECT_EQ(values, c.values);
        }
    }
}

} // namespace
} // namespace pixmoor::codec::test
