// The process's one printer, created lazily and released when the application object goes.
#include "platform/printer.h"

#include <QCoreApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>

namespace pixmoor {

namespace {

QPrinter*& printerSlot() {
    static QPrinter* printer = nullptr;
    return printer;
}

// Runs inside QCoreApplication's destructor, while the print-support plugin is still loaded.
void releasePrinter() {
    delete printerSlot();
    printerSlot() = nullptr;
}

} // namespace

QPrinter& processPrinter() {
    QPrinter*& printer = printerSlot();
    if (!printer) {
        printer = new QPrinter(QPrinter::HighResolution);
        qAddPostRoutine(releasePrinter);
    }
    return *printer;
}

void useProcessPdfPrinter(const QString& pdfFile, int dotsPerInch) {
    QPrinter& printer = processPrinter();
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdfFile);
    printer.setResolution(dotsPerInch);
    printer.setFullPage(false);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageOrientation(QPageLayout::Portrait);
}

} // namespace pixmoor
