// Running xdotool from a test: its output trimmed, or nothing when it does not finish in time.
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace pixmoor::test {

// Runs xdotool with args on display (the test's own DISPLAY when empty).
inline QString xdotool(const QStringList& args, int timeoutMs = 20000,
                       const QString& display = {}) {
    QProcess p;
    if (!display.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", display);
        p.setProcessEnvironment(env);
    }
    p.start("xdotool", args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

} // namespace pixmoor::test
