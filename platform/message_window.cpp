// Hidden message windows: a registry of procedures by handle, used on the user-interface thread.
#include "platform/message_window.h"

#include "platform/hot_keys.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <map>

namespace pixmoor {

namespace {

struct Registry {
    std::map<WindowHandle, WindowProcedure> windows;
    WindowHandle next = 1;
};

Registry& registry() {
    static Registry r;
    return r;
}

} // namespace

WindowHandle allocateHWnd(WindowProcedure procedure) {
    Registry& r = registry();
    const WindowHandle handle = r.next++;
    r.windows.emplace(handle, std::move(procedure));
    return handle;
}

void deallocateHWnd(WindowHandle window) {
    if (!isWindow(window)) return;
    sendMessage(window, WM_DESTROY);
    unregisterHotKeysOf(window);
    registry().windows.erase(window);
}

bool isWindow(WindowHandle window) {
    return registry().windows.count(window) != 0;
}

std::intptr_t sendMessage(WindowHandle window, unsigned msg, std::uintptr_t wParam,
                          std::intptr_t lParam) {
    const auto it = registry().windows.find(window);
    if (it == registry().windows.end() || !it->second) return 0;
    TMessage message{msg, wParam, lParam, 0};
    const WindowProcedure procedure = it->second; // the window may go while its procedure runs
    procedure(message);
    return message.Result;
}

void postMessage(WindowHandle window, unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    QMetaObject::invokeMethod(
        app, [=] { sendMessage(window, msg, wParam, lParam); }, Qt::QueuedConnection);
}

} // namespace pixmoor
