// TPMultiImage on screen and beyond: properties, stretch arithmetic, painting (grabbed from the
// offscreen widget), the text overlay, the clipboard and printing to PDF checked with pdftoppm.
#include "imaging/TMultiP.h"
#include "imaging/raster_image.h"
#include "platform/printer.h"
#include "tests/imaging/imaging_test_util.h"
#include "tests/support/test_dirs.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QMimeData>
#include <QPainter>
#include <QTest>
#include <filesystem>
#include <gtest/gtest.h>

using namespace pixmoor;
using namespace pixmoor::test;

namespace {

QImage solid(int w, int h, QColor c, QImage::Format format = QImage::Format_RGB888) {
    QImage image(w, h, format);
    image.fill(c);
    return image;
}

QImage grab(QWidget& w) {
    return w.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Bounding box of the pixels close to colour.
QRect boxOf(const QImage& image, QRgb colour, int tolerance = 40) {
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (std::abs(qRed(p) - qRed(colour)) <= tolerance &&
                std::abs(qGreen(p) - qGreen(colour)) <= tolerance &&
                std::abs(qBlue(p) - qBlue(colour)) <= tolerance)
                box |= QRect(x, y, 1, 1);
        }
    return box;
}

} // namespace

TEST(ComponentProperties, InitialValues) {
    TPMultiImage image;
    EXPECT_EQ(image.size(), QSize(105, 105));
    EXPECT_FALSE(image.AutoSize());
    EXPECT_FALSE(image.Center());
    EXPECT_EQ(image.BorderStyle(), bsNone);
    EXPECT_TRUE(image.CodecPalette());
    EXPECT_TRUE(image.ImageDither());
    EXPECT_EQ(image.ImageReadRes(), lAutoMatic);
    EXPECT_EQ(image.ImageWriteRes(), sAutoMatic);
    EXPECT_EQ(image.TifSaveCompress(), sNONE);
    EXPECT_FALSE(image.PNGInterLaced());
    EXPECT_FALSE(image.Stretch());
    EXPECT_FALSE(image.StretchRatio());
    EXPECT_TRUE(image.TextTransParent());
    EXPECT_EQ(image.TextShadowColor(), QColor(Qt::black));
    EXPECT_TRUE(image.UseTwainWindow());
    EXPECT_TRUE(image.Picture().isEmpty());
    EXPECT_TRUE(image.DefSaveFilename().isEmpty());
}

TEST(ComponentProperties, StretchAndStretchRatioSwitchEachOtherOff) {
    TPMultiImage image;
    image.setStretchRatio(true);
    image.setStretch(true);
    EXPECT_TRUE(image.Stretch());
    EXPECT_FALSE(image.StretchRatio());
    image.setStretchRatio(true);
    EXPECT_FALSE(image.Stretch());
    EXPECT_TRUE(image.StretchRatio());
    image.setStretchRatio(true); // the same value changes nothing
    EXPECT_TRUE(image.StretchRatio());
    image.setStretch(false); // switching one off leaves the other alone
    EXPECT_TRUE(image.StretchRatio());
}

TEST(ComponentProperties, GetPaletteOnlyWithoutCodecPalette) {
    TPMultiImage image;
    QImage indexed(4, 4, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(1, 2, 3), qRgb(4, 5, 6)});
    indexed.fill(1);
    image.setBitmap(indexed);
    EXPECT_TRUE(image.GetPalette().isEmpty());
    image.setCodecPalette(false);
    EXPECT_EQ(image.GetPalette(), (QList<QRgb>{qRgb(1, 2, 3), qRgb(4, 5, 6)}));
}

