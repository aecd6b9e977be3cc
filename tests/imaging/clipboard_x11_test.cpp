// The component's clipboard as other X11 programs see it (xclip), on the Xvfb display.
#include "imaging/TMultiP.h"
#include "tests/imaging/imaging_test_util.h"
#include "tests/support/test_dirs.h"

#include <QGuiApplication>
#include <QImage>
#include <gtest/gtest.h>

using namespace pixmoor;
using namespace pixmoor::test;

namespace {

class ClipboardX11 : public ::testing::Test {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "needs an X11 display";
        if (!haveProgram("xclip")) GTEST_SKIP() << "xclip is missing";
    }
};

} // namespace

TEST_F(ClipboardX11, BitmapsReachOtherProgramsAsImages) {
    TPMultiImage image;
    QImage red(40, 20, QImage::Format_RGB888);
    red.fill(Qt::red);
    image.setBitmap(red);
    image.CopyToClipboard();
    const QByteArray targets = clipboardAs("TARGETS");
    EXPECT_TRUE(targets.contains("image/png")) << targets.toStdString();
    const QImage back =
        QImage::fromData(clipboardAs("image/png"));
    EXPECT_EQ(back.size(), QSize(40, 20));
    EXPECT_EQ(back.pixelColor(5, 5), QColor(Qt::red));
}

TEST_F(ClipboardX11, MetafilesGoAsWmfBytesAndARenderedImage) {
    TempDir dir;
    const QByteArray wmf = writeSimpleWmf(dir.file("a.wmf"), 60, 30, 0, 0, 255);
    MessageLog log;
    TPMultiImage image;
    image.setImageName(qs(dir.file("a.wmf")));
    image.CopyToClipboard();
    const QByteArray targets = clipboardAs("TARGETS");
    EXPECT_TRUE(targets.contains("image/x-wmf")) << targets.toStdString();
    EXPECT_TRUE(targets.contains("image/png")) << targets.toStdString();
    EXPECT_EQ(clipboardAs("image/x-wmf"), wmf);
}
