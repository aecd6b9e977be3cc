// The real program under X11: a first run opens a 570 x 450 window titled "Pixmoor", and closing
// it writes KEMRA.conf with the six values.
#include "tests/support/test_dirs.h"

#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <gtest/gtest.h>

namespace {

QString xdotool(const QStringList& args, int timeoutMs = 20000) {
    QProcess p;
    p.start("xdotool", args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
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
    env.insert("QT_QPA_PLATFORM", "xcb");
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(QString::fromStdString(start));
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(QStringLiteral(PIXMOOR_BIN_DIR "/pixmoor"), {});
    ASSERT_TRUE(program.waitForStarted(10000));

    // --sync waits until a window of that exact title is mapped.
    const QString window = xdotool({"search", "--sync", "--onlyvisible", "--pid",
                                    QString::number(program.processId()), "--name", "^Pixmoor$"})
                               .section('\n', 0, 0);
    ASSERT_FALSE(window.isEmpty()) << "no window titled Pixmoor";
    EXPECT_EQ(xdotool({"getwindowname", window}), "Pixmoor");
    const QString geometry = xdotool({"getwindowgeometry", window});
    EXPECT_TRUE(geometry.contains("Geometry: 570x450")) << geometry.toStdString();

    // E&xit from the keyboard: Alt+F opens "&File", x chooses "E&xit".
    xdotool({"windowfocus", "--sync", window});
    xdotool({"key", "--clearmodifiers", "--delay", "200", "alt+f", "x"});
    if (!program.waitForFinished(15000)) {
        program.kill();
        program.waitForFinished();
        FAIL() << "the program did not end after Exit";
    }
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