TEST(StretchRatio, KeepsTheAspectAndRoundsTiesToEven) {
    EXPECT_EQ(stretchRatioRect(100, 100, 200, 100), QRect(0, 25, 100, 50));
    EXPECT_EQ(stretchRatioRect(100, 100, 100, 200), QRect(25, 0, 50, 100));
    // (101 - 100) * 0.5 = 0.5 rounds to 0; (103 - 100) * 0.5 = 1.5 rounds to 2.
    EXPECT_EQ(stretchRatioRect(100, 101, 100, 100), QRect(0, 0, 100, 100));
    EXPECT_EQ(stretchRatioRect(100, 103, 100, 100), QRect(0, 2, 100, 100));
    EXPECT_EQ(stretchRatioRect(105, 100, 100, 100), QRect(2, 0, 100, 100));
    EXPECT_EQ(stretchRatioRect(107, 100, 100, 100), QRect(4, 0, 100, 100));
    // A zero picture size falls back to the whole client.
    EXPECT_EQ(stretchRatioRect(80, 60, 0, 10), QRect(0, 0, 80, 60));
    EXPECT_EQ(stretchRatioRect(80, 60, 10, 0), QRect(0, 0, 80, 60));
}

TEST(ComponentPaint, StretchRatioLetterboxesOnTheBackgroundColour) {
    TPMultiImage image;
    image.resize(100, 100);
    image.setColor(Qt::blue);
    image.setBitmap(solid(200, 100, Qt::red));
    image.setStretchRatio(true);
    const QImage shot = grab(image);
    EXPECT_EQ(boxOf(shot, qRgb(255, 0, 0)), QRect(0, 25, 100, 50));
    EXPECT_EQ(shot.pixel(50, 10), qRgb(0, 0, 255));

    image.setStretch(true);
    EXPECT_EQ(boxOf(grab(image), qRgb(255, 0, 0)), QRect(0, 0, 100, 100));
    image.setStretch(false);
    EXPECT_EQ(boxOf(grab(image), qRgb(255, 0, 0)), QRect(0, 0, 100, 100)); // plain, clipped
}

TEST(ComponentPaint, ColourPicturesScaleWithoutBlendingExceptMonochrome) {
    TPMultiImage image;
    image.resize(100, 100);
    QImage checker(4, 4, QImage::Format_RGB888);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) checker.setPixel(x, y, (x + y) % 2 ? qRgb(255, 255, 255) : 0);
    image.setBitmap(checker);
    image.setStretch(true);
    QImage shot = grab(image);
    const int pure =
        countColour(shot, qRgb(0, 0, 0), 0) + countColour(shot, qRgb(255, 255, 255), 0);
    EXPECT_EQ(pure, 100 * 100);
    image.setImageReadRes(lMonoChrome);
    image.update();
    shot = grab(image);
    const int blended =
        100 * 100 - countColour(shot, qRgb(0, 0, 0), 0) - countColour(shot, qRgb(255, 255, 255), 0);
    EXPECT_GT(blended, 0);
}

TEST(ComponentPaint, CenterUsesClientSizeOnPalettePathAndOuterSizeOnFrameworkPath) {
    TPMultiImage image;
    image.resize(105, 105);
    image.setBorderStyle(bsSingle); // client 103 x 103 inside a one-pixel border
    image.setColor(Qt::white);
    image.setBitmap(solid(51, 51, Qt::red));
    image.setCenter(true);
    // Palette path: (103 - 51) / 2 = 26 in the client, 27 in the widget.
    EXPECT_EQ(boxOf(grab(image), qRgb(255, 0, 0)).topLeft(), QPoint(27, 27));
    // Framework path: (105 - 51) / 2 = 27 in the client, 28 in the widget.
    image.setCodecPalette(false);
    image.update();
    EXPECT_EQ(boxOf(grab(image), qRgb(255, 0, 0)).topLeft(), QPoint(28, 28));
    EXPECT_EQ(boxOf(grab(image), qRgb(255, 0, 0)).size(), QSize(51, 51));
}

TEST(ComponentPaint, IndexedBitmapsShowTheirPalette) {
    TPMultiImage image;
    image.resize(20, 20);
    codec::Raster raster;
    raster.width = 20;
    raster.height = 20;
    raster.bits = 4;
    raster.stride = 20;
    raster.palette = {{0, 0, 0}, {0, 200, 0}};
    raster.pixels.assign(400, 1);
    image.setBitmap(rasterToImage(std::move(raster)));
    EXPECT_EQ(countColour(grab(image), qRgb(0, 200, 0), 0), 400);
}

