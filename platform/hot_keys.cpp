// System hot keys on X11 through xcb: passive key grabs on the root window, one for every state
// of the lock keys, and a native event filter that turns a grabbed key press into WM_HOTKEY for
// the window that registered it.
#include "platform/hot_keys.h"

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QGuiApplication>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include <X11/keysym.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

namespace pixmoor {

namespace {

xcb_connection_t* connection() {
    if (!qGuiApp) return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t rootWindow(xcb_connection_t* c) {
    const xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    return it.rem ? it.data->root : xcb_window_t(XCB_WINDOW_NONE);
}

// The modifiers a hot key may carry; the lock keys are left out when a press is matched.
constexpr std::uint16_t kHotKeyMask =
    XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;

std::uint16_t xModifiers(unsigned flags) {
    std::uint16_t m = 0;
    if (flags & MOD_ALT) m |= XCB_MOD_MASK_1;
    if (flags & MOD_CONTROL) m |= XCB_MOD_MASK_CONTROL;
    if (flags & MOD_SHIFT) m |= XCB_MOD_MASK_SHIFT;
    if (flags & MOD_WIN) m |= XCB_MOD_MASK_4;
    return m;
}

struct Grab {
    xcb_keycode_t keycode;
    std::uint16_t modifiers;
};

struct HotKey {
    WindowHandle window;
    int id;
    unsigned flags;
    unsigned virtualKey;
    std::uint32_t keySym;
    std::uint16_t modifiers; // X modifiers without the lock keys
    std::vector<xcb_keycode_t> keycodes;
    std::vector<Grab> grabs;
};

std::vector<HotKey>& hotKeys() {
    static std::vector<HotKey> keys;
    return keys;
}

// The keys of the keyboard that give the symbol.
std::vector<xcb_keycode_t> keycodesOf(xcb_connection_t* c, std::uint32_t keySym) {
    std::vector<xcb_keycode_t> out;
    const std::unique_ptr<xcb_key_symbols_t, decltype(&xcb_key_symbols_free)> symbols(
        xcb_key_symbols_alloc(c), &xcb_key_symbols_free);
    if (!symbols) return out;
    const std::unique_ptr<xcb_keycode_t, decltype(&std::free)> codes(
        xcb_key_symbols_get_keycode(symbols.get(), keySym), &std::free);
    for (const xcb_keycode_t* k = codes.get(); k && *k != XCB_NO_SYMBOL; ++k)
        if (std::find(out.begin(), out.end(), *k) == out.end()) out.push_back(*k);
    return out;
}

// The modifier bit that a lock key (Num Lock, Scroll Lock) sets; 0 when it sets none.
std::uint16_t lockModifier(xcb_connection_t* c, std::uint32_t keySym) {
    const std::vector<xcb_keycode_t> codes = keycodesOf(c, keySym);
    if (codes.empty()) return 0;
    const std::unique_ptr<xcb_get_modifier_mapping_reply_t, decltype(&std::free)> reply(
        xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr), &std::free);
    if (!reply) return 0;
    const xcb_keycode_t* map = xcb_get_modifier_mapping_keycodes(reply.get());
    const int perModifier = reply->keycodes_per_modifier;
    for (int mod = 0; mod < 8; ++mod)
        for (int k = 0; k < perModifier; ++k)
            if (std::find(codes.begin(), codes.end(), map[mod * perModifier + k]) != codes.end())
                return std::uint16_t(1u << mod);
    return 0;
}

// Every combination of the lock keys' modifiers, none included.
std::vector<std::uint16_t> lockStates(xcb_connection_t* c) {
    const std::uint16_t locks[] = {XCB_MOD_MASK_LOCK, lockModifier(c, XK_Num_Lock),
                                   lockModifier(c, XK_Scroll_Lock)};
    std::vector<std::uint16_t> states{0};
    for (const std::uint16_t lock : locks) {
        if (lock == 0 || (lock & kHotKeyMask)) continue;
        const std::size_t n = states.size();
        for (std::size_t i = 0; i < n; ++i)
            if (std::find(states.begin(), states.end(), states[i] | lock) == states.end())
                states.push_back(states[i] | lock);
    }
    return states;
}

void ungrab(xcb_connection_t* c, const std::vector<Grab>& grabs) {
    const xcb_window_t root = rootWindow(c);
    for (const Grab& g : grabs) xcb_ungrab_key(c, g.keycode, root, g.modifiers);
    xcb_flush(c);
}

// Grabbed key presses become WM_HOTKEY messages, posted to the window of the hot key.
class HotKeyFilter : public QAbstractNativeEventFilter {
public:
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t" || !message) return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        const std::uint8_t kind = event->response_type & 0x7f;
        if (kind != XCB_KEY_PRESS && kind != XCB_KEY_RELEASE) return false;
        const auto* key = static_cast<const xcb_key_press_event_t*>(message);
        const std::uint16_t state = key->state & kHotKeyMask;
        for (const HotKey& h : hotKeys()) {
            if (h.modifiers != state ||
                std::find(h.keycodes.begin(), h.keycodes.end(), key->detail) == h.keycodes.end())
                continue;
            // As on Windows: the id, and the modifiers and key in the second parameter.
            if (kind == XCB_KEY_PRESS)
                postMessage(h.window, WM_HOTKEY, std::uintptr_t(h.id),
                            std::intptr_t((h.virtualKey << 16) | h.flags));
            return true;
        }
        return false;
    }
};

void installFilter() {
    static HotKeyFilter filter;
    static QCoreApplication* installedOn = nullptr;
    if (installedOn == QCoreApplication::instance()) return;
    installedOn = QCoreApplication::instance();
    installedOn->installNativeEventFilter(&filter);
}

} // namespace

