// The main window: creation (settings restored), activation, closing (settings written), the
// busy state, Stop, hints, the catalogue's type and view options, and the wiring of every menu
// item, tool button and pop-up item to the handler it runs (the handlers that hand work to other
// subsystems are in Unit1_commands.cpp).
#include "app/Unit1.h"

#include "acquire/SysHot.h"
#include "acquire/capture.h"
#include "catalogue/Unit2.h"
#include "catalogue/catalogue_build.h"
#include "catalogue/enumeration.h"
#include "catalogue/image.h"
#include "catalogue/image_list.h"
#include "catalogue/thumbnail_pipeline.h"
#include "catalogue/thumbnails.h"
#include "files/drive.h"
#include "imaging/file_types.h"
#include "operations/pic.h"
#include "operations/wmf.h"
#include "platform/activation.h"
#include "platform/file_name.h"
#include "platform/globals.h"
#include "platform/hints.h"
#include "platform/message_box.h"
#include "platform/printer.h"
#include "platform/scratch_dir.h"
#include "platform/settings_store.h"
#include "platform/text_fit.h"
#include "platform/window_placement.h"

#include <QCloseEvent>
#include <QDir>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLabel>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <stdexcept>
#include <utility>
#include <sys/stat.h>

TForm1* Form1 = nullptr;

namespace {

const QString kMain = QStringLiteral("Main");
const QString kWindow = QStringLiteral("Window");

// Stored window sizes are taken as they are, within what a window can be.
constexpr int kMinWindowSide = 100;
constexpr int kMaxWindowSide = 16384;

} // namespace

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
    Q_INIT_RESOURCE(pixmoor);
    setupUi(this);

    // A menu's hint is that of its item in the menu bar, not of the pop-up window itself.
    for (QMenu* menu : {File1, Image1, Settings1, View3, Help1}) {
        menu->menuAction()->setStatusTip(menu->statusTip());
        menu->setStatusTip(QString());
    }
    // While a top-level menu is disabled (busy state), the shortcuts of its items are dead too.
    for (QMenu* menu : {File1, Image1, Settings1, View3, Help1})
        for (QAction* action : menu->actions()) action->installEventFilter(this);

    StatusPanel0 = new QLabel(StatusBar1);
    StatusPanel0->setObjectName(QStringLiteral("StatusPanel0"));
    StatusBar1->addWidget(StatusPanel0);
    fitStatusPanel();

    ImageList1 = new pixmoor::ImageList(QSize(70, 70), this);
    ImageList1->setObjectName(QStringLiteral("ImageList1"));
    ImageList2 = new pixmoor::ImageList(QSize(50, 50), this);
    ImageList2->setObjectName(QStringLiteral("ImageList2"));
    ListView1->setImageLists(ImageList1, ImageList2);
    ListView1->setPopupMenu(PopupMenu1);

    // The type panel's captions ("ICON", the file count) get the room the desktop's font needs;
    // a longer count pushes the progress bar along.
    pixmoor::fitTextToFont(Panel1);

    DirectoryListBox1->setFixedWidth(HeaderControl1->sectionSize(0));
    DriveComboBox1->showDriveOf(DirectoryListBox1->directory());

    SysHotKey1 = new TSysHotKey(this);
    SysHotKey1->setObjectName(QStringLiteral("SysHotKey1"));
    SysHotKey1->OnHotKey = [this](QObject* sender, int index) { SysHotKey1HotKey(sender, index); };
    capture_ = std::make_unique<pixmoor::ScreenCapture>(*SysHotKey1);
    capture_->OnPicture = [this](const QImage& screen) { showCapture(screen); };
    focusHistory_ = new pixmoor::FocusHistory(this);

    connectCommands();
    FormCreate();
}

TForm1::~TForm1() {
    if (Form1 == this) Form1 = nullptr;
}

