// The metafile player against LibreOffice's renderings of the same files, and handcrafted
// metafiles for single records, mapping, clipping, bitmaps, text and damaged data.
#include "imaging/wmf/device.h"
#include "imaging/wmf/metafile.h"
#include "tests/support/test_dirs.h"
#include "tests/wmf/wmf_builder.h"

#include <QFile>
#include <QPainter>
#include <gtest/gtest.h>

using pixmoor::test::WmfBuilder;
using namespace pixmoor::wmf;

namespace {

const QString kFixtures = QStringLiteral(PIXMOOR_FIXTURES "/wmf/");

QImage render(const QByteArray& bytes, QSize size = {}, QStringList* warnings = nullptr) {
    const auto mf = Metafile::fromData(bytes);
    return renderMetafile(*mf, size, Qt::white, warnings).convertToFormat(QImage::Format_RGB32);
}

// Per-channel colour distance.
int distance(QRgb a, const QColor& b) {
    return std::max({std::abs(qRed(a) - b.red()), std::abs(qGreen(a) - b.green()),
                     std::abs(qBlue(a) - b.blue())});
}
#define EXPECT_COLOUR(image, x, y, colour)                                                         \
    EXPECT_LE(distance((image).pixel((x), (y)), (colour)), 40)                                     \
        << "at (" << (x) << ", " << (y) << "): " << std::hex << (image).pixel((x), (y))

// The largest of the per-channel mean absolute differences, both pictures reduced to 64 x 64
// by area averaging: small for the same drawing rendered by two programs, large for a missing
// shape, a wrong colour or a wrong scale.
double meanDifference(const QImage& a, const QImage& b) {
    const QImage sa = a.convertToFormat(QImage::Format_RGB32)
                          .scaled(64, 64, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QImage sb = b.convertToFormat(QImage::Format_RGB32)
                          .scaled(64, 64, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    double sum[3] = {0, 0, 0};
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const QRgb p = sa.pixel(x, y), q = sb.pixel(x, y);
            sum[0] += std::abs(qRed(p) - qRed(q));
            sum[1] += std::abs(qGreen(p) - qGreen(q));
            sum[2] += std::abs(qBlue(p) - qBlue(q));
        }
    return std::max({sum[0], sum[1], sum[2]}) / (64 * 64);
}

constexpr double kSameDrawing = 8.0;

struct Rendered {
    QImage ours, reference;
};
Rendered renderFixture(const QString& name) {
    const auto mf = Metafile::fromFile(kFixtures + name + ".wmf");
    Rendered r;
    r.reference =
        QImage(kFixtures + "reference/" + name + ".png").convertToFormat(QImage::Format_RGB32);
    EXPECT_FALSE(r.reference.isNull()) << name.toStdString();
    QStringList warnings;
    r.ours = renderMetafile(*mf, r.reference.size(), Qt::white, &warnings)
                 .convertToFormat(QImage::Format_RGB32);
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
    return r;
}

// Counts pixels of a rectangle near a colour.
int countNear(const QImage& image, const QRect& area, const QColor& colour, int tolerance = 40) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (distance(image.pixel(x, y), colour) <= tolerance) ++n;
    return n;
}

} // namespace

TEST(MetafileFixtures, LooksLikeLibreOfficeRendering) {
    // Shapes, text, curves, an embedded bitmap, hatched fills, and a plain (non-placeable) file.
    for (const char* name :
         {"shapes", "shapes-emf", "text", "curves", "bitmap", "hatch", "plain"}) {
        const Rendered r = renderFixture(name);
        const double difference = meanDifference(r.ours, r.reference);
        EXPECT_LT(difference, kSameDrawing) << name;
        std::printf("[ similarity ] %-10s mean difference %.2f / 255\n", name, difference);
    }
}

TEST(MetafileFixtures, ShapesAreWhereAndWhatTheyShouldBe) {
    const Rendered r = renderFixture("shapes");
    ASSERT_EQ(r.ours.size(), QSize(373, 273));
    // In the source drawing (400 x 300, drawn into 373 x 273 less the margin LibreOffice trims):
    // a red rectangle top left, a blue ellipse top right, a green triangle, an orange line.
    for (const QImage& image : {r.ours, r.reference}) {
        EXPECT_COLOUR(image, 80, 50, QColor(255, 0, 0));
        EXPECT_COLOUR(image, 275, 58, QColor(0, 0, 255));
        EXPECT_COLOUR(image, 110, 220, QColor(0, 192, 0));
        EXPECT_COLOUR(image, 200, 150, QColor(255, 255, 255));
        EXPECT_COLOUR(image, 5, 260, QColor(255, 255, 255));
    }
    // The border of the rectangle is black in both.
    EXPECT_GT(countNear(r.ours, QRect(0, 0, 10, 100), Qt::black), 50);
}

