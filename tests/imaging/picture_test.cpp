// The picture (loading by extension, drawing bitmaps, icons and metafiles), icons made by
// icotool and ImageMagick, the picture control offscreen, and the pixmoor-render tool.
#include "imaging/picture.h"
#include "imaging/picture_control.h"
#include "imaging/wmf/metafile.h"
#include "tests/support/test_dirs.h"
#include "tests/wmf/wmf_builder.h"

#include <QFile>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

using pixmoor::Icon;
using pixmoor::Picture;
using pixmoor::PictureError;
using pixmoor::TImage;
using pixmoor::test::run;
using pixmoor::test::TempDir;
using pixmoor::test::WmfBuilder;

namespace {

const QString kFixtures = QStringLiteral(PIXMOOR_FIXTURES "/wmf/");

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

void writeFile(const std::string& path, const QByteArray& data) {
    QFile file(q(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(data), data.size());
}

std::string loadError(Picture& picture, const std::string& path) {
    try {
        picture.loadFromFile(q(path));
    } catch (const PictureError& e) {
        return e.what();
    }
    return "no error";
}

int distance(QRgb a, const QColor& b) {
    return std::max({std::abs(qRed(a) - b.red()), std::abs(qGreen(a) - b.green()),
                     std::abs(qBlue(a) - b.blue()), std::abs(qAlpha(a) - b.alpha())});
}
#define EXPECT_PIXEL(image, x, y, colour)                                                          \
    EXPECT_LE(distance((image).pixel((x), (y)), (colour)), 40)                                     \
        << "at (" << (x) << ", " << (y) << "): " << std::hex << (image).pixel((x), (y))

// A plain metafile whose window is split in a red left half and a blue right half.
QByteArray halves() {
    WmfBuilder b;
    b.window(0, 0, 200, 100).pen(5, 0, Qt::black).select(0);
    b.brush(0, QColor(255, 0, 0)).select(1).rectangle(0, 0, 100, 100);
    b.brush(0, QColor(0, 0, 255)).select(2).rectangle(100, 0, 200, 100);
    return b.bytes();
}

QImage drawn(const Picture& picture, QSize canvas, const QRect& target, QColor fill = Qt::white) {
    QImage image(canvas, QImage::Format_ARGB32);
    image.fill(fill);
    QPainter painter(&image);
    picture.draw(painter, target);
    painter.end();
    return image;
}

} // namespace

TEST(Picture, ChoosesByExtensionAndReportsUnknownOnes) {
    TempDir dir;
    writeFile(dir.file("a.WMF"), halves());
    Picture picture;
    picture.loadFromFile(q(dir.file("a.WMF")));
    EXPECT_EQ(picture.kind(), Picture::Kind::Metafile);
    EXPECT_EQ(picture.width(), 200);
    EXPECT_EQ(picture.height(), 100);

    writeFile(dir.file("image.xyz"), halves());
    EXPECT_EQ(loadError(picture, dir.file("image.xyz")), "Unknown picture file extension (.xyz)");
    EXPECT_TRUE(picture.isEmpty()); // a failed load leaves the picture empty
    writeFile(dir.file("Image.Jpeg"), "x");
    EXPECT_EQ(loadError(picture, dir.file("Image.Jpeg")), "Unknown picture file extension (.Jpeg)");
    writeFile(dir.file("noext"), "x");
    EXPECT_EQ(loadError(picture, dir.file("noext")), "Unknown picture file extension ()");
}

TEST(Picture, DamagedOrMissingFilesGiveClearErrors) {
    TempDir dir;
    Picture picture;
    const std::string missing = loadError(picture, dir.file("missing.wmf"));
    EXPECT_NE(missing.find("Cannot open"), std::string::npos) << missing;
    EXPECT_NE(missing.find("missing.wmf"), std::string::npos) << missing;

    writeFile(dir.file("text.wmf"), "this is not a metafile at all");
    EXPECT_EQ(loadError(picture, dir.file("text.wmf")), "Not a Windows metafile (bad header)");
    writeFile(dir.file("bad.bmp"), "BM this is not a bitmap");
    EXPECT_NE(loadError(picture, dir.file("bad.bmp")).find("Cannot read bitmap"),
              std::string::npos);
    writeFile(dir.file("bad.ico"), QByteArray("\0\0\1\0\1\0", 6));
    EXPECT_NE(loadError(picture, dir.file("bad.ico")).find("Icon directory is truncated"),
              std::string::npos);
    EXPECT_TRUE(picture.isEmpty());
}

TEST(Picture, BitmapsKeepTheirColourTableAndStretch) {
    TempDir dir;
    ASSERT_EQ(run("convert -size 40x20 xc:red -fill blue -draw 'rectangle 20,0 39,19' -type "
                  "Palette BMP3:" +
                  dir.file("pal.bmp")),
              0);
    Picture picture;
    picture.loadFromFile(q(dir.file("pal.bmp")));
    ASSERT_EQ(picture.kind(), Picture::Kind::Bitmap);
    EXPECT_TRUE(picture.bitmap().format() == QImage::Format_Indexed8 ||
                picture.bitmap().format() == QImage::Format_Mono);
    EXPECT_GE(picture.bitmap().colorCount(), 2);
    EXPECT_EQ(picture.width(), 40);
    const QImage image = drawn(picture, QSize(100, 100), QRect(10, 10, 80, 80));
    EXPECT_PIXEL(image, 5, 5, QColor(Qt::white));
    EXPECT_PIXEL(image, 30, 80, QColor(255, 0, 0));
    EXPECT_PIXEL(image, 70, 20, QColor(0, 0, 255));
}

TEST(Picture, MetafilesScaleAsVectorsIntoAnyRectangle) {
    Picture picture;
    picture.setMetafile(pixmoor::wmf::Metafile::fromData(halves()));
    // Stretched into a tall rectangle, offset: each half fills its part, nothing outside.
    QImage image = drawn(picture, QSize(120, 320), QRect(10, 10, 100, 300));
    EXPECT_PIXEL(image, 5, 100, QColor(Qt::white));
    EXPECT_PIXEL(image, 30, 150, QColor(255, 0, 0));
    EXPECT_PIXEL(image, 90, 150, QColor(0, 0, 255));
    EXPECT_PIXEL(image, 60, 315, QColor(Qt::white));
    // Crisp at a large size: the red/blue edge is no wider than two pixels.
    image = drawn(picture, QSize(2000, 100), QRect(0, 0, 2000, 100));
    int blended = 0;
    for (int x = 980; x < 1020; ++x)
        if (distance(image.pixel(x, 50), QColor(255, 0, 0)) > 10 &&
            distance(image.pixel(x, 50), QColor(0, 0, 255)) > 10)
            ++blended;
    EXPECT_LE(blended, 2);
    EXPECT_EQ(picture.toImage().size(), QSize(200, 100));
}

TEST(Picture, CopiesAssignsAndMoves) {
    Picture a;
    a.setMetafile(pixmoor::wmf::Metafile::fromData(halves()));
    Picture b(a);
    EXPECT_EQ(b.kind(), Picture::Kind::Metafile);
    EXPECT_EQ(b.metafile()->bytes(), halves());
    Picture c;
    c.setIcon(Icon::fromData([] {
        // A one-entry 2 x 2 32-bit icon built by hand: header, entry, DIB with AND mask.
        QByteArray d("\0\0\1\0\1\0", 6);
        d += QByteArray("\2\2\0\0\1\0\x20\0", 8);
        WmfBuilder::put32(d, 40 + 16 + 8);
        WmfBuilder::put32(d, 22);
        WmfBuilder::put32(d, 40);
        WmfBuilder::put32(d, 2);
        WmfBuilder::put32(d, 4);
        WmfBuilder::put16(d, 1);
        WmfBuilder::put16(d, 32);
        d += QByteArray(24, '\0');
        d += QByteArray("\0\0\xFF\xFF\0\0\xFF\xFF\0\0\xFF\xFF\0\0\xFF\xFF", 16);
        d += QByteArray(8, '\0');
        return d;
    }()));
    b = c; // a metafile picture becomes an icon
    EXPECT_EQ(b.kind(), Picture::Kind::Icon);
    ASSERT_NE(b.icon(), nullptr);
    EXPECT_NE(b.icon(), c.icon()); // a copy, not shared
    EXPECT_EQ(b.icon()->image().pixel(0, 0), qRgba(255, 0, 0, 255));
    Picture d(std::move(b));
    EXPECT_EQ(d.kind(), Picture::Kind::Icon);
    EXPECT_TRUE(b.isEmpty()); // NOLINT(bugprone-use-after-move): moved-from is empty
    a = std::move(d);
    EXPECT_EQ(a.kind(), Picture::Kind::Icon);
    EXPECT_EQ(a.width(), 32);
}

class Icons : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pixmoor::test::haveProgram("icotool"));
        // A red disc on transparency at 32 x 32 (hard edges, so that every depth can hold it),
        // plus plain squares of other sizes.
        ASSERT_EQ(
            run("convert -size 32x32 xc:none +antialias -fill red -draw 'circle 16,16 16,3' " +
                dir.file("disc32.png")),
            0);
        for (int s : {16, 24, 48, 64})
            ASSERT_EQ(run("convert -size " + std::to_string(s) + "x" + std::to_string(s) +
                          " xc:'#00a000' " + dir.file("green" + std::to_string(s) + ".png")),
                      0);
    }
    TempDir dir;
};

