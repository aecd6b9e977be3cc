// The main window: settings restored and written, the vanished saved directory, the busy state,
// Stop, hints in the status bar, the directory tree and the drive selector.
#include "main_window_fixture.h"

#include "catalogue/image_list.h"
#include "tests/support/pointer.h"

#include <QEnterEvent>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QLabel>
#include <QListView>
#include <QMimeData>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <sys/stat.h>

using pixmoor::test::enter;
using pixmoor::test::leave;

// ---- settings ----

TEST_F(MainWindowTest, FirstRunUsesTheDefaultsAndBuildsNothing) {
    pixmoor::test::TempDir start;
    QDir::setCurrent(QString::fromStdString(start.path().string()));
    const QString startDir = QDir::currentPath();
    TForm1* w = create();
    EXPECT_EQ(ThumbWidth, 70);
    EXPECT_EQ(ThumbHeight, 70);
    EXPECT_EQ(w->ImageList1->imageSize(), QSize(70, 70));
    EXPECT_EQ(w->ImageList2->imageSize(), QSize(50, 50));
    EXPECT_EQ(StartDir, startDir);
    EXPECT_EQ(SavedDir, startDir);
    EXPECT_TRUE(FirstActivation);

    showAndActivate();
    EXPECT_EQ(w->size(), QSize(570, 450));
    EXPECT_FALSE(w->isMaximized());
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((w->frameGeometry().center() - screen.center()).manhattanLength(), 8);
    EXPECT_EQ(w->windowTitle(), "Pixmoor");
    EXPECT_EQ(QDir::currentPath(), startDir);
    EXPECT_EQ(w->DirectoryListBox1->directory(), startDir);
    EXPECT_EQ(w->ListView1->count(), 0);
    EXPECT_EQ(w->Label1->text(), "0 Files");
    EXPECT_FALSE(w->ProgressBar1->isVisible());
    EXPECT_EQ(w->currentType(), nullptr);
    EXPECT_TRUE(messages.empty());

    struct stat st {};
    ASSERT_EQ(::stat(WindowsDir.toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(MainWindowTest, StoredValuesAreReadWithTheIntegerRules) {
    pixmoor::test::TempDir saved;
    writeConf("[Main]\nThumbSizew=0x64\nThumbSizeh=$32\nDirectory=" +
              QByteArray::fromStdString(saved.path().string()) +
              "\n[Window]\nWindowWidth=\"  640\"\nWindowHeight=+480\nWindowState=Normal\n");
    TForm1* w = create();
    EXPECT_EQ(ThumbWidth, 100);
    EXPECT_EQ(ThumbHeight, 50);
    EXPECT_EQ(w->ImageList1->imageSize(), QSize(100, 50));
    showAndActivate();
    EXPECT_EQ(w->size(), QSize(640, 480));
    EXPECT_FALSE(w->isMaximized());
    EXPECT_EQ(QDir::currentPath(),
              QDir(QString::fromStdString(saved.path().string())).canonicalPath());
    EXPECT_EQ(w->DirectoryListBox1->directory(), QDir::currentPath());
    EXPECT_TRUE(messages.empty());
}

TEST_F(MainWindowTest, GarbageNumbersGiveDefaultsAndAnyOtherStateThanNormalMaximizes) {
    for (const char* state : {"maximized", "Maximized", "", "normal"}) {
        SCOPED_TRACE(state);
        writeConf(QByteArray("[Main]\nThumbSizew=seventy\nThumbSizeh=12px\n[Window]\n"
                             "WindowWidth=wide\nWindowState=") +
                  state + "\n");
        TForm1* w = create();
        EXPECT_EQ(ThumbWidth, 70);
        EXPECT_EQ(ThumbHeight, 70);
        w->show();
        EXPECT_TRUE(w->isMaximized());
        destroyWindows();
    }
}

TEST_F(MainWindowTest, AVanishedSavedDirectoryIsReportedOnceAndStartDirIsShown) {
    pixmoor::test::TempDir start;
    QDir::setCurrent(QString::fromStdString(start.path().string()));
    const QString startDir = QDir::currentPath();
    writeConf("[Main]\nDirectory=/no/such/pixmoor/dir\n");
    TForm1* w = create();
    showAndActivate();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].kind, pixmoor::MessageKind::Error);
    EXPECT_TRUE(messages[0].text.contains("/no/such/pixmoor/dir"));
    EXPECT_EQ(QDir::currentPath(), startDir);
    EXPECT_EQ(w->DirectoryListBox1->directory(), startDir);
    EXPECT_FALSE(FirstActivation);
    // The hint handler is in place.
    enter(w->ListView1);
    EXPECT_EQ(w->statusText(), "  Image Display");
}

TEST_F(MainWindowTest, ADirectoryRemovedBeforeTheFirstActivationIsReportedOnce) {
    pixmoor::test::TempDir start;
    QDir::setCurrent(QString::fromStdString(start.path().string()));
    const QString startDir = QDir::currentPath();
    auto saved = std::make_unique<pixmoor::test::TempDir>();
    writeConf("[Main]\nDirectory=" + QByteArray::fromStdString(saved->path().string()) + "\n");
    TForm1* w = create();
    QDir::setCurrent(startDir); // leave it, so it can go
    saved.reset();
    showAndActivate();
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(w->DirectoryListBox1->directory(), startDir);
    EXPECT_EQ(QDir::currentPath(), startDir);
}

TEST_F(MainWindowTest, EveryCloseWritesTheSixValues) {
    pixmoor::test::TempDir a;
    pixmoor::test::TempDir b;
    QDir::setCurrent(QString::fromStdString(a.path().string()));
    TForm1* w = create();
    showAndActivate();

    // Browsing, then the close box.
    ASSERT_TRUE(w->DirectoryListBox1->setDirectory(QString::fromStdString(b.path().string())));
    w->close();
    EXPECT_EQ(stored("Main/Directory"),
              QDir(QString::fromStdString(b.path().string())).canonicalPath());
    EXPECT_EQ(stored("Main/ThumbSizew"), "70");
    EXPECT_EQ(stored("Main/ThumbSizeh"), "70");
    EXPECT_EQ(stored("Window/WindowWidth"), "570");
    EXPECT_EQ(stored("Window/WindowHeight"), "450");
    EXPECT_EQ(stored("Window/WindowState"), "Normal");

    // Maximised, then the Exit button: the maximised size is stored.
    QFile::remove(confPath());
    ThumbWidth = 120;
    w->show();
    w->showMaximized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->isMaximized(); }, 5000));
    QSignalSpy closed(w, &TForm1::closed);
    w->ExitButton->click();
    EXPECT_EQ(closed.count(), 1);
    EXPECT_EQ(stored("Window/WindowState"), "Maximized");
    EXPECT_EQ(stored("Window/WindowWidth"), QString::number(w->width()));
    EXPECT_EQ(stored("Window/WindowHeight"), QString::number(w->height()));
    EXPECT_EQ(stored("Main/ThumbSizew"), "120");

    // Minimised, then the Exit menu item: stored as maximised.
    QFile::remove(confPath());
    w->showMinimized();
    w->Exit1->trigger();
    EXPECT_EQ(stored("Window/WindowState"), "Maximized");
    EXPECT_EQ(closed.count(), 2);
}