TEST(MetafileFixtures, MeasureTellsMissingShapesWrongColoursAndScalesApart) {
    const Rendered r = renderFixture("shapes");
    // Wrong scale: the same drawing at 85 % of the size.
    QImage smaller(r.reference.size(), QImage::Format_RGB32);
    smaller.fill(Qt::white);
    {
        const auto mf = Metafile::fromFile(kFixtures + "shapes.wmf");
        QPainter painter(&smaller);
        drawMetafile(painter, *mf, QRectF(0, 0, smaller.width() * 0.85, smaller.height() * 0.85));
    }
    EXPECT_GT(meanDifference(smaller, r.reference), kSameDrawing);
    std::printf("[ similarity ] wrong scale   mean difference %.2f / 255\n",
                meanDifference(smaller, r.reference));
    // A missing shape: the ellipse painted over.
    QImage missing = r.ours;
    {
        QPainter painter(&missing);
        painter.fillRect(QRect(190, 10, 180, 100), Qt::white);
    }
    EXPECT_GT(meanDifference(missing, r.reference), kSameDrawing);
    std::printf("[ similarity ] missing shape mean difference %.2f / 255\n",
                meanDifference(missing, r.reference));
    // A wrong colour: the rectangle's red as magenta.
    QImage recoloured = r.ours;
    for (int y = 0; y < recoloured.height(); ++y)
        for (int x = 0; x < recoloured.width(); ++x)
            if (distance(recoloured.pixel(x, y), Qt::red) < 60)
                recoloured.setPixel(x, y, qRgb(255, 0, 255));
    EXPECT_GT(meanDifference(recoloured, r.reference), kSameDrawing);
    std::printf("[ similarity ] wrong colour  mean difference %.2f / 255\n",
                meanDifference(recoloured, r.reference));
}

TEST(MetafileFixtures, BitmapTextAndHatchDetails) {
    const Rendered bitmap = renderFixture("bitmap");
    // The 8 x 8 bitmap of four colour blocks, scaled into 200 x 200 of the 400 x 300 drawing.
    for (const QImage& image : {bitmap.ours, bitmap.reference}) {
        EXPECT_COLOUR(image, 60, 60, QColor(255, 0, 0));
        EXPECT_COLOUR(image, 160, 60, QColor(0, 160, 0));
        EXPECT_COLOUR(image, 60, 160, QColor(0, 0, 255));
        EXPECT_COLOUR(image, 160, 160, QColor(255, 255, 0));
        EXPECT_COLOUR(image, 290, 140, QColor(0, 0, 128));
    }
    const Rendered text = renderFixture("text");
    // "Pixmoor" in black, "Bold serif" in red, "Italic blue", all in the left half.
    for (const QImage& image : {text.ours, text.reference}) {
        EXPECT_GT(countNear(image, QRect(0, 10, 200, 50), Qt::black), 400);
        EXPECT_GT(countNear(image, QRect(0, 70, 200, 35), QColor(192, 0, 0)), 150);
        EXPECT_GT(countNear(image, QRect(0, 110, 150, 30), QColor(0, 0, 192)), 100);
        EXPECT_EQ(countNear(image, QRect(250, 10, 100, 100), Qt::black), 0);
    }
    const Rendered hatch = renderFixture("hatch");
    // Hatch lines over white in the first rectangle, over yellow in the ellipse.
    for (const QImage& image : {hatch.ours, hatch.reference}) {
        EXPECT_GT(countNear(image, QRect(30, 30, 100, 70), Qt::white, 20), 2000);
        EXPECT_GT(countNear(image, QRect(30, 30, 100, 70), QColor(0, 0, 128), 100), 200);
        EXPECT_GT(countNear(image, QRect(240, 40, 80, 50), QColor(255, 255, 128), 30), 500);
    }
}

TEST(MetafileFixtures, EscapesAreSkippedAndBytesKept) {
    // The same records with and without LibreOffice's embedded EMF comments draw the same.
    const auto with = Metafile::fromFile(kFixtures + "shapes-emf.wmf");
    const auto without = Metafile::fromFile(kFixtures + "shapes.wmf");
    EXPECT_EQ(renderMetafile(*with), renderMetafile(*without));
    // The clipboard form is the file itself.
    QFile file(kFixtures + "shapes-emf.wmf");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(with->bytes(), file.readAll());
}

TEST(MetafileSize, PlaceableBoxAt96DpiPlainFromWindowOrDrawing) {
    // Placeable: 2 x 1 inches in twips.
    auto mf = Metafile::fromData(
        WmfBuilder().placeable(QRect(0, 0, 2880, 1440), 1440).rectangle(0, 0, 10, 10).bytes());
    EXPECT_TRUE(mf->isPlaceable());
    EXPECT_EQ(mf->size(), QSize(192, 96));
    // A box not at the origin, in hundredths of a millimetre: 50.8 x 25.4 mm.
    mf = Metafile::fromData(WmfBuilder().placeable(QRect(1000, -500, 5080, 2540), 2540).bytes());
    EXPECT_EQ(mf->size(), QSize(192, 96));
    // Plain with a window: the extent.
    mf = Metafile::fromData(
        WmfBuilder().window(50, 50, 300, 200).rectangle(60, 60, 100, 100).bytes());
    EXPECT_FALSE(mf->isPlaceable());
    EXPECT_EQ(mf->size(), QSize(300, 200));
    // Plain with no window: the bounds of what is drawn.
    mf = Metafile::fromData(
        WmfBuilder().rectangle(10, 20, 110, 70).ellipse(100, 60, 130, 90).bytes());
    EXPECT_EQ(mf->size(), QSize(120, 70));
    const QImage image = renderMetafile(*mf);
    EXPECT_LT(qGray(image.pixel(0, 30)), 200); // the rectangle's left edge is at the left
    // A huge extent is capped, keeping the aspect ratio.
    mf = Metafile::fromData(WmfBuilder().window(0, 0, 30000, 15000).bytes());
    EXPECT_EQ(mf->size(), QSize(Metafile::kMaxPixelSide, Metafile::kMaxPixelSide / 2));
}

