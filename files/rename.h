// TForm4, the rename dialog, and the rename of the first selected file.
#pragma once

#include "ui_rename.h"

#include <QDialog>
#include <optional>

class TForm4 : public QDialog, public Ui::TForm4 {
    Q_OBJECT
public:
    explicit TForm4(QWidget* parent = nullptr);
    ~TForm4() override;

    // Asks for a new name for the file caption of directory dir and renames it. Returns the new
    // name (as typed) when the file was renamed; errors are shown here.
    std::optional<QString> renameFile(const QString& caption, const QString& dir);
};

extern TForm4* Form4;

namespace pixmoor {

// Renames dir/caption to newName (resolved against dir; it may hold a path). Never replaces an
// existing file, also when one appears at the last moment. Shows "No Name Provided",
// "File Already Exists " + newName or "Cannot Rename File" and returns false when it did not
// rename.
bool renameListFile(const QString& caption, const QString& newName, const QString& dir,
                    QWidget* parent);

} // namespace pixmoor
