// Files as the usual programs write them: ImageMagick, GraphicsMagick, libvips, Pillow, netpbm,
// libtiff's tiffcp, libjpeg's cjpeg and jpegtran, exiftool. Each is made from one small picture
// (with and without alpha) and read with the codec; the result must match ImageMagick's reading
// of the same file, or the source picture where ImageMagick itself misreads the file.
#include "imaging/codec/codec.h"
#include "imaging/codec/errors.h"
#include "tests/codec/format_test_util.h"

#include <gtest/gtest.h>

#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace pixmoor::codec::test {
namespace {

using pixmoor::test::run;
using pixmoor::test::TempDir;

// What a decoded file is compared with.
enum class Reference {
    Peer,           // ImageMagick's reading of the file, alpha over white
    Upright,        // the same, turned upright by its EXIF orientation
    Source,         // the source picture (alpha over white) itself
    Pillow,         // Pillow's reading, alpha over white
    GraphicsMagick, // GraphicsMagick's reading
};

struct Case {
    const char* name;
    const char* command; // BASE: the RGB PNG, ALPHA: the RGBA PNG, PPM: the RGB PPM, OUT: the file
    Reference reference = Reference::Peer;
    int tolerance = 1;  // largest difference of a channel
    double minPsnr = 0; // when set, the least PSNR instead of the tolerance
};

constexpr int kWidth = 67, kHeight = 45; // odd sizes: padded rows, partial tiles and blocks

class RealWorldFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = std::make_unique<TempDir>();
        Raster base = makePhotoLike(kWidth, kHeight);
        for (int y = 0; y < kHeight; ++y) // flat blocks among the gradients
            for (int x = 0; x < kWidth; ++x)
                if ((x / 9 + y / 7) % 4 == 0) std::copy_n("\xFA\xFA\x14", 3, base.row(y) + 3 * x);
        ASSERT_TRUE(writePpm(dir_->file("base.ppm"), base));
        make("convert " + q(dir_->file("base.ppm")) + " " + q(dir_->file("base.png")));
        // Alpha: clear at the left, a ramp across, opaque at the bottom.
        make("convert " + q(dir_->file("base.ppm")) +
             " \\( +clone -fx 'i < 8 ? 0 : (j > 30 ? 1 : i / w)' \\) -alpha off "
             "-compose copy_opacity -composite " +
             q(dir_->file("alpha.png")));
        plain_ = peerDecode("magick", dir_->file("base.png"), dir_->file("plain.ppm"));
        overWhite_ = peerDecode("magick", dir_->file("alpha.png"), dir_->file("white.ppm"));
        ASSERT_FALSE(plain_.empty());
        ASSERT_FALSE(overWhite_.empty());
    }
    static void TearDownTestSuite() { dir_.reset(); }

    // The command with its placeholders replaced, in one pass (so a path is never rescanned).
    static std::string expand(const std::string& command, const std::string& out) {
        const std::pair<std::string, std::string> keys[] = {{"BASE", dir_->file("base.png")},
                                                            {"ALPHA", dir_->file("alpha.png")},
                                                            {"PPM", dir_->file("base.ppm")},
                                                            {"OUT", out}};
        std::string result;
        for (std::size_t at = 0; at < command.size();) {
            bool replaced = false;
            for (const auto& [key, value] : keys)
                if (command.compare(at, key.size(), key) == 0) {
                    // A placeholder followed by a suffix (OUT.t) names a side file of its own.
                    std::size_t end = at + key.size();
                    while (end < command.size() && command[end] != ' ' && command[end] != '\'' &&
                           command[end] != ')')
                        ++end;
                    const std::string path =
                        value + command.substr(at + key.size(), end - at - key.size());
                    // Inside a quoted Python string the path goes as it is.
                    result += at > 0 && command[at - 1] == '\'' ? path : q(path);
                    at = end;
                    replaced = true;
                    break;
                }
            if (!replaced) result += command[at++];
        }
        return result;
    }

    // Makes each file, reads it and compares it with its reference.
    static void sweep(const char* prefix, const std::vector<Case>& cases) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            const std::string file = dir_->file(std::string(prefix) + "-" + c.name);
            make(expand(c.command, file));
            ImageInfo info;
            EXPECT_EQ(imageInfo(file, info), Ok);
            Raster ours;
            const int rc = readImage(file, 24, 1, 0, ours);
            if (rc != Ok) {
                ADD_FAILURE() << "not read: " << errorText(rc);
                continue;
            }
            Raster reference;
            const std::string ppm = file + ".ppm";
            switch (c.reference) {
            case Reference::Source:
                reference = std::string_view(c.command).find("ALPHA") != std::string_view::npos
                                ? overWhite_
                                : plain_;
                break;
            case Reference::Pillow:
                reference = peerDecode("pillow", file, ppm);
                break;
            case Reference::GraphicsMagick:
                make("gm convert " + q(file) + " -depth 8 " + q("ppm:" + ppm));
                reference = readPpm(ppm);
                break;
            case Reference::Upright:
                make("convert " + q(file) + " -auto-orient -depth 8 " + q("ppm:" + ppm));
                reference = readPpm(ppm);
                break;
            default:
                reference = peerDecode("magick", file, ppm);
            }
            if (reference.empty() || ours.width != reference.width ||
                ours.height != reference.height) {
                ADD_FAILURE() << "no reference of the same size";
                continue;
            }
            if (c.minPsnr > 0)
                EXPECT_GE(psnr(ours, reference), c.minPsnr);
            else
                EXPECT_LE(maxDifference(ours, reference), c.tolerance);
        }
    }

    static std::unique_ptr<TempDir> dir_;
    static Raster plain_, overWhite_;
};

