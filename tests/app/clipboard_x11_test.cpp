// To Clipboard of the real main window as other X11 programs see it: xclip lists the types and
// reads the picture back (a metafile as its bytes, which our player renders again).
#include "imaging/wmf/metafile.h"
#include "tests/app/scan_commands_fixture.h"

using namespace pixmoor;
using namespace pixmoor::test;

TEST_F(ScanCommands, OtherProgramsPasteWhatToClipboardCopied) {
    if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "needs an X11 display";
    if (!haveProgram("xclip")) GTEST_SKIP() << "xclip is missing";
    form->ListView1->setSelected(0, true);
    form->ToClipboard1->trigger();
    const QByteArray targets = clipboardAs("TARGETS");
    EXPECT_TRUE(targets.contains("image/png")) << targets.toStdString();
    EXPECT_TRUE(targets.contains("image/bmp")) << targets.toStdString();
    const QImage png = QImage::fromData(clipboardAs("image/png"), "PNG");
    EXPECT_EQ(png.size(), QSize(30, 20));
    EXPECT_EQ(png.pixelColor(10, 10), QColor(0xff, 0x80, 0x00));

    form->Wmf1Click();
    ASSERT_TRUE(QTest::qWaitFor([this] { return form->ListView1->caption(0) == "box.wmf"; }, 5000));
    form->ListView1->setSelected(0, true);
    form->ToClipboard1->trigger();
    const QByteArray wmfTargets = clipboardAs("TARGETS");
    EXPECT_TRUE(wmfTargets.contains("image/x-wmf")) << wmfTargets.toStdString();
    EXPECT_TRUE(wmfTargets.contains("image/png")) << wmfTargets.toStdString();
    const QByteArray bytes = clipboardAs("image/x-wmf");
    EXPECT_EQ(bytes, wmfBytes);
    // What another program pasted plays again: a blue box.
    Picture picture;
    picture.setMetafile(wmf::Metafile::fromData(bytes));
    const QImage played = picture.toImage();
    ASSERT_FALSE(played.isNull());
    EXPECT_EQ(played.pixelColor(played.width() / 2, played.height() / 2), QColor(0, 0, 255));
}
