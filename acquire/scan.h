// TForm9, the scan window: one modeless window, created hidden at start-up and reused, that
// holds the last scan or screen capture and scans again, selects the source, copies the picture
// to the clipboard and saves it in one of six formats.
#pragma once

#include "imaging/TMultiP.h"
#include "imaging/codec/format_table.h"
#include "ui_scan.h"

#include <QMainWindow>
#include <QString>

class QFileDialog;

class TForm9 : public QMainWindow, public Ui::TForm9 {
    Q_OBJECT
public:
    explicit TForm9(QWidget* parent = nullptr);
    ~TForm9() override;

    // "Save Image", with the six formats as its filters; the filter chosen last stays chosen.
    QFileDialog* SaveDialog1 = nullptr;

    // Shows the window, centred on the screen the first time, and brings it to the front.
    void showScanWindow();

public slots:
    void Scan2Click();
    void Scan1Click();
    void ToClipboard1Click();
    void SaveAs1Click();
    void Exit1Click();

private:
    bool shownBefore_ = false;
};

extern TForm9* Form9;

namespace pixmoor {

// The Save As format of filter `filterIndex` (1 to 6, the codec's formats in the order of its
// table; out of range: the first).
const codec::FormatEntry& scanSaveFormat(int filterIndex);

// The name Save As writes for a name chosen under filter `filterIndex` (1 to 6): its extension
// replaced by the filter's, or the filter's added when it has none.
QString forcedExtension(const QString& fileName, int filterIndex);

} // namespace pixmoor
