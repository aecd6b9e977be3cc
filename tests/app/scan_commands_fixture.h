// A fixture for the scan and clipboard commands of the real main window: the windows they use
// (the image viewer, the metafile viewer, the scan window), a browsed temporary directory holding
// a bitmap and a metafile, and recorded message boxes.
#pragma once

#include "acquire/scan.h"
#include "app/Unit1.h"
#include "operations/pic.h"
#include "operations/wmf.h"
#include "platform/globals.h"
#include "platform/message_box.h"
#include "tests/imaging/imaging_test_util.h"
#include "tests/support/sane_test.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

class ScanCommands : public ::testing::Test {
protected:
    void SetUp() override {
        oldCwd_ = QDir::currentPath();
        oldConfig_ = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config_.path().string()));
        CurrentExt.clear();
        pixmoor::setMessageHandler([this](const pixmoor::MessageRequest& r) {
            messages.push_back(r);
            return pixmoor::MessageButton::Ok;
        });
        pixmoor::test::magick("-size 30x20 xc:'#ff8000' " + dir.file("orange.bmp"));
        wmfBytes = pixmoor::test::writeSimpleWmf(dir.file("box.wmf"), 60, 30, 0, 0, 255);
        base = QFileInfo(QString::fromStdString(dir.path().string())).canonicalFilePath();
        form = std::make_unique<TForm1>();
        Form1 = form.get();
        viewer = std::make_unique<TOKBottomDlg>();
        OKBottomDlg = viewer.get();
        wmfViewer = std::make_unique<TForm7>();
        Form7 = wmfViewer.get();
        scan = std::make_unique<TForm9>();
        Form9 = scan.get();
        ASSERT_TRUE(form->DirectoryListBox1->setDirectory(base));
        ASSERT_TRUE(QTest::qWaitFor([this] { return form->ListView1->count() == 1; }, 5000));
    }

    void TearDown() override {
        scan.reset();
        Form9 = nullptr;
        wmfViewer.reset();
        Form7 = nullptr;
        viewer.reset();
        OKBottomDlg = nullptr;
        form.reset();
        Form1 = nullptr;
        pixmoor::setMessageHandler({});
        QDir::setCurrent(oldCwd_);
        qputenv("XDG_CONFIG_HOME", oldConfig_);
        CurrentExt.clear();
    }

    void selectFirst() { form->ListView1->setSelected(0, true); }

    pixmoor::test::TempDir config_;
    pixmoor::test::TempDir dir;
    QString base;
    QByteArray wmfBytes;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<TOKBottomDlg> viewer;
    std::unique_ptr<TForm7> wmfViewer;
    std::unique_ptr<TForm9> scan;
    std::vector<pixmoor::MessageRequest> messages;

private:
    QString oldCwd_;
    QByteArray oldConfig_;
};
