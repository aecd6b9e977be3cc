// A fixture for printing through the program's real windows: a browsed temporary directory,
// recorded message boxes (with the window's state at the moment each appeared), an answered
// print dialog, the process printer writing a PDF at 300 dpi, and the pages read back with
// pdftoppm and pdftotext.
#pragma once

#include "app/Unit1.h"
#include "catalogue/image.h"
#include "operations/pic.h"
#include "operations/wmf.h"
#include "platform/globals.h"
#include "platform/message_box.h"
#include "tests/support/program_fixture.h"

#include <QImage>
#include <QPrinter>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace pixmoor::test {

// Raster pixels of one inch at the resolution the tests print and rasterise at.
inline constexpr int kDpi = 300;

struct SeenMessage {
    MessageRequest request;
    QString status;    // panel 0 of the status bar
    bool stopEnabled;  // the Stop button
    bool busy;         // the window's busy state
    bool printingBusy; // PrintingBusy
};

class PrintingTest : public ProgramTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // Records each message box with the window's state at the moment it appeared.
    MessageButton answer(const MessageRequest& request) override;

    QString path(const QString& name) const { return base + "/" + name; }

    // The process printer as a PDF printer at 300 dpi whose printable area is printable (in
    // inches) inside margins of margin inches on every side.
    void usePdf(QSizeF printable, double margin = 0.5);
    // The process printer as a printer queue with no queue behind it.
    void useNativePrinter();
    // Picks the image type with its menu item and points the tree at the test directory.
    void browse(QAction* type);

    // The printed pages rasterised at 300 dpi, first to last; empty when no PDF was written.
    std::vector<QImage> pages() const;
    // The text of page n (1-based) in layout order.
    QString pageText(int n) const;
    // Raster pixel of the printable area's point p (device pixels).
    QPoint onPage(QPoint p) const { return p + QPoint(marginPx, marginPx); }

    QStringList messageTexts() const;

    TempDir dir;
    TempDir out;
    QString base;
    QString pdf;
    int marginPx = 0;
    // Set before SetUp runs: whether the process printer is made a PDF printer as above, or
    // left as the program made it.
    bool printToPdf = true;
    std::vector<SeenMessage> messages; // instead of the plain record
    bool printAnswer = true; // what the print dialog is answered with
    int printDialogs = 0;
    bool printToFileOffered = false;
    WindowOf<TForm3> form3{Form3};
    WindowOf<TOKBottomDlg> viewer{OKBottomDlg};
    WindowOf<TForm7> metafileViewer{Form7};
};

// Writes a w x h image of one colour in format ("BMP", "JPG", "PNG").
void writeImage(const QString& path, int w, int h, QColor colour, const char* format = "BMP",
                int quality = 95);
// Whether colour a is within tolerance of b in every channel.
bool near(QRgb a, QColor b, int tolerance = 24);
bool isWhite(QRgb a);

} // namespace pixmoor::test
