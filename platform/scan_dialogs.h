// The windows a SANE driver does not have of its own: the list of devices to choose from, the
// options of one device (built from its option descriptors), and the progress of a scan.
#pragma once

#include "platform/sane.h"

#include <QDialog>
#include <QString>
#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <vector>

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTimer;
class QVBoxLayout;

namespace pixmoor {

// "Select Source": one line per device ("Vendor Model (name)"), the current choice selected.
class ScanSourceDialog : public QDialog {
    Q_OBJECT
public:
    ScanSourceDialog(std::vector<sane::DeviceInfo> devices, const std::string& current,
                     QWidget* parent = nullptr);

    QListWidget* SourceList = nullptr;
    // The device of the selected line; empty when none is selected.
    std::string chosen() const;

private:
    std::vector<sane::DeviceInfo> devices_;
};

// The options of an open device. A first page "Scan" holds the options every scan is about
// (mode, depth, resolution, source and the scan area); the driver's other options follow on one
// page per group of the driver. Each control sets its option on the device as soon as it
// changes; when the driver answers that other options changed, the pages are built again.
// Options that are inactive or cannot be read are left out; read-only ones are shown disabled.
class ScanOptionsDialog : public QDialog {
    Q_OBJECT
public:
    ScanOptionsDialog(sane::Device& device, const QString& deviceTitle, QWidget* parent = nullptr);

    // The control of an option by its SANE name ("mode", "resolution", "br-x"), or null. A spin
    // box, a combo box, a check box, a line edit or a button, named after the option.
    QWidget* control(const QString& optionName) const;

    QTabWidget* Pages = nullptr;
    QPushButton* ScanButton = nullptr;
    QPushButton* CancelButton = nullptr;

    // The SANE names of the options on the first page, in their order there.
    static const std::vector<std::string>& scanPageOptions();

private:
    void rebuild();
    QWidget* makeControl(int index, const SANE_Option_Descriptor& option);
    // Sets an option through `set`; rebuilds the pages when the driver asks for it or refuses.
    void apply(const std::function<SANE_Status(SANE_Int*)>& set);

    sane::Device& device_;
    QVBoxLayout* layout_ = nullptr;
    std::map<QString, QWidget*> controls_;
};

// The progress of a scan read on another thread: a bar (moving without an end when the length is
// unknown) and Cancel. Cancel, Escape and the close box ask the reading to stop; the dialog
// closes itself once `finished` says the reading has ended.
class ScanProgressDialog : public QDialog {
    Q_OBJECT
public:
    ScanProgressDialog(const sane::ScanProgress& progress, std::atomic<bool>& cancel,
                       std::function<bool()> finished, QWidget* parent = nullptr);

    QLabel* StatusLabel = nullptr;
    QProgressBar* ProgressBar = nullptr;
    QPushButton* CancelButton = nullptr;

    // How often the bar and the end of the reading are looked at.
    static constexpr int kPollMs = 40;

public slots:
    void reject() override;

private:
    void poll();

    const sane::ScanProgress& progress_;
    std::atomic<bool>& cancel_;
    std::function<bool()> finished_;
    QTimer* timer_ = nullptr;
};

} // namespace pixmoor
