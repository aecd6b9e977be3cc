// The program's windows under a real window manager (openbox on the Xvfb display), as the X
// server stacks and places them: the scan window in front after Acquire and while it scans.
#include "tests/app/scan_commands_fixture.h"
#include "tests/support/window_manager.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

using namespace pixmoor;
using namespace pixmoor::test;

namespace {

// Lets the program send what it has to send, then waits until the window manager has handled it
// all, twice: what the first wait let the program do is handled too.
void settle(XServerView& x) {
    QCoreApplication::processEvents();
    ASSERT_TRUE(x.sync());
    QCoreApplication::processEvents();
    ASSERT_TRUE(x.sync());
}

} // namespace

TEST_F(ScanCommands, AcquireBringsTheScanWindowInFrontAndKeepsItThereWhileItScans) {
    if (!WindowManager::available()) GTEST_SKIP() << "needs X11 and openbox";
    if (!haveProgram("scanimage")) GTEST_SKIP() << "scanimage (sane-utils) is missing";
    WindowManager wm;
    ASSERT_TRUE(wm.running());
    XServerView x;
    ASSERT_TRUE(x.ok());
    PrivateSane sane;

    form->show();
    form->activateWindow();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return x.managed(form.get()) && x.isActive(form.get()); }, 10000));

    // A scan that runs until it is cancelled: one byte a read, each after a delay. Once its
    // progress dialog is up and active, the scan window must lie above the main window.
    {
        ScanDialogAnswers slow({{"mode", "Color"},
                                {"resolution", "50"},
                                {"read-limit", "yes"},
                                {"read-limit-size", "1"},
                                {"read-delay", "yes"},
                                {"read-delay-duration", "200000"}});
        bool looked = false;
        bool busy = false;
        bool scanAbove = false;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<ScanProgressDialog*>(QApplication::activeModalWidget());
            if (!dialog || looked || busy || !dialog->CancelButton->isEnabled()) return;
            busy = true;
            if (x.isActive(dialog)) {
                settle(x);
                looked = true;
                scanAbove = x.above(scan.get(), form.get());
                dialog->CancelButton->click();
            }
            busy = false;
        });
        ticker.start(20);
        form->Acquire1->trigger();
        ticker.stop();
        ASSERT_TRUE(looked);
        EXPECT_TRUE(scanAbove) << "the scan window lay behind the main window during the scan";
        messages.clear(); // the cancelled scan's reports
    }

    // A scan that completes: afterwards the scan window, with its picture, is in front.
    ScanDialogAnswers fast({{"mode", "Color"}, {"resolution", "50"}});
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return x.isActive(form.get()); }, 10000));
    form->Acquire1->trigger();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(scan->PMultiImage1->size(), QSize(157, 196));
    settle(x);
    EXPECT_TRUE(x.above(scan.get(), form.get()))
        << "the scan window lies behind the main window after Acquire";
    EXPECT_TRUE(x.isActive(scan.get()));

    // A scan window the user minimised comes back for the next scan.
    scan->showMinimized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return x.minimised(scan.get()); }, 10000));
    form->Acquire1->trigger();
    settle(x);
    EXPECT_FALSE(x.minimised(scan.get()));
    EXPECT_TRUE(x.above(scan.get(), form.get()));
}
