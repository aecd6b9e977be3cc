// Screen capture on the X11 display under stock openbox, whose key bindings hold Alt+F4: the
// program says so, offers the countdown, and the scan window receives the screen as it is
// without the program's windows and without the countdown window.
#include "acquire/capture.h"
#include "acquire/scan.h"
#include "app/Unit1.h"
#include "platform/globals.h"
#include "platform/hot_keys.h"
#include "platform/message_box.h"
#include "tests/imaging/imaging_test_util.h"
#include "tests/support/test_dirs.h"
#include "tests/support/window_manager.h"
#include "tests/support/xdotool.h"

#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QProcess>
#include <QTest>
#include <X11/keysym.h>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

using namespace pixmoor;
using namespace pixmoor::test;

namespace {

// Whether another X client may grab Alt+F4 on the root window (released at once).
bool altF4Free() {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    bool free = false;
    if (!xcb_connection_has_error(c)) {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(c);
        if (xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, XK_F4)) {
            xcb_generic_error_t* error = xcb_request_check(
                c, xcb_grab_key_checked(c, 1, root, XCB_MOD_MASK_1, codes[0], XCB_GRAB_MODE_ASYNC,
                                        XCB_GRAB_MODE_ASYNC));
            free = error == nullptr;
            std::free(error);
            if (free) xcb_ungrab_key(c, codes[0], root, XCB_MOD_MASK_1);
            std::free(codes);
        }
        xcb_key_symbols_free(symbols);
    }
    xcb_disconnect(c);
    return free;
}

CaptureCountdown* countdownWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* c = qobject_cast<CaptureCountdown*>(w)) return c;
    return nullptr;
}

} // namespace

TEST(CaptureFallbackX11, UnderOpenboxHoldingAltF4TheCountdownCapturesTheScreen) {
    if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "needs an X11 display";
    for (const char* tool : {"openbox", "display", "xdotool"})
        if (!haveProgram(tool)) GTEST_SKIP() << tool << " is missing";
    ASSERT_TRUE(altF4Free()) << "another client holds Alt+F4 before the test";
    TempDir dir;
    const QString oldCwd = QDir::currentPath();

    // Stock openbox: the private XDG_CONFIG_HOME has no rc.xml, so it reads the system's, whose
    // key bindings close the active window with Alt+F4.
    QProcess openbox;
    openbox.start("openbox", {"--sm-disable"});
    ASSERT_TRUE(openbox.waitForStarted(5000));
    const auto stopOpenbox = [&openbox] {
        openbox.terminate();
        if (!openbox.waitForFinished(5000)) openbox.kill();
        openbox.waitForFinished(5000);
    };
    struct Cleanup {
        std::function<void()> f;
        ~Cleanup() { f(); }
    } cleanup{stopOpenbox};
    ASSERT_TRUE(QTest::qWaitFor([] { return windowManagerRunning() && !altF4Free(); }, 20000))
        << "openbox did not take Alt+F4";

    // Another program's window on the screen.
    magick("-size 200x150 xc:'#30a050' " + dir.file("green.png"));
    QProcess display;
    display.start("display",
                  {"-geometry", "+40+50", QString::fromStdString(dir.file("green.png"))});
    ASSERT_TRUE(display.waitForStarted(5000));
    const QString viewer = xdotool({"search", "--sync", "--onlyvisible", "--name", "ImageMagick"});
    ASSERT_FALSE(viewer.isEmpty());

    std::vector<MessageRequest> messages;
    setMessageHandler([&](const MessageRequest& r) {
        messages.push_back(r);
        return r.kind == MessageKind::Confirmation ? MessageButton::Yes : MessageButton::Ok;
    });
    {
        auto form = std::make_unique<TForm1>();
        Form1 = form.get();
        auto scan = std::make_unique<TForm9>();
        Form9 = scan.get();
        form->show();
        XServerView x;
        ASSERT_TRUE(x.ok());
        ASSERT_TRUE(QTest::qWaitFor([&] { return x.managed(form.get()); }, 20000));

        form->ScreenCapture1->trigger();
        ASSERT_EQ(messages.size(), 3u);
        EXPECT_EQ(messages[1].text, "Alt+F4 is in use by another program (for example the "
                                    "window manager), so the screen cannot be captured with it.");
        EXPECT_EQ(messages[2].kind, MessageKind::Confirmation);
        EXPECT_FALSE(form->SysHotKey1->Active());

        CaptureCountdown* countdown = countdownWindow();
        ASSERT_NE(countdown, nullptr);
        EXPECT_TRUE(countdown->isVisible());
        EXPECT_TRUE(QTest::qWaitFor([&] { return x.minimised(form.get()); }, 20000));

        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return scan->isVisible() && scan->windowTitle() == "Screen Capture"; }, 30000));
        EXPECT_EQ(countdownWindow(), nullptr);
        const QImage picture =
            scan->PMultiImage1->Picture().bitmap().convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(picture.size(), QSize(1280, 1024));
        // The screen without the program's windows and the countdown: the other program's
        // window, framed by the window manager, on the bare root window.
        const QRect other = x.frame(viewer.toUInt());
        ASSERT_FALSE(other.isEmpty());
        const QRgb root = picture.pixel(1279, 1023);
        int elsewhere = 0;
        for (int py = 0; py < picture.height(); ++py)
            for (int px = 0; px < picture.width(); ++px)
                if (!other.contains(px, py) && picture.pixel(px, py) != root) ++elsewhere;
        EXPECT_EQ(elsewhere, 0) << "something of the program is in the picture";
        EXPECT_EQ(countColour(picture, qRgb(0x30, 0xa0, 0x50), 0, other), 200 * 150);

        // The program is back.
        EXPECT_TRUE(QTest::qWaitFor([&] { return !x.minimised(form.get()); }, 20000));
        Form9 = nullptr;
        Form1 = nullptr;
    }
    setMessageHandler({});
    display.kill();
    display.waitForFinished(5000);
    QDir::setCurrent(oldCwd);
}
