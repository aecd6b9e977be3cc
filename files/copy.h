// Copy and move: the target dialog TForm5, the copy routine CopyMoveFile, the walk over the
// selected items and the attribute change made before a file is copied, moved or deleted.
#pragma once

#include "ui_copy.h"

#include <QDialog>
#include <QList>
#include <QStringList>
#include <functional>
#include <optional>

// Set by the target dialog's OK button when a target was typed; cleared each time it is shown.
extern bool TargetAccepted;

class TForm5 : public QDialog, public Ui::TForm5 {
    Q_OBJECT
public:
    explicit TForm5(QWidget* parent = nullptr);
    ~TForm5() override;

    // Caption and label for the mode: "Copy" / "Location to Copy Files" or "Move" / ...
    void setMode(bool move);
    // Clears Edit1 and TargetAccepted; runs each time the dialog is shown.
    void FormActivate();
    void OkbuttonClick();
    // The directory chooser; its path replaces Edit1's text when it ends with OK.
    void BrowseButtonClick();

protected:
    void showEvent(QShowEvent* event) override;
};

extern TForm5* Form5;

namespace pixmoor {

// What became of one file.
enum class CopyResult { Copied, Moved, Skipped, Failed };

// Copies (or moves) SourceDir/FileName to TargetDir/FileName. An existing target is replaced only
// after "File already exists ... Overwrite ?" is answered with OK, and only once the copy is
// complete; any failure shows "Error copying file " + FileName, leaves the target as it was and
// no temporary file behind, and keeps the source. A move removes the source only after the
// whole copy is on the disk. pulse is called between chunks of a large file.
CopyResult CopyMoveFile(const QString& FileName, const QString& SourceDir, const QString& TargetDir,
                        bool Move, QWidget* parent = nullptr,
                        const std::function<void()>& pulse = {});

// Makes the file plain before it is copied, moved or deleted: read-only, hidden and system
// cleared, archive set, other bits kept; written only when the word changes, failures ignored.
void changeAttrib(const QString& path);

// The command's steps between the dialog and the walk: typed is taken relative to sourceDir; a
// missing target is offered for creation ("Path does not exist ..."); the source directory
// itself is refused. The absolute target, or nothing when the command ends here.
std::optional<QString> prepareTarget(const QString& typed, const QString& sourceDir,
                                     QWidget* parent);

// Shows an error and returns true when target is the source directory (any spelling, symbolic
// links and bind mounts included): copying a directory onto itself would destroy its files.
bool refuseSourceAsTarget(const QString& sourceDir, const QString& target, QWidget* parent);

struct FileWalk {
    QString sourceDir;
    QString targetDir;
    bool move = false;
    QWidget* parent = nullptr;
    // Runs before each item (the window repaints between files).
    std::function<void()> beforeItem;
    // Runs on each selected caption before its file is copied (ChangeAttrib).
    std::function<void(const QString&)> prepare;
    // Runs between chunks of a large file.
    std::function<void()> pulse;
};

// Walks every item in list order and copies or moves the file of each selected one. Returns the
// rows whose file really left the source directory (always empty for a copy).
QList<int> copyMoveItems(const QStringList& captions, const QList<int>& selectedRows,
                         const FileWalk& walk);

} // namespace pixmoor
