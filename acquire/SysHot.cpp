// TSysHotKey: the entry list, its registration with the system, and the hot-key and destroy
// messages of the hidden window.
#include "acquire/SysHot.h"

#include "platform/hot_keys.h"

#include <stdexcept>

// Indices 0 to 100: Cancel, Backspace, Tab, Clear, Return, Pause, Caps Lock, Escape, Space; Page
// Up to Down; Select, Execute, Print Screen, Insert, Delete, Help (the Print key, 2A, has none);
// "0" to "9"; "A" to "Z"; keypad 0 to 9 and its operators; F1 to F24; Num Lock, Scroll Lock.
const std::array<std::uint8_t, 101> HotKeyKeyTable = [] {
    std::array<std::uint8_t, 101> t{};
    std::size_t i = 0;
    for (std::uint8_t vk : {0x03, 0x08, 0x09, 0x0C, 0x0D, 0x13, 0x14, 0x1B, 0x20}) t[i++] = vk;
    for (int vk = 0x21; vk <= 0x29; ++vk) t[i++] = std::uint8_t(vk);
    for (int vk = 0x2B; vk <= 0x2F; ++vk) t[i++] = std::uint8_t(vk);
    for (int vk = 0x30; vk <= 0x39; ++vk) t[i++] = std::uint8_t(vk);
    for (int vk = 0x41; vk <= 0x5A; ++vk) t[i++] = std::uint8_t(vk);
    for (int vk = 0x60; vk <= 0x6F; ++vk) t[i++] = std::uint8_t(vk);
    for (int vk = 0x70; vk <= 0x87; ++vk) t[i++] = std::uint8_t(vk);
    t[i++] = 0x90;
    t[i++] = 0x91;
    return t;
}();

unsigned ModifierFlags(THotKeyModifiers Modifiers) {
    unsigned flags = 0;
    if (Modifiers & hmShift) flags |= pixmoor::MOD_SHIFT;
    if (Modifiers & hmCtrl) flags |= pixmoor::MOD_CONTROL;
    if (Modifiers & hmAlt) flags |= pixmoor::MOD_ALT;
    if (Modifiers & hmWin) flags |= pixmoor::MOD_WIN;
    return flags;
}

TSysHotKey::TSysHotKey(QObject* Owner) : TWindowedComponent(Owner) {
    declareHandler(pixmoor::WM_HOTKEY, [this](pixmoor::TMessage& m) { WMHotKey(m); });
    declareHandler(pixmoor::WM_DESTROY, [this](pixmoor::TMessage& m) { WMDestroy(m); });
}

TSysHotKey::~TSysHotKey() {
    ClearHotKeys();
    DestroyHandle();
}

void TSysHotKey::setActive(bool on) {
    if (active_ == on) return;
    active_ = on;
    if (on)
        RegisterHotKeys();
    else
        UnregisterHotKeys();
}

void TSysHotKey::AddHotKey(int Key, THotKeyModifiers Modifiers) {
    if (Key < 0 || Key >= int(HotKeyKeyTable.size()))
        throw std::out_of_range("Hot key index " + std::to_string(Key) + " is not in the table");
    if (Modifiers & ~(hmShift | hmCtrl | hmAlt | hmWin))
        throw std::out_of_range("Unknown hot key modifiers");
    auto entry = std::make_unique<THotKeyEntry>();
    entry->Key = std::uint8_t(Key);
    entry->Modifiers = Modifiers;
    FHotKeys.push_back(std::move(entry));
    if (active_) RegisterEntry(HotKeyCount() - 1);
}

void TSysHotKey::ClearHotKeys() {
    if (active_) UnregisterHotKeys();
    FHotKeys.clear();
}

void TSysHotKey::RegisterHotKeys() {
    for (int i = 0; i < HotKeyCount(); ++i) RegisterEntry(i);
}

void TSysHotKey::UnregisterHotKeys() {
    for (int i = 0; i < HotKeyCount(); ++i) UnregisterEntry(i);
}

void TSysHotKey::RegisterEntry(int Index) {
    THotKeyEntry& entry = *FHotKeys.at(std::size_t(Index));
    if (entry.Registered) return;
    entry.Registered = pixmoor::registerHotKey(Handle(), Index, ModifierFlags(entry.Modifiers),
                                               HotKeyKeyTable[entry.Key]);
}

void TSysHotKey::UnregisterEntry(int Index) {
    THotKeyEntry& entry = *FHotKeys.at(std::size_t(Index));
    if (!entry.Registered) return;
    pixmoor::unregisterHotKey(Handle(), Index);
    entry.Registered = false;
}

void TSysHotKey::Loaded() {
    if (active_) RegisterHotKeys();
}

bool TSysHotKey::AnyRegistered() const {
    for (const auto& e : FHotKeys)
        if (e->Registered) return true;
    return false;
}

void TSysHotKey::WMHotKey(pixmoor::TMessage& Message) {
    if (OnHotKey) OnHotKey(this, int(Message.WParam & 0xFFFF));
}

void TSysHotKey::WMDestroy(pixmoor::TMessage& Message) {
    setActive(false);
    DefaultHandler(Message);
}
