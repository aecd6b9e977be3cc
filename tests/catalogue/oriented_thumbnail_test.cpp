// Thumbnails of pictures stored turned (EXIF and TIFF orientation 1 to 8) through the catalogue's
// thumbnail road: the same pixels as the upright picture's thumbnail, and memory that follows the
// thumbnail, not the picture. Heap use is counted by this binary's own operator new.
#include "catalogue/downscale.h"
#include "catalogue/thumbnail_pipeline.h"
#include "imaging/codec/codec.h"
#include "imaging/codec/decode.h"
#include "imaging/codec/errors.h"
#include "tests/catalogue/catalogue_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>

namespace {

// Live bytes allocated through operator new since counting started, and their peak.
std::atomic<bool> counting{false};
std::atomic<long long> live{0}, peak{0};

// Each block keeps its size in front of it (16 bytes keep the default alignment).
constexpr std::size_t kHeader = 16;

void* allocate(std::size_t size) {
    void* block = std::malloc(size + kHeader);
    if (!block) throw std::bad_alloc();
    *static_cast<std::size_t*>(block) = size;
    if (counting.load(std::memory_order_relaxed)) {
        const long long now =
            live.fetch_add(static_cast<long long>(size)) + static_cast<long long>(size);
        long long top = peak.load();
        while (now > top && !peak.compare_exchange_weak(top, now)) {
        }
    }
    return static_cast<char*>(block) + kHeader;
}

void release(void* p) noexcept {
    if (!p) return;
    void* block = static_cast<char*>(p) - kHeader;
    if (counting.load(std::memory_order_relaxed))
        live.fetch_sub(static_cast<long long>(*static_cast<std::size_t*>(block)));
    std::free(block);
}

} // namespace

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void operator delete(void* p) noexcept {
    release(p);
}
void operator delete[](void* p) noexcept {
    release(p);
}
void operator delete(void* p, std::size_t) noexcept {
    release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    release(p);
}

namespace {

using namespace pixmoor;
using namespace pixmoor::test;

const char* const kOrientations[] = {"TopLeft", "TopRight", "BottomRight", "BottomLeft",
                                     "LeftTop", "RightTop", "RightBottom", "LeftBottom"};

// Largest per-channel difference of two thumbnails, 999 when either is missing or the sizes
// differ.
int largestDifference(const std::optional<QImage>& a, const std::optional<QImage>& b) {
    if (!a || !b || a->size() != b->size()) return 999;
    int worst = 0;
    for (int y = 0; y < a->height(); ++y)
        for (int x = 0; x < a->width(); ++x) {
            const QRgb p = a->pixel(x, y), q = b->pixel(x, y);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q))});
        }
    return worst;
}

std::optional<QImage> thumbnail(const std::string& file, QSize size) {
    return makeThumbnail(qpath(file), ThumbnailRequest{size});
}

// The upright picture's thumbnail as the catalogue makes it from a full decode: the JPEG reader
// at the scale the thumbnail road picks for the upright size, then the area filter.
std::optional<QImage> fromFullDecode(const std::string& file, QSize size) {
    codec::ImageInfo info;
    if (!codec::succeeded(codec::imageInfo(file, info))) return std::nullopt;
    codec::Raster upright;
    if (!codec::succeeded(codec::readJpeg(file, 24, 1, 0, upright))) return std::nullopt;
    const int scale = codec::jpegScaleCovering(upright.width, upright.height, 2 * size.width(),
                                               2 * size.height());
    if (scale > 1 && !codec::succeeded(codec::readJpeg(file, 24, scale, 0, upright)))
        return std::nullopt;
    return scaleToThumbnail(upright, size);
}

struct OrientedThumbnails : ::testing::Test {
    TempDir dir;
    // An asymmetric picture: a gradient with a block in one corner.
    void SetUp() override {
        magick("-size 300x200 gradient:red-blue -fill lime -draw 'rectangle 0,0 59,39'",
               dir.file("base.png"));
    }
    std::string name(const std::string& kind, int o, const std::string& ext) const {
        return dir.file(kind + std::to_string(o) + "." + ext);
    }
};

