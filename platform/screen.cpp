// The screen's picture through Qt, and minimising and restoring the program's windows.
#include "platform/screen.h"

#include "platform/hot_keys.h"

#include <QApplication>
#include <QPixmap>
#include <QScreen>
#include <algorithm>
#include <stdexcept>

namespace pixmoor {

QImage grabPrimaryScreen() {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) throw std::runtime_error("There is no screen to capture.");
    const QImage image = screen->grabWindow(0).toImage();
    if (image.isNull()) throw std::runtime_error("The screen could not be captured.");
    return image;
}

bool screenThroughPortal() {
    const QString platform = QGuiApplication::platformName();
    if (platform.startsWith(QLatin1String("wayland"))) return true;
    return platform == QLatin1String("xcb") && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

void ProgramWindows::minimise() {
    hidden_ = !windowManagerRunning();
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (!w->isVisible() || w->isMinimized() || w->windowType() == Qt::Desktop) continue;
        // A window put away before and brought back by the user since goes again; it comes back
        // as the user left it.
        const auto saved = std::find_if(windows_.begin(), windows_.end(),
                                        [w](const Saved& s) { return s.window == w; });
        if (saved != windows_.end())
            saved->state = w->windowState();
        else
            windows_.append({w, w->windowState()});
        if (hidden_)
            w->hide();
        else
            w->showMinimized();
    }
}

void ProgramWindows::restore() {
    for (const Saved& s : windows_) {
        if (!s.window) continue;
        s.window->setWindowState(s.state & ~Qt::WindowMinimized);
        s.window->show();
    }
    windows_.clear();
    hidden_ = false;
}

} // namespace pixmoor
