// Acquire and select source over SANE: the device is opened on the user-interface thread, its
// options shown and set there, and the image read on a worker thread while a progress dialog
// keeps the window alive and Cancel answering.
#include "platform/scanner.h"

#include "imaging/codec/codec.h"
#include "imaging/codec/errors.h"
#include "platform/sane.h"
#include "platform/scan_dialogs.h"

#include <map>
#include <thread>
#include <vector>

namespace pixmoor {

namespace {

std::string& chosenSlot() {
    static std::string name;
    return name;
}

ScanDialogHandler& handlerSlot() {
    static ScanDialogHandler handler;
    return handler;
}

int runDialog(QDialog& dialog) {
    if (const ScanDialogHandler& handler = handlerSlot()) return handler(dialog);
    return dialog.exec();
}

// The options of a device as the user last left them in its options dialog, by option name,
// so the next scan (with or without the dialog) starts from them.
struct SavedOption {
    std::string name;
    SANE_Value_Type type;
    std::vector<char> value;
};

std::map<std::string, std::vector<SavedOption>>& savedOptions() {
    static std::map<std::string, std::vector<SavedOption>> saved;
    return saved;
}

void rememberOptions(const sane::Device& device) {
    std::vector<SavedOption> saved;
    for (int i = 1, n = device.optionCount(); i < n; ++i) {
        const SANE_Option_Descriptor* d = device.option(i);
        if (!d || !d->name || !*d->name || !sane::settable(*d) || d->type == SANE_TYPE_BUTTON ||
            !(d->cap & SANE_CAP_SOFT_DETECT) || d->size <= 0)
            continue;
        std::vector<char> value(std::size_t(d->size), '\0');
        if (device.getValue(i, value.data()) == SANE_STATUS_GOOD)
            saved.push_back({d->name, d->type, std::move(value)});
    }
    savedOptions()[device.name()] = std::move(saved);
}

void restoreOptions(sane::Device& device) {
    const auto it = savedOptions().find(device.name());
    if (it == savedOptions().end()) return;
    // Twice: an option may only become active once another is set (three-pass after mode).
    for (int pass = 0; pass < 2; ++pass) {
        for (const SavedOption& o : it->second) {
            const int index = device.findOption(o.name);
            const SANE_Option_Descriptor* d = index > 0 ? device.option(index) : nullptr;
            if (!d || !sane::settable(*d) || d->type != o.type ||
                std::size_t(d->size) != o.value.size())
                continue;
            std::vector<char> value = o.value;
            (void)device.setValue(index, value.data()); // a value refused now keeps the default
        }
    }
}

// Stops and joins the reading thread on every way out.
class WorkerJoin {
public:
    WorkerJoin(std::thread& thread, std::atomic<bool>& cancel) : thread_(thread), cancel_(cancel) {}
    ~WorkerJoin() {
        if (!thread_.joinable()) return;
        if (!finished) cancel_ = true;
        thread_.join();
    }
    WorkerJoin(const WorkerJoin&) = delete;
    WorkerJoin& operator=(const WorkerJoin&) = delete;
    bool finished = false;

private:
    std::thread& thread_;
    std::atomic<bool>& cancel_;
};

std::string deviceTitle(const sane::DeviceInfo& d) {
    std::string title = d.vendor;
    if (!d.model.empty()) title += (title.empty() ? "" : " ") + d.model;
    return title.empty() ? d.name : title;
}

// The title of a device known by its name, as the source list shows it; the name itself when
// the driver no longer lists the device.
std::string deviceTitle(const sane::Session& session, const std::string& name) {
    std::vector<sane::DeviceInfo> devices;
    if (session.devices(devices) == SANE_STATUS_GOOD)
        for (const sane::DeviceInfo& d : devices)
            if (d.name == name) return deviceTitle(d);
    return name;
}

} // namespace

std::string chosenSource() {
    return chosenSlot();
}

void setChosenSource(const std::string& name) {
    chosenSlot() = name;
}

void forgetScannerSettings() {
    chosenSlot().clear();
    savedOptions().clear();
}

void setScanDialogHandler(ScanDialogHandler handler) {
    handlerSlot() = std::move(handler);
}

int selectSource(QWidget* parent, ScanReport* report) {
    ScanReport local;
    ScanReport& r = report ? *report : local;
    r = ScanReport{};
    const sane::Session session;
    std::vector<sane::DeviceInfo> devices;
    const SANE_Status status = session.devices(devices);
    if (status != SANE_STATUS_GOOD) {
        r.detail = sane::statusText(status);
        return codec::NoScanner;
    }
    if (devices.empty()) {
        r.detail = "No scanner was found";
        return codec::NoScanner;
    }
    ScanSourceDialog dialog(devices, chosenSource(), parent);
    if (runDialog(dialog) != QDialog::Accepted || dialog.chosen().empty()) {
        r.detail = "No source was chosen";
        return codec::ScanCancelled;
    }
    setChosenSource(dialog.chosen());
    return codec::Ok;
}

int acquireImage(QWidget* parent, int bits, int dither, int hide, codec::Raster& out,
                 ScanReport* report) {
    ScanReport local;
    ScanReport& r = report ? *report : local;
    r = ScanReport{};
    out = codec::Raster{};
    if (bits != 0 && bits != 1 && bits != 4 && bits != 8 && bits != 24) return codec::BadDepth;

    const sane::Session session;
    if (!session.ok()) {
        r.detail = sane::statusText(session.status());
        return codec::NoScanner;
    }
    std::string name = chosenSource();
    std::string title;
    if (name.empty()) {
        std::vector<sane::DeviceInfo> devices;
        const SANE_Status status = session.devices(devices);
        if (status != SANE_STATUS_GOOD) {
            r.detail = sane::statusText(status);
            return codec::NoScanner;
        }
        if (devices.empty()) {
            r.detail = "No scanner was found";
            return codec::NoScanner;
        }
        name = devices.front().name;
        title = deviceTitle(devices.front());
    }

    // The options dialog's title: the device's vendor and model, the same whether the device was
    // chosen or taken as the first one listed.
    if (title.empty() && hide == 0) title = deviceTitle(session, name);

    std::unique_ptr<sane::Device> device;
    const SANE_Status opened = sane::Device::open(name, device);
    if (opened != SANE_STATUS_GOOD) {
        r.detail = sane::statusText(opened) + " (" + name + ")";
        return codec::ScanFailed;
    }
    restoreOptions(*device);
    if (hide == 0) {
        ScanOptionsDialog dialog(*device, QString::fromStdString(title), parent);
        if (runDialog(dialog) != QDialog::Accepted) {
            r.detail = "The scan options were closed without scanning";
            return codec::ScanCancelled;
        }
        rememberOptions(*device);
    }
    r.dpiX = device->resolution(false);
    r.dpiY = device->resolution(true);

    std::atomic<bool> cancel{false};
    std::atomic<bool> finished{false};
    sane::ScanProgress progress;
    int result = codec::ScanFailed;
    std::string detail;
    {
        ScanProgressDialog dialog(
            progress, cancel, [&finished] { return finished.load(); }, parent);
        std::thread worker([&] {
            result = sane::readImage(*device, cancel, progress, out, detail);
            finished = true;
        });
        WorkerJoin join(worker, cancel);
        dialog.exec();
        join.finished = finished;
    }
    if (!codec::succeeded(result)) {
        out = codec::Raster{};
        r.detail =
            detail.empty() && result == codec::ScanCancelled ? "The scan was stopped" : detail;
        return result;
    }
    const int converted = codec::convertDepth(out, bits, dither);
    if (!codec::succeeded(converted)) {
        out = codec::Raster{};
        return converted;
    }
    return codec::Ok;
}

} // namespace pixmoor
