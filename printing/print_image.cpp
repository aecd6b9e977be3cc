// Single-image printing.
#include "printing/print_image.h"

#include "imaging/TMultiP.h"
#include "imaging/picture.h"
#include "imaging/picture_control.h"
#include "platform/printer.h"
#include "printing/print_job.h"

#include <QPrinter>

namespace pixmoor {

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
    // The component sizes itself to its picture: three printer pixels for each image pixel.
    component.PrintImage(0, 0, 3 * component.width(), 3 * component.height());
}

} // namespace pixmoor
