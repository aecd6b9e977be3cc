// The real program under X11: started on a saved directory of bitmaps it builds their catalogue,
// Select All and Ctrl+V open the image viewer on the first one at the picture's size, and Exit
// writes the directory back.
#include "tests/catalogue/catalogue_test_util.h"
#include "tests/support/program_process.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QDeadlineTimer>
#include <gtest/gtest.h>

using namespace pixmoor::test;

namespace {

QSize windowSize(const QString& window) {
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("Geometry: (\\d+)x(\\d+)"))
                                          .match(xdotool({"getwindowgeometry", window}));
    return m.hasMatch() ? QSize(m.captured(1).toInt(), m.captured(2).toInt()) : QSize();
}

} // namespace

TEST(CatalogueX11, BuildsTheSavedDirectoryAndViewsTheFirstSelectedImage) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) GTEST_SKIP() << "needs an X display";
    if (!haveProgram("xdotool")) GTEST_SKIP() << "needs xdotool";

    TempDir home;
    const std::string config = home.file("config");
    const std::string start = home.file("start");
    const std::string pictures = home.file("pictures");
    ASSERT_EQ(run("mkdir -p '" + config + "' '" + start + "' '" + pictures + "' && mkdir -m 700 '" +
                  home.file("runtime") + "'"),
              0);
    magick("-size 200x100 xc:red", pictures + "/a.bmp");
    magick("-size 50x80 xc:blue", pictures + "/b.bmp");
    {
        QSettings conf(qpath(config + "/KEMRA.conf"), QSettings::IniFormat);
        conf.setValue("Main/Directory", qpath(pictures));
    }

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", qpath(config));
    env.insert("XDG_RUNTIME_DIR", qpath(home.file("runtime")));
    ASSERT_TRUE(startProgram(program, QStringLiteral(PIXMOOR_BIN_DIR "/pixmoor"), env,
                             qpath(start)));
    const QString pid = QString::number(program.processId());

    const QString main = mainWindowOf(program);
    ASSERT_FALSE(main.isEmpty());
    xdotool({"windowfocus", "--sync", main});
    // The first activation builds the saved directory's catalogue; while it runs the menus and
    // their shortcuts are off, so the keys are pressed again until the viewer shows.
    QString viewer;
    QDeadlineTimer deadline(60000);
    while (viewer.isEmpty() && !deadline.hasExpired()) {
        xdotool({"key", "--clearmodifiers", "--delay", "100", "ctrl+a", "ctrl+v"});
        // The window manager's title carries the program's name after the file name.
        const QDeadlineTimer shown(1000);
        do {
            viewer = xdotool({"search", "--all", "--onlyvisible", "--pid", pid, "--name",
                              "^a\\.bmp( |$)"})
                         .section('\n', 0, 0);
        } while (viewer.isEmpty() && !shown.hasExpired());
    }
    ASSERT_FALSE(viewer.isEmpty()) << "no viewer titled a.bmp";
    const QSize size = windowSize(viewer);
    EXPECT_EQ(size.width(), 200);
    EXPECT_GT(size.height(), 100); // the picture and the status bar below it
    EXPECT_LT(size.height(), 160);

    ASSERT_TRUE(exitFromKeyboard(program, main)) << "the program did not end after Exit";
    EXPECT_EQ(program.exitCode(), 0);
    QSettings conf(qpath(config + "/KEMRA.conf"), QSettings::IniFormat);
    EXPECT_EQ(conf.value("Main/Directory").toString().toStdString(), pictures);
}
