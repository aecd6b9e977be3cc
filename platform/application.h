// The application object: a QApplication whose event delivery catches any exception that no
// handler caught, shows its text in the standard error box and keeps the program running.
#pragma once

#include <QApplication>

namespace pixmoor {

class Application : public QApplication {
    Q_OBJECT
public:
    Application(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

// Shows the text of the exception being handled (call only inside a catch block) in the standard
// error box. Used by Application::notify and by code that must end an operation cleanly.
void reportCurrentException();

} // namespace pixmoor
