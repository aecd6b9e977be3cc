// The Convert command on the real main window, offscreen: the dialog, the run over the selected
// items with its questions and messages, metafiles and icons through the scratch file, and every
// format at every depth read back by ImageMagick.
#include "app/Unit1.h"
#include "catalogue/image.h"
#include "operations/convert.h"
#include "operations/pic.h"
#include "platform/globals.h"
#include "platform/message_box.h"
#include "platform/thread_activity.h"
#include "tests/catalogue/catalogue_test_util.h"
#include "tests/support/blocking_fuse.h"
#include "tests/support/program_fixture.h"

#include <QApplication>
#include <QButtonGroup>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QMap>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

using namespace pixmoor;
using namespace pixmoor::test;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// What ImageMagick reports of a file: "WIDTHxHEIGHT COLOURS COLOURSPACE".
std::string identify(const QString& path) {
    TempDir out;
    const std::string report = out.file("report");
    if (run("identify -format '%wx%h %k %[colorspace]' " + shellQuote(path.toStdString()) + " > " +
            shellQuote(report) + " 2>/dev/null") != 0)
        return "unreadable";
    return readAll(QString::fromStdString(report)).toStdString();
}

// Sees the files of one directory that are read to the end: opened for reading, then closed.
class ReadWatch {
public:
    explicit ReadWatch(const QString& dir) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        if (fd_ >= 0 && ::inotify_add_watch(fd_, dir.toUtf8().constData(), IN_CLOSE_NOWRITE) < 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~ReadWatch() {
        if (fd_ >= 0) ::close(fd_);
    }
    ReadWatch(const ReadWatch&) = delete;
    ReadWatch& operator=(const ReadWatch&) = delete;

    // Waits until name has been read since the watch began (at most a minute).
    bool waitForRead(const QString& name) {
        for (int i = 0; fd_ >= 0 && i < 600 && !read_.contains(name); ++i) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            alignas(inotify_event) char buffer[4096];
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->len > 0) read_ << QString::fromUtf8(event->name);
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
        return read_.contains(name);
    }

private:
    int fd_;
    QStringList read_;
};

class Conversion : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        base = QFileInfo(qpath(dir.path().string())).canonicalFilePath();
        createWindows();
        ASSERT_FALSE(WindowsDir.isEmpty());
    }

    // Records each message box with whether the window was busy when it appeared.
    MessageButton answer(const MessageRequest& r) override {
        busyAtMessages.push_back(form && form->isBusy());
        return ProgramTest::answer(r);
    }

    QString path(const QString& name) const { return base + "/" + name; }

    // Browses the test directory with the given type's command.
    void browse(void (TForm1::*type)() = &TForm1::BMP1Click) {
        ASSERT_TRUE(form->DirectoryListBox1->setDirectory(base));
        (form.get()->*type)();
    }

    void select(const QStringList& captions) {
        for (int r = 0; r < form->ListView1->count(); ++r)
            form->ListView1->setSelected(r, captions.contains(form->ListView1->caption(r)));
    }

    // Runs Convert while a queued step fills in the dialog; target empty keeps the default.
    void convert(int kind, int colour, const QString& target = {}, bool ok = true) {
        dialogShown = false;
        targetShown.clear();
        QTimer::singleShot(0, [=, this] {
            if (!QTest::qWaitFor([this] { return form6->isVisible(); }, 3000)) return;
            dialogShown = true;
            targetShown = form6->Edit1->text();
            form6->setKindIndex(kind);
            form6->setColorIndex(colour);
            if (!target.isNull()) form6->Edit1->setText(target);
            (ok ? form6->BitBtn2 : form6->BitBtn1)->click();
        });
        form->Convert1->trigger();
        QCoreApplication::processEvents();
        if (form6->isVisible()) form6->reject();
    }

    TempDir dir;
    QString base;
    std::vector<bool> busyAtMessages;
    bool dialogShown = false;
    QString targetShown;
    WindowOf<TForm3> form3{Form3};
    WindowOf<TOKBottomDlg> viewer{OKBottomDlg};
    WindowOf<TForm6> form6{Form6};
};

} // namespace

