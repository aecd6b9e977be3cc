// pixmoor-bench: times the real catalogue build of the real main window on a directory, offscreen,
// and reports files per second, peak memory and the longest stretch without event processing.
//
//   pixmoor-bench catalogue DIR --type jpg|png|bmp|gif|tif|pcx|ico|wmf [--size WxH]
//                 [--view icon|report] [--visits N] [--cache-home DIR] [--no-cache]
//
// The last line printed is:
//   files=N seconds=S files_per_s=F peak_rss_mb=M max_stall_ms=T first_screen_s=W
// (first_screen_s: when the thumbnails of the view's first screenful were all in the list.)
// --visits N builds the directory N times in the same process (leaving it for the empty start
// directory in between), printing that line for each visit: the first visit fills the shared
// thumbnail cache, the later ones read it. The cache is a private empty one unless --cache-home
// names the folder to use as XDG_CACHE_HOME; --no-cache builds without the cache.
//
// The copy command times the real Copy (or Move) command of the real main window offscreen: every
// file of the type is selected and the target is typed into the target dialog.
//   pixmoor-bench copy SRC_DIR --type EXT --to DST_DIR [--move]
// ending with the line
//   files=N bytes=B seconds=S mb_per_s=R max_stall_ms=T
//
// The print-sheet command builds the catalogue of the directory (timed, as the catalogue command
// does) and then prints the real thumbnail sheet of the real main window to a PDF file at 300 dpi
// (A4), the print dialog answered with Print:
//   pixmoor-bench print-sheet DIR --type EXT --pdf OUT.pdf [--size WxH]
// printing the catalogue build's time and the ratio of the two, and ending with the line
//   files=N pages=P seconds=S peak_rss_mb=M
// The convert command times the real Convert command of the real main window offscreen: every file
// of the type is selected and the conversion dialog is filled in.
//   pixmoor-bench convert SRC_DIR --type EXT --to DST_DIR --format bmp|gif|jpg|pcx|png|tif
//                 --depth auto|16|256|true|vga|mono [--serial]
// (--serial: no decoding ahead) ending with the line
//   files=N seconds=S files_per_s=F peak_rss_mb=M
//
// Two further commands look at the thumbnail pipeline on its own, without the window:
//   pixmoor-bench pipeline DIR --type T [--size WxH]   the pipeline's throughput (same last line)
//   pixmoor-bench quality DIR --type T [--size WxH]    PSNR of the fast thumbnails against the
//                                                      image component's full decode, smoothly
//                                                      scaled, with and without fast upsampling
//
// The scan command scans the SANE test driver's colour pattern (200 x 200 mm, a private SANE
// configuration) into the scan window's component, offscreen, and paints it:
//   pixmoor-bench scan --dpi N [--gray]
// ending with the line
//   pixels=N seconds=S peak_rss_mb=M max_stall_ms=T
#include "acquire/scan.h"
#include "app/Unit1.h"
#include "catalogue/enumeration.h"
#include "catalogue/image.h"
#include "catalogue/image_list.h"
#include "catalogue/list_view.h"
#include "catalogue/thumbnail_cache.h"
#include "catalogue/thumbnail_pipeline.h"
#include "catalogue/thumbnails.h"
#include "files/copy.h"
#include "imaging/TMultiP.h"
#include "operations/convert.h"
#include "operations/pic.h"
#include "platform/application.h"
#include "platform/globals.h"
#include "platform/message_box.h"
#include "platform/printer.h"
#include "platform/scan_dialogs.h"
#include "platform/scanner.h"
#include "printing/print_dialogs.h"

#include <QAbstractEventDispatcher>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QListView>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

void usage() {
    std::fprintf(stderr,
                 "usage: pixmoor-bench catalogue DIR --type jpg|png|bmp|gif|tif|pcx|ico|wmf "
                 "[--size WxH] [--view icon|report]\n"
                 "                 [--visits N] [--cache-home DIR] [--no-cache]\n"
                 "       pixmoor-bench pipeline|quality DIR --type bmp|gif|jpg|pcx|png|tif "
                 "[--size WxH]\n"
                 "       pixmoor-bench copy SRC_DIR --type EXT --to DST_DIR [--move]\n"
                 "       pixmoor-bench print-sheet DIR --type EXT --pdf OUT.pdf [--size WxH]\n"
                 "       pixmoor-bench scan --dpi N [--gray]\n"
                 "       pixmoor-bench convert SRC_DIR --type EXT --to DST_DIR "
                 "--format bmp|gif|jpg|pcx|png|tif --depth auto|16|256|true|vga|mono [--serial]\n");
}

