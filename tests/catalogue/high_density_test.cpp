// The catalogue on a high-density screen (run at several scale factors): thumbnails are made at
// the device pixels of their cells and shown without enlarging, in the icon and report views.
#include "app/Unit1.h"
#include "catalogue/image_list.h"
#include "catalogue/list_view.h"
#include "platform/globals.h"
#include "tests/catalogue/catalogue_test_util.h"
#include "tests/support/image_compare.h"
#include "tests/support/program_fixture.h"

#include <QGuiApplication>
#include <QListView>
#include <QScreen>
#include <QTest>
#include <QTreeView>
#include <QWindow>
#include <gtest/gtest.h>

using namespace pixmoor;
using namespace pixmoor::test;

namespace {

class HighDensityCatalogue : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        ThumbWidth = ThumbHeight = 70;
        createWindows();
    }
    TempDir dir;  // the browsed directory
    TempDir refs; // the references
};

// The best match of reference anywhere inside area of shot (both in device pixels), as PSNR.
double bestMatch(const QImage& shot, const QRect& area, const QImage& reference) {
    double best = 0;
    for (int y = area.top(); y + reference.height() <= area.bottom() + 1; ++y)
        for (int x = area.left(); x + reference.width() <= area.right() + 1; ++x) {
            if (x < 0 || y < 0 || x + reference.width() > shot.width() ||
                y + reference.height() > shot.height())
                continue;
            best = std::max(best, psnr(shot.copy(x, y, reference.width(), reference.height()),
                                       reference));
        }
    return best;
}

QImage readImage(const std::string& path) {
    return QImage(qpath(path)).convertToFormat(QImage::Format_RGB32);
}

} // namespace

// What the screen shows of a thumbnail, read back from the view's own drawing, matches the
// picture reduced by ImageMagick straight to the cell's device pixels far better than one
// reduced to the logical cell and enlarged, which is what a low-resolution thumbnail looks like.
TEST_F(HighDensityCatalogue, ThumbnailsAreShownAtTheScreensOwnPixels) {
    const qreal ratio = form->ListView1->devicePixelRatioF();
    const qreal asked = qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1")).toDouble();
    ASSERT_DOUBLE_EQ(ratio, asked) << "the scale factor did not reach the window";
    // Fine detail (blurred noise, no white) that a 70-pixel thumbnail cannot hold.
    magick("-size 300x200 xc:gray50 -seed 7 +noise Random -blur 0x1.2", dir.file("detail.png"));

    struct View {
        const char* name;
        bool icon;
        int side;
    };
    showAndActivate();
    ASSERT_TRUE(form->DirectoryListBox1->setDirectory(qpath(dir.path().string())));
    form->PngButton->click();
    for (const View view : {View{"icon view", true, 70}, View{"report view", false, 50}}) {
        SCOPED_TRACE(view.name);
        const QSize device = ImageList::deviceSize(QSize(view.side, view.side), ratio);
        const std::string size = std::to_string(device.width()) + "x" +
                                 std::to_string(device.height()) + "!";
        const std::string side = std::to_string(view.side);
        magick(dir.file("detail.png") + " -resize " + size, refs.file("sharp.png"));
        magick(dir.file("detail.png") + " -resize " + side + "x" + side + "! -resize " + size,
               refs.file("enlarged.png"));
        const QImage sharp = readImage(refs.file("sharp.png"));
        const QImage enlarged = readImage(refs.file("enlarged.png"));

        if (form->isIconView() != view.icon) form->List1Click(); // builds again
        ASSERT_EQ(form->ListView1->count(), 1);
        ImageList* list = view.icon ? form->ImageList1 : form->ImageList2;
        EXPECT_EQ(list->image(0).size(), device);

        QAbstractItemView* shown = view.icon ? static_cast<QAbstractItemView*>(
                                                   form->ListView1->iconView())
                                             : form->ListView1->reportView();
        const QImage shot = shown->viewport()->grab().toImage().convertToFormat(
            QImage::Format_RGB32);
        ASSERT_DOUBLE_EQ(shot.devicePixelRatio(), ratio);
        const QRect item = shown->visualRect(shown->model()->index(0, 0));
        const QRect area(QPoint(int(item.left() * ratio), int(item.top() * ratio)),
                         QPoint(int(std::ceil((item.right() + 1) * ratio)),
                                int(std::ceil((item.bottom() + 1) * ratio))));
        const double ours = bestMatch(shot, area, sharp);
        const double blurred = psnr(enlarged, sharp);
        RecordProperty(std::string(view.name) + " PSNR", std::to_string(ours) + " enlarged " + std::to_string(blurred));
        EXPECT_GE(ours, 30.0) << "blurred thumbnail: " << blurred << " dB";
        if (ratio >= 1.5) {
            EXPECT_GE(ours, blurred + 8.0);
        }
    }
}

// A window moved to a screen of another density has its thumbnails made again for that screen's
// pixels. Runs on the offscreen platform given two screens (two_screens.json).
using TwoScreens = HighDensityCatalogue;

TEST_F(TwoScreens, MovingToADenserScreenMakesTheThumbnailsAgain) {
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (screens.size() < 2 || screens[0]->devicePixelRatio() == screens[1]->devicePixelRatio())
        GTEST_SKIP() << "needs two screens of different densities";
    magick("-size 300x200 xc:gray50 -seed 7 +noise Random -blur 0x1.2", dir.file("detail.png"));
    showAndActivate();
    ASSERT_TRUE(form->DirectoryListBox1->setDirectory(qpath(dir.path().string())));
    form->PngButton->click();
    ASSERT_EQ(form->ListView1->count(), 1);
    for (QScreen* screen : {screens[1], screens[0]}) {
        form->windowHandle()->setScreen(screen);
        const QSize device =
            ImageList::deviceSize(QSize(70, 70), screen->devicePixelRatio());
        EXPECT_TRUE(QTest::qWaitFor([&] { return form->ImageList1->image(0).size() == device; }, 10000))
            << screen->name().toStdString();
    }
}
