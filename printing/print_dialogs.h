// The print dialog (printing to a file disabled) and the printer set-up dialog, both on the
// process's one printer, so a printer chosen in either stays chosen until the program ends; and
// the clear refusal when no printer is installed at all.
#pragma once

#include <QDialog>
#include <QPageSize>
#include <functional>

class QComboBox;
class QPrintDialog;
class QPrinter;
class QRadioButton;

namespace pixmoor {

// Shown instead of either dialog when there is nothing to print on.
QString noPrinterText();

// Whether printer can print: it is a file printer set up by a tool, or some printer is installed.
bool printerReady(const QPrinter& printer);

// Shows the print dialog for the process printer (no printing to a file, no page range). Returns
// false when the user cancels, or when no printer is installed (said in an error box first).
bool execPrintDialog(QWidget* parent);

// Tests and tools answer the print dialog without a person: while a handler is installed,
// execPrintDialog hands it the prepared dialog instead of showing it and takes its answer
// (true: print). Pass an empty function to remove it.
using PrintDialogHandler = std::function<bool(QPrintDialog& dialog)>;
void setPrintDialogHandler(PrintDialogHandler handler);

// The printer set-up dialog: the printer, its paper size and the orientation. OK applies them
// to the printer it was made for.
class PrinterSetupDialog : public QDialog {
    Q_OBJECT
public:
    explicit PrinterSetupDialog(QPrinter& printer, QWidget* parent = nullptr);

    QComboBox* PrinterCombo = nullptr;
    QComboBox* PaperCombo = nullptr;
    QRadioButton* PortraitButton = nullptr;
    QRadioButton* LandscapeButton = nullptr;

public slots:
    void accept() override;

private:
    // Fills the paper list with the sizes the chosen printer takes, keeping the current size
    // when it has it.
    void fillPapers();

    QPrinter& printer_;
};

// Shows the printer set-up dialog for the process printer, or the no-printer error.
void execPrinterSetup(QWidget* parent);

} // namespace pixmoor
