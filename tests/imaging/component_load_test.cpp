// TPMultiImage loading, image information and saving, on files made by ImageMagick and Pillow.
#include "imaging/TMultiP.h"
#include "imaging/codec/codec.h"
#include "imaging/codec/errors.h"
#include "imaging/file_types.h"
#include "tests/imaging/imaging_test_util.h"
#include "tests/support/test_dirs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace pixmoor;
using namespace pixmoor::test;

namespace {

// One directory of source images shared by the tests of this file.
class ComponentLoad : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        const std::string d = dir_->path().string() + "/";
        // A 64 x 48 picture with a few colours, in every format the component reads.
        magick("-size 64x48 xc:red -fill blue -draw 'rectangle 0,0 31,47' " + d + "src.png");
        for (const char* name : {"a.bmp", "a.png", "a.gif", "a.tif", "a.pcx", "a.jpg", "B.BMP",
                                 "photo.jpeg", "photo.jpe", "scan.tiff"})
            magick(d + "src.png " + d + name);
        magick(d + "src.png bmp3:" + d + "thumb.thb");
        magick(d + "src.png jpg:" + d + "thumb.thj");
        magick("-size 40x30 xc:green " + d + "other.png");
        magick("-size 800x600 xc:orange " + d + "big.jpg");
        // Many colours, so that every asked depth is used to the full.
        magick("-size 96x64 -seed 7 plasma:red-blue " + d + "rich.png");
        std::ofstream(d + "broken.png") << "this is not a picture at all";
        // A PNG cut off in its pixel data: its header still reads.
        python("data = open('" + d + "a.png','rb').read()\nopen('" + d +
               "cut.png','wb').write(data[:60])\n");
        magick("-size 32x32 xc:yellow " + d + "icon.png");
        ASSERT_EQ(run("icotool -c -o " + d + "a.ico " + d + "icon.png"), 0);
        writeSimpleWmf(d + "a.wmf", 96, 48, 0, 128, 0);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static QString file(const std::string& name) { return qs(dir_->file(name)); }

    static TempDir* dir_;
};
TempDir* ComponentLoad::dir_ = nullptr;

QString upper(const QString& s) {
    return s.toUpper();
}

} // namespace

TEST(ComponentRules, ExtensionIsUpperCasedAndCutToFourCharacters) {
    EXPECT_EQ(loadExtension("scan.tiff"), ".TIF");
    EXPECT_EQ(loadExtension("photo.jpeg"), ".JPE");
    EXPECT_EQ(loadExtension("/x/a.b/Pic.Bmp"), ".BMP");
    EXPECT_EQ(loadExtension("/x/a.b/noext"), "");
    EXPECT_EQ(loadExtension("name."), ".");
}

TEST(ComponentRules, DeviceColorBitsClasses) {
    EXPECT_EQ(DeviceColorBits(1), 4);
    EXPECT_EQ(DeviceColorBits(4), 4);
    EXPECT_EQ(DeviceColorBits(5), 8);
    EXPECT_EQ(DeviceColorBits(15), 8);
    EXPECT_EQ(DeviceColorBits(16), 24);
    EXPECT_EQ(DeviceColorBits(32), 24);
    TPMultiImage image;
    EXPECT_EQ(image.displayBits(), 24); // offscreen and Xvfb screens are 24 bits deep
}

