// Stored orientation (EXIF in JPEG, tag 274 in TIFF): every reader and the thumbnail road give
// the upright picture, as ImageMagick's -auto-orient does, for all eight values.
#include "core_test_util.h"
#include "imaging/codec/codec.h"
#include "imaging/codec/decode.h"
#include "imaging/codec/errors.h"
#include "tests/support/test_dirs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace pixmoor::codec {
namespace {

using pixmoor::test::run;
using pixmoor::test::TempDir;
using test::q;

const char* const kOrientations[] = {"TopLeft", "TopRight", "BottomRight", "BottomLeft",
                                     "LeftTop", "RightTop", "RightBottom", "LeftBottom"};

// Reads a binary PPM as written by ImageMagick.
Raster readPpm(const std::string& path) {
    const auto bytes = test::readWholeFile(path);
    Raster r;
    int w = 0, h = 0, max = 0, used = 0;
    if (std::sscanf(reinterpret_cast<const char*>(bytes.data()), "P6 %d %d %d%n", &w, &h, &max,
                    &used) != 3)
        return r;
    if (allocateRaster(r, w, h, 24) != Ok) return r;
    const std::uint8_t* p = bytes.data() + used + 1;
    for (int y = 0; y < h; ++y)
        std::memcpy(r.row(y), p + std::size_t(y) * w * 3, std::size_t(w) * 3);
    return r;
}

// Largest per-channel difference of two same-sized pictures, or 999 when the sizes differ.
int largestDifference(const Raster& a, const Raster& b) {
    if (a.width != b.width || a.height != b.height) return 999;
    int worst = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
            const Rgb p = a.at(x, y), o = b.at(x, y);
            worst =
                std::max({worst, std::abs(p.r - o.r), std::abs(p.g - o.g), std::abs(p.b - o.b)});
        }
    return worst;
}

struct Orientation : ::testing::Test {
    TempDir dir;
    void SetUp() override {
        // Asymmetric in both directions: a gradient with a green block in one corner.
        ASSERT_EQ(run("convert -size 64x40 gradient:red-blue -fill lime -draw "
                      "'rectangle 0,0 15,9' " +
                      q(dir.file("base.png"))),
                  0);
    }
    // The file with orientation o (1..8), and ImageMagick's upright reading of it. JPEGs get
    // their EXIF block from Pillow (ImageMagick writes none for a picture that had none), TIFFs
    // their tag from ImageMagick.
    std::string make(int o, const std::string& ext, const std::string& options) {
        const std::string file = dir.file("o" + std::to_string(o) + "." + ext);
        if (ext == "jpg") {
            const std::string script =
                "import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1]).convert('RGB')\n"
                "exif = Image.Exif()\nexif[274] = int(sys.argv[3])\n"
                "im.save(sys.argv[2], quality=95, subsampling=0, exif=exif.tobytes()" +
                options + ")\n";
            EXPECT_EQ(run("/usr/bin/python3 -c " + q(script) + " " + q(dir.file("base.png")) + " " +
                          q(file) + " " + std::to_string(o)),
                      0);
        } else {
            EXPECT_EQ(run("convert " + q(dir.file("base.png")) + " " + options + " -orient " +
                          kOrientations[o - 1] + " " + q(file)),
                      0);
        }
        // ImageMagick turns JPEG-compressed TIFFs twice (libtiff's RGBA reading mirrors them
        // already), so the reference comes from an LZW copy of the same pixels and tag.
        std::string reference = file;
        if (options.find("jpeg") != std::string::npos && ext == "tif") {
            reference = dir.file("lzw" + std::to_string(o) + ".tif");
            EXPECT_EQ(run("tiffcp -c lzw " + q(file) + " " + q(reference)), 0);
        }
        EXPECT_EQ(run("convert " + q(reference) + " -auto-orient -depth 8 " +
                      q(dir.file("upright" + std::to_string(o) + ".ppm"))),
                  0);
        return file;
    }
    Raster upright(int o) { return readPpm(dir.file("upright" + std::to_string(o) + ".ppm")); }
};

TEST_F(Orientation, JpegsAreReadUprightForEveryValue) {
    for (int o = 1; o <= 8; ++o) {
        SCOPED_TRACE(o);
        const std::string file = make(o, "jpg", "");
        Raster ours;
        ASSERT_EQ(readJpeg(file, 24, 1, 0, ours), Ok);
        const Raster theirs = upright(o);
        ASSERT_EQ(ours.width, o >= 5 ? 40 : 64);
        EXPECT_LE(largestDifference(ours, theirs), 4);
    }
}

TEST_F(Orientation, TiffsAreReadUprightForEveryValueOnBothRoads) {
    // LZW RGB takes the scanline road, a YCbCr JPEG-compressed file libtiff's RGBA road; a
    // bilevel picture taller and wider than a band of rows the scanline road with one byte a
    // pixel.
    for (const std::string options :
         {"-depth 8 -compress lzw", "-depth 8 -compress jpeg -quality 95",
          "-resize 300x200! -threshold 50% -monochrome -compress Group4"}) {
        for (int o = 1; o <= 8; ++o) {
            SCOPED_TRACE(options + " " + std::to_string(o));
            const std::string file = make(o, "tif", options);
            Raster ours;
            ASSERT_EQ(readTiff(file, 24, 0, ours), Ok);
            EXPECT_LE(largestDifference(ours, upright(o)),
                      options.find("jpeg") == std::string::npos ? 0 : 6);
        }
    }
}

TEST_F(Orientation, ThumbnailsAreUprightAndReducedByTheUprightSize) {
    // 800 x 500, so that 1/8 covers 100 x 62 one way round but not the other.
    ASSERT_EQ(
        run("convert " + q(dir.file("base.png")) + " -resize 800x500! " + q(dir.file("base.png"))),
        0);
    for (const char* interlace : {"none", "jpeg"}) {
        for (int o : {1, 3, 6, 8}) {
            SCOPED_TRACE(std::string(interlace) + " " + std::to_string(o));
            const std::string file = make(
                o, "jpg", std::string(", progressive=") + (interlace[0] == 'j' ? "True" : "False"));
            struct Size : RowSink {
                int width = 0, height = 0, rows = 0;
                bool begin(const RowLayout& l) override {
                    width = l.width, height = l.height;
                    return true;
                }
                bool row(const std::uint8_t*) override { return ++rows > 0; }
            } sink;
            DecodeOptions options;
            options.minWidth = 100;
            options.minHeight = 62;
            options.fastPaths = true;
            ASSERT_EQ(decodeImage(file, options, sink), Ok);
            // Upright 800 x 500 (or 500 x 800): the smallest covering scale of the upright size.
            if (o >= 5) {
                EXPECT_EQ(sink.width, 125); // 500 / 4: 1/8 would give 62 x 100, too narrow
                EXPECT_EQ(sink.height, 200);
            } else {
                EXPECT_EQ(sink.width, 100);
                EXPECT_EQ(sink.height, 63);
            }
            EXPECT_EQ(sink.rows, sink.height);
        }
    }
}

} // namespace
} // namespace pixmoor::codec