void TForm1::connectCommands() {
    using Slot = void (TForm1::*)();
    const auto item = [this](QAction* action, Slot slot) {
        connect(action, &QAction::triggered, this, slot);
    };
    const auto button = [this](QAbstractButton* b, Slot slot) {
        connect(b, &QAbstractButton::clicked, this, slot);
    };

    // One handler per command, shared by its menu item, tool button and pop-up twin.
    for (QAction* a : {Move1, Copy1, Move2, Copy2}) item(a, &TForm1::Copy1Click);
    for (QAbstractButton* b : {MoveButton, CopyButton}) button(b, &TForm1::Copy1Click);
    for (QAction* a : {Rename1, Rename2}) item(a, &TForm1::Rename1Click);
    button(RenameButton, &TForm1::Rename1Click);
    for (QAction* a : {Delete1, Delete2}) item(a, &TForm1::Delete1Click);
    button(DeleteButton, &TForm1::Delete1Click);
    item(SelectAll1, &TForm1::SelectAll1Click);
    for (QAction* a : {Properties2, Properties1}) item(a, &TForm1::Properties2Click);
    item(Print1, &TForm1::PrintButtonClick);
    button(PrintButton, &TForm1::PrintButtonClick);
    item(PrintsetUp1, &TForm1::PrintsetUp1Click);
    button(PrintSetUpButton, &TForm1::PrintsetUp1Click);
    item(Exit1, &TForm1::Exit1Click);
    button(ExitButton, &TForm1::Exit1Click);

    item(BMP1, &TForm1::BMP1Click);
    item(Gif1, &TForm1::Gif1Click);
    item(Icon1, &TForm1::Icon1Click);
    item(Jpeg1, &TForm1::Jpeg1Click);
    item(Pcx1, &TForm1::Pcx1Click);
    item(Png1, &TForm1::Png1Click);
    item(Tiff1, &TForm1::Tiff1Click);
    item(Wmf1, &TForm1::Wmf1Click);
    button(BmpButton, &TForm1::BMP1Click);
    button(GifButton, &TForm1::Gif1Click);
    button(JpegButton, &TForm1::Jpeg1Click);
    button(IconButton, &TForm1::Icon1Click);
    button(PcxButton, &TForm1::Pcx1Click);
    button(PngButton, &TForm1::Png1Click);
    button(TiffButton, &TForm1::Tiff1Click);
    button(WmfButton, &TForm1::Wmf1Click);

    for (QAction* a : {Convert1, Convert2}) item(a, &TForm1::Convert1Click);
    item(Print2, &TForm1::Print2Click);
    item(ThumbSize1, &TForm1::ThumbSize1Click);
    button(ThumbSizeButton, &TForm1::ThumbSize1Click);
    for (QAction* a : {ToClipboard1, ToClipboard2}) item(a, &TForm1::ToClipboard1Click);
    for (QAction* a : {View1, View2}) item(a, &TForm1::ViewButtonClick);
    button(ViewButton, &TForm1::ViewButtonClick);
    connect(ListView1, &pixmoor::ListView::itemDoubleClicked, this, &TForm1::ViewButtonClick);
    item(Acquire1, &TForm1::Acquire1Click);
    item(SelectTwain1, &TForm1::SelectTwain1Click);
    item(ScreenCapture1, &TForm1::ScreenCapture1Click);
    item(List1, &TForm1::List1Click);
    item(Refresh1, &TForm1::Refresh1Click);
    item(Sorted1, &TForm1::Sorted1Click);
    item(About1, &TForm1::About1Click);
    item(Help2, &TForm1::Help2Click);
    button(HelpButton, &TForm1::Help2Click);
    item(Search1, &TForm1::Search1Click);
    item(UsingHelp1, &TForm1::UsingHelp1Click);
    item(LaunchApp1, &TForm1::LaunchApp1Click);
    item(Explore1, &TForm1::Explore1Click);
    button(StopButton, &TForm1::StopButtonClick);

    connect(HeaderControl1, &QHeaderView::sectionResized, this,
            &TForm1::HeaderControl1SectionResize);
    connect(HeaderControl1, &QHeaderView::sectionClicked, this,
            &TForm1::HeaderControl1SectionClick);
    connect(DirectoryListBox1, &pixmoor::DirectoryTree::directoryChanged, this,
            &TForm1::DirectoryListBox1Change);
    connect(DirectoryListBox1, &pixmoor::DirectoryTree::directoryRefused, this,
            [this](const QString& path) {
                pixmoor::showError(QStringLiteral("Cannot open the directory \"%1\".").arg(path),
                                   this);
            });
    connect(DriveComboBox1, &pixmoor::DriveComboBox::driveChosen, this,
            &TForm1::DriveComboBox1Change);
    connect(DirectoryListBox1, &pixmoor::DirectoryTree::itemsDropped, this,
            [this](const QString& target) { DirectoryListBox1DragDrop(target); });
}

