// Pixmoor's entry point: the application object, its title and help file, the windows created
// once in their fixed order, and the message loop.
#include "acquire/scan.h"
#include "app/Unit1.h"
#include "catalogue/Unit2.h"
#include "catalogue/image.h"
#include "files/copy.h"
#include "files/drive.h"
#include "files/prop.h"
#include "files/rename.h"
#include "help/about.h"
#include "operations/convert.h"
#include "operations/pic.h"
#include "operations/wmf.h"
#include "platform/application.h"
#include "platform/globals.h"
#include "platform/session_bus.h"

#include <QIcon>
#include <memory>
#include <vector>

namespace {

using WindowList = std::vector<std::unique_ptr<QWidget>>;

// Creates every window of the program, in order; the main window comes first, so the restored
// thumbnail size is known to the windows created after it.
WindowList createWindows() {
    WindowList windows;
    const auto create = [&windows](auto*& global, auto window) {
        global = window.get();
        windows.push_back(std::move(window));
    };
    create(Form1, std::make_unique<TForm1>());
    create(Form2, std::make_unique<TForm2>());
    create(Form3, std::make_unique<TForm3>());
    create(Form4, std::make_unique<TForm4>());
    create(Form5, std::make_unique<TForm5>());
    create(OKBottomDlg, std::make_unique<TOKBottomDlg>());
    create(AboutBox, std::make_unique<TAboutBox>());
    create(Form6, std::make_unique<TForm6>());
    create(Form7, std::make_unique<TForm7>());
    create(Form8, std::make_unique<TForm8>());
    create(Form9, std::make_unique<TForm9>());
    create(OKBottomDlg1, std::make_unique<TOKBottomDlg1>());
    return windows;
}

} // namespace

int main(int argc, char** argv) {
    // Without a session bus, nothing may start one that outlives the program.
    if (!pixmoor::preventSessionBusAutolaunch())
        qWarning("Pixmoor: DBUS_SESSION_BUS_ADDRESS could not be set; a bus may be started");
    pixmoor::Application app(argc, argv);
    // The application title. Only the name is set: a display name would make Qt append
    // " — Pixmoor" to every window's caption under X11, and the captions must read as given.
    QApplication::setApplicationName(QStringLiteral("Pixmoor"));
    HelpFile = QStringLiteral("pixmoor.hlp");

    WindowList windows = createWindows();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/pixmoor.svg")));
    // Closing the main window ends the program, whatever other window is still open.
    QObject::connect(Form1, &TForm1::closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    Form1->show();
    const int status = app.exec();

    // Later windows go first: they may refer to the main window.
    while (!windows.empty()) windows.pop_back();
    return status;
}
