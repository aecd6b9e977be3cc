// The device list, the options dialog built from a device's SANE option descriptors, and the
// progress dialog of a scan.
#include "platform/scan_dialogs.h"

#include "platform/message_box.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <cmath>

namespace pixmoor {

namespace {

QString text(const char* s) {
    return s ? QString::fromUtf8(s) : QString();
}

QString unitSuffix(SANE_Unit unit) {
    switch (unit) {
    case SANE_UNIT_PIXEL:
        return QStringLiteral(" px");
    case SANE_UNIT_BIT:
        return QStringLiteral(" bit");
    case SANE_UNIT_MM:
        return QStringLiteral(" mm");
    case SANE_UNIT_DPI:
        return QStringLiteral(" dpi");
    case SANE_UNIT_PERCENT:
        return QStringLiteral(" %");
    case SANE_UNIT_MICROSECOND:
        return QStringLiteral(" \u00b5s");
    case SANE_UNIT_NONE:
        break;
    }
    return {};
}

double wordValue(SANE_Value_Type type, SANE_Word w) {
    return type == SANE_TYPE_FIXED ? SANE_UNFIX(w) : double(w);
}

SANE_Word toWord(SANE_Value_Type type, double v) {
    if (type == SANE_TYPE_FIXED) return SANE_FIX(v);
    return SANE_Word(std::lround(std::clamp(v, double(INT_MIN), double(INT_MAX))));
}

QString formatWord(SANE_Value_Type type, SANE_Word w, SANE_Unit unit) {
    const QString number =
        type == SANE_TYPE_FIXED ? QString::number(SANE_UNFIX(w), 'g', 6) : QString::number(w);
    return number + unitSuffix(unit);
}

// A page of the options dialog: a scrolling form.
QFormLayout* addPage(QTabWidget* pages, const QString& title) {
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    scroll->setWidget(page);
    pages->addTab(scroll, title);
    return form;
}

} // namespace

// ---- device list -----------------------------------------------------------------------------

ScanSourceDialog::ScanSourceDialog(std::vector<sane::DeviceInfo> devices,
                                   const std::string& current, QWidget* parent)
    : QDialog(parent), devices_(std::move(devices)) {
    setObjectName(QStringLiteral("ScanSourceDialog"));
    setWindowTitle(QStringLiteral("Select Source"));
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("&Sources:"), this);
    layout->addWidget(label);
    SourceList = new QListWidget(this);
    SourceList->setObjectName(QStringLiteral("SourceList"));
    label->setBuddy(SourceList); // Alt+S goes to the list
    layout->addWidget(SourceList);
    int selected = 0;
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        const sane::DeviceInfo& d = devices_[i];
        const QString title =
            QStringLiteral("%1 %2").arg(text(d.vendor.c_str()), text(d.model.c_str())).trimmed();
        SourceList->addItem(QStringLiteral("%1 (%2)").arg(title, text(d.name.c_str())));
        if (d.name == current) selected = int(i);
    }
    if (!devices_.empty()) SourceList->setCurrentRow(selected);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("&Select"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(SourceList, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    resize(360, 240);
}

std::string ScanSourceDialog::chosen() const {
    const int row = SourceList->currentRow();
    if (row < 0 || std::size_t(row) >= devices_.size()) return {};
    return devices_[std::size_t(row)].name;
}

// ---- options ---------------------------------------------------------------------------------

const std::vector<std::string>& ScanOptionsDialog::scanPageOptions() {
    static const std::vector<std::string> names = {
        "source",       "mode", "depth", "resolution", "x-resolution",
        "y-resolution", "tl-x", "tl-y",  "br-x",       "br-y"};
    return names;
}

ScanOptionsDialog::ScanOptionsDialog(sane::Device& device, const QString& deviceTitle,
                                     QWidget* parent)
    : QDialog(parent), device_(device) {
    setObjectName(QStringLiteral("ScanOptionsDialog"));
    setWindowTitle(QStringLiteral("Scan - %1").arg(deviceTitle));
    layout_ = new QVBoxLayout(this);
    auto* buttons = new QDialogButtonBox(this);
    ScanButton = buttons->addButton(QStringLiteral("&Scan"), QDialogButtonBox::AcceptRole);
    ScanButton->setObjectName(QStringLiteral("ScanButton"));
    ScanButton->setDefault(true);
    CancelButton = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    rebuild();
    layout_->addWidget(buttons);
    resize(440, 420);
}

QWidget* ScanOptionsDialog::control(const QString& optionName) const {
    const auto it = controls_.find(optionName);
    return it == controls_.end() ? nullptr : it->second;
}

void ScanOptionsDialog::rebuild() {
    const int current = Pages ? Pages->currentIndex() : 0;
    auto* pages = new QTabWidget(this);
    pages->setObjectName(QStringLiteral("Pages"));
    controls_.clear();

    const std::vector<std::string>& first = scanPageOptions();
    const int count = device_.optionCount();
    // The first page, in its own order, then every other option under its driver's group.
    QFormLayout* scanPage = addPage(pages, QStringLiteral("Scan"));
    for (const std::string& name : first) {
        const int index = device_.findOption(name);
        const SANE_Option_Descriptor* d = index > 0 ? device_.option(index) : nullptr;
        if (!d || !SANE_OPTION_IS_ACTIVE(d->cap)) continue;
        if (QWidget* w = makeControl(index, *d)) scanPage->addRow(text(d->title) + ':', w);
    }
    QFormLayout* form = nullptr;
    for (int i = 1; i < count; ++i) {
        const SANE_Option_Descriptor* d = device_.option(i);
        if (!d) continue;
        if (d->type == SANE_TYPE_GROUP) {
            form = addPage(pages, text(d->title));
            continue;
        }
        if (!SANE_OPTION_IS_ACTIVE(d->cap) || !d->name) continue;
        if (std::find(first.begin(), first.end(), d->name) != first.end()) continue;
        if (!form) form = addPage(pages, QStringLiteral("Options"));
        if (QWidget* w = makeControl(i, *d)) {
            w->setToolTip(text(d->desc));
            if (d->type == SANE_TYPE_BUTTON)
                form->addRow(w);
            else
                form->addRow(text(d->title) + ':', w);
        }
    }
    // Groups with nothing to show go.
    for (int i = pages->count() - 1; i > 0; --i) {
        auto* scroll = static_cast<QScrollArea*>(pages->widget(i));
        auto* page = scroll->widget();
        if (static_cast<QFormLayout*>(page->layout())->rowCount() == 0) {
            pages->removeTab(i);
            scroll->deleteLater();
        }
    }
    pages->setCurrentIndex(std::min(current, pages->count() - 1));

    if (Pages) {
        delete layout_->replaceWidget(Pages, pages);
        Pages->hide();
        Pages->deleteLater(); // its controls may be sending the signal that brought us here
    } else {
        layout_->addWidget(pages);
    }
    Pages = pages;
}

QWidget* ScanOptionsDialog::makeControl(int index, const SANE_Option_Descriptor& d) {
    const bool readable = (d.cap & SANE_CAP_SOFT_DETECT) != 0;
    const bool single = d.size == SANE_Int(sizeof(SANE_Word));
    QWidget* widget = nullptr;
    switch (d.type) {
    case SANE_TYPE_BOOL: {
        SANE_Word value = 0;
        if (!readable || !single || device_.getWord(index, value) != SANE_STATUS_GOOD)
            return nullptr;
        auto* box = new QCheckBox;
        box->setChecked(value != 0);
        connect(box, &QCheckBox::toggled, this, [this, index](bool on) {
            apply([&](SANE_Int* info) {
                return device_.setWord(index, on ? SANE_TRUE : SANE_FALSE, info);
            });
        });
        widget = box;
        break;
    }
    case SANE_TYPE_INT:
    case SANE_TYPE_FIXED: {
        if (!readable) return nullptr;
        if (!single) { // an array (a gamma table, say): left to the driver
            auto* label = new QLabel(
                QStringLiteral("%1 values").arg(std::size_t(d.size) / sizeof(SANE_Word)));
            label->setEnabled(false);
            widget = label;
            break;
        }
        SANE_Word value = 0;
        if (device_.getWord(index, value) != SANE_STATUS_GOOD) return nullptr;
        const SANE_Value_Type type = d.type;
        if (d.constraint_type == SANE_CONSTRAINT_WORD_LIST && d.constraint.word_list) {
            auto* combo = new QComboBox;
            const SANE_Word* list = d.constraint.word_list;
            const int n = std::clamp(list[0], 0, 4096);
            for (int k = 1; k <= n; ++k) {
                combo->addItem(formatWord(type, list[k], d.unit), QVariant(list[k]));
                if (list[k] == value) combo->setCurrentIndex(k - 1);
            }
            connect(combo, &QComboBox::currentIndexChanged, this, [this, index, combo](int k) {
                if (k < 0) return;
                const SANE_Word w = combo->itemData(k).toInt();
                apply([&](SANE_Int* info) { return device_.setWord(index, w, info); });
            });
            widget = combo;
            break;
        }
        const bool ranged = d.constraint_type == SANE_CONSTRAINT_RANGE && d.constraint.range;
        if (type == SANE_TYPE_FIXED) {
            auto* spin = new QDoubleSpinBox;
            spin->setDecimals(2);
            spin->setRange(ranged ? SANE_UNFIX(d.constraint.range->min) : -32768.0,
                           ranged ? SANE_UNFIX(d.constraint.range->max) : 32767.99);
            if (ranged && d.constraint.range->quant > 0)
                spin->setSingleStep(SANE_UNFIX(d.constraint.range->quant));
            spin->setValue(wordValue(type, value));
            spin->setSuffix(unitSuffix(d.unit));
            spin->setKeyboardTracking(false);
            connect(spin, &QDoubleSpinBox::valueChanged, this, [this, index](double v) {
                apply([&](SANE_Int* info) {
                    return device_.setWord(index, toWord(SANE_TYPE_FIXED, v), info);
                });
            });
            widget = spin;
        } else {
            auto* spin = new QSpinBox;
            spin->setRange(ranged ? d.constraint.range->min : INT_MIN,
                           ranged ? d.constraint.range->max : INT_MAX);
            if (ranged && d.constraint.range->quant > 0)
                spin->setSingleStep(d.constraint.range->quant);
            spin->setValue(value);
            spin->setSuffix(unitSuffix(d.unit));
            spin->setKeyboardTracking(false);
            connect(spin, &QSpinBox::valueChanged, this, [this, index](int v) {
                apply([&](SANE_Int* info) { return device_.setWord(index, v, info); });
            });
            widget = spin;
        }
        break;
    }
    case SANE_TYPE_STRING: {
        std::string value;
        if (!readable || device_.getString(index, value) != SANE_STATUS_GOOD) return nullptr;
        if (d.constraint_type == SANE_CONSTRAINT_STRING_LIST && d.constraint.string_list) {
            auto* combo = new QComboBox;
            for (const SANE_String_Const* s = d.constraint.string_list; *s; ++s) {
                combo->addItem(text(*s));
                if (value == *s) combo->setCurrentIndex(combo->count() - 1);
            }
            connect(combo, &QComboBox::currentIndexChanged, this, [this, index, combo](int k) {
                if (k < 0) return;
                const std::string v = combo->itemText(k).toStdString();
                apply([&](SANE_Int* info) { return device_.setString(index, v, info); });
            });
            widget = combo;
        } else {
            auto* edit = new QLineEdit(text(value.c_str()));
            edit->setMaxLength(std::max(0, d.size - 1));
            connect(edit, &QLineEdit::editingFinished, this, [this, index, edit] {
                const std::string v = edit->text().toStdString();
                apply([&](SANE_Int* info) { return device_.setString(index, v, info); });
            });
            widget = edit;
        }
        break;
    }
    case SANE_TYPE_BUTTON: {
        auto* button = new QPushButton(text(d.title));
        connect(button, &QPushButton::clicked, this, [this, index] {
            apply([&](SANE_Int* info) { return device_.press(index, info); });
        });
        widget = button;
        break;
    }
    case SANE_TYPE_GROUP:
        return nullptr;
    }
    widget->setObjectName(text(d.name));
    widget->setEnabled(widget->isEnabled() && SANE_OPTION_IS_SETTABLE(d.cap));
    controls_[text(d.name)] = widget;
    return widget;
}

void ScanOptionsDialog::apply(const std::function<SANE_Status(SANE_Int*)>& set) {
    SANE_Int info = 0;
    const SANE_Status status = set(&info);
    if (status != SANE_STATUS_GOOD) {
        showError(QStringLiteral("The scanner did not take the value: %1")
                      .arg(text(sane::statusText(status).c_str())),
                  this);
        rebuild(); // show what the device holds
        return;
    }
    // Other options changed, or the value was rounded: show the device's state again.
    if (info & (SANE_INFO_RELOAD_OPTIONS | SANE_INFO_INEXACT)) rebuild();
}

// ---- progress --------------------------------------------------------------------------------

ScanProgressDialog::ScanProgressDialog(const sane::ScanProgress& progress,
                                       std::atomic<bool>& cancel, std::function<bool()> finished,
                                       QWidget* parent)
    : QDialog(parent), progress_(progress), cancel_(cancel), finished_(std::move(finished)) {
    setObjectName(QStringLiteral("ScanProgressDialog"));
    setWindowTitle(QStringLiteral("Scanning"));
    auto* layout = new QVBoxLayout(this);
    StatusLabel = new QLabel(QStringLiteral("Scanning..."), this);
    layout->addWidget(StatusLabel);
    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setRange(0, 0); // until the length is known
    layout->addWidget(ProgressBar);
    auto* buttons = new QDialogButtonBox(this);
    CancelButton = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    connect(buttons, &QDialogButtonBox::rejected, this, &ScanProgressDialog::reject);
    layout->addWidget(buttons);
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &ScanProgressDialog::poll);
    timer_->start(kPollMs);
    resize(320, 110);
}

void ScanProgressDialog::reject() {
    if (!cancel_.exchange(true)) {
        StatusLabel->setText(QStringLiteral("Cancelling..."));
        CancelButton->setEnabled(false);
    }
    poll();
}

void ScanProgressDialog::poll() {
    const std::int64_t expected = progress_.expected;
    if (expected > 0) {
        const std::int64_t done = std::min<std::int64_t>(progress_.bytes, expected);
        if (ProgressBar->maximum() != 1000) ProgressBar->setRange(0, 1000);
        ProgressBar->setValue(int(done * 1000 / expected));
    }
    if (finished_()) {
        timer_->stop();
        done(cancel_ ? QDialog::Rejected : QDialog::Accepted);
    }
}

} // namespace pixmoor
