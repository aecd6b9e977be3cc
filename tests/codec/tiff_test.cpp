// Tests of the TIFF reader, writer and information call against files made by ImageMagick and
// libtiff's tiffcp and read back by ImageMagick, Pillow and tiffinfo.
#include "imaging/codec/codec.h"
#include "imaging/codec/errors.h"
#include "imaging/codec/formats.h"
#include "imaging/codec/lzw.h"
#include "tests/codec/format_test_util.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <tiffio.h>

namespace pixmoor::codec::test {
namespace {

using pixmoor::test::TempDir;

struct Variant {
    const char* file;
    const char* command; // %s is the file written; IN the plain RGB file, ALPHA the RGBA file
    const char* detail;  // compression named by the information call
    double minPsnr;      // 0: must match ImageMagick within 1 per channel
};

std::string expand(std::string command, const TempDir& dir, const std::string& out) {
    auto replace = [&](const std::string& key, const std::string& value) {
        for (std::size_t at; (at = command.find(key)) != std::string::npos;)
            command.replace(at, key.size(), value);
    };
    replace("IN", q(dir.file("rgb.tif")));
    replace("BILEVEL", q(dir.file("bilevel.tif")));
    replace("ALPHA", q(dir.file("alpha.png")));
    replace("OUT", q(out));
    return command;
}

TEST(TiffRead, CompressionsLayoutsAndPhotometricsMatchImageMagick) {
    TempDir dir;
    ASSERT_TRUE(writePpm(dir.file("base.ppm"), makePhotoLike(53, 41)));
    make("convert " + q(dir.file("base.ppm")) + " -compress none " + q(dir.file("rgb.tif")));
    make("convert " + q(dir.file("base.ppm")) + " -monochrome -depth 1 -compress none " +
         q(dir.file("bilevel.tif")));
    make("convert " + q(dir.file("base.ppm")) +
         " \\( +clone -fx 'i/w' \\) -alpha off -compose copy_opacity -composite " +
         q(dir.file("alpha.png")));

    const Variant variants[] = {
        {"none.tif", "cp IN OUT", "None", 0},
        {"lzw.tif", "tiffcp -c lzw:2 IN OUT", "LZW", 0},
        {"packbits.tif", "tiffcp -c packbits IN OUT", "PackBits", 0},
        {"deflate.tif", "tiffcp -c zip:2 IN OUT", "Deflate", 0},
        {"bigendian.tif", "tiffcp -B -c lzw IN OUT", "LZW", 0},
        {"tiled.tif", "tiffcp -t -w 16 -l 16 -c lzw IN OUT", "LZW", 0},
        {"separate.tif", "tiffcp -p separate IN OUT", "None", 0},
        {"onestrip.tif", "tiffcp -r 1000 -c lzw IN OUT", "LZW", 0},
        {"jpeg.tif", "convert IN -compress jpeg -quality 90 OUT", "JPEG", 28},
        {"palette.tif", "convert IN -colors 20 -type palette -compress lzw OUT", "LZW", 0},
        {"pal4.tif", "convert IN -colors 12 -type palette -depth 4 OUT", "None", 0},
        {"gray.tif", "convert IN -colorspace gray OUT", "None", 0},
        {"gray4.tif", "convert IN -colorspace gray -depth 4 OUT", "None", 0},
        {"gray16.tif", "convert IN -colorspace gray -depth 16 OUT", "None", 0},
        {"rgb16.tif", "convert IN -depth 16 -compress zip OUT", "Deflate", 0},
        {"miniswhite.tif", "convert IN -colorspace gray -define tiff:photometric=min-is-white OUT",
         "None", 0},
        {"rgba.tif", "convert ALPHA -compress lzw OUT", "LZW", 0},
        {"rgba_assoc.tif", "convert ALPHA -define tiff:alpha=associated OUT", "Deflate", 0},
        {"rgba_tiled.tif", "convert ALPHA OUT.tmp.tif && tiffcp -t OUT.tmp.tif OUT", "Deflate", 0},
        {"cmyk.tif", "convert IN -colorspace CMYK OUT", "None", 38},
        {"cmyk16.tif", "convert IN -colorspace CMYK -depth 16 -compress lzw OUT", "LZW", 38},
        {"cmyk_tiled.tif", "convert IN -colorspace CMYK OUT.tmp.tif && tiffcp -t OUT.tmp.tif OUT",
         "None", 38},
        {"g3.tif", "tiffcp -c g3 BILEVEL OUT", "CCITT G3", 0},
        {"g4.tif", "tiffcp -c g4 BILEVEL OUT", "CCITT G4", 0},
        {"pages.tif", "tiffcp -c lzw IN BILEVEL OUT", "LZW", 0},
    };
    for (const Variant& v : variants) {
        SCOPED_TRACE(v.file);
        const std::string file = dir.file(v.file);
        make(expand(v.command, dir, file));
        ImageInfo info;
        ASSERT_EQ(detail::infoTiff(file, info), Ok);
        EXPECT_EQ(info.format, "TIFF");
        EXPECT_EQ(info.width, 53);
        EXPECT_EQ(info.height, 41);
        EXPECT_EQ(info.detail, v.detail);
        EXPECT_EQ(info.pages, std::string(v.file) == "pages.tif" ? 2 : 1);

        Raster ours;
        ASSERT_EQ(readTiff(file, 24, 0, ours), Ok);
        const Raster peer = peerDecode("magick", file, dir.file("peer.ppm"));
        if (v.minPsnr > 0)
            EXPECT_GT(psnr(ours, peer), v.minPsnr);
        else
            EXPECT_LE(maxDifference(ours, peer), 1);
    }
    // Bilevel fax data arrives as one bit per pixel, black and white.
    Raster fax;
    ASSERT_EQ(readTiff(dir.file("g4.tif"), 1, 0, fax), Ok);
    Raster faxTrue;
    ASSERT_EQ(readTiff(dir.file("g4.tif"), 24, 0, faxTrue), Ok);
    EXPECT_EQ(differingPixels(expanded(fax), faxTrue), 0);
}

TEST(TiffWrite, EveryDepthAndCompressionRoundTripsAndOpensInOtherTools) {
    TempDir dir;
    const Raster photo = makePhotoLike(67, 45);
    struct Case {
        int compression;
        const char* scheme; // as tiffinfo names it
    };
    const Case cases[] = {
        {TiffNone, "None"}, {TiffLzw, "LZW"}, {TiffPackBits, "PackBits"}, {TiffCcitt, "CCITT RLE"}};
    for (const Case& c : cases) {
        for (const int bits : {0, 1, 4, 8, 24}) {
            if (c.compression == TiffCcitt && bits != 1) {
                EXPECT_EQ(writeTiff(dir.file("x.tif"), c.compression, bits, photo),
                          CompressionDepth);
                continue;
            }
            SCOPED_TRACE(std::string(c.scheme) + " bits " + std::to_string(bits));
            const std::string file = dir.file("out" + std::to_string(c.compression) + "_" +
                                              std::to_string(bits) + ".tif");
            ASSERT_EQ(writeTiff(file, c.compression, bits, photo), Ok);
            Raster expected = photo;
            ASSERT_EQ(convertDepth(expected, bits, 1), Ok);
            Raster back;
            ASSERT_EQ(readTiff(file, 24, 0, back), Ok);
            EXPECT_EQ(differingPixels(back, expected), 0);
            EXPECT_EQ(differingPixels(peerDecode("magick", file, dir.file("m.ppm")), expected), 0);
            EXPECT_EQ(differingPixels(peerDecode("pillow", file, dir.file("p.ppm")), expected), 0);
            make("tiffinfo " + q(file) + " | grep -q 'Compression Scheme: " + c.scheme + "'");
            ImageInfo info;
            ASSERT_EQ(detail::infoTiff(file, info), Ok);
            EXPECT_EQ(info.bitsPerPixel, bits == 0 ? 4 : bits);
        }
    }
    // A two-colour image that is not black and white keeps its colours (as a palette), except
    // under CCITT, which is black and white by nature.
    Raster duo = makeRgb(16, 4, [](int x, int) {
        return x < 8 ? Rgb{250, 250, 120} : Rgb{0, 0, 90};
    });
    ASSERT_EQ(writeTiff(dir.file("duo.tif"), TiffLzw, 1, duo), Ok);
    Raster back;
    ASSERT_EQ(readTiff(dir.file("duo.tif"), 24, 0, back), Ok);
    EXPECT_EQ(differingPixels(back, duo), 0);
    ASSERT_EQ(writeTiff(dir.file("duofax.tif"), TiffCcitt, 1, duo), Ok);
    ASSERT_EQ(readTiff(dir.file("duofax.tif"), 24, 0, back), Ok);
    EXPECT_EQ(back.at(2, 2), (Rgb{255, 255, 255}));
    EXPECT_EQ(back.at(12, 2), (Rgb{0, 0, 0}));

    EXPECT_EQ(writeTiff(dir.file("x.tif"), 7, 24, photo), BadParameter);
    EXPECT_EQ(writeTiff(dir.file("x.tif"), TiffNone, 2, photo), BadDepth);
    EXPECT_EQ(writeTiff(dir.file("x.tif"), TiffNone, 24, Raster{}), EmptyImage);
    EXPECT_EQ(writeTiff("", TiffNone, 24, photo), EmptyFileName);
    EXPECT_EQ(writeTiff(dir.file("none/x.tif"), TiffNone, 24, photo), CreateFailed);
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.tif")));
}

// Sets a SHORT or LONG tag of the first directory of a little-endian TIFF.
void setTag(std::vector<std::uint8_t>& tiff, int tag, std::uint32_t value) {
    ASSERT_EQ(tiff[0], 'I');
    auto u16 = [&](std::size_t at) { return unsigned(tiff[at] | tiff[at + 1] << 8); };
    const std::size_t ifd = tiff[4] | tiff[5] << 8 | tiff[6] << 16 | std::size_t(tiff[7]) << 24;
    const unsigned count = u16(ifd);
    for (unsigned i = 0; i < count; ++i) {
        const std::size_t entry = ifd + 2 + 12 * i;
        if (int(u16(entry)) != tag) continue;
        const unsigned type = u16(entry + 2);
        tiff[entry + 8] = std::uint8_t(value);
        tiff[entry + 9] = std::uint8_t(value >> 8);
        if (type == 4) {
            tiff[entry + 10] = std::uint8_t(value >> 16);
            tiff[entry + 11] = std::uint8_t(value >> 24);
        }
        return;
    }
    FAIL() << "tag " << tag << " not found";
}

TEST(TiffRead, DamagedAndHostileFilesFailCleanly) {
    TempDir dir;
    const std::string good = dir.file("good.tif");
    ASSERT_EQ(writeTiff(good, TiffLzw, 24, makePhotoLike(150, 100)), Ok);
    const auto bytes = readWholeFile(good);
    Raster r;
    ImageInfo info;
    EXPECT_EQ(readTiff(dir.file("missing.tif"), 24, 0, r), FileNotFound);
    EXPECT_EQ(detail::infoTiff(dir.file("missing.tif"), info), FileNotFound);
    writeWholeFile(dir.file("empty.tif"), {});
    EXPECT_EQ(readTiff(dir.file("empty.tif"), 24, 0, r), NotThisFormat);
    writeWholeFile(dir.file("gif.tif"), {'G', 'I', 'F', '8', '9', 'a'});
    EXPECT_EQ(readTiff(dir.file("gif.tif"), 24, 0, r), NotThisFormat);

    // The writer puts the directory after the image data, so every cut loses the directory or
    // some strips.
    for (const std::size_t keep :
         {std::size_t(3), std::size_t(8), std::size_t(100), bytes.size() / 2, bytes.size() - 10}) {
        SCOPED_TRACE(keep);
        auto cut = bytes;
        cut.resize(keep);
        writeWholeFile(dir.file("cut.tif"), cut);
        const int rc = readTiff(dir.file("cut.tif"), 24, 0, r);
        EXPECT_TRUE(rc == Truncated || rc == Corrupt) << rc;
        EXPECT_TRUE(r.empty());
    }
    // Directory intact (Pillow writes it first), image data cut short.
    ASSERT_TRUE(writePpm(dir.file("p.ppm"), makePhotoLike(150, 100)));
    make("/usr/bin/python3 -c \"from PIL import Image; Image.open('" + dir.file("p.ppm") +
         "').save('" + dir.file("pillow.tif") + "')\"");
    truncateFile(dir.file("pillow.tif"), 20000);
    EXPECT_EQ(readTiff(dir.file("pillow.tif"), 24, 0, r), Truncated);
    EXPECT_EQ(detail::infoTiff(dir.file("pillow.tif"), info), Ok);

    // Claims 60000 x 60000 pixels: refused before allocating; the information call reports it.
    auto huge = bytes;
    setTag(huge, 256, 60000);
    setTag(huge, 257, 60000);
    writeWholeFile(dir.file("huge.tif"), huge);
    EXPECT_EQ(readTiff(dir.file("huge.tif"), 24, 0, r), TooLarge);
    ASSERT_EQ(detail::infoTiff(dir.file("huge.tif"), info), Ok);
    EXPECT_EQ(info.width, 60000);

    // Compressed data overwritten.
    auto garbage = bytes;
    for (std::size_t i = 16; i < bytes.size() / 2; i += 3) garbage[i] = std::uint8_t(i * 13);
    writeWholeFile(dir.file("garbage.tif"), garbage);
    const int rc = readTiff(dir.file("garbage.tif"), 24, 0, r);
    EXPECT_TRUE(rc == Ok || rc == Corrupt) << rc;
}

// Every strip of an LZW file without predictor, decoded by our decoder, against libtiff's.
void expectStripsDecodeAsLibtiffDecodesThem(const std::string& file) {
    TIFF* tif = TIFFOpen(file.c_str(), "r");
    ASSERT_NE(tif, nullptr);
    const tstrip_t strips = TIFFNumberOfStrips(tif);
    ASSERT_GT(strips, 0u);
    for (tstrip_t s = 0; s < strips; ++s) {
        std::vector<std::uint8_t> raw(TIFFGetStrileByteCount(tif, s));
        std::vector<std::uint8_t> expected(std::size_t(TIFFStripSize(tif)));
        ASSERT_EQ(TIFFReadRawStrip(tif, s, raw.data(), tmsize_t(raw.size())), tmsize_t(raw.size()));
        const tmsize_t size = TIFFReadEncodedStrip(tif, s, expected.data(), -1);
        ASSERT_GT(size, 0);
        expected.resize(std::size_t(size));
        std::vector<std::uint8_t> ours(expected.size() + detail::kLzwSlack);
        EXPECT_EQ(detail::decodeTiffLzw(raw.data(), raw.size(), ours.data(), expected.size()), Ok)
            << file << " strip " << s;
        ours.resize(expected.size());
        EXPECT_EQ(ours, expected) << file << " strip " << s;
    }
    TIFFClose(tif);
}

TEST(TiffRead, OwnLzwDecoderGivesLibtiffsRowsAndLeavesDoubtfulStripsToIt) {
    TempDir dir;
    const std::string in = dir.file("rgb.tif");
    ASSERT_TRUE(writePpm(dir.file("base.ppm"), makePhotoLike(203, 61)));
    make("convert " + q(dir.file("base.ppm")) + " -compress none " + q(in));
    const std::vector<std::string> commands = {
        "tiffcp -c lzw IN OUT",           // strips of about 8 KB
        "tiffcp -c lzw:2 -r 1 IN OUT",    // a row a strip, with the predictor
        "tiffcp -c lzw:2 -r 1000 IN OUT", // one strip: the table fills and clears many times
        "tiffcp -c lzw -r 7 IN OUT",      // a short last strip
        "convert IN -colors 50 -type palette -compress lzw OUT",
        "convert IN -colorspace gray -compress lzw -define tiff:predictor=2 OUT",
    };
    for (std::size_t i = 0; i < commands.size(); ++i) {
        const std::string file = dir.file("v" + std::to_string(i) + ".tif");
        std::string command = commands[i];
        command.replace(command.find("IN"), 2, q(in));
        command.replace(command.find("OUT"), 3, q(file));
        make(command);
        if (commands[i].find("lzw:2") == std::string::npos &&
            commands[i].find("predictor") == std::string::npos)
            expectStripsDecodeAsLibtiffDecodesThem(file);
        std::vector<std::string> files = {file};
        // Damaged strips (bytes overwritten past the first strip): the decoder must not judge
        // them differently from libtiff, whatever the damage makes of the codes.
        const std::vector<std::uint8_t> good = readWholeFile(file);
        for (int damage = 0; damage < 3; ++damage) {
            std::vector<std::uint8_t> bad = good;
            for (std::size_t at = good.size() / 3 + 40 * std::size_t(damage);
                 at < good.size() / 3 + 40 * std::size_t(damage) + 6; ++at)
                bad[at] = std::uint8_t(damage == 0 ? 0xFF : at * 37);
            files.push_back(
                dir.file("v" + std::to_string(i) + "-bad" + std::to_string(damage) + ".tif"));
            writeWholeFile(files.back(), bad);
        }
        for (const std::string& f : files) {
            CollectingSink libtiff, ours;
            DecodeOptions fast;
            fast.fastPaths = true;
            const int expected = detail::decodeTiffFile(f, DecodeOptions{}, libtiff);
            EXPECT_EQ(detail::decodeTiffFile(f, fast, ours), expected) << f;
            EXPECT_EQ(ours.pixels, libtiff.pixels) << f;
            if (f == file) {
                EXPECT_EQ(expected, Ok) << f;
            }
        }
    }
}

TEST(TiffRead, TiledFilesWithPartialEdgeTilesReadLikeTheirStripVersion) {
    // 1001 x 701 is a multiple of no tile size: the last tile of each row and column is partly
    // outside the picture. ImageMagick stores those edge tiles short, which libtiff's plain
    // reading refuses; tiffcp stores them whole.
    TempDir d;
    make("convert -size 1001x701 plasma:green-yellow -seed 7 -depth 8 " + q(d.file("strips.tif")));
    Raster reference;
    ASSERT_EQ(readTiff(d.file("strips.tif"), 24, 0, reference), Ok);
    int n = 0;
    for (const char* tile : {"256x256", "16x16", "128x64"}) {
        for (const char* compression : {"none", "lzw", "zip"}) {
            const std::string name = d.file("im" + std::to_string(n++) + ".tif");
            make("convert " + q(d.file("strips.tif")) + " -compress " + compression +
                 " -define tiff:tile-geometry=" + tile + " " + q(name));
            Raster r;
            ASSERT_EQ(readTiff(name, 24, 0, r), Ok) << tile << " " << compression;
            EXPECT_EQ(maxDifference(r, reference), 0) << tile << " " << compression;
        }
    }
    for (const char* compression : {"none", "lzw", "packbits"}) {
        const std::string name = d.file(std::string("cp-") + compression + ".tif");
        make(std::string("tiffcp -c ") + compression + " -t -w 128 -l 96 " +
             q(d.file("strips.tif")) + " " + q(name));
        Raster r;
        ASSERT_EQ(readTiff(name, 24, 0, r), Ok) << compression;
        EXPECT_EQ(maxDifference(r, reference), 0) << compression;
    }
}

} // namespace
} // namespace pixmoor::codec::test
