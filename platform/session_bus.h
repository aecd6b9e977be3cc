// The desktop session bus at start-up: with no bus to join, D-Bus must not start one of its own
// (libdbus "autolaunch" leaves dbus-launch and a dbus-daemon running after the program ends).
#pragma once

#include <QByteArray>

namespace pixmoor {

// The address that stands for "no session bus": libdbus refuses to connect to it, without
// launching anything.
inline constexpr char kNoSessionBus[] = "disabled:";

// The session bus address to use when DBUS_SESSION_BUS_ADDRESS is unset or empty: the user bus
// socket $XDG_RUNTIME_DIR/bus when there is one (as a D-Bus address, escaped), else
// kNoSessionBus. Empty when the variable already names a bus.
QByteArray sessionBusFallback();

// Call at the top of main(), before the application object exists (Qt's platform theme and
// accessibility bridge look for the bus while it is created). When DBUS_SESSION_BUS_ADDRESS is
// unset, sets it to sessionBusFallback() for this process and the programs it starts, so nothing
// autolaunches a bus. Returns false only when the variable could not be set.
bool preventSessionBusAutolaunch();

} // namespace pixmoor
