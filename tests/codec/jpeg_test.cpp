// Tests of the JPEG reader (full and DCT-scaled), writer and information call against files made
// by cjpeg and ImageMagick and decoded by djpeg, ImageMagick and Pillow.
#include "imaging/codec/codec.h"
#include "imaging/codec/decode.h"
#include "imaging/codec/errors.h"
#include "imaging/codec/formats.h"
#include "tests/codec/format_test_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include <jpeglib.h>

namespace pixmoor::codec::test {
namespace {

using pixmoor::test::TempDir;

class JpegFiles : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(writePpm(base, makePhotoLike(123, 77))); }
    std::string cjpeg(const std::string& name, const std::string& options) {
        const std::string file = dir.file(name);
        make("cjpeg " + options + " -outfile " + q(file) + " " + q(base));
        return file;
    }
    TempDir dir;
    std::string base = dir.file("base.ppm");
};

TEST_F(JpegFiles, VariantsDecodeLikeDjpegAtEveryScale) {
    const std::string files[] = {
        cjpeg("baseline.jpg", "-quality 90"), cjpeg("progressive.jpg", "-progressive"),
        cjpeg("gray.jpg", "-grayscale"),      cjpeg("restart.jpg", "-restart 1 -sample 1x1"),
        cjpeg("arith.jpg", "-arithmetic"),    cjpeg("optimized.jpg", "-optimize -sample 2x1"),
    };
    for (const std::string& file : files) {
        for (const int scale : {1, 2, 4, 8}) {
            SCOPED_TRACE(file + " scale " + std::to_string(scale));
            Raster ours;
            ASSERT_EQ(readJpeg(file, 24, scale, 0, ours), Ok);
            // Sizes round up, as libjpeg's do.
            EXPECT_EQ(ours.width, (123 + scale - 1) / scale);
            EXPECT_EQ(ours.height, (77 + scale - 1) / scale);
            // Scaled decodes use the plain upsampler, which is djpeg's -nosmooth.
            const std::string djpeg =
                scale == 1 ? "djpeg" : "djpeg -nosmooth -scale 1/" + std::to_string(scale);
            const Raster peer = peerDecode(djpeg, file, dir.file("peer.ppm"));
            EXPECT_EQ(differingPixels(ours, peer), 0);
        }
    }
    // A thumbnail decode is as good as averaging the full decode over each s x s block.
    Raster full;
    ASSERT_EQ(readJpeg(files[0], 24, 1, 0, full), Ok);
    for (const int scale : {2, 4, 8}) {
        SCOPED_TRACE(scale);
        Raster scaled;
        ASSERT_EQ(readJpeg(files[0], 24, scale, 0, scaled), Ok);
        const Raster box = makeRgb(scaled.width, scaled.height, [&](int x, int y) {
            int sum[3] = {}, n = 0;
            for (int v = y * scale; v < std::min(full.height, (y + 1) * scale); ++v)
                for (int u = x * scale; u < std::min(full.width, (x + 1) * scale); ++u, ++n) {
                    const Rgb c = full.at(u, v);
                    sum[0] += c.r, sum[1] += c.g, sum[2] += c.b;
                }
            return Rgb{std::uint8_t((sum[0] + n / 2) / n), std::uint8_t((sum[1] + n / 2) / n),
                       std::uint8_t((sum[2] + n / 2) / n)};
        });
        EXPECT_GT(psnr(scaled, box), 30.0);
    }

    // Grayscale arrives as 256 grays, which fit 8 bits unchanged.
    Raster gray;
    ASSERT_EQ(readJpeg(files[2], 8, 1, 0, gray), Ok);
    EXPECT_TRUE(gray.indexed());
    EXPECT_EQ(gray.palette.size(), 256u);
}

TEST_F(JpegFiles, InformationNamesTheVariant) {
    ImageInfo info;
    ASSERT_EQ(detail::infoJpeg(cjpeg("b.jpg", ""), info), Ok);
    EXPECT_EQ(info.format, "JPEG");
    EXPECT_EQ(info.width, 123);
    EXPECT_EQ(info.height, 77);
    EXPECT_EQ(info.bitsPerPixel, 24);
    EXPECT_EQ(info.colours, 0);
    EXPECT_EQ(info.pages, 1);
    EXPECT_EQ(info.detail, "Baseline");
    ASSERT_EQ(detail::infoJpeg(cjpeg("p.jpg", "-progressive -grayscale"), info), Ok);
    EXPECT_EQ(info.detail, "Progressive");
    EXPECT_EQ(info.bitsPerPixel, 8);
    EXPECT_EQ(info.colours, 256);
}

