// Which window of the program had the keyboard focus before the one that has it now, so an
// activation can tell a move between the program's own windows from a return from elsewhere.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWindow>

namespace pixmoor {

class FocusHistory : public QObject {
    Q_OBJECT
public:
    explicit FocusHistory(QObject* parent = nullptr);

    // The window that had the focus before `window` got it; null when the focus came from
    // another program or from nowhere. Right whether or not the focus change was seen yet.
    QWindow* before(const QWindow* window) const;

    // Whether `window` was activated from another ordinary (not modal, not pop-up) window of
    // the program that is still on the screen.
    bool cameFromOwnWindow(const QWindow* window) const;

private:
    QPointer<QWindow> current_;
    QPointer<QWindow> previous_;
};

} // namespace pixmoor
