// Main of the test executables that need a QApplication. Without a display (and without an
// explicit platform) the tests run offscreen, so ctest can list them anywhere. Like the program,
// a test without a session bus starts none (an X11 test would otherwise leave a dbus-daemon).
#include "platform/session_bus.h"
#include "tests/support/test_dirs.h"

#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    pixmoor::test::usePrivateXdgDirs();
    if (!pixmoor::preventSessionBusAutolaunch()) return 1;
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
