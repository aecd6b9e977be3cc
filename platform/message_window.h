// Hidden message windows: a handle that messages are sent or posted to, and the procedure that
// receives them. What a system hot key or another platform service reports arrives this way.
#pragma once

#include <cstdint>
#include <functional>

namespace pixmoor {

using WindowHandle = std::uintptr_t; // 0 is no window

struct TMessage {
    unsigned Msg = 0;
    std::uintptr_t WParam = 0;
    std::intptr_t LParam = 0;
    std::intptr_t Result = 0;
};

inline constexpr unsigned WM_DESTROY = 0x0002;
inline constexpr unsigned WM_HOTKEY = 0x0312;

using WindowProcedure = std::function<void(TMessage&)>;

// Creates a hidden window whose messages go to procedure. Never returns 0.
WindowHandle allocateHWnd(WindowProcedure procedure);
// Sends WM_DESTROY to the window, unregisters its hot keys and destroys it. Nothing for 0 or a
// window already destroyed.
void deallocateHWnd(WindowHandle window);
bool isWindow(WindowHandle window);

// Calls the window's procedure at once and returns the message's Result (0 for no window).
std::intptr_t sendMessage(WindowHandle window, unsigned msg, std::uintptr_t wParam = 0,
                          std::intptr_t lParam = 0);
// Queues the message for the window; the event loop (or any step that processes pending events)
// delivers it on the user-interface thread. A window destroyed meanwhile gets nothing.
void postMessage(WindowHandle window, unsigned msg, std::uintptr_t wParam = 0,
                 std::intptr_t lParam = 0);

} // namespace pixmoor
