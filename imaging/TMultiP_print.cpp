// The image component's printing: the picture as one document on the process printer.
#include "imaging/TMultiP.h"

#include "platform/printer.h"

#include <QPainter>
#include <QPrinter>
#include <stdexcept>

namespace pixmoor {

void TPMultiImage::PrintImage(int Left, int Top, int Width, int Height) {
    if (picture_.isEmpty() || picture_.width() <= 0 || picture_.height() <= 0) return;
    const QRect target(Left, Top, Width < 1 ? picture_.width() : Width,
                       Height < 1 ? picture_.height() : Height);
    QPrinter& printer = processPrinter();
    QPainter painter;
    if (!painter.begin(&printer))
        throw std::runtime_error("Printing failed: the printer cannot start");
    // A document that fails half-way is aborted, never left open or sent incomplete.
    struct Abort {
        QPrinter& printer;
        QPainter& painter;
        bool done = false;
        ~Abort() {
            if (done) return;
            printer.abort();
            painter.end();
        }
    } guard{printer, painter};
    // The page is the printable area: a picture larger than it is cut at its edge.
    painter.setClipRect(QRect(0, 0, printer.width(), printer.height()));
    // A bitmap unsmoothed; icons are always drawn smoothly, metafiles as vectors.
    picture_.draw(painter, target);
    guard.done = true;
    if (!painter.end()) throw std::runtime_error("Printing failed");
}

} // namespace pixmoor
