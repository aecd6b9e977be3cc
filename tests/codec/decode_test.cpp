// Row-by-row decoding through the format table: each format's one reader gives the same rows on
// its faster roads as on its general one, accepts and refuses the same files, reduces JPEGs by
// the minimum size, stops when its sink says so, and decodes in place into a raster.
#include "core_test_util.h"
#include "imaging/codec/codec.h"
#include "imaging/codec/decode.h"
#include "imaging/codec/errors.h"
#include "imaging/codec/format_table.h"
#include "tests/support/test_dirs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace pixmoor::codec {
namespace {

using pixmoor::test::run;
using pixmoor::test::TempDir;
using test::CollectingSink;
using test::q;

int decodeAs(ImageFormat format, const std::string& file, const DecodeOptions& options,
             RowSink& sink) {
    return formatEntry(format).decode(file, options, sink);
}

DecodeOptions fast() {
    DecodeOptions o;
    o.fastPaths = true;
    return o;
}

TEST(Decode, PngWholeBufferRoadGivesExactlyTheRowsOfLibpng) {
    TempDir d;
    // Every colour type and depth the whole-buffer road takes, with transparency, made by
    // Pillow; and a few it leaves to libpng (16 bits, interlaced, an RGB colour key).
    const std::string script = R"(
import sys
from PIL import Image, ImageDraw
d = sys.argv[1]
base = Image.radial_gradient('L').resize((301, 203))
rgb = Image.merge('RGB', (base, base.rotate(90), Image.linear_gradient('L').resize((301, 203))))
ImageDraw.Draw(rgb).rectangle((20, 20, 120, 90), fill=(255, 255, 255))
rgb.save(d + '/rgb.png')
rgba = rgb.copy(); rgba.putalpha(base); rgba.save(d + '/rgba.png')
la = base.copy().convert('LA'); la.putalpha(base.rotate(45)); la.save(d + '/la.png')
base.save(d + '/gray8.png')
base.convert('1').save(d + '/gray1.png')
for bits in (2, 4):
    base.quantize(1 << bits).convert('L').save(d + '/gray%d.png' % bits, bits=bits)
pal = rgb.quantize(200); pal.save(d + '/pal8.png', transparency=bytes(range(0, 250, 5)))
rgb.quantize(16).save(d + '/pal4.png', bits=4, transparency=3)
base.convert('L').save(d + '/gray8-key.png', transparency=128)
base.convert('I').save(d + '/gray16.png')
rgb.save(d + '/rgb-key.png', transparency=(255, 255, 255))
# Every row with the next of the five filters, at one to four bytes a pixel, written by hand.
import struct, zlib
def chunk(kind, body):
    return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))
def paeth(a, b, c):
    p = a + b - c; pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else (b if pb <= pc else c)
