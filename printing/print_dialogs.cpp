// The print and printer set-up dialogs.
#include "printing/print_dialogs.h"

#include "platform/message_box.h"
#include "platform/printer.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPageLayout>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QRadioButton>
#include <QVBoxLayout>

namespace pixmoor {

namespace {

PrintDialogHandler& dialogHandler() {
    static PrintDialogHandler handler;
    return handler;
}

} // namespace

QString noPrinterText() {
    return QStringLiteral("No printer is installed. Add a printer in the system's printer "
                          "settings, then try again.");
}

bool printerReady(const QPrinter& printer) {
    if (printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty())
        return true;
    return !QPrinterInfo::availablePrinterNames().isEmpty();
}

void setPrintDialogHandler(PrintDialogHandler handler) {
    dialogHandler() = std::move(handler);
}

bool execPrintDialog(QWidget* parent) {
    QPrinter& printer = processPrinter();
    if (!printerReady(printer)) {
        // Qt's dialog would offer an empty printer list and then print nowhere.
        showError(noPrinterText(), parent);
        return false;
    }
    QPrintDialog dialog(&printer, parent);
    dialog.setOptions(QAbstractPrintDialog::PrintShowPageSize |
                      QAbstractPrintDialog::PrintCollateCopies);
    const PrintDialogHandler& handler = dialogHandler();
    const bool accepted = handler ? handler(dialog) : dialog.exec() == QDialog::Accepted;
    // The printer, paper or orientation may have changed with the dialog.
    if (accepted) fitPrinterToQueue(printer);
    return accepted;
}

PrinterSetupDialog::PrinterSetupDialog(QPrinter& printer, QWidget* parent)
    : QDialog(parent), printer_(printer) {
    setObjectName(QStringLiteral("PrinterSetupDialog1"));
    setWindowTitle(QStringLiteral("Print Setup"));

    auto* printerBox = new QGroupBox(QStringLiteral("Printer"), this);
    PrinterCombo = new QComboBox(printerBox);
    PrinterCombo->setObjectName(QStringLiteral("PrinterCombo"));
    auto* printerForm = new QFormLayout(printerBox);
    printerForm->addRow(QStringLiteral("&Name:"), PrinterCombo);

    auto* paperBox = new QGroupBox(QStringLiteral("Paper"), this);
    PaperCombo = new QComboBox(paperBox);
    PaperCombo->setObjectName(QStringLiteral("PaperCombo"));
    auto* paperForm = new QFormLayout(paperBox);
    paperForm->addRow(QStringLiteral("Si&ze:"), PaperCombo);

    auto* orientationBox = new QGroupBox(QStringLiteral("Orientation"), this);
    PortraitButton = new QRadioButton(QStringLiteral("P&ortrait"), orientationBox);
    PortraitButton->setObjectName(QStringLiteral("PortraitButton"));
    LandscapeButton = new QRadioButton(QStringLiteral("L&andscape"), orientationBox);
    LandscapeButton->setObjectName(QStringLiteral("LandscapeButton"));
    auto* orientationLayout = new QVBoxLayout(orientationBox);
    orientationLayout->addWidget(PortraitButton);
    orientationLayout->addWidget(LandscapeButton);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* lower = new QHBoxLayout;
    lower->addWidget(paperBox, 1);
    lower->addWidget(orientationBox);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(printerBox);
    layout->addLayout(lower);
    layout->addWidget(buttons);

    const QStringList names = QPrinterInfo::availablePrinterNames();
    PrinterCombo->addItems(names);
    QString current =
        printer_.outputFormat() == QPrinter::NativeFormat ? printer_.printerName() : QString();
    if (!names.contains(current)) current = QPrinterInfo::defaultPrinterName();
    PrinterCombo->setCurrentIndex(std::max(0, int(names.indexOf(current))));
    fillPapers();
    connect(PrinterCombo, &QComboBox::currentIndexChanged, this, [this] { fillPapers(); });

    const bool landscape = printer_.pageLayout().orientation() == QPageLayout::Landscape;
    (landscape ? LandscapeButton : PortraitButton)->setChecked(true);
}

void PrinterSetupDialog::fillPapers() {
    const QPageSize current = PaperCombo->count() > 0 ? PaperCombo->currentData().value<QPageSize>()
                                                      : printer_.pageLayout().pageSize();
    PaperCombo->clear();
    const QPrinterInfo info = QPrinterInfo::printerInfo(PrinterCombo->currentText());
    QList<QPageSize> sizes = info.supportedPageSizes();
    if (sizes.isEmpty()) sizes = {QPageSize(QPageSize::A4), QPageSize(QPageSize::Letter)};
    int chosen = -1;
    for (const QPageSize& size : sizes) {
        if (size.isEquivalentTo(current)) chosen = int(PaperCombo->count());
        PaperCombo->addItem(size.name(), QVariant::fromValue(size));
    }
    if (chosen < 0) {
        const QPageSize fallback = info.defaultPageSize();
        for (int i = 0; i < PaperCombo->count() && chosen < 0; ++i)
            if (PaperCombo->itemData(i).value<QPageSize>().isEquivalentTo(fallback)) chosen = i;
    }
    PaperCombo->setCurrentIndex(std::max(0, chosen));
}

void PrinterSetupDialog::accept() {
    if (!PrinterCombo->currentText().isEmpty()) {
        printer_.setOutputFileName(QString());
        printer_.setOutputFormat(QPrinter::NativeFormat);
        printer_.setPrinterName(PrinterCombo->currentText());
    }
    if (PaperCombo->currentIndex() >= 0)
        printer_.setPageSize(PaperCombo->currentData().value<QPageSize>());
    printer_.setPageOrientation(LandscapeButton->isChecked() ? QPageLayout::Landscape
                                                             : QPageLayout::Portrait);
    fitPrinterToQueue(printer_);
    QDialog::accept();
}

void execPrinterSetup(QWidget* parent) {
    QPrinter& printer = processPrinter();
    if (QPrinterInfo::availablePrinterNames().isEmpty()) {
        showError(noPrinterText(), parent);
        return;
    }
    PrinterSetupDialog dialog(printer, parent);
    dialog.exec();
}

} // namespace pixmoor
