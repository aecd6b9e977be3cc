// The pointer entering and leaving a widget, as the window system reports it.
#pragma once

#include <QApplication>
#include <QEnterEvent>
#include <QWidget>

namespace pixmoor::test {

inline void enter(QWidget* w) {
    QEnterEvent e(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QApplication::sendEvent(w, &e);
}

inline void leave(QWidget* w) {
    QEvent e(QEvent::Leave);
    QApplication::sendEvent(w, &e);
}

} // namespace pixmoor::test
