// The shared fixture's set-up and tear-down.
#include "tests/support/program_fixture.h"

#include "platform/globals.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTest>

namespace pixmoor::test {

void ProgramTest::SetUp() {
    setUp_ = true;
    oldCwd_ = QDir::currentPath();
    oldConfig_ = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config_.path().string()));
    StopRequested = false;
    PrintingBusy = false;
    setMessageHandler([this](const MessageRequest& r) { return answer(r); });
}

void ProgramTest::TearDown() {
    destroyWindows();
    if (!setUp_) return; // a test skipped before the set-up ran
    setMessageHandler({});
    QDir::setCurrent(oldCwd_);
    qputenv("XDG_CONFIG_HOME", oldConfig_);
    StopRequested = false;
    PrintingBusy = false;
}

TForm1* ProgramTest::createWindows() {
    windows_ = std::make_unique<ProgramForms>();
    return Form1;
}

void ProgramTest::destroyWindows() {
    windows_.reset();
}

void ProgramTest::showAndActivate() {
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([] { return !FirstActivation; }, 5000));
}

MessageButton ProgramTest::answer(const MessageRequest& request) {
    messages.push_back(request);
    if (answers.empty()) return MessageButton::Ok;
    const MessageButton b = answers.front();
    answers.pop_front();
    return b;
}

QStringList ProgramTest::messageTexts() const {
    QStringList texts;
    for (const MessageRequest& r : messages) texts << r.text;
    return texts;
}

QString ProgramTest::confPath() const {
    return QString::fromStdString(config_.file("KEMRA.conf"));
}

void ProgramTest::writeConf(const QByteArray& text) {
    QFile f(confPath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}

QString ProgramTest::stored(const QString& key) const {
    QSettings s(confPath(), QSettings::IniFormat);
    return s.value(key).toString();
}

} // namespace pixmoor::test
