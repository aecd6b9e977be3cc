// Hints of menus opened from the keyboard, with real key presses on the X11 display: Alt+F and
// the others highlight the menu's first item, and the status bar shows that item's hint.
#include "main_window_fixture.h"
#include "tests/support/test_dirs.h"

#include <QMenuBar>
#include <QProcess>
#include <QTimer>

namespace {

bool xdotool(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished();
        return false;
    }
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// The texts the status bar shows, one entry per change, as each turn of the event loop sees it.
class StatusLog {
public:
    explicit StatusLog(const TForm1* w) : w_(w) {
        timer_.setInterval(0);
        QObject::connect(&timer_, &QTimer::timeout, [this] { see(); });
        timer_.start();
    }
    // The texts so far, the one shown now last.
    QStringList texts() {
        see();
        return texts_;
    }

private:
    void see() {
        if (texts_.isEmpty() || texts_.last() != w_->statusText()) texts_ << w_->statusText();
    }
    const TForm1* w_;
    QStringList texts_;
    QTimer timer_;
};

// The main window shown on the X display, with xdotool to press keys and move the pointer.
class MenuHintsX11 : public MainWindowTest {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("DISPLAY")) GTEST_SKIP() << "needs an X display";
        if (!pixmoor::test::haveProgram("xdotool")) GTEST_SKIP() << "needs xdotool";
        MainWindowTest::SetUp();
        create();
        showAndActivate();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
    }
};

} // namespace

TEST_F(MenuHintsX11, AMenuOpenedFromTheKeyboardShowsItsFirstItemsHint) {
    TForm1* w = form;
    const QString window = QString::number(w->winId());

    const std::vector<std::tuple<const char*, QMenu*, QAction*>> menus = {
        {"alt+i", w->Image1, w->BMP1},
        {"alt+m", w->Settings1, w->Convert1},
        {"alt+v", w->View3, w->List1},
        {"alt+h", w->Help1, w->About1}};
    for (const auto& [keys, menu, first] : menus) {
        SCOPED_TRACE(keys);
        w->setStatusText(QStringLiteral("Finished"));
        ASSERT_TRUE(xdotool({"windowfocus", "--sync", window}));
        ASSERT_TRUE(QTest::qWaitFor([w] { return w->isActiveWindow(); }, 5000));
        // The pointer rests on the list, whose hint shows; the menu then opens over the window.
        ASSERT_TRUE(xdotool({"mousemove", "0", "0"}));
        const QPoint inList = w->ListView1->mapTo(w, w->ListView1->rect().center());
        ASSERT_TRUE(xdotool({"mousemove", "--window", window, QString::number(inList.x()),
                             QString::number(inList.y())}));
        ASSERT_TRUE(QTest::qWaitFor([w] { return w->statusText() == "  Image Display"; }, 5000))
            << w->statusText().toStdString();
        ASSERT_TRUE(xdotool(QStringList{"key", "--clearmodifiers", "--delay", "100"} +
                            QString::fromLatin1(keys).split(' ')));
        ASSERT_TRUE(QTest::qWaitFor([m = menu] { return m->isVisible(); }, 5000));
        EXPECT_TRUE(
            QTest::qWaitFor([m = menu, f = first] { return m->activeAction() == f; }, 2000));
        const QString hint = QStringLiteral("  ") + first->statusTip();
        EXPECT_TRUE(QTest::qWaitFor([&] { return w->statusText() == hint; }, 2000))
            << w->statusText().toStdString() << " instead of " << hint.toStdString();
        // Down moves to the next item, whose hint follows. The X server delivers events in
        // order, so everything the pointer's leaving the list caused comes before it: the hint
        // stays until then, never blanked by the list.
        StatusLog log(w);
        ASSERT_TRUE(xdotool({"key", "--clearmodifiers", "Down"}));
        ASSERT_TRUE(
            QTest::qWaitFor([m = menu, f = first] { return m->activeAction() != f; }, 2000));
        const QString next = QStringLiteral("  ") + menu->activeAction()->statusTip();
        EXPECT_TRUE(QTest::qWaitFor([&] { return w->statusText() == next; }, 2000))
            << w->statusText().toStdString();
        EXPECT_EQ(log.texts(), QStringList({hint, next}));
        ASSERT_TRUE(xdotool({"key", "--clearmodifiers", "Escape", "Escape"}));
        ASSERT_TRUE(QTest::qWaitFor([m = menu] { return !m->isVisible(); }, 5000));
    }
}

TEST_F(MenuHintsX11, WalkingTheListsPopUpMenuShowsEachItemsHintOrNone) {
    TForm1* w = form;
    const QString window = QString::number(w->winId());
    ASSERT_TRUE(xdotool({"windowfocus", "--sync", window}));
    ASSERT_TRUE(QTest::qWaitFor([w] { return w->isActiveWindow(); }, 5000));

    // The pointer rests on the list, which has the focus; the Menu key opens its pop-up there.
    const QPoint inList = w->ListView1->mapTo(w, w->ListView1->rect().center());
    ASSERT_TRUE(xdotool({"mousemove", "--window", window, QString::number(inList.x()),
                         QString::number(inList.y())}));
    ASSERT_TRUE(QTest::qWaitFor([w] { return w->statusText() == "  Image Display"; }, 5000))
        << w->statusText().toStdString();
    w->ListView1->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([w] { return w->ListView1->hasFocus(); }, 5000));
    ASSERT_TRUE(xdotool({"key", "--clearmodifiers", "Menu"}));
    QMenu* menu = w->PopupMenu1;
    ASSERT_TRUE(QTest::qWaitFor([menu] { return menu->isVisible(); }, 5000));

    // Every item in turn, hinted or not: the status bar shows exactly its hint.
    QList<QAction*> items;
    for (QAction* a : menu->actions())
        if (!a->isSeparator() && a->isVisible() && a->isEnabled()) items.append(a);
    ASSERT_GE(items.size(), 10);
    QAction* previous = menu->activeAction();
    for (QAction* item : items) {
        SCOPED_TRACE(item->objectName().toStdString());
        if (menu->activeAction() != item) {
            ASSERT_TRUE(xdotool({"key", "--clearmodifiers", "Down"}));
            ASSERT_TRUE(QTest::qWaitFor([&] { return menu->activeAction() != previous; }, 2000));
        }
        ASSERT_EQ(menu->activeAction(), item);
        previous = item;
        const QString hint = QStringLiteral("  ") + item->statusTip();
        EXPECT_TRUE(QTest::qWaitFor([&] { return w->statusText() == hint; }, 2000))
            << '"' << w->statusText().toStdString() << "\" instead of \"" << hint.toStdString()
            << '"';
    }
    ASSERT_TRUE(xdotool({"key", "--clearmodifiers", "Escape"}));
    ASSERT_TRUE(QTest::qWaitFor([menu] { return !menu->isVisible(); }, 5000));
}
