// The headless Wayland session of the tests.
#include "tests/support/wayland_session.h"

#include "tests/support/test_dirs.h"

#include <QFileInfo>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace pixmoor::test {

namespace fs = std::filesystem;

namespace {

// Whether the process has ended, waiting at most `ms` for it: also without an event loop (the
// session may start before the application object).
bool finished(QProcess& p, int ms) {
    p.waitForFinished(ms);
    return p.state() == QProcess::NotRunning;
}

} // namespace

WaylandSession::WaylandSession(const std::string& dir, const Options& options) {
    std::vector<const char*> tools = {"sway", "grim", "runuser"};
    if (options.keyboard) tools.push_back("wtype");
    if (options.portal) {
        tools.insert(tools.end(),
                     {"dbus-daemon", "dbus-update-activation-environment", "pipewire"});
        for (const char* portal :
             {"/usr/libexec/xdg-desktop-portal", "/usr/libexec/xdg-desktop-portal-wlr"})
            if (!QFileInfo(portal).isExecutable()) {
                skip_ = std::string(portal) + " is missing: scripts/deps.sh test installs it";
                return;
            }
    }
    for (const char* tool : tools)
        if (!haveProgram(tool)) {
            skip_ = std::string(tool) + " is missing: scripts/deps.sh test installs it";
            return;
        }
    const bool root = ::geteuid() == 0;
    const std::string known = std::string("id -u ") + kUser + " > /dev/null 2>&1";
    // Another test starting at the same moment may have made the user first.
    if (root && run(known) != 0 &&
        run(std::string("useradd --system --no-create-home --shell /usr/sbin/nologin ") + kUser +
            " 2> /dev/null") != 0 &&
        run(known) != 0) {
        skip_ = std::string("the user ") + kUser + " cannot be created";
        return;
    }

    runtime_ = (fs::path(dir) / "runtime").string();
    fs::create_directory(runtime_);
    std::ofstream(runtime_ + "/config") << "output HEADLESS-1 resolution 1280x800\n"
                                        << options.outputConfig;
    fs::permissions(runtime_, fs::perms::owner_all);
    // The compositor's user passes through the test's folder to its own.
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    if (root && run("chown -R " + std::string(kUser) + " '" + runtime_ + "'") != 0) {
        skip_ = "the runtime folder cannot be given to " + std::string(kUser);
        return;
    }

    QProcessEnvironment swayEnv;
    swayEnv.insert("PATH", "/usr/bin:/bin");
    swayEnv.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime_));
    swayEnv.insert("WLR_BACKENDS", "headless");
    swayEnv.insert("WLR_LIBINPUT_NO_DEVICES", "1");
    swayEnv.insert("WLR_RENDERER", "pixman");
    QStringList swayCommand{"sway", "-c", QString::fromStdString(runtime_ + "/config")};
    QProcess& sway = root ? start("runuser", QStringList{"-u", kUser, "--"} + swayCommand, swayEnv)
                          : start("sway", swayCommand.mid(1), swayEnv);
    const QString socket = QString::fromStdString(runtime_ + "/wayland-1");
    if (!QTest::qWaitFor([&] { return QFileInfo::exists(socket) || finished(sway, 10); }, 30000) ||
        !QFileInfo::exists(socket)) {
        skip_ = "sway cannot run on this machine: " + sway.readAll().toStdString();
        return;
    }

    env_ = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS"})
        env_.remove(name);
    env_.insert("WAYLAND_DISPLAY", socket);
    env_.insert("XDG_SESSION_TYPE", "wayland");
    env_.insert("XDG_CURRENT_DESKTOP", "sway");
    env_.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime_));

    if (options.keyboard) {
        // A virtual keyboard that stays (wtype pausing for a day): a seat without one gives no
        // window the focus, and a keyboard that comes and goes with each wtype reaches none.
        start("wtype", {"-s", "86400000"}, env_);
        if (!QTest::qWaitFor(
                [&] {
                    QByteArray out;
                    return runClient("sh",
                                     {"-c", "SWAYSOCK=$(ls \"$XDG_RUNTIME_DIR\"/sway-ipc.*.sock)"
                                            " swaymsg -t get_seats"},
                                     &out) &&
                           out.contains("virtual_keyboard");
                },
                10000)) {
            skip_ = "the virtual keyboard never joined the seat";
            return;
        }
    }
    if (options.portal && !startBus()) return;
}

bool WaylandSession::startBus() {
    QProcess& bus = start("dbus-daemon", {"--session", "--nofork", "--print-address=1"}, env_);
    QString address; // its first line that is an address; warnings may come before it
    if (!QTest::qWaitFor(
            [&] {
                bus.waitForReadyRead(10);
                while (bus.canReadLine() && !address.startsWith("unix:"))
                    address = QString::fromLocal8Bit(bus.readLine()).trimmed();
                return address.startsWith("unix:");
            },
            30000)) {
        skip_ = "the session bus did not start";
        return false;
    }
    env_.insert("DBUS_SESSION_BUS_ADDRESS", address);
    // The portals are started by the bus when first asked, with this environment.
    if (!runClient("dbus-update-activation-environment",
                   {"WAYLAND_DISPLAY=" + env_.value("WAYLAND_DISPLAY"), "XDG_CURRENT_DESKTOP=sway",
                    "XDG_RUNTIME_DIR=" + QString::fromStdString(runtime_)})) {
        skip_ = "the session bus does not take the session's environment";
        return false;
    }
    // The wlroots portal needs PipeWire (for screen casts) to start at all.
    start("pipewire", {}, env_);
    return true;
}

WaylandSession::~WaylandSession() {
    for (auto it = processes_.rbegin(); it != processes_.rend(); ++it) {
        QProcess& p = **it;
        p.terminate();
        if (!p.waitForFinished(5000)) p.kill();
        p.waitForFinished(5000);
    }
}

QProcess& WaylandSession::start(const QString& program, const QStringList& arguments,
                                const QProcessEnvironment& environment) {
    processes_.push_back(std::make_unique<QProcess>());
    QProcess& p = *processes_.back();
    p.setProcessEnvironment(environment);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    p.waitForStarted(10000);
    return p;
}

bool WaylandSession::runClient(const QString& program, const QStringList& arguments,
                               QByteArray* out) const {
    QProcess p;
    p.setProcessEnvironment(env_);
    p.start(program, arguments);
    // The events keep flowing while it runs: the client may be asking this process (a paste
    // from the program's own clipboard).
    if (!p.waitForStarted(10000) || !QTest::qWaitFor([&] { return finished(p, 5); }, 30000)) {
        p.kill();
        p.waitForFinished(5000);
        return false;
    }
    if (out) *out = p.readAllStandardOutput();
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool WaylandSession::screenshot(const std::string& file) const {
    return runClient("grim", {QString::fromStdString(file)});
}

} // namespace pixmoor::test