// ---- creation, activation, closing ----

void TForm1::FormCreate() {
    StartDir = QDir::currentPath();
    try {
        WindowsDir = pixmoor::scratchDirectory();
    } catch (const std::exception& e) {
        WindowsDir.clear();
        pixmoor::showError(QString::fromUtf8(e.what()), this);
    }

    int width = 570;
    int height = 450;
    QString state;
    {
        const pixmoor::SettingsStore settings;
        ThumbWidth = settings.readInteger(kMain, QStringLiteral("ThumbSizew"), 70);
        ThumbHeight = settings.readInteger(kMain, QStringLiteral("ThumbSizeh"), 70);
        width = settings.readInteger(kWindow, QStringLiteral("WindowWidth"), 570);
        height = settings.readInteger(kWindow, QStringLiteral("WindowHeight"), 450);
        state =
            settings.readString(kWindow, QStringLiteral("WindowState"), QStringLiteral("Normal"));
        SavedDir = settings.readString(kMain, QStringLiteral("Directory"), StartDir);
    }
    // A too short directory names a root ("" becomes "/").
    if (SavedDir.size() < 3 && !SavedDir.endsWith(u'/')) SavedDir += u'/';
    FirstActivation = true;

    width = std::clamp(width, kMinWindowSide, kMaxWindowSide);
    height = std::clamp(height, kMinWindowSide, kMaxWindowSide);
    // Centred, and fitted to the screen it opens on: a size saved on a larger screen (or at a
    // smaller scale factor) must not put the title bar, menus and tool bar out of reach.
    pixmoor::placeCentred(this, QSize(width, height));
    pixmoor::keepOnScreenWhenFramed(this);
    if (state != QLatin1String("Normal")) setWindowState(windowState() | Qt::WindowMaximized);

    SetImageSize();

    if (!QFileInfo(SavedDir).isDir() || !QDir::setCurrent(SavedDir)) {
        reportSavedDirectory(SavedDir);
        SavedDir = StartDir;
        QDir::setCurrent(StartDir);
    }

    hints_ = std::make_unique<pixmoor::HintFilter>([this](const QString& hint) { ShowHint(hint); });
}

void TForm1::reportSavedDirectory(const QString& dir) {
    if (savedDirReported_) return;
    savedDirReported_ = true;
    pixmoor::showError(QStringLiteral("The directory \"%1\" no longer exists or cannot be opened.\n"
                                      "Pixmoor opens \"%2\" instead.")
                           .arg(dir, StartDir),
                       this);
}

void TForm1::FormActivate() {
    // Coming back from another window of the program abandons an armed screen capture.
    if (focusHistory_->cameFromOwnWindow(windowHandle())) SysHotKey1->setActive(false);
    if (FirstActivation) {
        // Cleared first: an error box below activates other windows and then this one again.
        FirstActivation = false;
        if (!DirectoryListBox1->setDirectory(SavedDir)) {
            reportSavedDirectory(SavedDir);
            SavedDir = StartDir;
            DirectoryListBox1->setDirectory(StartDir);
        }
    }
}

void TForm1::FormClose() {
    pixmoor::SettingsStore settings;
    settings.writeInteger(kMain, QStringLiteral("ThumbSizew"), ThumbWidth);
    settings.writeInteger(kMain, QStringLiteral("ThumbSizeh"), ThumbHeight);
    settings.writeString(kMain, QStringLiteral("Directory"), QDir::currentPath());
    settings.writeInteger(kWindow, QStringLiteral("WindowWidth"), width());
    settings.writeInteger(kWindow, QStringLiteral("WindowHeight"), height());
    settings.writeString(kWindow, QStringLiteral("WindowState"), windowStateText());
    if (!settings.sync())
        pixmoor::showError(QStringLiteral("The settings could not be written to \"%1\".")
                               .arg(pixmoor::settingsFilePath()),
                           this);
}

QString TForm1::windowStateText() const {
    const Qt::WindowStates s = windowState() & ~Qt::WindowActive;
    return s == Qt::WindowNoState ? QStringLiteral("Normal") : QStringLiteral("Maximized");
}