TEST_F(MainWindowTest, AStoredSizeIsRestoredAtTheNextStart) {
    writeConf("[Window]\nWindowWidth=701\nWindowHeight=503\nWindowState=Normal\n");
    TForm1* w = create();
    showAndActivate();
    EXPECT_EQ(w->size(), QSize(701, 503));
    w->close();
    destroyWindows();
    EXPECT_EQ(stored("Window/WindowWidth"), "701");
    TForm1* again = create();
    again->show();
    EXPECT_EQ(again->size(), QSize(701, 503));
}

TEST_F(MainWindowTest, ASavedSizeLargerThanTheScreenIsFittedToItsAvailableArea) {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const std::vector<QSize> saved = {{1500, 950},
                                      {area.width() + 1, 300},
                                      {300, area.height()},
                                      {area.width(), area.height()},
                                      {16384, 16384}};
    for (const QSize& size : saved) {
        SCOPED_TRACE(std::to_string(size.width()) + "x" + std::to_string(size.height()));
        writeConf(QStringLiteral("[Window]\nWindowWidth=%1\nWindowHeight=%2\n")
                      .arg(size.width())
                      .arg(size.height())
                      .toUtf8());
        TForm1* w = create();
        showAndActivate();
        EXPECT_TRUE(area.contains(w->frameGeometry()))
            << w->frameGeometry().x() << "," << w->frameGeometry().y() << " "
            << w->frameGeometry().width() << "x" << w->frameGeometry().height();
        // Only what does not fit is taken off.
        EXPECT_GE(w->width(), std::min(size.width(), area.width() * 3 / 4));
        EXPECT_GE(w->height(), std::min(size.height(), area.height() * 3 / 4));
        destroyWindows();
    }
}