TEST_F(ComponentLoad, EveryCodecExtensionLoadsThroughItsDecoder) {
    MessageLog log;
    TPMultiImage image;
    struct Case {
        const char* name;
        const char* format;
    } cases[] = {{"a.bmp", "BMP"},      {"B.BMP", "BMP"},       {"a.png", "PNG"},
                 {"a.gif", "GIF"},      {"a.tif", "TIFF"},      {"a.pcx", "PCX"},
                 {"a.jpg", "JPEG"},     {"photo.jpeg", "JPEG"}, {"photo.jpe", "JPEG"},
                 {"scan.tiff", "TIFF"}, {"thumb.thb", "BMP"},   {"thumb.thj", "JPEG"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        image.setImageName(file("other.png")); // something else first
        ASSERT_EQ(image.Picture().width(), 40);
        image.setImageName(file(c.name));
        EXPECT_EQ(image.Picture().kind(), Picture::Kind::Bitmap);
        EXPECT_EQ(image.Picture().width(), 64);
        EXPECT_EQ(image.Picture().height(), 48);
        EXPECT_EQ(image.LoadStatus(), upper(file(c.name)));
        EXPECT_EQ(image.imageInfo().InfoFormat, c.format);
        EXPECT_EQ(image.imageInfo().InfoWidth, 64);
        EXPECT_EQ(image.imageInfo().InfoSize,
                  std::int32_t(std::filesystem::file_size(dir_->file(c.name))));
        // Left half blue, right half red, whatever the format.
        const QImage bitmap = image.Picture().bitmap();
        EXPECT_LT(qRed(bitmap.pixel(5, 5)), 60);
        EXPECT_GT(qBlue(bitmap.pixel(5, 5)), 190);
        EXPECT_GT(qRed(bitmap.pixel(60, 40)), 190);
    }
    // Names reach the file system exactly as given, odd characters included.
    const QString odd = file("odd n\u00e4me 'x' $HOME.png");
    ASSERT_TRUE(QFile::copy(file("a.png"), odd));
    image.setImageName(odd);
    EXPECT_EQ(image.Picture().width(), 64);
    EXPECT_EQ(image.imageInfo().InfoFormat, "PNG");
    EXPECT_TRUE(log.boxes().empty());
}

TEST_F(ComponentLoad, UnknownExtensionKeepsThePictureAndMissingFileEmptiesIt) {
    MessageLog log;
    TPMultiImage image;
    image.setImageName(file("a.png"));
    const QString text = file("notes.txt");
    QFile(text).open(QIODevice::WriteOnly);
    image.setImageName(text);
    EXPECT_EQ(image.Picture().width(), 64); // nothing matched: the picture stays
    EXPECT_EQ(image.LoadStatus(), upper(text));

    image.setImageName(file("missing.bmp"));
    EXPECT_TRUE(image.Picture().isEmpty());
    EXPECT_EQ(image.LoadStatus(), "file not found");
    // Reading the property loads again and yields the status.
    EXPECT_EQ(image.ImageName(), "file not found");
    EXPECT_TRUE(log.boxes().empty());

    // A bare name resolves against the working directory.
    const QString before = QDir::currentPath();
    QDir::setCurrent(qs(dir_->path().string()));
    image.setImageName("a.gif");
    QDir::setCurrent(before);
    EXPECT_EQ(image.Picture().width(), 64);
    EXPECT_EQ(image.LoadStatus(), "A.GIF");
}

TEST_F(ComponentLoad, DecoderFailureShowsLibraryTextThenReadingFailed) {
    MessageLog log;
    TPMultiImage image;
    image.setImageName(file("a.png"));
    image.setImageName(file("cut.png"));
    ASSERT_GE(log.boxes().size(), 2u);
    EXPECT_EQ(log.boxes()[0].kind, MessageKind::Error);
    EXPECT_FALSE(log.boxes()[0].text.isEmpty());
    EXPECT_NE(log.boxes()[0].text, "Reading png file failed");
    EXPECT_EQ(log.boxes()[1].kind, MessageKind::Information);
    EXPECT_EQ(log.boxes()[1].text, "Reading png file failed");
    EXPECT_EQ(log.boxes()[1].buttons, std::vector<MessageButton>{MessageButton::Ok});
    // Both name the file under their unchanged message.
    EXPECT_EQ(log.boxes()[0].detail, QFileInfo(file("cut.png")).absoluteFilePath());
    EXPECT_EQ(log.boxes()[1].detail, QFileInfo(file("cut.png")).absoluteFilePath());
    EXPECT_TRUE(image.Picture().isEmpty());
    EXPECT_EQ(image.LoadStatus(), upper(file("cut.png")));

    // Not a PNG at all: the information call fails as well and shows the library's text again.
    log.clear();
    image.setImageName(file("broken.png"));
    ASSERT_EQ(log.boxes().size(), 3u);
    EXPECT_EQ(log.boxes()[1].text, "Reading png file failed");
    EXPECT_EQ(log.boxes()[2].kind, MessageKind::Error);
    EXPECT_TRUE(image.Picture().isEmpty());

    // The same bytes under .gif name the gif decoder.
    log.clear();
    const QString gif = file("broken.gif");
    QFile::copy(file("broken.png"), gif);
    image.setImageName(gif);
    ASSERT_GE(log.boxes().size(), 2u);
    EXPECT_EQ(log.boxes()[1].text, "Reading gif file failed");
}

TEST_F(ComponentLoad, ResourcesLoadByNumberAndByNameAndMissingOnesFail) {
    MessageLog log;
    TPMultiImage image;
    image.setImageName("1.res"); // no such file: .RES goes to the resources, not "file not found"
    EXPECT_EQ(image.Picture().width(), 48);
    EXPECT_EQ(image.Picture().bitmap().format(), QImage::Format_Indexed8);
    EXPECT_EQ(image.LoadStatus(), "1.RES");
    EXPECT_EQ(image.imageInfo().InfoFormat, "RES");
    EXPECT_EQ(image.imageInfo().InfoDetail, "BMP");
    EXPECT_EQ(image.imageInfo().InfoWidth, 48);
    EXPECT_GT(image.imageInfo().InfoSize, 48 * 48);

    image.setImageName("/some/dir/NoPicture.Res");
    EXPECT_EQ(image.Picture().width(), 32);
    image.setImageName("001.res"); // read as the number 1
    EXPECT_EQ(image.Picture().width(), 48);
    EXPECT_TRUE(log.boxes().empty());

    image.setImageName("x.res");
    EXPECT_TRUE(image.Picture().isEmpty());
    ASSERT_EQ(log.boxes().size(), 1u);
    EXPECT_EQ(log.boxes()[0].text, "Reading resource file failed");
    EXPECT_EQ(image.LoadStatus(), "X.RES");
}

TEST_F(ComponentLoad, IconsAndMetafilesGoThroughThePicture) {
    MessageLog log;
    TPMultiImage image;
    image.setImageName(file("a.ico"));
    EXPECT_EQ(image.Picture().kind(), Picture::Kind::Icon);
    EXPECT_EQ(image.LoadStatus(), "Non TIF, JPeg, BMP, GIF, PNG or PCX Image");
    EXPECT_EQ(image.imageInfo().InfoFormat, "ICO");
    EXPECT_EQ(image.imageInfo().InfoDetail, "ICO");
    EXPECT_EQ(image.imageInfo().InfoWidth, 32);
    EXPECT_EQ(image.imageInfo().InfoSize,
              std::int32_t(std::filesystem::file_size(dir_->file("a.ico"))));

    image.setImageName(file("a.wmf"));
    EXPECT_EQ(image.Picture().kind(), Picture::Kind::Metafile);
    EXPECT_EQ(image.imageInfo().InfoFormat, "WMF");
    EXPECT_EQ(image.Picture().width(), 96);
    EXPECT_TRUE(log.boxes().empty());

    // A damaged icon: the picture's error reaches the caller, the picture is empty.
    const QString bad = file("bad.ico");
    QFile::copy(file("broken.png"), bad);
    EXPECT_THROW(image.setImageName(bad), std::exception);
    EXPECT_TRUE(image.Picture().isEmpty());

    // Information about a missing metafile.
    EXPECT_FALSE(image.ReadImageInfo(file("none.wmf")));
    EXPECT_EQ(image.imageInfo().InfoFormat, "ERR");
    EXPECT_EQ(image.imageInfo().InfoDetail, "ERR");
    EXPECT_EQ(image.imageInfo().InfoWidth, -1);
    EXPECT_EQ(image.imageInfo().InfoSize, -1);
}

TEST_F(ComponentLoad, AutoSizeTakesThePictureSizeAtTheSamePlace) {
    MessageLog log;
    QWidget parent;
    TPMultiImage image(&parent);
    image.move(7, 9);
    image.setAutoSize(true);
    image.setImageName(file("a.png"));
    EXPECT_EQ(image.geometry(), QRect(7, 9, 64, 48));
    image.setImageName(file("missing.png")); // an empty picture leaves the size alone
    EXPECT_EQ(image.size(), QSize(64, 48));
}

TEST_F(ComponentLoad, ReadResolutionSetsTheDecodedDepth) {
    MessageLog log;
    TPMultiImage image;
    image.setImageReadRes(lMonoChrome);
    image.setImageName(file("a.png"));
    EXPECT_LE(image.Picture().bitmap().colorCount(), 2);
    EXPECT_EQ(image.Picture().bitmap().format(), QImage::Format_Indexed8);
    image.setImageReadRes(lColorTrue);
    image.setImageName(file("a.png"));
    EXPECT_EQ(image.Picture().bitmap().format(), QImage::Format_RGB888);
    image.setImageReadRes(lAutoMatic); // the 24-bit screen
    image.setImageName(file("a.gif"));
    EXPECT_EQ(image.Picture().bitmap().format(), QImage::Format_RGB888);
}

TEST_F(ComponentLoad, ThumbnailLoadScalesJpegAndStillFillsTheInformation) {
    MessageLog log;
    TPMultiImage image;
    image.loadForSize(file("big.jpg"), QSize(100, 75));
    EXPECT_EQ(image.Picture().width(), 100); // 800 / 8
    EXPECT_EQ(image.Picture().height(), 75);
    EXPECT_EQ(image.imageInfo().InfoWidth, 800);
    EXPECT_EQ(image.imageInfo().InfoFormat, "JPEG");
    image.loadForSize(file("big.jpg"), QSize(300, 200));
    EXPECT_EQ(image.Picture().width(), 400);
    image.loadForSize(file("a.png"), QSize(10, 10)); // other formats load whole
    EXPECT_EQ(image.Picture().width(), 64);
    EXPECT_TRUE(log.boxes().empty());
}

// ---- saving ------------------------------------------------------------------------------------

TEST(ComponentRules, JpegQualityAndSmoothingWriteRules) {
    TPMultiImage image;
    EXPECT_EQ(image.JPegSaveQuality(), 25);
    EXPECT_EQ(image.JPegSaveSmooth(), 0);
    image.setJPegSaveQuality(100);
    EXPECT_EQ(image.JPegSaveQuality(), 100);
    image.setJPegSaveQuality(0);
    EXPECT_EQ(image.JPegSaveQuality(), 25);
    image.setJPegSaveQuality(1);
    EXPECT_EQ(image.JPegSaveQuality(), 1);
    image.setJPegSaveQuality(101);
    EXPECT_EQ(image.JPegSaveQuality(), 25);
    image.setJPegSaveSmooth(100);
    EXPECT_EQ(image.JPegSaveSmooth(), 100);
    image.setJPegSaveSmooth(200);
    EXPECT_EQ(image.JPegSaveSmooth(), 5);
}

namespace {
codec::ImageInfo infoOf(const std::string& path) {
    codec::ImageInfo info;
    EXPECT_TRUE(codec::succeeded(codec::imageInfo(path, info))) << path;
    return info;
}
} // namespace

TEST_F(ComponentLoad, SavedDepthFollowsTheWriteResolutionPerFormat) {
    MessageLog log;
    TPMultiImage image;
    image.setImageReadRes(lColorTrue);
    image.setImageName(file("rich.png"));
    TempDir out;
    struct Case {
        TSaveResolution res;
        int bmp; // BMP, PNG, TIF, PCX
        int gif;
    } cases[] = {{sMonoChrome, 1, 1}, {sColor16, 4, 4},  {sColor256, 8, 8},
                 {sColorTrue, 24, 8}, {sJpegGray, 8, 8}, {sAutoMatic, 24, 8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.res));
        image.setImageWriteRes(c.res);
        const std::string stem = out.file("s" + std::to_string(int(c.res)));
        image.SaveAsBMP(qs(stem + ".bmp"));
        EXPECT_EQ(infoOf(stem + ".bmp").bitsPerPixel, c.bmp);
        image.SaveAsPCX(qs(stem + ".pcx"));
        EXPECT_EQ(infoOf(stem + ".pcx").bitsPerPixel, c.bmp);
        image.SaveAsTIF(qs(stem + ".tif"));
        EXPECT_EQ(infoOf(stem + ".tif").bitsPerPixel, c.bmp);
        image.SaveAsGIF(qs(stem + ".gif"));
        EXPECT_EQ(infoOf(stem + ".gif").bitsPerPixel, c.gif);
        EXPECT_EQ(image.DefSaveFilename(), qs(stem + ".gif"));
    }
    // JPEG: grey for monochrome and sJpegGray, colour otherwise.
    image.setImageWriteRes(sJpegGray);
    image.SaveAsJPG(qs(out.file("grey.jpg")));
    image.setImageWriteRes(sColor16);
    image.SaveAsJPG(qs(out.file("colour.jpg")));
    EXPECT_LT(infoOf(out.file("grey.jpg")).bitsPerPixel, 24);
    EXPECT_EQ(infoOf(out.file("colour.jpg")).bitsPerPixel, 24);
    // ImageMagick reads back what we wrote.
    EXPECT_EQ(run("identify " + out.file("colour.jpg") + " " + out.file("s4.tif") + " " +
                  out.file("s1.pcx") + " >/dev/null"),
              0);
    EXPECT_TRUE(log.boxes().empty());
}