TEST(MetafileMapping, WindowMapsOntoTargetWithFlipsAndIsotropicMode) {
    const QColor red(255, 0, 0);
    WmfBuilder b;
    b.window(100, 100, 200, 100).brush(0, red).select(0).pen(5, 0, Qt::black).select(1);
    b.rectangle(100, 100, 200, 200); // the left half of the window
    QImage image = render(b.bytes(), QSize(80, 40));
    EXPECT_COLOUR(image, 20, 20, red);
    EXPECT_COLOUR(image, 60, 20, Qt::white);

    // A negative y extent turns the picture upside down (y grows upwards).
    WmfBuilder up;
    up.window(0, 100, 100, -100).brush(0, red).select(0).pen(5, 0, Qt::black).select(1);
    up.rectangle(0, 0, 100, 50); // the lower half, as y=0 is at the bottom
    image = render(up.bytes(), QSize(50, 50));
    EXPECT_COLOUR(image, 25, 40, red);
    EXPECT_COLOUR(image, 25, 10, Qt::white);

    // Isotropic: equal scales, so a square stays square inside a wide target.
    WmfBuilder iso;
    iso.record(0x0103, {7}).window(0, 0, 100, 100).record(0x020E, {100, 100});
    iso.brush(0, red).select(0).pen(5, 0, Qt::black).select(1).rectangle(0, 0, 100, 100);
    image = render(iso.bytes(), QSize(200, 100));
    EXPECT_COLOUR(image, 50, 50, red);
    EXPECT_COLOUR(image, 150, 50, Qt::white);

    // A viewport in the writer's device units: the first extent stands for the whole picture,
    // so this window fills it, upside down as the negative extent and its origin ask.
    WmfBuilder vp;
    vp.record(0x0103, {8})
        .window(0, 0, 1000, 1000)
        .record(0x020D, {100, 0})
        .record(0x020E, {-100, 100});
    vp.brush(0, red).select(0).pen(5, 0, Qt::black).select(1).rectangle(0, 0, 1000, 500);
    const auto vpFile = Metafile::fromData(vp.bytes());
    EXPECT_EQ(vpFile->size(), QSize(1000, 1000));
    image = render(vp.bytes(), QSize(50, 50));
    EXPECT_COLOUR(image, 25, 40, red);
    EXPECT_COLOUR(image, 25, 10, Qt::white);

    // Viewport and window offsets and scaling records.
    WmfBuilder moved;
    moved.window(0, 0, 100, 100)
        .record(0x020F, {50, 50}) // OffsetWindowOrg(50, 50)
        .brush(0, red)
        .select(0)
        .pen(5, 0, Qt::black)
        .select(1)
        .rectangle(50, 50, 100, 100)
        .record(0x0410, {1, 2, 1, 2}); // ScaleWindowExt x2: later drawing at half size
    image = render(moved.bytes(), QSize(100, 100));
    EXPECT_COLOUR(image, 25, 25, red);
    EXPECT_COLOUR(image, 75, 75, Qt::white);
}

TEST(MetafileRecords, Rop2ModesCombineWithWhatIsThere) {
    const QColor blue(0, 0, 255);
    auto draw = [&](int rop2) {
        WmfBuilder b;
        b.window(0, 0, 20, 10).pen(5, 0, Qt::black).select(0);
        b.brush(0, blue).select(1).rectangle(0, 0, 10, 10); // left half blue
        b.record(0x0104, {rop2}).brush(0, QColor(255, 0, 255)).select(2).rectangle(0, 0, 20, 10);
        return render(b.bytes(), QSize(20, 10));
    };
    QImage image = draw(13); // copy
    EXPECT_COLOUR(image, 5, 5, QColor(255, 0, 255));
    image = draw(9); // mask: magenta AND blue = blue, AND white = magenta
    EXPECT_COLOUR(image, 5, 5, blue);
    EXPECT_COLOUR(image, 15, 5, QColor(255, 0, 255));
    image = draw(7); // xor: magenta ^ blue = red, ^ white = green
    EXPECT_COLOUR(image, 5, 5, QColor(255, 0, 0));
    EXPECT_COLOUR(image, 15, 5, QColor(0, 255, 0));
    image = draw(6); // not: blue -> yellow, white -> black
    EXPECT_COLOUR(image, 5, 5, QColor(255, 255, 0));
    EXPECT_COLOUR(image, 15, 5, Qt::black);
    image = draw(11); // no operation
    EXPECT_COLOUR(image, 5, 5, blue);
    EXPECT_COLOUR(image, 15, 5, Qt::white);
    image = draw(1); // black
    EXPECT_COLOUR(image, 15, 5, Qt::black);
}

