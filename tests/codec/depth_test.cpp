// Tests of depth conversion: kept palettes, exact reductions, the fixed palettes, the adaptive
// palette's quality and the behaviour of error diffusion.
#include "core_test_util.h"

#include <gtest/gtest.h>

#include <set>

namespace pixmoor::codec {
namespace {

using test::makePhotoLike;
using test::makeRgb;

void expectIndicesInPalette(const Raster& r) {
    for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x) ASSERT_LT(r.row(y)[x], r.palette.size());
}

Rgb meanColour(const Raster& r) {
    double s[3] = {0, 0, 0};
    for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x) {
            const Rgb c = r.at(x, y);
            s[0] += c.r, s[1] += c.g, s[2] += c.b;
        }
    const double n = double(r.width) * r.height;
    return {std::uint8_t(s[0] / n + 0.5), std::uint8_t(s[1] / n + 0.5),
            std::uint8_t(s[2] / n + 0.5)};
}

TEST(Depth, RefusesUnknownDepthsAndEmptyImages) {
    Raster r = makeRgb(4, 4, [](int, int) { return Rgb{1, 2, 3}; });
    EXPECT_EQ(convertDepth(r, 2, 1), BadDepth);
    EXPECT_EQ(convertDepth(r, 16, 0), BadDepth);
    Raster empty;
    EXPECT_EQ(convertDepth(empty, 8, 1), EmptyImage);
    EXPECT_EQ(r.bits, 24); // untouched by the refusals
}

TEST(Depth, AnIndexedImageThatFitsKeepsItsPaletteExactly) {
    Raster r;
    ASSERT_EQ(allocateRaster(r, 6, 2, 8), Ok);
    r.palette = {{10, 20, 30}, {250, 1, 2}, {3, 4, 5}};
    for (int x = 0; x < 6; ++x) r.row(0)[x] = std::uint8_t(x % 3), r.row(1)[x] = 2;
    const auto pixels = r.pixels;
    for (int bits : {8, 4}) {
        ASSERT_EQ(convertDepth(r, bits, 1), Ok);
        EXPECT_EQ(r.bits, bits);
        EXPECT_EQ(r.palette, (std::vector<Rgb>{{10, 20, 30}, {250, 1, 2}, {3, 4, 5}}));
        EXPECT_EQ(r.pixels, pixels);
    }
    // Two colours also fit one bit: kept, not turned into black and white.
    Raster two;
    ASSERT_EQ(allocateRaster(two, 3, 1, 8), Ok);
    two.palette = {{0, 0, 200}, {200, 200, 0}};
    two.row(0)[1] = 1;
    ASSERT_EQ(convertDepth(two, 1, 1), Ok);
    EXPECT_EQ(two.bits, 1);
    EXPECT_EQ(two.palette[1], (Rgb{200, 200, 0}));
}

TEST(Depth, FewColoursReduceWithoutLoss) {
    // 200 distinct colours at 24 bits: 8 bits holds them all, so nothing may change, dither or not.
    const Raster original = makeRgb(40, 30, [](int x, int y) {
        const int i = (x + 40 * y) % 200;
        return Rgb{std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i * 7)};
    });
    Raster r = original;
    ASSERT_EQ(convertDepth(r, 8, 1), Ok);
    EXPECT_EQ(r.bits, 8);
    EXPECT_LE(r.palette.size(), 256u);
    EXPECT_EQ(test::differingPixels(r, original), 0);

    // A 256-entry palette of which only 12 colours are used fits 4 bits exactly.
    Raster big;
    ASSERT_EQ(allocateRaster(big, 12, 1, 8), Ok);
    for (int i = 0; i < 256; ++i) big.palette.push_back({std::uint8_t(i), 0, 0});
    for (int x = 0; x < 12; ++x) big.row(0)[x] = std::uint8_t(x * 20);
    const Raster before = big;
    ASSERT_EQ(convertDepth(big, 4, 1), Ok);
    EXPECT_EQ(big.palette.size(), 12u);
    EXPECT_EQ(test::differingPixels(big, before), 0);
}