// Writes CMYK through libjpeg, the inks inverted as CMYK JPEGs store them; `adobe` says whether
// the Adobe marker declares it.
void writeCmykJpeg(const std::string& file, const Raster& rgb, bool adobe) {
    std::FILE* f = std::fopen(file.c_str(), "wb");
    ASSERT_TRUE(f);
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, f);
    cinfo.image_width = JDIMENSION(rgb.width);
    cinfo.image_height = JDIMENSION(rgb.height);
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    cinfo.write_Adobe_marker = adobe;
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(std::size_t(rgb.width) * 4);
    for (int y = 0; y < rgb.height; ++y) {
        for (int x = 0; x < rgb.width; ++x) {
            const Rgb c = rgb.at(x, y);
            // K from the brightest channel; the inks make up the rest.
            const int k = 255 - std::max({c.r, c.g, c.b});
            const int rest = 255 - k;
            const int ink[4] = {rest ? (rest - c.r) * 255 / rest : 0,
                                rest ? (rest - c.g) * 255 / rest : 0,
                                rest ? (rest - c.b) * 255 / rest : 0, k};
            for (int i = 0; i < 4; ++i)
                row[std::size_t(x) * 4 + std::size_t(i)] = JSAMPLE(255 - ink[i]);
        }
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&cinfo, &p, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(f);
}

// The file without its Adobe (APP14) segment; false when it has none.
bool dropAdobeMarker(const std::string& file) {
    std::vector<std::uint8_t> bytes = readWholeFile(file);
    for (std::size_t at = 2; at + 4 <= bytes.size() && bytes[at] == 0xFF;) {
        const std::size_t length = std::size_t(bytes[at + 2]) << 8 | bytes[at + 3];
        if (bytes[at + 1] == 0xEE) {
            bytes.erase(bytes.begin() + std::ptrdiff_t(at),
                        bytes.begin() + std::ptrdiff_t(at + 2 + length));
            writeWholeFile(file, bytes);
            return true;
        }
        at += 2 + length;
    }
    return false;
}

TEST_F(JpegFiles, CmykInksAreInvertedWithAndWithoutAnAdobeMarker) {
    const Raster photo = makeBlocks(40, 30);
    for (const bool adobe : {true, false}) {
        SCOPED_TRACE(adobe ? "with an Adobe marker" : "without one");
        const std::string file = dir.file(adobe ? "adobe.jpg" : "plain.jpg");
        writeCmykJpeg(file, photo, adobe);
        Raster ours;
        ASSERT_EQ(readJpeg(file, 24, 1, 0, ours), Ok);
        EXPECT_GT(psnr(ours, photo), 30.0);
        ImageInfo info;
        ASSERT_EQ(detail::infoJpeg(file, info), Ok);
        EXPECT_EQ(info.bitsPerPixel, 32);
    }
    // Pillow's CMYK files, also without their marker as some of its builds write them, and
    // ImageMagick's (Photoshop-style, with the marker) agree with ImageMagick's decoding.
    const std::string pillow = dir.file("pillow.jpg"), bare = dir.file("bare.jpg"),
                      im = dir.file("im.jpg");
    make("/usr/bin/python3 -c \"import sys; from PIL import Image; "
         "Image.open(sys.argv[1]).convert('CMYK').save(sys.argv[2], quality=95)\" " +
         q(base) + " " + q(pillow));
    make("cp " + q(pillow) + " " + q(bare));
    ASSERT_TRUE(dropAdobeMarker(bare));
    make("convert " + q(base) + " -colorspace CMYK -quality 95 " + q(im));
    for (const std::string& file : {pillow, bare, im}) {
        SCOPED_TRACE(file);
        Raster ours;
        ASSERT_EQ(readJpeg(file, 24, 1, 0, ours), Ok);
        const Raster theirs = peerDecode("magick", file, dir.file("peer.ppm"));
        ASSERT_NE(differingPixels(ours, theirs), -1); // read, and the same size
        EXPECT_GT(psnr(ours, theirs), 35.0);
    }
}

