// Screen capture: arming (the program out of sight, Alt+F4 registered), taking the picture when
// the hot key fires, and where no hot key can be had, a countdown after which it is taken all the
// same. On Wayland the picture comes from the desktop portal.
#pragma once

#include "acquire/SysHot.h"
#include "platform/portal_screenshot.h"
#include "platform/portal_shortcut.h"
#include "platform/screen.h"

#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>

class QLabel;

namespace pixmoor {

// A small frameless window counting down the seconds to a capture, with a button (and Escape) to
// cancel it. It hides itself when the count is over, and says so only after a pause in which
// the windows it covered are drawn again, so it is never in the picture.
class CaptureCountdown : public QWidget {
    Q_OBJECT
public:
    explicit CaptureCountdown(int seconds);
    int remaining() const { return remaining_; }

signals:
    void elapsed();
    void cancelled();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void tick();
    void showRemaining();

    QLabel* label_;
    QTimer timer_;
    int remaining_;
    bool over_ = false;
};

class ScreenCapture : public QObject {
    Q_OBJECT
public:
    // The hot key's index of F4 in HotKeyKeyTable.
    static constexpr int kF4 = 78;
    // The seconds the countdown gives the user to set up the screen.
    static constexpr int kCountdownSeconds = 5;

    explicit ScreenCapture(TSysHotKey& hotKey, QObject* parent = nullptr);
    ~ScreenCapture() override;

    // Receives the picture, with the program's windows back.
    std::function<void(const QImage&)> OnPicture;

    // Tells the user to press Alt+F4, puts the program's windows out of sight, adds one more
    // Alt+F4 entry and activates the hot key; in a Wayland session whose portal offers global
    // shortcuts, asks the portal for Alt+F4 instead. When the system takes no entry (no X11
    // display, or another program holds Alt+F4) or the portal binds no shortcut, the windows
    // come back, the hot key is switched off, the user is told why and asked whether to capture
    // after a countdown instead. Returns whether a capture is on its way (armed, asked of the
    // portal, or counting down).
    bool arm(QWidget* parent);

    // The hot key fired: switches it off and takes the whole primary screen for OnPicture; the
    // windows come back. Throws std::runtime_error when the screen cannot be taken (the windows
    // come back too); a failure of the desktop portal is shown to the user.
    void take();

    // The countdown window while one runs, else null.
    CaptureCountdown* countdown() const { return countdown_; }

private:
    bool offerCountdown(const QString& why);
    void startCountdown();
    void capture();
    void portalPicture(const QString& file);
    void portalFailed(const QString& message);

    TSysHotKey& hotKey_;
    ProgramWindows windows_;
    PortalScreenshot portal_;
    PortalShortcut shortcut_;
    QPointer<CaptureCountdown> countdown_;
    QPointer<QWidget> parent_;
};

} // namespace pixmoor
