// The main window's menus, pop-up menu, tool bar and type panel hold together: every command has
// a handler and a hint, shortcuts are unique, the type items and buttons move
// together, and the bars are laid out in rows without overlap.
#include "main_window_fixture.h"
#include "imaging/file_types.h"

#include <QButtonGroup>
#include <QMenuBar>
#include <QSet>
#include <QStatusBar>
#include <QTest>

namespace {

// Reads how many handlers a signal has: QObject::receivers is protected, so it is reached
// through a class that makes it public.
struct Receivers : QObject {
    using QObject::receivers;
};

int handlers(const QObject* o, const char* signal) {
    return (o->*(&Receivers::receivers))(signal);
}

// The items of the layout that have no status hint of their own.
const QSet<QString> kWithoutHint = {"ToClipboard1", "Properties1", "LaunchApp1",
                                    "ToClipboard2", "View2",       "Explore1"};

// Whether the widgets lie left to right, each after the one before (neighbours may share their
// border pixel); aligned: also at one height.
void expectInOrder(const std::vector<QWidget*>& row, bool aligned) {
    for (size_t i = 1; i < row.size(); ++i) {
        SCOPED_TRACE(row[i]->objectName().toStdString());
        if (aligned) {
            EXPECT_EQ(row[i]->y(), row[0]->y());
        }
        EXPECT_GE(row[i]->x(), row[i - 1]->geometry().right());
    }
}

} // namespace

TEST_F(MainWindowTest, EveryCommandHasAHandlerAHintAndAUniqueShortcut) {
    TForm1* w = create();
    std::vector<QMenu*> menus;
    for (QAction* bar : w->MainMenu1->actions()) {
        ASSERT_NE(bar->menu(), nullptr);
        EXPECT_FALSE(bar->statusTip().isEmpty()) << bar->text().toStdString();
        menus.push_back(bar->menu());
    }
    menus.push_back(w->PopupMenu1);
    EXPECT_EQ(w->ListView1->findChild<QMenu*>(), nullptr); // the pop-up menu is shared, not owned

    QSet<QKeySequence> shortcuts;
    int items = 0;
    for (const QMenu* menu : menus) {
        for (const QAction* a : menu->actions()) {
            if (a->isSeparator()) continue;
            ++items;
            const std::string name = a->objectName().toStdString();
            SCOPED_TRACE(name);
            EXPECT_GE(handlers(a, SIGNAL(triggered(bool))), 1);
            EXPECT_TRUE(a->isEnabled());
            EXPECT_NE(a->statusTip().isEmpty(), !kWithoutHint.contains(a->objectName()));
            EXPECT_TRUE(a->toolTip() == a->text() || a->toolTip().isEmpty() ||
                        a->toolTip() == QString(a->text()).remove('&'));
            EXPECT_TRUE(a->text().contains('&')); // reachable from the keyboard
            if (!a->shortcut().isEmpty()) {
                EXPECT_FALSE(shortcuts.contains(a->shortcut()))
                    << a->shortcut().toString().toStdString();
                shortcuts.insert(a->shortcut());
            }
        }
    }
    EXPECT_GE(items, 40);
    EXPECT_GE(shortcuts.size(), 8);
}

TEST_F(MainWindowTest, TypeItemsAndButtonsAreRadioGroupsKeptInStep) {
    TForm1* w = create();
    struct Type {
        QAction* item;
        QToolButton* button;
        const char* ext;
    };
    const std::vector<Type> types = {
        {w->BMP1, w->BmpButton, "bmp"},   {w->Gif1, w->GifButton, "gif"},
        {w->Icon1, w->IconButton, "ico"}, {w->Jpeg1, w->JpegButton, "jpg"},
        {w->Pcx1, w->PcxButton, "pcx"},   {w->Png1, w->PngButton, "png"},
        {w->Tiff1, w->TiffButton, "tif"}, {w->Wmf1, w->WmfButton, "wmf"}};
    ASSERT_NE(w->BmpButton->group(), nullptr);
    EXPECT_TRUE(w->BmpButton->group()->exclusive());
    EXPECT_EQ(w->BmpButton->group()->buttons().size(), 8);
    EXPECT_TRUE(w->BMP1->actionGroup()->isExclusive());

    auto checkOnly = [&](const Type& on) {
        for (const Type& t : types) {
            EXPECT_EQ(t.item->isChecked(), t.item == on.item) << t.ext;
            EXPECT_EQ(t.button->isChecked(), t.button == on.button) << t.ext;
        }
        ASSERT_NE(w->currentType(), nullptr);
        EXPECT_STREQ(w->currentType()->name, on.ext);
    };
    // By button, then by menu item, in an order unlike either row.
    for (int k : {3, 7, 1, 5, 0, 6, 2, 4}) {
        types[size_t(k)].button->click();
        checkOnly(types[size_t(k)]);
        types[size_t((k + 3) % 8)].item->trigger();
        checkOnly(types[size_t((k + 3) % 8)]);
    }
}

TEST_F(MainWindowTest, TheBarsAreRowsOfButtonsWithIconsOrCaptionsAndHints) {
    TForm1* w = create();
    showAndActivate();
    const std::vector<QToolButton*> tools = {
        w->MoveButton,  w->CopyButton,      w->DeleteButton, w->RenameButton,
        w->PrintButton, w->PrintSetUpButton, w->ViewButton,  w->ThumbSizeButton,
        w->HelpButton,  w->StopButton,      w->ExitButton};
    const std::vector<QToolButton*> types = {w->BmpButton,  w->GifButton, w->JpegButton,
                                             w->IconButton, w->PcxButton, w->PngButton,
                                             w->TiffButton, w->WmfButton};
    for (const auto& [panel, row] : {std::pair{w->Panel2, tools}, std::pair{w->Panel1, types}}) {
        expectInOrder(std::vector<QWidget*>(row.begin(), row.end()), true);
        for (QToolButton* b : row) {
            SCOPED_TRACE(b->objectName().toStdString());
            EXPECT_EQ(b->parentWidget(), panel);
            EXPECT_TRUE(panel->rect().contains(b->geometry()));
            EXPECT_FALSE(b->toolTip().isEmpty());
            EXPECT_EQ(b->statusTip(), b->toolTip());
            EXPECT_GE(handlers(b, SIGNAL(clicked(bool))), 1);
            if (panel == w->Panel2) {
                EXPECT_FALSE(b->icon().pixmap(32, 32).isNull());
            } else {
                EXPECT_LE(b->fontMetrics().horizontalAdvance(b->text()), b->width());
            }
        }
    }
    expectInOrder({w->DriveComboBox1, w->BmpButton}, false);
    expectInOrder({w->WmfButton, w->Label1, w->ProgressBar1}, false);
    EXPECT_EQ(w->HeaderControl1->count(), 2);
    EXPECT_EQ(w->statusBar(), w->StatusBar1);
    // Top to bottom: tool bar, type panel, header, then the tree beside the list.
    EXPECT_LT(w->Panel2->y(), w->Panel1->y());
    EXPECT_LT(w->Panel1->y(), w->HeaderControl1->y());
    EXPECT_LT(w->HeaderControl1->y(), w->DirectoryListBox1->y());
    EXPECT_EQ(w->DirectoryListBox1->y(), w->ListView1->y());
    EXPECT_LT(w->DirectoryListBox1->x(), w->ListView1->x());
    EXPECT_FALSE(w->windowIcon().isNull());
}
