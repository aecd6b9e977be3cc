// Screen capture in a Wayland session: a headless sway compositor run by an unprivileged user,
// xdg-desktop-portal with its wlroots backend on a private session bus, and the program on
// Wayland's own Qt platform (capture_wayland_probe). Without a global shortcut the countdown is
// offered; the picture comes through the portal and must equal grim's screenshot of the output.
#include "tests/imaging/imaging_test_util.h"
#include "tests/support/image_compare.h"
#include "tests/support/test_dirs.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

using namespace pixmoor::test;

namespace {

constexpr char kUser[] = "pixmoor-wayland"; // sway refuses to run as root

// Starts a program in the background; stopped (terminated, then killed) when the session goes.
class Session {
public:
    ~Session() {
        for (auto it = processes_.rbegin(); it != processes_.rend(); ++it) {
            QProcess& p = **it;
            p.terminate();
            if (!p.waitForFinished(5000)) p.kill();
            p.waitForFinished(5000);
        }
    }
    QProcess& start(const QString& program, const QStringList& arguments,
                    const QProcessEnvironment& environment) {
        processes_.push_back(std::make_unique<QProcess>());
        QProcess& p = *processes_.back();
        p.setProcessEnvironment(environment);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(program, arguments);
        p.waitForStarted(10000);
        return p;
    }

private:
    std::vector<std::unique_ptr<QProcess>> processes_;
};

QString output(QProcess& p) {
    return QString::fromLocal8Bit(p.readAll());
}

} // namespace

