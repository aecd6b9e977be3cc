// The process's one printer (Qt PrintSupport): every print job, page set-up and print dialog of
// the program works on this object, so a printer chosen once stays chosen for the whole run.
#pragma once

#include <QString>

class QPrinter;

namespace pixmoor {

// The printer, created on first use (a QApplication must exist) and destroyed with the
// application object.
QPrinter& processPrinter();

// Lays out printer's pages as its queue prints them: device pixels at the queue's own default
// resolution (300 dpi when the queue names none), and device (0, 0) at the printable area's
// top-left corner, the paper's unprintable edges being the only margins. Called whenever a
// printer, paper or orientation has been chosen. A PDF file printer keeps its own set-up.
void fitPrinterToQueue(QPrinter& printer);

// The default resolution, in dots per inch, of the print queue name ("queue" or
// "queue/instance") as its server reports it; 0 when there is no such queue or it names none.
int queueResolution(const QString& name);

// Test hook: turns the process printer into a PDF printer writing to pdfFile, A4 portrait at
// the given resolution with Qt's default margins, so output can be rasterised and measured.
void useProcessPdfPrinter(const QString& pdfFile, int dotsPerInch = 300);

} // namespace pixmoor
