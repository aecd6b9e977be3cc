// The program's windows under a real window manager (openbox on the Xvfb display), as the X
// server stacks and places them: the scan window in front after Acquire and while it scans; the
// main window's frame on the screen when the saved size is larger than the screen; every window
// fitting its captions and the screen at the scale factor of the run (1, 1.5 and 2).
#include "tests/app/captions_fit.h"
#include "tests/app/scan_commands_fixture.h"
#include "tests/support/window_manager.h"

#include <QApplication>
#include <QGuiApplication>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <cmath>
#include <fstream>

using namespace pixmoor;
using namespace pixmoor::test;

namespace {

// Lets the program send what it has to send, then waits until the window manager has handled it
// all, twice: what the first wait let the program do is handled too.
void settle(XServerView& x) {
    QCoreApplication::processEvents();
    ASSERT_TRUE(x.sync());
    QCoreApplication::processEvents();
    ASSERT_TRUE(x.sync());
}

} // namespace

TEST_F(ScanCommands, AcquireBringsTheScanWindowInFrontAndKeepsItThereWhileItScans) {
    if (!WindowManager::available()) GTEST_SKIP() << "needs X11 and openbox";
    if (!haveProgram("scanimage")) GTEST_SKIP() << "scanimage (sane-utils) is missing";
    WindowManager wm;
    ASSERT_TRUE(wm.running());
    XServerView x;
    ASSERT_TRUE(x.ok());
    PrivateSane sane;

    form->show();
    form->activateWindow();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return x.managed(form.get()) && x.isActive(form.get()); }, 10000));

    // A scan that runs until it is cancelled: one byte a read, each after a delay. Once its
    // progress dialog is up and active, the scan window must lie above the main window.
    {
        ScanDialogAnswers slow({{"mode", "Color"},
                                {"resolution", "50"},
                                {"read-limit", "yes"},
                                {"read-limit-size", "1"},
                                {"read-delay", "yes"},
                                {"read-delay-duration", "200000"}});
        bool looked = false;
        bool busy = false;
        bool scanAbove = false;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<ScanProgressDialog*>(QApplication::activeModalWidget());
            if (!dialog || looked || busy || !dialog->CancelButton->isEnabled()) return;
            busy = true;
            if (x.isActive(dialog)) {
                settle(x);
                looked = true;
                scanAbove = x.above(scan.get(), form.get());
                dialog->CancelButton->click();
            }
            busy = false;
        });
        ticker.start(20);
        form->Acquire1->trigger();
        ticker.stop();
        ASSERT_TRUE(looked);
        EXPECT_TRUE(scanAbove) << "the scan window lay behind the main window during the scan";
        messages.clear(); // the cancelled scan's reports
    }

    // A scan that completes: afterwards the scan window, with its picture, is in front.
    ScanDialogAnswers fast({{"mode", "Color"}, {"resolution", "50"}});
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return x.isActive(form.get()); }, 10000));
    form->Acquire1->trigger();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(scan->PMultiImage1->size(), QSize(157, 196));
    settle(x);
    EXPECT_TRUE(x.above(scan.get(), form.get()))
        << "the scan window lies behind the main window after Acquire";
    EXPECT_TRUE(x.isActive(scan.get()));

    // A scan window the user minimised comes back for the next scan.
    scan->showMinimized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return x.minimised(scan.get()); }, 10000));
    form->Acquire1->trigger();
    settle(x);
    EXPECT_FALSE(x.minimised(scan.get()));
    EXPECT_TRUE(x.above(scan.get(), form.get()));
}