std::unique_ptr<TempDir> RealWorldFiles::dir_;
Raster RealWorldFiles::plain_, RealWorldFiles::overWhite_;

// Pillow: `IMAGE` is the opened BASE (or ALPHA with PILA) picture.
#define PIL(code)                                                                                  \
    "/usr/bin/python3 -c \"from PIL import Image; IMAGE = Image.open('BASE'); " code "\""
#define PILA(code)                                                                                 \
    "/usr/bin/python3 -c \"from PIL import Image; IMAGE = Image.open('ALPHA'); " code "\""

TEST_F(RealWorldFiles, TiffLayoutsOfTheUsualWriters) {
    sweep(
        "tiff",
        {
            // ImageMagick
            {"im-zip", "convert BASE -compress zip tif:OUT"},
            {"im-jpeg", "convert BASE -compress jpeg tif:OUT"},
            {"im-rgb16-predictor",
             "convert BASE -depth 16 -compress lzw -define tiff:predictor=2 tif:OUT"},
            {"im-float", "convert BASE -define quantum:format=floating-point -depth 32 tif:OUT"},
            {"im-float-predictor", "convert BASE -define quantum:format=floating-point -depth 32 "
                                   "-compress lzw -define tiff:predictor=3 tif:OUT"},
            {"im-half", "convert BASE -define quantum:format=floating-point -depth 16 tif:OUT"},
            {"im-gray-float", "convert BASE -colorspace gray -define quantum:format=floating-point "
                              "-depth 32 tif:OUT"},
            {"im-rgb32", "convert BASE -depth 32 tif:OUT"},
            {"im-gray12", "convert BASE -colorspace gray -depth 12 tif:OUT"},
            {"im-rgb10", "convert BASE -depth 10 -compress lzw tif:OUT"},
            {"im-alpha16", "convert ALPHA -depth 16 tif:OUT"},
            {"im-gray-alpha", "convert ALPHA -colorspace gray tif:OUT"},
            {"im-gray-alpha16", "convert ALPHA -colorspace gray -depth 16 tif:OUT"},
            {"im-palette-alpha", "convert ALPHA -colors 30 -type PaletteAlpha tif:OUT"},
            // ImageMagick turns the colours of its own CMYK with alpha into others.
            {"im-cmyk-alpha", "convert ALPHA -colorspace CMYK tif:OUT", Reference::Source, 3},
            {"im-ycbcr", "convert BASE -colorspace YCbCr tif:OUT"},
            {"im-lab", "convert BASE -colorspace Lab tif:OUT", Reference::Peer, 0, 28},
            {"im-tile-jpeg",
             "convert BASE -define tiff:tile-geometry=16x16 -compress jpeg tif:OUT"},
            {"im-msb-first", "convert BASE -define tiff:endian=msb -compress lzw tif:OUT"},
            {"im-two-pages", "convert BASE ALPHA -compress lzw tif:OUT"},
            {"im-pyramid", "convert BASE ptif:OUT"},
            // GraphicsMagick
            {"gm-jpeg", "gm convert BASE -compress jpeg tif:OUT"},
            {"gm-ycbcr-jpeg",
             "gm convert BASE -compress jpeg -define tiff:photometric=ycbcr tif:OUT"},
            {"gm-float16", "gm convert BASE -define tiff:sample-format=ieeefp -depth 16 tif:OUT"},
            {"gm-float24", "gm convert BASE -define tiff:sample-format=ieeefp "
                           "-define tiff:bits-per-sample=24 tif:OUT"},
            {"gm-float-predictor", "gm convert BASE -define tiff:sample-format=ieeefp -depth 32 "
                                   "-compress lzw -define tiff:predictor=3 tif:OUT"},
            {"gm-separate", "gm convert BASE -interlace plane -compress lzw tif:OUT"},
            {"gm-cmyk", "gm convert BASE -colorspace CMYK tif:OUT"},
            {"gm-tiles", "gm convert BASE -define tiff:tile-geometry=32x32 -compress lzw tif:OUT"},
            // ImageMagick reads 24-bit integer samples as garbage.
            {"gm-rgb24", "gm convert BASE -define tiff:bits-per-sample=24 tif:OUT",
             Reference::GraphicsMagick},
            {"tc-rgb24-big-endian",
             "gm convert BASE -define tiff:bits-per-sample=24 tif:OUT.t && tiffcp -B OUT.t OUT",
             Reference::Source, 0},
            // libtiff's tiffcp
            {"tc-ycbcr-jpeg", "convert BASE tif:OUT.t && tiffcp -c jpeg:90 -r 16 OUT.t OUT"},
            {"tc-bigtiff", "convert BASE tif:OUT.t && tiffcp -8 -c lzw:2 OUT.t OUT"},
            {"tc-bigtiff-tiles",
             "convert BASE tif:OUT.t && tiffcp -8 -t -w 16 -l 16 -c zip OUT.t OUT"},
            {"tc-separate-tiles",
             "convert BASE tif:OUT.t && tiffcp -p separate -t -w 32 -l 16 -c zip OUT.t OUT"},
            {"tc-separate-alpha", "convert ALPHA tif:OUT.t && tiffcp -p separate -c lzw OUT.t OUT"},
            {"tc-separate-cmyk",
             "convert BASE -colorspace CMYK tif:OUT.t && tiffcp -p separate OUT.t OUT"},
            {"im-separate-float-tiles",
             "convert BASE -define quantum:format=floating-point -depth 32 "
             "-interlace plane -define tiff:tile-geometry=16x16 tif:OUT"},
            {"gm-separate-half", "gm convert BASE -define tiff:sample-format=ieeefp -depth 16 "
                                 "-interlace plane -compress zip -define tiff:predictor=3 tif:OUT"},
            {"tc-float-big-endian", "convert BASE -define quantum:format=floating-point -depth 32 "
                                    "tif:OUT.t && tiffcp -B -c lzw:3 OUT.t OUT"},
            {"tc-gray12-tiles", "convert BASE -colorspace gray -depth 12 tif:OUT.t && "
                                "tiffcp -B -t -w 16 -l 16 -c lzw OUT.t OUT"},
            // Pillow
            {"pil-deflate", PIL("IMAGE.save('OUT', 'TIFF', compression='tiff_adobe_deflate')")},
            {"pil-jpeg", PIL("IMAGE.save('OUT', 'TIFF', compression='jpeg')")},
            {"pil-rgba", PILA("IMAGE.save('OUT', 'TIFF', compression='tiff_lzw')")},
            // ImageMagick reads the JPEG-compressed alpha as if premultiplied (about 20 dB).
            {"pil-rgba-jpeg", PILA("IMAGE.save('OUT', 'TIFF', compression='jpeg')"),
             Reference::Source, 0, 32},
            {"pil-la", PILA("IMAGE.convert('LA').save('OUT', 'TIFF')")},
            {"pil-bilevel-g4", PIL("IMAGE.convert('1').save('OUT', 'TIFF', compression='group4')")},
            {"pil-i16", PIL("IMAGE.convert('L').convert('I;16').save('OUT', 'TIFF')")},
            {"pil-i32", PIL("IMAGE.convert('L').convert('I').save('OUT', 'TIFF')")},
            {"pil-float", PIL("IMAGE.convert('L').convert('F').save('OUT', 'TIFF')")},
            {"pil-ycbcr", PIL("IMAGE.convert('YCbCr').save('OUT', 'TIFF')")},
            // libvips
            {"vips-jpeg", "vips tiffsave BASE OUT --compression jpeg --Q 90"},
            {"vips-pyramid", "vips tiffsave BASE OUT --tile --pyramid --tile-width 16 "
                             "--tile-height 16 --compression jpeg"},
            {"vips-subifd", "vips tiffsave BASE OUT --tile --pyramid --subifd --tile-width 16 "
                            "--tile-height 16"},
            {"vips-float", "vips linear BASE OUT.v 0.00392156862 0 && vips tiffsave OUT.v OUT "
                           "--compression lzw --predictor float"},
            {"vips-2bit",
             "vips colourspace BASE OUT.v b-w && vips tiffsave OUT.v OUT --bitdepth 2"},
            {"vips-webp", "vips tiffsave BASE OUT --compression webp"},
            {"vips-zstd", "vips tiffsave BASE OUT --compression zstd"},
        });
}

