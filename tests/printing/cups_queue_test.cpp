// End to end through a real printer queue: a private cupsd with a cups-pdf printer, chosen in
// the printer set-up dialog, printed to through the real print dialog; the PDF the queue wrote
// is found and checked.
#include "tests/printing/printing_fixture.h"

#include "platform/printer.h"
#include "printing/print_dialogs.h"

#include <QApplication>
#include <QComboBox>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <unistd.h>

namespace pixmoor::test {
namespace {

const std::string kScript = PIXMOOR_SOURCE_DIR "/tests/printing/private_cups.sh";

class CupsQueue : public PrintingTest {
protected:
    static void SetUpTestSuite() {
        if (geteuid() != 0 || !haveProgram("cupsd") || !haveProgram("lpadmin") ||
            !QFile::exists("/usr/lib/cups/backend/cups-pdf"))
            return;
        available_ = true;
        cups_ = new TempDir;
        if (run("bash " + kScript + " start " + cups_->path().string()) != 0) return;
        // Before the process printer is made, so Qt's CUPS plugin asks this server.
        qputenv("CUPS_SERVER", QByteArray::fromStdString(cups_->file("cups.sock")));
        running_ = true;
    }
    static void TearDownTestSuite() {
        if (cups_) run("bash " + kScript + " stop " + cups_->path().string());
        delete cups_;
        cups_ = nullptr;
        running_ = false;
    }
    void SetUp() override {
        if (available_) {
            ASSERT_TRUE(running_) << "the private cupsd did not start";
        }
        if (!running_)
            GTEST_SKIP() << "a private cupsd needs root, cups-daemon, cups-client and "
                            "printer-driver-cups-pdf";
        PrintingTest::SetUp();
        useNativePrinter();
    }

    // The PDFs the queue has written so far.
    static QStringList queueOutput() {
        QStringList found;
        QDirIterator it(QString::fromStdString(cups_->file("out")), {"*.pdf"}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) found << it.next();
        return found;
    }

    static inline TempDir* cups_ = nullptr;
    static inline bool available_ = false; // root, with CUPS and cups-pdf installed
    static inline bool running_ = false;
};

int pageCount(const QString& file) {
    QProcess p;
    p.start("pdfinfo", {file});
    p.waitForFinished(30000);
    for (const QString& line : QString::fromUtf8(p.readAllStandardOutput()).split('\n'))
        if (line.startsWith("Pages:")) return line.mid(6).trimmed().toInt();
    return -1;
}

TEST_F(CupsQueue, TheSheetGoesToThePrinterChosenInTheSetUpDialog) {
    ASSERT_TRUE(QPrinterInfo::availablePrinterNames().contains("PDF"));
    for (int i = 0; i < 3; ++i)
        writeImage(path(QStringLiteral("q%1.bmp").arg(i)), 8, 8, QColor(30, 60 * i, 150));
    browse(form->BMP1);

    // The set-up dialog lists the queue; choosing it and its paper applies to the process
    // printer.
    bool setUpSeen = false;
    QTimer::singleShot(0, [&setUpSeen] {
        (void)QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }, 5000);
        auto* dialog = qobject_cast<PrinterSetupDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        setUpSeen = true;
        dialog->PrinterCombo->setCurrentIndex(dialog->PrinterCombo->findText("PDF"));
        const int a4 = dialog->PaperCombo->findText("A4");
        if (a4 >= 0) dialog->PaperCombo->setCurrentIndex(a4);
        dialog->accept();
    });
    form->PrintSetUpButton->click();
    ASSERT_TRUE(setUpSeen);
    EXPECT_EQ(processPrinter().printerName(), "PDF");
    EXPECT_EQ(processPrinter().outputFormat(), QPrinter::NativeFormat);

    // The real print dialog, answered with its Print button.
    setPrintDialogHandler({});
    QString offered;
    QTimer::singleShot(0, [&offered] {
        (void)QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }, 5000);
        auto* dialog = qobject_cast<QPrintDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        if (auto* printers = dialog->findChild<QComboBox*>("printers"))
            offered = printers->currentText();
        dialog->accept();
    });
    form->Print1->trigger();
    EXPECT_EQ(offered, "PDF");
    EXPECT_EQ(form->statusText(), "Finished Printing Images");

    QElapsedTimer clock;
    clock.start();
    // The backend writes the file in steps: wait until it reads as a whole document.
    while ((queueOutput().isEmpty() || pageCount(queueOutput()[0]) < 0) && clock.elapsed() < 30000)
        QTest::qWait(100);
    const QStringList files = queueOutput();
    ASSERT_EQ(files.size(), 1) << "the queue wrote no PDF";
    EXPECT_EQ(pageCount(files[0]), 1);

    // The three cells side by side, 320 device pixels apart, at the printer's resolution.
    const QString prefix = QString::fromStdString(out.file("queue"));
    QProcess p;
    p.start("pdftoppm", {"-r", "300", "-png", "-singlefile", files[0], prefix});
    ASSERT_TRUE(p.waitForFinished(60000));
    const QImage page(prefix + ".png");
    ASSERT_FALSE(page.isNull());
    const double scale = 300.0 / processPrinter().resolution();
    QRect first;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x)
            if (near(page.pixel(x, y), QColor(30, 0, 150), 30)) first |= QRect(x, y, 1, 1);
    ASSERT_FALSE(first.isNull());
    EXPECT_NEAR(first.width(), 210 * scale, 3);
    EXPECT_NEAR(first.height(), 210 * scale, 3);
    const QPoint second = first.center() + QPoint(qRound(320 * scale), 0);
    EXPECT_TRUE(near(page.pixel(second), QColor(30, 60, 150), 30));
}

} // namespace
} // namespace pixmoor::test