TEST(MetafileRecords, ClipRectanglesRegionsAndSaveRestore) {
    const QColor red(255, 0, 0);
    WmfBuilder b;
    b.window(0, 0, 100, 100).brush(0, red).select(0).pen(5, 0, Qt::black).select(1);
    b.record(0x001E, {});               // SaveDC
    b.record(0x0416, {100, 50, 0, 0});  // IntersectClipRect(0, 0, 50, 100)
    b.record(0x0415, {30, 30, 10, 10}); // ExcludeClipRect(10, 10, 30, 30)
    b.rectangle(0, 0, 100, 50);         // clipped to the left half, with a hole
    b.record(0x0127, {-1});             // RestoreDC: no clipping
    b.rectangle(0, 80, 100, 100);       // full width
    QImage image = render(b.bytes(), QSize(100, 100));
    EXPECT_COLOUR(image, 40, 40, red);
    EXPECT_COLOUR(image, 75, 25, Qt::white);
    EXPECT_COLOUR(image, 20, 20, Qt::white); // the excluded hole
    EXPECT_COLOUR(image, 90, 90, red);

    // A region object selected as the clip: two scans, (0..20, 0..50) and (60..100, 50..100).
    WmfBuilder r;
    r.window(0, 0, 100, 100).brush(0, red).select(0).pen(5, 0, Qt::black).select(1);
    r.record(0x06FF,
             {0, 6, 0, 0, 0, 2, 0, 0, 0, 100, 100, 2, 0, 50, 0, 20, 2, 2, 50, 100, 60, 100, 2});
    r.record(0x012C, {2}); // SelectClipRgn
    r.rectangle(0, 0, 100, 100);
    image = render(r.bytes(), QSize(100, 100));
    EXPECT_COLOUR(image, 10, 25, red);
    EXPECT_COLOUR(image, 40, 25, Qt::white);
    EXPECT_COLOUR(image, 80, 75, red);
    EXPECT_COLOUR(image, 30, 75, Qt::white);
}

TEST(MetafileRecords, DibBltsPlaceMirrorAndMask) {
    QImage quad(2, 2, QImage::Format_RGB32);
    quad.setPixel(0, 0, qRgb(255, 0, 0));
    quad.setPixel(1, 0, qRgb(0, 255, 0));
    quad.setPixel(0, 1, qRgb(0, 0, 255));
    quad.setPixel(1, 1, qRgb(255, 255, 0));
    const QByteArray dib = WmfBuilder::dib24(quad);
    WmfBuilder b;
    b.window(0, 0, 100, 100).stretchDib(dib, 2, 2, 0, 0, 100, 100);
    QImage image = render(b.bytes(), QSize(100, 100));
    EXPECT_COLOUR(image, 10, 10, QColor(255, 0, 0));
    EXPECT_COLOUR(image, 90, 10, QColor(0, 255, 0));
    EXPECT_COLOUR(image, 10, 90, QColor(0, 0, 255));
    EXPECT_COLOUR(image, 90, 90, QColor(255, 255, 0));

    // A negative destination width mirrors.
    WmfBuilder m;
    m.window(0, 0, 100, 100).stretchDib(dib, 2, 2, 100, 0, -100, 100);
    image = render(m.bytes(), QSize(100, 100));
    EXPECT_COLOUR(image, 10, 10, QColor(0, 255, 0));
    EXPECT_COLOUR(image, 90, 10, QColor(255, 0, 0));

    // The sprite idiom: SRCAND with a mask (white keeps the background), then SRCINVERT with
    // the image (black where transparent) leaves a transparent sprite over a blue background.
    QImage mask(2, 1, QImage::Format_RGB32), sprite(2, 1, QImage::Format_RGB32);
    mask.setPixel(0, 0, qRgb(0, 0, 0));
    mask.setPixel(1, 0, qRgb(255, 255, 255));
    sprite.setPixel(0, 0, qRgb(255, 0, 0));
    sprite.setPixel(1, 0, qRgb(0, 0, 0));
    WmfBuilder s;
    s.window(0, 0, 100, 50).brush(0, QColor(0, 0, 255)).select(0).pen(5, 0, Qt::black).select(1);
    s.rectangle(0, 0, 100, 50);
    s.stretchDib(WmfBuilder::dib24(mask), 2, 1, 0, 0, 100, 50, 0x008800C6);
    s.stretchDib(WmfBuilder::dib24(sprite), 2, 1, 0, 0, 100, 50, 0x00660046);
    image = render(s.bytes(), QSize(100, 50));
    EXPECT_COLOUR(image, 20, 25, QColor(255, 0, 0));
    EXPECT_COLOUR(image, 80, 25, QColor(0, 0, 255));

    // DIBBitBlt without a bitmap is a pattern blt: PATCOPY with the brush, DSTINVERT.
    WmfBuilder p;
    p.window(0, 0, 100, 100).brush(0, QColor(0, 128, 0)).select(0);
    QByteArray params;
    WmfBuilder::put32(params, 0x00F00021);
    for (int v : {0, 0, 0, 100, 50, 0, 0}) WmfBuilder::put16(params, v);
    p.raw(0x0940, params);
    QByteArray invert;
    WmfBuilder::put32(invert, 0x00550009);
    for (int v : {0, 0, 0, 50, 100, 50, 0}) WmfBuilder::put16(invert, v);
    p.raw(0x0940, invert);
    image = render(p.bytes(), QSize(100, 100));
    EXPECT_COLOUR(image, 25, 25, QColor(0, 128, 0));
    EXPECT_COLOUR(image, 25, 75, QColor(255, 127, 255)); // green inverted
    EXPECT_COLOUR(image, 75, 75, Qt::black);             // white inverted
}