TEST_F(RealWorldFiles, BmpLayoutsOfTheUsualWriters) {
    sweep("bmp", {
                     {"im-v5", "convert BASE BMP:OUT"},
                     {"im-v5-alpha", "convert ALPHA BMP:OUT"},
                     {"im-os2", "convert BASE BMP2:OUT"},
                     {"im-565", "convert BASE -define bmp:subtype=RGB565 BMP:OUT"},
                     // ImageMagick misplaces the colours of its own 16-bit alpha layouts.
                     {"im-argb4444", "convert ALPHA -define bmp:subtype=ARGB4444 BMP:OUT",
                      Reference::Source, 24},
                     {"im-rle8-v5", "convert BASE -colors 100 -compress RLE BMP:OUT"},
                     {"im-palette4-v5", "convert BASE -colors 12 BMP:OUT"},
                     {"im-bilevel-v4", "convert BASE -monochrome BMP:OUT"},
                     {"gm-v4-alpha", "gm convert ALPHA BMP:OUT"},
                     {"gm-rle8", "gm convert BASE -colors 100 -compress RLE BMP:OUT"},
                     {"gm-os2", "gm convert BASE BMP2:OUT"},
                     {"pil-palette", PIL("IMAGE.convert('P').save('OUT', 'BMP')")},
                     {"pil-bilevel", PIL("IMAGE.convert('1').save('OUT', 'BMP')")},
                     {"vips-alpha", "vips magicksave ALPHA OUT --format bmp"},
                     {"netpbm-os2-4", "pngtopnm BASE | pnmquant 12 | ppmtobmp -os2 > OUT"},
                     {"netpbm-8", "pngtopnm BASE | pnmquant 100 | ppmtobmp > OUT"},
                 });
}

