// The hint filter. Qt sends a QStatusTipEvent to a widget whose statusTip is set when the mouse
// enters it (an empty one when it leaves) and to a menu when one of its items is highlighted;
// the event then travels up the parents. Catching it at the application keeps one handler for all
// windows, and consuming it keeps QMainWindow from showing it as a temporary status message.
#include "platform/hints.h"

#include <QCoreApplication>
#include <QStatusTipEvent>

namespace pixmoor {

HintFilter::HintFilter(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)) {
    if (QCoreApplication::instance()) QCoreApplication::instance()->installEventFilter(this);
}

HintFilter::~HintFilter() {
    if (QCoreApplication::instance()) QCoreApplication::instance()->removeEventFilter(this);
}

bool HintFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        if (handler_) handler_(static_cast<QStatusTipEvent*>(event)->tip());
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace pixmoor
