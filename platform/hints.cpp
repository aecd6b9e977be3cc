// The hint filter. Qt sends a QStatusTipEvent to a widget whose statusTip is set when the mouse
// enters it (an empty one when it leaves) and to a menu when one of its items is highlighted;
// the event then travels up the parents. Catching it at the application keeps one handler for all
// windows, and consuming it keeps QMainWindow from showing it as a temporary status message.
#include "platform/hints.h"

#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QStatusTipEvent>

namespace pixmoor {

HintFilter::HintFilter(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)) {
    if (QCoreApplication::instance()) QCoreApplication::instance()->installEventFilter(this);
}

HintFilter::~HintFilter() {
    if (QCoreApplication::instance()) QCoreApplication::instance()->removeEventFilter(this);
}

namespace {

// Opening a pop-up (a menu from the keyboard, say) takes the pointer, so the widget under it gets
// a Leave and sends an empty tip after the pop-up has highlighted its first item. That tip is
// stale: while a pop-up is open, only the pop-up and the menus that lead to it speak. Only a
// widget with a tip of its own sends one when the pointer leaves it; the empty tip of a menu
// item without a hint goes to the item's owner (the window, for a context menu), which has none,
// and is the item's real hint.
bool staleWhilePopupOpen(QObject* watched, const QString& tip) {
    const QWidget* popup = QApplication::activePopupWidget();
    if (!popup || !tip.isEmpty()) return false;
    const auto* widget = qobject_cast<const QWidget*>(watched);
    if (!widget || widget->statusTip().isEmpty()) return false;
    return widget->window() != popup && !qobject_cast<const QMenu*>(widget) &&
           !qobject_cast<const QMenuBar*>(widget);
}

} // namespace

bool HintFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
        if (handler_ && !staleWhilePopupOpen(watched, tip)) handler_(tip);
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace pixmoor