struct Options {
    QString command;
    QString directory;
    QString type;
    int width = 0, height = 0; // 0: the window's own thumb size
    bool report = false;
    QString target; // copy, convert: the typed target directory
    bool move = false;
    QString pdf;          // print-sheet: the PDF file written
    int kind = -1;        // convert: the item of the dialog's Kind group
    int colour = -1;      // convert: the item of its Color group
    bool serial = false;  // convert: no decoding ahead
    int visits = 1;       // catalogue: builds of the directory in one process
    QString cacheHome;    // catalogue: XDG_CACHE_HOME to use, empty for a private one
    bool noCache = false; // catalogue: builds without the shared thumbnail cache
};

bool parse(int argc, char** argv, Options& o) {
    if (argc < 3) return false;
    o.command = QString::fromLatin1(argv[1]);
    if (o.command != "catalogue" && o.command != "pipeline" && o.command != "quality" &&
        o.command != "copy" && o.command != "print-sheet" && o.command != "convert")
        return false;
    o.directory = QString::fromLocal8Bit(argv[2]);
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--move" && o.command == "copy") {
            o.move = true;
            continue;
        }
        if (arg == "--serial" && o.command == "convert") {
            o.serial = true;
            continue;
        }
        if (arg == "--no-cache" && o.command == "catalogue") {
            o.noCache = true;
            continue;
        }
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!value) return false;
        if (arg == "--type") {
            o.type = QString::fromLatin1(value).toLower();
        } else if (arg == "--size") {
            if (std::sscanf(value, "%dx%d", &o.width, &o.height) != 2 || o.width < 1 ||
                o.height < 1 || o.width > 4096 || o.height > 4096)
                return false;
        } else if (arg == "--pdf" && o.command == "print-sheet") {
            o.pdf = QString::fromLocal8Bit(value);
        } else if (arg == "--to" && (o.command == "copy" || o.command == "convert")) {
            o.target = QString::fromLocal8Bit(value);
        } else if (arg == "--format" && o.command == "convert") {
            o.kind = int(QStringList({"bmp", "gif", "jpg", "pcx", "png", "tif"})
                             .indexOf(QString::fromLatin1(value)));
        } else if (arg == "--depth" && o.command == "convert") {
            o.colour = int(QStringList({"auto", "16", "256", "true", "vga", "mono"})
                               .indexOf(QString::fromLatin1(value)));
        } else if (arg == "--visits" && o.command == "catalogue") {
            o.visits = std::atoi(value);
            if (o.visits < 1 || o.visits > 1000) return false;
        } else if (arg == "--cache-home" && o.command == "catalogue") {
            o.cacheHome = QFileInfo(QString::fromLocal8Bit(value)).absoluteFilePath();
        } else if (arg == "--view") {
            if (std::strcmp(value, "report") == 0)
                o.report = true;
            else if (std::strcmp(value, "icon") != 0)
                return false;
        } else {
            return false;
        }
        ++i;
    }
    static const QStringList types = {"jpg", "png", "bmp", "gif", "tif", "pcx", "ico", "wmf"};
    if (o.command == "copy" && o.target.isEmpty()) return false;
    if (o.command == "print-sheet" && o.pdf.isEmpty()) return false;
    if ((o.command == "copy" || o.command == "convert") && o.target.isEmpty()) return false;
    if (o.command == "convert" && (o.kind < 0 || o.colour < 0)) return false;
    return types.contains(o.type);
}

