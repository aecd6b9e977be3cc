// The real program under X11: a first run opens a 570 x 450 window titled "Pixmoor", and closing
// it writes KEMRA.conf with the six values; started without a session bus, it leaves no bus
// daemon behind.
#include "tests/support/test_dirs.h"
#include "tests/support/program_process.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QUuid>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/types.h>

namespace {

using namespace pixmoor::test;

const QString kProgram = QStringLiteral(PIXMOOR_BIN_DIR "/pixmoor");


// Processes named dbus-launch or dbus-daemon whose environment holds marker (they inherit it from
// the program that launched them, even after being handed to init).
QList<qint64> busProcessesMarkedWith(const QByteArray& marker) {
    QList<qint64> found;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& pid : pids) {
        bool number = false;
        const qint64 id = pid.toLongLong(&number);
        if (!number) continue;
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        if (!comm.open(QIODevice::ReadOnly)) continue;
        const QByteArray name = comm.readAll().trimmed();
        if (name != "dbus-launch" && name != "dbus-daemon") continue;
        QFile environ(QStringLiteral("/proc/%1/environ").arg(pid));
        if (environ.open(QIODevice::ReadOnly) && environ.readAll().split('\0').contains(marker))
            found.append(id);
    }
    return found;
}

} // namespace

TEST(ProgramX11, FirstRunShowsTheWindowAndClosingWritesTheSettings) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) GTEST_SKIP() << "needs an X display";
    if (!pixmoor::test::haveProgram("xdotool")) GTEST_SKIP() << "needs xdotool";

    pixmoor::test::TempDir home;
    const std::string config = home.file("config");
    const std::string runtime = home.file("runtime");
    const std::string start = home.file("start");
    ASSERT_EQ(pixmoor::test::run("mkdir -p '" + config + "' '" + start + "' && mkdir -m 700 '" +
                                 runtime + "'"),
              0);

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(config));
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime));
    ASSERT_TRUE(startProgram(program, kProgram, env, QString::fromStdString(start)));
    const QString window = mainWindowOf(program);
    ASSERT_FALSE(window.isEmpty()) << "no window titled Pixmoor";
    EXPECT_EQ(xdotool({"getwindowname", window}), "Pixmoor");
    const QString geometry = xdotool({"getwindowgeometry", window});
    EXPECT_TRUE(geometry.contains("Geometry: 570x450")) << geometry.toStdString();

    ASSERT_TRUE(exitFromKeyboard(program, window)) << "the program did not end after Exit";
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);

    QSettings conf(QString::fromStdString(config + "/KEMRA.conf"), QSettings::IniFormat);
    EXPECT_EQ(conf.value("Main/ThumbSizew").toString(), "70");
    EXPECT_EQ(conf.value("Main/ThumbSizeh").toString(), "70");
    EXPECT_EQ(conf.value("Main/Directory").toString().toStdString(), start);
    EXPECT_EQ(conf.value("Window/WindowWidth").toString(), "570");
    EXPECT_EQ(conf.value("Window/WindowHeight").toString(), "450");
    EXPECT_EQ(conf.value("Window/WindowState").toString(), "Normal");
}

TEST(ProgramX11, WithoutASessionBusNoBusDaemonIsLeftBehind) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) GTEST_SKIP() << "needs an X display";
    if (!pixmoor::test::haveProgram("xdotool")) GTEST_SKIP() << "needs xdotool";
    // Without dbus-launch, libdbus cannot autolaunch a bus and there is nothing to check.
    if (!pixmoor::test::haveProgram("dbus-launch")) GTEST_SKIP() << "needs dbus-launch";

    pixmoor::test::TempDir home;
    const std::string runtime = home.file("runtime");
    ASSERT_EQ(pixmoor::test::run("mkdir -m 700 '" + runtime + "'"), 0);

    // Marks this run's processes: whatever the program starts inherits it.
    const QByteArray marker =
        "PIXMOOR_BUS_TEST=" + QUuid::createUuid().toString(QUuid::WithoutBraces).toLatin1();
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DBUS_SESSION_BUS_ADDRESS");
    // No user bus socket, and a home of its own (where dbus-launch records the bus it starts).
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime));
    env.insert("HOME", QString::fromStdString(home.path().string()));
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(home.file("config")));
    const qsizetype equals = marker.indexOf('=');
    env.insert(QString::fromLatin1(marker.left(equals)),
               QString::fromLatin1(marker.mid(equals + 1)));
    ASSERT_TRUE(
        startProgram(program, kProgram, env, QString::fromStdString(home.path().string())));
    const QString window = mainWindowOf(program);
    ASSERT_FALSE(window.isEmpty()) << "no window titled Pixmoor";
    // The menus and the keyboard focus are where Qt reaches for the bus (global menu,
    // accessibility): open one and leave by Exit.
    ASSERT_TRUE(exitFromKeyboard(program, window)) << "the program did not end after Exit";
    EXPECT_EQ(program.exitCode(), 0);

    const QList<qint64> left = busProcessesMarkedWith(marker);
    for (qint64 pid : left) ::kill(pid_t(pid), SIGTERM); // this run's own leftovers only
    EXPECT_TRUE(left.isEmpty()) << left.size() << " dbus-launch/dbus-daemon processes left";
}
