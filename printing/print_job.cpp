// A print document with its clean-up on every path.
#include "printing/print_job.h"

#include <QFile>
#include <QPrinter>
#include <stdexcept>

namespace pixmoor {

PrintJob::PrintJob(QPrinter& printer) : printer_(printer) {
    if (!painter_.begin(&printer_))
        throw std::runtime_error("Printing failed: the printer cannot start the document");
    open_ = true;
    // The page is the printable area: nothing reaches the margins, on paper or in a PDF file.
    painter_.setClipRect(QRect(QPoint(0, 0), pageSize()));
}

PrintJob::~PrintJob() {
    if (!open_) return;
    // A printer queue cancels the job. A PDF file cannot be cancelled once begun: it is ended
    // and removed, so no partial document passes for a finished one.
    const bool cancelled = printer_.abort();
    painter_.end();
    if (!cancelled && printer_.outputFormat() == QPrinter::PdfFormat &&
        !printer_.outputFileName().isEmpty())
        QFile::remove(printer_.outputFileName());
}

QSize PrintJob::pageSize() const {
    return QSize(printer_.width(), printer_.height());
}

void PrintJob::newPage() {
    if (!printer_.newPage())
        throw std::runtime_error("Printing failed: the printer refused a new page");
}

void PrintJob::finish() {
    open_ = false;
    if (!painter_.end())
        throw std::runtime_error("Printing failed: the document could not be completed");
}

} // namespace pixmoor