// ---- busy state ----

namespace {

struct ControlState {
    bool listView, tree, panel1, header, menus, move, thumbSize, view, exit, stop;
    bool operator==(const ControlState&) const = default;
};

ControlState stateOf(TForm1* w) {
    const bool menus = w->File1->menuAction()->isEnabled() &&
                       w->Image1->menuAction()->isEnabled() &&
                       w->Settings1->menuAction()->isEnabled() &&
                       w->View3->menuAction()->isEnabled() && w->Help1->menuAction()->isEnabled();
    const bool anyMenu = w->File1->menuAction()->isEnabled() ||
                         w->Image1->menuAction()->isEnabled() ||
                         w->Settings1->menuAction()->isEnabled() ||
                         w->View3->menuAction()->isEnabled() || w->Help1->menuAction()->isEnabled();
    EXPECT_EQ(menus, anyMenu) << "the five menus go together";
    EXPECT_EQ(w->MoveButton->isEnabled(), w->CopyButton->isEnabled());
    EXPECT_EQ(w->MoveButton->isEnabled(), w->DeleteButton->isEnabled());
    EXPECT_EQ(w->MoveButton->isEnabled(), w->RenameButton->isEnabled());
    EXPECT_EQ(w->MoveButton->isEnabled(), w->PrintButton->isEnabled());
    EXPECT_EQ(w->MoveButton->isEnabled(), w->PrintSetUpButton->isEnabled());
    EXPECT_EQ(w->ViewButton->isEnabled(), w->HelpButton->isEnabled());
    return {w->ListView1->isEnabled(),
            w->DirectoryListBox1->isEnabled(),
            w->Panel1->isEnabled(),
            w->HeaderControl1->isEnabled(),
            menus,
            w->MoveButton->isEnabled(),
            w->ThumbSizeButton->isEnabled(),
            w->ViewButton->isEnabled(),
            w->ExitButton->isEnabled(),
            w->StopButton->isEnabled()};
}

constexpr ControlState kIdleAtStart{true, true, true, true, true, true, true, true, true, true};
constexpr ControlState kBusy{false, false, false, false, false, false, false, false, false, true};
constexpr ControlState kBusyPrinting{false, false, false, false, false,
                                     false, false, false, false, false};
constexpr ControlState kIdle{true, true, true, true, true, true, true, true, true, false};
constexpr ControlState kIdleNoThumbSize{true, true,  true, true, true,
                                        true, false, true, true, false};

} // namespace

