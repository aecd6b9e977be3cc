// The real program as a process on the test's X display: started with an environment of the
// test's own, its main window found, and ended from the keyboard.
#pragma once

#include "tests/support/xdotool.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

namespace pixmoor::test {

// Starts the program at path under X11 in folder start with env; whether it started.
inline bool startProgram(QProcess& program, const QString& path, QProcessEnvironment env,
                         const QString& start) {
    env.insert("QT_QPA_PLATFORM", "xcb");
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(start);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(path, {});
    return program.waitForStarted(10000);
}

// The first window of the program titled "Pixmoor", once it is mapped; empty when none shows.
inline QString mainWindowOf(const QProcess& program) {
    // --sync waits until a window of that exact title is mapped.
    return xdotool({"search", "--all", "--sync", "--onlyvisible", "--pid",
                    QString::number(program.processId()), "--name", "^Pixmoor$"})
        .section('\n', 0, 0);
}

// Chooses E&xit from the keyboard (Alt+F opens "&File", x chooses "E&xit") and waits for the
// program to end; a program that does not end is killed, and false returned.
inline bool exitFromKeyboard(QProcess& program, const QString& window) {
    xdotool({"windowfocus", "--sync", window});
    xdotool({"key", "--clearmodifiers", "--delay", "200", "alt+f", "x"});
    if (program.waitForFinished(15000)) return true;
    program.kill();
    program.waitForFinished();
    return false;
}

} // namespace pixmoor::test