TEST(CaptureWayland, WithoutAGlobalShortcutTheCountdownCapturesThroughThePortal) {
    for (const char* tool : {"sway", "swaybg", "grim", "dbus-daemon", "pipewire", "runuser"})
        if (!haveProgram(tool))
            GTEST_SKIP() << tool << " is missing: scripts/deps.sh test installs it";
    for (const char* portal :
         {"/usr/libexec/xdg-desktop-portal", "/usr/libexec/xdg-desktop-portal-wlr"})
        if (!QFileInfo(portal).isExecutable())
            GTEST_SKIP() << portal << " is missing: scripts/deps.sh test installs it";
    const bool root = ::geteuid() == 0;
    if (root && run(std::string("id -u ") + kUser + " > /dev/null 2>&1") != 0) {
        ASSERT_EQ(run(std::string("useradd --system --no-create-home --shell /usr/sbin/nologin ") +
                      kUser),
                  0);
    }

    // The compositor's runtime folder, its user's alone, and an output showing a known picture.
    TempDir dir;
    const std::string runtime = dir.file("runtime");
    std::filesystem::create_directory(runtime);
    const std::string pattern = runtime + "/pattern.png";
    magick("-size 1280x800 gradient:'#c02020-#2020c0' -fill '#30a050' -draw 'rectangle 100,120 "
           "500,420' -fill white -draw 'circle 900,400 1000,450' " +
           pattern);
    std::ofstream(runtime + "/config") << "output HEADLESS-1 resolution 1280x800\n"
                                       << "output HEADLESS-1 bg " << pattern << " stretch\n";
    namespace fs = std::filesystem;
    fs::permissions(runtime, fs::perms::owner_all);
    // The compositor's user passes through the test's folder to its own.
    fs::permissions(dir.path(),
                    fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    if (root) {
        ASSERT_EQ(run("chown -R " + std::string(kUser) + " '" + runtime + "'"), 0);
    }

    Session session;
    QProcessEnvironment swayEnv;
    swayEnv.insert("PATH", "/usr/bin:/bin");
    swayEnv.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime));
    swayEnv.insert("WLR_BACKENDS", "headless");
    swayEnv.insert("WLR_LIBINPUT_NO_DEVICES", "1");
    swayEnv.insert("WLR_RENDERER", "pixman");
    QStringList swayCommand{"sway", "-c", QString::fromStdString(runtime + "/config")};
    if (root) swayCommand = QStringList{"-u", kUser, "--"} + swayCommand;
    QProcess& sway =
        session.start(root ? "runuser" : "sway", root ? swayCommand : swayCommand.mid(1), swayEnv);
    const QString socket = QString::fromStdString(runtime + "/wayland-1");
    if (!QTest::qWaitFor(
            [&] { return QFileInfo::exists(socket) || sway.state() != QProcess::Running; },
            30000) ||
        !QFileInfo::exists(socket))
        GTEST_SKIP() << "sway cannot run on this machine: " << output(sway).toStdString();

    // Everything else of the session: the socket by its full path, and a bus of our own.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS"})
        env.remove(name);
    env.insert("WAYLAND_DISPLAY", socket);
    env.insert("XDG_SESSION_TYPE", "wayland");
    env.insert("XDG_CURRENT_DESKTOP", "sway");
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime));

    // The output shows the picture once swaybg has drawn it.
    const std::string reference = dir.file("grim.png");
    const auto grim = [&] {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start("grim", {QString::fromStdString(reference)});
        return p.waitForFinished(30000) && p.exitCode() == 0;
    };
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return grim() && QImage(QString::fromStdString(reference)).pixel(300, 200) ==
                                 qRgb(0x30, 0xa0, 0x50);
        },
        30000))
        << "the output never showed the picture";

    QProcess& bus =
        session.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"}, env);
    QString address; // its first line that is an address; warnings may come before it
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            while (bus.canReadLine() && !address.startsWith("unix:"))
                address = QString::fromLocal8Bit(bus.readLine()).trimmed();
            return address.startsWith("unix:");
        },
        30000));
    env.insert("DBUS_SESSION_BUS_ADDRESS", address);
    // The portals are started by the bus when first asked, with this environment.
    ASSERT_EQ(run("DBUS_SESSION_BUS_ADDRESS='" + address.toStdString() +
                  "' dbus-update-activation-environment WAYLAND_DISPLAY='" + socket.toStdString() +
                  "' XDG_CURRENT_DESKTOP=sway XDG_RUNTIME_DIR='" + runtime + "'"),
              0);
    // The wlroots portal needs PipeWire (for screen casts) to start at all.
    session.start("pipewire", {}, env);

    const std::filesystem::path portalFile = "/tmp/out.png"; // where xdg-desktop-portal-wlr puts it
    std::error_code ignored;
    std::filesystem::remove(portalFile, ignored);
    QProcess probe;
    probe.setProcessEnvironment(env);
    probe.setProcessChannelMode(QProcess::MergedChannels);
    const std::string captured = dir.file("captured.png");
    probe.start(PIXMOOR_BIN_DIR "/capture_wayland_probe", {QString::fromStdString(captured)});
    ASSERT_TRUE(probe.waitForStarted(10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return probe.state() == QProcess::NotRunning; }, 120000));
    const QString said = output(probe);
    ASSERT_EQ(probe.exitCode(), 0) << said.toStdString();
    EXPECT_TRUE(said.startsWith("platform: wayland\n")) << said.toStdString();
    EXPECT_TRUE(said.contains("Information: Alt+F4 cannot be had as a hot key here: the desktop "
                              "offers no global shortcut for it.\n"))
        << said.toStdString();
    EXPECT_TRUE(
        said.contains("Confirm: Capture the screen after a countdown of 5 seconds instead?"))
        << said.toStdString();
    EXPECT_FALSE(std::filesystem::exists(portalFile)) << "the portal's file was left behind";

    // The measure: every pixel equal to grim's screenshot of the same output, which shows the
    // background picture alone (the program's windows and the countdown were out of the way).
    ASSERT_TRUE(grim());
    const QImage picture =
        QImage(QString::fromStdString(captured)).convertToFormat(QImage::Format_RGB32);
    const QImage expected =
        QImage(QString::fromStdString(reference)).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(picture.size(), QSize(1280, 800));
    ASSERT_EQ(expected.size(), picture.size());
    EXPECT_EQ(pixmoor::test::differingPixels(picture, expected, "grim's"), 0);
    EXPECT_EQ(picture.pixel(300, 200), qRgb(0x30, 0xa0, 0x50));
}