// The longest time the user-interface thread spent between two visits to its event dispatcher.
// The dispatcher signals "awake" whenever event processing starts (also from processEvents calls
// inside a build) and "aboutToBlock" before it sleeps; time asleep is idle, not a stall.
class StallMeter {
public:
    explicit StallMeter(QAbstractEventDispatcher* dispatcher) {
        QObject::connect(
            dispatcher, &QAbstractEventDispatcher::awake, dispatcher, [this] { visit(false); },
            Qt::DirectConnection);
        QObject::connect(
            dispatcher, &QAbstractEventDispatcher::aboutToBlock, dispatcher,
            [this] { visit(true); }, Qt::DirectConnection);
    }
    void start() {
        running_ = true;
        asleep_ = false;
        max_ = 0;
        maxEnd_ = 0;
        clock_.start();
        total_.start();
    }
    // When the longest stall ended, in nanoseconds from start().
    qint64 longestEndedAt() const { return maxEnd_; }
    // Also counts the stretch from the last visit to now.
    qint64 stop() {
        if (running_ && !asleep_) note(clock_.nsecsElapsed());
        running_ = false;
        return max_;
    }

private:
    void visit(bool goingToSleep) {
        if (!running_) return;
        if (!asleep_) note(clock_.nsecsElapsed());
        asleep_ = goingToSleep;
        clock_.restart();
    }

    void note(qint64 stall) {
        if (trace_ && stall > 30'000'000)
            std::fprintf(stderr, "stall %.1f ms ending at %.1f ms\n", double(stall) / 1e6,
                         double(total_.nsecsElapsed()) / 1e6);
        if (stall <= max_) return;
        max_ = stall;
        maxEnd_ = total_.nsecsElapsed();
    }

    QElapsedTimer clock_;
    QElapsedTimer total_;
    qint64 max_ = 0;
    qint64 maxEnd_ = 0;
    // PIXMOOR_BENCH_TRACE=1 lists every stall over 30 ms on stderr.
    bool trace_ = qEnvironmentVariableIsSet("PIXMOOR_BENCH_TRACE");
    bool running_ = false;
    bool asleep_ = false;
};

double peakRssMb() {
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) != 0) return -1;
    return double(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
}

void printResult(int files, qint64 nanoseconds, qint64 maxStall, qint64 firstScreen = -1) {
    const double seconds = double(nanoseconds) / 1e9;
    std::printf("files=%d seconds=%.3f files_per_s=%.2f peak_rss_mb=%.1f max_stall_ms=%.1f",
                files, seconds, seconds > 0 ? files / seconds : 0.0, peakRssMb(),
                double(maxStall) / 1e6);
    if (firstScreen >= 0) std::printf(" first_screen_s=%.3f", double(firstScreen) / 1e9);
    std::printf("\n");
    std::fflush(stdout);
}

// The files of the type in a directory, as the catalogue's enumeration finds them.
QStringList filesOfType(const QString& directory, const QString& type) {
    return pixmoor::enumerateImageFiles(directory, type);
}

QSize thumbSize(const Options& o) {
    return o.width > 0 ? QSize(o.width, o.height) : QSize(70, 70);
}

// Every thumbnail of the directory through the pipeline, taken in order as the build takes them.
int runPipeline(const Options& o, const QString& directory) {
    const QStringList names = filesOfType(directory, o.type);
    StallMeter stalls(QAbstractEventDispatcher::instance());
    QElapsedTimer clock;
    stalls.start();
    clock.start();
    int made = 0, failed = 0;
    {
        pixmoor::ThumbnailPipeline pipeline(directory, names, o.type,
                                            pixmoor::ThumbnailRequest{thumbSize(o)});
        for (int k = 0; k < names.size(); ++k) {
            if (pipeline.take(k))
                ++made;
            else
                ++failed;
        }
    }
    const qint64 nanoseconds = clock.nsecsElapsed();
    const qint64 maxStall = stalls.stop();
    if (failed) std::printf("fast path failed: %d\n", failed);
    printResult(made + failed, nanoseconds, maxStall);
    return 0;
}

double psnr(const QImage& a, const QImage& b) {
    double squares = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* p = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* q = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            const int dr = qRed(p[x]) - qRed(q[x]), dg = qGreen(p[x]) - qGreen(q[x]),
                      db = qBlue(p[x]) - qBlue(q[x]);
            squares += dr * dr + dg * dg + db * db;
        }
    }
    const double mse = squares / (3.0 * a.width() * a.height());
    return mse <= 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// The fast thumbnails against the image component's full decode scaled smoothly.