TEST_F(JpegFiles, WriterHonoursQualitySmoothingAndGray) {
    const Raster photo = makePhotoLike(160, 120);
    const std::string high = dir.file("q95.jpg"), low = dir.file("q20.jpg");
    ASSERT_EQ(writeJpeg(high, 95, 0, 24, photo), Ok);
    ASSERT_EQ(writeJpeg(low, 20, 0, 24, photo), Ok);
    EXPECT_GT(std::filesystem::file_size(high), std::filesystem::file_size(low) * 3 / 2);
    Raster back, backLow;
    ASSERT_EQ(readJpeg(high, 24, 1, 0, back), Ok);
    ASSERT_EQ(readJpeg(low, 24, 1, 0, backLow), Ok);
    // The picture's fine ripples suffer from chroma subsampling even at high quality.
    EXPECT_GT(psnr(back, photo), 28.0);
    EXPECT_GT(psnr(back, photo), psnr(backLow, photo) + 2.0);
    EXPECT_EQ(differingPixels(peerDecode("djpeg", high, dir.file("d.ppm")), back), 0);
    EXPECT_GT(psnr(peerDecode("pillow", high, dir.file("p.ppm")), back), 40.0);

    // Smoothing blurs fine noise away, so the smoothed file is smaller and further from the noise.
    const Raster noisy = makeRgb(96, 96, [](int x, int y) {
        const auto v = std::uint8_t(((x * 7919 + y * 104729) ^ (x * y)) & 0xFF);
        return Rgb{v, std::uint8_t(255 - v), std::uint8_t(v / 2)};
    });
    const std::string sharp = dir.file("s0.jpg"), smooth = dir.file("s100.jpg");
    ASSERT_EQ(writeJpeg(sharp, 90, 0, 24, noisy), Ok);
    ASSERT_EQ(writeJpeg(smooth, 90, 100, 24, noisy), Ok);
    EXPECT_LT(std::filesystem::file_size(smooth), std::filesystem::file_size(sharp));

    // One bit asks for grayscale: one component, which djpeg writes as a PGM.
    const std::string gray = dir.file("gray.jpg");
    ASSERT_EQ(writeJpeg(gray, 90, 0, 1, photo), Ok);
    ImageInfo info;
    ASSERT_EQ(detail::infoJpeg(gray, info), Ok);
    EXPECT_EQ(info.bitsPerPixel, 8);
    make("djpeg -outfile " + q(dir.file("g.pgm")) + " " + q(gray));
    EXPECT_EQ(readWholeFile(dir.file("g.pgm")).at(1), '5');
    Raster grayBack;
    ASSERT_EQ(readJpeg(gray, 24, 1, 0, grayBack), Ok);
    const Rgb c = grayBack.at(50, 50);
    EXPECT_TRUE(c.r == c.g && c.g == c.b);

    // Indexed input is written in colour.
    Raster indexed = photo;
    ASSERT_EQ(convertDepth(indexed, 4, 0), Ok);
    ASSERT_EQ(writeJpeg(dir.file("idx.jpg"), 95, 0, 4, indexed), Ok);
    ASSERT_EQ(readJpeg(dir.file("idx.jpg"), 24, 1, 0, back), Ok);
    EXPECT_GT(psnr(back, expanded(indexed)), 27.0);

    EXPECT_EQ(writeJpeg(dir.file("x.jpg"), 0, 0, 24, photo), BadParameter);
    EXPECT_EQ(writeJpeg(dir.file("x.jpg"), 101, 0, 24, photo), BadParameter);
    EXPECT_EQ(writeJpeg(dir.file("x.jpg"), 50, 101, 24, photo), BadParameter);
    EXPECT_EQ(writeJpeg(dir.file("x.jpg"), 50, 0, 3, photo), BadDepth);
    EXPECT_EQ(writeJpeg(dir.file("x.jpg"), 50, 0, 24, Raster{}), EmptyImage);
    EXPECT_EQ(writeJpeg(dir.file("none/x.jpg"), 50, 0, 24, photo), CreateFailed);
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.jpg")));
}

// The segments of a JPEG stream: each marker with its payload and, for a scan, its entropy data.
std::vector<std::vector<std::uint8_t>> segments(const std::vector<std::uint8_t>& jpeg) {
    std::vector<std::vector<std::uint8_t>> out;
    std::size_t i = 2; // after SOI
    while (i + 4 <= jpeg.size()) {
        const std::size_t start = i;
        if (jpeg[i + 1] == 0xD9) break;
        std::size_t end = i + 2 + (std::size_t(jpeg[i + 2]) << 8 | jpeg[i + 3]);
        if (jpeg[i + 1] == 0xDA) // entropy data up to the next marker that is not a restart
            while (end + 1 < jpeg.size() && !(jpeg[end] == 0xFF && jpeg[end + 1] != 0 &&
                                              (jpeg[end + 1] < 0xD0 || jpeg[end + 1] > 0xD7)))
                ++end;
        out.emplace_back(jpeg.begin() + std::ptrdiff_t(start), jpeg.begin() + std::ptrdiff_t(end));
        i = end;
    }
    return out;
}

