// The main window's Acquire, Select Twain and To Clipboard commands, offscreen: the scan window
// comes up captioned before the scanner's dialog, Select Twain leaves it hidden, and the first
// selected image (a bitmap, or a metafile as metafile) reaches the clipboard.
#include "tests/app/scan_commands_fixture.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <fstream>

using namespace pixmoor;
using namespace pixmoor::test;

TEST_F(ScanCommands, AcquireShowsTheScanWindowCaptionedBeforeTheScannersDialog) {
    if (!haveProgram("scanimage")) GTEST_SKIP() << "scanimage (sane-utils) is missing";
    PrivateSane sane;
    ScanDialogAnswers answers({{"mode", "Color"}, {"resolution", "50"}});
    bool visible = false;
    QString caption;
    answers.inside = [&](ScanOptionsDialog&) {
        visible = Form9->isVisible();
        caption = Form9->windowTitle();
    };
    form->Acquire1->trigger();
    EXPECT_EQ(answers.optionDialogs, 1);
    EXPECT_TRUE(visible);
    EXPECT_EQ(caption, "Scan Image");
    EXPECT_EQ(Form9->PMultiImage1->size(), QSize(157, 196));
    EXPECT_TRUE(messages.empty());

    Form9->hide();
    ScanDialogAnswers choose({}, true, 1);
    form->SelectTwain1->trigger();
    EXPECT_EQ(choose.sourceDialogs, 1);
    EXPECT_EQ(chosenSource(), "test:1");
    EXPECT_FALSE(Form9->isVisible());
}

TEST_F(ScanCommands, ToClipboardCopiesTheFirstSelectedImage) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText("before");
    form->ToClipboard1->trigger(); // nothing selected: nothing happens
    EXPECT_EQ(clipboard->text(), "before");

    selectFirst();
    form->ToClipboard2->trigger();
    const QImage image = clipboard->image();
    EXPECT_EQ(image.size(), QSize(30, 20));
    EXPECT_EQ(image.pixelColor(3, 3), QColor(0xff, 0x80, 0x00));
    EXPECT_EQ(OKBottomDlg->PMultiImage1->Picture().width(), 30); // the viewer keeps it

    form->Wmf1Click();
    ASSERT_TRUE(QTest::qWaitFor([this] { return form->ListView1->caption(0) == "box.wmf"; }, 5000));
    selectFirst();
    form->ToClipboard1->trigger();
    const QMimeData* data = clipboard->mimeData();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->data("image/x-wmf"), wmfBytes);
    EXPECT_TRUE(data->hasImage());
    EXPECT_EQ(Form7->Image1->picture().kind(), Picture::Kind::Metafile);
    EXPECT_TRUE(messages.empty());
}

TEST_F(ScanCommands, UnreadableFilesAndTheIconType) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    // A metafile that cannot be read: "Error Loading Image".
    std::ofstream(dir.file("bad.wmf")) << "not a metafile";
    form->Wmf1Click();
    ASSERT_TRUE(QTest::qWaitFor([this] { return form->ListView1->count() == 2; }, 5000));
    clipboard->setText("before");
    for (int r = 0; r < form->ListView1->count(); ++r)
        form->ListView1->setSelected(r, form->ListView1->caption(r) == "bad.wmf");
    form->ToClipboard1->trigger();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().text, "Error Loading Image");
    EXPECT_TRUE(
        messages.back().detail.startsWith(QString::fromStdString(dir.file("bad.wmf")) + u'\n'))
        << messages.back().detail.toStdString();
    EXPECT_EQ(messages.back().kind, MessageKind::Error);
    EXPECT_EQ(clipboard->text(), "before");

    form->Icon1Click();
    EXPECT_FALSE(form->ToClipboard1->isEnabled());
    EXPECT_FALSE(form->ToClipboard2->isEnabled());
    form->Png1Click();
    EXPECT_TRUE(form->ToClipboard1->isEnabled());
    EXPECT_TRUE(form->ToClipboard2->isEnabled());
}