int runQuality(const Options& o, const QString& directory) {
    const QStringList names = filesOfType(directory, o.type);
    const QSize size = thumbSize(o);
    pixmoor::TPMultiImage component;
    component.setImageReadRes(pixmoor::lColorTrue);
    double sum[2] = {0, 0}, worst[2] = {99, 99};
    qint64 fastNs[2] = {0, 0}, componentNs = 0;
    int compared = 0;
    for (const QString& name : names) {
        const QString path = directory + '/' + name;
        QElapsedTimer clock;
        clock.start();
        component.setImageName(path);
        const QImage reference = pixmoor::drawThumbnail(component.Picture(), size);
        componentNs += clock.nsecsElapsed();
        double value[2];
        bool ok = true;
        for (int fast = 0; fast < 2; ++fast) {
            pixmoor::ThumbnailRequest request{size};
            request.fastUpsampling = fast == 1;
            clock.restart();
            const std::optional<QImage> thumb = pixmoor::makeThumbnail(path, request);
            fastNs[fast] += clock.nsecsElapsed();
            if (!thumb || thumb->size() != reference.size()) {
                std::printf("%s: no fast thumbnail\n", qPrintable(name));
                ok = false;
                break;
            }
            value[fast] = psnr(*thumb, reference);
        }
        if (!ok) continue;
        ++compared;
        for (int fast = 0; fast < 2; ++fast) {
            sum[fast] += value[fast];
            worst[fast] = std::min(worst[fast], value[fast]);
        }
    }
    if (compared == 0) {
        std::printf("nothing compared\n");
        return 1;
    }
    for (int fast = 0; fast < 2; ++fast)
        std::printf("%s upsampling: mean PSNR %.2f dB, worst %.2f dB, %.1f ms a file\n",
                    fast ? "fast" : "smooth", sum[fast] / compared, worst[fast],
                    double(fastNs[fast]) / 1e6 / compared);
    std::printf("component path (full decode, smooth scaling): %.1f ms a file\n",
                double(componentNs) / 1e6 / compared);
    std::printf("files=%d\n", compared);
    return 0;
}

// Shows the main window and lets its first activation (the restored folder, the first build) run.
void showAndActivate(TForm1* form) {
    form->show();
    QElapsedTimer activation;
    activation.start();
    while (FirstActivation && activation.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(1);
    }
}

// Picks the image type as the user would: what the type's menu item does.
void chooseType(TForm1* form, const QString& t) {
    form->selectType(t.toLatin1().constData());
}

// The Copy or Move command on every file of the type, the target typed into the dialog. Without
// the work form the catalogue shows placeholder thumbnails, so the untimed build is quick.
int runCopy(const Options& o, const QString& directory, const int& messages) {
    auto form1 = std::make_unique<TForm1>();
    Form1 = form1.get();
    auto form5 = std::make_unique<TForm5>();
    Form5 = form5.get();
    showAndActivate(form1.get());
    chooseType(form1.get(), o.type);
    if (!form1->DirectoryListBox1->setDirectory(directory)) {
        std::fprintf(stderr, "pixmoor-bench: cannot open %s\n", qPrintable(directory));
        return 1;
    }
    form1->ListView1->selectAll();
    const QStringList names = form1->ListView1->selectedCaptions();
    qint64 bytes = 0;
    for (const QString& name : names) bytes += QFileInfo(directory + '/' + name).size();
    QCoreApplication::processEvents();

    QTimer::singleShot(0, form5.get(), [&form5, &o] {
        form5->Edit1->setText(o.target);
        form5->Okbutton->click();
    });
    StallMeter stalls(QAbstractEventDispatcher::instance());
    QElapsedTimer clock;
    stalls.start();
    clock.start();
    (o.move ? form1->Move1 : form1->Copy1)->trigger();
    const qint64 nanoseconds = clock.nsecsElapsed();
    const qint64 maxStall = stalls.stop();

    if (messages > 0) std::printf("message boxes answered: %d\n", messages);
    const double seconds = double(nanoseconds) / 1e9;
    std::printf("files=%d bytes=%lld seconds=%.3f mb_per_s=%.1f max_stall_ms=%.1f\n",
                int(names.size()), static_cast<long long>(bytes), seconds,
                seconds > 0 ? double(bytes) / 1e6 / seconds : 0.0, double(maxStall) / 1e6);
    std::fflush(stdout);
    form5.reset();
    Form5 = nullptr;
    form1.reset();
    Form1 = nullptr;
    return 0;
}

