// TOKBottomDlg1, the drive information dialog: path, size, free and used space and type of the
// drive of the working directory, filled each time it is shown or activated.
#pragma once

#include "ui_drive.h"

#include <QDialog>

class TOKBottomDlg1 : public QDialog, public Ui::TOKBottomDlg1 {
    Q_OBJECT
public:
    explicit TOKBottomDlg1(QWidget* parent = nullptr);
    ~TOKBottomDlg1() override;

    // Fills the value labels for the working directory.
    void FormActivate();

protected:
    bool event(QEvent* e) override;
};

extern TOKBottomDlg1* OKBottomDlg1;

namespace pixmoor {

// The dialog's figures in units of 1024 bytes, truncated toward zero: a failed query (-1)
// shows 0. Used is size minus free, both already divided.
struct DriveFigures {
    qint64 sizeK = 0;
    qint64 freeK = 0;
    qint64 usedK = 0;
};
DriveFigures driveFigures(qint64 totalBytes, qint64 freeBytes);

// A figure as shown: the decimal number and " KBytes".
QString kbytesText(qint64 kbytes);

} // namespace pixmoor
