// Tests of thumbnail drawing, the build's small texts, and the hidden work form.
#include "catalogue/image.h"
#include "catalogue/image_list.h"
#include "catalogue/thumbnails.h"
#include "imaging/picture.h"
#include "platform/globals.h"
#include "tests/catalogue/catalogue_test_util.h"

#include <QLocale>
#include <gtest/gtest.h>

using namespace pixmoor;
using namespace pixmoor::test;

TEST(Thumbnails, ProgressRoundsHalvesToEven) {
    EXPECT_EQ(progressPosition(0, 5), 0);
    EXPECT_EQ(progressPosition(1, 8), 12);  // 12.5
    EXPECT_EQ(progressPosition(3, 8), 38);  // 37.5
    EXPECT_EQ(progressPosition(1, 200), 0); // 0.5
    EXPECT_EQ(progressPosition(3, 200), 2); // 1.5
    EXPECT_EQ(progressPosition(1, 3), 33);
    EXPECT_EQ(progressPosition(2, 3), 67);
    EXPECT_EQ(progressPosition(99, 100), 99);
    EXPECT_EQ(progressPosition(199, 200), 100); // 99.5 rounds to the even 100
    EXPECT_EQ(progressPosition(1, 0), 0);
}

TEST(Thumbnails, CountAndDateTexts) {
    EXPECT_EQ(fileCountText(0), "0 Files");
    EXPECT_EQ(fileCountText(1), "1 File");
    EXPECT_EQ(fileCountText(37), "37 Files");

    const QLocale locale;
    const QDate day(2024, 3, 9);
    EXPECT_EQ(fileDateText(QDateTime(day, QTime(0, 0))),
              locale.toString(day, QLocale::ShortFormat));
    const QTime time(14, 5, 6);
    EXPECT_EQ(fileDateText(QDateTime(day, time)), locale.toString(day, QLocale::ShortFormat) + " " +
                                                      locale.toString(time, QLocale::LongFormat));
}

TEST(Thumbnails, StretchesTheWholePictureWithoutKeepingItsShape) {
    QImage wide(200, 100, QImage::Format_RGB32);
    wide.fill(Qt::red);
    for (int y = 0; y < 100; ++y)
        for (int x = 100; x < 200; ++x) wide.setPixel(x, y, qRgb(0, 0, 255));
    Picture picture;
    picture.setBitmap(wide);
    const QImage thumb = drawThumbnail(picture, QSize(70, 70));
    ASSERT_EQ(thumb.size(), QSize(70, 70));
    // Left half red and right half blue from top to bottom: no border, no letterbox.
    for (int y : {0, 35, 69}) {
        EXPECT_EQ(pixelAt(thumb, 2, y), 0xFFFF0000u) << y;
        EXPECT_EQ(pixelAt(thumb, 67, y), 0xFF0000FFu) << y;
    }
}

TEST(Thumbnails, PalettedPicturesAreAveragedAndEmptyOnesStayWhite) {
    QImage indexed(64, 64, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) indexed.setPixel(x, y, (x + y) % 2);
    Picture picture;
    picture.setBitmap(indexed);
    const QImage thumb = drawThumbnail(picture, QSize(8, 8));
    const QRgb mid = thumb.pixel(4, 4);
    EXPECT_NEAR(qRed(mid), 128, 20); // a checkerboard averages to grey, not to one palette entry

    const QImage blank = drawThumbnail(Picture(), QSize(30, 20));
    ASSERT_EQ(blank.size(), QSize(30, 20));
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x) ASSERT_EQ(pixelAt(blank, x, y), 0xFFFFFFFFu);
}

TEST(Thumbnails, ErrorThumbnailHasTextInTheTopLeftCornerOnly) {
    const QImage thumb = errorThumbnail(QSize(70, 70));
    ASSERT_EQ(thumb.size(), QSize(70, 70));
    int darkTop = 0, darkBottom = 0;
    for (int y = 0; y < 70; ++y)
        for (int x = 0; x < 70; ++x)
            if (qGray(thumb.pixel(x, y)) < 128) (y < 20 && x < 50 ? darkTop : darkBottom)++;
    EXPECT_GT(darkTop, 10);
    EXPECT_EQ(darkBottom, 0);
    EXPECT_EQ(pixelAt(thumb, 69, 69), 0xFFFFFFFFu);
}

TEST(Thumbnails, FailedIconPlaceholderIsMarkedAndMostlyTransparent) {
    const QImage mark = failedIconThumbnail(QSize(32, 32));
    ASSERT_EQ(mark.size(), QSize(32, 32));
    EXPECT_EQ(qAlpha(mark.pixel(3, 16)), 0);
    EXPECT_GT(qAlpha(mark.pixel(16, 16)), 0); // the cross meets in the middle
}

TEST(Thumbnails, OnlyOpaquePureWhiteBecomesTransparent) {
    QImage image(4, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, 0xFFFFFFFFu); // opaque white
    image.setPixel(1, 0, 0xFFFFFFFEu); // nearly white
    image.setPixel(2, 0, 0x80FFFFFFu); // half-transparent white
    image.setPixel(3, 0, 0xFF102030u);
    const QImage masked = applyWhiteMask(image);
    EXPECT_EQ(masked.format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(masked.pixel(0, 0), 0u);
    EXPECT_EQ(masked.pixel(1, 0), 0xFFFFFFFEu);
    EXPECT_EQ(qAlpha(masked.pixel(2, 0)), 0x80);
    EXPECT_EQ(masked.pixel(3, 0), 0xFF102030u);
    QImage rgb(2, 1, QImage::Format_RGB32);
    rgb.setPixel(0, 0, qRgb(255, 255, 255));
    rgb.setPixel(1, 0, qRgb(1, 2, 3));
    const QImage fromRgb = applyWhiteMask(rgb);
    EXPECT_EQ(fromRgb.pixel(0, 0), 0u);
    EXPECT_EQ(fromRgb.pixel(1, 0), 0xFF010203u);
}

TEST(WorkForm, TakesTheThumbnailSizeKnownWhenItIsCreated) {
    ThumbWidth = 90;
    ThumbHeight = 40;
    TForm3 form;
    EXPECT_EQ(form.PMultiImage1->size(), QSize(90, 40));
    EXPECT_FALSE(form.isVisible());
    ThumbWidth = ThumbHeight = 70;
}