TEST_F(RealWorldFiles, PcxLayoutsOfTheUsualWriters) {
    // ImageMagick reads 1-bit PCX with black and white swapped.
    sweep("pcx",
          {
              {"im-24", "convert BASE PCX:OUT"},
              {"im-alpha", "convert ALPHA PCX:OUT"},
              {"im-8", "convert BASE -colors 100 PCX:OUT"},
              {"im-66-wide", "convert BASE -crop 66x45+0+0 +repage PCX:OUT"},
              {"gm-24-plain", "gm convert BASE PCX:OUT"},
              {"gm-8-plain", "gm convert BASE -colors 100 PCX:OUT"},
              {"gm-alpha", "gm convert ALPHA PCX:OUT"},
              {"pil-24", PIL("IMAGE.save('OUT', 'PCX')")},
              {"pil-8", PIL("IMAGE.convert('P').save('OUT', 'PCX')")},
              {"pil-gray", PIL("IMAGE.convert('L').save('OUT', 'PCX')")},
              {"netpbm-16-planes", "pngtopnm BASE | pnmquant 12 | ppmtopcx > OUT"},
              {"netpbm-16-packed", "pngtopnm BASE | pnmquant 12 | ppmtopcx -packed > OUT"},
              {"vips-24", "vips magicksave BASE OUT --format pcx"},
              {"gm-bilevel-plain", "gm convert BASE -monochrome PCX:OUT", Reference::GraphicsMagick,
               0},
              {"pil-bilevel", PIL("IMAGE.convert('1').save('OUT', 'PCX')"), Reference::Pillow, 0},
          });
}

