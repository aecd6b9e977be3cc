// Single images through the real main window: a codec picture at three printer pixels per image
// pixel (scaled down to fit when that is larger than the printable area), a metafile over an
// 800-pixel square, an icon at its own size, all at the printable area's top-left; and the
// printer set-up dialog.
#include "tests/imaging/imaging_test_util.h"
#include "tests/printing/printing_fixture.h"

#include "platform/printer.h"
#include "printing/print_dialogs.h"

#include <QFile>
#include <QPrinter>
#include <algorithm>

namespace pixmoor::test {
namespace {

using ImagePrinting = PrintingTest;

// The extent of the non-white pixels of a page.
QRect inkOf(const QImage& page) {
    QRect ink;
    for (int y = 0; y < page.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(page.constScanLine(y));
        int first = -1, last = -1;
        for (int x = 0; x < page.width(); ++x)
            if (!isWhite(line[x])) {
                if (first < 0) first = x;
                last = x;
            }
        if (first >= 0) ink |= QRect(first, y, last - first + 1, 1);
    }
    return ink;
}

TEST_F(ImagePrinting, A640By480JpegPrintsAt1920By1440AtTheCornerOnlyTheFirstSelected) {
    writeImage(path("a.jpg"), 640, 480, QColor(30, 90, 160), "JPG");
    writeImage(path("b.jpg"), 100, 100, QColor(200, 40, 40), "JPG");
    browse(form->Jpeg1);
    ASSERT_EQ(form->ListView1->count(), 2);
    form->ListView1->setSelected(0, true);
    form->ListView1->setSelected(1, true);

    form->Print2->trigger();

    EXPECT_EQ(printDialogs, 1);
    EXPECT_FALSE(printToFileOffered);
    EXPECT_TRUE(messages.empty()) << messageTexts().join(" | ").toStdString();
    EXPECT_EQ(form->statusText(), "Finished Printing");
    EXPECT_FALSE(form->isBusy());
    const std::vector<QImage> sheets = pages();
    ASSERT_EQ(sheets.size(), 1u);
    const QRect ink = inkOf(sheets[0]);
    EXPECT_NEAR(ink.left(), marginPx, 1);
    EXPECT_NEAR(ink.top(), marginPx, 1);
    EXPECT_NEAR(ink.width(), 1920, 2);
    EXPECT_NEAR(ink.height(), 1440, 2);
    EXPECT_TRUE(near(sheets[0].pixel(onPage(QPoint(960, 720))), QColor(30, 90, 160)));
}

TEST_F(ImagePrinting, ALargerImageIsScaledDownToFitThePrintableAreaWhole) {
    // Green above, blue below: both halves must reach the paper.
    QImage big(1000, 1200, QImage::Format_RGB32);
    big.fill(QColor(40, 160, 60));
    for (int y = 600; y < 1200; ++y)
        std::fill_n(reinterpret_cast<QRgb*>(big.scanLine(y)), 1000, qRgb(40, 60, 200));
    ASSERT_TRUE(big.save(path("big.png"), "PNG"));
    browse(form->Png1);
    form->ListView1->setSelected(0, true);
    form->Print2Click();
    const std::vector<QImage> sheets = pages();
    ASSERT_EQ(sheets.size(), 1u);
    // 3000 x 3600 does not fit 2400 x 3000: it is scaled to 2400 x 2880, its proportions kept.
    const QRect ink = inkOf(sheets[0]);
    EXPECT_EQ(ink.topLeft(), QPoint(marginPx, marginPx));
    EXPECT_NEAR(ink.width(), 2400, 1);
    EXPECT_NEAR(ink.height(), 2880, 1);
    EXPECT_TRUE(near(sheets[0].pixel(onPage(QPoint(1200, 700))), QColor(40, 160, 60)));
    EXPECT_TRUE(near(sheets[0].pixel(onPage(QPoint(1200, 2200))), QColor(40, 60, 200)));
}

TEST_F(ImagePrinting, AMetafileFillsAn800PixelSquareAndAnIconKeepsItsOwnSize) {
    // An ellipse filling a 4:1 frame.
    writeSimpleWmf(path("wide.wmf").toStdString(), 400, 100, 0, 0, 200);
    browse(form->Wmf1);
    form->ListView1->setSelected(0, true);
    form->Print2Click();
    std::vector<QImage> sheets = pages();
    ASSERT_EQ(sheets.size(), 1u);
    QRect ink = inkOf(sheets[0]);
    EXPECT_NEAR(ink.left(), marginPx, 2);
    EXPECT_NEAR(ink.top(), marginPx, 2);
    EXPECT_NEAR(ink.width(), 800, 3);
    EXPECT_NEAR(ink.height(), 800, 3);
    // A circle: the frame's proportions are not kept.
    EXPECT_TRUE(near(sheets[0].pixel(onPage(QPoint(400, 400))), QColor(0, 0, 200), 40));
    EXPECT_TRUE(isWhite(sheets[0].pixel(onPage(QPoint(60, 60)))));
    EXPECT_EQ(form->statusText(), "Finished Printing");

    QImage icon(32, 32, QImage::Format_ARGB32);
    icon.fill(QColor(200, 0, 0));
    ASSERT_TRUE(icon.save(path("red.ico"), "ICO"));
    browse(form->Icon1);
    form->ListView1->setSelected(0, true);
    form->Print2Click();
    sheets = pages();
    ASSERT_EQ(sheets.size(), 1u);
    ink = inkOf(sheets[0]);
    EXPECT_EQ(ink.topLeft(), QPoint(marginPx, marginPx));
    EXPECT_NEAR(ink.width(), 32, 1); // the smoothed edge may touch one more pixel
    EXPECT_NEAR(ink.height(), 32, 1);
}

TEST_F(ImagePrinting, AnUnreadableFileIsReportedAndNothingIsPrinted) {
    QFile bad(path("bad.png"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("not a png");
    bad.close();
    browse(form->Png1);
    ASSERT_EQ(form->ListView1->count(), 1);
    form->ListView1->setSelected(0, true);
    form->Print2Click();
    // The component's own messages, seen while the command runs.
    ASSERT_FALSE(messages.empty());
    for (const SeenMessage& m : messages) {
        EXPECT_EQ(m.status, "printing Image");
        EXPECT_TRUE(m.busy);
        EXPECT_TRUE(m.stopEnabled); // only sheets keep Stop disabled
    }
    EXPECT_FALSE(QFile::exists(pdf));
    EXPECT_EQ(form->statusText(), "Finished Printing");
    EXPECT_FALSE(form->isBusy());

    // A metafile the picture control cannot read: the error goes on to the central handler
    // before any document begins, and the window is usable again.
    QFile badWmf(path("bad.wmf"));
    ASSERT_TRUE(badWmf.open(QIODevice::WriteOnly));
    badWmf.write("garbage");
    badWmf.close();
    browse(form->Wmf1);
    form->ListView1->setSelected(0, true);
    EXPECT_ANY_THROW(form->Print2Click());
    EXPECT_FALSE(QFile::exists(pdf));
    EXPECT_FALSE(form->isBusy());
    EXPECT_EQ(form->statusText(), "Finished Printing");
}

TEST_F(ImagePrinting, NothingSelectedDoesNothing) {
    writeImage(path("a.bmp"), 8, 8, Qt::red);
    browse(form->BMP1);
    form->setStatusText("before");
    form->Print2Click();
    EXPECT_EQ(printDialogs, 0);
    EXPECT_EQ(form->statusText(), "before");
    EXPECT_FALSE(QFile::exists(pdf));
}

} // namespace
} // namespace pixmoor::test