TEST_F(Conversion, TheDialogHasItsDesignAndKeepsItsChoices) {
    TForm6& d = *form6;
    EXPECT_EQ(d.windowTitle(), "Image Convert");
    EXPECT_EQ(d.statusTip(), "Image Conversion Options");
    EXPECT_EQ(d.size(), QSize(283, 286));
    EXPECT_EQ(d.Kind->title(), "&Image Type");
    EXPECT_EQ(d.Kind->statusTip(), "Image Format Selection");
    EXPECT_EQ(d.Color->title(), "Color Depth");
    EXPECT_EQ(d.Color->statusTip(), "Color Setting");
    QStringList kinds, colours;
    for (QRadioButton* b : d.Kind->findChildren<QRadioButton*>()) kinds << b->text();
    for (QRadioButton* b : d.Color->findChildren<QRadioButton*>()) colours << b->text();
    EXPECT_EQ(kinds, QStringList({"Bmp", "Gif", "Jpeg", "Pcx", "Png", "Tiff"}));
    EXPECT_EQ(colours, QStringList({"Automatic", "16 Color", "256 Color", "True Color", "Vga",
                                    "Monochrome"}));
    EXPECT_EQ(d.kindIndex(), 0);
    EXPECT_EQ(d.colorIndex(), 0);
    EXPECT_EQ(d.Label1->text(), "Location For Converted Images");
    EXPECT_EQ(d.BitBtn1->text(), "&Cancel");
    EXPECT_EQ(d.BitBtn1->statusTip(), "Cancel Image Conversion");
    EXPECT_EQ(d.BitBtn2->text(), "&OK");
    EXPECT_EQ(d.BitBtn2->statusTip(), "Proceed With Image Conversion");
    EXPECT_EQ(d.BitBtn3->text(), "&Browse");

    // Nothing selected: no dialog, no message.
    magick("rose:", path("a.bmp").toStdString());
    browse();
    convert(3, 5);
    EXPECT_FALSE(dialogShown);
    EXPECT_TRUE(messages.empty());

    // Cancel converts nothing, but the choices stay for the next run; the target box always
    // starts at the browsed directory.
    form->ListView1->selectAll();
    convert(3, 5, "/elsewhere", false);
    EXPECT_TRUE(dialogShown);
    EXPECT_EQ(targetShown, base);
    EXPECT_FALSE(QFile::exists(path("a.pcx")));
    EXPECT_EQ(d.kindIndex(), 3);
    EXPECT_EQ(d.colorIndex(), 5);
    QTimer::singleShot(0, [&d] {
        if (QTest::qWaitFor([&d] { return d.isVisible(); }, 3000)) d.BitBtn1->click();
    });
    form->Convert2->trigger();
    EXPECT_EQ(d.kindIndex(), 3);
    EXPECT_EQ(d.Edit1->text(), base);
    EXPECT_TRUE(messages.empty());
}

TEST_F(Conversion, ABitmapOntoItselfAsksAndNoKeepsItYesRewritesIt) {
    magick("rose:", path("a.bmp").toStdString());
    const QByteArray original = readAll(path("a.bmp"));
    browse();
    form->ListView1->selectAll();

    answers = {MessageButton::No};
    convert(0, 0); // the defaults: Bmp, Automatic, the browsed directory
    EXPECT_EQ(messageTexts(), QStringList({"File Already Exists a.bmp ,Overwrite ?"}));
    EXPECT_EQ(messages[0].kind, MessageKind::Confirmation);
    EXPECT_EQ(busyAtMessages, std::vector<bool>({true}));
    EXPECT_EQ(readAll(path("a.bmp")), original);

    messages.clear();
    answers = {MessageButton::Yes};
    convert(0, 0);
    EXPECT_EQ(messageTexts(), QStringList({"File Already Exists a.bmp ,Overwrite ?"}));
    const QByteArray rewritten = readAll(path("a.bmp"));
    EXPECT_NE(rewritten, original); // our own encoder's file
    // The same picture as before, pixel for pixel.
    ASSERT_EQ(run("compare -metric AE " + shellQuote(path("a.bmp").toStdString()) +
                  " rose: null: " + "2>/dev/null"),
              0);
    EXPECT_EQ(QDir::currentPath(), base);
    EXPECT_FALSE(form->isBusy());
    EXPECT_EQ(OKBottomDlg->PMultiImage1->ImageWriteRes(), sAutoMatic);
}

