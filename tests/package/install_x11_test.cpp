// cmake --install into a temporary prefix: the files land under the prefix, the menu entry and
// the metadata pass their validators, and the installed program, started from an empty directory
// under X11, opens its help from the prefix.
#include "tests/help/help_test_util.h"
#include "tests/support/program_process.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using pixmoor::test::capture;

namespace {

using pixmoor::test::xdotool;


// The first visible window of pid whose name matches, waiting up to timeoutMs (--all: both
// conditions, not either).
QString windowOf(qint64 pid, const QString& name, int timeoutMs) {
    return xdotool({"search", "--sync", "--all", "--onlyvisible", "--pid", QString::number(pid),
                    "--name", name},
                   timeoutMs)
        .section('\n', 0, 0);
}

} // namespace

TEST(Installation, InstalledProgramFindsItsHelpInItsPrefix) {
    for (const char* tool : {"desktop-file-validate", "appstreamcli"})
        ASSERT_TRUE(pixmoor::test::haveProgram(tool)) << tool << " is needed (scripts/deps.sh)";
    pixmoor::test::TempDir work;
    const fs::path prefix = work.file("prefix");
    const auto installed = capture(
        "'" PIXMOOR_CMAKE "' --install '" PIXMOOR_BUILD_DIR "' --prefix '" + prefix.string() + "'");
    ASSERT_EQ(installed.status, 0) << installed.output;

    const fs::path program = prefix / "bin/pixmoor";
    const fs::path desktop = prefix / "share/applications/org.pixmoor.Pixmoor.desktop";
    const fs::path metainfo = prefix / "share/metainfo/org.pixmoor.Pixmoor.metainfo.xml";
    ASSERT_TRUE(fs::is_regular_file(program));
    EXPECT_TRUE(fs::is_regular_file(prefix / "share/pixmoor/pixmoor.hlp"));
    EXPECT_TRUE(
        fs::is_regular_file(prefix / "share/icons/hicolor/scalable/apps/org.pixmoor.Pixmoor.svg"));
    EXPECT_TRUE(
        fs::is_regular_file(prefix / "share/icons/hicolor/48x48/apps/org.pixmoor.Pixmoor.png"));

    const auto desktopCheck = capture("desktop-file-validate '" + desktop.string() + "'");
    EXPECT_EQ(desktopCheck.status, 0) << desktopCheck.output;
    EXPECT_EQ(desktopCheck.output, "") << "warnings from desktop-file-validate";
    const std::string entry = pixmoor::test::readText(desktop.string());
    EXPECT_EQ(pixmoor::test::desktopValue(entry, "Categories"), "Graphics;Viewer;Qt;");
    EXPECT_TRUE(fs::is_regular_file(prefix / "bin" / pixmoor::test::desktopValue(entry, "Exec")));
    const auto metaCheck = capture("appstreamcli validate --no-net '" + metainfo.string() + "'");
    EXPECT_EQ(metaCheck.status, 0) << metaCheck.output;
    // The launchable names the entry installed beside it (appstreamcli does not check that).
    EXPECT_NE(pixmoor::test::readText(metainfo.string())
                  .find("<launchable type=\"desktop-id\">" + desktop.filename().string() + "<"),
              std::string::npos);

    if (qEnvironmentVariableIsEmpty("DISPLAY")) GTEST_SKIP() << "starting it needs an X display";
    ASSERT_TRUE(pixmoor::test::haveProgram("xdotool"));
    // Started from an empty directory, so only the prefix can give it its help.
    const std::string start = work.file("start");
    const std::string config = work.file("config");
    const std::string runtime = work.file("runtime");
    ASSERT_EQ(pixmoor::test::run("mkdir -p '" + start + "' '" + config + "' && mkdir -m 700 '" +
                                 runtime + "'"),
              0);
    QProcess pixmoor;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(config));
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime));
    ASSERT_TRUE(pixmoor::test::startProgram(pixmoor, QString::fromStdString(program.string()), env,
                                            QString::fromStdString(start)));

    const QString main = windowOf(pixmoor.processId(), "^Pixmoor$", 20000);
    ASSERT_FALSE(main.isEmpty()) << "the installed program shows no main window";
    // H&elp from the "&Help" menu.
    xdotool({"windowfocus", "--sync", main});
    xdotool({"key", "--clearmodifiers", "--delay", "200", "alt+h", "e"});
    const QString help = windowOf(pixmoor.processId(), "^Pixmoor Help$", 20000);
    EXPECT_FALSE(help.isEmpty()) << "no help window";
    const QString error = windowOf(pixmoor.processId(), "^Error$", 1000);
    EXPECT_TRUE(error.isEmpty()) << "an error box showed: "
                                 << xdotool({"getwindowname", error}).toStdString();

    pixmoor.terminate();
    if (!pixmoor.waitForFinished(10000)) {
        pixmoor.kill();
        pixmoor.waitForFinished();
    }
}