for mode, colour_type, bpp in (('L', 0, 1), ('LA', 4, 2), ('RGB', 2, 3), ('RGBA', 6, 4)):
    # Half smooth, half noise: the predictors' ties and all their branches are met.
    import random; random.seed(colour_type); w, h = 97, 61
    data = bytes((x * 3 + y) & 255 if y < h // 2 else random.randrange(256) for y in range(h) for x in range(w * bpp))
    raw = bytearray(); prev = bytes(w * bpp)
    for y in range(h):
        row = data[y * w * bpp:(y + 1) * w * bpp]; f = y % 5; out = bytearray([f])
        for i, x in enumerate(row):
            a = row[i - bpp] if i >= bpp else 0; b = prev[i]; c = prev[i - bpp] if i >= bpp else 0
            pred = (0, a, b, (a + b) // 2, paeth(a, b, c))[f]
            out.append((x - pred) & 255)
        raw += out; prev = row
    png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, colour_type, 0, 0, 0))
    png += chunk(b'IDAT', zlib.compress(bytes(raw))) + chunk(b'IEND', b'')
    open(d + '/filters-%s.png' % mode, 'wb').write(png)
)";
    test::writeWholeFile(d.file("make.py"),
                         std::vector<std::uint8_t>(script.begin(), script.end()));
    ASSERT_EQ(run("/usr/bin/python3 " + q(d.file("make.py")) + " " + q(d.path().string())), 0);
    ASSERT_EQ(
        run("convert " + q(d.file("rgb.png")) + " -interlace PNG " + q(d.file("interlaced.png"))),
        0);
    std::vector<std::string> names = {"rgb.png",    "rgba.png",      "la.png",     "gray8.png",
                                      "gray1.png",  "gray2.png",     "gray4.png",  "pal8.png",
                                      "pal4.png",   "gray8-key.png", "gray16.png", "interlaced.png",
                                      "rgb-key.png"};
    for (const char* mode : {"L", "LA", "RGB", "RGBA"})
        names.push_back(std::string("filters-") + mode + ".png");
    for (const std::string& name : names) {
        CollectingSink whole, libpng;
        ASSERT_EQ(decodeAs(ImageFormat::Png, d.file(name), fast(), whole), Ok) << name;
        ASSERT_EQ(decodeAs(ImageFormat::Png, d.file(name), DecodeOptions{}, libpng), Ok) << name;
        EXPECT_EQ(whole.layout.width, libpng.layout.width) << name;
        EXPECT_EQ(whole.layout.height, libpng.layout.height) << name;
        EXPECT_EQ(whole.palette, libpng.palette) << name;
        EXPECT_TRUE(whole.pixels == libpng.pixels) << name;
        // The plain files really took the whole-buffer road; the others were handed over.
        const bool plain =
            name != "gray16.png" && name != "interlaced.png" && name != "rgb-key.png";
        EXPECT_EQ(whole.askedForBuffers, !plain) << name;
        EXPECT_TRUE(libpng.askedForBuffers) << name;
    }
    // A damaged CRC or cut data: both roads refuse alike.
    auto bytes = test::readWholeFile(d.file("rgb.png"));
    bytes.resize(bytes.size() - 30);
    test::writeWholeFile(d.file("cut.png"), bytes);
    CollectingSink a, b;
    const int viaWhole = decodeAs(ImageFormat::Png, d.file("cut.png"), fast(), a);
    EXPECT_EQ(viaWhole, decodeAs(ImageFormat::Png, d.file("cut.png"), DecodeOptions{}, b));
    EXPECT_FALSE(succeeded(viaWhole));
}

