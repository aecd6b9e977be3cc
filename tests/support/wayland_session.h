// A headless Wayland session for the tests: sway run by an unprivileged user (it refuses root),
// optionally a private session bus with PipeWire for the desktop portal, and a virtual keyboard
// held for the session's life, so the compositor's seat has a keyboard before any window maps
// and keys typed with wtype reach the focused window.
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <memory>
#include <string>
#include <vector>

namespace pixmoor::test {

class WaylandSession {
public:
    struct Options {
        std::string outputConfig; // extra lines of sway's configuration
        bool portal = false;      // a private session bus and PipeWire for the desktop portal
        bool keyboard = true;     // the held virtual keyboard
    };

    // Starts the session in folder `dir` (which must exist); see skipReason().
    WaylandSession(const std::string& dir, const Options& options);
    ~WaylandSession(); // stops what it started, the latest first
    WaylandSession(const WaylandSession&) = delete;
    WaylandSession& operator=(const WaylandSession&) = delete;

    // Why the session could not start on this machine (a missing tool, sway refusing to run);
    // empty once it runs.
    const std::string& skipReason() const { return skip_; }
    // The compositor's runtime folder, its user's alone.
    const std::string& runtimeDir() const { return runtime_; }
    // The environment of a client of the session: the socket by its full path, the session's
    // desktop and bus (when asked for), no X11 display.
    const QProcessEnvironment& environment() const { return env_; }
    // Runs a client of the session to its end; whether it exited with status 0. Its standard
    // output is kept in `out` when given.
    bool runClient(const QString& program, const QStringList& arguments,
                   QByteArray* out = nullptr) const;
    // grim's screenshot of the whole output into `file`.
    bool screenshot(const std::string& file) const;

    // The user sway runs as; created when missing and run as root.
    static constexpr char kUser[] = "pixmoor-wayland";

private:
    QProcess& start(const QString& program, const QStringList& arguments,
                    const QProcessEnvironment& environment);
    bool startBus();

    std::string runtime_;
    std::string skip_;
    QProcessEnvironment env_;
    std::vector<std::unique_ptr<QProcess>> processes_;
};

// The session a test executable runs in when started with PIXMOOR_TEST_WAYLAND set (see
// qt_test_main.cpp); null otherwise.
const WaylandSession* waylandSession();

} // namespace pixmoor::test