bool TForm1::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate) FormActivate();
    if (e->type() == QEvent::FontChange && StatusPanel0) fitStatusPanel();
    return QMainWindow::event(e);
}

void TForm1::fitStatusPanel() {
    // 200 wide, or as wide as the longest hint of the window's items needs in the current font.
    const QFontMetrics metrics(StatusPanel0->font());
    int widest = 0;
    for (const QAction* action : findChildren<QAction*>())
        widest =
            std::max(widest, metrics.horizontalAdvance(QStringLiteral("  ") + action->statusTip()));
    for (const QWidget* widget : findChildren<QWidget*>())
        widest =
            std::max(widest, metrics.horizontalAdvance(QStringLiteral("  ") + widget->statusTip()));
    const int around = StatusPanel0->width() - StatusPanel0->contentsRect().width();
    StatusPanel0->setFixedWidth(std::max(200, widest + around));
}

void TForm1::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    // Moved to a screen of another density, the thumbnails are made again for its pixels (until
    // then they are drawn fitted to their cells).
    if (QWindow* window = windowHandle(); window && !screenWatched_) {
        screenWatched_ = true;
        connect(window, &QWindow::screenChanged, this, [this] {
            if (!qFuzzyCompare(currentImageList()->devicePixelRatio(),
                               ListView1->devicePixelRatioF()) &&
                ListView1->count() > 0)
                UpdateListbox();
        });
    }
    // Without a window manager the window may never become active: complete the first
    // activation once the window is up anyway.
    if (FirstActivation)
        QTimer::singleShot(0, this, [this] {
            if (FirstActivation) FormActivate();
        });
}

void TForm1::closeEvent(QCloseEvent* e) {
    if (building_) {
        // The build still uses the window's controls: it ends at its next check and closes the
        // window again once it is over, so the settings are written after it.
        closing_ = true;
        if (pipeline_) pipeline_->cancel();
        e->ignore();
        return;
    }
    closing_ = false;
    FormClose();
    e->accept();
    emit closed();
}

bool TForm1::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::Shortcut) {
        if (auto* action = qobject_cast<QAction*>(watched))
            for (QMenu* menu : {File1, Image1, Settings1, View3, Help1})
                if (!menu->menuAction()->isEnabled() && menu->actions().contains(action))
                    return true;
    }
    return QMainWindow::eventFilter(watched, e);
}

void TForm1::Exit1Click() {
    close();
}

// ---- status bar, busy state, Stop ----

void TForm1::setStatusText(const QString& text) {
    StatusPanel0->setText(text);
}

QString TForm1::statusText() const {
    return StatusPanel0->text();
}

void TForm1::ShowHint(const QString& hint) {
    setStatusText(QStringLiteral("  ") + hint);
}

void TForm1::disablewindow() {
    busy_ = true;
    ListView1->setEnabled(false);
    ListView1->setCursor(Qt::WaitCursor);
    DirectoryListBox1->setEnabled(false);
    DirectoryListBox1->setCursor(Qt::WaitCursor);
    Panel1->setEnabled(false);
    Panel1->setCursor(Qt::WaitCursor);
    for (QMenu* menu : {Help1, Image1, Settings1, File1, View3})
        menu->menuAction()->setEnabled(false);
    HeaderControl1->setEnabled(false);
    for (QAbstractButton* b :
         {MoveButton, CopyButton, RenameButton, DeleteButton, PrintButton, PrintSetUpButton,
          ThumbSizeButton, ViewButton, HelpButton, ExitButton})
        b->setEnabled(false);
    if (PrintingBusy) {
        StopButton->setEnabled(false);
        Panel2->setCursor(Qt::WaitCursor);
    } else {
        StopButton->setEnabled(true);
    }
    QCoreApplication::processEvents();
}

void TForm1::enablewindow() {
    ListView1->setEnabled(false);
    ListView1->unsetCursor();
    StopButton->setEnabled(false);
    DirectoryListBox1->setEnabled(true);
    DirectoryListBox1->unsetCursor();
    Panel1->setEnabled(true);
    Panel1->unsetCursor();
    for (QMenu* menu : {Help1, Image1, Settings1, File1, View3})
        menu->menuAction()->setEnabled(true);
    HeaderControl1->setEnabled(true);
    HeaderControl1->unsetCursor();
    for (QAbstractButton* b :
         {MoveButton, CopyButton, RenameButton, DeleteButton, PrintButton, PrintSetUpButton})
        b->setEnabled(true);
    if (isIconView() && !IconButton->isChecked()) ThumbSizeButton->setEnabled(true);
    for (QAbstractButton* b : {ViewButton, HelpButton, ExitButton}) b->setEnabled(true);
    Panel2->unsetCursor();
    ListView1->setEnabled(true);
    ListView1->unsetCursor();
    busy_ = false;
    QCoreApplication::processEvents();
}