TEST(Depth, TrueColourExpandsThePalette) {
    Raster r;
    ASSERT_EQ(allocateRaster(r, 3, 2, 4), Ok);
    r.palette = {{1, 2, 3}, {4, 5, 6}};
    r.row(1)[2] = 1;
    const Raster before = r;
    ASSERT_EQ(convertDepth(r, 24, 0), Ok);
    EXPECT_EQ(r.bits, 24);
    EXPECT_TRUE(r.palette.empty());
    EXPECT_EQ(test::differingPixels(r, before), 0);
}

TEST(Depth, VgaUsesTheFixedPaletteAndDitheringKeepsTheMeanColour) {
    const Raster grey = makeRgb(64, 64, [](int, int) { return Rgb{100, 100, 100}; });
    Raster plain = grey;
    ASSERT_EQ(convertDepth(plain, 0, 0), Ok);
    EXPECT_EQ(plain.bits, 4);
    EXPECT_TRUE(std::equal(plain.palette.begin(), plain.palette.end(), vgaPalette().begin()));
    EXPECT_EQ(plain.at(10, 10), (Rgb{128, 128, 128})); // nearest VGA colour
    Raster dithered = grey;
    ASSERT_EQ(convertDepth(dithered, 0, 1), Ok);
    const Rgb mean = meanColour(dithered);
    EXPECT_NEAR(mean.r, 100, 3);
    EXPECT_NEAR(mean.g, 100, 3);
    EXPECT_NEAR(mean.b, 100, 3);
    expectIndicesInPalette(dithered);
}

TEST(Depth, BlackAndWhiteThresholdsOrDiffusesTheGreyLevel) {
    const Raster ramp = makeRgb(256, 32, [](int x, int) {
        return Rgb{std::uint8_t(x), std::uint8_t(x), std::uint8_t(x)};
    });
    Raster plain = ramp;
    ASSERT_EQ(convertDepth(plain, 1, 0), Ok);
    EXPECT_EQ(plain.palette, (std::vector<Rgb>{{0, 0, 0}, {255, 255, 255}}));
    EXPECT_EQ(plain.at(100, 5), (Rgb{0, 0, 0}));
    EXPECT_EQ(plain.at(200, 5), (Rgb{255, 255, 255}));
    Raster dithered = ramp;
    ASSERT_EQ(convertDepth(dithered, 1, 1), Ok);
    // Columns 60..67 are about a quarter white once diffused, none when thresholded.
    int white = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 60; x < 68; ++x) white += dithered.row(y)[x];
    EXPECT_NEAR(white, 256 * 64 / 256, 20);
}

TEST(Depth, AdaptivePaletteApproximatesAPhotograph) {
    // The bounds sit at what ImageMagick reaches on this picture with -colors 256 / 16.
    const Raster photo = makePhotoLike(320, 240);
    for (const auto& [bits, dither, minPsnr] :
         {std::tuple{8, 0, 30.0}, {8, 1, 26.5}, {4, 0, 19.0}, {4, 1, 16.0}}) {
        Raster r = photo;
        ASSERT_EQ(convertDepth(r, bits, dither), Ok);
        EXPECT_EQ(r.bits, bits);
        EXPECT_LE(r.palette.size(), std::size_t(1) << bits);
        expectIndicesInPalette(r);
        EXPECT_GT(test::psnr(r, photo), minPsnr) << bits << " bits, dither " << dither;
    }
}

TEST(Depth, TwoHundredFiftySevenColoursNeedTheQuantizer) {
    // One colour more than fits: the result must still be close, and use the whole palette.
    const Raster r0 = makeRgb(257, 4, [](int x, int) {
        return Rgb{std::uint8_t(x < 256 ? x : 0), std::uint8_t(x < 256 ? 0 : 255), 0};
    });
    Raster r = r0;
    ASSERT_EQ(convertDepth(r, 8, 0), Ok);
    EXPECT_GT(test::psnr(r, r0), 45.0);
    std::set<int> used;
    for (int x = 0; x < 257; ++x) used.insert(r.row(0)[x]);
    EXPECT_GE(used.size(), 250u);
}

} // namespace
} // namespace pixmoor::codec