TEST_F(ComponentLoad, SaveParametersReachTheEncoder) {
    MessageLog log;
    TPMultiImage image;
    image.setImageName(file("a.png"));
    TempDir out;
    image.setImageWriteRes(sMonoChrome);
    image.setTifSaveCompress(sCCITT);
    image.SaveAsTIF(qs(out.file("fax.tif")));
    image.setImageWriteRes(sColor256);
    image.setTifSaveCompress(sLZW);
    image.SaveAsTIF(qs(out.file("lzw.tif")));
    image.setTifSaveCompress(sPACKBITS);
    image.SaveAsTIF(qs(out.file("packbits.tif")));
    ASSERT_TRUE(log.boxes().empty());
    // Pillow names the compression it finds in each file.
    auto compressionIs = [&](const std::string& name, const std::string& expected) {
        return run("/usr/bin/python3 -c \"import sys; from PIL import Image; "
                   "sys.exit(Image.open('" +
                   out.file(name) + "').info.get('compression') != '" + expected + "')\"") == 0;
    };
    EXPECT_TRUE(compressionIs("fax.tif", "tiff_ccitt"));
    EXPECT_TRUE(compressionIs("lzw.tif", "tiff_lzw"));
    EXPECT_TRUE(compressionIs("packbits.tif", "packbits"));

    image.setPNGInterLaced(true);
    image.SaveAsPNG(qs(out.file("inter.png")));
    EXPECT_EQ(run("/usr/bin/python3 -c \"import sys; from PIL import Image; "
                  "sys.exit(Image.open('" +
                  out.file("inter.png") + "').info.get('interlace') != 1)\""),
              0);

    // Higher quality makes a larger JPEG.
    image.setImageWriteRes(sColorTrue);
    image.setImageName(file("rich.png"));
    image.setJPegSaveQuality(5);
    image.SaveAsJPG(qs(out.file("q5.jpg")));
    std::filesystem::remove(out.file("q5.jpg"));
    image.SaveAsJPG(""); // an empty name writes to DefSaveFilename again
    EXPECT_TRUE(std::filesystem::exists(out.file("q5.jpg")));
    image.setJPegSaveQuality(95);
    image.SaveAsJPG(qs(out.file("q95.jpg")));
    EXPECT_LT(std::filesystem::file_size(out.file("q5.jpg")),
              std::filesystem::file_size(out.file("q95.jpg")));
    EXPECT_TRUE(log.boxes().empty());
}

