// Acquiring an image and choosing its source over SANE: the codec contract's acquire and
// select-source operations, with the dialogs a SANE driver does not have of its own (the device
// list, the options of a device, the progress of a scan).
#pragma once

#include "imaging/codec/raster.h"

#include <QDialog>
#include <QString>
#include <functional>
#include <string>

class QWidget;

namespace pixmoor {

// What a scan or selection reports besides its result code.
struct ScanReport {
    std::string detail; // on failure: the driver's status ("Device busy") or what went wrong
    double dpiX = 0;    // the resolution scanned at; 0 when the device does not say
    double dpiY = 0;
};

// Acquires one image from the chosen source (the first one found when none was chosen) and
// brings it to `bits` (0, 1, 4, 8, 24) with or without dithering. hide 0 first shows the options
// dialog (Scan or Cancel); -1 scans at once with the options of the last scan. The reading runs
// on a worker thread under a progress dialog whose Cancel stops it. Returns a codec result:
// Ok, NoScanner, ScanFailed, ScanCancelled, or a raster error.
int acquireImage(QWidget* parent, int bits, int dither, int hide, codec::Raster& out,
                 ScanReport* report = nullptr);

// Lists the devices SANE finds and lets the user choose one; the choice holds for the rest of
// the process. Ok when a device was chosen, ScanCancelled when the list was dismissed,
// NoScanner when there is none.
int selectSource(QWidget* parent, ScanReport* report = nullptr);

// The device chosen by selectSource; empty while none was chosen.
std::string chosenSource();
void setChosenSource(const std::string& name);
// Forgets the chosen source and the options remembered for every device.
void forgetScannerSettings();

// Tests answer the device list and the options dialog without a person: while a handler is
// installed it is called with the dialog, ready to show, instead of running it, and its return
// value (QDialog::Accepted or Rejected) stands for the dialog's.
using ScanDialogHandler = std::function<int(QDialog&)>;
void setScanDialogHandler(ScanDialogHandler handler);

} // namespace pixmoor