TEST_F(RealWorldFiles, PngLayoutsOfTheUsualWriters) {
    sweep(
        "png",
        {
            {"im-rgb16", "convert BASE -depth 16 PNG48:OUT"},
            {"im-rgba16-adam7", "convert ALPHA -depth 16 -interlace PNG PNG64:OUT"},
            {"im-gray-alpha16", "convert ALPHA -colorspace gray -depth 16 PNG:OUT"},
            {"im-palette-trns", "convert ALPHA -colors 50 PNG8:OUT"},
            {"im-rgb-trns", "convert BASE -transparent 'rgb(250,250,20)' PNG24:OUT"},
            {"gm-rgb16", "gm convert BASE -depth 16 PNG48:OUT"},
            {"gm-interlaced", "gm convert BASE -interlace line PNG:OUT"},
            {"pil-la", PILA("IMAGE.convert('LA').save('OUT', 'PNG')")},
            {"pil-palette-trns", PILA("IMAGE.quantize(40).save('OUT', 'PNG')")},
            {"pil-i16", PIL("IMAGE.convert('L').convert('I;16').save('OUT', 'PNG')")},
            {"pil-gray-trns", PIL("IMAGE.convert('L').save('OUT', 'PNG', transparency=200)")},
            {"pil-icc", PIL("IMAGE.save('OUT', 'PNG', icc_profile=bytes(3000))")},
            {"pil-gama-sbit", PIL("from PIL import PngImagePlugin; i = PngImagePlugin.PngInfo(); "
                                  "i.add(b'gAMA', (45455).to_bytes(4, 'big')); "
                                  "i.add(b'sBIT', bytes([5, 6, 5])); "
                                  "IMAGE.save('OUT', 'PNG', pnginfo=i)")},
            {"pil-big-ztxt", PIL("from PIL import PngImagePlugin; i = PngImagePlugin.PngInfo(); "
                                 "i.add_text('Comment', 'x' * 9000000, zip=True); "
                                 "IMAGE.save('OUT', 'PNG', pnginfo=i)")},
            {"pil-big-itxt", PIL("from PIL import PngImagePlugin; i = PngImagePlugin.PngInfo(); "
                                 "i.add_itxt('XML:com.adobe.xmp', 'x' * 2000000); "
                                 "IMAGE.save('OUT', 'PNG', pnginfo=i)")},
            {"vips-palette", "vips pngsave ALPHA OUT --palette"},
            {"vips-rgba16", "vips pngsave ALPHA OUT --bitdepth 16"},
            {"vips-2bit", "vips colourspace BASE OUT.v b-w && vips pngsave OUT.v OUT --bitdepth 2"},
            {"netpbm-alpha",
             "pngtopnm -alpha ALPHA > OUT.a && pngtopnm BASE | pnmtopng -alpha OUT.a "
             "> OUT"},
        });
}

TEST_F(RealWorldFiles, GifLayoutsOfTheUsualWriters) {
    sweep("gif",
          {
              {"im-interlaced", "convert BASE -colors 64 -interlace GIF GIF:OUT"},
              {"im-transparent", "convert ALPHA -colors 64 GIF:OUT"},
              {"im-local-palettes", "convert BASE \\( BASE -negate \\) -delay 10 -loop 0 GIF:OUT"},
              {"im-disposal", "convert -dispose previous -delay 10 BASE "
                              "\\( ALPHA -crop 30x20+10+10 \\) GIF:OUT"},
              {"gm-transparent", "gm convert ALPHA GIF:OUT"},
              {"pil-interlaced-87a", PIL("IMAGE.save('OUT', 'GIF')")},
              {"pil-transparent", PILA("IMAGE.save('OUT', 'GIF')")},
              {"pil-local-palettes",
               PIL("a = IMAGE.quantize(30); b = IMAGE.point(lambda v: 255 - v).quantize(60); "
                   "a.save('OUT', 'GIF', save_all=True, append_images=[b], duration=100, loop=0)")},
              {"pil-comment", PIL("IMAGE.save('OUT', 'GIF', comment=b'x' * 5000)")},
              {"vips-4bit", "vips gifsave BASE OUT --dither 1 --bitdepth 4"},
              {"netpbm-uncompressed", "pngtopnm BASE | pnmquant 200 | ppmtogif -nolzw > OUT"},
          });
}

