// The hot-key components without a display server (offscreen): the key table and modifier flags,
// the hidden window's dispatch, entries that stay unregistered, and arming a capture where no
// hot key can be registered, where the countdown is offered instead.
#include "acquire/SysHot.h"
#include "acquire/WComp.h"
#include "acquire/capture.h"
#include "platform/hot_keys.h"
#include "platform/message_box.h"

#include <QCoreApplication>
#include <QTest>
#include <QWidget>
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace pixmoor;

namespace {

// A component with a handler for one message of its own.
class Probe : public TWindowedComponent {
public:
    static constexpr unsigned kPing = 0x0400;
    Probe() {
        declareHandler(kPing, [this](TMessage& m) {
            ++pings;
            m.Result = 42;
        });
        declareHandler(WM_DESTROY, [this](TMessage&) { ++destroys; });
    }
    ~Probe() override { DestroyHandle(); }
    int pings = 0;
    int destroys = 0;
    int others = 0;

protected:
    void DefaultHandler(TMessage& m) override {
        ++others;
        TWindowedComponent::DefaultHandler(m);
    }
};

} // namespace

TEST(HotKeyTable, KeysAndModifierFlags) {
    EXPECT_EQ(ModifierFlags(hmShift | hmCtrl | hmAlt | hmWin), 15u);
    EXPECT_EQ(ModifierFlags(hmShift), 4u);
    EXPECT_EQ(ModifierFlags(hmAlt), 1u);
    EXPECT_EQ(ModifierFlags(hmCtrl), 2u);
    EXPECT_EQ(ModifierFlags(hmWin), 8u);
    EXPECT_EQ(HotKeyKeyTable.size(), 101u);
    EXPECT_EQ(HotKeyKeyTable[0], 0x03);   // Cancel
    EXPECT_EQ(HotKeyKeyTable[17], 0x29);  // Select
    EXPECT_EQ(HotKeyKeyTable[18], 0x2B);  // Execute, not Print (2A)
    EXPECT_EQ(HotKeyKeyTable[22], 0x2F);  // Help
    EXPECT_EQ(HotKeyKeyTable[23], 0x30);  // "0"
    EXPECT_EQ(HotKeyKeyTable[58], 0x5A);  // "Z"
    EXPECT_EQ(HotKeyKeyTable[74], 0x6F);  // keypad Divide
    EXPECT_EQ(HotKeyKeyTable[78], 0x73);  // F4
    EXPECT_EQ(HotKeyKeyTable[98], 0x87);  // F24
    EXPECT_EQ(HotKeyKeyTable[100], 0x91); // Scroll Lock
    // Every key of the table stands for an X key symbol.
    for (const std::uint8_t vk : HotKeyKeyTable) EXPECT_NE(keySymOfVirtualKey(vk), 0u) << int(vk);
    EXPECT_EQ(keySymOfVirtualKey(0x73), std::uint32_t(XK_F4));
    EXPECT_EQ(keySymOfVirtualKey(0x41), std::uint32_t(XK_a));
    EXPECT_EQ(keySymOfVirtualKey(0x2B), std::uint32_t(XK_Execute));
    EXPECT_EQ(keySymOfVirtualKey(0x07), 0u);
}

TEST(WindowedComponent, HiddenWindowDispatchesByMessage) {
    WindowHandle handle = 0;
    int destroys = 0;
    {
        Probe probe;
        EXPECT_FALSE(probe.HandleAllocated());
        handle = probe.Handle();
        EXPECT_NE(handle, 0u);
        EXPECT_TRUE(probe.HandleAllocated());
        EXPECT_EQ(probe.Handle(), handle);
        EXPECT_EQ(sendMessage(handle, Probe::kPing), 42);
        EXPECT_EQ(sendMessage(handle, 0x0401), 0); // no handler: passed on
        EXPECT_EQ(probe.others, 1);
        postMessage(handle, Probe::kPing);
        EXPECT_EQ(probe.pings, 1); // posted: not yet
        QCoreApplication::processEvents();
        EXPECT_EQ(probe.pings, 2);
        postMessage(handle, Probe::kPing); // arrives after the window went: dropped
        destroys = probe.destroys;
        EXPECT_EQ(destroys, 0);
    }
    EXPECT_FALSE(isWindow(handle));
    QCoreApplication::processEvents();
}

