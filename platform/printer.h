// The process's one printer (Qt PrintSupport): every print job, page set-up and print dialog of
// the program works on this object, so a printer chosen once stays chosen for the whole run.
#pragma once

#include <QString>

class QPrinter;

namespace pixmoor {

// The printer, created on first use (a QApplication must exist) and destroyed with the
// application object.
QPrinter& processPrinter();

// Test hook: turns the process printer into a PDF printer writing to pdfFile, A4 portrait at
// the given resolution with Qt's default margins, so output can be rasterised and measured.
void useProcessPdfPrinter(const QString& pdfFile, int dotsPerInch = 300);

} // namespace pixmoor
