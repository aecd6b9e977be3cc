// Launch App and Explore under X11: Qt hands the file URL to xdg-open, here a recording script
// placed first on PATH.
#include "tests/files/file_commands_fixture.h"

#include <QUrl>

using namespace pixmoor;
using namespace pixmoor::test;

namespace {

TEST_F(FileCommands, LaunchOpensTheFirstSelectedFileAndExploreTheShownDirectory) {
    TempDir bin;
    const QString log = path("opened.log");
    const QString script = QString::fromStdString(bin.file("xdg-open"));
    writeFile(script, ("#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + log + "'\n").toUtf8());
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", QByteArray::fromStdString(bin.path().string()) + ":" + oldPath);

    writeFile(path("a b.bmp"), "a");
    writeFile(path("c.bmp"), "c");
    browse();
    const auto opened = [&log](int lines) {
        return QTest::qWaitFor([&] { return readFile(log).count('\n') >= lines; }, 5000);
    };
    select({"a b.bmp", "c.bmp"});
    form->LaunchApp1->trigger();
    ASSERT_TRUE(opened(1));
    // Nothing selected: nothing opens, so the next line written is Explore's.
    select({});
    form->LaunchApp1->trigger();
    form->Explore1->trigger();
    ASSERT_TRUE(opened(2));
    qputenv("PATH", oldPath);
    const QList<QByteArray> lines = readFile(log).trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(QUrl(QString::fromUtf8(lines[0])).toLocalFile(), path("a b.bmp"));
    EXPECT_EQ(QUrl(QString::fromUtf8(lines[1])).toLocalFile(), base);
}

} // namespace
