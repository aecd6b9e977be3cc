// Screen capture with the Alt+F4 hot key on the real main window, on the Xvfb display without a
// window manager: the grab on the root window (seen from a second X client), the picture against
// ImageMagick's grab of the root window, Num Lock, arming twice, the switch-off on activation from
// the scan window, and a combination another client holds; under a window manager, arming again
// after the program was restored by hand.
#include "acquire/SysHot.h"
#include "acquire/scan.h"
#include "app/Unit1.h"
#include "platform/globals.h"
#include "platform/hot_keys.h"
#include "platform/message_box.h"
#include "tests/imaging/imaging_test_util.h"
#include "tests/support/image_compare.h"
#include "tests/support/poll.h"
#include "tests/support/program_fixture.h"
#include "tests/support/window_manager.h"

#include <QAbstractNativeEventFilter>
#include <QDir>
#include <QGuiApplication>
#include <QProcess>
#include <QTest>
#include <X11/keysym.h>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

using namespace pixmoor;
using namespace pixmoor::test;

namespace {

// Another X client, as another program (or a window manager) would grab keys.
class PeerClient {
public:
    PeerClient() : c_(xcb_connect(nullptr, nullptr)) {
        if (xcb_connection_has_error(c_)) return;
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
        xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(c_);
        if (xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, XK_F4)) {
            f4_ = codes[0];
            std::free(codes);
        }
        xcb_key_symbols_free(symbols);
    }
    ~PeerClient() { xcb_disconnect(c_); }
    bool ok() const { return !xcb_connection_has_error(c_) && f4_ != 0; }

    // Grabs Alt+F4; false when the server refuses (another client holds it).
    bool grabAltF4(std::uint16_t locks = 0) {
        xcb_generic_error_t* error =
            xcb_request_check(c_, xcb_grab_key_checked(c_, 1, root_, XCB_MOD_MASK_1 | locks, f4_,
                                                       XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        if (!error) return true;
        EXPECT_EQ(error->error_code, 10); // BadAccess
        std::free(error);
        return false;
    }
    void ungrabAltF4(std::uint16_t locks = 0) {
        xcb_ungrab_key(c_, f4_, root_, XCB_MOD_MASK_1 | locks);
        xcb_flush(c_);
    }
    // Whether Alt+F4 is free: grabbed and released again at once.
    bool altF4Free() {
        if (!grabAltF4()) return false;
        ungrabAltF4();
        return true;
    }
    // Waits until the server has handled every request of this client.
    void sync() { std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr)); }

private:
    xcb_connection_t* c_;
    xcb_window_t root_ = 0;
    xcb_keycode_t f4_ = 0;
};

// Sees the message that ends a round trip to the X server.
class RoundTripEnd : public QAbstractNativeEventFilter {
public:
    RoundTripEnd(xcb_atom_t type, std::uint32_t serial) : type_(type), serial_(serial) {}
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
        if (eventType != "xcb_generic_event_t") return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE) return false;
        const auto* m = static_cast<const xcb_client_message_event_t*>(message);
        if (m->type != type_ || m->data.data32[0] != serial_) return false;
        seen = true;
        return true;
    }
    bool seen = false;

private:
    xcb_atom_t type_;
    std::uint32_t serial_;
};

// Waits until the X server has handled every request this process made and this process has
// handled every event the server had for it: a message this process sends to its own window
// reaches it behind all of them.
void roundTrip(const QWidget* window) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    ASSERT_NE(x11, nullptr);
    xcb_connection_t* c = x11->connection();
    const char name[] = "PIXMOOR_TEST_ROUND_TRIP";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof name - 1, name), nullptr);
    ASSERT_NE(atom, nullptr);
    static std::uint32_t serial = 0;
    RoundTripEnd end(atom->atom, ++serial);
    xcb_client_message_event_t m{};
    m.response_type = XCB_CLIENT_MESSAGE;
    m.format = 32;
    m.window = xcb_window_t(window->winId());
    m.type = atom->atom;
    m.data.data32[0] = serial;
    std::free(atom);
    qGuiApp->installNativeEventFilter(&end);
    xcb_send_event(c, 0, m.window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&m));
    xcb_flush(c);
    EXPECT_TRUE(QTest::qWaitFor([&end] { return end.seen; }, 10000));
    qGuiApp->removeNativeEventFilter(&end);
}

