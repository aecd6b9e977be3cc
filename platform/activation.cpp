// The focus history of the program's windows.
#include "platform/activation.h"

#include <QGuiApplication>

namespace pixmoor {

FocusHistory::FocusHistory(QObject* parent) : QObject(parent) {
    current_ = QGuiApplication::focusWindow();
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* window) {
        if (window == current_) return;
        previous_ = current_;
        current_ = window;
    });
}

QWindow* FocusHistory::before(const QWindow* window) const {
    return current_ == window ? previous_.data() : current_.data();
}

bool FocusHistory::cameFromOwnWindow(const QWindow* window) const {
    const QWindow* from = before(window);
    // A window that was hidden or minimised meanwhile (the whole program put away) does not
    // count: the focus then comes back from outside.
    return from && window && from != window && from->isVisible() &&
           !(from->windowStates() & Qt::WindowMinimized) && from->modality() == Qt::NonModal &&
           from->type() != Qt::Popup && from->type() != Qt::ToolTip;
}

} // namespace pixmoor
