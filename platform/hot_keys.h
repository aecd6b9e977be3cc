// System hot keys on X11: a passive grab of the key combination on the root window, for every
// state of the lock keys, reported to a hidden message window as WM_HOTKEY with the hot key's id.
#pragma once

#include "platform/message_window.h"

#include <cstdint>

namespace pixmoor {

// The system's modifier flags of a hot key.
inline constexpr unsigned MOD_ALT = 1;
inline constexpr unsigned MOD_CONTROL = 2;
inline constexpr unsigned MOD_SHIFT = 4;
inline constexpr unsigned MOD_WIN = 8;

// Whether hot keys can be registered at all: the program runs on an X11 display.
bool hotKeysAvailable();

// Registers the combination (MOD_* flags and a Windows virtual-key code) as hot key `id` of the
// window. False, with nothing grabbed, when there is no X11 display, no key of the keyboard gives
// the key, the combination is already a hot key of this program, or the server refuses a grab
// (BadAccess: another client, often the window manager, holds it).
bool registerHotKey(WindowHandle window, int id, unsigned modifiers, unsigned virtualKey);
// Releases hot key `id` of the window; false when it has none.
bool unregisterHotKey(WindowHandle window, int id);
// Releases every hot key of the window.
void unregisterHotKeysOf(WindowHandle window);

// The X key symbol that a Windows virtual-key code stands for (letters as their lower case); 0
// when there is none.
std::uint32_t keySymOfVirtualKey(unsigned virtualKey);

// Whether a window manager runs on the X11 display (it owns the WM_S0 selection). False without
// X11.
bool windowManagerRunning();

} // namespace pixmoor