class ScreenCaptureX11 : public ProgramTest {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "needs an X11 display";
        if (!haveProgram("xdotool") || !haveProgram("import"))
            GTEST_SKIP() << "xdotool or ImageMagick is missing";
        ProgramTest::SetUp();
        createWindows();
        form->show();
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
        ASSERT_TRUE(peer.ok());
        const THotKeyEvent handler = form->SysHotKey1->OnHotKey;
        form->SysHotKey1->OnHotKey = [this, handler](QObject* sender, int index) {
            ++fired;
            handler(sender, index);
        };
    }

    static void xdotool(const std::string& keys) {
        ASSERT_EQ(run("xdotool key " + keys), 0) << keys;
    }

    bool waitForCapture() {
        return QTest::qWaitFor(
            [this] { return scan->isVisible() && scan->windowTitle() == "Screen Capture"; }, 5000);
    }

    // Screen Capture while another client holds Alt+F4: the reminder, then the refusal, and
    // nothing armed.
    void expectCaptureRefused() {
        form->ScreenCapture1->trigger();
        ASSERT_EQ(messages.size(), 3u); // the countdown offered last, and declined
        EXPECT_EQ(messages[1].text, "Alt+F4 is in use by another program (for example the "
                                    "window manager), so the screen cannot be captured with it.");
        EXPECT_FALSE(form->SysHotKey1->Active());
        EXPECT_FALSE(form->SysHotKey1->AnyRegistered());
    }

    // Lets every key press and grab made so far take effect (for one that should do nothing).
    void settle() {
        peer.sync();
        roundTrip(form);
    }

    PeerClient peer;
    WindowOf<TForm9> scan{Form9};
    int fired = 0;
    TempDir dir;

private:
    TempDir config_;
    QString oldCwd_;
    QByteArray oldConfig_;
};

} // namespace

TEST_F(ScreenCaptureX11, AltF4CapturesTheScreenWithoutTheProgramsWindows) {
    // Another program's window on the screen.
    magick("-size 200x150 xc:'#30a050' " + dir.file("green.png"));
    QProcess display;
    display.start("display",
                  {"-geometry", "+40+50", QString::fromStdString(dir.file("green.png"))});
    ASSERT_TRUE(display.waitForStarted(5000));
    // xdotool's search can fail at once on a window that is still being mapped: asked again
    // until the window is there.
    ASSERT_TRUE(pollUntil(
        [] { return run("xdotool search --onlyvisible --name ImageMagick > /dev/null 2>&1") == 0; },
        std::chrono::seconds(20)));

    ASSERT_TRUE(peer.altF4Free());
    form->ScreenCapture1->trigger();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages[0].text, "Hit Alt+F4 to capture screen when ready");
    EXPECT_EQ(messages[0].kind, MessageKind::Information);
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_TRUE(form->SysHotKey1->Active());
    EXPECT_FALSE(peer.altF4Free());  // the grab is on the root window
    EXPECT_FALSE(form->isVisible()); // no window manager: hidden rather than minimised
    settle();

    const std::string peerGrab = dir.file("peer.png");
    ASSERT_EQ(run("import -window root " + peerGrab), 0);
    xdotool("alt+F4");
    ASSERT_TRUE(waitForCapture());
    EXPECT_EQ(fired, 1);
    const QImage picture =
        scan->PMultiImage1->Picture().bitmap().convertToFormat(QImage::Format_RGB32);
    const QImage expected =
        QImage(QString::fromStdString(peerGrab)).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(picture.size(), QSize(1280, 1024));
    ASSERT_EQ(expected.size(), picture.size());
    EXPECT_EQ(pixmoor::test::differingPixels(picture, expected, "peer's"), 0);
    EXPECT_EQ(picture.pixelColor(100, 100), QColor(0x30, 0xa0, 0x50));

    // The program is back, and Alt+F4 is free again.
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->SysHotKey1->Active());
    EXPECT_TRUE(peer.altF4Free());
    display.kill();
    display.waitForFinished(5000);
}

