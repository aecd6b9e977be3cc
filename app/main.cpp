// Pixmoor's entry point: the application object, the program's windows and the message loop.
#include "app/Unit1.h"
#include "app/program.h"
#include "platform/application.h"
#include "platform/session_bus.h"

int main(int argc, char** argv) {
    // Without a session bus, nothing may start one that outlives the program.
    if (!pixmoor::preventSessionBusAutolaunch())
        qWarning("Pixmoor: DBUS_SESSION_BUS_ADDRESS could not be set; a bus may be started");
    pixmoor::Application app(argc, argv);
    pixmoor::setUpApplication();
    pixmoor::ProgramForms windows;
    // Closing the main window ends the program, whatever other window is still open.
    QObject::connect(Form1, &TForm1::closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    Form1->show();
    return app.exec();
}