TEST_F(Conversion, OnlySelectedItemsInItemOrderWithTheNewExtension) {
    const QString target = base + "/out";
    ASSERT_TRUE(QDir().mkpath(target));
    for (const char* name : {"Holiday.pcx", "b.pcx", "c.pcx", "d.pcx"})
        magick("rose:", path(name).toStdString());
    // Existing targets make the run ask for each file it converts, in its order.
    for (const char* name : {"Holiday.tif", "b.tif", "c.tif", "d.tif"})
        writeBytes((target + "/" + name).toStdString(), "old");
    browse(&TForm1::Pcx1Click);
    ASSERT_EQ(form->ListView1->captions(), QStringList({"b.pcx", "c.pcx", "d.pcx", "Holiday.pcx"}));
    select({"Holiday.pcx", "d.pcx", "b.pcx"});
    answers = {MessageButton::Yes, MessageButton::No, MessageButton::Yes};
    convert(5, 0, target);
    EXPECT_EQ(messageTexts(), QStringList({"File Already Exists b.tif ,Overwrite ?",
                                           "File Already Exists d.tif ,Overwrite ?",
                                           "File Already Exists Holiday.tif ,Overwrite ?"}));
    EXPECT_EQ(identify(target + "/Holiday.tif").substr(0, 5), "70x46");
    EXPECT_EQ(identify(target + "/b.tif").substr(0, 5), "70x46");
    EXPECT_EQ(readAll(target + "/d.tif"), "old");
    EXPECT_EQ(readAll(target + "/c.tif"), "old");
    EXPECT_EQ(QDir(target).entryList(QDir::Files | QDir::Hidden).size(), 4); // nothing else
    EXPECT_EQ(QDir::currentPath(), base);

    // A relative target is taken from the browsed directory.
    messages.clear();
    select({"c.pcx"});
    convert(1, 2, "out");
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(identify(target + "/c.gif").substr(0, 5), "70x46");
}

TEST_F(Conversion, AnEmptyOrUnreachableTargetConvertsNothing) {
    magick("rose:", path("a.bmp").toStdString());
    browse();
    form->ListView1->selectAll();

    convert(4, 5, "");
    EXPECT_EQ(messageTexts(),
              QStringList({"You Have Not Specified A Target Directory For The Converted Images"}));
    EXPECT_EQ(messages[0].kind, MessageKind::Error);
    EXPECT_EQ(busyAtMessages, std::vector<bool>({false}));
    // The depth was never applied.
    EXPECT_EQ(OKBottomDlg->PMultiImage1->ImageWriteRes(), sAutoMatic);

    messages.clear();
    busyAtMessages.clear();
    const QString missing = base + "/missing";
    convert(4, 5, missing);
    EXPECT_EQ(messageTexts(), QStringList({"Error Cannot Access Path " + missing}));
    EXPECT_EQ(busyAtMessages, std::vector<bool>({true}));
    EXPECT_FALSE(form->isBusy());
    EXPECT_EQ(OKBottomDlg->PMultiImage1->ImageWriteRes(), sAutoMatic);
    EXPECT_EQ(QDir(base).entryList(QDir::Files), QStringList({"a.bmp"}));
    EXPECT_EQ(QDir::currentPath(), base);

    // A file in the target's place is no directory either.
    messages.clear();
    convert(4, 5, path("a.bmp"));
    EXPECT_EQ(messageTexts(), QStringList({"Error Cannot Access Path " + path("a.bmp")}));
}

TEST_F(Conversion, MonochromeNeverOutlivesItsRunAndFailuresLetTheRunGoOn) {
    magick("rose:", path("a.bmp").toStdString());
    writeBytes(path("b.bmp").toStdString(), "BM not really a bitmap");
    magick("-size 20x10 xc:red", path("c.bmp").toStdString());
    const QString target = base + "/out";
    ASSERT_TRUE(QDir().mkpath(target));
    browse();
    form->ListView1->selectAll();
    convert(4, 5, target);
    // The unreadable file is reported by the component; what it then holds (nothing) cannot be
    // written, which it reports too. The next file is converted all the same.
    ASSERT_GE(messages.size(), 2u);
    EXPECT_TRUE(messageTexts().contains("Reading bmp file failed"));
    EXPECT_TRUE(messageTexts().contains("Writing png file failed"));
    EXPECT_EQ(identify(target + "/a.png").substr(0, 7), "70x46 2");
    EXPECT_EQ(identify(target + "/c.png").substr(0, 5), "20x10");
    EXPECT_FALSE(QFile::exists(target + "/b.png"));
    EXPECT_EQ(OKBottomDlg->PMultiImage1->ImageWriteRes(), sAutoMatic);
    // The component holds the last file's picture.
    EXPECT_EQ(OKBottomDlg->PMultiImage1->Picture().width(), 20);
}