TEST(MetafileRecords, DibStretchBltSourceRectanglesAndPatternBrushes) {
    QImage quad(2, 2, QImage::Format_RGB32);
    quad.setPixel(0, 0, qRgb(255, 0, 0));
    quad.setPixel(1, 0, qRgb(0, 255, 0));
    quad.setPixel(0, 1, qRgb(0, 0, 255));
    quad.setPixel(1, 1, qRgb(255, 255, 0));
    // DIBStretchBlt of the source pixel (1, 1) counted from the bottom-left of the bottom-up
    // DIB: the top-right, green one; then SRCPAINT (OR) of the whole DIB at quarter size.
    QByteArray params;
    WmfBuilder::put32(params, 0x00CC0020);
    for (int v : {1, 1, 1, 1, 100, 100, 0, 0}) WmfBuilder::put16(params, v);
    QByteArray paint;
    WmfBuilder::put32(paint, 0x00EE0086);
    for (int v : {2, 2, 0, 0, 50, 50, 0, 0}) WmfBuilder::put16(paint, v);
    WmfBuilder b;
    b.window(0, 0, 100, 100).raw(0x0B41, params + WmfBuilder::dib24(quad));
    b.raw(0x0B41, paint + WmfBuilder::dib24(quad));
    QImage image = render(b.bytes(), QSize(100, 100));
    EXPECT_COLOUR(image, 75, 75, QColor(0, 255, 0));
    EXPECT_COLOUR(image, 10, 10, QColor(255, 255, 0)); // red | green
    EXPECT_COLOUR(image, 35, 10, QColor(0, 255, 0));   // green | green
    EXPECT_COLOUR(image, 10, 35, QColor(0, 255, 255)); // blue | green

    // A DIB pattern brush of 8 x 8: red and blue halves, repeated from the device origin.
    QImage pattern(8, 8, QImage::Format_RGB32);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            pattern.setPixel(x, y, x < 4 ? qRgb(255, 0, 0) : qRgb(0, 0, 255));
    QByteArray brush;
    WmfBuilder::put16(brush, 5); // BS_DIBPATTERN
    WmfBuilder::put16(brush, 0); // DIB_RGB_COLORS
    WmfBuilder p;
    p.window(0, 0, 64, 64)
        .pen(5, 0, Qt::black)
        .select(0)
        .raw(0x0142, brush + WmfBuilder::dib24(pattern));
    p.select(1).rectangle(0, 0, 64, 64);
    image = render(p.bytes(), QSize(64, 64));
    EXPECT_COLOUR(image, 2, 2, QColor(255, 0, 0));
    EXPECT_COLOUR(image, 6, 2, QColor(0, 0, 255));
    EXPECT_COLOUR(image, 42, 61, QColor(255, 0, 0));
    EXPECT_COLOUR(image, 46, 61, QColor(0, 0, 255));
}

TEST(MetafileRecords, IndexedAndCompressedDibs) {
    // A 4 x 2, 1-bit DIB with a red/white colour table, and the same in 8-bit RLE.
    QByteArray mono;
    WmfBuilder::put32(mono, 40);
    WmfBuilder::put32(mono, 4);
    WmfBuilder::put32(mono, 2);
    WmfBuilder::put16(mono, 1);
    WmfBuilder::put16(mono, 1);
    for (int i = 0; i < 6; ++i) WmfBuilder::put32(mono, 0);
    mono += QByteArray("\x00\x00\xFF\x00", 4);
    mono += QByteArray("\xFF\xFF\xFF\x00", 4);
    mono += QByteArray("\x30\x00\x00\x00", 4); // bottom row: 0011 -> red red white white
    mono += QByteArray("\xC0\x00\x00\x00", 4); // top row:    1100 -> white white red red
    WmfBuilder b;
    b.window(0, 0, 4, 2).stretchDib(mono, 4, 2, 0, 0, 4, 2);
    QImage image = render(b.bytes(), QSize(40, 20));
    EXPECT_COLOUR(image, 5, 15, QColor(255, 0, 0));
    EXPECT_COLOUR(image, 35, 15, Qt::white);
    EXPECT_COLOUR(image, 5, 5, Qt::white);
    EXPECT_COLOUR(image, 35, 5, QColor(255, 0, 0));

    QByteArray rle;
    WmfBuilder::put32(rle, 40);
    WmfBuilder::put32(rle, 4);
    WmfBuilder::put32(rle, 2);
    WmfBuilder::put16(rle, 1);
    WmfBuilder::put16(rle, 8);
    WmfBuilder::put32(rle, 1); // BI_RLE8
    for (int i = 0; i < 3; ++i) WmfBuilder::put32(rle, 0);
    WmfBuilder::put32(rle, 2); // two colours used
    WmfBuilder::put32(rle, 0);
    rle += QByteArray("\x00\x00\xFF\x00\xFF\x00\x00\x00", 8); // red, blue
    rle += QByteArray("\x04\x00\x00\x00\x04\x01\x00\x01", 8); // row: 4 x red; row: 4 x blue; end
    WmfBuilder c;
    c.window(0, 0, 4, 2).stretchDib(rle, 4, 2, 0, 0, 4, 2);
    image = render(c.bytes(), QSize(40, 20));
    EXPECT_COLOUR(image, 20, 15, QColor(255, 0, 0));
    EXPECT_COLOUR(image, 20, 5, QColor(0, 0, 255));
}

