// The application object and its last-resort error handler.
#include "platform/application.h"

#include "platform/message_box.h"

#include <exception>
#include <new>

namespace pixmoor {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        reportCurrentException();
    }
    return false;
}

void reportCurrentException() {
    QString text;
    try {
        throw;
    } catch (const std::bad_alloc&) {
        text = QStringLiteral("Out of memory.");
    } catch (const std::exception& e) {
        text = QString::fromUtf8(e.what());
    } catch (...) {
        text = QStringLiteral("An unexpected error occurred.");
    }
    if (text.isEmpty()) text = QStringLiteral("An unexpected error occurred.");
    try {
        showError(text);
    } catch (...) {
        // Nothing more can be done for an error raised while reporting an error.
    }
}

} // namespace pixmoor
