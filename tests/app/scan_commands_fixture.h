// A fixture for the scan and clipboard commands of the real main window: the program's windows,
// a browsed temporary directory holding a bitmap and a metafile, and recorded message boxes.
#pragma once

#include "acquire/scan.h"
#include "app/Unit1.h"
#include "operations/pic.h"
#include "operations/wmf.h"
#include "platform/globals.h"
#include "tests/imaging/imaging_test_util.h"
#include "tests/support/program_fixture.h"
#include "tests/support/sane_test.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>
#include <gtest/gtest.h>

class ScanCommands : public pixmoor::test::ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        pixmoor::test::magick("-size 30x20 xc:'#ff8000' " + dir.file("orange.bmp"));
        wmfBytes = pixmoor::test::writeSimpleWmf(dir.file("box.wmf"), 60, 30, 0, 0, 255);
        base = QFileInfo(QString::fromStdString(dir.path().string())).canonicalFilePath();
        createWindows();
        ASSERT_TRUE(form->DirectoryListBox1->setDirectory(base));
        ASSERT_TRUE(QTest::qWaitFor([this] { return form->ListView1->count() == 1; }, 5000));
    }

    void selectFirst() { form->ListView1->setSelected(0, true); }

    pixmoor::test::TempDir dir;
    QString base;
    QByteArray wmfBytes;
    pixmoor::test::WindowOf<TOKBottomDlg> viewer{OKBottomDlg};
    pixmoor::test::WindowOf<TForm7> wmfViewer{Form7};
    pixmoor::test::WindowOf<TForm9> scan{Form9};
};