bool hotKeysAvailable() {
    return connection() != nullptr;
}

std::uint32_t keySymOfVirtualKey(unsigned vk) {
    if (vk >= 0x30 && vk <= 0x39) return XK_0 + (vk - 0x30);
    if (vk >= 0x41 && vk <= 0x5A) return XK_a + (vk - 0x41);
    if (vk >= 0x60 && vk <= 0x69) return XK_KP_0 + (vk - 0x60);
    if (vk >= 0x70 && vk <= 0x87) return XK_F1 + (vk - 0x70);
    switch (vk) {
    case 0x03:
        return XK_Cancel;
    case 0x08:
        return XK_BackSpace;
    case 0x09:
        return XK_Tab;
    case 0x0C:
        return XK_Clear;
    case 0x0D:
        return XK_Return;
    case 0x13:
        return XK_Pause;
    case 0x14:
        return XK_Caps_Lock;
    case 0x1B:
        return XK_Escape;
    case 0x20:
        return XK_space;
    case 0x21:
        return XK_Prior;
    case 0x22:
        return XK_Next;
    case 0x23:
        return XK_End;
    case 0x24:
        return XK_Home;
    case 0x25:
        return XK_Left;
    case 0x26:
        return XK_Up;
    case 0x27:
        return XK_Right;
    case 0x28:
        return XK_Down;
    case 0x29:
        return XK_Select;
    case 0x2A:
        return XK_Print; // the Print key; X11 has one key for it and Print Screen
    case 0x2B:
        return XK_Execute;
    case 0x2C:
        return XK_Print;
    case 0x2D:
        return XK_Insert;
    case 0x2E:
        return XK_Delete;
    case 0x2F:
        return XK_Help;
    case 0x6A:
        return XK_KP_Multiply;
    case 0x6B:
        return XK_KP_Add;
    case 0x6C:
        return XK_KP_Separator;
    case 0x6D:
        return XK_KP_Subtract;
    case 0x6E:
        return XK_KP_Decimal;
    case 0x6F:
        return XK_KP_Divide;
    case 0x90:
        return XK_Num_Lock;
    case 0x91:
        return XK_Scroll_Lock;
    default:
        return 0;
    }
}

bool registerHotKey(WindowHandle window, int id, unsigned flags, unsigned virtualKey) {
    xcb_connection_t* c = connection();
    if (!c || !isWindow(window) || (flags & ~15u) != 0) return false;
    const std::uint32_t keySym = keySymOfVirtualKey(virtualKey);
    if (keySym == 0) return false;
    const std::uint16_t modifiers = xModifiers(flags);
    // One registration per id of a window, and one per combination in the whole program.
    for (const HotKey& h : hotKeys())
        if ((h.window == window && h.id == id) || (h.keySym == keySym && h.modifiers == modifiers))
            return false;
    const std::vector<xcb_keycode_t> keycodes = keycodesOf(c, keySym);
    if (keycodes.empty()) return false;

    const xcb_window_t root = rootWindow(c);
    const std::vector<std::uint16_t> locks = lockStates(c);
    std::vector<Grab> grabs;
    std::vector<xcb_void_cookie_t> cookies;
    for (const xcb_keycode_t keycode : keycodes)
        for (const std::uint16_t lock : locks) {
            grabs.push_back({keycode, std::uint16_t(modifiers | lock)});
            cookies.push_back(xcb_grab_key_checked(c, 0, root, modifiers | lock, keycode,
                                                   XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        }
    // Every grab is checked: the unchecked call would hide a BadAccess.
    std::vector<Grab> granted;
    bool refused = false;
    for (std::size_t i = 0; i < cookies.size(); ++i) {
        if (xcb_generic_error_t* error = xcb_request_check(c, cookies[i])) {
            refused = true;
            std::free(error);
        } else {
            granted.push_back(grabs[i]);
        }
    }
    if (refused) {
        ungrab(c, granted);
        return false;
    }
    xcb_flush(c);
    hotKeys().push_back({window, id, flags, virtualKey, keySym, modifiers, keycodes, grabs});
    installFilter();
    return true;
}

bool unregisterHotKey(WindowHandle window, int id) {
    auto& keys = hotKeys();
    const auto it = std::find_if(keys.begin(), keys.end(),
                                 [&](const HotKey& h) { return h.window == window && h.id == id; });
    if (it == keys.end()) return false;
    if (xcb_connection_t* c = connection()) ungrab(c, it->grabs);
    keys.erase(it);
    return true;
}

void unregisterHotKeysOf(WindowHandle window) {
    std::vector<int> ids;
    for (const HotKey& h : hotKeys())
        if (h.window == window) ids.push_back(h.id);
    for (const int id : ids) unregisterHotKey(window, id);
}

bool windowManagerRunning() {
    xcb_connection_t* c = connection();
    if (!c) return false;
    static const char name[] = "WM_S0";
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof name - 1, name), nullptr),
        &std::free);
    if (!atom) return false;
    const std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr),
        &std::free);
    return owner && owner->owner != XCB_WINDOW_NONE;
}

} // namespace pixmoor
