// The process's one printer, created lazily and released when the application object goes.
#include "platform/printer.h"

#include <QCoreApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>
#include <cmath>
#include <cups/cups.h>
#include <memory>

namespace pixmoor {

namespace {

QPrinter*& printerSlot() {
    static QPrinter* printer = nullptr;
    return printer;
}

// The resolution a queue is laid out at when it reports none: what most printers print at.
constexpr int kFallbackResolution = 300;

struct DestsFree {
    void operator()(cups_dest_t* dest) const { cupsFreeDests(1, dest); }
};
struct DestInfoFree {
    void operator()(cups_dinfo_t* info) const { cupsFreeDestInfo(info); }
};

// Runs inside QCoreApplication's destructor, while the print-support plugin is still loaded.
void releasePrinter() {
    delete printerSlot();
    printerSlot() = nullptr;
}

} // namespace

QPrinter& processPrinter() {
    QPrinter*& printer = printerSlot();
    if (!printer) {
        // Printer resolution: the sheet's cells and gaps are device pixels, so they keep their
        // size on paper only at the resolution the queue prints at (fitPrinterToQueue sets it).
        printer = new QPrinter(QPrinter::PrinterResolution);
        qAddPostRoutine(releasePrinter);
        fitPrinterToQueue(*printer);
    }
    return *printer;
}

int queueResolution(const QString& name) {
    if (name.isEmpty()) return 0;
    const QByteArray queue = name.section(QLatin1Char('/'), 0, 0).toLocal8Bit();
    const QByteArray instance = name.section(QLatin1Char('/'), 1).toLocal8Bit();
    const std::unique_ptr<cups_dest_t, DestsFree> dest(cupsGetNamedDest(
        CUPS_HTTP_DEFAULT, queue.constData(), instance.isEmpty() ? nullptr : instance.constData()));
    if (!dest) return 0;
    const std::unique_ptr<cups_dinfo_t, DestInfoFree> info(
        cupsCopyDestInfo(CUPS_HTTP_DEFAULT, dest.get()));
    if (!info) return 0;
    ipp_attribute_t* value =
        cupsFindDestDefault(CUPS_HTTP_DEFAULT, dest.get(), info.get(), "printer-resolution");
    if (!value || ippGetValueTag(value) != IPP_TAG_RESOLUTION || ippGetCount(value) < 1) return 0;
    int vertical = 0;
    ipp_res_t units = IPP_RES_PER_INCH;
    const int horizontal = ippGetResolution(value, 0, &vertical, &units);
    const double perInch = units == IPP_RES_PER_CM ? horizontal * 2.54 : double(horizontal);
    // Anything outside what printers print at is a broken answer, not a resolution.
    if (!(perInch >= 10 && perInch <= 20000)) return 0;
    return int(std::lround(perInch));
}

void fitPrinterToQueue(QPrinter& printer) {
    if (printer.outputFormat() != QPrinter::NativeFormat) return;
    // Qt lays a queue out at 72 dpi in printer-resolution mode, whatever the queue prints at.
    int dotsPerInch = queueResolution(printer.printerName());
    if (dotsPerInch <= 0) dotsPerInch = kFallbackResolution;
    if (printer.resolution() != dotsPerInch) printer.setResolution(dotsPerInch);
    // The printable area begins where the paper can be printed on, not Qt's default margins in.
    printer.setFullPage(false);
    const QPageLayout layout = printer.pageLayout();
    printer.setPageMargins(layout.minimumMargins(), layout.units());
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