TEST_F(ScreenCaptureX11, NumLockArmingTwiceAndTheSwitchOffOnActivation) {
    // Armed twice: two entries, one registration, one capture per press, also with Num Lock on.
    form->ScreenCapture1->trigger();
    form->ScreenCapture1->trigger();
    EXPECT_EQ(form->SysHotKey1->HotKeyCount(), 2);
    EXPECT_TRUE(form->SysHotKey1->HotKey(0).Registered);
    EXPECT_FALSE(form->SysHotKey1->HotKey(1).Registered);
    xdotool("Num_Lock");
    xdotool("alt+F4");
    ASSERT_TRUE(waitForCapture());
    xdotool("Num_Lock");
    settle();
    EXPECT_EQ(fired, 1);
    xdotool("alt+F4"); // not armed now
    settle();
    EXPECT_EQ(fired, 1);

    // Armed, then the program restored by hand: still armed. Focus from the scan window to the
    // main window: switched off.
    form->ScreenCapture1->trigger();
    ASSERT_TRUE(form->SysHotKey1->Active());
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    EXPECT_TRUE(form->SysHotKey1->Active());
    scan->show();
    scan->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(scan.get()));
    EXPECT_TRUE(form->SysHotKey1->Active());
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    EXPECT_FALSE(form->SysHotKey1->Active());
    EXPECT_TRUE(peer.altF4Free());
}

TEST_F(ScreenCaptureX11, ACombinationAnotherClientHoldsIsReported) {
    ASSERT_TRUE(peer.grabAltF4());
    expectCaptureRefused();
    EXPECT_TRUE(form->isVisible());
    peer.ungrabAltF4();
    settle();
    EXPECT_EQ(fired, 0);
}

TEST_F(ScreenCaptureX11, UnderAWindowManagerHoldingAltF4TheProgramComesBackUnarmed) {
    if (!haveProgram("openbox")) GTEST_SKIP() << "openbox is missing";
    // openbox's default key bindings hold Alt+F4 (for closing the active window).
    QProcess openbox;
    openbox.start("openbox", {"--sm-disable"});
    ASSERT_TRUE(openbox.waitForStarted(5000));
    const bool running = QTest::qWaitFor([] { return windowManagerRunning(); }, 10000);
    if (running) {
        // It binds its keys before it takes the windows already shown under its management.
        XServerView x;
        ASSERT_TRUE(QTest::qWaitFor([&] { return x.managed(form); }, 10000));
        expectCaptureRefused();
        EXPECT_TRUE(
            QTest::qWaitFor([this] { return form->isVisible() && !form->isMinimized(); }, 5000));
    }
    openbox.terminate();
    if (!openbox.waitForFinished(5000)) openbox.kill();
    openbox.waitForFinished(5000);
    ASSERT_TRUE(running) << "openbox did not take over the display";
    ASSERT_TRUE(QTest::qWaitFor([] { return !windowManagerRunning(); }, 5000));
}

TEST_F(ScreenCaptureX11, ArmingAgainAfterRestoringByHandMinimisesTheProgramAgain) {
    if (!WindowManager::available()) GTEST_SKIP() << "needs openbox";
    WindowManager wm; // configured without key bindings: Alt+F4 stays free
    ASSERT_TRUE(wm.running());
    XServerView x;
    ASSERT_TRUE(x.ok());
    ASSERT_TRUE(QTest::qWaitFor([&] { return x.managed(form.get()); }, 10000));
    ASSERT_TRUE(peer.altF4Free());
    const std::string window = std::to_string(form->winId());

    form->ScreenCapture1->trigger();
    ASSERT_TRUE(form->SysHotKey1->Active());
    ASSERT_TRUE(QTest::qWaitFor([&] { return x.minimised(form.get()); }, 10000));

    // Restored by hand, as a task bar does it: the capture stays armed.
    ASSERT_EQ(run("xdotool windowactivate --sync " + window), 0);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !x.minimised(form.get()) && form->isVisible() && !form->isMinimized(); },
        10000));
    EXPECT_TRUE(form->SysHotKey1->Active());

    // Armed again: out of sight again, and the capture taken as after one arming.
    form->ScreenCapture1->trigger();
    EXPECT_TRUE(form->SysHotKey1->Active());
    EXPECT_TRUE(QTest::qWaitFor([&] { return x.minimised(form.get()); }, 10000))
        << "the second arming left the program on the screen";
    xdotool("alt+F4");
    ASSERT_TRUE(waitForCapture());
    EXPECT_EQ(fired, 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !x.minimised(form.get()); }, 10000));
    EXPECT_FALSE(form->SysHotKey1->Active());
    EXPECT_TRUE(peer.altF4Free());
}
