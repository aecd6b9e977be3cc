// The application's title and help file, and the windows created in their fixed order.
#include "app/program.h"

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
#include "platform/globals.h"

#include <QApplication>
#include <QIcon>
#include <functional>

namespace pixmoor {

void setUpApplication() {
    // Only the name is set: a display name would make Qt append " — Pixmoor" to every window's
    // caption under X11, and the captions must read as given.
    QApplication::setApplicationName(QStringLiteral("Pixmoor"));
    HelpFile = QStringLiteral("pixmoor.hlp");
}

namespace {

// Creates a window of type Window, makes global point at it and remembers how to clear it.
template <typename Window>
void create(std::vector<std::unique_ptr<QWidget>>& windows,
            std::vector<std::function<void()>>& clears, Window*& global) {
    auto window = std::make_unique<Window>();
    global = window.get();
    windows.push_back(std::move(window));
    clears.push_back([&global] { global = nullptr; });
}

} // namespace

ProgramForms::ProgramForms() {
    create(windows_, clearGlobals_, Form1);
    create(windows_, clearGlobals_, Form2);
    create(windows_, clearGlobals_, Form3);
    create(windows_, clearGlobals_, Form4);
    create(windows_, clearGlobals_, Form5);
    create(windows_, clearGlobals_, OKBottomDlg);
    create(windows_, clearGlobals_, AboutBox);
    create(windows_, clearGlobals_, Form6);
    create(windows_, clearGlobals_, Form7);
    create(windows_, clearGlobals_, Form8);
    create(windows_, clearGlobals_, Form9);
    create(windows_, clearGlobals_, OKBottomDlg1);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/pixmoor.svg")));
}

ProgramForms::~ProgramForms() {
    // Later windows go first: they may refer to the main window.
    while (!windows_.empty()) {
        windows_.pop_back();
        clearGlobals_.back()();
        clearGlobals_.pop_back();
    }
}

} // namespace pixmoor
