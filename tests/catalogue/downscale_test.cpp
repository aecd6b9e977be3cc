// Tests of the area-averaging downscale: exact weights at whole and fractional ratios, colours that
// must survive unchanged, palettes, enlarging directions, and agreement with Qt's smooth scaling.
#include "catalogue/downscale.h"
#include "tests/support/image_compare.h"

#include <QPainter>
#include <QRandomGenerator>
#include <gtest/gtest.h>

#include <cmath>

namespace {

using pixmoor::AreaDownscaler;
using pixmoor::scaleToThumbnail;
using pixmoor::test::psnr;

QImage grayRow(std::initializer_list<int> values) {
    QImage image(int(values.size()), 1, QImage::Format_RGB32);
    int x = 0;
    for (int v : values) image.setPixel(x++, 0, qRgb(v, v, v));
    return image;
}

// A photo-like test card: gradients, sharp edges and noise.
QImage testCard(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int noise = int(random.bounded(40)) - 20;
            const int r = std::clamp(x * 255 / w + noise, 0, 255);
            const int g = std::clamp(y * 255 / h + noise, 0, 255);
            const int b = ((x / 37 + y / 29) % 2) ? 230 : 20;
            image.setPixel(x, y, qRgb(r, g, b));
        }
    return image;
}

TEST(AreaDownscale, WholeBlocksAreAveraged) {
    QImage source(4, 2, QImage::Format_RGB32);
    const int values[2][4] = {{0, 100, 200, 40}, {20, 80, 60, 100}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) source.setPixel(x, y, qRgb(values[y][x], 0, 255));
    const QImage out = scaleToThumbnail(source, QSize(2, 1));
    ASSERT_EQ(out.size(), QSize(2, 1));
    EXPECT_EQ(out.format(), QImage::Format_RGB32);
    EXPECT_EQ(qRed(out.pixel(0, 0)), 50);  // (0 + 100 + 20 + 80) / 4
    EXPECT_EQ(qRed(out.pixel(1, 0)), 100); // (200 + 40 + 60 + 100) / 4
    EXPECT_EQ(qBlue(out.pixel(1, 0)), 255);
}

TEST(AreaDownscale, FractionalCoverageIsWeightedByArea) {
    // Three pixels into two: the middle one is split half and half.
    const QImage out = scaleToThumbnail(grayRow({0, 90, 180}), QSize(2, 1));
    EXPECT_EQ(qRed(out.pixel(0, 0)), 30);  // (2 * 0 + 1 * 90) / 3
    EXPECT_EQ(qRed(out.pixel(1, 0)), 150); // (1 * 90 + 2 * 180) / 3

    // Five into three, vertically as well as horizontally.
    QImage column(1, 5, QImage::Format_RGB32);
    const int v[5] = {0, 50, 100, 150, 250};
    for (int y = 0; y < 5; ++y) column.setPixel(0, y, qRgb(v[y], v[y], v[y]));
    const QImage down = scaleToThumbnail(column, QSize(1, 3));
    // Each output row covers 5/3 source rows: weights 3,2 | 1,3,1 | 2,3 (in fifths of a row).
    EXPECT_EQ(qRed(down.pixel(0, 0)), (3 * 0 + 2 * 50 + 2) / 5);
    EXPECT_EQ(qRed(down.pixel(0, 1)), (1 * 50 + 3 * 100 + 1 * 150 + 2) / 5);
    EXPECT_EQ(qRed(down.pixel(0, 2)), (2 * 150 + 3 * 250 + 2) / 5);
}

TEST(AreaDownscale, FlatColoursStayExactAtAwkwardRatios) {
    // Pure white must stay pure white: the image lists make exactly that colour transparent.
    // 70 x 30000 puts over 257 rows in a band, past what the 16-bit sums hold.
    for (const QSize source : {QSize(1999, 1001), QSize(71, 70), QSize(640, 480),
                               QSize(70, 1234), QSize(70, 30000)}) {
        QImage white(source, QImage::Format_RGB32);
        white.fill(Qt::white);
        QImage red(source, QImage::Format_RGB888);
        red.fill(QColor(200, 10, 0));
        const QImage w = scaleToThumbnail(white, QSize(70, 70));
        const QImage r = scaleToThumbnail(red, QSize(70, 70));
        ASSERT_EQ(w.size(), QSize(70, 70));
        for (int y = 0; y < 70; ++y)
            for (int x = 0; x < 70; ++x) {
                ASSERT_EQ(w.pixel(x, y), 0xFFFFFFFFu) << source.width() << "x" << source.height();
                ASSERT_EQ(r.pixel(x, y), qRgb(200, 10, 0));
            }
    }
}

