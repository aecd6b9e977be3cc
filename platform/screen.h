// The screen: its whole picture, and the program's windows put out of sight while it is taken.
#pragma once

#include <QImage>
#include <QList>
#include <QPointer>
#include <QWidget>

namespace pixmoor {

// The whole primary screen at its full size. Throws std::runtime_error when it cannot be taken.
QImage grabPrimaryScreen();

// Whether the screen's picture must come from the desktop portal: the program runs on Wayland's
// own platform, or on X11 inside a Wayland session (XWayland), whose root window does not show
// the Wayland windows.
bool screenThroughPortal();

// Minimises every visible top-level window of the program, and restores them as they were.
// Without a window manager a minimised window would stay on the screen, so they are hidden then.
class ProgramWindows {
public:
    // Also when some are minimised already: those the user has brought back meanwhile go again.
    void minimise();
    void restore();

private:
    struct Saved {
        QPointer<QWidget> window;
        Qt::WindowStates state;
    };
    QList<Saved> windows_;
    bool hidden_ = false;
};

} // namespace pixmoor
