// A real window manager on the test display, and what the X server says about the program's
// windows: their stacking, the active window, the minimised state and the frame.
#pragma once

#include "tests/support/test_dirs.h"

#include <QProcess>
#include <QRect>
#include <QString>
#include <cstdint>
#include <vector>

class QWidget;
struct xcb_connection_t;

namespace pixmoor::test {

// openbox with a private configuration: its default theme, and no key bindings (so Alt+F4 stays
// free for the program's hot key). Runs until destroyed; the display is then without a window
// manager again.
class WindowManager {
public:
    WindowManager();
    ~WindowManager();
    WindowManager(const WindowManager&) = delete;
    WindowManager& operator=(const WindowManager&) = delete;

    // Whether it runs and owns the display's window-manager selection.
    bool running() const { return running_; }
    static bool available();

private:
    TempDir config_;
    QProcess process_;
    bool running_ = false;
};

// A second X client that reads the window manager's properties.
class XServerView {
public:
    XServerView();
    ~XServerView();
    XServerView(const XServerView&) = delete;
    XServerView& operator=(const XServerView&) = delete;
    bool ok() const;

    // The managed windows, bottom first (_NET_CLIENT_LIST_STACKING).
    std::vector<std::uint32_t> stacking();
    // Whether the window manager manages the window (it is in the client list).
    bool managed(const QWidget* window);
    // Whether `upper` lies above `lower` in the stacking order (false when either is missing).
    bool above(const QWidget* upper, const QWidget* lower);
    // The active window (_NET_ACTIVE_WINDOW), 0 when none.
    std::uint32_t activeWindow();
    bool isActive(const QWidget* window);
    // Minimised as the server sees it: WM_STATE is IconicState and _NET_WM_STATE holds
    // _NET_WM_STATE_HIDDEN.
    bool minimised(const QWidget* window);
    // The window's frame on the screen: its client area widened by _NET_FRAME_EXTENTS, in the
    // server's pixels. The window may be another program's.
    QRect frame(const QWidget* window);
    QRect frame(std::uint32_t window);
    // Whether a window manager runs: some client owns the WM_S0 selection.
    bool windowManagerRunning();
    // Returns once the window manager has handled every request sent to the server before the
    // call: it answers a frame-extents request for a window of this client only in turn.
    bool sync();

private:
    std::uint32_t atom(const char* name);
    std::vector<std::uint32_t> cardinals(std::uint32_t window, const char* property,
                                         std::uint32_t type);

    xcb_connection_t* c_ = nullptr;
    std::uint32_t root_ = 0;
};

} // namespace pixmoor::test