namespace {

// A device that records the text the player hands over.
class TextRecorder : public Device {
public:
    struct Call {
        QPointF at;
        QString text;
        GraphicsState gs;
        TextOptions options;
    };
    std::vector<Call> calls;
    int shapes = 0;
    void drawPolyline(const GraphicsState&, const QPolygonF&) override { ++shapes; }
    void drawPolygons(const GraphicsState&, const QList<QPolygonF>&) override { ++shapes; }
    void drawRect(const GraphicsState&, const QRectF&) override { ++shapes; }
    void drawRoundRect(const GraphicsState&, const QRectF&, qreal, qreal) override { ++shapes; }
    void drawEllipse(const GraphicsState&, const QRectF&) override { ++shapes; }
    void drawArc(const GraphicsState&, const QRectF&, const QPointF&, const QPointF&,
                 ArcKind) override {
        ++shapes;
    }
    void setPixel(const GraphicsState&, const QPointF&, const QColor&) override { ++shapes; }
    void fillPath(const GraphicsState&, const QPainterPath&, const Brush&) override { ++shapes; }
    void invertPath(const GraphicsState&, const QPainterPath&) override { ++shapes; }
    qreal drawText(const GraphicsState& gs, const QPointF& at, const QString& text,
                   const TextOptions& o) override {
        calls.push_back({at, text, gs, o});
        return 10.0 * text.size();
    }
    void drawImage(const GraphicsState&, const QRectF&, const QImage&, std::uint32_t) override {
        ++shapes;
    }
    void patBlt(const GraphicsState&, const QRectF&, std::uint32_t) override { ++shapes; }
};

} // namespace

TEST(MetafileText, CharacterSetsSpacingAndCurrentPosition) {
    WmfBuilder b;
    b.window(0, 0, 200, 100);
    b.font(-20, 0, 400, 204).select(0); // RUSSIAN_CHARSET: windows-1251
    b.textOut(10, 50, QByteArray("\xCF\xF0\xE8\xE2\xE5\xF2"));
    b.font(-20, 0, 700, 0).select(1); // ANSI: windows-1252
    b.extTextOut(10, 80, QByteArray("\x80 caf\xE9"), 0, {}, {5, 5, 5, 5, 5, 5});
    b.record(0x012E, {1}); // TA_UPDATECP
    b.moveTo(100, 20).textOut(0, 0, "ab").textOut(0, 0, "cd");
    const auto mf = Metafile::fromData(b.bytes());
    TextRecorder recorder;
    mf->play(recorder, QRectF(0, 0, 200, 100));
    ASSERT_EQ(recorder.calls.size(), 4u);
    EXPECT_EQ(recorder.calls[0].text, QString::fromUtf8("Привет"));
    EXPECT_EQ(recorder.calls[0].at, QPointF(10, 50));
    EXPECT_DOUBLE_EQ(recorder.calls[0].gs.font.height, 20);
    EXPECT_EQ(recorder.calls[1].text, QString::fromUtf8("€ café"));
    EXPECT_EQ(recorder.calls[1].gs.font.weight, 700);
    EXPECT_EQ(recorder.calls[1].options.advances, QList<qreal>({5, 5, 5, 5, 5, 5}));
    // With TA_UPDATECP the reference point is the current position, moved by each text.
    EXPECT_EQ(recorder.calls[2].at, QPointF(100, 20));
    EXPECT_EQ(recorder.calls[3].at, QPointF(120, 20));
}

