// Screen capture with a system hot key: arming (the program out of sight, Alt+F4 registered) and
// taking the picture when the hot key fires.
#pragma once

#include "acquire/SysHot.h"
#include "platform/screen.h"

#include <QImage>

class QWidget;

namespace pixmoor {

class ScreenCapture {
public:
    // The hot key's index of F4 in HotKeyKeyTable.
    static constexpr int kF4 = 78;

    explicit ScreenCapture(TSysHotKey& hotKey) : hotKey_(hotKey) {}

    // Tells the user to press Alt+F4, puts the program's windows out of sight, adds one more
    // Alt+F4 entry and activates the hot key. When the system takes no entry (no X11 display,
    // or another program holds Alt+F4), the windows come back, the hot key is switched off and
    // the user is told why. Returns whether the capture is armed.
    bool arm(QWidget* parent);

    // Switches the hot key off and returns the whole primary screen; the windows come back.
    // Throws std::runtime_error when the screen cannot be taken (the windows come back too).
    QImage take();

private:
    TSysHotKey& hotKey_;
    ProgramWindows windows_;
};

} // namespace pixmoor
