// The hint filter: status tips of widgets and menu items of any window reach one handler.
#include "platform/hints.h"
#include "tests/support/pointer.h"

#include <QAction>
#include <QApplication>
#include <QEnterEvent>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <gtest/gtest.h>

using pixmoor::test::enter;
using pixmoor::test::leave;

TEST(HintFilter, CatchesStatusTipsOfAnyWindowAndConsumesThem) {
    QStringList hints;
    pixmoor::HintFilter filter([&](const QString& h) { hints.append(h); });

    QMainWindow main;
    auto* button = new QLabel("b", &main);
    button->setStatusTip("Copy File");
    main.statusBar(); // a main window would otherwise show tips as a temporary message

    QWidget dialog;
    auto* edit = new QLabel("e", &dialog);
    edit->setStatusTip("Thumb Width Size");

    enter(button);
    leave(button);
    enter(edit);
    EXPECT_EQ(hints, QStringList({"Copy File", "", "Thumb Width Size"}));
    EXPECT_TRUE(main.statusBar()->currentMessage().isEmpty());

    QMenu menu;
    QAction* item = menu.addAction("&Move");
    item->setStatusTip("Move Selected Files");
    item->showStatusText(&menu);
    EXPECT_EQ(hints.last(), "Move Selected Files");
}

TEST(HintFilter, StopsListeningWhenDestroyed) {
    int calls = 0;
    QWidget w;
    w.setStatusTip("x");
    {
        pixmoor::HintFilter filter([&](const QString&) { ++calls; });
        enter(&w);
    }
    enter(&w);
    EXPECT_EQ(calls, 1);
}