TEST_F(Conversion, MetafilesBecome300SquareAndIconsAre32WithTheIconUnscaled) {
    const QString fixtures = QStringLiteral(PIXMOOR_FIXTURES) + "/wmf/";
    ASSERT_TRUE(QFile::copy(fixtures + "shapes.wmf", path("shapes.wmf")));
    writeBytes(path("broken.wmf").toStdString(), "not a metafile");
    ASSERT_TRUE(QFile::copy(fixtures + "text.wmf", path("text.wmf")));
    // A file of the scratch file's name in the browsed directory is not ours.
    writeBytes(path("$.bmp").toStdString(), "mine");
    const QString target = base + "/out";
    ASSERT_TRUE(QDir().mkpath(target));
    browse(&TForm1::Wmf1Click);
    messages.clear(); // the catalogue's own, of "$.bmp" while the directory showed bitmaps
    form->ListView1->selectAll();
    convert(4, 3, target);
    EXPECT_EQ(messageTexts(), QStringList({"Error Reading File broken.wmf"}));
    EXPECT_EQ(identify(target + "/shapes.png").substr(0, 7), "300x300");
    EXPECT_EQ(identify(target + "/text.png").substr(0, 7), "300x300");
    EXPECT_FALSE(QFile::exists(target + "/broken.png"));
    EXPECT_EQ(readAll(path("$.bmp")), "mine");
    EXPECT_FALSE(QFile::exists(WindowsDir + "/$.bmp"));

    // An icon: a 32 x 32 entry whose top-left 10 x 6 is blue and the rest transparent.
    messages.clear();
    magick("-size 32x32 xc:none -fill blue -draw 'rectangle 0,0 9,5' -define icon:auto-resize=32",
           path("i.ico").toStdString());
    browse(&TForm1::Icon1Click);
    select({"i.ico"});
    convert(0, 3, target);
    EXPECT_TRUE(messages.empty());
    QImage icon(target + "/i.bmp");
    ASSERT_EQ(icon.size(), QSize(32, 32));
    EXPECT_EQ(pixelAt(icon, 0, 0), 0xff0000ffu);
    EXPECT_EQ(pixelAt(icon, 9, 5), 0xff0000ffu);
    EXPECT_EQ(pixelAt(icon, 10, 5), 0xffffffffu);
    EXPECT_EQ(pixelAt(icon, 9, 6), 0xffffffffu);
    EXPECT_EQ(pixelAt(icon, 31, 31), 0xffffffffu);
    EXPECT_EQ(readAll(path("$.bmp")), "mine");
    EXPECT_FALSE(QFile::exists(WindowsDir + "/$.bmp"));
}

