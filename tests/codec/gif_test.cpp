// Tests of the GIF reader, writer and information call against files made by ImageMagick and
// giflib and read back by ImageMagick, Pillow and giflib's tools.
#include "imaging/codec/codec.h"
#include "imaging/codec/errors.h"
#include "imaging/codec/formats.h"
#include "tests/codec/format_test_util.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <gif_lib.h>

namespace pixmoor::codec::test {
namespace {

using pixmoor::test::TempDir;

TEST(GifRead, ImageMagickFilesDecodeAlike) {
    TempDir dir;
    const std::string base = dir.file("base.ppm");
    ASSERT_TRUE(writePpm(base, makePhotoLike(45, 31)));
    make("convert " + q(base) + " -colors 200 " + q(dir.file("plain.gif")));
    make("convert " + q(base) + " -colors 12 -interlace GIF " + q(dir.file("interlaced.gif")));
    make("convert " + q(base) + " -monochrome " + q(dir.file("mono.gif")));
    make("convert -size 30x20 xc:none -fill red -draw 'rectangle 5,5 20,15' " +
         q(dir.file("transparent.gif")));
    make("convert -size 20x10 xc:blue xc:yellow -loop 0 " + q(dir.file("anim.gif")));
    for (const char* name :
         {"plain.gif", "interlaced.gif", "mono.gif", "transparent.gif", "anim.gif"}) {
        SCOPED_TRACE(name);
        const std::string file = dir.file(name);
        Raster ours;
        ASSERT_EQ(readGif(file, 24, 0, ours), Ok);
        EXPECT_EQ(differingPixels(ours, peerDecode("magick", file, dir.file("peer.ppm"))), 0);
        // Their palettes fit 8 bits as they are.
        Raster indexed;
        ASSERT_EQ(readGif(file, 8, 1, indexed), Ok);
        EXPECT_EQ(differingPixels(expanded(indexed), ours), 0);
    }
    ImageInfo info;
    ASSERT_EQ(detail::infoGif(dir.file("interlaced.gif"), info), Ok);
    EXPECT_EQ(info.format, "GIF");
    EXPECT_EQ(info.width, 45);
    EXPECT_EQ(info.height, 31);
    EXPECT_EQ(info.bitsPerPixel, 4);
    EXPECT_EQ(info.colours, 16);
    EXPECT_EQ(info.pages, 1);
    EXPECT_EQ(info.detail, "GIF89a Interlaced");
    ASSERT_EQ(detail::infoGif(dir.file("anim.gif"), info), Ok);
    EXPECT_EQ(info.pages, 2);
    Raster first;
    ASSERT_EQ(readGif(dir.file("anim.gif"), 24, 0, first), Ok);
    EXPECT_EQ(first.at(3, 3), (Rgb{0, 0, 255}));
}

// A GIF written through giflib: an 8 x 6 screen with a red and green global table and, at (2, 1),
// a 4 x 3 first frame with its own blue and yellow table whose yellow is transparent; then a
// second frame that must be ignored.
void writeOffsetFrameGif(const std::string& file) {
    int error = 0;
    GifFileType* gif = EGifOpenFileName(file.c_str(), false, &error);
    ASSERT_TRUE(gif);
    GifColorType global[2] = {{255, 0, 0}, {0, 255, 0}};
    GifColorType local[2] = {{0, 0, 255}, {255, 255, 0}};
    ColorMapObject* globalMap = GifMakeMapObject(2, global);
    ColorMapObject* localMap = GifMakeMapObject(2, local);
    EGifSetGifVersion(gif, true);
    ASSERT_NE(EGifPutScreenDesc(gif, 8, 6, 1, 0, globalMap), GIF_ERROR);
    GraphicsControlBlock gcb{};
    gcb.TransparentColor = 1;
    GifByteType ext[4];
    EGifGCBToExtension(&gcb, ext);
    ASSERT_NE(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext), GIF_ERROR);
    ASSERT_NE(EGifPutImageDesc(gif, 2, 1, 4, 3, false, localMap), GIF_ERROR);
    for (int y = 0; y < 3; ++y) {
        GifPixelType line[4] = {0, GifPixelType(y == 1), 0, 0};
        ASSERT_NE(EGifPutLine(gif, line, 4), GIF_ERROR);
    }
    // (giflib drops the previous local table without freeing it when the next frame has none.)
    ASSERT_NE(EGifPutImageDesc(gif, 0, 0, 8, 6, false, globalMap), GIF_ERROR);
    for (int y = 0; y < 6; ++y) {
        GifPixelType line[8] = {};
        ASSERT_NE(EGifPutLine(gif, line, 8), GIF_ERROR);
    }
    ASSERT_NE(EGifCloseFile(gif, &error), GIF_ERROR);
    GifFreeMapObject(globalMap);
    GifFreeMapObject(localMap);
}

TEST(GifRead, FirstFrameWithLocalTableOffsetAndTransparency) {
    TempDir dir;
    const std::string file = dir.file("offset.gif");
    writeOffsetFrameGif(file);
    Raster r;
    ASSERT_EQ(readGif(file, 24, 0, r), Ok);
    ASSERT_EQ(r.width, 8);
    ASSERT_EQ(r.height, 6);
    const Rgb white{255, 255, 255}, blue{0, 0, 255};
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) {
            SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
            const bool inFrame = x >= 2 && x < 6 && y >= 1 && y < 4;
            const bool transparent = inFrame && y == 2 && x == 3;
            EXPECT_EQ(r.at(x, y), inFrame && !transparent ? blue : white);
        }
    ImageInfo info;
    ASSERT_EQ(detail::infoGif(file, info), Ok);
    EXPECT_EQ(info.pages, 2);
    EXPECT_EQ(info.colours, 2);
    EXPECT_EQ(info.bitsPerPixel, 1);
}