TEST_F(Icons, EveryDepthReadsWithItsTransparency) {
    for (int depth : {1, 4, 8, 24, 32}) {
        const std::string ico = dir.file("disc" + std::to_string(depth) + ".ico");
        ASSERT_EQ(run("icotool -c -b " + std::to_string(depth) + " -o " + ico + " " +
                      dir.file("disc32.png")),
                  0)
            << depth;
        ASSERT_EQ(
            run("icotool -l " + ico + " | grep -q -- '--bit-depth=" + std::to_string(depth) + " '"),
            0)
            << depth;
        const Icon icon = Icon::fromFile(q(ico));
        ASSERT_EQ(icon.image().size(), QSize(32, 32)) << depth;
        EXPECT_PIXEL(icon.image(), 16, 16, QColor(255, 0, 0)) << depth;
        EXPECT_EQ(qAlpha(icon.image().pixel(1, 1)), 0) << depth; // corner outside the disc
    }
    // PNG-compressed entries.
    ASSERT_EQ(run("icotool -c -r " + dir.file("disc32.png") + " -o " + dir.file("raw.ico")), 0);
    const Icon raw = Icon::fromFile(q(dir.file("raw.ico")));
    EXPECT_PIXEL(raw.image(), 16, 16, QColor(255, 0, 0));
    EXPECT_EQ(qAlpha(raw.image().pixel(1, 1)), 0);
}