TEST(SysHotKey, EntriesWithoutADisplayStayUnregistered) {
    if (hotKeysAvailable()) GTEST_SKIP() << "runs where no X11 display is";
    TSysHotKey hotKey;
    int fired = 0;
    hotKey.OnHotKey = [&](QObject* sender, int index) {
        EXPECT_EQ(sender, &hotKey);
        fired += index + 1;
    };
    hotKey.AddHotKey(78, hmAlt);
    EXPECT_EQ(hotKey.HotKeyCount(), 1);
    EXPECT_EQ(hotKey.HotKey(0).Key, 78);
    EXPECT_EQ(hotKey.HotKey(0).Modifiers, hmAlt);
    hotKey.setActive(true);
    EXPECT_TRUE(hotKey.Active());
    EXPECT_FALSE(hotKey.HotKey(0).Registered);
    EXPECT_FALSE(hotKey.AnyRegistered());
    EXPECT_THROW(hotKey.AddHotKey(101, hmAlt), std::out_of_range);
    EXPECT_THROW(hotKey.AddHotKey(-1, hmAlt), std::out_of_range);
    EXPECT_THROW(hotKey.AddHotKey(3, 16), std::out_of_range);
    // The hot-key message reaches OnHotKey with the low 16 bits of its first parameter.
    sendMessage(hotKey.Handle(), WM_HOTKEY, 0x10002);
    EXPECT_EQ(fired, 3);
    hotKey.ClearHotKeys();
    EXPECT_EQ(hotKey.HotKeyCount(), 0);
    EXPECT_TRUE(hotKey.Active());
    // The destroy message switches it off.
    sendMessage(hotKey.Handle(), WM_DESTROY);
    EXPECT_FALSE(hotKey.Active());
}

TEST(ScreenCaptureArming, WithoutX11TheUserIsToldAndOfferedTheCountdown) {
    if (hotKeysAvailable()) GTEST_SKIP() << "runs where no X11 display is";
    // Declined, and taken then cancelled: either way no picture, and the window back.
    for (const MessageButton answer : {MessageButton::No, MessageButton::Yes}) {
        std::vector<MessageRequest> messages;
        setMessageHandler([&](const MessageRequest& r) {
            messages.push_back(r);
            return r.kind == MessageKind::Confirmation ? answer : MessageButton::Ok;
        });
        QWidget window;
        window.show();
        TSysHotKey hotKey;
        ScreenCapture capture(hotKey);
        int pictures = 0;
        capture.OnPicture = [&](const QImage&) { ++pictures; };
        EXPECT_EQ(capture.arm(&window), answer == MessageButton::Yes);
        setMessageHandler({});
        ASSERT_EQ(messages.size(), 3u);
        EXPECT_EQ(messages[0].text, "Hit Alt+F4 to capture screen when ready");
        EXPECT_EQ(messages[0].kind, MessageKind::Information);
        EXPECT_EQ(messages[1].text, "Alt+F4 cannot be had as a hot key here: the desktop offers "
                                    "no global shortcut for it.");
        EXPECT_EQ(messages[2].text, "Capture the screen after a countdown of 5 seconds instead?");
        EXPECT_EQ(messages[2].kind, MessageKind::Confirmation);
        EXPECT_FALSE(hotKey.Active());
        EXPECT_EQ(hotKey.HotKeyCount(), 1);
        if (answer == MessageButton::Yes) {
            ASSERT_NE(capture.countdown(), nullptr);
            EXPECT_TRUE(capture.countdown()->isVisible());
            EXPECT_FALSE(window.isVisible()); // out of the way while it counts
            QTest::keyClick(capture.countdown(), Qt::Key_Escape);
            EXPECT_TRUE(QTest::qWaitFor([&] { return capture.countdown() == nullptr; }));
        }
        EXPECT_EQ(capture.countdown(), nullptr);
        EXPECT_EQ(pictures, 0);
        EXPECT_TRUE(window.isVisible());
        EXPECT_FALSE(window.isMinimized());
    }
}