TEST_F(ComponentLoad, FailedSavesAreReported) {
    MessageLog log;
    TPMultiImage image;
    image.setImageName(file("a.png"));

    image.SaveAsTIF(""); // no DefSaveFilename
    ASSERT_EQ(log.boxes().size(), 2u);
    EXPECT_EQ(log.boxes()[0].kind, MessageKind::Error);
    EXPECT_EQ(log.boxes()[0].text, QString::fromUtf8(codec::errorText(codec::EmptyFileName)));
    EXPECT_EQ(log.boxes()[1].kind, MessageKind::Information);
    EXPECT_EQ(log.boxes()[1].text, "Writing tif file failed");

    log.clear();
    image.SaveAsPNG(file("no/such/dir/x.png"));
    ASSERT_EQ(log.boxes().size(), 2u);
    EXPECT_EQ(log.boxes()[1].text, "Writing png file failed");

    // An icon gives way to an empty bitmap, which cannot be written.
    log.clear();
    image.setImageName(file("a.ico"));
    TempDir out;
    image.SaveAsBMP(qs(out.file("icon.bmp")));
    EXPECT_TRUE(image.Picture().isEmpty());
    ASSERT_EQ(log.boxes().size(), 2u);
    EXPECT_EQ(log.boxes()[1].text, "Writing bmp file failed");
    EXPECT_FALSE(std::filesystem::exists(out.file("icon.bmp")));
}

