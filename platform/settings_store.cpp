// The settings store over QSettings in INI form, with our own integer parsing.
#include "platform/settings_store.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <limits>

namespace pixmoor {

namespace {

int hexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9') return u - '0';
    if (u >= 'a' && u <= 'f') return u - 'a' + 10;
    if (u >= 'A' && u <= 'F') return u - 'A' + 10;
    return -1;
}

// Hex digits from position `from` to the end; the value is taken as a 32-bit pattern, so
// "$FFFFFFFF" reads as -1, as a 32-bit integer store would give it.
bool parseHex(const QString& text, qsizetype from, int& out) {
    if (from >= text.size()) return false;
    quint64 value = 0;
    for (qsizetype i = from; i < text.size(); ++i) {
        const int d = hexDigit(text[i]);
        if (d < 0) return false;
        value = value * 16 + quint64(d);
        if (value > 0xFFFFFFFFull) return false;
    }
    out = int(quint32(value));
    return true;
}

} // namespace

int parseSettingsInteger(const QString& text, int fallback) {
    int value = 0;
    if (text.startsWith(u'$')) return parseHex(text, 1, value) ? value : fallback;
    if (text.size() > 2 &&
        (text.startsWith(QLatin1String("0x")) || text.startsWith(QLatin1String("0X"))))
        return parseHex(text, 2, value) ? value : fallback;

    qsizetype i = 0;
    while (i < text.size() && text[i] == u' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i >= text.size()) return fallback;
    qint64 magnitude = 0;
    for (; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u < '0' || u > '9') return fallback;
        magnitude = magnitude * 10 + (u - '0');
        if (magnitude > qint64(std::numeric_limits<int>::max()) + 1) return fallback;
    }
    const qint64 signedValue = negative ? -magnitude : magnitude;
    if (signedValue > std::numeric_limits<int>::max()) return fallback;
    return int(signedValue);
}

QString settingsFilePath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + "/.config";
    return base + "/KEMRA.conf";
}

SettingsStore::SettingsStore(const QString& path)
    : settings_(std::make_unique<QSettings>(path, QSettings::IniFormat)) {}

SettingsStore::~SettingsStore() {
    settings_->sync();
}

QString SettingsStore::readString(const QString& section, const QString& name,
                                  const QString& fallback) const {
    const QVariant v = settings_->value(section + '/' + name);
    if (!v.isValid()) return fallback;
    // QSettings splits an unquoted value containing commas into a list; join it back.
    if (v.typeId() == QMetaType::QStringList) return v.toStringList().join(u',');
    return v.toString();
}

int SettingsStore::readInteger(const QString& section, const QString& name, int fallback) const {
    const QVariant v = settings_->value(section + '/' + name);
    if (!v.isValid()) return fallback;
    if (v.typeId() == QMetaType::QStringList) return fallback;
    return parseSettingsInteger(v.toString(), fallback);
}

void SettingsStore::writeString(const QString& section, const QString& name, const QString& value) {
    settings_->setValue(section + '/' + name, value);
}

void SettingsStore::writeInteger(const QString& section, const QString& name, int value) {
    settings_->setValue(section + '/' + name, QString::number(value));
}

bool SettingsStore::sync() {
    settings_->sync();
    return settings_->status() == QSettings::NoError;
}

} // namespace pixmoor