// Pages of a PDF written by Qt: its page objects.
int pdfPages(const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) return -1;
    const QByteArray data = f.readAll();
    int pages = 0;
    for (qsizetype at = data.indexOf("/Type /Page"); at >= 0;
         at = data.indexOf("/Type /Page", at + 1))
        if (at + 11 >= data.size() || data[at + 11] != 's') ++pages;
    return pages;
}

// The Print Thumb command on the catalogue just built, timed.
int runPrintSheet(const Options& o, TForm1* form1, double catalogueSeconds, int& messages) {
    const int files = form1->ListView1->count();
    messages = 0;
    pixmoor::useProcessPdfPrinter(o.pdf, 300);
    pixmoor::setPrintDialogHandler([](QPrintDialog&) { return true; });
    QElapsedTimer clock;
    clock.start();
    form1->Print1->trigger();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    pixmoor::setPrintDialogHandler({});
    if (messages > 0) std::printf("message boxes answered: %d\n", messages);
    std::printf("catalogue_seconds=%.3f sheet_to_catalogue=%.2f\n", catalogueSeconds,
                catalogueSeconds > 0 ? seconds / catalogueSeconds : 0.0);
    std::printf("files=%d pages=%d seconds=%.3f peak_rss_mb=%.1f\n", files, pdfPages(o.pdf),
                seconds, peakRssMb());
    std::fflush(stdout);
    return 0;
}