void TForm1::StopButtonClick() {
    StopRequested = true;
}

bool TForm1::isIconView() const {
    return ListView1->viewStyle() == pixmoor::ListView::ViewStyle::Icon;
}

// ---- directory tree, drives, header ----

void TForm1::DirectoryListBox1Change() {
    DriveComboBox1->showDriveOf(DirectoryListBox1->directory());
    UpdateListbox();
}

void TForm1::DriveComboBox1Change(const QString& mountPoint) {
    if (!DirectoryListBox1->setDirectory(mountPoint))
        pixmoor::showError(QStringLiteral("Cannot open the drive \"%1\".").arg(mountPoint), this);
    DriveComboBox1->showDriveOf(DirectoryListBox1->directory());
}

void TForm1::HeaderControl1SectionResize(int section, int /*oldSize*/, int newSize) {
    if (section == 0) DirectoryListBox1->setFixedWidth(newSize);
}

// ---- catalogue build ----

pixmoor::ImageList* TForm1::currentImageList() const {
    return isIconView() ? ImageList1 : ImageList2;
}

void TForm1::UpdateListbox() {
    if (building_) {
        // A build is running (a change reached us while it processed messages): build again
        // once it has ended, so the list shows the latest state.
        rebuildPending_ = true;
        return;
    }
    building_ = true;
    if (!currentType_) currentType_ = pixmoor::catalogueTypeNamed(QStringLiteral("bmp"));

    ProgressBar1->setValue(0);
    ProgressBar1->show();
    setStatusText(QStringLiteral("Creating Thumb Nails"));
    QCoreApplication::processEvents();

    try {
        ImageList2->clear();
        ImageList1->clear();
        ListView1->clear();
        pixmoor::CatalogueTarget target;
        target.list = ListView1;
        target.images = currentImageList();
        // Thumbnails are made at the device pixels of the list's cells on its screen.
        target.images->setDevicePixelRatio(ListView1->devicePixelRatioF());
        target.progress = ProgressBar1;
        target.workForm = Form3;
        target.messageParent = this;
        target.directory = DirectoryListBox1->directory();
        target.type = currentType_;
        target.fastThumbnails = fastThumbnails;
        target.closing = [this] { return closing_; };
        target.becomeBusy = [this] { disablewindow(); };
        target.pipelineRunning = [this](pixmoor::ThumbnailPipeline* p) { pipeline_ = p; };
        const int count = pixmoor::buildCatalogue(target);
        Label1->setText(pixmoor::fileCountText(count));
    } catch (...) {
        finishBuild();
        throw; // the central handler reports it
    }
    finishBuild();
}

void TForm1::finishBuild() {
    if (!isIconView()) SetListView();
    ProgressBar1->hide();
    enablewindow();
    setStatusText(QStringLiteral("Finished"));
    QCoreApplication::processEvents();
    building_ = false;
    if (closing_) {
        // The window was closed during the build: close it now that the build is over.
        QTimer::singleShot(0, this, &QWidget::close);
    } else if (rebuildPending_) {
        rebuildPending_ = false;
        QTimer::singleShot(0, this, &TForm1::UpdateListbox);
    }
}

void TForm1::SetListView() {
    const QString dir = QDir::currentPath();
    // A long list takes a while: keep painting (input stays queued, as during the build).
    QElapsedTimer sincePaint;
    sincePaint.start();
    for (int row = 0; row < ListView1->count(); ++row) {
        if (sincePaint.elapsed() >= kPaintIntervalMs) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            sincePaint.restart();
        }
        // stat on the name's own bytes: a name that is not UTF-8 has its details too.
        struct stat st {};
        const QByteArray path =
            pixmoor::encodeFileName(pixmoor::joinPath(dir, ListView1->caption(row)));
        if (::stat(path.constData(), &st) != 0 || S_ISDIR(st.st_mode)) {
            ListView1->setSubItems(row, QString(), QString());
            continue;
        }
        const QDateTime modified = QDateTime::fromMSecsSinceEpoch(
            qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000);
        ListView1->setSubItems(row, QString::number(qint64(st.st_size)),
                               pixmoor::fileDateText(modified));
    }
}

