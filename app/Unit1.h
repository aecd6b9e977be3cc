// TForm1, the main window: settings restored at creation and written at close, the layout loaded
// from Unit1.ui, the busy state of long operations, Stop, and the status-bar hints.
#pragma once

#include "ui_Unit1.h"

#include <QMainWindow>
#include <memory>

class QLabel;
class TSysHotKey;

namespace pixmoor {
struct CatalogueType;
class FocusHistory;
class ScreenCapture;
class HintFilter;
class ImageList;
class ThumbnailPipeline;
} // namespace pixmoor

class TForm1 : public QMainWindow, public Ui::TForm1 {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Thumbnails of the icon view (ThumbWidth x ThumbHeight) and of the report view (50 x 50).
    pixmoor::ImageList* ImageList1 = nullptr;
    pixmoor::ImageList* ImageList2 = nullptr;
    // Panel 0 of StatusBar1 (200 wide, wider when the font needs it for the hints).
    QLabel* StatusPanel0 = nullptr;
    // The screen capture's hot key (Alt+F4 is added when a capture is armed).
    TSysHotKey* SysHotKey1 = nullptr;

    // Text of status bar panel 0.
    void setStatusText(const QString& text);
    QString statusText() const;

    // The busy state of long operations.
    void disablewindow();
    void enablewindow();
    // Writes two blanks and the hint into status bar panel 0.
    void ShowHint(const QString& hint);

    // Builds the catalogue of the current directory: the guard against nested builds, the
    // progress bar and status, and the busy state around catalogue/catalogue_build's body.
    void UpdateListbox();
    // Fills the Size and Date sub-items of every item (report view).
    void SetListView();
    // Sizes ImageList1 to ThumbWidth x ThumbHeight and ImageList2 to 50 x 50.
    void SetImageSize();
    // Enables the thumb size command in icon view.
    void SizeEnable();
    // The common tail of the ordinary type commands.
    void change();
    // Whether the list shows the icon view.
    bool isIconView() const;
    // The image list of the current view.
    pixmoor::ImageList* currentImageList() const;
    // True while UpdateListbox runs.
    bool isBuilding() const { return building_; }
    // The browsed type, chosen by the type commands; null until the first build, which browses
    // bitmaps.
    const pixmoor::CatalogueType* currentType() const { return currentType_; }

    // Thumbnails larger than this (from a hand-edited settings file) are made at this size.
    static constexpr int kMaxThumbSide = 1024;
    // Longest time the window goes without painting in the parts of a build that do not
    // process messages themselves.
    static constexpr int kPaintIntervalMs = 40;
    // Whether builds decode ahead on worker threads; off, every file goes through Form3's
    // component on this thread (the benchmark compares the two).
    bool fastThumbnails = true;
    // Whether conversion decodes the next file ahead on a worker thread (the benchmark checks
    // that the files are the same without).
    bool fastConversion = true;

    // File helpers of the file commands: make a file (a caption of the list) plain before it is
    // copied, moved or deleted; drop the given rows (whose files left) from the list at once.
    void ChangeAttrib(const QString& FileName);
    void DeleteSelected(const QList<int>& rows);

    // The window-state text stored at close: "Normal", else "Maximized".
    QString windowStateText() const;

    // Main window events.
    void FormCreate();
    void FormActivate();
    void FormClose();

signals:
    // The main window closed (its settings are written); the program ends.
    void closed();

public slots:
    void Exit1Click();
    void StopButtonClick();
    void DirectoryListBox1Change();
    void DriveComboBox1Change(const QString& mountPoint);
    void HeaderControl1SectionResize(int section, int oldSize, int newSize);

    // Image type commands: keep the type buttons and the "Image Type" items in step and choose
    // the browsed type.
    void BMP1Click();
    void Gif1Click();
    void Icon1Click();
    void Jpeg1Click();
    void Pcx1Click();
    void Png1Click();
    void Tiff1Click();
    void Wmf1Click();
    // The one handler behind the image type commands, driven by the catalogue type's entry
    // ("bmp" ... "wmf"); an unknown name does nothing.
    void selectType(const char* name);

    // Commands whose work lives in other subsystems; connected here to every item, button and
    // pop-up twin that runs them.
    void Copy1Click();
    void Delete1Click();
    void Rename1Click();
    void Properties2Click();
    void SelectAll1Click();
    void PrintButtonClick();
    void PrintsetUp1Click();
    void ViewButtonClick();
    void ThumbSize1Click();
    void Help2Click();
    void Convert1Click();
    void Print2Click();
    void ToClipboard1Click();
    void Acquire1Click();
    void SelectTwain1Click();
    void ScreenCapture1Click();
    void showCapture(const QImage& screen);
    void SysHotKey1HotKey(QObject* Sender, int Index);
    void List1Click();
    void Refresh1Click();
    void Sorted1Click();
    void About1Click();
    void Search1Click();
    void UsingHelp1Click();
    void LaunchApp1Click();
    void Explore1Click();
    void HeaderControl1SectionClick(int section);
    // List items dropped on the tree entry of target: the selected files are copied there.
    void DirectoryListBox1DragDrop(const QString& target);

    // True between disablewindow and enablewindow.
    bool isBusy() const { return busy_; }

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void connectCommands();
    void finishBuild();
    // Sizes status panel 0 to hold every hint of the window in the current font.
    void fitStatusPanel();
    // Copies or moves the selected files from source to target in the busy state.
    void copySelected(const QString& source, const QString& target, bool move);
    // Reports a directory that cannot be opened, at most once for the saved directory.
    void reportSavedDirectory(const QString& dir);

    std::unique_ptr<pixmoor::HintFilter> hints_;
    pixmoor::FocusHistory* focusHistory_ = nullptr;
    std::unique_ptr<pixmoor::ScreenCapture> capture_;
    bool savedDirReported_ = false;
    bool screenWatched_ = false; // the window's screen changes are followed
    bool busy_ = false;

    // The running build: its file names, its decode-ahead pipeline, and what happened meanwhile.
    pixmoor::ThumbnailPipeline* pipeline_ = nullptr; // decoding ahead while a build runs
    bool building_ = false;
    const pixmoor::CatalogueType* currentType_ = nullptr;
    bool closing_ = false;        // the window was closed during the build
    bool rebuildPending_ = false; // a build was asked for during the build
};

extern TForm1* Form1;