TEST_F(OrientedThumbnails, MatchTheUprightPicturesThumbnailForEveryValue) {
    const QSize size(70, 50); // not square, so a turn that is missed shows
    struct Case {
        const char* kind;
        const char* magickOptions; // TIFF: ImageMagick writes the picture and the tag
        const char* pillowOptions; // JPEG: Pillow writes the picture and its EXIF block
        int baseWidth, baseHeight;
    };
    const Case cases[] = {
        {"rgb", "-depth 8 -compress lzw", nullptr, 300, 200},
        {"bilevel", "-threshold 50% -monochrome -compress Group4", nullptr, 300, 200},
        // 640 x 480 is read at 1/4 upright and 1/2 turned; 1200 x 900 progressive at 1/8 by its
        // DC scans upright, at 1/4 turned.
        {"baseline", nullptr, "quality=95, subsampling=0", 640, 480},
        {"progressive", nullptr, "quality=95, subsampling=0, progressive=True", 1200, 900},
    };
    for (const Case& c : cases) {
        const std::string base = dir.file(std::string(c.kind) + ".png");
        magick(qpath(dir.file("base.png")).toStdString() + " -resize " +
                   std::to_string(c.baseWidth) + "x" + std::to_string(c.baseHeight) + "!",
               base);
        for (int o = 1; o <= 8; ++o) {
            SCOPED_TRACE(std::string(c.kind) + " orientation " + std::to_string(o));
            std::optional<QImage> reference;
            std::string file;
            if (c.magickOptions) {
                file = name(c.kind, o, "tif");
                magick(shellQuote(base) + " " + c.magickOptions + " -orient " +
                           kOrientations[o - 1],
                       file);
                // ImageMagick's upright copy, losslessly: its thumbnail is the reference.
                const std::string upright = name(c.kind, o, "png");
                magick(shellQuote(file) + " -auto-orient", upright);
                reference = thumbnail(upright, size);
            } else {
                file = name(c.kind, o, "jpg");
                const std::string script = "import sys\nfrom PIL import Image\nim = "
                                           "Image.open(sys.argv[2]).convert('RGB')\n"
                                           "exif = Image.Exif()\nexif[274] = int(sys.argv[3])\n"
                                           "im.save(sys.argv[1], exif=exif.tobytes(), " +
                                           std::string(c.pillowOptions) + ")\n";
                ASSERT_EQ(run("/usr/bin/python3 -c " + shellQuote(script) + " " + shellQuote(file) +
                              " " + shellQuote(base) + " " + std::to_string(o)),
                          0);
                reference = fromFullDecode(file, size);
            }
            const std::optional<QImage> ours = thumbnail(file, size);
            ASSERT_TRUE(ours);
            EXPECT_EQ(ours->size(), size);
            EXPECT_EQ(largestDifference(ours, reference), 0);
        }
    }
}

TEST_F(OrientedThumbnails, HoldTheThumbnailNotThePicture) {
    // A bilevel G4 picture of 4 Mpixels is a few hundred bytes on disk; its thumbnail must not
    // cost even the picture at one bit a pixel, whatever the turn.
    const int side = 2048;
    const long long pictureBits = (static_cast<long long>(side) * side) / 8;
    const std::string base = dir.file("sheet.png");
    magick("-size " + std::to_string(side) + "x" + std::to_string(side) +
               " xc:white -fill black -draw 'rectangle 100,100 900,1500' -draw 'circle "
               "1400,1400 1400,1900'",
           base);
    const std::string stored = dir.file("sheet.tif");
    magick(shellQuote(base) + " -monochrome -compress Group4", stored);
    for (int o = 1; o <= 8; ++o) {
        SCOPED_TRACE(o);
        const std::string file = name("sheet", o, "tif");
        ASSERT_EQ(run("cp " + shellQuote(stored) + " " + shellQuote(file) + " && tiffset -s 274 " +
                      std::to_string(o) + " " + shellQuote(file)),
                  0);
        live = 0;
        peak = 0;
        counting = true;
        const std::optional<QImage> out = thumbnail(file, QSize(70, 70));
        counting = false;
        ASSERT_TRUE(out);
        EXPECT_LT(peak.load(), pictureBits);
    }
}

} // namespace