TEST_F(Icons, APngEntrysTextIsNeverReadNorKept) {
    // A 1 x 1 half-transparent PNG with many large compressed text chunks, as an icon's entry.
    const std::string script =
        "import sys, struct\n"
        "from PIL import Image, PngImagePlugin\n"
        "info = PngImagePlugin.PngInfo()\n"
        "for i in range(16): info.add_text('Comment%d' % i, 'x' * 1000000, zip=True)\n"
        "Image.new('RGBA', (1, 1), (255, 0, 0, 128)).save(sys.argv[1] + '.png', pnginfo=info)\n"
        "png = open(sys.argv[1] + '.png', 'rb').read()\n"
        "open(sys.argv[1], 'wb').write(struct.pack('<HHHBBBBHHII', 0, 1, 1, 1, 1, 0, 0, 1, 32, "
        "len(png), 22) + png)\n";
    writeFile(dir.file("make.py"), QByteArray::fromStdString(script));
    ASSERT_EQ(run("/usr/bin/python3 " + dir.file("make.py") + " " + dir.file("text.ico")), 0);
    const Icon icon = Icon::fromFile(q(dir.file("text.ico")));
    ASSERT_EQ(icon.image().size(), QSize(1, 1));
    EXPECT_TRUE(icon.image().textKeys().isEmpty());
    // Half transparent red, premultiplied.
    EXPECT_EQ(icon.image().pixel(0, 0), qRgba(128, 0, 0, 128));
}

