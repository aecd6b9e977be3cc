// A private SANE configuration for the tests (only the "test" driver, or none), and answers to
// the scanner's dialogs that set options through the dialog's real controls.
#pragma once

#include "platform/scan_dialogs.h"
#include "platform/scanner.h"
#include "tests/support/test_dirs.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <functional>
#include <string>

namespace pixmoor::test {

// Points SANE_CONFIG_DIR at a private folder whose dll.conf names the test driver (or nothing),
// and forgets the chosen source and remembered options before and after. The library looks the
// variable up once per process, so the folder is one for the whole process; each PrivateSane
// writes its dll.conf and test.conf afresh (the library reads those at every sane_init).
class PrivateSane {
public:
    explicit PrivateSane(bool withTestDriver = true, const std::string& testConf = {});
    ~PrivateSane();
    PrivateSane(const PrivateSane&) = delete;
    PrivateSane& operator=(const PrivateSane&) = delete;
    static const TempDir& dir();
};

// Option settings made through the options dialog's controls: combo boxes by item text, spin
// boxes by number, check boxes by "yes"/"no".
struct OptionSetting {
    std::string name;
    QString value;
};
void setOptions(ScanOptionsDialog& dialog, const std::vector<OptionSetting>& settings);

// While alive, answers the options dialog with the settings and Scan (or Cancel), and the source
// list with the given row. Counts the dialogs it answered and keeps the options dialog's title.
class ScanDialogAnswers {
public:
    explicit ScanDialogAnswers(std::vector<OptionSetting> settings = {}, bool scan = true,
                               int sourceRow = 0);
    ~ScanDialogAnswers();
    ScanDialogAnswers(const ScanDialogAnswers&) = delete;
    ScanDialogAnswers& operator=(const ScanDialogAnswers&) = delete;

    int optionDialogs = 0;
    int sourceDialogs = 0;
    QString lastTitle;
    QStringList lastSources; // the source list's lines
    int preselectedRow = -1; // the row selected when the list came up
    // Runs inside the options dialog before it is answered (to look at other windows then).
    std::function<void(ScanOptionsDialog&)> inside;

private:
    std::vector<OptionSetting> settings_;
    bool scan_;
    int sourceRow_;
};

// Scans with scanimage (the SANE project's own front end) into a PNM, read back by Qt; a null
// image when it fails. `options` are scanimage's arguments after the device.
QImage scanimage(const std::string& options);

} // namespace pixmoor::test
