// Screen capture in a Wayland session: a headless sway compositor run by an unprivileged user,
// xdg-desktop-portal with its wlroots backend on a private session bus, and the program on
// Wayland's own Qt platform (capture_wayland_probe). Without a global shortcut the countdown is
// offered; the picture comes through the portal and must equal grim's screenshot of the output.
#include "tests/imaging/imaging_test_util.h"
#include "tests/support/image_compare.h"
#include "tests/support/test_dirs.h"
#include "tests/support/wayland_session.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTest>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

using namespace pixmoor::test;

namespace {

QString output(QProcess& p) {
    return QString::fromLocal8Bit(p.readAll());
}

} // namespace

TEST(CaptureWayland, WithoutAGlobalShortcutTheCountdownCapturesThroughThePortal) {
    if (!haveProgram("swaybg"))
        GTEST_SKIP() << "swaybg is missing: scripts/deps.sh test installs it";
    // An output showing a known picture.
    TempDir dir;
    const std::string pattern = dir.file("pattern.png");
    magick("-size 1280x800 gradient:'#c02020-#2020c0' -fill '#30a050' -draw 'rectangle 100,120 "
           "500,420' -fill white -draw 'circle 900,400 1000,450' " +
           pattern);
    ::chmod(pattern.c_str(), 0644);
    WaylandSession session(dir.path().string(),
                           {"output HEADLESS-1 bg " + pattern + " stretch\n", true, false});
    if (!session.skipReason().empty()) GTEST_SKIP() << session.skipReason();
    const QProcessEnvironment env = session.environment();

    // The output shows the picture once swaybg has drawn it.
    const std::string reference = dir.file("grim.png");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return session.screenshot(reference) &&
                   QImage(QString::fromStdString(reference)).pixel(300, 200) ==
                       qRgb(0x30, 0xa0, 0x50);
        },
        30000))
        << "the output never showed the picture";

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
    ASSERT_TRUE(session.screenshot(reference));
    const QImage picture =
        QImage(QString::fromStdString(captured)).convertToFormat(QImage::Format_RGB32);
    const QImage expected =
        QImage(QString::fromStdString(reference)).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(picture.size(), QSize(1280, 800));
    ASSERT_EQ(expected.size(), picture.size());
    EXPECT_EQ(pixmoor::test::differingPixels(picture, expected, "grim's"), 0);
    EXPECT_EQ(picture.pixel(300, 200), qRgb(0x30, 0xa0, 0x50));
}
