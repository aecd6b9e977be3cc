// The drive information dialog and its arithmetic (64-bit, so large disks show their real size).
#include "files/drive.h"

#include "platform/drive_type.h"
#include "platform/text_fit.h"

#include <QDir>
#include <QEvent>

TOKBottomDlg1* OKBottomDlg1 = nullptr;

TOKBottomDlg1::TOKBottomDlg1(QWidget* parent) : QDialog(parent) {
    setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(313, 214);
    // Captions that need more room than designed (the desktop's font) get it.
    pixmoor::fitTextToFont(this);
    connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
}

TOKBottomDlg1::~TOKBottomDlg1() {
    if (OKBottomDlg1 == this) OKBottomDlg1 = nullptr;
}

bool TOKBottomDlg1::event(QEvent* e) {
    if (e->type() == QEvent::Show || e->type() == QEvent::WindowActivate) FormActivate();
    return QDialog::event(e);
}

void TOKBottomDlg1::FormActivate() {
    const QString dir = QDir::currentPath();
    Path->setText(dir);
    const pixmoor::DriveSpace space = pixmoor::driveSpaceOf(dir);
    const pixmoor::DriveFigures figures = pixmoor::driveFigures(space.total, space.free);
    Size->setText(pixmoor::kbytesText(figures.sizeK));
    Free->setText(pixmoor::kbytesText(figures.freeK));
    Used->setText(pixmoor::kbytesText(figures.usedK));
    Removable->setText(pixmoor::driveTypeText(pixmoor::driveTypeOfPath(dir)));
}

namespace pixmoor {

DriveFigures driveFigures(qint64 totalBytes, qint64 freeBytes) {
    DriveFigures f;
    f.sizeK = totalBytes / 1024;
    f.freeK = freeBytes / 1024;
    f.usedK = f.sizeK - f.freeK;
    return f;
}

QString kbytesText(qint64 kbytes) {
    return QString::number(kbytes) + QStringLiteral(" KBytes");
}

} // namespace pixmoor