TEST(GifRead, FramesPastOrOutsideTheScreen) {
    TempDir dir;
    // 6 x 4 screen; a 4 x 3 frame at (4, 2) reaches past it and is clipped; a frame at (9, 9)
    // lies wholly outside, and is shown on its own.
    auto write = [&](const std::string& file, int left, int top) {
        int error = 0;
        GifFileType* gif = EGifOpenFileName(file.c_str(), false, &error);
        ASSERT_TRUE(gif);
        GifColorType colours[2] = {{0, 0, 255}, {255, 0, 0}};
        ColorMapObject* map = GifMakeMapObject(2, colours);
        ASSERT_NE(EGifPutScreenDesc(gif, 6, 4, 1, 0, map), GIF_ERROR);
        ASSERT_NE(EGifPutImageDesc(gif, left, top, 4, 3, false, nullptr), GIF_ERROR);
        for (int y = 0; y < 3; ++y) {
            GifPixelType line[4] = {1, 1, 1, 1};
            ASSERT_NE(EGifPutLine(gif, line, 4), GIF_ERROR);
        }
        ASSERT_NE(EGifCloseFile(gif, &error), GIF_ERROR);
        GifFreeMapObject(map);
    };
    write(dir.file("past.gif"), 4, 2);
    write(dir.file("outside.gif"), 9, 9);
    Raster r;
    ASSERT_EQ(readGif(dir.file("past.gif"), 24, 0, r), Ok);
    ASSERT_EQ(r.width, 6);
    ASSERT_EQ(r.height, 4);
    const Rgb red{255, 0, 0}, white{255, 255, 255};
    EXPECT_EQ(r.at(3, 3), white);
    EXPECT_EQ(r.at(4, 2), red);
    EXPECT_EQ(r.at(5, 3), red);
    ASSERT_EQ(readGif(dir.file("outside.gif"), 24, 0, r), Ok);
    EXPECT_EQ(r.width, 4);
    EXPECT_EQ(r.height, 3);
    EXPECT_EQ(r.at(0, 0), red);
    ImageInfo info;
    ASSERT_EQ(detail::infoGif(dir.file("outside.gif"), info), Ok);
    EXPECT_EQ(info.width, 4);
}