TEST_F(MainWindowTest, BusyStateDisablesAndRestoresTheWindow) {
    TForm1* w = create();
    showAndActivate();
    EXPECT_EQ(stateOf(w), kIdleAtStart);
    EXPECT_FALSE(w->isBusy());

    w->disablewindow();
    EXPECT_EQ(stateOf(w), kBusy);
    EXPECT_TRUE(w->isBusy());
    EXPECT_EQ(w->ListView1->cursor().shape(), Qt::WaitCursor);
    EXPECT_EQ(w->DirectoryListBox1->cursor().shape(), Qt::WaitCursor);
    EXPECT_EQ(w->Panel1->cursor().shape(), Qt::WaitCursor);
    EXPECT_NE(w->Panel2->cursor().shape(), Qt::WaitCursor);
    // Items below the top level keep their own state.
    EXPECT_TRUE(w->Move1->isEnabled());

    w->enablewindow();
    EXPECT_EQ(stateOf(w), kIdle);
    EXPECT_FALSE(w->isBusy());
    EXPECT_EQ(w->ListView1->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(w->Panel1->cursor().shape(), Qt::ArrowCursor);

    // Thumbnail-sheet printing: Stop stays disabled and the tool bar shows the hourglass.
    PrintingBusy = true;
    w->disablewindow();
    EXPECT_EQ(stateOf(w), kBusyPrinting);
    EXPECT_EQ(w->Panel2->cursor().shape(), Qt::WaitCursor);
    PrintingBusy = false;
    w->enablewindow();
    EXPECT_EQ(stateOf(w), kIdle);
    EXPECT_EQ(w->Panel2->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(MainWindowTest, LeavingTheBusyStateEnablesThumbSizeOnlyInIconViewWithoutTheIconType) {
    TForm1* w = create();
    showAndActivate();

    // Report view (the thumb size command is off there).
    w->ListView1->setViewStyle(pixmoor::ListView::ViewStyle::Report);
    w->ThumbSizeButton->setEnabled(false);
    w->disablewindow();
    EXPECT_EQ(stateOf(w), kBusy);
    w->enablewindow();
    EXPECT_EQ(stateOf(w), kIdleNoThumbSize);

    // Icon view with the icon type.
    w->ListView1->setViewStyle(pixmoor::ListView::ViewStyle::Icon);
    w->IconButton->click();
    w->disablewindow();
    w->enablewindow();
    EXPECT_EQ(stateOf(w), kIdleNoThumbSize);

    // Icon view with BMP.
    w->BmpButton->click();
    w->disablewindow();
    w->enablewindow();
    EXPECT_EQ(stateOf(w), kIdle);
}

TEST_F(MainWindowTest, ShortcutsOfDisabledMenusDoNothing) {
    TForm1* w = create();
    showAndActivate();
    // Active as the window system sees it (on Wayland, once the compositor gave it the keyboard).
    ASSERT_TRUE(QTest::qWaitFor([w] { return w->isActiveWindow(); }, 10000));
    QSignalSpy moved(w->Move1, &QAction::triggered);
    w->disablewindow();
    QTest::keyClick(w, Qt::Key_M, Qt::ControlModifier);
    EXPECT_EQ(moved.count(), 0);
    w->enablewindow();
    QTest::keyClick(w, Qt::Key_M, Qt::ControlModifier);
    EXPECT_EQ(moved.count(), 1);
}

TEST_F(MainWindowTest, StopSetsTheRequestOnlyAndIsEnabledUntilTheBusyStateIsFirstLeft) {
    TForm1* w = create();
    showAndActivate();
    EXPECT_TRUE(w->StopButton->isEnabled());
    w->StopButton->click();
    EXPECT_TRUE(StopRequested);
    EXPECT_EQ(w->ListView1->count(), 0);
    w->enablewindow(); // an operation that found nothing to do still leaves the busy state
    EXPECT_FALSE(w->StopButton->isEnabled());
    EXPECT_TRUE(StopRequested); // the request waits for the next build
}

// ---- hints ----

TEST_F(MainWindowTest, HintsReachStatusPanelZeroWithTwoBlanks) {
    TForm1* w = create();
    showAndActivate();
    EXPECT_GE(w->StatusPanel0->width(), 200); // wider when the font needs it for a hint

    enter(w->MoveButton);
    EXPECT_EQ(w->statusText(), "  Move File");
    EXPECT_EQ(w->MoveButton->toolTip(), "Move File");
    leave(w->MoveButton);
    EXPECT_EQ(w->statusText(), "  ");
    enter(w->GifButton);
    EXPECT_EQ(w->statusText(), "  Gif File Display");
    enter(w->HeaderControl1);
    EXPECT_EQ(w->statusText(), "  Size Control");

    // The real pointer path: moving over the list view's viewport enters the list view.
    QWidget* viewport = w->ListView1->iconView()->viewport();
    QTest::mouseMove(viewport, viewport->rect().center());
    EXPECT_TRUE(QTest::qWaitFor([&] { return w->statusText() == "  Image Display"; }, 2000))
        << w->statusText().toStdString();

    // A highlighted menu item.
    w->File1->popup(w->mapToGlobal(QPoint(10, 10)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w->File1));
    w->File1->setActiveAction(w->Delete1);
    EXPECT_EQ(w->statusText(), "  Delete Selected Files");
    w->File1->setActiveAction(w->Print1);
    EXPECT_EQ(w->statusText(), "  Print Thumb Nails ");
    w->File1->close();

    // Any window of the program.
    QWidget dialog;
    auto* ok = new QLabel("OK", &dialog);
    ok->setStatusTip("Accept Changes");
    dialog.show();
    enter(ok);
    EXPECT_EQ(w->statusText(), "  Accept Changes");
}

TEST_F(MainWindowTest, TooltipsOnlyOnToolAndTypeButtons) {
    TForm1* w = create();
    QStringList withTips;
    for (QWidget* child : w->findChildren<QWidget*>())
        if (!child->toolTip().isEmpty()) withTips.append(child->objectName());
    withTips.sort();
    QStringList expected{"MoveButton",  "CopyButton",       "DeleteButton", "RenameButton",
                         "PrintButton", "PrintSetUpButton", "ViewButton",   "ThumbSizeButton",
                         "HelpButton",  "StopButton",       "ExitButton",   "BmpButton",
                         "GifButton",   "JpegButton",       "IconButton",   "PcxButton",
                         "PngButton",   "TiffButton",       "WmfButton"};
    expected.sort();
    EXPECT_EQ(withTips, expected);
}

// ---- directory tree, drive selector, header ----

TEST_F(MainWindowTest, TheTreeKeepsTheWorkingDirectoryAndReportsOnlyRealChanges) {
    pixmoor::test::TempDir root;
    const QString base = QDir(QString::fromStdString(root.path().string())).canonicalPath();
    QDir(base).mkpath("one/deeper");
    QDir(base).mkpath("two");
    QDir::setCurrent(base);
    TForm1* w = create();
    showAndActivate();
    pixmoor::DirectoryTree* tree = w->DirectoryListBox1;
    QSignalSpy changes(tree, &pixmoor::DirectoryTree::directoryChanged);

    EXPECT_TRUE(tree->setDirectory(base));
    EXPECT_TRUE(tree->setDirectory(base + "/"));
    EXPECT_EQ(changes.count(), 0);

    EXPECT_TRUE(tree->setDirectory(base + "/one/deeper"));
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(QDir::currentPath(), base + "/one/deeper");
    EXPECT_FALSE(tree->setDirectory(base + "/missing"));
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(QDir::currentPath(), base + "/one/deeper");

    // The user picks "two" in the tree.
    const QModelIndex two = tree->fileSystemModel()->index(base + "/two");
    ASSERT_TRUE(two.isValid());
    tree->setCurrentIndex(two);
    EXPECT_EQ(changes.count(), 2);
    EXPECT_EQ(QDir::currentPath(), base + "/two");
    EXPECT_EQ(tree->directory(), base + "/two");

    // A change empties the list (the catalogue of the new directory starts from nothing).
    w->ImageList1->append(QImage(70, 70, QImage::Format_RGB32));
    w->ListView1->append("x.bmp", 0);
    tree->setDirectory(base);
    EXPECT_EQ(w->ListView1->count(), 0);
    EXPECT_EQ(w->ImageList1->count(), 0);
}

TEST_F(MainWindowTest, ChoosingADriveMovesTheTree) {
    pixmoor::test::TempDir root;
    QDir::setCurrent(QString::fromStdString(root.path().string()));
    TForm1* w = create();
    showAndActivate();
    ASSERT_FALSE(w->DriveComboBox1->drives().isEmpty());
    EXPECT_EQ(w->DriveComboBox1->itemText(0), "/");
    w->DriveComboBox1->setDrives({"/", "/no/such/mount"});
    QSignalSpy changes(w->DirectoryListBox1, &pixmoor::DirectoryTree::directoryChanged);
    emit w->DriveComboBox1->activated(0);
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(QDir::currentPath(), "/");
    EXPECT_EQ(w->DriveComboBox1->currentText(), "/");

    emit w->DriveComboBox1->activated(1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.contains("/no/such/mount"));
    EXPECT_EQ(QDir::currentPath(), "/");
    EXPECT_EQ(w->DriveComboBox1->currentText(), "/");
}

TEST_F(MainWindowTest, DraggingTheHeaderSizesTheTree) {
    TForm1* w = create();
    showAndActivate();
    EXPECT_EQ(w->DirectoryListBox1->width(), 161);
    w->HeaderControl1->resizeSection(0, 250);
    EXPECT_TRUE(QTest::qWaitFor([&] { return w->DirectoryListBox1->width() == 250; }, 2000));
    w->HeaderControl1->resizeSection(1, 400);
    QCoreApplication::processEvents();
    EXPECT_EQ(w->DirectoryListBox1->width(), 250);
}

TEST_F(MainWindowTest, ListItemsDroppedOnTheTreeNameTheirTargetDirectory) {
    pixmoor::test::TempDir root;
    const QString base = QDir(QString::fromStdString(root.path().string())).canonicalPath();
    QDir(base).mkpath("target");
    QDir::setCurrent(base);
    TForm1* w = create();
    w->resize(700, 500);
    showAndActivate();
    pixmoor::DirectoryTree* tree = w->DirectoryListBox1;
    const QModelIndex target = tree->fileSystemModel()->index(base + "/target");
    ASSERT_TRUE(target.isValid());
    tree->scrollTo(target);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tree->visualRect(target).isValid(); }, 5000));
    const QPoint at = tree->visualRect(target).center();

    w->ListView1->append("a.bmp", 0);
    w->ListView1->append("b.bmp", 1);
    const std::unique_ptr<QMimeData> mime(w->ListView1->model()->mimeData(
        {w->ListView1->model()->index(0, 0), w->ListView1->model()->index(1, 0)}));
    QSignalSpy dropped(tree, &pixmoor::DirectoryTree::itemsDropped);
    QDragEnterEvent enterEvent(at, Qt::CopyAction | Qt::MoveAction, mime.get(), Qt::LeftButton, {});
    QApplication::sendEvent(tree->viewport(), &enterEvent);
    EXPECT_TRUE(enterEvent.isAccepted());
    QDropEvent drop(QPointF(at), Qt::CopyAction | Qt::MoveAction, mime.get(), Qt::LeftButton, {});
    QApplication::sendEvent(tree->viewport(), &drop);
    ASSERT_EQ(dropped.count(), 1);
    EXPECT_EQ(dropped[0][0].toString(), base + "/target");
    EXPECT_EQ(dropped[0][1].toStringList(), QStringList({"a.bmp", "b.bmp"}));

    // Anything else dragged in is refused.
    QMimeData text;
    text.setText("hello");
    QDragEnterEvent other(at, Qt::CopyAction, &text, Qt::LeftButton, {});
    QApplication::sendEvent(tree->viewport(), &other);
    EXPECT_FALSE(other.isAccepted());
}

TEST_F(MainWindowTest, AnEmptyStoredDirectoryIsTheRootAndAbsurdSizesAreBounded) {
    writeConf("[Main]\nDirectory=\n[Window]\nWindowWidth=-5\nWindowHeight=0x7fffffff\n");
    TForm1* w = create();
    EXPECT_EQ(SavedDir, "/");
    showAndActivate();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(QDir::currentPath(), "/");
    EXPECT_EQ(w->DirectoryListBox1->directory(), "/");
    EXPECT_GE(w->width(), 100);
    EXPECT_LE(w->height(), 16384);
}

TEST_F(MainWindowTest, SettingsThatCannotBeWrittenAreReportedAndTheWindowStillCloses) {
    TForm1* w = create();
    showAndActivate();
    // A regular file where the settings folder should be.
    pixmoor::test::TempDir blocked;
    QFile file(QString::fromStdString(blocked.file("config")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(blocked.file("config")));
    QSignalSpy closed(w, &TForm1::closed);
    w->close();
    EXPECT_EQ(closed.count(), 1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.contains("KEMRA.conf"));
}
