// The main window's command handlers: viewing, scanning, the clipboard, screen capture,
// conversion, the file commands, help and printing, each handing the selected items to the
// subsystem that does the work.
#include "app/Unit1.h"
#include "acquire/SysHot.h"
#include "acquire/capture.h"
#include "acquire/scan.h"
#include "catalogue/image.h"
#include "files/copy.h"
#include "files/delete.h"
#include "files/drive.h"
#include "files/prop.h"
#include "files/rename.h"
#include "help/about.h"
#include "help/help_commands.h"
#include "operations/convert.h"
#include "operations/pic.h"
#include "operations/wmf.h"
#include "platform/file_name.h"
#include "platform/globals.h"
#include "platform/message_box.h"
#include "platform/printer.h"
#include "platform/shell.h"
#include "printing/print_dialogs.h"
#include "printing/print_image.h"
#include "printing/sheet.h"
#include <QDir>
#include <exception>

// ---- viewers ----

void TForm1::ViewButtonClick() {
    const int row = ListView1->selected();
    if (row < 0 || !OKBottomDlg || !Form7) return;
    const QString name = ListView1->caption(row);
    try {
        if (currentType_ && currentType_->pictureControl) {
            Form7->Image1->loadPicture(name);
            Form7->setWindowTitle(name);
            Form7->StatusPanel0->setText(name);
            Form7->showViewer();
        } else {
            OKBottomDlg->PMultiImage1->setImageName(name);
            OKBottomDlg->setWindowTitle(name);
            OKBottomDlg->StatusPanel0->setText(name);
            OKBottomDlg->showViewer();
        }
    } catch (const std::exception& e) {
        pixmoor::showError(QStringLiteral("Error Loading Image"), this,
                           pixmoor::fileDetail(name, QString::fromUtf8(e.what())));
    }
}

// ---- scanning and the clipboard ----

// The scanner's dialogs belong to the scan window: a window manager keeps a dialog and the window
// it belongs to together in front, so the picture comes in where the user looks, not behind this
// window.
void TForm1::Acquire1Click() {
    if (!Form9) return;
    Form9->setWindowTitle(QStringLiteral("Scan Image"));
    Form9->showScanWindow();
    Form9->PMultiImage1->ScanImage(Form9);
}

void TForm1::SelectTwain1Click() {
    if (Form9) Form9->PMultiImage1->SelectScanner(this);
}

// The first selected image goes to the clipboard through the viewer that would show it, which
// keeps it afterwards.
void TForm1::ToClipboard1Click() {
    const int row = ListView1->selected();
    if (row < 0 || !OKBottomDlg || !Form7) return;
    const QString name = ListView1->caption(row);
    try {
        if (currentType_ && currentType_->pictureControl) {
            Form7->Image1->loadPicture(name);
            pixmoor::copyPictureToClipboard(Form7->Image1->picture());
        } else {
            OKBottomDlg->PMultiImage1->setImageName(name);
            OKBottomDlg->PMultiImage1->CopyToClipboard();
        }
    } catch (const std::exception& e) {
        pixmoor::showError(QStringLiteral("Error Loading Image"), this,
                           pixmoor::fileDetail(name, QString::fromUtf8(e.what())));
    }
}

// ---- screen capture ----

void TForm1::ScreenCapture1Click() {
    capture_->arm(this);
}

void TForm1::SysHotKey1HotKey(QObject*, int) {
    capture_->take(); // a failure goes to the standard error box
}

// The captured screen, from the hot key or the countdown, goes to the scan window.
void TForm1::showCapture(const QImage& screen) {
    if (!Form9) return;
    Form9->PMultiImage1->setBitmap(screen);
    Form9->setWindowTitle(QStringLiteral("Screen Capture"));
    Form9->showScanWindow();
}

// ---- conversion ----

void TForm1::Convert1Click() {
    if (ListView1->selected() < 0 || !Form6 || !OKBottomDlg) return;
    pixmoor::ConversionJob job;
    job.selected = ListView1->selectedCaptions();
    job.type = currentType_;
    job.loader = &OKBottomDlg->PMultiImage1->loader();
    job.pictureControl = Form3 ? Form3->Image1 : nullptr;
    job.scratchDir = WindowsDir;
    job.parent = this;
    job.enterBusy = [this] { disablewindow(); };
    job.leaveBusy = [this] { enablewindow(); };
    job.betweenFiles = [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); };
    job.decodeAhead = fastConversion;
    pixmoor::convertSelected(*Form6, job);
}

// ---- file management ----

void TForm1::Copy1Click() {
    const QString source = QDir::currentPath();
    const QObject* from = sender();
    const bool move = from == Move1 || from == Move2 || from == MoveButton;
    if (!Form5) return;
    Form5->setMode(move);
    if (ListView1->selected() < 0) return;
    Form5->Edit1->clear();
    if (Form5->exec() != QDialog::Accepted || !TargetAccepted) return;
    if (const std::optional<QString> target =
            pixmoor::prepareTarget(Form5->Edit1->text(), source, this))
        copySelected(source, *target, move);
    QDir::setCurrent(source);
}

void TForm1::DirectoryListBox1DragDrop(const QString& target) {
    const QString source = QDir::currentPath();
    if (ListView1->selected() < 0 || pixmoor::refuseSourceAsTarget(source, target, this)) return;
    copySelected(source, target, false);
}

