// The rename dialog and the rename itself (renameat2 with RENAME_NOREPLACE).
#include "files/rename.h"

#include "platform/file_copy.h"
#include "platform/file_name.h"
#include "platform/message_box.h"
#include "platform/text_fit.h"

#include <QDir>
#include <cerrno>

TForm4* Form4 = nullptr;

TForm4::TForm4(QWidget* parent) : QDialog(parent) {
    setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(294, 112);
    // Captions that need more room than designed (the desktop's font) get it.
    pixmoor::fitTextToFont(this);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
}

TForm4::~TForm4() {
    if (Form4 == this) Form4 = nullptr;
}

std::optional<QString> TForm4::renameFile(const QString& caption, const QString& dir) {
    Label2->setText(caption);
    Edit1->clear();
    Edit1->setFocus();
    if (exec() != QDialog::Accepted) return std::nullopt;
    const QString newName = Edit1->text();
    if (!pixmoor::renameListFile(caption, newName, dir, parentWidget())) return std::nullopt;
    return newName;
}

namespace pixmoor {

bool renameListFile(const QString& caption, const QString& newName, const QString& dir,
                    QWidget* parent) {
    // Tested before the existence check: an empty name would otherwise name the directory.
    if (newName.isEmpty()) {
        showError(QStringLiteral("No Name Provided"), parent);
        return false;
    }
    const QString to = QDir(dir).absoluteFilePath(newName);
    if (entryExists(to)) {
        showError(QStringLiteral("File Already Exists ") + newName, parent);
        return false;
    }
    const int error = renameNoReplace(joinPath(dir, caption), to);
    if (error == EEXIST) {
        // Appeared since the check: the file that is there now stays.
        showError(QStringLiteral("File Already Exists ") + newName, parent);
        return false;
    }
    if (error != 0) {
        showError(QStringLiteral("Cannot Rename File"), parent);
        return false;
    }
    return true;
}

} // namespace pixmoor