// Scans a 200 x 200 mm page from the SANE test driver at dpi into the scan window and paints it;
// the options are set through the options dialog's own controls.
int runScan(int argc, char** argv) {
    int dpi = 0;
    bool gray = false;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--gray") == 0)
            gray = true;
        else if (std::strcmp(argv[i], "--dpi") == 0 && i + 1 < argc)
            dpi = std::atoi(argv[++i]);
        else
            dpi = -1;
    }
    if (dpi < 1 || dpi > 1200) {
        usage();
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir scratch;
    if (!scratch.isValid()) return 1;
    QFile conf(scratch.filePath("dll.conf"));
    if (!conf.open(QIODevice::WriteOnly) || conf.write("test\n") != 5) return 1;
    conf.close();
    qputenv("SANE_CONFIG_DIR", QFile::encodeName(scratch.path()));
    for (const char* sub : {"config", "runtime"}) QDir(scratch.path()).mkpath(sub);
    QFile::setPermissions(scratch.filePath("runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(scratch.filePath("config")));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(scratch.filePath("runtime")));

    pixmoor::Application app(argc, argv);
    int messages = 0;
    pixmoor::setMessageHandler([&messages](const pixmoor::MessageRequest& r) {
        std::fprintf(stderr, "message: %s\n", qPrintable(r.text));
        ++messages;
        return pixmoor::MessageButton::Ok;
    });
    pixmoor::setScanDialogHandler([dpi, gray](QDialog& dialog) {
        auto* options = qobject_cast<pixmoor::ScanOptionsDialog*>(&dialog);
        if (!options) return int(QDialog::Rejected);
        const auto combo = [options](const char* name, const char* text) {
            if (auto* c = qobject_cast<QComboBox*>(options->control(name)))
                c->setCurrentIndex(c->findText(text));
        };
        const auto number = [options](const char* name, double v) {
            if (auto* s = qobject_cast<QDoubleSpinBox*>(options->control(name))) s->setValue(v);
        };
        combo("mode", gray ? "Gray" : "Color");
        combo("test-picture", "Color pattern");
        number("resolution", dpi);
        number("br-x", 200);
        number("br-y", 200);
        return int(QDialog::Accepted);
    });
    auto form9 = std::make_unique<TForm9>();
    Form9 = form9.get();
    form9->showScanWindow();
    QCoreApplication::processEvents();

    StallMeter stalls(QAbstractEventDispatcher::instance());
    QElapsedTimer clock;
    stalls.start();
    clock.start();
    form9->PMultiImage1->ScanImage(form9.get());
    form9->PMultiImage1->repaint();
    QCoreApplication::processEvents();
    const qint64 nanoseconds = clock.nsecsElapsed();
    const qint64 maxStall = stalls.stop();
    const pixmoor::Picture& picture = form9->PMultiImage1->Picture();
    std::printf("pixels=%lld seconds=%.3f peak_rss_mb=%.1f max_stall_ms=%.1f\n",
                (long long)picture.width() * picture.height(), double(nanoseconds) / 1e9,
                peakRssMb(), double(maxStall) / 1e6);
    std::fflush(stdout);
    const bool scanned = messages == 0 && !picture.isEmpty();
    form9.reset();
    Form9 = nullptr;
    pixmoor::setScanDialogHandler({});
    return scanned ? 0 : 1;
}

// The Convert command on every file of the type, the dialog filled in as a user would. The
// catalogue is built first (untimed) by the windows the command uses, in the program's order.
int runConvert(const Options& o, const QString& directory, const int& messages) {
    auto form1 = std::make_unique<TForm1>();
    Form1 = form1.get();
    auto form3 = std::make_unique<TForm3>();
    Form3 = form3.get();
    auto viewer = std::make_unique<TOKBottomDlg>();
    OKBottomDlg = viewer.get();
    auto form6 = std::make_unique<TForm6>();
    Form6 = form6.get();
    showAndActivate(form1.get());
    chooseType(form1.get(), o.type);
    form1->fastConversion = !o.serial;
    if (!form1->DirectoryListBox1->setDirectory(directory)) {
        std::fprintf(stderr, "pixmoor-bench: cannot open %s\n", qPrintable(directory));
        return 1;
    }
    form1->ListView1->selectAll();
    const int files = int(form1->ListView1->selectedRows().size());
    QCoreApplication::processEvents();

    QTimer::singleShot(0, form6.get(), [&form6, &o] {
        form6->setKindIndex(o.kind);
        form6->setColorIndex(o.colour);
        form6->Edit1->setText(o.target);
        form6->BitBtn2->click();
    });
    QElapsedTimer clock;
    clock.start();
    form1->Convert1->trigger();
    const qint64 nanoseconds = clock.nsecsElapsed();

    if (messages > 0) std::printf("message boxes answered: %d\n", messages);
    const double seconds = double(nanoseconds) / 1e9;
    std::printf("files=%d seconds=%.3f files_per_s=%.2f peak_rss_mb=%.1f\n", files, seconds,
                seconds > 0 ? files / seconds : 0.0, peakRssMb());
    std::fflush(stdout);
    form6.reset();
    Form6 = nullptr;
    viewer.reset();
    OKBottomDlg = nullptr;
    form3.reset();
    Form3 = nullptr;
    form1.reset();
    Form1 = nullptr;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "scan") == 0) return runScan(argc, argv);
    Options options;
    if (!parse(argc, argv, options)) {
        usage();
        return 2;
    }
    const QString directory = QFileInfo(options.directory).absoluteFilePath();
    if (!QFileInfo(directory).isDir()) {
        std::fprintf(stderr, "pixmoor-bench: %s is not a directory\n", argv[2]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");

    // Private settings and runtime folders, and an empty working directory for the window's first
    // activation, so the run neither reads nor changes the user's settings.
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        std::fprintf(stderr, "pixmoor-bench: cannot create a scratch directory\n");
        return 1;
    }
    const QString home = scratch.path();
    for (const char* sub : {"config", "cache", "runtime", "start"}) QDir(home).mkpath(sub);
    QFile::setPermissions(home + "/runtime",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + "/config"));
    qputenv("XDG_CACHE_HOME",
            QFile::encodeName(options.cacheHome.isEmpty() ? home + "/cache" : options.cacheHome));
    pixmoor::ThumbnailCache::setEnabled(!options.noCache);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home + "/runtime"));
    const QString startDir = QDir::currentPath();
    QDir::setCurrent(home + "/start");

    pixmoor::Application app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pixmoor"));
    int messages = 0;
    pixmoor::setMessageHandler([&messages](const pixmoor::MessageRequest& r) {
        ++messages;
        if (qEnvironmentVariableIsSet("PIXMOOR_BENCH_TRACE"))
            std::fprintf(stderr, "message: %s\n", qPrintable(r.text));
        // Yes to the overwrite question of a conversion, OK to anything else.
        const bool yes = std::find(r.buttons.begin(), r.buttons.end(),
                                   pixmoor::MessageButton::Yes) != r.buttons.end();
        return yes ? pixmoor::MessageButton::Yes : pixmoor::MessageButton::Ok;
    });
    if (options.command == "print-sheet" && QDir::isRelativePath(options.pdf))
        options.pdf = QDir(startDir).absoluteFilePath(options.pdf);
    if (options.command == "copy" || options.command == "convert") {
        // A relative target is taken from where the tool was started, not the scratch folder.
        if (QDir::isRelativePath(options.target))
            options.target = QDir(startDir).absoluteFilePath(options.target);
        return options.command == "copy" ? runCopy(options, directory, messages)
                                         : runConvert(options, directory, messages);
    }
    if (options.command == "pipeline" || options.command == "quality") {
        if (!pixmoor::ThumbnailPipeline::handles(options.type)) {
            usage();
            return 2;
        }
        return options.command == "pipeline" ? runPipeline(options, directory)
                                             : runQuality(options, directory);
    }

    // The windows the build uses, in the program's order: the main window, then the work form.
    auto form1 = std::make_unique<TForm1>();
    Form1 = form1.get();
    auto form3 = std::make_unique<TForm3>();
    Form3 = form3.get();
    showAndActivate(form1.get());

    // Type, size and view are picked while the window shows the empty start directory, so any
    // rebuild they cause costs nothing.
    chooseType(form1.get(), options.type);
    if (options.width > 0) {
        ThumbWidth = options.width;
        ThumbHeight = options.height;
        if (Form3) Form3->FormCreate();
        form1->SetImageSize();
    }
    if (options.report && form1->isIconView()) form1->List1Click();
    if (options.report && form1->isIconView()) {
        std::fprintf(stderr, "pixmoor-bench: the window did not switch to the report view\n");
        return 1;
    }
    QCoreApplication::processEvents();

    // The timed build: the user picks the directory in the tree. Later visits go back to the
    // empty start directory first (untimed), so each visit is a whole build.
    StallMeter stalls(QAbstractEventDispatcher::instance());
    QElapsedTimer clock;
    // The first screenful: as many cells as the current view shows.
    qint64 firstScreen = -1;
    const auto screenful = [&form1] {
        QAbstractItemView* view = form1->ListView1->currentView();
        const QSize cell = form1->isIconView() ? form1->ListView1->iconView()->gridSize()
                                               : QSize(view->viewport()->width(),
                                                       std::max(1, view->sizeHintForRow(0)));
        const QSize area = view->viewport()->size();
        if (cell.width() < 1 || cell.height() < 1) return 1;
        return std::max(1, area.width() / cell.width()) *
               std::max(1, (area.height() + cell.height() - 1) / cell.height());
    };
    for (pixmoor::ImageList* list : {form1->ImageList1, form1->ImageList2})
        QObject::connect(list, &pixmoor::ImageList::appended, list, [&](int index) {
            if (firstScreen < 0 && index + 1 >= screenful()) firstScreen = clock.nsecsElapsed();
        });
    for (int visit = 1; visit <= options.visits; ++visit) {
        if (visit > 1) {
            form1->DirectoryListBox1->setDirectory(home + "/start");
            QCoreApplication::processEvents();
        }
        firstScreen = -1;
        stalls.start();
        clock.start();
        const bool changed = form1->DirectoryListBox1->setDirectory(directory);
        const qint64 nanoseconds = clock.nsecsElapsed();
        const qint64 maxStall = stalls.stop();
        if (!changed) {
            std::fprintf(stderr, "pixmoor-bench: cannot open %s\n", argv[2]);
            return 1;
        }

        if (options.command == "print-sheet")
            return runPrintSheet(options, form1.get(), double(nanoseconds) / 1e9, messages);

        if (messages > 0) std::printf("message boxes answered: %d\n", messages);
        if (options.visits > 1) std::printf("visit %d: ", visit);
        std::printf("longest stall ended %.1f ms into the build\n",
                    double(stalls.longestEndedAt()) / 1e6);
        printResult(form1->ListView1->count(), nanoseconds, maxStall,
                    firstScreen >= 0 ? firstScreen : nanoseconds);
    }

    form3.reset();
    Form3 = nullptr;
    form1.reset();
    Form1 = nullptr;
    return 0;
}
