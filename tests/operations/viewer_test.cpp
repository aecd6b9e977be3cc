// Tests of the image viewer and the metafile viewer windows: design settings, the fit of the
// viewer to its picture (also larger than the screen), reuse, and the stretched metafile.
#include "operations/pic.h"
#include "operations/wmf.h"
#include "platform/message_box.h"
#include "tests/catalogue/catalogue_test_util.h"

#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTest>
#include <gtest/gtest.h>

using namespace pixmoor;
using namespace pixmoor::test;

namespace {

class Viewers : public ::testing::Test {
protected:
    void SetUp() override {
        setMessageHandler([this](const MessageRequest& r) {
            messages.push_back(r);
            return MessageButton::Ok;
        });
    }
    void TearDown() override { setMessageHandler({}); }

    // The client area needed by a picture: the picture plus the status bar.
    QSize clientFor(const TOKBottomDlg& dlg, QSize picture) const {
        return {picture.width(), picture.height() + dlg.StatusBar1->sizeHint().height()};
    }

    TempDir dir;
    std::vector<MessageRequest> messages;
};

} // namespace

TEST_F(Viewers, ImageViewerFitsItsClientAreaToThePictureAndIsReused) {
    magick("-size 200x100 xc:red", dir.file("wide.bmp"));
    magick("-size 120x260 xc:blue", dir.file("tall.png"));
    CurrentDir cwd(qpath(dir.path().string()));
    TOKBottomDlg dlg;

    dlg.PMultiImage1->setImageName("wide.bmp");
    dlg.showViewer();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    EXPECT_EQ(dlg.PMultiImage1->size(), QSize(200, 100));
    EXPECT_EQ(dlg.size(), clientFor(dlg, {200, 100}));
    // The whole picture shows, without scroll bars.
    EXPECT_FALSE(dlg.ScrollBox->horizontalScrollBar()->isVisible());
    EXPECT_FALSE(dlg.ScrollBox->verticalScrollBar()->isVisible());
    EXPECT_EQ(dlg.ScrollBox->viewport()->size(), QSize(200, 100));

    // A second view reuses the open window and refits it.
    dlg.PMultiImage1->setImageName("tall.png");
    dlg.showViewer();
    EXPECT_EQ(dlg.size(), clientFor(dlg, {120, 260}));
    EXPECT_TRUE(dlg.isVisible());

    // A file that is gone leaves an empty picture and the window at its last size.
    dlg.PMultiImage1->setImageName("gone.bmp");
    dlg.showViewer();
    EXPECT_EQ(dlg.size(), clientFor(dlg, {120, 260}));
    EXPECT_TRUE(messages.empty());

    // Closing only hides the window.
    dlg.close();
    EXPECT_FALSE(dlg.isVisible());
    dlg.PMultiImage1->setImageName("wide.bmp");
    dlg.showViewer();
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.size(), clientFor(dlg, {200, 100}));
}

TEST_F(Viewers, APictureLargerThanTheScreenGetsAScreenSizedWindowWithScrollBars) {
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize big = available.size() + QSize(300, 200);
    magick("-size " + std::to_string(big.width()) + "x" + std::to_string(big.height()) +
               " gradient:white-black",
           dir.file("huge.png"));
    CurrentDir cwd(qpath(dir.path().string()));
    TOKBottomDlg dlg;
    dlg.PMultiImage1->setImageName("huge.png");
    dlg.showViewer();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    EXPECT_EQ(dlg.PMultiImage1->size(), big); // still one screen pixel per image pixel
    EXPECT_LE(dlg.frameGeometry().width(), available.width());
    EXPECT_LE(dlg.frameGeometry().height(), available.height());
    EXPECT_TRUE(available.contains(dlg.frameGeometry()));
    EXPECT_TRUE(dlg.ScrollBox->horizontalScrollBar()->isVisible());
    EXPECT_TRUE(dlg.ScrollBox->verticalScrollBar()->isVisible());
    EXPECT_GT(dlg.ScrollBox->horizontalScrollBar()->maximum(), 0);
}

TEST_F(Viewers, MetafileViewerStretchesItsPictureToTheClientArea) {
    TForm7 form;
    EXPECT_EQ(form.windowTitle(), "Form7");
    EXPECT_EQ(form.size(), QSize(312, 350));
    form.Image1->loadPicture(QStringLiteral(PIXMOOR_FIXTURES "/wmf/shapes.wmf"));
    form.showViewer();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    const int status = form.StatusBar1->height();
    EXPECT_EQ(form.Image1->geometry(), QRect(0, 0, 312, 350 - status));
    EXPECT_EQ(form.Image1->destRect(), form.Image1->rect());

    // Resizing the window rescales the picture, whatever its proportions.
    form.resize(500, 150);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return form.Image1->size() == QSize(500, 150 - form.StatusBar1->height()); }, 5000))
        << form.Image1->width() << "x" << form.Image1->height();
    EXPECT_EQ(form.Image1->destRect(), form.Image1->rect());
    const QImage shot = form.Image1->grab().toImage();
    EXPECT_EQ(shot.size(), form.Image1->size() * shot.devicePixelRatio());
}