TEST_F(Icons, ChoosesThe32EntryOrTheClosest) {
    ASSERT_EQ(run("icotool -c -o " + dir.file("multi.ico") + " " + dir.file("green16.png") + " " +
                  dir.file("disc32.png") + " " + dir.file("green48.png")),
              0);
    Icon icon = Icon::fromFile(q(dir.file("multi.ico")));
    EXPECT_EQ(icon.width(), 32);
    EXPECT_PIXEL(icon.image(), 16, 16, QColor(255, 0, 0));
    // Without a 32 entry: 24 is closer than 48 or 16.
    ASSERT_EQ(run("icotool -c -o " + dir.file("near.ico") + " " + dir.file("green16.png") + " " +
                  dir.file("green24.png") + " " + dir.file("green48.png")),
              0);
    EXPECT_EQ(Icon::fromFile(q(dir.file("near.ico"))).width(), 24);
    // ImageMagick's icon writer, several sizes.
    ASSERT_EQ(run("convert " + dir.file("disc32.png") + " -define icon:auto-resize=64,48,32,16 " +
                  dir.file("im.ico")),
              0);
    icon = Icon::fromFile(q(dir.file("im.ico")));
    EXPECT_EQ(icon.image().size(), QSize(32, 32));
    // The image list's scaling keeps the transparency.
    const QImage scaled = icon.scaled(50, 50);
    EXPECT_EQ(scaled.size(), QSize(50, 50));
    EXPECT_EQ(qAlpha(scaled.pixel(1, 1)), 0);
    EXPECT_PIXEL(scaled, 25, 25, QColor(255, 0, 0));
}

TEST_F(Icons, DrawnAt32AtTheTopLeftClippedNotScaled) {
    ASSERT_EQ(run("icotool -c -o " + dir.file("g64.ico") + " " + dir.file("green64.png")), 0);
    Picture picture;
    picture.loadFromFile(q(dir.file("g64.ico")));
    ASSERT_EQ(picture.kind(), Picture::Kind::Icon);
    EXPECT_EQ(picture.width(), 32);
    // Into a large rectangle: 32 x 32 at its corner, the rest untouched.
    QImage image = drawn(picture, QSize(100, 100), QRect(10, 20, 80, 70));
    EXPECT_PIXEL(image, 11, 21, QColor(0, 160, 0));
    EXPECT_PIXEL(image, 41, 51, QColor(0, 160, 0));
    EXPECT_PIXEL(image, 43, 53, QColor(Qt::white));
    EXPECT_PIXEL(image, 9, 19, QColor(Qt::white));
    // Into a small one: clipped to it.
    image = drawn(picture, QSize(100, 100), QRect(0, 0, 20, 10));
    EXPECT_PIXEL(image, 19, 9, QColor(0, 160, 0));
    EXPECT_PIXEL(image, 25, 5, QColor(Qt::white));
    EXPECT_PIXEL(image, 5, 15, QColor(Qt::white));
}