TEST(ComponentRules, ConfirmOverwriteAsksOnlyForExistingFiles) {
    TempDir dir;
    MessageLog log(MessageButton::Yes);
    EXPECT_FALSE(ConfirmOverwrite(qs(dir.file("new.bmp"))));
    EXPECT_TRUE(log.boxes().empty());

    const QString existing = qs(dir.file("old.bmp"));
    QFile(existing).open(QIODevice::WriteOnly);
    EXPECT_FALSE(ConfirmOverwrite(existing)); // Yes: go ahead
    ASSERT_EQ(log.boxes().size(), 1u);
    EXPECT_EQ(log.boxes()[0].kind, MessageKind::Confirmation);
    EXPECT_EQ(log.boxes()[0].text, "File Already Exists " + existing + " ,Overwrite ?");
    EXPECT_EQ(log.boxes()[0].buttons,
              (std::vector<MessageButton>{MessageButton::Yes, MessageButton::No}));
    log.answerWith(MessageButton::No);
    EXPECT_TRUE(ConfirmOverwrite(existing)); // No: do not write
}

TEST_F(ComponentLoad, ALoaderWithoutAWidgetLoadsAndSavesAsTheComponentDoes) {
    MessageLog log;
    TPMultiImage image;
    ImageLoader alone;
    TempDir out;
    for (const char* name : {"a.bmp", "a.jpg", "thumb.thj", "a.ico", "a.wmf", "cut.png"}) {
        SCOPED_TRACE(name);
        image.setImageName(file(name));
        const auto shown = log.boxes().size();
        alone.setImageName(file(name));
        EXPECT_EQ(log.boxes().size(), 2 * shown);
        EXPECT_EQ(alone.LoadStatus(), image.LoadStatus());
        EXPECT_EQ(alone.picture().kind(), image.Picture().kind());
        EXPECT_EQ(alone.picture().bitmap(), image.Picture().bitmap());
        EXPECT_EQ(alone.imageInfo().InfoFormat, image.imageInfo().InfoFormat);
        EXPECT_EQ(alone.imageInfo().InfoSize, image.imageInfo().InfoSize);
        log.clear();
    }
    alone.setImageName(file("a.png"));
    alone.save(codec::ImageFormat::Gif, qs(out.file("a.gif")));
    EXPECT_EQ(infoOf(out.file("a.gif")).width, 64);
    EXPECT_EQ(alone.DefSaveFilename(), qs(out.file("a.gif")));
}