TEST_F(RealWorldFiles, JpegLayoutsOfTheUsualWriters) {
    sweep("jpeg",
          {
              {"cjpeg-411", "cjpeg -sample 4x1 PPM > OUT"},
              {"cjpeg-440", "cjpeg -sample 1x2 PPM > OUT"},
              {"cjpeg-410", "cjpeg -sample 4x2 PPM > OUT"},
              {"cjpeg-rgb", "cjpeg -rgb -progressive PPM > OUT"},
              {"cjpeg-arithmetic-progressive", "cjpeg -arithmetic -progressive PPM > OUT"},
              {"cjpeg-restart-blocks", "cjpeg -restart 3B PPM > OUT"},
              {"jpegtran-crop", "cjpeg -sample 1x1 PPM | jpegtran -crop 48x32+8+8 > OUT"},
              {"im-ycck", "convert BASE -colorspace CMYK -define jpeg:colorspace=11 JPEG:OUT"},
              {"im-cmyk-progressive", "convert BASE -colorspace CMYK -interlace JPEG JPEG:OUT"},
              {"gm-cmyk", "gm convert BASE -colorspace CMYK JPEG:OUT"},
              {"pil-cmyk", PIL("IMAGE.convert('CMYK').save('OUT', 'JPEG')")},
              {"pil-big-icc", PIL("IMAGE.save('OUT', 'JPEG', icc_profile=bytes(200000))")},
              {"pil-big-exif",
               PIL("e = IMAGE.getexif(); e[0x10E] = 'x' * 60000; e[0x112] = 3; "
                   "IMAGE.save('OUT', 'JPEG', exif=e)"),
               Reference::Upright},
              {"vips-restart", "vips jpegsave BASE OUT --restart-interval 2"},
              {"vips-quant-table", "vips jpegsave BASE OUT --quant-table 3 --subsample-mode on"},
              {"exiftool-camera",
               "cjpeg -sample 2x1 PPM > OUT && exiftool -q -overwrite_original -n "
               "-Make=Camera -Model=One -Orientation=6 OUT",
               Reference::Upright},
              {"exiftool-orientation-5",
               "cjpeg PPM > OUT && exiftool -q -overwrite_original -n -Orientation=5 OUT",
               Reference::Upright},
          });
}

// The layouts read sample by sample with their pixel data damaged (the directory, at the end of
// these files, intact): an error and no picture, or a whole picture; never a crash.
TEST_F(RealWorldFiles, DamagedSampleLayoutsGiveAnErrorOrAPicture) {
    const std::pair<const char*, const char*> layouts[] = {
        {"float-predictor", "convert BASE -define quantum:format=floating-point -depth 32 "
                            "-compress lzw -define tiff:predictor=3 tif:OUT"},
        {"half-planes", "gm convert BASE -define tiff:sample-format=ieeefp -depth 16 "
                        "-interlace plane -compress zip tif:OUT"},
        {"gray12-tiles", "convert BASE -colorspace gray -depth 12 tif:OUT.t && "
                         "tiffcp -t -w 16 -l 16 -c lzw OUT.t OUT"},
        {"gray12-raw", "convert BASE -colorspace gray -depth 12 -compress none tif:OUT"},
        {"gray-alpha16", "convert ALPHA -colorspace gray -depth 16 -compress lzw tif:OUT"},
    };
    for (const auto& [name, command] : layouts) {
        SCOPED_TRACE(name);
        const std::string file = dir_->file(std::string("damaged-") + name);
        make(expand(command, file));
        const std::vector<std::uint8_t> whole = readWholeFile(file);
        ASSERT_GT(whole.size(), 16u);
        const std::size_t directory =
            std::size_t(whole[4] | whole[5] << 8 | whole[6] << 16 | whole[7] << 24);
        ASSERT_LT(directory, whole.size());
        for (const int step : {1, 7, 61}) {
            std::vector<std::uint8_t> spoilt = whole;
            for (std::size_t i = 8 + std::size_t(step); i < directory; i += std::size_t(step))
                spoilt[i] = std::uint8_t(i * 37 + std::size_t(step));
            writeWholeFile(file, spoilt);
            Raster out;
            const int rc = readImage(file, 24, 1, 0, out);
            if (succeeded(rc))
                EXPECT_TRUE(out.width == kWidth && out.height == kHeight) << step;
            else
                EXPECT_TRUE(out.empty()) << step;
        }
    }
}

} // namespace
} // namespace pixmoor::codec::test
