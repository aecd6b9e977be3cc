// The directory chooser: a typed directory that does not exist yet is created on request.
#include "platform/directory_chooser.h"

#include "platform/message_box.h"

#include <QDir>
#include <QFileInfo>

namespace pixmoor {

DirectoryChooser::DirectoryChooser(const QString& start, QWidget* parent)
    : QFileDialog(parent, QStringLiteral("Select Directory"), start) {
    setOption(QFileDialog::DontUseNativeDialog);
    setOption(QFileDialog::ShowDirsOnly);
    setFileMode(QFileDialog::Directory);
    setAcceptMode(QFileDialog::AcceptOpen);
    setLabelText(QFileDialog::FileName, QStringLiteral("Directory &Name:"));
}

QString DirectoryChooser::chosenDirectory() const {
    const QStringList chosen = selectedFiles();
    return chosen.isEmpty() ? directory().absolutePath()
                            : QDir::cleanPath(QDir(directory()).absoluteFilePath(chosen.first()));
}

void DirectoryChooser::accept() {
    const QString dir = chosenDirectory();
    const QFileInfo info(dir);
    if (info.isDir()) {
        QDialog::accept();
        return;
    }
    if (info.exists()) {
        showError(QStringLiteral("Not a directory ") + dir, this);
        return;
    }
    // No: back to the chooser.
    if (!askYesNo(QStringLiteral("The specified directory does not exist. Create it?"), this))
        return;
    if (!QDir().mkpath(dir)) {
        showError(QStringLiteral("Error cannot create path ") + dir, this);
        return;
    }
    QDialog::accept();
}

} // namespace pixmoor
