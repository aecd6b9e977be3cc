// End to end through real printer queues: a private cupsd with cups-pdf printers (300 and 150
// dpi, printable to the edge or inside margins), chosen in the printer set-up dialog, printed to
// through the real print dialog; the PDF each queue wrote and the document as it was sent are
// found and checked.
#include "tests/printing/printing_fixture.h"

#include "platform/printer.h"
#include "printing/print_dialogs.h"

#include <QApplication>
#include <QComboBox>
#include <QDirIterator>
#include <QPageSize>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <map>
#include <unistd.h>
#include <vector>

namespace pixmoor::test {
namespace {

const std::string kScript = PIXMOOR_SOURCE_DIR "/tests/printing/private_cups.sh";

class CupsQueue : public PrintingTest {
protected:
    // The process printer starts as the program makes it: on the server's default queue.
    CupsQueue() { printToPdf = false; }

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
        processPrinter().setPageSize(QPageSize(QPageSize::A4));
    }

    struct Job {
        QString sent;    // the document as the program sent it
        QString written; // the PDF the queue wrote for it
    };
    // The latest job, once the queue has written its whole PDF (empty names when it never does).
    static Job latestJob();

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

CupsQueue::Job CupsQueue::latestJob() {
    const QDir spool(QString::fromStdString(cups_->file("spool")));
    int id = -1;
    Job job;
    for (const QString& name : spool.entryList({"d*-001"}, QDir::Files)) {
        const int number = name.mid(1, name.indexOf('-') - 1).toInt();
        if (number > id) {
            id = number;
            job.sent = spool.filePath(name);
        }
    }
    if (id < 0) return job;
    const QString pattern = QStringLiteral("*job_%1.pdf").arg(id);
    // The backend writes the file in steps: wait until it reads as a whole document (the caller
    // finds none written when it never does).
    (void)QTest::qWaitFor(
        [&] {
            QDirIterator it(QString::fromStdString(cups_->file("out")), {pattern}, QDir::Files,
                            QDirIterator::Subdirectories);
            if (!it.hasNext()) return false;
            const QString written = it.next();
            if (pageCount(written) <= 0) return false;
            job.written = written;
            return true;
        },
        60000);
    return job;
}

// Page 1 of file rasterised at dotsPerInch.
QImage render(const QString& file, int dotsPerInch, const std::string& prefix) {
    QProcess p;
    p.start("pdftoppm", {"-r", QString::number(dotsPerInch), "-f", "1", "-l", "1", "-png",
                         "-singlefile", file, QString::fromStdString(prefix)});
    EXPECT_TRUE(p.waitForFinished(60000));
    return QImage(QString::fromStdString(prefix) + ".png").convertToFormat(QImage::Format_RGB32);
}

// The words of page 1 of file with their boxes, in points from the paper's top-left corner, as
// pdftotext reads them; a word found twice keeps its first box.
std::map<QString, QRectF> wordBoxes(const QString& file) {
    QProcess p;
    p.start("pdftotext", {"-bbox", "-f", "1", "-l", "1", file, "-"});
    EXPECT_TRUE(p.waitForFinished(60000));
    const QString html = QString::fromUtf8(p.readAllStandardOutput());
    static const QRegularExpression word(
        R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re");
    std::map<QString, QRectF> boxes;
    for (auto it = word.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QPointF topLeft(m.captured(1).toDouble(), m.captured(2).toDouble());
        const QPointF bottomRight(m.captured(3).toDouble(), m.captured(4).toDouble());
        boxes.emplace(m.captured(5), QRectF(topLeft, bottomRight));
    }
    return boxes;
}

// The queues of the private server: their default resolution, and the printable area's
// top-left corner and size on A4 paper, in points.
struct Queue {
    const char* name;
    int dotsPerInch;
    QPointF corner;
    QSizeF printable;
};
const Queue kQueues[] = {
    {"PDF", 300, {0, 0}, {595.3, 841.9}},
    {"PDF150", 150, {0, 0}, {595.3, 841.9}},
    {"PDFMargins", 300, {18, 36}, {559.3, 769.9}},
};

// Distinct, saturated colours, none near the grey of a caption's edges.
QColor hueOf(int i) {
    return QColor::fromHsv((i * 30) % 360, 255, 200);
}

TEST_F(CupsQueue, SheetsAreLaidOutAtTheQueuesResolutionFromThePrintableCornerWithReadableCaptions) {
    constexpr int kCount = 12; // two rows or more on every queue
    QStringList names;
    for (int i = 0; i < kCount; ++i) {
        names << QStringLiteral("c%1.bmp").arg(i, 2, 10, QLatin1Char('0'));
        writeImage(path(names.back()), 8, 8, hueOf(i));
    }
    browse(form->BMP1);
    for (const Queue& queue : kQueues) {
        SCOPED_TRACE(queue.name);
        processPrinter().setPrinterName(queue.name);
        form->PrintButtonClick();
        EXPECT_TRUE(messages.empty()) << messageTexts().join(" | ").toStdString();
        EXPECT_EQ(processPrinter().resolution(), queue.dotsPerInch);
        const Job job = latestJob();
        ASSERT_FALSE(job.written.isEmpty()) << "the queue wrote no PDF";

        // The cells on the printed page, in points: 210 device pixels of the queue's resolution
        // each, the first at the printable area's corner, the rest 320 device pixels on.
        constexpr int kRaster = 300;
        const QImage page = render(job.written, kRaster, out.file(queue.name));
        ASSERT_FALSE(page.isNull());
        std::vector<QRect> found(kCount);
        for (int y = 0; y < page.height(); ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(page.constScanLine(y));
            for (int x = 0; x < page.width(); ++x) {
                if (isWhite(line[x])) continue;
                for (int i = 0; i < kCount; ++i)
                    if (near(line[x], hueOf(i), 30)) found[i] |= QRect(x, y, 1, 1);
            }
        }
        const double pointsPerPixel = 72.0 / kRaster;
        const double cellPoints = 210.0 * 72 / queue.dotsPerInch;
        const double stepPoints = 320.0 * 72 / queue.dotsPerInch;
        std::vector<QRectF> cells;
        for (int i = 0; i < kCount; ++i) {
            ASSERT_FALSE(found[i].isNull()) << names[i].toStdString();
            const QRectF& f = found[i];
            cells.push_back(QRectF(f.topLeft() * pointsPerPixel, f.size() * pointsPerPixel));
            EXPECT_NEAR(cells[i].width(), cellPoints, 1) << names[i].toStdString();
            EXPECT_NEAR(cells[i].height(), cellPoints, 1) << names[i].toStdString();
        }
        EXPECT_NEAR(cells[0].left(), queue.corner.x(), 0.5);
        EXPECT_NEAR(cells[0].top(), queue.corner.y(), 0.5);
        EXPECT_NEAR(cells[1].left() - cells[0].left(), stepPoints, 1);
        EXPECT_NEAR(cells[1].top(), cells[0].top(), 0.5);
        // As many to a row as the printable width takes, then a second row.
        const int across = int((queue.printable.width() - cellPoints) / stepPoints) + 1;
        EXPECT_NEAR(cells[across].left(), cells[0].left(), 0.5);
        EXPECT_NEAR(cells[across].top() - cells[0].top(), stepPoints, 1);

        // Each caption is its file name, one word of its own in the document as sent, under its
        // own cell from its left edge, touching no cell and no other caption.
        const std::map<QString, QRectF> words = wordBoxes(job.sent);
        for (int i = 0; i < kCount; ++i) {
            const auto caption = words.find(names[i]);
            ASSERT_NE(caption, words.end()) << names[i].toStdString() << " is not readable";
            const QRectF& box = caption->second;
            EXPECT_NEAR(box.left(), cells[i].left(), 1.5) << names[i].toStdString();
            EXPECT_GE(box.top(), cells[i].bottom()) << names[i].toStdString();
            EXPECT_LT(box.top(), cells[i].bottom() + 0.25 * stepPoints) << names[i].toStdString();
            for (int j = 0; j < kCount; ++j) {
                EXPECT_FALSE(box.intersects(cells[j]))
                    << names[i].toStdString() << " covers cell " << j;
                if (j == i) continue;
                const auto other = words.find(names[j]);
                if (other != words.end()) {
                    EXPECT_FALSE(box.intersects(other->second))
                        << names[i].toStdString() << " runs into " << names[j].toStdString();
                }
            }
        }
    }
}

TEST_F(CupsQueue, ALargePhotoPrintsWholeScaledToThePrintableAreaWithItsProportions) {
    // 5120 x 2880 in four coloured quarters: three printer pixels each would be 15360 wide.
    const QColor quarters[] = {QColor(200, 30, 30), QColor(30, 170, 40), QColor(30, 60, 200),
                               QColor(220, 200, 20)};
    QImage photo(5120, 2880, QImage::Format_RGB32);
    for (int q = 0; q < 4; ++q) {
        const QRect part((q % 2) * 2560, (q / 2) * 1440, 2560, 1440);
        for (int y = part.top(); y <= part.bottom(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(photo.scanLine(y));
            std::fill(line + part.left(), line + part.right() + 1, quarters[q].rgb());
        }
    }
    ASSERT_TRUE(photo.save(path("photo.jpg"), "JPG", 90));
    browse(form->Jpeg1);
    ASSERT_EQ(form->ListView1->count(), 1);
    form->ListView1->setSelected(0, true);
    for (const Queue& queue : kQueues) {
        SCOPED_TRACE(queue.name);
        processPrinter().setPrinterName(queue.name);
        form->Print2Click();
        EXPECT_TRUE(messages.empty()) << messageTexts().join(" | ").toStdString();
        EXPECT_EQ(form->statusText(), "Finished Printing");
        const Job job = latestJob();
        ASSERT_FALSE(job.written.isEmpty()) << "the queue wrote no PDF";

        constexpr int kRaster = 100;
        const QImage page = render(job.written, kRaster, out.file(queue.name));
        ASSERT_FALSE(page.isNull());
        QRect ink;
        for (int y = 0; y < page.height(); ++y)
            for (int x = 0; x < page.width(); ++x)
                if (!isWhite(page.pixel(x, y))) ink |= QRect(x, y, 1, 1);
        ASSERT_FALSE(ink.isNull());
        // Across the printable area's whole width from its corner, 16:9 like the photo.
        const double pointsPerPixel = 72.0 / kRaster;
        EXPECT_NEAR(ink.left() * pointsPerPixel, queue.corner.x(), 1);
        EXPECT_NEAR(ink.top() * pointsPerPixel, queue.corner.y(), 1);
        EXPECT_NEAR(ink.width() * pointsPerPixel, queue.printable.width(), 1.5);
        EXPECT_NEAR(double(ink.height()) / ink.width(), 2880.0 / 5120, 0.005);
        // All four quarters, each in its place.
        for (int q = 0; q < 4; ++q) {
            const QPoint centre(ink.left() + ink.width() * (1 + 2 * (q % 2)) / 4,
                                ink.top() + ink.height() * (1 + 2 * (q / 2)) / 4);
            EXPECT_TRUE(near(page.pixel(centre), quarters[q], 30)) << "quarter " << q;
        }
    }
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

    const Job job = latestJob();
    ASSERT_FALSE(job.written.isEmpty()) << "the queue wrote no PDF";
    const QStringList files{job.written};
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