TEST(MetafileText, AlignmentRotationOpaqueAndClipping) {
    auto inkBox = [](const QImage& image) {
        QRect box;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qGray(image.pixel(x, y)) < 128) box |= QRect(x, y, 1, 1);
        return box;
    };
    auto textImage = [&](int align, int escapement) {
        WmfBuilder b;
        b.window(0, 0, 200, 200).backgroundMode(false).font(-24, escapement).select(0);
        b.record(0x012E, {align}).textOut(100, 100, "Hello");
        return render(b.bytes(), QSize(200, 200));
    };
    // TA_LEFT|TA_TOP: the ink lies right of and below the point.
    QRect box = inkBox(textImage(0, 0));
    EXPECT_GE(box.left(), 99);
    EXPECT_GE(box.top(), 100);
    // TA_RIGHT|TA_BASELINE: left of the point, above the baseline.
    box = inkBox(textImage(2 | 24, 0));
    EXPECT_LE(box.right(), 101);
    EXPECT_LE(box.bottom(), 101);
    EXPECT_GT(box.width(), 40);
    // TA_CENTER: about centred on x.
    box = inkBox(textImage(6 | 24, 0));
    EXPECT_NEAR(box.center().x(), 100, 4);
    // Escapement 90 degrees: the text runs upwards from the point.
    box = inkBox(textImage(24, 900));
    EXPECT_GT(box.height(), box.width() * 2);
    EXPECT_LE(box.bottom(), 101);

    // Stretched out of its proportions, text stretches with the picture.
    WmfBuilder wide;
    wide.window(0, 0, 200, 100).backgroundMode(false).font(-30).select(0).textOut(10, 10, "Hello");
    const QRect natural = inkBox(render(wide.bytes(), QSize(200, 100)));
    const QRect stretched = inkBox(render(wide.bytes(), QSize(400, 100)));
    EXPECT_NEAR(double(stretched.width()) / natural.width(), 2.0, 0.1);
    EXPECT_NEAR(stretched.height(), natural.height(), 2);

    // ETO_OPAQUE fills the rectangle with the background colour; ETO_CLIPPED cuts the text.
    WmfBuilder o;
    o.window(0, 0, 200, 100).backgroundColour(QColor(255, 255, 0)).font(-40).select(0);
    o.extTextOut(10, 10, "WWWWWWWW", 0x0006, QRect(0, 0, 60, 100));
    const QImage image = render(o.bytes(), QSize(200, 100));
    EXPECT_COLOUR(image, 5, 90, QColor(255, 255, 0));
    box = inkBox(image);
    EXPECT_LE(box.right(), 60);
}

TEST(MetafileRecords, HatchesPensAndShapes) {
    // HS_CROSS in blue, opaque background in yellow; then in transparent mode.
    auto hatched = [](bool opaque) {
        WmfBuilder b;
        b.window(0, 0, 64, 64).backgroundMode(opaque).backgroundColour(QColor(255, 255, 0));
        b.brush(2, QColor(0, 0, 255), 4).select(0).pen(5, 0, Qt::black).select(1);
        b.rectangle(0, 0, 64, 64);
        return render(b.bytes(), QSize(64, 64));
    };
    QImage image = hatched(true);
    const QRect all(0, 0, 64, 64);
    EXPECT_GT(countNear(image, all, QColor(0, 0, 255)), 64 * 8);
    EXPECT_GT(countNear(image, all, QColor(255, 255, 0)), 64 * 32);
    image = hatched(false);
    EXPECT_GT(countNear(image, all, Qt::white), 64 * 32);
    EXPECT_EQ(countNear(image, all, QColor(255, 255, 0)), 0);

    // Arc, pie, chord, round rectangle, polyline, polypolygon, set pixel all draw.
    WmfBuilder s;
    s.window(0, 0, 100, 100)
        .pen(0, 2, QColor(255, 0, 0))
        .select(0)
        .brush(0, QColor(0, 255, 0))
        .select(1);
    s.record(0x081A,
             {50, 0, 50, 100, 100, 100, 0, 0}); // Pie: from (100, 50) to (0, 50), the top half
    image = render(s.bytes(), QSize(100, 100));
    EXPECT_COLOUR(image, 50, 25, QColor(0, 255, 0));
    EXPECT_COLOUR(image, 50, 75, Qt::white);

    WmfBuilder pp;
    pp.window(0, 0, 100, 100).pen(5, 0, Qt::black).select(0).brush(0, QColor(0, 0, 255)).select(1);
    // Two nested squares with the alternate fill rule: a frame.
    pp.record(0x0538, {2, 4, 4, 0, 0, 100, 0, 100, 100, 0, 100, 25, 25, 75, 25, 75, 75, 25, 75});
    pp.record(0x041F, {255, 0, 5, 50}); // SetPixel(50, 5), red
    image = render(pp.bytes(), QSize(100, 100));
    EXPECT_COLOUR(image, 10, 50, QColor(0, 0, 255));
    EXPECT_COLOUR(image, 50, 50, Qt::white);
    EXPECT_COLOUR(image, 50, 5, QColor(255, 0, 0));
}