TEST(Decode, BmpRowsStreamedFromTheFileAreTheReadersRowsForEveryKind) {
    TempDir d;
    const std::string card = "-size 301x203 plasma:red-green -attenuate 0.5 +noise Gaussian";
    const auto make = [&](const std::string& args, const std::string& format, const char* name) {
        ASSERT_EQ(run("convert " + args + " " + q(format + ":" + d.file(name)) + " 2>/dev/null"), 0)
            << name;
    };
    make(card + " -type TrueColor", "BMP3", "v3.bmp"); // Windows 3 header, bottom-up
    make(card + " -type TrueColor", "BMP", "v5.bmp");  // version 5 header
    make(card + " -colors 64 -type Palette", "BMP3", "palette.bmp");
    make(card + " -colors 64 -type Palette -compress RLE", "BMP3", "rle.bmp");
    // Top-down: the same file with a negative height and its rows in the other order.
    {
        const auto bytes = test::readWholeFile(d.file("v3.bmp"));
        const std::size_t offset = bytes[10] | std::size_t(bytes[11]) << 8;
        const std::size_t rowBytes = (301 * 3 + 3) / 4 * 4;
        std::vector<std::uint8_t> flipped(bytes.begin(), bytes.begin() + long(offset));
        for (int y = 202; y >= 0; --y) {
            const auto from = bytes.begin() + long(offset + std::size_t(y) * rowBytes);
            flipped.insert(flipped.end(), from, from + long(rowBytes));
        }
        const std::int32_t negative = -203;
        std::memcpy(flipped.data() + 22, &negative, 4);
        test::writeWholeFile(d.file("top.bmp"), flipped);
    }
    for (const char* name : {"v3.bmp", "v5.bmp", "top.bmp", "palette.bmp", "rle.bmp"}) {
        CollectingSink rows;
        ASSERT_EQ(decodeAs(ImageFormat::Bmp, d.file(name), fast(), rows), Ok) << name;
        Raster raster;
        ASSERT_EQ(readBmp(d.file(name), 24, 1, raster), Ok) << name;
        ASSERT_EQ(rows.layout.width, raster.width);
        ASSERT_EQ(rows.layout.height, raster.height);
        const std::size_t w = std::size_t(raster.width);
        for (int y = 0; y < raster.height; ++y)
            for (std::size_t x = 0; x < w; ++x) {
                Rgb got;
                if (rows.layout.palette) {
                    const std::uint8_t i = rows.pixels[std::size_t(y) * w + x];
                    got = i < rows.palette.size() ? rows.palette[i] : Rgb{};
                } else {
                    const std::uint8_t* p = &rows.pixels[(std::size_t(y) * w + x) * 3];
                    got = {p[0], p[1], p[2]};
                }
                ASSERT_EQ(got, raster.at(int(x), y)) << name << " at " << x << ", " << y;
            }
    }
    // A cut file is refused before any row goes out.
    auto bytes = test::readWholeFile(d.file("v3.bmp"));
    bytes.resize(bytes.size() - 500);
    test::writeWholeFile(d.file("cut.bmp"), bytes);
    CollectingSink none;
    EXPECT_EQ(decodeAs(ImageFormat::Bmp, d.file("cut.bmp"), fast(), none), Truncated);
    EXPECT_EQ(none.rows, 0);
}

TEST(Decode, JpegIsReducedByTheMinimumSizeAndItsDcRoadMatchesLibjpeg) {
    TempDir d;
    const std::string card = "-size 1600x1200 plasma:red-blue -blur 0x2";
    ASSERT_EQ(run("convert " + card + " -quality 90 " + q(d.file("base.jpg"))), 0);
    ASSERT_EQ(run("convert " + card + " -quality 90 -interlace JPEG " + q(d.file("prog.jpg"))), 0);
    for (const char* name : {"base.jpg", "prog.jpg"}) {
        for (const auto& [side, width] : std::vector<std::pair<int, int>>{
                 {0, 1600}, {150, 200}, {300, 400}, {550, 800}, {1000, 1600}}) {
            DecodeOptions o = fast();
            o.minWidth = o.minHeight = side;
            CollectingSink rows;
            ASSERT_EQ(decodeAs(ImageFormat::Jpeg, d.file(name), o, rows), Ok) << name;
            EXPECT_EQ(rows.layout.width, width) << name << " for " << side;
            EXPECT_EQ(rows.rows, rows.layout.height);
        }
    }
    // At 1/8 the progressive file's DC scans give libjpeg's 1/8 picture (rounding apart).
    DecodeOptions dcRoad = fast();
    dcRoad.minWidth = dcRoad.minHeight = 150;
    DecodeOptions libjpeg;
    libjpeg.jpegScale = 8;
    libjpeg.fastUpsampling = true;
    CollectingSink dc, lib;
    ASSERT_EQ(decodeAs(ImageFormat::Jpeg, d.file("prog.jpg"), dcRoad, dc), Ok);
    ASSERT_EQ(decodeAs(ImageFormat::Jpeg, d.file("prog.jpg"), libjpeg, lib), Ok);
    EXPECT_FALSE(dc.askedForBuffers);
    EXPECT_TRUE(lib.askedForBuffers);
    ASSERT_EQ(dc.pixels.size(), lib.pixels.size());
    int worst = 0;
    for (std::size_t i = 0; i < dc.pixels.size(); ++i)
        worst = std::max(worst, std::abs(int(dc.pixels[i]) - int(lib.pixels[i])));
    EXPECT_LE(worst, 3);
}

