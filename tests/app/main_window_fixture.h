// A fixture that creates the main window against a private settings file, answers message boxes
// and puts back the working directory and the shared state afterwards.
#pragma once

#include "app/Unit1.h"
#include "platform/globals.h"
#include "platform/message_box.h"
#include "tests/support/test_dirs.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        oldCwd_ = QDir::currentPath();
        oldConfig_ = qgetenv("XDG_CONFIG_HOME");
        config_ = std::make_unique<pixmoor::test::TempDir>();
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config_->path().string()));
        StopRequested = false;
        PrintingBusy = false;
        CurrentExt.clear();
        pixmoor::setMessageHandler([this](const pixmoor::MessageRequest& r) {
            messages.push_back(r);
            return pixmoor::MessageButton::Ok;
        });
    }

    void TearDown() override {
        form.reset();
        Form1 = nullptr;
        pixmoor::setMessageHandler({});
        QDir::setCurrent(oldCwd_);
        qputenv("XDG_CONFIG_HOME", oldConfig_);
    }

    QString confPath() const { return QString::fromStdString(config_->file("KEMRA.conf")); }

    void writeConf(const QByteArray& text) {
        QFile f(confPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }

    // A stored value as text, as another program would read it back.
    QString stored(const QString& key) const {
        QSettings s(confPath(), QSettings::IniFormat);
        return s.value(key).toString();
    }

    TForm1* create() {
        form = std::make_unique<TForm1>();
        Form1 = form.get();
        return form.get();
    }

    // Shows the window and lets its first activation run.
    void showAndActivate() {
        form->show();
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitFor([] { return !FirstActivation; }, 5000));
    }

    std::unique_ptr<TForm1> form;
    std::vector<pixmoor::MessageRequest> messages;

private:
    QString oldCwd_;
    QByteArray oldConfig_;
    std::unique_ptr<pixmoor::test::TempDir> config_;
};