TEST(ComponentPaint, TextOverlayWithShadowRotationAndOpaqueBackground) {
    TPMultiImage image;
    image.resize(120, 120);
    image.setColor(Qt::black);
    image.setFontColor(Qt::white);
    QFont f = image.font();
    f.setPixelSize(20);
    f.setBold(true);
    image.setFont(f);
    image.setText("MM");
    image.setTextLeft(30);
    image.setTextTop(60);
    QImage shot = grab(image);
    const QRect text = boxOf(shot, qRgb(255, 255, 255));
    ASSERT_FALSE(text.isNull());
    EXPECT_GE(text.left(), 30);
    EXPECT_GE(text.top(), 60);
    EXPECT_LE(text.bottom(), 60 + 25);

    image.setTextShadowColor(Qt::red);
    image.setTextShadow(true);
    shot = grab(image);
    const QRect shadow = boxOf(shot, qRgb(255, 0, 0), 60);
    ASSERT_FALSE(shadow.isNull());
    // Anti-aliased edges may differ by a pixel.
    const QPoint offset = shadow.bottomRight() - boxOf(shot, qRgb(255, 255, 255)).bottomRight();
    EXPECT_NEAR(offset.x(), 2, 1);
    EXPECT_NEAR(offset.y(), 2, 1);

    // Rotated by 90 degrees the text runs upwards from (TextLeft, TextTop).
    image.setTextShadow(false);
    image.setTextRotate(90);
    shot = grab(image);
    const QRect up = boxOf(shot, qRgb(255, 255, 255));
    EXPECT_GT(up.height(), up.width());
    EXPECT_LE(up.bottom(), 60);
    EXPECT_GE(up.left(), 30);

    // Opaque: the text cell is filled in Color over the picture.
    image.setTextRotate(0);
    image.setBitmap(solid(120, 120, Qt::blue));
    image.setTextTransParent(false);
    shot = grab(image);
    EXPECT_EQ(shot.pixel(31, 61), qRgb(0, 0, 0));
    image.setTextTransParent(true);
    EXPECT_EQ(grab(image).pixel(31, 61), qRgb(0, 0, 255));
}

TEST(ComponentPaint, OnPaintRunsLastWithTheCanvas) {
    TPMultiImage image;
    image.resize(50, 50);
    image.setBitmap(solid(50, 50, Qt::red));
    int calls = 0;
    image.OnPaint = [&](TPMultiImage& sender, QPainter& canvas) {
        EXPECT_EQ(&sender, &image);
        canvas.fillRect(0, 0, 10, 10, Qt::green);
        ++calls;
    };
    const QImage shot = grab(image);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(shot.pixel(5, 5), qRgb(0, 255, 0));
    EXPECT_EQ(shot.pixel(20, 20), qRgb(255, 0, 0));
}

// ---- clipboard -------------------------------------------------------------------------------

TEST(ComponentClipboard, CopyCutAndPasteBitmaps) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    TPMultiImage image;
    clipboard->setText("keep me");
    image.CutToClipboard(); // empty picture: nothing happens
    EXPECT_EQ(clipboard->text(), "keep me");
    image.PasteFromClipboard(); // text: nothing happens
    EXPECT_TRUE(image.Picture().isEmpty());

    image.setBitmap(solid(30, 20, Qt::red));
    image.CopyToClipboard();
    EXPECT_EQ(clipboard->image().size(), QSize(30, 20));
    EXPECT_EQ(clipboard->image().pixel(3, 3), qRgb(255, 0, 0));
    EXPECT_FALSE(image.Picture().isEmpty());

    image.setBitmap(solid(10, 10, Qt::blue));
    image.CutToClipboard();
    EXPECT_TRUE(image.Picture().isEmpty());
    EXPECT_EQ(clipboard->image().size(), QSize(10, 10));

    image.PasteFromClipboard();
    EXPECT_EQ(image.Picture().width(), 10);
    EXPECT_EQ(image.Picture().bitmap().pixel(1, 1), qRgb(0, 0, 255));
}

