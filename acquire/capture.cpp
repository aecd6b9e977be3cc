// Screen capture: arming and taking.
#include "acquire/capture.h"

#include "platform/hot_keys.h"
#include "platform/message_box.h"

namespace pixmoor {

bool ScreenCapture::arm(QWidget* parent) {
    showInformation(QStringLiteral("Hit Alt+F4 to capture screen when ready"), parent);
    // Every arming puts the program out of sight, also when the user brought it back by hand
    // after an earlier one.
    windows_.minimise();
    hotKey_.AddHotKey(kF4, hmAlt);
    hotKey_.setActive(true);
    if (hotKey_.AnyRegistered()) return true;

    // Nothing armed: say so rather than leave the program out of sight waiting for nothing.
    hotKey_.setActive(false);
    windows_.restore();
    showInformation(hotKeysAvailable()
                        ? QStringLiteral("Alt+F4 is in use by another program (for example the "
                                         "window manager), so the screen cannot be captured "
                                         "with it.")
                        : QStringLiteral("The screen cannot be captured here: the system hot key "
                                         "needs an X11 display."),
                    parent);
    return false;
}

QImage ScreenCapture::take() {
    hotKey_.setActive(false);
    QImage screen;
    try {
        screen = grabPrimaryScreen();
    } catch (...) {
        windows_.restore();
        throw;
    }
    windows_.restore();
    return screen;
}

} // namespace pixmoor
