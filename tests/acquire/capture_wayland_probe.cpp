// The program's main window and scan window on whatever platform Qt picks for the session
// (Wayland's own when it is one): Capture, answering the countdown's question with Yes, and the
// scan window's picture written to the file named by the first argument. Every message shown is
// printed as "kind: text"; the platform's name first. Exit 0 once the picture is written.
#include "acquire/scan.h"
#include "app/Unit1.h"
#include "platform/message_box.h"
#include "platform/session_bus.h"
#include "tests/support/test_dirs.h"

#include <QApplication>
#include <QTest>
#include <cstdio>

using namespace pixmoor;

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    pixmoor::test::usePrivateXdgDirs();
    if (!preventSessionBusAutolaunch()) return 2;
    QApplication app(argc, argv);
    std::printf("platform: %s\n", qPrintable(QGuiApplication::platformName()));
    setMessageHandler([](const MessageRequest& r) {
        std::printf("%s: %s\n", qPrintable(messageTitle(r.kind)), qPrintable(r.text));
        std::fflush(stdout);
        return r.kind == MessageKind::Confirmation ? MessageButton::Yes : MessageButton::Ok;
    });
    int status = 1;
    {
        TForm1 form;
        Form1 = &form;
        TForm9 scan;
        Form9 = &scan;
        form.show();
        if (QTest::qWaitForWindowExposed(&form, 30000)) {
            form.ScreenCapture1->trigger();
            if (QTest::qWaitFor(
                    [&] { return scan.isVisible() && scan.windowTitle() == "Screen Capture"; },
                    60000))
                status = scan.PMultiImage1->Picture().bitmap().save(QString::fromLocal8Bit(argv[1]),
                                                                    "PNG")
                             ? 0
                             : 4;
            else
                std::printf("no capture: the scan window is %s, titled \"%s\"\n",
                            scan.isVisible() ? "visible" : "hidden",
                            qPrintable(scan.windowTitle()));
        }
        Form9 = nullptr;
        Form1 = nullptr;
    }
    setMessageHandler({});
    std::fflush(stdout);
    return status;
}
