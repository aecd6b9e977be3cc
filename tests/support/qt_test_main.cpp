// Main of the test executables that need a QApplication. Without a display (and without an
// explicit platform) the tests run offscreen, so ctest can list them anywhere. Like the program,
// a test without a session bus starts none (an X11 test would otherwise leave a dbus-daemon).
// With PIXMOOR_TEST_WAYLAND set, the tests run on Wayland's own platform in a headless sway
// session started before the application object, or are all skipped where it cannot run.
// --scale-factor=F runs them at Qt's scale factor F (QT_SCALE_FACTOR).
#include "platform/session_bus.h"
#include "tests/support/test_dirs.h"
#include "tests/support/wayland_session.h"

#include <QApplication>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>

namespace {

const pixmoor::test::WaylandSession* session = nullptr;

// Skips every test of the run, saying why.
class Skipped : public testing::Environment {
public:
    explicit Skipped(std::string reason) : reason_(std::move(reason)) {}
    void SetUp() override { GTEST_SKIP() << reason_; }

private:
    std::string reason_;
};

} // namespace

namespace pixmoor::test {

const WaylandSession* waylandSession() {
    return session;
}

} // namespace pixmoor::test

int main(int argc, char** argv) {
    bool listing = false;
    for (int i = 1; i < argc; ++i) {
        listing = listing || std::strstr(argv[i], "list_tests");
        if (std::strncmp(argv[i], "--scale-factor=", 15) == 0)
            ::setenv("QT_SCALE_FACTOR", argv[i] + 15, 1);
    }
    std::unique_ptr<pixmoor::test::TempDir> waylandDir;
    std::unique_ptr<pixmoor::test::WaylandSession> wayland;
    std::string skip;
    if (std::getenv("PIXMOOR_TEST_WAYLAND") && !listing) {
        waylandDir = std::make_unique<pixmoor::test::TempDir>();
        wayland = std::make_unique<pixmoor::test::WaylandSession>(
            waylandDir->path().string(), pixmoor::test::WaylandSession::Options{});
        skip = wayland->skipReason();
        if (skip.empty()) {
            // Only the compositor's socket is shared: the tests' XDG folders stay private.
            ::setenv("WAYLAND_DISPLAY", qPrintable(wayland->environment().value("WAYLAND_DISPLAY")),
                     1);
            ::setenv("XDG_SESSION_TYPE", "wayland", 1);
            ::setenv("QT_QPA_PLATFORM", "wayland", 1);
            ::unsetenv("DISPLAY");
            session = wayland.get();
        } else {
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        }
    }
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    pixmoor::test::usePrivateXdgDirs();
    if (!pixmoor::preventSessionBusAutolaunch()) return 1;
    int status = 0;
    {
        QApplication app(argc, argv);
        testing::InitGoogleTest(&argc, argv);
        if (!skip.empty()) testing::AddGlobalTestEnvironment(new Skipped(skip));
        status = RUN_ALL_TESTS();
    }
    session = nullptr;
    return status;
}
