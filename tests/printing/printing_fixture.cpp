// The printing fixture's set-up and its PDF readers.
#include "tests/printing/printing_fixture.h"

#include "platform/printer.h"
#include "printing/print_dialogs.h"

#include <QDir>
#include <QFileInfo>
#include <QPageLayout>
#include <QPageSize>
#include <QPrintDialog>
#include <QProcess>
#include <QTest>
#include <cstdlib>

namespace pixmoor::test {

void PrintingTest::SetUp() {
    ProgramTest::SetUp();
    setPrintDialogHandler([this](QPrintDialog& dialog) {
        ++printDialogs;
        printToFileOffered = dialog.testOption(QAbstractPrintDialog::PrintToFile);
        return printAnswer;
    });
    base = QFileInfo(QString::fromStdString(dir.path().string())).canonicalFilePath();
    pdf = QString::fromStdString(out.file("out.pdf"));
    createWindows();
    if (printToPdf) usePdf(QSizeF(8, 10));
}

void PrintingTest::TearDown() {
    setPrintDialogHandler({});
    ProgramTest::TearDown();
}

MessageButton PrintingTest::answer(const MessageRequest& r) {
    messages.push_back({r, form ? form->statusText() : QString(),
                        form && form->StopButton->isEnabled(), form && form->isBusy(),
                        PrintingBusy});
    return MessageButton::Ok;
}

void PrintingTest::usePdf(QSizeF printable, double margin) {
    useProcessPdfPrinter(pdf, kDpi);
    QPrinter& printer = processPrinter();
    const QSizeF paper(printable.width() + 2 * margin, printable.height() + 2 * margin);
    printer.setPageSize(
        QPageSize(paper, QPageSize::Inch, QStringLiteral("Test"), QPageSize::ExactMatch));
    printer.setPageMargins(QMarginsF(margin, margin, margin, margin), QPageLayout::Inch);
    marginPx = qRound(margin * kDpi);
}

void PrintingTest::useNativePrinter() {
    QPrinter& printer = processPrinter();
    printer.setOutputFileName(QString());
    printer.setOutputFormat(QPrinter::NativeFormat);
}

void PrintingTest::browse(QAction* type) {
    type->trigger();
    ASSERT_TRUE(form->DirectoryListBox1->setDirectory(base));
    messages.clear();
}

std::vector<QImage> PrintingTest::pages() const {
    std::vector<QImage> result;
    if (!QFileInfo::exists(pdf)) return result;
    const QString prefix = QString::fromStdString(out.file("page"));
    QProcess p;
    p.start(QStringLiteral("pdftoppm"),
            {QStringLiteral("-r"), QString::number(kDpi), QStringLiteral("-png"), pdf, prefix});
    EXPECT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    QDir folder(QString::fromStdString(out.path().string()));
    // pdftoppm pads the page numbers to the width of the largest one, so names sort in order.
    const QStringList files =
        folder.entryList({QStringLiteral("page-*.png")}, QDir::Files, QDir::Name);
    for (const QString& f : files) {
        result.push_back(QImage(folder.filePath(f)).convertToFormat(QImage::Format_RGB32));
        QFile::remove(folder.filePath(f));
    }
    return result;
}

QString PrintingTest::pageText(int n) const {
    QProcess p;
    p.start(QStringLiteral("pdftotext"),
            {QStringLiteral("-layout"), QStringLiteral("-f"), QString::number(n),
             QStringLiteral("-l"), QString::number(n), pdf, QStringLiteral("-")});
    EXPECT_TRUE(p.waitForFinished(60000));
    return QString::fromUtf8(p.readAllStandardOutput());
}

QStringList PrintingTest::messageTexts() const {
    QStringList texts;
    for (const SeenMessage& m : messages) texts << m.request.text;
    return texts;
}

void writeImage(const QString& path, int w, int h, QColor colour, const char* format, int quality) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    ASSERT_TRUE(image.save(path, format, quality)) << path.toStdString();
}

bool near(QRgb a, QColor b, int tolerance) {
    return std::abs(qRed(a) - b.red()) <= tolerance &&
           std::abs(qGreen(a) - b.green()) <= tolerance &&
           std::abs(qBlue(a) - b.blue()) <= tolerance;
}

bool isWhite(QRgb a) {
    return qRed(a) >= 245 && qGreen(a) >= 245 && qBlue(a) >= 245;
}

} // namespace pixmoor::test
