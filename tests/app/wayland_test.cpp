// The real main window on Wayland's own platform, as other programs of the session see it: the
// compositor's screenshot shows the thumbnails and the viewer's picture; wl-paste reads what To
// Clipboard copied, chosen from the menu with keys typed by wtype, and what wl-copy copied pastes
// into the scan window.
#include "tests/app/scan_commands_fixture.h"
#include "tests/support/wayland_session.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QSignalSpy>

using namespace pixmoor;
using namespace pixmoor::test;

namespace {

class WaylandWindows : public ScanCommands {
protected:
    void SetUp() override {
        if (!waylandSession()) GTEST_SKIP() << "runs in a Wayland session of its own";
        ScanCommands::SetUp();
        ASSERT_EQ(QGuiApplication::platformName(), "wayland");
        form->show();
        // The compositor gives the window the keyboard once it is mapped.
        ASSERT_TRUE(QTest::qWaitFor([this] { return form->isActiveWindow(); }, 10000));
        // The first activation went to the saved folder: back to the test's.
        ASSERT_TRUE(QTest::qWaitFor([] { return !FirstActivation; }, 5000));
        ASSERT_TRUE(form->DirectoryListBox1->setDirectory(base));
        ASSERT_TRUE(QTest::qWaitFor([this] { return form->ListView1->count() == 1; }, 5000));
    }

    // How many pixels of the compositor's screen are of the colour (the windows' own content,
    // as the compositor shows it).
    int onScreen(QRgb colour) {
        const std::string shot = dir.file("screen.png");
        if (!waylandSession()->screenshot(shot)) {
            ADD_FAILURE() << "grim failed";
            return 0;
        }
        const QImage image =
            QImage(QString::fromStdString(shot)).convertToFormat(QImage::Format_RGB32);
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) n += image.pixel(x, y) == colour;
        return n;
    }

    // Types keys with wtype, to whatever window has the keyboard focus.
    void type(const QStringList& arguments) {
        ASSERT_TRUE(waylandSession()->runClient("wtype", arguments));
    }

    static constexpr QRgb kOrange = qRgb(0xff, 0x80, 0x00);
};

} // namespace

TEST_F(WaylandWindows, TheThumbnailsAndTheViewersPictureReachTheScreen) {
    // The catalogue of the browsed folder: the one bitmap's thumbnail, drawn by the compositor.
    int thumbnail = 0;
    EXPECT_TRUE(QTest::qWaitFor([&] { return (thumbnail = onScreen(kOrange)) >= 600; }, 10000))
        << thumbnail << " orange pixels";
    // Viewed at its own size (30 x 20) in a window of its own, beside the thumbnail.
    selectFirst();
    form->View1->trigger();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(viewer.get()));
    form->ListView1->setSelected(0, false); // the thumbnail without the selection's tint
    int both = 0;
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return (both = onScreen(kOrange)) >= thumbnail + 600; }, 10000))
        << both << " orange pixels, " << thumbnail << " before the viewer";
}

TEST_F(WaylandWindows, PicturesTravelThroughTheClipboardBetweenProgramsBothWays) {
    if (!haveProgram("wl-paste")) GTEST_SKIP() << "wl-paste (wl-clipboard) is missing";
    selectFirst();
    QSignalSpy copied(form->ToClipboard1, &QAction::triggered);
    // Image, To Clipboard: Alt+M, then O.
    type({"-M", "alt", "-k", "m", "-m", "alt"});
    ASSERT_TRUE(
        QTest::qWaitFor([this] { return QApplication::activePopupWidget() != nullptr; }, 10000));
    type({"-k", "o"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return copied.count() == 1; }, 10000));

    // The compositor offers the selection once it has the program's request.
    QByteArray types;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return waylandSession()->runClient("wl-paste", {"--list-types"}, &types); }, 10000))
        << "no selection";
    EXPECT_TRUE(types.contains("image/png")) << types.toStdString();
    QByteArray bytes;
    ASSERT_TRUE(waylandSession()->runClient("wl-paste", {"--type", "image/png"}, &bytes));
    const QImage png = QImage::fromData(bytes, "PNG");
    EXPECT_EQ(png.size(), QSize(30, 20));
    EXPECT_EQ(png.pixel(10, 10), kOrange);

    // The other way: a picture another program copied, pasted into the scan window.
    magick("-size 40x30 xc:'#2080ff' " + dir.file("blue.png"));
    ASSERT_TRUE(waylandSession()->runClient(
        "sh", {"-c", QString::fromStdString("wl-copy --type image/png < '" + dir.file("blue.png") +
                                            "'")}));
    ASSERT_TRUE(QTest::qWaitFor(
        [] {
            const QMimeData* data = QGuiApplication::clipboard()->mimeData();
            return data && data->hasImage() && !QGuiApplication::clipboard()->ownsClipboard();
        },
        10000));
    scan->PMultiImage1->PasteFromClipboard();
    const QImage pasted = scan->PMultiImage1->Picture().bitmap();
    EXPECT_EQ(pasted.size(), QSize(40, 30));
    EXPECT_EQ(pasted.pixel(5, 5), qRgb(0x20, 0x80, 0xff));
}