TEST_F(Icons, DamagedIconsFailClearly) {
    ASSERT_EQ(run("icotool -c -o " + dir.file("ok.ico") + " " + dir.file("disc32.png")), 0);
    QFile file(q(dir.file("ok.ico")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray good = file.readAll();
    auto error = [](const QByteArray& data) -> std::string {
        try {
            Icon::fromData(data);
        } catch (const PictureError& e) {
            return e.what();
        }
        return "no error";
    };
    EXPECT_EQ(error(QByteArray()), "Not an icon file");
    EXPECT_EQ(error(QByteArray("\0\0\1\0\0\0", 6)), "Icon file holds no images");
    EXPECT_EQ(error(good.left(15)), "Icon directory is truncated");
    EXPECT_EQ(error(good.left(200)), "Icon file is truncated: its images lie beyond its end");
    QByteArray damaged = good;
    damaged[22] = 99; // the DIB header's size
    EXPECT_EQ(error(damaged), "Damaged icon image (unknown image format)");
    damaged = good;
    damaged[22 + 8] = char(0xFF); // the height, now absurd
    damaged[22 + 9] = char(0x7F);
    EXPECT_NE(error(damaged).find("Damaged icon image"), std::string::npos);
    // A PNG entry with damaged data.
    ASSERT_EQ(run("icotool -c -r " + dir.file("disc32.png") + " -o " + dir.file("raw.ico")), 0);
    QFile rawFile(q(dir.file("raw.ico")));
    ASSERT_TRUE(rawFile.open(QIODevice::ReadOnly));
    QByteArray raw = rawFile.readAll();
    raw.truncate(22 + 40);
    raw[14] = 40; // entry size shrunk to what is left
    raw[15] = 0;
    EXPECT_EQ(error(raw), "Damaged icon image (damaged PNG image)");
}

TEST(PictureControl, StretchCenterAutoSizeAndRepaint) {
    TempDir dir;
    writeFile(dir.file("halves.wmf"), halves());
    TImage control;
    control.resize(300, 300);
    QSignalSpy changed(&control, &TImage::pictureChanged);
    control.loadPicture(q(dir.file("halves.wmf")));
    EXPECT_EQ(changed.count(), 1);
    // Neither stretched nor centred: at its own size at the top-left.
    EXPECT_EQ(control.destRect(), QRect(0, 0, 200, 100));
    control.setCenter(true);
    EXPECT_EQ(control.destRect(), QRect(50, 100, 200, 100));
    // Stretched: the metafile follows the control's size.
    control.setStretch(true);
    QImage image = control.grab().toImage();
    EXPECT_PIXEL(image, 140, 290, QColor(255, 0, 0));
    EXPECT_PIXEL(image, 160, 10, QColor(0, 0, 255));
    control.resize(100, 40);
    image = control.grab().toImage();
    EXPECT_EQ(image.size(), QSize(100, 40));
    EXPECT_PIXEL(image, 45, 35, QColor(255, 0, 0));
    EXPECT_PIXEL(image, 55, 5, QColor(0, 0, 255));
    // AutoSize takes the picture's size now and on every change.
    control.setAutoSize(true);
    EXPECT_EQ(control.size(), QSize(200, 100));
    WmfBuilder small;
    small.window(0, 0, 64, 32).rectangle(0, 0, 10, 10);
    Picture picture;
    picture.setMetafile(pixmoor::wmf::Metafile::fromData(small.bytes()));
    control.setPicture(picture);
    EXPECT_EQ(control.size(), QSize(64, 32));
    EXPECT_EQ(changed.count(), 2);
    // A failed load empties it and reports the error.
    EXPECT_THROW(control.loadPicture(q(dir.file("missing.wmf"))), PictureError);
    EXPECT_TRUE(control.picture().isEmpty());
}

namespace {
class CountingImage : public TImage {
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent* event) override {
        ++paints;
        TImage::paintEvent(event);
    }
};
} // namespace

TEST(PictureControl, RepaintsWhenPictureOrPlacementChanges) {
    CountingImage control;
    control.resize(100, 100);
    control.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&control));
    auto repainted = [&](auto change) {
        QCoreApplication::processEvents();
        const int before = control.paints;
        change();
        return QTest::qWaitFor([&] { return control.paints > before; }, 5000);
    };
    Picture picture;
    picture.setMetafile(pixmoor::wmf::Metafile::fromData(halves()));
    EXPECT_TRUE(repainted([&] { control.setPicture(picture); }));
    EXPECT_TRUE(repainted([&] { control.setStretch(true); }));
    EXPECT_TRUE(repainted([&] { control.setCenter(true); }));
    EXPECT_TRUE(repainted([&] { control.clearPicture(); }));
}

