// The private SANE configuration and the scanner dialog answers of the tests.
#include "tests/support/sane_test.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QListWidget>
#include <QSpinBox>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sane/sane.h>

namespace pixmoor::test {

const TempDir& PrivateSane::dir() {
    static const TempDir folder;
    static const bool set = [] {
        qputenv("SANE_CONFIG_DIR", QByteArray::fromStdString(folder.path().string()));
        // The test driver stays loaded after sane_exit, so what it leaks when a scan is
        // cancelled (its reader's buffer) is named after it and suppressed as libsane's.
        // The drivers live in "sane/" beside the library itself.
        Dl_info info{};
        if (dladdr(reinterpret_cast<void*>(&sane_init), &info) && info.dli_fname) {
            const auto driver =
                std::filesystem::path(info.dli_fname).parent_path() / "sane" / "libsane-test.so.1";
            (void)dlopen(driver.c_str(), RTLD_NOW | RTLD_GLOBAL);
        }
        return true;
    }();
    (void)set;
    return folder;
}

PrivateSane::PrivateSane(bool withTestDriver, const std::string& testConf) {
    std::ofstream(dir().file("dll.conf")) << (withTestDriver ? "test\n" : "");
    std::ofstream(dir().file("test.conf")) << testConf;
    forgetScannerSettings();
}

PrivateSane::~PrivateSane() {
    forgetScannerSettings();
}

void setOptions(ScanOptionsDialog& dialog, const std::vector<OptionSetting>& settings) {
    for (const OptionSetting& s : settings) {
        QWidget* w = dialog.control(QString::fromStdString(s.name));
        ASSERT_NE(w, nullptr) << "no control for option " << s.name;
        ASSERT_TRUE(w->isEnabled()) << s.name;
        if (auto* combo = qobject_cast<QComboBox*>(w)) {
            const int i = combo->findText(s.value);
            ASSERT_GE(i, 0) << s.name << " has no item " << s.value.toStdString();
            combo->setCurrentIndex(i);
        } else if (auto* spin = qobject_cast<QDoubleSpinBox*>(w)) {
            spin->setValue(s.value.toDouble());
        } else if (auto* ispin = qobject_cast<QSpinBox*>(w)) {
            ispin->setValue(s.value.toInt());
        } else if (auto* box = qobject_cast<QCheckBox*>(w)) {
            box->setChecked(s.value == QLatin1String("yes"));
        } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            edit->setText(s.value);
            emit edit->editingFinished();
        } else {
            FAIL() << "option " << s.name << " has an unexpected control";
        }
    }
}

ScanDialogAnswers::ScanDialogAnswers(std::vector<OptionSetting> settings, bool scan, int sourceRow)
    : settings_(std::move(settings)), scan_(scan), sourceRow_(sourceRow) {
    setScanDialogHandler([this](QDialog& dialog) {
        if (auto* options = qobject_cast<ScanOptionsDialog*>(&dialog)) {
            ++optionDialogs;
            lastTitle = options->windowTitle();
            setOptions(*options, settings_);
            if (inside) inside(*options);
            return scan_ ? int(QDialog::Accepted) : int(QDialog::Rejected);
        }
        if (auto* sources = qobject_cast<ScanSourceDialog*>(&dialog)) {
            ++sourceDialogs;
            lastSources.clear();
            for (int i = 0; i < sources->SourceList->count(); ++i)
                lastSources << sources->SourceList->item(i)->text();
            preselectedRow = sources->SourceList->currentRow();
            if (sourceRow_ < 0) return int(QDialog::Rejected);
            sources->SourceList->setCurrentRow(sourceRow_);
            return int(QDialog::Accepted);
        }
        ADD_FAILURE() << "unexpected dialog " << dialog.objectName().toStdString();
        return int(QDialog::Rejected);
    });
}

ScanDialogAnswers::~ScanDialogAnswers() {
    setScanDialogHandler({});
}

QImage scanimage(const std::string& options) {
    TempDir out;
    const std::string file = out.file("scan.pnm");
    const int status = run("scanimage --format=pnm " + options + " > '" + file + "' 2>/dev/null");
    if (status != 0) return {};
    return QImage(QString::fromStdString(file));
}

} // namespace pixmoor::test
