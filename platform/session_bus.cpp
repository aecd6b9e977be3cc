// The session bus guard. libdbus, when DBUS_SESSION_BUS_ADDRESS is unset, "autolaunches": under
// X11 it runs dbus-launch, which starts a dbus-daemon that outlives the program. Qt reaches the
// bus on its own (the platform theme's global-menu and tray checks, the accessibility bridge),
// so the guard must be in place before QApplication is created.
#include "platform/session_bus.h"

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace pixmoor {

namespace {

// A D-Bus address value: bytes other than [-0-9A-Za-z_/.\*] are written as %XX.
QByteArray escapeAddressValue(const QByteArray& value) {
    static const char hex[] = "0123456789abcdef";
    QByteArray out;
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        const bool plain = (u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') ||
                           (u >= 'a' && u <= 'z') || u == '-' || u == '_' || u == '/' || u == '.' ||
                           u == '\\' || u == '*';
        if (plain) {
            out.append(c);
        } else {
            out.append('%');
            out.append(hex[u >> 4]);
            out.append(hex[u & 0xf]);
        }
    }
    return out;
}

} // namespace

QByteArray sessionBusFallback() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return {};
    // The user bus of a systemd (or dbus-user-session) login.
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty()) {
        const QByteArray socketPath = runtime + "/bus";
        struct stat st {};
        if (::stat(socketPath.constData(), &st) == 0 && S_ISSOCK(st.st_mode) &&
            st.st_uid == ::getuid())
            return "unix:path=" + escapeAddressValue(socketPath);
    }
    return kNoSessionBus;
}

bool preventSessionBusAutolaunch() {
    const QByteArray address = sessionBusFallback();
    if (address.isEmpty()) return true;
    // Called before any thread exists, so setenv cannot race a reader.
    return ::setenv("DBUS_SESSION_BUS_ADDRESS", address.constData(), 1) == 0;
}

} // namespace pixmoor
