// The drive selector.
#include "app/drive_combo.h"

#include "platform/drives.h"

namespace pixmoor {

DriveComboBox::DriveComboBox(QWidget* parent) : QComboBox(parent) {
    setSizeAdjustPolicy(AdjustToMinimumContentsLengthWithIcon);
    connect(this, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && index < drives_.size()) emit driveChosen(drives_[index]);
    });
    refreshDrives();
}

void DriveComboBox::refreshDrives() {
    setDrives(mountedDrives());
}

void DriveComboBox::showPopup() {
    refreshDrives();
    QComboBox::showPopup();
}

void DriveComboBox::setDrives(const QStringList& drives) {
    const QSignalBlocker block(this);
    drives_ = drives;
    clear();
    addItems(drives_);
    if (!directory_.isEmpty()) showDriveOf(directory_);
}

void DriveComboBox::showDriveOf(const QString& directory) {
    const QSignalBlocker block(this);
    directory_ = directory;
    setCurrentIndex(int(drives_.indexOf(driveOf(directory, drives_))));
}

} // namespace pixmoor
