// The settings store: an INI file ($XDG_CONFIG_HOME/KEMRA.conf) with sections and named string
// values, and our own integer parsing rules for the values read back.
#pragma once

#include <QString>
#include <memory>

class QSettings;

namespace pixmoor {

// Reads text as an integer: leading blanks, an optional sign and decimal digits; or "0x"/"0X"
// followed by hex digits when the text is longer than two characters; or "$" followed by hex
// digits. Anything else (empty text, trailing garbage, overflow) yields fallback.
int parseSettingsInteger(const QString& text, int fallback);

// Path of the settings file: $XDG_CONFIG_HOME/KEMRA.conf, or ~/.config/KEMRA.conf.
QString settingsFilePath();

// One open settings file. Every value is stored as a string; integers as decimal text.
// Writes reach the disk when the store is destroyed or sync() is called.
class SettingsStore {
public:
    explicit SettingsStore(const QString& path = settingsFilePath());
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    QString readString(const QString& section, const QString& name, const QString& fallback) const;
    int readInteger(const QString& section, const QString& name, int fallback) const;
    void writeString(const QString& section, const QString& name, const QString& value);
    void writeInteger(const QString& section, const QString& name, int value);

    // Flushes to disk; false when the file could not be written.
    bool sync();

private:
    std::unique_ptr<QSettings> settings_;
};

} // namespace pixmoor
