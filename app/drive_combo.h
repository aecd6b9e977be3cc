// DriveComboBox: the drive selector, listing the mounted real file systems ("/" first).
#pragma once

#include <QComboBox>
#include <QStringList>

namespace pixmoor {

class DriveComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit DriveComboBox(QWidget* parent = nullptr);

    // Reads the mount table again.
    void refreshDrives();
    void setDrives(const QStringList& drives);
    QStringList drives() const { return drives_; }
    // Shows the drive that holds directory, without emitting driveChosen.
    void showDriveOf(const QString& directory);

    // Reads the mount table again before opening, so drives mounted since show up.
    void showPopup() override;

signals:
    // The user chose a drive: its mount point.
    void driveChosen(const QString& mountPoint);

private:
    QStringList drives_;
    QString directory_; // the directory whose drive is shown
};

} // namespace pixmoor