namespace {
const std::string kRender = PIXMOOR_BIN_DIR "/pixmoor-render";
// Runs pixmoor-render with no display and no platform chosen, keeping its standard error.
int render(const std::string& args, const TempDir& dir, std::string* errors = nullptr) {
    const std::string err = dir.file("stderr.txt");
    const int status = pixmoor::test::run("env -u DISPLAY -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY " +
                                          kRender + " " + args + " 2>" + err);
    if (errors) {
        QFile file(q(err));
        errors->clear();
        if (file.open(QIODevice::ReadOnly)) *errors = file.readAll().toStdString();
    }
    return status;
}
} // namespace

TEST(PixmoorRender, RendersMetafilesIconsAndBitmapsWithoutADisplay) {
    TempDir dir;
    ASSERT_EQ(render(kFixtures.toStdString() + "shapes.wmf " + dir.file("own.png"), dir), 0);
    QImage image(q(dir.file("own.png")));
    EXPECT_EQ(image.size(), QSize(373, 273));
    EXPECT_PIXEL(image, 80, 50, QColor(255, 0, 0));

    ASSERT_EQ(
        render(kFixtures.toStdString() + "shapes.wmf " + dir.file("big.png") + " --size 746x100",
               dir),
        0);
    image = QImage(q(dir.file("big.png")));
    EXPECT_EQ(image.size(), QSize(746, 100));
    EXPECT_PIXEL(image, 160, 18, QColor(255, 0, 0));

    ASSERT_EQ(run("convert -size 64x64 xc:'#0000ff' " + dir.file("b.png") + " && icotool -c -o " +
                  dir.file("b.ico") + " " + dir.file("b.png")),
              0);
    ASSERT_EQ(render(dir.file("b.ico") + " " + dir.file("icon.png") + " --size 50x50", dir), 0);
    image = QImage(q(dir.file("icon.png")));
    EXPECT_EQ(image.size(), QSize(50, 50));
    EXPECT_PIXEL(image, 10, 10, QColor(0, 0, 255));
    EXPECT_EQ(qAlpha(image.pixel(40, 40)), 0); // outside the 32 x 32 icon

    ASSERT_EQ(run("convert -size 10x5 xc:'#00ff00' BMP3:" + dir.file("g.bmp")), 0);
    ASSERT_EQ(render(dir.file("g.bmp") + " " + dir.file("g.png") + " --size 20x20", dir), 0);
    image = QImage(q(dir.file("g.png")));
    EXPECT_EQ(image.size(), QSize(20, 20));
    EXPECT_PIXEL(image, 15, 15, QColor(0, 255, 0));
}

TEST(PixmoorRender, FailuresExitWithOneAndSayWhy) {
    TempDir dir;
    std::string errors;
    EXPECT_EQ(render(dir.file("missing.wmf") + " " + dir.file("o.png"), dir, &errors), 1);
    EXPECT_NE(errors.find("Cannot open"), std::string::npos) << errors;
    writeFile(dir.file("x.gif"), "GIF89a");
    EXPECT_EQ(render(dir.file("x.gif") + " " + dir.file("o.png"), dir, &errors), 1);
    EXPECT_NE(errors.find("Unknown picture file extension (.gif)"), std::string::npos) << errors;
    EXPECT_EQ(render(kFixtures.toStdString() + "shapes.wmf " + dir.file("o.png") + " --size 0x5",
                     dir, &errors),
              1);
    EXPECT_NE(errors.find("invalid size"), std::string::npos) << errors;
    EXPECT_EQ(render(kFixtures.toStdString() + "shapes.wmf /nonexistent/dir/o.png", dir, &errors),
              1);
    EXPECT_NE(errors.find("cannot write"), std::string::npos) << errors;
    EXPECT_EQ(render("", dir, &errors), 1);
    EXPECT_NE(errors.find("usage"), std::string::npos) << errors;
}