TEST(Decode, EveryFormatStopsWhenItsSinkSaysSo) {
    TempDir d;
    const Raster picture = test::makePhotoLike(64, 48);
    ASSERT_TRUE(test::writePpm(d.file("p.ppm"), picture));
    for (const FormatEntry& entry : formatTable()) {
        const std::string file = d.file("p." + std::string(entry.extensions[0]));
        WriteOptions w;
        w.bits = entry.format == ImageFormat::Gif ? 8 : (entry.depthsWritten & kDepth24 ? 24 : 8);
        ASSERT_EQ(entry.write(file, w, picture), Ok) << entry.name;
        for (int stopAfter : {0, 1, 20}) {
            for (bool fastPaths : {false, true}) {
                CollectingSink sink;
                sink.stopAfter = stopAfter;
                DecodeOptions o;
                o.fastPaths = fastPaths;
                EXPECT_EQ(entry.decode(file, o, sink), Stopped) << entry.name << " " << stopAfter;
                EXPECT_EQ(sink.rows, stopAfter) << entry.name;
            }
        }
        // By signature, whatever the name.
        CollectingSink all;
        EXPECT_EQ(decodeImage(file, DecodeOptions{}, all), Ok) << entry.name;
        EXPECT_EQ(all.rows, 48) << entry.name;
    }
}

TEST(Decode, TheFormatTableKnowsEveryExtensionAndSignature) {
    for (const auto& [ext, format] :
         std::vector<std::pair<const char*, ImageFormat>>{{"bmp", ImageFormat::Bmp},
                                                          {".BMP", ImageFormat::Bmp},
                                                          {"jpg", ImageFormat::Jpeg},
                                                          {"JPEG", ImageFormat::Jpeg},
                                                          {".jpe", ImageFormat::Jpeg},
                                                          {"tif", ImageFormat::Tiff},
                                                          {"Tiff", ImageFormat::Tiff},
                                                          {"gif", ImageFormat::Gif},
                                                          {"pcx", ImageFormat::Pcx},
                                                          {"png", ImageFormat::Png}}) {
        const FormatEntry* entry = formatForExtension(ext);
        ASSERT_NE(entry, nullptr) << ext;
        EXPECT_EQ(entry->format, format) << ext;
    }
    for (const char* ext : {"", ".", "ico", "wmf", "jp", "jpegs", "tiffx"})
        EXPECT_EQ(formatForExtension(ext), nullptr) << ext;
    const std::uint8_t gif[] = {'G', 'I', 'F', '8', '9', 'a'};
    const std::uint8_t pcx[] = {0x0A, 5, 1, 8};
    const std::uint8_t notPcx[] = {0x0A, 1, 1, 8};
    EXPECT_EQ(formatForSignature(gif, sizeof gif)->format, ImageFormat::Gif);
    EXPECT_EQ(formatForSignature(pcx, sizeof pcx)->format, ImageFormat::Pcx);
    EXPECT_EQ(formatForSignature(notPcx, sizeof notPcx), nullptr);
    EXPECT_EQ(formatForSignature(gif, 3), nullptr);
}

TEST(Decode, TheFormatTableNamesOnlyDepthsItsWritersStore) {
    for (const FormatEntry& entry : formatTable()) {
        for (int bits : {0, 1, 4, 8, 24, entry.greyDepth})
            EXPECT_NE(entry.depthsWritten & (1u << storedDepth(entry, bits)), 0u) << entry.name;
        EXPECT_EQ(storedDepth(entry, entry.greyDepth), entry.greyDepth) << entry.name;
        if (entry.writerInputDepth != 0) {
            EXPECT_EQ(storedDepth(entry, entry.writerInputDepth), entry.writerInputDepth)
                << entry.name;
        }
    }
}

} // namespace
} // namespace pixmoor::codec