TEST(MetafileDamage, BadHeadersFailWithClearErrors) {
    auto error = [](const QByteArray& data) -> std::string {
        try {
            Metafile::fromData(data);
        } catch (const MetafileError& e) {
            return e.what();
        }
        return "no error";
    };
    EXPECT_EQ(error(QByteArray()), "Not a Windows metafile (file too short)");
    EXPECT_EQ(error(QByteArray("GIF89a just some other file")),
              "Not a Windows metafile (bad header)");
    const QByteArray good =
        WmfBuilder().placeable(QRect(0, 0, 100, 100), 1440).rectangle(0, 0, 10, 10).bytes();
    EXPECT_EQ(error(good.left(10)), "Truncated placeable metafile header");
    EXPECT_EQ(error(good.left(30)), "Truncated metafile header after the placeable header");
    EXPECT_THROW(Metafile::fromFile("/nonexistent/none.wmf"), MetafileError);
}

TEST(MetafileDamage, BadRecordSizesStopPlaybackAfterWhatCameBefore) {
    const QColor red(255, 0, 0);
    for (const std::uint32_t size : {0u, 2u, 1000000u, 0xFFFFFFFFu}) {
        WmfBuilder b;
        b.window(0, 0, 100, 100).brush(0, red).select(0).rectangle(0, 0, 50, 50);
        b.rawHead(size, 0x041B, QByteArray(8, '\0'));
        b.rectangle(50, 50, 100, 100); // never reached
        const auto mf = Metafile::fromData(b.bytes());
        EXPECT_FALSE(mf->stopReason().isEmpty()) << size;
        QStringList warnings;
        const QImage image = renderMetafile(*mf, QSize(100, 100), Qt::white, &warnings)
                                 .convertToFormat(QImage::Format_RGB32);
        EXPECT_COLOUR(image, 25, 25, red);
        EXPECT_COLOUR(image, 75, 75, Qt::white);
        ASSERT_FALSE(warnings.isEmpty());
        EXPECT_TRUE(warnings.last().startsWith("playback stopped: record 6"))
            << warnings.last().toStdString();
    }
}

TEST(MetafileDamage, HostileRecordsAreRefusedOneByOne) {
    const QColor red(255, 0, 0);
    WmfBuilder b;
    b.objects(2).window(0, 0, 100, 100);
    b.select(7).select(-1).remove(40000);              // object indexes out of range
    b.brush(0, red).brush(0, red).brush(0, red);       // the third does not fit the table
    b.select(0).record(0x0324, {30000, 0, 0, 10, 10}); // a polygon claiming 30000 points
    b.record(0x0538, {5000, 1, 1});                    // a polypolygon claiming 5000 polygons
    b.record(0x0521, {9000, 0x4141});                  // text longer than its record
    b.record(0x0410, {0, 1, 0, 1});                    // scale by n/0
    b.stretchDib(QByteArray("\x28\0\0\0\xFF\xFF\0\0\xFF\xFF\0\0\x01\0\x18\0", 16) +
                     QByteArray(24, '\0'),
                 10, 10, 0, 0, 10, 10);                        // a huge DIB header only
    b.record(0x06FF, {0, 6, 0, 0, 0, 30000, 0, 0, 0, 10, 10}); // region with absurd scan count
    for (int i = 0; i < 100000; ++i) b.record(0x001E, {});     // deeply nested saves
    b.record(0x0127, {1});       // and one restore of them all (level 1)
    b.record(0x0127, {5});       // nothing left to restore
    b.rectangle(0, 0, 100, 100); // still plays
    const auto mf = Metafile::fromData(b.bytes());
    QStringList warnings;
    const QImage image = renderMetafile(*mf, QSize(50, 50), Qt::white, &warnings)
                             .convertToFormat(QImage::Format_RGB32);
    EXPECT_COLOUR(image, 25, 25, red);
    const QString all = warnings.join('\n');
    EXPECT_TRUE(all.contains("object index 7 is out of range (table of 2)")) << all.toStdString();
    EXPECT_TRUE(all.contains("object table of 2 entries is full"));
    EXPECT_TRUE(all.contains("30000 points do not fit in the record"));
    EXPECT_TRUE(all.contains("5000 polygons do not fit in the record"));
    EXPECT_TRUE(all.contains("text of 9000 characters does not fit in the record"));
    EXPECT_TRUE(all.contains("scale with a zero denominator"));
    EXPECT_TRUE(all.contains("bitmap of 65535 x 65535 pixels is too large"));
    EXPECT_TRUE(all.contains("no saved state 5 to restore")) << all.toStdString();
}

TEST(MetafileDamage, RandomDamageNeverCrashes) {
    // Every fixture with bytes flipped and cut at many places parses and plays, or is refused.
    for (const char* name : {"shapes", "text", "bitmap", "curves"}) {
        QFile file(kFixtures + name + ".wmf");
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray original = file.readAll();
        std::uint32_t seed = 12345;
        auto next = [&] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
        for (int round = 0; round < 60; ++round) {
            QByteArray data = original;
            for (int k = 0; k < 8; ++k)
                data[qsizetype(next() % std::uint32_t(data.size()))] = char(next());
            if (round % 3 == 0) data.truncate(qsizetype(next() % std::uint32_t(data.size())));
            try {
                const auto mf = Metafile::fromData(data);
                renderMetafile(*mf, QSize(64, 48));
            } catch (const MetafileError&) {
            }
        }
    }
}