// Each of the six formats at each of the six depths, read back by ImageMagick: the size is kept
// and the colours are within what the depth allows (JPEG has colour or grey only).
TEST_F(Conversion, EveryFormatAtEveryDepthReadsBackInAPeer) {
    magick("rose:", path("rose.png").toStdString()); // 70 x 46, some 3000 colours
    browse(&TForm1::Png1Click);
    form->ListView1->selectAll();
    const char* extensions[] = {"bmp", "gif", "jpg", "pcx", "png", "tif"};
    for (int colour = 0; colour < 6; ++colour) {
        const QString target = base + "/depth" + QString::number(colour);
        ASSERT_TRUE(QDir().mkpath(target));
        for (int kind = 0; kind < 6; ++kind) {
            SCOPED_TRACE(std::string(extensions[kind]) + " colour item " + std::to_string(colour));
            convert(kind, colour, target);
            EXPECT_TRUE(messages.empty()) << messageTexts().join(" | ").toStdString();
            const std::string report =
                identify(target + "/rose." + QString::fromLatin1(extensions[kind]));
            int w = 0, h = 0, colours = 0;
            char space[32] = {};
            ASSERT_EQ(std::sscanf(report.c_str(), "%dx%d %d %31s", &w, &h, &colours, space), 4)
                << report;
            EXPECT_EQ(w, 70);
            EXPECT_EQ(h, 46);
            const int bits =
                saveResolutionBits(conversionDepth(colour), conversionFormat(kind), 24);
            if (kind == 2) { // JPEG
                EXPECT_EQ(std::string(space), bits == 1 ? "Gray" : "sRGB") << report;
                if (bits != 1) {
                    EXPECT_GT(colours, 256) << report;
                }
            } else if (bits == 24) {
                EXPECT_GT(colours, 256) << report;
            } else {
                EXPECT_LE(colours, bits == 1 ? 2 : bits == 8 ? 256 : 16) << report;
                EXPECT_GE(colours, 2) << report;
            }
        }
    }
}

// Decoding ahead changes nothing observable: the same files and the same messages in the same
// order as a run that reads each file in its turn, also when a conversion writes over a file
// that was already decoded ahead (x.jpeg becomes x.jpg, the next item).
TEST_F(Conversion, DecodingAheadWritesWhatAOneByOneRunWrites) {
    magick("-size 40x30 xc:red", path("x.jpeg").toStdString());
    magick("-size 40x30 xc:blue", path("x.jpg").toStdString());
    writeBytes(path("y.jpg").toStdString(), "\xff\xd8\xff not really a JPEG");
    magick("rose:", path("z.jpg").toStdString());
    magick("-size 64x64 plasma:fractal -seed 3", path("zz.jpg").toStdString());
    const QStringList sources = {"x.jpeg", "x.jpg", "y.jpg", "z.jpg", "zz.jpg"};
    QMap<QString, QByteArray> originals;
    for (const QString& name : sources) originals[name] = readAll(path(name));

    // Converts every item to JPEG in the browsed directory (replacing x.jpg twice, then each file
    // by itself) and returns the messages and the resulting files.
    auto runOnce = [&](bool ahead) {
        for (const QString& name : sources) writeBytes(path(name).toStdString(), originals[name]);
        form->fastConversion = ahead;
        browse(&TForm1::Jpeg1Click);
        messages.clear();
        // The first question waits until the worker has read x.jpg, before it is replaced.
        const auto reads = ahead ? std::make_shared<ReadWatch>(base) : nullptr;
        setMessageHandler([this, reads](const MessageRequest& r) {
            messages.push_back(r);
            if (messages.size() == 1 && reads) {
                EXPECT_TRUE(reads->waitForRead("x.jpg"));
            }
            return r.kind == MessageKind::Confirmation ? MessageButton::Yes : MessageButton::Ok;
        });
        form->ListView1->selectAll();
        EXPECT_EQ(form->ListView1->selectedCaptions(), sources);
        convert(2, 0);
        QStringList result = messageTexts();
        for (const QString& name : sources) result << name + ": " + readAll(path(name)).toHex();
        return result;
    };
    const QStringList serial = runOnce(false);
    const QStringList ahead = runOnce(true);
    EXPECT_EQ(ahead, serial);
    // x.jpg holds x.jpeg's red in the end, as a one-by-one run leaves it.
    EXPECT_EQ(qRed(QImage(path("x.jpg")).pixel(20, 15)) > 200, true);
    EXPECT_TRUE(serial.contains("File Already Exists x.jpg ,Overwrite ?"));
    EXPECT_TRUE(serial.contains("Reading jpg file failed"));
}