TEST(WindowsX11, ASavedSizeLargerThanTheScreenOpensWithTheWholeFrameOnTheScreen) {
    if (!WindowManager::available() || !haveProgram("xdotool"))
        GTEST_SKIP() << "needs X11, openbox and xdotool";
    WindowManager wm;
    ASSERT_TRUE(wm.running());
    XServerView x;
    ASSERT_TRUE(x.ok());
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();

    // Closed at 1500 x 950, started again on this 1280 x 1024 screen, and at scale factor 2
    // (where the screen is 640 x 512 to the program).
    for (const char* scale : {"1", "2"}) {
        SCOPED_TRACE(std::string("scale factor ") + scale);
        TempDir home;
        ASSERT_EQ(run("mkdir -p '" + home.file("config") + "' && mkdir -m 700 '" +
                      home.file("runtime") + "'"),
                  0);
        std::ofstream(home.file("config/KEMRA.conf"))
            << "[Window]\nWindowWidth=1500\nWindowHeight=950\nWindowState=Normal\n";
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(home.file("config")));
        env.insert("XDG_RUNTIME_DIR", QString::fromStdString(home.file("runtime")));
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("QT_SCALE_FACTOR", scale);
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(QString::fromStdString(home.path().string()));
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        program.start(QStringLiteral(PIXMOOR_BIN_DIR "/pixmoor"), {});
        ASSERT_TRUE(program.waitForStarted(10000));

        QProcess search;
        search.start("xdotool", {"search", "--sync", "--onlyvisible", "--pid",
                                 QString::number(program.processId()), "--name", "^Pixmoor$"});
        ASSERT_TRUE(search.waitForFinished(30000));
        const std::uint32_t window =
            QString::fromUtf8(search.readAllStandardOutput()).section('\n', 0, 0).toUInt();
        ASSERT_NE(window, 0u) << "no window titled Pixmoor";
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                const QRect frame = x.frame(window);
                return frame.height() > 100 && area.contains(frame);
            },
            10000))
            << "the frame lies at " << x.frame(window).x() << "," << x.frame(window).y() << " "
            << x.frame(window).width() << "x" << x.frame(window).height();
        program.terminate();
        if (!program.waitForFinished(10000)) program.kill();
        program.waitForFinished(10000);
    }
}

TEST_F(ScanCommands, EveryWindowFitsItsCaptionsAndLiesWhollyOnTheScreen) {
    if (!WindowManager::available()) GTEST_SKIP() << "needs X11 and openbox";
    WindowManager wm;
    ASSERT_TRUE(wm.running());
    XServerView x;
    ASSERT_TRUE(x.ok());
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const qreal scale = QGuiApplication::primaryScreen()->devicePixelRatio();
    const std::string at = "at scale " + std::to_string(scale);
    // The frame as the server has it, in its pixels, against the available area in the same
    // pixels (a pixel of rounding allowed at a fractional scale).
    const QRect screen(
        QPoint(std::floor(area.x() * scale), std::floor(area.y() * scale)),
        QPoint(std::ceil((area.right() + 1) * scale), std::ceil((area.bottom() + 1) * scale)));
    const auto expectFits = [&](QWidget* window, const std::string& name, bool captioned = true) {
        SCOPED_TRACE(name + " " + at);
        window->show();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return x.managed(window) && x.frame(window).height() > window->height(); },
            10000));
        settle(x);
        const QRect frame = x.frame(window);
        EXPECT_TRUE(screen.contains(frame))
            << frame.x() << "," << frame.y() << " " << frame.width() << "x" << frame.height()
            << " on " << screen.width() << "x" << screen.height();
        const int captions = expectCaptionsFit(window, name + " " + at);
        EXPECT_TRUE(!captioned || captions > 0);
    };

    expectFits(form.get(), "main window");
    // Its first activation went to the saved folder: back to the test's.
    ASSERT_TRUE(QTest::qWaitFor([] { return !FirstActivation; }, 10000));
    ASSERT_TRUE(form->DirectoryListBox1->setDirectory(base));
    for (const auto& [name, make] : dialogs()) {
        std::unique_ptr<QWidget> dialog = make();
        expectFits(dialog.get(), name);
    }
    // The viewer of a picture larger than the screen: sized to the screen, not to the picture.
    magick("-size 2000x1500 xc:'#2080ff' " + dir.file("large.bmp"));
    form->Refresh1Click();
    ASSERT_TRUE(QTest::qWaitFor([this] { return form->ListView1->count() == 2; }, 10000));
    const int large = form->ListView1->caption(0) == "large.bmp" ? 0 : 1;
    form->ListView1->setSelected(large, true);
    form->View1->trigger();
    expectFits(viewer.get(), "viewer", false);
}
