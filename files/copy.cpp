// Copy and move: the target dialog, the copy routine and the walk.
#include "files/copy.h"

#include "platform/directory_chooser.h"
#include "platform/file_attributes.h"
#include "platform/file_copy.h"
#include "platform/file_name.h"
#include "platform/message_box.h"
#include "platform/text_fit.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QShowEvent>

bool TargetAccepted = false;
TForm5* Form5 = nullptr;

TForm5::TForm5(QWidget* parent) : QDialog(parent) {
    setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(290, 130);
    // Captions that need more room than designed (the desktop's font) get it.
    pixmoor::fitTextToFont(this);
    connect(Okbutton, &QPushButton::clicked, this, &TForm5::OkbuttonClick);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(BrowseButton, &QPushButton::clicked, this, &TForm5::BrowseButtonClick);
}

TForm5::~TForm5() {
    if (Form5 == this) Form5 = nullptr;
}

void TForm5::setMode(bool move) {
    setWindowTitle(move ? QStringLiteral("Move") : QStringLiteral("Copy"));
    Label1->setText(move ? QStringLiteral("Location to Move Files")
                         : QStringLiteral("Location to Copy Files"));
}

void TForm5::showEvent(QShowEvent* event) {
    // Cleared on each showing, not on each activation: the chooser and the message boxes
    // activate the dialog again when they close.
    if (!event->spontaneous()) FormActivate();
    QDialog::showEvent(event);
}

void TForm5::FormActivate() {
    Edit1->clear();
    TargetAccepted = false;
    Edit1->setFocus();
}

void TForm5::OkbuttonClick() {
    if (Edit1->text().isEmpty())
        pixmoor::showError(QStringLiteral("No target path specified"), this);
    else
        TargetAccepted = true;
    accept();
}

void TForm5::BrowseButtonClick() {
    pixmoor::DirectoryChooser chooser(QDir::currentPath(), this);
    if (chooser.exec() == QDialog::Accepted) Edit1->setText(chooser.chosenDirectory());
}

namespace pixmoor {

CopyResult CopyMoveFile(const QString& FileName, const QString& SourceDir, const QString& TargetDir,
                        bool Move, QWidget* parent, const std::function<void()>& pulse) {
    const QString source = joinPath(SourceDir, FileName);
    const QString target = joinPath(TargetDir, FileName);
    CopyFileOptions options;
    options.pulse = pulse;
    if (entryExists(target)) {
        const MessageButton answer = showMessage(
            {MessageKind::Confirmation,
             QStringLiteral("File already exists ") + FileName + QStringLiteral(" Overwrite ?"),
             {MessageButton::No, MessageButton::Ok},
             MessageButton::Ok,
             MessageButton::No},
            parent);
        if (answer != MessageButton::Ok) return CopyResult::Skipped;
        options.placement = Placement::Replace;
    }
    int error;
    bool removed = false;
    if (Move) {
        error = moveFileAtomically(source, target, removed, options);
    } else {
        // The old target is at stake: flush before it goes.
        options.durable = options.placement == Placement::Replace;
        error = copyFileAtomically(source, target, options);
    }
    if (error != 0) {
        showError(QStringLiteral("Error copying file ") + FileName, parent);
        return CopyResult::Failed;
    }
    // A source that cannot be removed stays; the copy exists. Nothing is reported.
    return removed ? CopyResult::Moved : CopyResult::Copied;
}

void changeAttrib(const QString& path) {
    const std::optional<AttributeWord> old = readFileAttributes(path);
    if (!old) return;
    const AttributeWord plain =
        AttributeWord((*old & ~(kAttrReadOnly | kAttrHidden | kAttrSystem)) | kAttrArchive);
    if (plain != *old) writeFileAttributes(path, plain);
}

std::optional<QString> prepareTarget(const QString& typed, const QString& sourceDir,
                                     QWidget* parent) {
    const QString target = QDir::cleanPath(QDir(sourceDir).absoluteFilePath(typed));
    const QFileInfo info(target);
    if (!info.isDir() || !info.isExecutable()) {
        const MessageButton answer = showMessage(
            {MessageKind::Confirmation,
             QStringLiteral("Path does not exist ") + typed + QStringLiteral(" Create ?"),
             {MessageButton::Ok, MessageButton::Cancel}},
            parent);
        if (answer != MessageButton::Ok) return std::nullopt;
        if (!QDir().mkpath(target) || !QFileInfo(target).isDir()) {
            showError(QStringLiteral("Error cannot create path ") + typed, parent);
            return std::nullopt;
        }
    }
    if (refuseSourceAsTarget(sourceDir, target, parent)) return std::nullopt;
    return target;
}

bool refuseSourceAsTarget(const QString& sourceDir, const QString& target, QWidget* parent) {
    if (!sameDirectory(sourceDir, target)) return false;
    showError(QStringLiteral("Target is the source directory ") + target, parent);
    return true;
}

QList<int> copyMoveItems(const QStringList& captions, const QList<int>& selectedRows,
                         const FileWalk& walk) {
    const QSet<int> selected(selectedRows.begin(), selectedRows.end());
    QList<int> gone;
    const int count = int(captions.size());
    for (int row = 0; row < count; ++row) {
        if (walk.beforeItem) walk.beforeItem();
        if (!selected.contains(row)) continue;
        const QString& caption = captions[row];
        if (walk.prepare) walk.prepare(caption);
        if (CopyMoveFile(caption, walk.sourceDir, walk.targetDir, walk.move, walk.parent,
                         walk.pulse) == CopyResult::Moved)
            gone.append(row);
    }
    return gone;
}

} // namespace pixmoor