// Links at the target names lead out of the chosen folder: each is asked about and replaced by
// the converted file, and nothing outside the target is written or created.
TEST_F(Conversion, LinksAtTheTargetNamesAreReplacedNeverFollowed) {
    const QString target = base + "/out", elsewhere = base + "/elsewhere";
    ASSERT_TRUE(QDir().mkpath(target) && QDir().mkpath(elsewhere));
    writeBytes((elsewhere + "/precious.txt").toStdString(), "precious");
    ASSERT_TRUE(QFile::link("../elsewhere/precious.txt", target + "/a.png"));
    ASSERT_TRUE(QFile::link("../elsewhere/new-file.png", target + "/b.png"));
    for (const char* name : {"a.jpg", "b.jpg"}) magick("rose:", path(name).toStdString());
    browse(&TForm1::Jpeg1Click);
    select({"a.jpg", "b.jpg"});
    answers = {MessageButton::Yes, MessageButton::Yes};
    convert(4, 3, target);
    EXPECT_EQ(messageTexts(), QStringList({"File Already Exists a.png ,Overwrite ?",
                                           "File Already Exists b.png ,Overwrite ?"}));
    for (const char* name : {"a.png", "b.png"}) {
        EXPECT_FALSE(QFileInfo(target + "/" + name).isSymLink()) << name;
        EXPECT_EQ(identify(target + "/" + name).substr(0, 5), "70x46") << name;
    }
    EXPECT_EQ(readAll(elsewhere + "/precious.txt"), "precious");
    EXPECT_EQ(QDir(elsewhere).entryList(QDir::Files | QDir::Hidden), QStringList({"precious.txt"}));
}

TEST_F(Conversion, AFileWhoseReadNeverReturnsIsReportedAsUnreadableAndTheRunGoesOn) {
    BlockingFuse fuse;
    if (!fuse.mounted()) GTEST_SKIP() << "FUSE cannot be mounted here: " << fuse.failure();
    magick("-size 40x30 xc:red", path("a.jpg").toStdString());
    magick("-size 40x30 xc:blue", path("c.jpg").toStdString());
    // b.jpg's read never returns; e.jpg's reads fail, as on a damaged disk.
    ASSERT_EQ(::symlink(fuse.hangingFile().c_str(), path("b.jpg").toUtf8().constData()), 0);
    ASSERT_EQ(::symlink(fuse.failingFile().c_str(), path("e.jpg").toUtf8().constData()), 0);
    struct RestoreBound {
        ~RestoreBound() { setStallBound(std::chrono::milliseconds(0)); }
    } restore;
    setStallBound(std::chrono::seconds(1));
    const QString target = base + "/out";
    ASSERT_TRUE(QDir().mkpath(target));
    form->fastConversion = true;
    browse(&TForm1::Jpeg1Click);
    const int readsByTheBuild = fuse.waitingReads();
    messages.clear();
    form->ListView1->selectAll();
    ASSERT_EQ(form->ListView1->selectedCaptions(),
              (QStringList{"a.jpg", "b.jpg", "c.jpg", "e.jpg"}));
    convert(4, 0, target);
    EXPECT_EQ(identify(target + "/a.png").substr(0, 5), "40x30");
    EXPECT_EQ(identify(target + "/c.png").substr(0, 5), "40x30");
    // The same messages as the file that cannot be read, naming its own file.
    const auto reportsOf = [&](const QString& name) {
        const QString file = path(name);
        QStringList out;
        for (const MessageRequest& m : messages)
            if (m.detail.contains(file))
                out << QString::number(int(m.kind)) + m.text + QString(m.detail).replace(file, "F");
        return out;
    };
    EXPECT_FALSE(reportsOf("e.jpg").isEmpty());
    EXPECT_EQ(reportsOf("b.jpg"), reportsOf("e.jpg"));
    EXPECT_EQ(fuse.waitingReads(), readsByTheBuild + 1); // once by the worker, then left alone
}