TEST(ComponentClipboard, KeysCopyCutAndPaste) {
    MessageLog log;
    QClipboard* clipboard = QGuiApplication::clipboard();
    TPMultiImage image;
    image.setBitmap(solid(12, 12, Qt::red));
    clipboard->clear();
    QTest::keyClick(&image, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard->image().size(), QSize(12, 12));
    clipboard->clear();
    QTest::keyClick(&image, Qt::Key_Insert, Qt::ControlModifier);
    EXPECT_EQ(clipboard->image().size(), QSize(12, 12));
    QTest::keyClick(&image, Qt::Key_Delete, Qt::ShiftModifier);
    EXPECT_TRUE(image.Picture().isEmpty());
    QTest::keyClick(&image, Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(image.Picture().width(), 12);
    QTest::keyClick(&image, Qt::Key_X, Qt::ControlModifier);
    EXPECT_TRUE(image.Picture().isEmpty());
    QTest::keyClick(&image, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(image.Picture().width(), 12);
    QTest::keyClick(&image, Qt::Key_Delete); // Delete alone does nothing
    EXPECT_EQ(image.Picture().width(), 12);
    EXPECT_TRUE(log.boxes().empty());
}

TEST(ComponentClipboard, MetafilesGoAsWmfBytesWithAnImageAndIconsAreRefused) {
    TempDir dir;
    const QByteArray wmf = writeSimpleWmf(dir.file("a.wmf"), 60, 30, 0, 0, 255);
    MessageLog log;
    TPMultiImage image;
    image.setImageName(qs(dir.file("a.wmf")));
    ASSERT_EQ(image.Picture().kind(), Picture::Kind::Metafile);
    image.CopyToClipboard();
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->data("image/x-wmf"), wmf);
    const QImage rendered = qvariant_cast<QImage>(data->imageData());
    EXPECT_EQ(rendered.size(), QSize(60, 30));
    EXPECT_EQ(rendered.pixelColor(30, 15), QColor(0, 0, 255));

    image.ClearImage();
    image.PasteFromClipboard(); // the metafile comes back as a metafile
    EXPECT_EQ(image.Picture().kind(), Picture::Kind::Metafile);
    EXPECT_EQ(image.Picture().width(), 60);

    magick("-size 32x32 xc:yellow " + dir.file("i.png"));
    ASSERT_EQ(run("icotool -c -o " + dir.file("a.ico") + " " + dir.file("i.png")), 0);
    image.setImageName(qs(dir.file("a.ico")));
    try {
        image.CopyToClipboard();
        FAIL() << "an icon reached the clipboard";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Clipboard does not support Icons");
    }
    // By key the refusal is shown in an error box.
    QTest::keyClick(&image, Qt::Key_C, Qt::ControlModifier);
    ASSERT_EQ(log.boxes().size(), 1u);
    EXPECT_EQ(log.boxes()[0].kind, MessageKind::Error);
    EXPECT_EQ(log.boxes()[0].text, "Clipboard does not support Icons");
    EXPECT_EQ(image.Picture().kind(), Picture::Kind::Icon);
}

// ---- printing --------------------------------------------------------------------------------

class ComponentPrint : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveProgram("pdftoppm")) GTEST_SKIP() << "pdftoppm (poppler-utils) is missing";
    }
    // Prints, rasterises the PDF at 300 dpi and returns the first page.
    QImage printed(TPMultiImage& image, int left, int top, int width, int height) {
        const std::string pdf = dir_.file("out" + std::to_string(++jobs_) + ".pdf");
        useProcessPdfPrinter(qs(pdf), 300);
        image.PrintImage(left, top, width, height);
        if (!std::filesystem::exists(pdf)) return {};
        const std::string png = dir_.file("page" + std::to_string(jobs_));
        EXPECT_EQ(run("pdftoppm -r 300 -png -singlefile " + pdf + " " + png), 0);
        return QImage(qs(png + ".png")).convertToFormat(QImage::Format_RGB32);
    }
    TempDir dir_;
    int jobs_ = 0;
};

