// Thumbnail sheets through the real main window, printed to PDF at 300 dpi and read back.
#include "tests/imaging/imaging_test_util.h"
#include "tests/printing/printing_fixture.h"

#include "platform/printer.h"
#include "printing/print_dialogs.h"
#include "printing/sheet.h"

#include <QDir>
#include <QFile>
#include <QPrinter>
#include <stdexcept>

namespace pixmoor::test {
namespace {

using SheetPrinting = PrintingTest;

// A distinct, dark colour for file i.
QColor colourOf(int i) {
    return QColor(20 + 3 * i, 200 - 2 * i, 60 + (i % 5) * 30);
}

// Whether the cell at device rectangle cell holds colour, with white just outside its right and
// bottom edges (the 110-pixel gap).
void expectCell(const QImage& page, QRect cell, QColor colour, int marginPx,
                const std::string& what) {
    const QRect r = cell.translated(marginPx, marginPx);
    for (const QPoint p : {r.topLeft() + QPoint(1, 1), r.center(), r.bottomRight() - QPoint(1, 1)})
        EXPECT_TRUE(near(page.pixel(p), colour)) << what << " inside at " << p.x() << "," << p.y();
    EXPECT_TRUE(isWhite(page.pixel(r.right() + 3, r.center().y()))) << what << " right edge";
    EXPECT_TRUE(isWhite(page.pixel(r.left() - 3 < 0 ? 0 : r.left() - 3, r.center().y())))
        << what << " left edge";
}

TEST_F(SheetPrinting, EveryItemInListOrderSevenAcrossNineDownThenANewPage) {
    for (int i = 0; i < 64; ++i)
        writeImage(path(QStringLiteral("f%1.bmp").arg(i, 2, 10, QLatin1Char('0'))), 8, 8,
                   colourOf(i));
    browse(form->BMP1);
    ASSERT_EQ(form->ListView1->count(), 64);
    form->ListView1->setSelected(5, true); // a selection changes nothing

    form->Print1->trigger();

    EXPECT_EQ(printDialogs, 1);
    EXPECT_FALSE(printToFileOffered);
    EXPECT_TRUE(messages.empty()) << messageTexts().join(" | ").toStdString();
    EXPECT_EQ(form->statusText(), "Finished Printing Images");
    EXPECT_FALSE(form->ProgressBar1->isVisible());
    EXPECT_FALSE(PrintingBusy);
    EXPECT_FALSE(form->isBusy());

    const std::vector<QImage> sheets = pages();
    ASSERT_EQ(sheets.size(), 2u);
    EXPECT_EQ(sheets[0].size(), QSize(9 * kDpi, 11 * kDpi));
    for (int i = 0; i < 63; ++i)
        expectCell(sheets[0], QRect((i % 7) * 320, (i / 7) * 320, 210, 210), colourOf(i), marginPx,
                   "cell " + std::to_string(i));
    // Exactly 210 pixels wide: the first column's coloured run.
    const int y = marginPx + 105;
    int run = 0;
    for (int x = marginPx - 5; x < marginPx + 300; ++x)
        if (near(sheets[0].pixel(x, y), colourOf(0))) ++run;
    EXPECT_NEAR(run, 210, 1);
    // Nothing below the ninth row.
    EXPECT_TRUE(isWhite(sheets[0].pixel(marginPx + 105, marginPx + 9 * 320 + 50)));
    expectCell(sheets[1], QRect(0, 0, 210, 210), colourOf(63), marginPx, "page 2");
    EXPECT_TRUE(isWhite(sheets[1].pixel(marginPx + 320 + 105, marginPx + 105)));

    // Captions under their cells, in list order, row by row.
    const QString first = pageText(1);
    int at = -1;
    for (int i = 0; i < 63; ++i) {
        const QString name = QStringLiteral("f%1.bmp").arg(i, 2, 10, QLatin1Char('0'));
        const int next = int(first.indexOf(name));
        ASSERT_GE(next, 0) << name.toStdString();
        EXPECT_GT(next, at) << name.toStdString();
        at = next;
    }
    EXPECT_TRUE(pageText(2).contains("f63.bmp"));
    EXPECT_FALSE(pageText(2).contains("f62.bmp"));
}

TEST_F(SheetPrinting, CaptionSitsTenPixelsBelowItsCellInAnEightPointFont) {
    writeImage(path("a.bmp"), 4, 4, Qt::white);
    browse(form->BMP1);
    form->PrintButton->click();
    const std::vector<QImage> sheets = pages();
    ASSERT_EQ(sheets.size(), 1u);
    // The dark pixels of the caption: from its left edge, starting a little below the cell
    // (10 pixels plus the font's internal leading), at most one 8-point line high.
    QRect ink;
    for (int y = 0; y < sheets[0].height(); ++y)
        for (int x = 0; x < sheets[0].width(); ++x)
            if (qGray(sheets[0].pixel(x, y)) < 128) ink |= QRect(x, y, 1, 1);
    ASSERT_FALSE(ink.isNull());
    const QPoint caption = onPage(QPoint(0, 220));
    EXPECT_NEAR(ink.left(), caption.x(), 6);
    EXPECT_GE(ink.top(), caption.y());
    EXPECT_LE(ink.top(), caption.y() + 12);
    EXPECT_LE(ink.height(), 8 * kDpi / 72 + 2); // an 8-point line: 33 pixels at 300 dpi
    EXPECT_GE(ink.height(), 15);
    EXPECT_TRUE(pageText(1).contains("a.bmp"));
}

TEST_F(SheetPrinting, APageCompletingLastCellLeavesAnEmptyLastPage) {
    ThumbWidth = ThumbHeight = 20; // cells 60 wide, 170 apart
    usePdf(QSizeF(400.0 / kDpi, 400.0 / kDpi), 0.1);
    for (int i = 0; i < 3; ++i)
        writeImage(path(QStringLiteral("p%1.png").arg(i)), 4, 4, colourOf(i * 20), "PNG");
    browse(form->Png1);
    form->PrintButtonClick();
    std::vector<QImage> sheets = pages();
    ASSERT_EQ(sheets.size(), 2u);
    for (int i = 0; i < 3; ++i)
        expectCell(sheets[0], QRect(i * 170, 0, 60, 60), colourOf(i * 20), marginPx,
                   "cell " + std::to_string(i));
    int ink = 0;
    for (int y = 0; y < sheets[1].height(); ++y)
        for (int x = 0; x < sheets[1].width(); ++x) ink += !isWhite(sheets[1].pixel(x, y));
    EXPECT_EQ(ink, 0);

    // A fourth file takes the first cell of the second page; nothing follows it.
    writeImage(path("p3.png"), 4, 4, colourOf(60), "PNG");
    form->Refresh1->trigger();
    form->PrintButtonClick();
    sheets = pages();
    ASSERT_EQ(sheets.size(), 2u);
    expectCell(sheets[1], QRect(0, 0, 60, 60), colourOf(60), marginPx, "page 2");
    ThumbWidth = ThumbHeight = 70;
}

TEST_F(SheetPrinting, APageTooSmallForARowTakesOneThumbnailEach) {
    usePdf(QSizeF(1.0, 1.0), 0.2); // 300 x 300: a 210 cell and 200 below it never fit
    for (int i = 0; i < 3; ++i)
        writeImage(path(QStringLiteral("g%1.gif").arg(i)), 6, 6, colourOf(i * 20), "PNG");
    // Real GIF files: Qt cannot write GIF, ImageMagick can.
    for (int i = 0; i < 3; ++i) {
        const std::string gif = path(QStringLiteral("g%1.gif").arg(i)).toStdString();
        magick("png:" + gif + " gif:" + gif);
    }
    browse(form->Gif1);
    ASSERT_EQ(form->ListView1->count(), 3);
    form->PrintButtonClick();
    const std::vector<QImage> sheets = pages();
    ASSERT_EQ(sheets.size(), 4u);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(near(sheets[i].pixel(onPage(QPoint(105, 105))), colourOf(i * 20), 40)) << i;
    EXPECT_TRUE(isWhite(sheets[3].pixel(onPage(QPoint(105, 105)))));
}

TEST_F(SheetPrinting, ADamagedFileIsReportedAndGetsAnErrorCellWhileTheSheetGoesOn) {
    writeImage(path("a.bmp"), 8, 8, colourOf(1));
    QFile bad(path("b.bmp"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("BM this is not a bitmap at all, only some words of text");
    bad.close();
    writeImage(path("c.bmp"), 8, 8, colourOf(3));
    browse(form->BMP1);
    ASSERT_EQ(form->ListView1->count(), 3);

    form->PrintButtonClick();

    // The component's own report of the file, then the sheet's.
    ASSERT_GE(messages.size(), 2u);
    const SeenMessage& last = messages.back();
    EXPECT_EQ(last.request.text, "Error Creating Thumb Nail For b.bmp");
    EXPECT_TRUE(last.request.detail.startsWith(path("b.bmp"))) << last.request.detail.toStdString();
    EXPECT_EQ(last.request.kind, MessageKind::Error);
    EXPECT_EQ(last.request.buttons, std::vector<MessageButton>{MessageButton::Ok});
    // While the sheet prints: busy, Stop disabled, the status says so.
    for (const SeenMessage& m : messages) {
        EXPECT_EQ(m.status, "Printing Images");
        EXPECT_FALSE(m.stopEnabled);
        EXPECT_TRUE(m.busy);
        EXPECT_TRUE(m.printingBusy);
    }
    EXPECT_EQ(form->statusText(), "Finished Printing Images");

    const std::vector<QImage> sheets = pages();
    ASSERT_EQ(sheets.size(), 1u);
    expectCell(sheets[0], QRect(0, 0, 210, 210), colourOf(1), marginPx, "a");
    expectCell(sheets[0], QRect(640, 0, 210, 210), colourOf(3), marginPx, "c");
    // The error cell: white, with the word "Error" at its top-left corner only.
    const QRect cell = QRect(320, 0, 210, 210).translated(marginPx, marginPx);
    QRect ink;
    for (int y = cell.top(); y <= cell.bottom(); ++y)
        for (int x = cell.left(); x <= cell.right(); ++x)
            if (qGray(sheets[0].pixel(x, y)) < 160) ink |= QRect(x, y, 1, 1);
    ASSERT_FALSE(ink.isNull());
    EXPECT_LT(ink.left() - cell.left(), 6);
    EXPECT_LT(ink.top() - cell.top(), 8);
    EXPECT_LT(ink.width(), 60);
    EXPECT_LT(ink.height(), 20);
    const QString text = pageText(1);
    EXPECT_LT(text.indexOf("a.bmp"), text.indexOf("b.bmp"));
    EXPECT_LT(text.indexOf("b.bmp"), text.indexOf("c.bmp"));
}

TEST_F(SheetPrinting, IconsKeepTheirSizeInASmallerBitmapAndMetafilesFillTheCell) {
    QImage icon(32, 32, QImage::Format_ARGB32);
    icon.fill(QColor(200, 0, 0));
    ASSERT_TRUE(icon.save(path("red.ico"), "ICO"));
    browse(form->Icon1);
    ASSERT_EQ(form->ListView1->count(), 1);
    form->PrintButtonClick();
    std::vector<QImage> sheets = pages();
    ASSERT_EQ(sheets.size(), 1u);
    // 32 of the 55 pixels of the icon bitmap are red: 32/55 of the 210-pixel cell.
    const int edge = 32 * 210 / 55; // 122
    const QPoint origin = onPage(QPoint(0, 0));
    EXPECT_TRUE(near(sheets[0].pixel(origin + QPoint(edge - 4, edge - 4)), QColor(200, 0, 0)));
    EXPECT_TRUE(isWhite(sheets[0].pixel(origin + QPoint(edge + 4, edge - 4))));
    EXPECT_TRUE(isWhite(sheets[0].pixel(origin + QPoint(edge - 4, edge + 4))));
    EXPECT_TRUE(isWhite(sheets[0].pixel(origin + QPoint(200, 200))));

    // An ellipse filling a 3:1 frame.
    writeSimpleWmf(path("box.wmf").toStdString(), 300, 100, 0, 0, 200);
    browse(form->Wmf1);
    ASSERT_EQ(form->ListView1->count(), 1);
    form->PrintButtonClick();
    sheets = pages();
    ASSERT_EQ(sheets.size(), 1u);
    // Stretched over the whole cell, whatever its proportions: a circle touching its edges.
    EXPECT_TRUE(isWhite(sheets[0].pixel(origin + QPoint(15, 15))));
    for (const QPoint p :
         {QPoint(105, 4), QPoint(4, 105), QPoint(105, 105), QPoint(205, 105), QPoint(105, 205)})
        EXPECT_TRUE(near(sheets[0].pixel(origin + p), QColor(0, 0, 200), 40))
            << p.x() << "," << p.y();
    EXPECT_TRUE(isWhite(sheets[0].pixel(origin + QPoint(215, 105))));
    EXPECT_TRUE(isWhite(sheets[0].pixel(origin + QPoint(105, 215))));
    EXPECT_TRUE(pageText(1).contains("box.wmf"));
}

TEST_F(SheetPrinting, ACancelledDialogPrintsNothingAndLeavesTheWindowAlone) {
    writeImage(path("a.bmp"), 8, 8, Qt::red);
    browse(form->BMP1);
    form->setStatusText("before");
    printAnswer = false;
    form->PrintButtonClick();
    EXPECT_EQ(printDialogs, 1);
    EXPECT_EQ(form->statusText(), "before");
    EXPECT_FALSE(QFile::exists(pdf));
    EXPECT_FALSE(PrintingBusy);
}

TEST_F(SheetPrinting, AnEmptyCatalogueStillSendsADocument) {
    browse(form->BMP1);
    ASSERT_EQ(form->ListView1->count(), 0);
    form->PrintButtonClick();
    EXPECT_EQ(printDialogs, 1);
    EXPECT_EQ(pages().size(), 1u);
    EXPECT_EQ(form->statusText(), "Finished Printing Images");
}

TEST_F(SheetPrinting, APrinterThatFailsEndsTheRunAndLeavesTheWindowUsable) {
    writeImage(path("a.bmp"), 8, 8, Qt::red);
    browse(form->BMP1);
    processPrinter().setOutputFileName(QString::fromStdString(out.file("missing/dir/out.pdf")));
    EXPECT_THROW(form->PrintButtonClick(), std::runtime_error);
    EXPECT_FALSE(form->isBusy());
    EXPECT_TRUE(form->PrintButton->isEnabled());
    EXPECT_FALSE(form->ProgressBar1->isVisible());
    EXPECT_EQ(form->statusText(), "Finished Printing Images");
    EXPECT_FALSE(PrintingBusy);
}

TEST_F(SheetPrinting, WithNoPrinterInstalledBothCommandsSaySoInsteadOfShowingADialog) {
    if (!qEnvironmentVariableIsEmpty("CUPS_SERVER")) GTEST_SKIP() << "a CUPS server is named";
    qputenv("CUPS_SERVER", QByteArray::fromStdString(out.file("no-cups.sock")));
    writeImage(path("a.bmp"), 8, 8, Qt::red);
    browse(form->BMP1);
    form->ListView1->setSelected(0, true);
    form->setStatusText("before");
    useNativePrinter();
    form->PrintButtonClick();
    form->Print2Click();
    form->PrintsetUp1Click();
    qunsetenv("CUPS_SERVER");
    EXPECT_EQ(printDialogs, 0);
    EXPECT_EQ(messageTexts(), QStringList(3, noPrinterText()));
    EXPECT_FALSE(PrintingBusy);
    EXPECT_EQ(form->statusText(), "before");
}

} // namespace
} // namespace pixmoor::test
