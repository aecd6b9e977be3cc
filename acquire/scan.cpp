// The scan window: its component set up for scans, the File menu's commands, and Save As with
// the extension of the chosen format forced on the name.
#include "acquire/scan.h"

#include "imaging/file_types.h"
#include "operations/viewer_window.h"
#include "platform/message_box.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

TForm9* Form9 = nullptr;

namespace pixmoor {

const codec::FormatEntry& scanSaveFormat(int filterIndex) {
    const auto formats = codec::formatTable();
    const bool known = filterIndex >= 1 && std::size_t(filterIndex) <= formats.size();
    return formats[known ? std::size_t(filterIndex - 1) : 0];
}

QString forcedExtension(const QString& fileName, int filterIndex) {
    const QString extension = QLatin1Char('.') + usualExtension(scanSaveFormat(filterIndex).format);
    // Only the last part of the path is looked at: a dot in a folder's name is no extension,
    // nor is the dot that starts a hidden file's name.
    const qsizetype slash = fileName.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot > slash + 1) return fileName.left(dot) + extension;
    return fileName + extension;
}

} // namespace pixmoor

namespace {

QString filterText(const pixmoor::codec::FormatEntry& f) {
    return QStringLiteral("%1 (*.%2)")
        .arg(QLatin1String(f.title.data(), qsizetype(f.title.size())),
             pixmoor::usualExtension(f.format));
}

} // namespace

TForm9::TForm9(QWidget* parent) : QMainWindow(parent) {
    setupUi(this);
    for (QMenu* menu : {File1}) {
        menu->menuAction()->setStatusTip(menu->statusTip());
        menu->setStatusTip(QString());
    }

    PMultiImage1->setAutoSize(true);
    PMultiImage1->setCenter(true);
    PMultiImage1->setColor(PMultiImage1->palette().color(QPalette::Button)); // clBtnFace
    PMultiImage1->setImageDither(true);
    PMultiImage1->setImageReadRes(pixmoor::lAutoMatic);
    PMultiImage1->setImageWriteRes(pixmoor::sAutoMatic);
    PMultiImage1->setTifSaveCompress(pixmoor::sLZW);
    PMultiImage1->setJPegSaveQuality(25);
    PMultiImage1->setJPegSaveSmooth(0);
    PMultiImage1->setPNGInterLaced(false);
    PMultiImage1->setTextLeft(0);
    PMultiImage1->setTextTop(0);
    PMultiImage1->setTextRotate(0);
    PMultiImage1->setFocusPolicy(Qt::ClickFocus); // not in the tab order
    PMultiImage1->setImageName(QStringLiteral("file not found"));

    SaveDialog1 = new QFileDialog(this, QStringLiteral("Save Image"));
    SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
    SaveDialog1->setOption(QFileDialog::DontUseNativeDialog);
    // The overwrite questions are asked after the dialog, through the program's message box,
    // about the name typed and about the name really written.
    SaveDialog1->setOption(QFileDialog::DontConfirmOverwrite);
    SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog1->setFileMode(QFileDialog::AnyFile);
    QStringList filters;
    for (const auto& f : pixmoor::codec::formatTable()) filters << filterText(f);
    SaveDialog1->setNameFilters(filters);
    SaveDialog1->selectNameFilter(filters.first());

    connect(Scan2, &QAction::triggered, this, &TForm9::Scan2Click);
    connect(Scan1, &QAction::triggered, this, &TForm9::Scan1Click);
    connect(ToClipboard1, &QAction::triggered, this, &TForm9::ToClipboard1Click);
    connect(SaveAs1, &QAction::triggered, this, &TForm9::SaveAs1Click);
    connect(Exit1, &QAction::triggered, this, &TForm9::Exit1Click);
}

TForm9::~TForm9() {
    if (Form9 == this) Form9 = nullptr;
}

void TForm9::showScanWindow() {
    if (!shownBefore_ && !isVisible()) pixmoor::centreOnScreen(this);
    shownBefore_ = true;
    pixmoor::bringToFront(this);
}

void TForm9::Scan2Click() {
    PMultiImage1->ScanImage(this);
}

void TForm9::Scan1Click() {
    PMultiImage1->SelectScanner(this);
}

void TForm9::ToClipboard1Click() {
    PMultiImage1->CopyToClipboard();
}

void TForm9::Exit1Click() {
    close();
}

void TForm9::SaveAs1Click() {
    const QStringList filters = SaveDialog1->nameFilters();
    for (;;) {
        if (SaveDialog1->exec() != QDialog::Accepted) return;
        const QStringList files = SaveDialog1->selectedFiles();
        if (files.isEmpty() || files.first().isEmpty()) return;
        const QString typed = files.first();
        const int index = std::max(1, int(filters.indexOf(SaveDialog1->selectedNameFilter())) + 1);
        const QString folder = QFileInfo(typed).absolutePath();
        if (!QFileInfo(folder).isDir()) {
            pixmoor::showError(QStringLiteral("The folder \"%1\" does not exist.")
                                   .arg(QDir::toNativeSeparators(folder)),
                               this);
            continue;
        }
        if (pixmoor::ConfirmOverwrite(typed, this)) continue;
        // The name written can be another existing file than the one asked about.
        const QString name = pixmoor::forcedExtension(typed, index);
        if (name != typed && pixmoor::ConfirmOverwrite(name, this)) continue;
        PMultiImage1->loader().save(pixmoor::scanSaveFormat(index).format, name);
        return;
    }
}
