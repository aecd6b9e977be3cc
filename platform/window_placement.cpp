// Window sizes and places fitted to the screen's available area.
#include "platform/window_placement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionTitleBar>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <algorithm>

namespace pixmoor {

namespace {

// A frame rectangle moved inside the area as little as needed (its top-left corner wins when it
// is larger, so the title bar stays in reach).
QRect movedInto(QRect frame, const QRect& area) {
    if (frame.right() > area.right()) frame.moveRight(area.right());
    if (frame.bottom() > area.bottom()) frame.moveBottom(area.bottom());
    if (frame.left() < area.left()) frame.moveLeft(area.left());
    if (frame.top() < area.top()) frame.moveTop(area.top());
    return frame;
}

QRect clientOf(const QRect& frame, const QMargins& margins) {
    return frame.marginsRemoved(margins);
}

// The frame of a client of `size`, shrunk to fit the area.
QSize fittedFrameSize(const QSize& size, const QMargins& frame, const QRect& area) {
    const QSize whole = size.grownBy(frame);
    return {std::min(whole.width(), area.width()), std::min(whole.height(), area.height())};
}

bool framed(const QWidget* window) {
    return window->isVisible() && window->windowHandle() &&
           window->frameGeometry() != window->geometry();
}

class KeepOnScreen : public QObject {
public:
    explicit KeepOnScreen(QWidget* window) : QObject(window), window_(window) {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // The frame is known once the window manager has reparented the window, which sends no
        // event of its own; its first paint or activation comes after that.
        const QEvent::Type type = event->type();
        if (watched == window_ &&
            (type == QEvent::Move || type == QEvent::Resize || type == QEvent::Paint ||
             type == QEvent::WindowActivate) &&
            framed(window_)) {
            window_->removeEventFilter(this);
            deleteLater();
            // After the event: not in the middle of a paint.
            QTimer::singleShot(0, window_, [window = window_] { fit(window); });
        }
        return false;
    }

    static void fit(QWidget* window) {
        // A maximised or full-screen window is the window manager's to place.
        if ((window->windowState() & ~Qt::WindowActive) != Qt::WindowNoState) return;
        const QRect area = availableArea(window);
        if (!area.contains(window->frameGeometry()))
            window->setGeometry(fitClientRect(window->geometry(), frameMargins(window), area));
    }

private:
    QWidget* window_;
};

} // namespace

QRect fitClientRect(const QRect& client, const QMargins& frame, const QRect& area) {
    QRect whole = client.marginsAdded(frame);
    whole.setSize(fittedFrameSize(client.size(), frame, area));
    return clientOf(movedInto(whole, area), frame);
}

QMargins frameMargins(const QWidget* window) {
    if (window->isVisible() && window->windowHandle()) {
        const QRect f = window->frameGeometry();
        const QRect g = window->geometry();
        if (f != g)
            return {g.left() - f.left(), g.top() - f.top(), f.right() - g.right(),
                    f.bottom() - g.bottom()};
    }
    // Before the window manager has framed it: a title bar and borders as the style draws them.
    const QStyle* style = window->style();
    QStyleOptionTitleBar option;
    option.initFrom(window);
    option.titleBarFlags = Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint;
    const int title = style->pixelMetric(QStyle::PM_TitleBarHeight, &option, window);
    const int border = style->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, window);
    return {border, title + border, border, border};
}

QRect availableArea(const QWidget* window) {
    const QScreen* screen = window ? window->screen() : nullptr;
    if (!screen) screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

void placeCentred(QWidget* window, const QSize& size) {
    const QRect area = availableArea(window);
    if (area.isEmpty()) {
        window->resize(size);
        return;
    }
    // The client area is centred (the frame's size is a guess until it is mapped), and the
    // frame is moved in where it would leave the area.
    const QMargins frame = frameMargins(window);
    QRect client(QPoint(), fittedFrameSize(size, frame, area).shrunkBy(frame));
    client.moveCenter(area.center());
    window->setGeometry(fitClientRect(client, frame, area));
}

void placeBeside(QWidget* window, const QSize& size, const QWidget* anchor) {
    if (!anchor || !anchor->isVisible() || anchor->isMinimized()) {
        placeCentred(window, size);
        return;
    }
    const QRect area = availableArea(anchor);
    const QMargins frame = frameMargins(window);
    const QRect beside = anchor->frameGeometry();
    QRect whole(QPoint(), fittedFrameSize(size, frame, area));
    // To the right of the anchor, else to its left, else over it, its top level with the
    // anchor's; moved in where it would leave the screen.
    whole.moveTopLeft(QPoint(beside.right() + 1, beside.top()));
    if (whole.right() > area.right()) {
        whole.moveRight(beside.left() - 1);
        if (whole.left() < area.left()) whole.moveCenter(beside.center());
    }
    window->setGeometry(clientOf(movedInto(whole, area), frame));
}

void keepOnScreenWhenFramed(QWidget* window) {
    new KeepOnScreen(window);
}

} // namespace pixmoor