void TForm1::copySelected(const QString& source, const QString& target, bool move) {
    setStatusText(QStringLiteral("Copying Files"));
    disablewindow();
    pixmoor::FileWalk walk;
    walk.sourceDir = source;
    walk.targetDir = target;
    walk.move = move;
    walk.parent = this;
    walk.beforeItem = [] { QCoreApplication::processEvents(); };
    walk.prepare = [this](const QString& name) { ChangeAttrib(name); };
    walk.pulse = [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); };
    QList<int> gone;
    try {
        gone = pixmoor::copyMoveItems(ListView1->captions(), ListView1->selectedRows(), walk);
    } catch (...) {
        QDir::setCurrent(source);
        enablewindow();
        throw; // the central handler reports it
    }
    if (move) DeleteSelected(gone);
    QDir::setCurrent(source);
    enablewindow();
}

void TForm1::ChangeAttrib(const QString& FileName) {
    pixmoor::changeAttrib(pixmoor::joinPath(QDir::currentPath(), FileName));
}

void TForm1::DeleteSelected(const QList<int>& rows) {
    ListView1->removeRows(rows);
    ListView1->repaint();
}

void TForm1::Delete1Click() {
    const QList<int> rows = ListView1->selectedRows();
    if (rows.isEmpty()) {
        pixmoor::showError(QStringLiteral("No Files Selected"), this);
        return;
    }
    if (!pixmoor::confirmDelete(this)) return;
    DeleteSelected(pixmoor::deleteItems(
        ListView1->captions(), rows, QDir::currentPath(),
        [this](const QString& name) { ChangeAttrib(name); }, this));
}

void TForm1::Rename1Click() {
    const int row = ListView1->selected();
    if (row < 0 || !Form4) return;
    if (const std::optional<QString> name =
            Form4->renameFile(ListView1->caption(row), QDir::currentPath()))
        ListView1->setCaption(row, *name);
}

void TForm1::Properties2Click() {
    const int row = ListView1->selected();
    if (row < 0 || !Form8) return;
    Form8->showProperties(ListView1->caption(row), DirectoryListBox1->directory());
}

void TForm1::LaunchApp1Click() {
    const int row = ListView1->selected();
    if (row >= 0)
        pixmoor::openWithDesktop(pixmoor::joinPath(QDir::currentPath(), ListView1->caption(row)));
}

void TForm1::Explore1Click() {
    pixmoor::openWithDesktop(DirectoryListBox1->directory());
}

void TForm1::HeaderControl1SectionClick(int section) {
    if (section == 0 && OKBottomDlg1) OKBottomDlg1->exec();
}

// ---- help and about ----

// Help and Search Help run with the start directory current, where the help file is looked for
// first; Using Help leaves the working directory alone.
void TForm1::Help2Click() {
    pixmoor::showHelpFrom(StartDir, HelpFile, pixmoor::HelpCommand::Contents, this);
}

void TForm1::Search1Click() {
    pixmoor::showHelpFrom(StartDir, HelpFile, pixmoor::HelpCommand::Finder, this);
}

void TForm1::UsingHelp1Click() {
    pixmoor::showHelp(HelpFile, pixmoor::HelpCommand::HelpOnHelp, this);
}

void TForm1::About1Click() {
    if (AboutBox) AboutBox->exec();
}

// ---- printing ----

void TForm1::PrintButtonClick() {
    if (!pixmoor::execPrintDialog(this)) return;
    PrintingBusy = true; // keeps Stop disabled: a sheet cannot be interrupted
    ProgressBar1->setValue(0);
    repaint();
    QCoreApplication::processEvents();
    const auto finish = [this] {
        enablewindow();
        ProgressBar1->hide();
        setStatusText(QStringLiteral("Finished Printing Images"));
        PrintingBusy = false;
    };
    try {
        setStatusText(QStringLiteral("Printing Images"));
        disablewindow();
        pixmoor::SheetRun run;
        run.directory = QDir::currentPath();
        run.captions = ListView1->captions();
        run.type = currentType_;
        run.thumb = QSize(ThumbWidth, ThumbHeight);
        if (Form3) {
            run.loader = &Form3->PMultiImage1->loader();
            run.pictureControl = Form3->Image1;
        }
        run.parent = this;
        run.beforeItem = [] { QCoreApplication::processEvents(); };
        run.progress = [this](int position) {
            ProgressBar1->setValue(position);
            ProgressBar1->repaint();
        };
        ProgressBar1->show();
        pixmoor::printThumbnailSheet(pixmoor::processPrinter(), run);
    } catch (...) {
        finish();
        throw; // the central handler reports it
    }
    finish();
}

void TForm1::Print2Click() {
    const int row = ListView1->selected();
    if (row < 0 || !OKBottomDlg || !Form7) return;
    if (!pixmoor::execPrintDialog(this)) return;
    const auto finish = [this] {
        enablewindow();
        setStatusText(QStringLiteral("Finished Printing"));
    };
    try {
        QCoreApplication::processEvents();
        disablewindow();
        setStatusText(QStringLiteral("printing Image"));
        pixmoor::printImageFile(ListView1->caption(row),
                                currentType_ && !currentType_->codec, *Form7->Image1,
                                *OKBottomDlg->PMultiImage1);
    } catch (...) {
        finish();
        throw; // the central handler reports it
    }
    finish();
}

void TForm1::PrintsetUp1Click() {
    pixmoor::execPrinterSetup(this);
}