TEST_F(JpegFiles, DamagedAndHostileFilesFailCleanly) {
    const std::string good = cjpeg("good.jpg", "-quality 90");
    const auto bytes = readWholeFile(good);
    Raster r;
    EXPECT_EQ(readJpeg(dir.file("missing.jpg"), 24, 1, 0, r), FileNotFound);
    EXPECT_EQ(readJpeg(good, 24, 3, 0, r), BadParameter);
    EXPECT_EQ(readJpeg(good, 2, 1, 0, r), BadDepth);
    writeWholeFile(dir.file("empty.jpg"), {});
    EXPECT_EQ(readJpeg(dir.file("empty.jpg"), 24, 1, 0, r), Truncated);
    writeWholeFile(dir.file("text.jpg"), {'G', 'I', 'F', '8', '9', 'a', 0, 0});
    EXPECT_EQ(readJpeg(dir.file("text.jpg"), 24, 1, 0, r), NotThisFormat);
    ImageInfo info;
    EXPECT_EQ(detail::infoJpeg(dir.file("text.jpg"), info), NotThisFormat);

    // Cut anywhere: in the headers, or in the entropy-coded data (libjpeg would pad the rest
    // with gray; we call it truncated), at full size and scaled.
    for (const std::size_t keep :
         {std::size_t(3), std::size_t(100), bytes.size() / 2, bytes.size() - 30}) {
        SCOPED_TRACE(keep);
        auto cut = bytes;
        cut.resize(keep);
        writeWholeFile(dir.file("cut.jpg"), cut);
        EXPECT_EQ(readJpeg(dir.file("cut.jpg"), 24, 1, 0, r), Truncated);
        EXPECT_EQ(readJpeg(dir.file("cut.jpg"), 24, 8, 0, r), Truncated);
        EXPECT_TRUE(r.empty());
    }

    // Cut and closed with an end marker, as a broken download or a careless tool leaves it.
    auto closed = bytes;
    closed.resize(bytes.size() / 2);
    closed.insert(closed.end(), {0xFF, 0xD9});
    writeWholeFile(dir.file("closed.jpg"), closed);
    EXPECT_EQ(readJpeg(dir.file("closed.jpg"), 24, 1, 0, r), Truncated);

    // The streaming thumbnail decoder refuses the same files with the same code, so a damaged
    // file never gets a silent thumbnail instead of the reader's report.
    struct DiscardRows : RowSink {
        bool begin(const RowLayout&) override { return true; }
        bool row(const std::uint8_t*) override { return true; }
    } sink;
    DecodeOptions thumbnail;
    thumbnail.minWidth = thumbnail.minHeight = 70;
    thumbnail.fastPaths = true;
    EXPECT_EQ(decodeImage(dir.file("closed.jpg"), DecodeOptions{}, sink), Truncated);
    EXPECT_EQ(decodeImage(dir.file("closed.jpg"), thumbnail, sink), Truncated);
    EXPECT_EQ(decodeImage(dir.file("cut.jpg"), thumbnail, sink), Truncated);

    // A frame header claiming 65000 x 65000 pixels is refused before allocation.
    auto huge = bytes;
    const auto parts = segments(bytes);
    std::size_t at = 2;
    for (const auto& s : parts) {
        if (s[1] == 0xC0) break;
        at += s.size();
    }
    huge[at + 5] = 0xFD, huge[at + 6] = 0xE8, huge[at + 7] = 0xFD, huge[at + 8] = 0xE8;
    writeWholeFile(dir.file("huge.jpg"), huge);
    EXPECT_EQ(readJpeg(dir.file("huge.jpg"), 24, 8, 0, r), TooLarge);
    ASSERT_EQ(detail::infoJpeg(dir.file("huge.jpg"), info), Ok);
    EXPECT_EQ(info.width, 65000);

    // Scrambled entropy data decodes to something or fails, but never crashes.
    auto scrambled = bytes;
    for (std::size_t i = bytes.size() / 3; i < bytes.size() / 3 + 200; ++i)
        scrambled[i] = std::uint8_t(i * 37);
    writeWholeFile(dir.file("scrambled.jpg"), scrambled);
    const int rc = readJpeg(dir.file("scrambled.jpg"), 24, 1, 0, r);
    EXPECT_TRUE(rc == Ok || rc == Corrupt || rc == Truncated) << rc;
}

TEST_F(JpegFiles, ProgressiveFileWithEndlessScansIsStopped) {
    // The first scan of a progressive file repeated a few thousand times: libjpeg only warns about
    // such a progression and would go on decoding every scan.
    const auto bytes = readWholeFile(cjpeg("prog.jpg", "-progressive"));
    const auto parts = segments(bytes);
    std::vector<std::uint8_t> bomb = {0xFF, 0xD8};
    bool repeated = false;
    for (const auto& s : parts) {
        const int copies = s[1] == 0xDA && !repeated ? 3000 : 1;
        if (s[1] == 0xDA) repeated = true;
        for (int i = 0; i < copies; ++i) bomb.insert(bomb.end(), s.begin(), s.end());
    }
    bomb.insert(bomb.end(), {0xFF, 0xD9});
    writeWholeFile(dir.file("bomb.jpg"), bomb);
    Raster r;
    EXPECT_EQ(readJpeg(dir.file("bomb.jpg"), 24, 1, 0, r), Corrupt);
    EXPECT_TRUE(r.empty());
}

} // namespace
} // namespace pixmoor::codec::test
