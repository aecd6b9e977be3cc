// Single-image printing.
#include "printing/print_image.h"

#include "imaging/TMultiP.h"
#include "imaging/picture.h"
#include "imaging/picture_control.h"
#include "platform/printer.h"
#include "printing/print_job.h"

#include <QPrinter>
#include <algorithm>

namespace pixmoor {

QSize printedImageSize(QSize image, QSize page) {
    const QSize tripled = image * 3;
    if (page.isEmpty() || (tripled.width() <= page.width() && tripled.height() <= page.height()))
        return tripled;
    const QSize fitted = tripled.scaled(page, Qt::KeepAspectRatio);
    return QSize(std::max(1, fitted.width()), std::max(1, fitted.height()));
}

void printPicture(QPrinter& printer, const Picture& picture, const QRect& target) {
    if (picture.isEmpty()) return;
    PrintJob job(printer);
    job.painter().setRenderHint(QPainter::Antialiasing, true);
    picture.draw(job.painter(), target, true);
    job.finish();
}

void printImageFile(const QString& name, bool pictureRoute, TImage& pictureControl,
                    TPMultiImage& component) {
    if (pictureRoute) {
        pictureControl.loadPicture(name);
        printPicture(processPrinter(), pictureControl.picture(), kPicturePrintRect);
        return;
    }
    component.setImageName(name);
    // The component sizes itself to its picture.
    const QPrinter& printer = processPrinter();
    const QSize size = printedImageSize(QSize(component.width(), component.height()),
                                        QSize(printer.width(), printer.height()));
    component.PrintImage(0, 0, size.width(), size.height());
}

} // namespace pixmoor