TEST(GifWrite, EveryDepthRoundTripsAndOpensInOtherTools) {
    TempDir dir;
    const Raster photo = makePhotoLike(57, 33);
    for (const int bits : {0, 1, 4, 8, 24}) {
        SCOPED_TRACE(bits);
        const std::string file = dir.file("out" + std::to_string(bits) + ".gif");
        ASSERT_EQ(writeGif(file, bits, photo), Ok);
        Raster expected = photo;
        ASSERT_EQ(convertDepth(expected, bits == 24 ? 8 : bits, 1), Ok);
        Raster back;
        ASSERT_EQ(readGif(file, 24, 0, back), Ok);
        EXPECT_EQ(differingPixels(back, expected), 0);
        EXPECT_EQ(differingPixels(peerDecode("magick", file, dir.file("m.ppm")), expected), 0);
        EXPECT_EQ(differingPixels(peerDecode("pillow", file, dir.file("p.ppm")), expected), 0);
        make("giftext " + q(file));
        ImageInfo info;
        ASSERT_EQ(detail::infoGif(file, info), Ok);
        EXPECT_EQ(info.bitsPerPixel, bits == 0 ? 4 : (bits == 24 ? 8 : bits));
    }
    // An image that already has few colours keeps them exactly.
    const Raster blocks = makeBlocks(30, 30);
    ASSERT_EQ(writeGif(dir.file("blocks.gif"), 8, blocks), Ok);
    Raster back;
    ASSERT_EQ(readGif(dir.file("blocks.gif"), 24, 0, back), Ok);
    EXPECT_EQ(differingPixels(back, blocks), 0);

    EXPECT_EQ(writeGif(dir.file("x.gif"), 7, photo), BadDepth);
    EXPECT_EQ(writeGif(dir.file("x.gif"), 8, Raster{}), EmptyImage);
    EXPECT_EQ(writeGif(dir.file("nowhere/x.gif"), 8, photo), CreateFailed);
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.gif")));
}

TEST(GifRead, DamagedAndHostileFilesFailCleanly) {
    TempDir dir;
    const std::string good = dir.file("good.gif");
    ASSERT_EQ(writeGif(good, 8, makePhotoLike(120, 90)), Ok);
    const auto bytes = readWholeFile(good);
    Raster r;
    ImageInfo info;
    EXPECT_EQ(readGif(dir.file("missing.gif"), 24, 0, r), FileNotFound);
    writeWholeFile(dir.file("empty.gif"), {});
    EXPECT_EQ(readGif(dir.file("empty.gif"), 24, 0, r), NotThisFormat);
    writeWholeFile(dir.file("png.gif"), {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'});
    EXPECT_EQ(readGif(dir.file("png.gif"), 24, 0, r), NotThisFormat);
    EXPECT_EQ(detail::infoGif(dir.file("png.gif"), info), NotThisFormat);

    for (const std::size_t keep :
         {std::size_t(4), std::size_t(12), std::size_t(400), bytes.size() / 2, bytes.size() - 3}) {
        SCOPED_TRACE(keep);
        auto cut = bytes;
        cut.resize(keep);
        writeWholeFile(dir.file("cut.gif"), cut);
        EXPECT_EQ(readGif(dir.file("cut.gif"), 24, 0, r), Truncated);
        EXPECT_TRUE(r.empty());
    }

    // Compressed data overwritten: codes out of range or too much data.
    auto garbage = bytes;
    for (std::size_t i = 900; i < bytes.size() - 10; i += 7) garbage[i] = 0xFF;
    writeWholeFile(dir.file("garbage.gif"), garbage);
    const int rc = readGif(dir.file("garbage.gif"), 24, 0, r);
    EXPECT_TRUE(rc == Corrupt || rc == Truncated) << rc;
    EXPECT_TRUE(r.empty());

    // A 65535 x 65535 screen around a 120 x 90 frame: the frame alone, not 4 gigapixels of
    // background.
    auto huge = bytes;
    huge[6] = huge[7] = huge[8] = huge[9] = 0xFF;
    writeWholeFile(dir.file("huge.gif"), huge);
    ASSERT_EQ(readGif(dir.file("huge.gif"), 24, 0, r), Ok);
    EXPECT_EQ(r.width, 120);
    EXPECT_EQ(r.height, 90);
    ASSERT_EQ(detail::infoGif(dir.file("huge.gif"), info), Ok);
    EXPECT_EQ(info.width, 120);

    // A first frame far bigger than the file could describe.
    auto big = bytes;
    std::size_t descriptor = 13 + 3 * 256; // after the screen and its 256-colour table
    while (descriptor < big.size() && big[descriptor] != 0x2C) ++descriptor;
    ASSERT_LT(descriptor + 9, big.size());
    big[descriptor + 5] = big[descriptor + 7] = 0x40; // 16448 x 16474
    big[descriptor + 6] = big[descriptor + 8] = 0x40;
    writeWholeFile(dir.file("big.gif"), big);
    EXPECT_EQ(readGif(dir.file("big.gif"), 24, 0, r), Truncated);
}

} // namespace
} // namespace pixmoor::codec::test