// With several files in flight the run is a one-by-one run to the user: the same messages in the
// same order (a damaged file among them), No keeps the old file, Stop leaves the run going and
// the request pending, nothing else lands in the target. While a question is open the workers
// are already on the next files.
TEST_F(Conversion, SeveralFilesInFlightKeepTheOneByOneMessagesAndFiles) {
    magick("rose:", path("a.jpg").toStdString());
    writeBytes(path("b.jpg").toStdString(), "\xff\xd8\xff not really a JPEG");
    magick("-size 90x60 plasma:fractal -seed 4", path("c.jpg").toStdString());
    magick("-size 60x90 plasma:fractal -seed 5", path("d.jpg").toStdString());
    magick("-size 40x30 xc:blue", path("e.jpg").toStdString());
    magick("-size 30x40 xc:red", path("f.jpg").toStdString());
    TempDir out; // outside the browsed folder, which stays as it is
    const QString target = qpath(out.path().string());
    auto runOnce = [&](bool ahead) {
        for (const QString& name : QDir(target).entryList(QDir::Files | QDir::Hidden))
            QFile::remove(target + "/" + name);
        for (const char* name : {"c.png", "d.png"})
            writeBytes((target + "/" + name).toStdString(), "old");
        form->fastConversion = ahead;
        StopRequested = false; // the Stop of a run before would stop this build
        browse(&TForm1::Jpeg1Click);
        messages.clear();
        const auto reads = std::make_shared<ReadWatch>(base);
        std::deque<MessageButton> replies = {MessageButton::No, MessageButton::Yes};
        setMessageHandler([&, reads, ahead](const MessageRequest& r) {
            messages.push_back(r);
            if (r.kind != MessageKind::Confirmation) return MessageButton::Ok;
            if (replies.size() == 2) {
                // Asked about c.png: the two files after c.jpg are being worked on already.
                if (ahead) {
                    EXPECT_TRUE(reads->waitForRead("e.jpg"));
                }
                form->StopButtonClick();
            }
            const MessageButton reply = replies.front();
            replies.pop_front();
            return reply;
        });
        form->ListView1->selectAll();
        EXPECT_EQ(form->ListView1->selectedCaptions().size(), 6);
        convert(4, 0, target);
        QStringList result = messageTexts();
        result << QDir(target).entryList(QDir::Files | QDir::Hidden);
        for (const char* name : {"a.png", "c.png", "d.png", "e.png", "f.png"})
            result << QString(name) + ": " + readAll(target + "/" + name).toHex();
        return result;
    };
    const QStringList serial = runOnce(false);
    const QStringList ahead = runOnce(true);
    EXPECT_EQ(ahead, serial);
    EXPECT_TRUE(StopRequested); // the next catalogue build's to read
    const QStringList texts = messageTexts();
    const auto at = [&](const QString& text) { return texts.indexOf(text); };
    EXPECT_GE(at("Reading jpg file failed"), 0);
    EXPECT_LT(at("Reading jpg file failed"), at("File Already Exists c.png ,Overwrite ?"));
    EXPECT_LT(at("File Already Exists c.png ,Overwrite ?"),
              at("File Already Exists d.png ,Overwrite ?"));
    EXPECT_EQ(readAll(target + "/c.png"), "old");
    EXPECT_EQ(identify(target + "/d.png").substr(0, 5), "60x90");
    EXPECT_EQ(QDir(target).entryList(QDir::Files | QDir::Hidden),
              QStringList({"a.png", "c.png", "d.png", "e.png", "f.png"}));
}

// A run that ends midway (its folder gone) writes nothing of the files the workers had encoded
// past it: no file and no temporary file.
TEST_F(Conversion, ARunEndedMidwayLeavesNothingOfTheFilesAfter) {
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg"})
        magick("-size 80x60 plasma:fractal -seed 6", path(name).toStdString());
    TempDir out;
    const QString target = qpath(out.path().string());
    writeBytes((target + "/b.png").toStdString(), "old");
    form->fastConversion = true;
    browse(&TForm1::Jpeg1Click);
    messages.clear();
    const QString moved = base + "-moved";
    setMessageHandler([&](const MessageRequest& r) {
        messages.push_back(r);
        // The folder goes while b.png is asked about: the run ends after writing it.
        if (r.kind == MessageKind::Confirmation) {
            EXPECT_TRUE(QDir().rename(base, moved));
        }
        return r.kind == MessageKind::Confirmation ? MessageButton::Yes : MessageButton::Ok;
    });
    form->ListView1->selectAll();
    convert(4, 0, target);
    ASSERT_TRUE(QDir().rename(moved, base));
    EXPECT_EQ(messageTexts(), QStringList({"File Already Exists b.png ,Overwrite ?",
                                           "Error Cannot Access Path " + base}));
    EXPECT_EQ(QDir(target).entryList(QDir::Files | QDir::Hidden),
              QStringList({"a.png", "b.png"}));
    EXPECT_EQ(identify(target + "/b.png").substr(0, 5), "80x60");
}