TEST(AreaDownscale, RowsStreamedFromRastersMatchWholeImages) {
    // An indexed raster with an index past its palette (black), as hostile files have.
    pixmoor::codec::Raster raster;
    ASSERT_EQ(pixmoor::codec::allocateRaster(raster, 300, 200, 8), 1);
    raster.palette = {{255, 0, 0}, {0, 0, 255}};
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 300; ++x)
            raster.row(y)[x] = std::uint8_t(x < 100 ? 0 : x < 200 ? 1 : 7);
    const QImage out = scaleToThumbnail(raster, QSize(3, 2));
    EXPECT_EQ(out.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(out.pixel(1, 1), qRgb(0, 0, 255));
    EXPECT_EQ(out.pixel(2, 0), qRgb(0, 0, 0));

    // A 24-bit raster row by row gives the same as the same pixels as a QImage.
    const QImage card = testCard(333, 250);
    pixmoor::codec::Raster rgb;
    ASSERT_EQ(pixmoor::codec::allocateRaster(rgb, 333, 250, 24), 1);
    for (int y = 0; y < 250; ++y)
        for (int x = 0; x < 333; ++x) {
            const QRgb p = card.pixel(x, y);
            rgb.row(y)[3 * x] = std::uint8_t(qRed(p));
            rgb.row(y)[3 * x + 1] = std::uint8_t(qGreen(p));
            rgb.row(y)[3 * x + 2] = std::uint8_t(qBlue(p));
        }
    EXPECT_EQ(scaleToThumbnail(rgb, QSize(70, 50)), scaleToThumbnail(card, QSize(70, 50)));

    AreaDownscaler partial(333, 250, QSize(70, 50));
    EXPECT_FALSE(partial.complete());
    EXPECT_EQ(partial.result().size(), QSize(70, 50)); // unfinished rows read as black
}

TEST(AreaDownscale, LooksLikeQtSmoothScaling) {
    const QImage card = testCard(1600, 1200);
    for (const QSize target : {QSize(70, 70), QSize(50, 50), QSize(150, 20), QSize(133, 97)}) {
        const QImage ours = scaleToThumbnail(card, target);
        const QImage qt = card.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                              .convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(ours.size(), target);
        EXPECT_GT(psnr(ours, qt), 35.0) << target.width() << "x" << target.height();
    }
}

TEST(AreaDownscale, EnlargingDirectionsAndOddInputs) {
    // 200 x 100 squeezed to 70 x 70 shrinks one way and grows the other: interpolated by Qt.
    const QImage card = testCard(200, 100);
    const QImage out = scaleToThumbnail(card, QSize(70, 70));
    ASSERT_EQ(out.size(), QSize(70, 70));
    EXPECT_EQ(out.format(), QImage::Format_RGB32);
    const QImage qt = card.scaled(70, 70, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                          .convertToFormat(QImage::Format_RGB32);
    EXPECT_GT(psnr(out, qt), 45.0);

    // A tiny image grows to the whole thumbnail.
    EXPECT_EQ(scaleToThumbnail(grayRow({10, 200}), QSize(70, 70)).size(), QSize(70, 70));

    // Alpha is composited over white.
    QImage clear(100, 100, QImage::Format_ARGB32);
    clear.fill(Qt::transparent);
    EXPECT_EQ(scaleToThumbnail(clear, QSize(10, 10)).pixel(5, 5), 0xFFFFFFFFu);

    // Nothing to scale, or nowhere to put it.
    EXPECT_TRUE(scaleToThumbnail(QImage(), QSize(70, 70)).isNull());
    EXPECT_TRUE(scaleToThumbnail(card, QSize(0, 70)).isNull());
    EXPECT_TRUE(scaleToThumbnail(pixmoor::codec::Raster{}, QSize(70, 70)).isNull());
    EXPECT_FALSE(AreaDownscaler::fits(69, 500, QSize(70, 70)));
    EXPECT_TRUE(AreaDownscaler::fits(70, 70, QSize(70, 70)));
}

} // namespace