// ---- image types and thumb size ----

void TForm1::SetImageSize() {
    ImageList1->setSize(
        QSize(ThumbWidth, ThumbHeight).boundedTo(QSize(kMaxThumbSide, kMaxThumbSide)));
    ImageList2->setSize(QSize(50, 50));
}

void TForm1::SizeEnable() {
    if (!isIconView()) return;
    ThumbSize1->setEnabled(true);
    ThumbSizeButton->setEnabled(true);
}

void TForm1::change() {
    ToClipboard1->setEnabled(true);
    ToClipboard2->setEnabled(true);
    SetImageSize();
    UpdateListbox();
    SizeEnable();
}

void TForm1::selectType(const char* name) {
    const pixmoor::CatalogueType* type = pixmoor::catalogueTypeNamed(QLatin1String(name));
    if (!type) return;
    // The menu item and the tool button of each type, in the table's (menu) order.
    const std::pair<QAction*, QAbstractButton*> controls[] = {
        {BMP1, BmpButton}, {Gif1, GifButton}, {Icon1, IconButton}, {Jpeg1, JpegButton},
        {Pcx1, PcxButton}, {Png1, PngButton}, {Tiff1, TiffButton}, {Wmf1, WmfButton}};
    const auto& [item, button] = controls[type - pixmoor::catalogueTypeTable().data()];
    item->setChecked(true);
    button->setChecked(true);
    if (type->iconLists) {
        // Icons at their own 32 x 32, whatever the thumbnail size.
        ImageList1->setSize(QSize(32, 32));
        ImageList2->setSize(QSize(32, 32));
        ThumbSize1->setEnabled(false);
        ThumbSizeButton->setEnabled(false);
    }
    currentType_ = type;
    if (type->iconLists) {
        ToClipboard1->setEnabled(false);
        ToClipboard2->setEnabled(false);
        QCoreApplication::processEvents();
        UpdateListbox();
        return;
    }
    QCoreApplication::processEvents();
    change();
}

void TForm1::BMP1Click() {
    selectType("bmp");
}
void TForm1::Gif1Click() {
    selectType("gif");
}
void TForm1::Icon1Click() {
    selectType("ico");
}
void TForm1::Jpeg1Click() {
    selectType("jpg");
}
void TForm1::Pcx1Click() {
    selectType("pcx");
}
void TForm1::Png1Click() {
    selectType("png");
}
void TForm1::Tiff1Click() {
    selectType("tif");
}
void TForm1::Wmf1Click() {
    selectType("wmf");
}

void TForm1::ThumbSize1Click() {
    if (!Form2 || Form2->exec() != QDialog::Accepted) return;
    ImageList1->setSize(
        QSize(ThumbWidth, ThumbHeight).boundedTo(QSize(kMaxThumbSide, kMaxThumbSide)));
    if (Form3) Form3->PMultiImage1->resize(ThumbWidth, ThumbHeight);
    UpdateListbox();
}

// ---- view options ----

void TForm1::List1Click() {
    if (!isIconView()) {
        List1->setChecked(false);
        ListView1->setViewStyle(pixmoor::ListView::ViewStyle::Icon);
        ThumbSizeButton->setEnabled(true);
        ThumbSize1->setEnabled(true);
    } else {
        List1->setChecked(true);
        ListView1->setViewStyle(pixmoor::ListView::ViewStyle::Report);
        ThumbSizeButton->setEnabled(false);
        ThumbSize1->setEnabled(false);
    }
    UpdateListbox();
}

void TForm1::Sorted1Click() {
    if (ListView1->isSorted()) {
        ListView1->setSorted(false);
        Sorted1->setChecked(false);
        UpdateListbox();
    } else {
        ListView1->setSorted(true);
        Sorted1->setChecked(true);
    }
}

void TForm1::SelectAll1Click() {
    ListView1->selectAll();
}

void TForm1::Refresh1Click() {
    repaint();
    DirectoryListBox1->reread(); // reports a change, which builds the catalogue
    UpdateListbox();
}
