// TSysHotKey: system-wide hot keys on the hidden window of TWindowedComponent. Each entry of the
// list is one key combination; its position in the list is its hot-key id.
#pragma once

#include "acquire/WComp.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// THotKeyModifiers: a set in one byte.
using THotKeyModifiers = std::uint8_t;
inline constexpr THotKeyModifiers hmShift = 1 << 0;
inline constexpr THotKeyModifiers hmCtrl = 1 << 1;
inline constexpr THotKeyModifiers hmAlt = 1 << 2;
inline constexpr THotKeyModifiers hmWin = 1 << 3;

struct THotKeyEntry {
    THotKeyModifiers Modifiers = 0;
    std::uint8_t Key = 0;        // index into HotKeyKeyTable
    std::uint8_t Registered = 0; // true while the system holds the registration
};
static_assert(sizeof(THotKeyEntry) == 3);

// The Windows virtual-key codes a hot key can use, by Key index (0 to 100).
extern const std::array<std::uint8_t, 101> HotKeyKeyTable;

// The system's modifier flags (MOD_SHIFT 4, MOD_CONTROL 2, MOD_ALT 1, MOD_WIN 8) of a set.
unsigned ModifierFlags(THotKeyModifiers Modifiers);

// Sender and the id (list position) of the entry whose combination was pressed.
using THotKeyEvent = std::function<void(QObject* Sender, int Index)>;

class TSysHotKey : public TWindowedComponent {
    Q_OBJECT
public:
    explicit TSysHotKey(QObject* Owner = nullptr);
    ~TSysHotKey() override;

    // While true, every entry is registered with the system.
    bool Active() const { return active_; }
    void setActive(bool on);
    THotKeyEvent OnHotKey;

    // Appends an entry (registered at once when Active). Throws std::out_of_range for a Key
    // outside the table or modifiers outside the set.
    void AddHotKey(int Key, THotKeyModifiers Modifiers);
    // Unregisters (when Active) and frees every entry; Active keeps its value.
    void ClearHotKeys();
    void RegisterHotKeys();
    void UnregisterHotKeys();
    // Registers entry Index as hot key Index of the hidden window; Registered says whether the
    // system accepted it. A refusal is not reported.
    void RegisterEntry(int Index);
    void UnregisterEntry(int Index);
    // After loading from the form description: registers the entries when Active.
    void Loaded();

    int HotKeyCount() const { return int(FHotKeys.size()); }
    const THotKeyEntry& HotKey(int Index) const { return *FHotKeys.at(std::size_t(Index)); }
    // Whether any entry holds a registration.
    bool AnyRegistered() const;

private:
    void WMHotKey(pixmoor::TMessage& Message);
    void WMDestroy(pixmoor::TMessage& Message);

    bool active_ = false;
    std::vector<std::unique_ptr<THotKeyEntry>> FHotKeys;
};
