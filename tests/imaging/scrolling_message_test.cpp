// Scrolling messages (.SCM one line moving left, .CMS lines moving up) through the component.
#include "imaging/TMultiP.h"
#include "tests/imaging/imaging_test_util.h"
#include "tests/support/test_dirs.h"

#include <fstream>
#include <gtest/gtest.h>

using namespace pixmoor;
using namespace pixmoor::test;

namespace {
constexpr int H = TPMultiImage::kHorizontalStepMessage;
constexpr int V = TPMultiImage::kVerticalStepMessage;

void write(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}
} // namespace

TEST(ScrollingMessageFile, MarkersDefaultsAndEmptyValues) {
    QString message;
    MessageStyle s = ScrollingMessage::parseMessageFile("nothing here", message);
    EXPECT_EQ(s.fontColour, 255);
    EXPECT_EQ(s.fontHeight, -13);
    EXPECT_EQ(s.fontName, "SYSTEM");
    EXPECT_EQ(s.background, 128);
    EXPECT_EQ(s.speed, 1);
    EXPECT_EQ(message, " Invallid message format ! ");

    s = ScrollingMessage::parseMessageFile(
        "/fc|65280/fh|-20/fn|Serif/fs|/ft|1010/bc|16711680/sp|3/sm|Hello world/eo|", message);
    EXPECT_EQ(s.fontColour, 65280);
    EXPECT_EQ(s.fontHeight, -20);
    EXPECT_EQ(s.fontName, "Serif");
    EXPECT_EQ(s.fontSize, 0); // present but empty: unchanged
    EXPECT_TRUE(s.font().bold());
    EXPECT_FALSE(s.font().italic());
    EXPECT_TRUE(s.font().underline());
    EXPECT_EQ(colourFromWindows(s.background), QColor(0, 0, 255));
    EXPECT_EQ(s.speed, 3);
    EXPECT_EQ(message, "Hello world");

    // A marker without its successor gives the default.
    s = ScrollingMessage::parseMessageFile("/sp|7", message);
    EXPECT_EQ(s.speed, 1);
    EXPECT_THROW(ScrollingMessage::parseMessageFile("/sp|fast/sm|x/eo|", message),
                 MessageFormatError);
}

TEST(ScrollingMessageFile, MovesLeftOnePixelPerStepAtItsSpeed) {
    TempDir dir;
    write(dir.file("m.scm"), "/bc|65280/sp|1/sm|Scrolling/eo|");
    MessageLog log;
    TPMultiImage image;
    image.resize(200, 60);
    image.setColor(Qt::white);
    image.setBitmap(QImage(10, 10, QImage::Format_RGB32));
    image.setImageName(qs(dir.file("m.scm")));
    EXPECT_TRUE(image.Picture().isEmpty());
    EXPECT_EQ(image.LoadStatus(), qs(dir.file("m.scm")).toUpper());
    EXPECT_EQ(image.imageInfo().InfoFormat, "SCM");
    const ScrollingMessage& m = image.scrollingMessage();
    ASSERT_EQ(m.mode(), ScrollingMessage::Mode::Horizontal);
    EXPECT_EQ(image.Color(), QColor(0, 255, 0));
    EXPECT_EQ(m.x(), 200);
    EXPECT_EQ(m.y(), (60 - m.strip().height()) / 2);

    // Speed 1: one pixel every second message; vertical messages do nothing here.
    image.stepMessage(H);
    EXPECT_EQ(m.x(), 200);
    image.stepMessage(H);
    EXPECT_EQ(m.x(), 199);
    image.stepMessage(V);
    image.stepMessage(V);
    EXPECT_EQ(m.x(), 199);

    // Past the left edge it starts again at the control's width.
    const int width = m.strip().width();
    for (int i = 0; i < 2 * (199 + width); ++i) image.stepMessage(H);
    EXPECT_EQ(m.x(), -width);
    image.stepMessage(H);
    image.stepMessage(H);
    EXPECT_EQ(m.x(), 200);

    // The strip is drawn where the state says.
    for (int i = 0; i < 2 * 100; ++i) image.stepMessage(H);
    const QImage shot = image.grab().toImage();
    EXPECT_EQ(countColour(shot, qRgb(255, 0, 0), 60, QRect(0, 0, 100, 60)), 0);
    EXPECT_GT(countColour(shot, qRgb(255, 0, 0), 60, QRect(100, 0, 100, 60)), 0);

    // Loading anything ends the display and gives the control its colour back.
    image.setImageName(qs(dir.file("missing.bmp")));
    image.ClearImage();
    EXPECT_FALSE(m.active());
    EXPECT_EQ(image.Color(), QColor(Qt::white));
    EXPECT_TRUE(log.boxes().empty());
}

TEST(ScrollingMessageList, LinesMoveUpAndFollowEachOther) {
    TempDir dir;
    write(dir.file("m.cms"),
          "title\r\n255\r\n-13\r\nSans\r\n\r\n0000\r\n0\r\n0\r\nfirst line\r\nsecond\r\n");
    MessageLog log;
    TPMultiImage image;
    image.resize(200, 80);
    image.setImageName(qs(dir.file("m.cms")));
    const ScrollingMessage& m = image.scrollingMessage();
    ASSERT_EQ(m.mode(), ScrollingMessage::Mode::Vertical);
    EXPECT_EQ(m.lines(), (QStringList{"first line", "second"}));
    EXPECT_EQ(m.y(), 80);
    EXPECT_EQ(m.x(), (200 - m.strip().width()) / 2);
    EXPECT_EQ(image.imageInfo().InfoFormat, "CMS");

    // Speed 0: every message is a step.
    image.stepMessage(V);
    EXPECT_EQ(m.y(), 79);
    const int travel = 80 + m.strip().height(); // until y < -(text height + 5)
    for (int i = 0; i < travel; ++i) image.stepMessage(V);
    EXPECT_EQ(m.currentLine(), 1);
    EXPECT_EQ(m.y(), 80);
    for (int i = 0; i < 81 + m.strip().height(); ++i) image.stepMessage(V);
    EXPECT_EQ(m.currentLine(), 0); // after the last line, the first again
}

TEST(ScrollingMessageList, BadFilesEmptyThePictureWithoutMessages) {
    TempDir dir;
    write(dir.file("short.cms"), "title\n255\n");
    write(dir.file("bad.cms"), "t\nred\n-13\nSans\n\n0000\n0\n0\nline\n");
    write(dir.file("blank.cms"), "t\n255\n-13\nSans\n\n0000\n0\n0\n\n");
    MessageLog log;
    TPMultiImage image;
    for (const char* name : {"short.cms", "bad.cms"}) {
        image.setBitmap(QImage(10, 10, QImage::Format_RGB32));
        image.setImageName(qs(dir.file(name)));
        EXPECT_TRUE(image.Picture().isEmpty());
        EXPECT_FALSE(image.scrollingMessage().active());
        EXPECT_EQ(image.LoadStatus(), qs(dir.file(name)).toUpper());
    }
    // Absurd values are bounded: a huge font, a message far wider than any strip.
    write(dir.file("huge.scm"), "/fh|-2147483648/fn|/sm|" + std::string(200000, 'W') + "/eo|");
    image.setImageName(qs(dir.file("huge.scm")));
    ASSERT_TRUE(image.scrollingMessage().active());
    EXPECT_LE(image.scrollingMessage().strip().width(), 1 << 15);

    // An empty message line is shown as blanks, not divided by zero.
    image.setImageName(qs(dir.file("blank.cms")));
    EXPECT_TRUE(image.scrollingMessage().active());
    EXPECT_TRUE(log.boxes().empty());
}