TEST_F(ComponentPrint, BitmapAtItsOwnSizeOrStretched) {
    TPMultiImage image;
    image.setBitmap(solid(210, 100, Qt::red));
    // Width 0: the bitmap's own size in printer pixels; (0, 0) is the printable area's corner,
    // 42 pixels in from the page's edges at 300 dpi.
    QImage page = printed(image, 320, 0, 0, 0);
    ASSERT_FALSE(page.isNull());
    QRect box = boxOf(page, qRgb(255, 0, 0));
    EXPECT_NEAR(box.left(), 362, 1);
    EXPECT_NEAR(box.top(), 42, 1);
    EXPECT_NEAR(box.width(), 210, 2);
    EXPECT_NEAR(box.height(), 100, 2);

    page = printed(image, 0, 100, 420, 300);
    box = boxOf(page, qRgb(255, 0, 0));
    EXPECT_NEAR(box.left(), 42, 1);
    EXPECT_NEAR(box.top(), 142, 1);
    EXPECT_NEAR(box.width(), 420, 2);
    EXPECT_NEAR(box.height(), 300, 2);
}

TEST_F(ComponentPrint, MetafileIntoTheRectangleAndNothingForAnEmptyPicture) {
    TPMultiImage image;
    EXPECT_TRUE(printed(image, 0, 0, 100, 100).isNull()); // no document at all
    EXPECT_FALSE(std::filesystem::exists(dir_.file("out1.pdf")));

    writeSimpleWmf(dir_.file("m.wmf"), 96, 48, 0, 160, 0);
    MessageLog log;
    image.setImageName(qs(dir_.file("m.wmf")));
    const QImage page = printed(image, 100, 100, 400, 200);
    ASSERT_FALSE(page.isNull());
    const QRect box = boxOf(page, qRgb(0, 160, 0));
    EXPECT_NEAR(box.left(), 142, 2);
    EXPECT_NEAR(box.top(), 142, 2);
    EXPECT_NEAR(box.width(), 400, 3);
    EXPECT_NEAR(box.height(), 200, 3);
}

TEST_F(ComponentPrint, APrinterThatCannotStartFailsCleanlyAndTheNextJobWorks) {
    TPMultiImage image;
    image.setBitmap(solid(50, 50, Qt::red));
    useProcessPdfPrinter(qs(dir_.file("no/such/dir/out.pdf")), 300);
    EXPECT_THROW(image.PrintImage(0, 0, 0, 0), std::runtime_error);
    const QImage page = printed(image, 0, 0, 0, 0);
    ASSERT_FALSE(page.isNull());
    EXPECT_NEAR(boxOf(page, qRgb(255, 0, 0)).width(), 50, 2);
}

// ---- raster conversions ------------------------------------------------------------------------

TEST(RasterImage, WrapsDecodedPixelsAndGivesBackTheRealDepth) {
    codec::Raster raster;
    raster.width = 3;
    raster.height = 2;
    raster.bits = 8;
    raster.stride = 4;
    raster.palette = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}};
    raster.pixels = {0, 1, 2, 0, 2, 1, 0, 0};
    const std::uint8_t* pixels = raster.pixels.data();
    QImage image = rasterToImage(std::move(raster));
    EXPECT_TRUE(raster.empty());
    EXPECT_EQ(image.constBits(), pixels); // no copy
    EXPECT_EQ(image.pixel(0, 1), qRgb(70, 80, 90));
    EXPECT_EQ(image.pixel(1, 1), qRgb(40, 50, 60));

    const codec::Raster back = imageToRaster(image);
    EXPECT_EQ(back.bits, 4); // three colours fit in 4 bits
    EXPECT_EQ(back.palette.size(), 3u);
    EXPECT_EQ(back.at(2, 0), (codec::Rgb{70, 80, 90}));

    // Alpha is flattened over white.
    QImage argb(2, 1, QImage::Format_ARGB32);
    argb.setPixel(0, 0, qRgba(0, 0, 0, 0));
    argb.setPixel(1, 0, qRgba(255, 0, 0, 255));
    const codec::Raster flat = imageToRaster(argb);
    EXPECT_EQ(flat.bits, 24);
    EXPECT_EQ(flat.at(0, 0), (codec::Rgb{255, 255, 255}));
    EXPECT_EQ(flat.at(1, 0), (codec::Rgb{255, 0, 0}));
}
