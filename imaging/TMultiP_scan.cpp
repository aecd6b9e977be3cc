// The image component's scanning: ScanImage and SelectScanner over the scanner library, and the
// unit-wide ScanBusy that refuses a second request while one runs.
#include "imaging/TMultiP.h"

#include "imaging/codec/errors.h"
#include "imaging/raster_image.h"
#include "platform/message_box.h"
#include "platform/scanner.h"

#include <cmath>

namespace pixmoor {

namespace {

// True while an acquisition or a source selection runs (its dialogs keep the events flowing, so
// another request can arrive meanwhile).
bool ScanBusy = false;

class BusyFlag {
public:
    BusyFlag() { ScanBusy = true; }
    ~BusyFlag() { ScanBusy = false; }
    BusyFlag(const BusyFlag&) = delete;
    BusyFlag& operator=(const BusyFlag&) = delete;
};

// The library's error box: its text for the code and, on a line of its own, what the driver
// said, so "no scanner found" and "device busy" can be told apart.
void showScanError(int result, const std::string& detail, QWidget* parent) {
    QString text = QString::fromUtf8(codec::errorText(result));
    if (!detail.empty()) text += QLatin1Char('\n') + QString::fromStdString(detail);
    showError(text, parent);
}

int dotsPerMetre(double dpi) {
    return int(std::lround(dpi / 0.0254));
}

} // namespace

void TPMultiImage::ScanImage(QWidget* ParentWindow) {
    const int bits = loader_.decodeBits();
    const int dither = loader_.decodeDither();
    const int hide = useTwainWindow_ ? 0 : -1;
    ClearImage();
    try {
        QImage bitmap;
        int result = codec::ScanBusy;
        ScanReport report;
        if (!ScanBusy) {
            const BusyFlag busy;
            codec::Raster raster;
            result = acquireImage(ParentWindow, bits, dither, hide, raster, &report);
            bitmap = rasterToImage(std::move(raster));
        }
        if (!codec::succeeded(result)) {
            showScanError(result, report.detail, ParentWindow);
            showInformation(QStringLiteral("Scanning Image Failed"), ParentWindow);
        } else if (!bitmap.isNull()) {
            if (report.dpiX > 0) bitmap.setDotsPerMeterX(dotsPerMetre(report.dpiX));
            if (report.dpiY > 0) bitmap.setDotsPerMeterY(dotsPerMetre(report.dpiY));
        }
        setBitmap(bitmap);
    } catch (...) {
        picture_.clear();
        pictureChanged();
    }
}

bool TPMultiImage::SelectScanner(QWidget* ParentWindow) {
    if (ScanBusy) return false;
    const BusyFlag busy;
    ScanReport report;
    const int result = selectSource(ParentWindow, &report);
    if (codec::succeeded(result)) return true;
    // Closing the list is the user's choice, not an error.
    if (result != codec::ScanCancelled) showScanError(result, report.detail, ParentWindow);
    return false;
}

} // namespace pixmoor
