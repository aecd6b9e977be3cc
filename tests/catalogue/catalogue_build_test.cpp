// Tests of the catalogue build on the real main window (offscreen): counts, progress, busy state,
// Stop, order and thumbnails, the loaders per type, failures, report view, the type and view
// commands, the thumb size command, the viewers and a close during a build.
#include "app/Unit1.h"
#include "catalogue/Unit2.h"
#include "catalogue/enumeration.h"
#include "catalogue/image.h"
#include "catalogue/image_list.h"
#include "catalogue/list_view.h"
#include "imaging/file_types.h"
#include "operations/pic.h"
#include "operations/wmf.h"
#include "platform/globals.h"
#include "platform/message_box.h"
#include "platform/thread_activity.h"
#include "tests/catalogue/catalogue_test_util.h"
#include "tests/support/blocking_fuse.h"
#include "tests/support/hostile_files.h"
#include "tests/support/poll.h"
#include "tests/support/program_fixture.h"

#include <QApplication>
#include <QCollator>
#include <QFileInfo>
#include <QListView>
#include <QProcess>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

using namespace pixmoor;
using namespace pixmoor::test;

namespace {

// Counts the enabled-state changes of a widget: the busy state disables the directory tree.
class EnableWatcher : public QObject {
public:
    explicit EnableWatcher(QWidget* w) { w->installEventFilter(this); }
    int changes = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::EnabledChange) ++changes;
        return false;
    }
};

class CatalogueBuild : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        ThumbWidth = ThumbHeight = 70;
        createWindows();
        builds =
            std::make_unique<QSignalSpy>(form->ListView1->model(), &QAbstractItemModel::modelReset);
    }

    void TearDown() override {
        builds.reset();
        ProgramTest::TearDown();
    }

    QString dirPath() const { return qpath(dir.path().string()); }

    // Shows the main window and lets its first activation run (it points the tree at the saved
    // directory, which would otherwise happen in the middle of a test's build).
    void showWindow() {
        form->show();
        ASSERT_TRUE(QTest::qWaitFor([] { return !FirstActivation; }, 5000));
    }

    // Points the directory tree at the test directory, which builds the catalogue.
    void browse() {
        ASSERT_TRUE(form->DirectoryListBox1->setDirectory(dirPath()));
        ASSERT_EQ(QDir::currentPath(), QFileInfo(dirPath()).canonicalFilePath());
    }

    // The thumbnail an item shows.
    QImage thumbOf(int row) const {
        const ListItem& item = form->ListView1->item(row);
        ImageList* list = form->isIconView() ? form->ImageList1 : form->ImageList2;
        return list->image(item.imageIndex);
    }

    int buildCount() const { return int(builds->count()); }

    TempDir dir;
    WindowOf<TForm2> form2{Form2};
    WindowOf<TForm3> form3{Form3};
    WindowOf<TOKBottomDlg> viewer{OKBottomDlg};
    WindowOf<TForm7> form7{Form7};
    std::unique_ptr<QSignalSpy> builds;
};

// Colours distinct enough to tell thumbnails apart after scaling.
QString colourName(int i) {
    static const char* names[] = {"red",  "lime",  "blue",   "yellow", "magenta",
                                  "cyan", "black", "orange", "purple", "navy"};
    return names[i % 10];
}

unsigned rgbOf(const QString& name) {
    return QColor(name).rgb() | 0xFF000000u;
}

} // namespace

TEST_F(CatalogueBuild, EmptyDirectoryShowsNoFilesAndNeverEntersTheBusyState) {
    EnableWatcher tree(form->DirectoryListBox1);
    QSignalSpy progress(form->ProgressBar1, &QProgressBar::valueChanged);
    browse();
    EXPECT_EQ(form->ListView1->count(), 0);
    EXPECT_EQ(form->Label1->text(), "0 Files");
    EXPECT_EQ(form->statusText(), "Finished");
    EXPECT_FALSE(form->ProgressBar1->isVisible());
    EXPECT_EQ(tree.changes, 0);
    EXPECT_FALSE(form->StopButton->isEnabled()); // left the busy state anyway
    EXPECT_EQ(buildCount(), 1);
    EXPECT_TRUE(messages.empty());
}

TEST_F(CatalogueBuild, OneFileShowsOneFileAndTheProgressStaysAtZero) {
    magick("-size 40x30 xc:blue", dir.file("only.bmp"));
    EnableWatcher tree(form->DirectoryListBox1);
    QList<int> positions;
    QObject::connect(form->ProgressBar1, &QProgressBar::valueChanged,
                     [&](int v) { positions.append(v); });
    browse();
    ASSERT_EQ(form->ListView1->count(), 1);
    EXPECT_EQ(form->ListView1->caption(0), "only.bmp");
    EXPECT_EQ(form->Label1->text(), "1 File");
    for (int p : positions) EXPECT_EQ(p, 0);
    EXPECT_EQ(tree.changes, 2); // disabled and enabled again
    EXPECT_TRUE(form->DirectoryListBox1->isEnabled());
    EXPECT_EQ(pixelAt(thumbOf(0), 35, 35), rgbOf("blue"));
}

TEST_F(CatalogueBuild, SortedAndUnsortedOrdersEachItemWithItsOwnThumbnail) {
    // Names whose listing order is all but certain to differ from the sorted order.
    QStringList names;
    for (int i = 0; i < 10; ++i) {
        const QString name = QStringLiteral("f%1_%2.png").arg((i * 7) % 10).arg(colourName(i));
        names.append(name);
        magick("-size 60x60 xc:" + colourName(i).toStdString(), dir.file(name.toStdString()));
    }
    form->PngButton->click();
    EXPECT_STREQ(form->currentType()->name, "png");
    browse();
    const int builtBefore = buildCount();
    ASSERT_EQ(form->ListView1->count(), 10);
    EXPECT_EQ(form->Label1->text(), "10 Files");
    QStringList expected = names;
    QCollator collator;
    std::sort(expected.begin(), expected.end(),
              [&](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
    EXPECT_EQ(form->ListView1->captions(), expected);
    const auto checkThumbnails = [&] {
        for (int row = 0; row < form->ListView1->count(); ++row) {
            const QString caption = form->ListView1->caption(row);
            const QString colour = caption.section(u'_', 1).section(u'.', 0, 0);
            EXPECT_EQ(pixelAt(thumbOf(row), 30, 30), rgbOf(colour)) << caption.toStdString();
        }
    };
    checkThumbnails();

    // Sorting off rebuilds and shows the listing order; on again re-sorts without a build.
    form->Sorted1->trigger();
    EXPECT_FALSE(form->Sorted1->isChecked());
    EXPECT_EQ(buildCount(), builtBefore + 1);
    EXPECT_EQ(form->ListView1->captions(), enumerateImageFiles(dirPath(), "png"));
    checkThumbnails();
    form->Sorted1->trigger();
    EXPECT_TRUE(form->Sorted1->isChecked());
    EXPECT_EQ(buildCount(), builtBefore + 1);
    EXPECT_EQ(form->ListView1->captions(), expected);
    checkThumbnails();
}

TEST_F(CatalogueBuild, ThumbnailsAreSqueezedToFillAndWhiteIsTransparent) {
    // 200 x 100: left half red, right half white; as BMP, PNG and JPEG (the JPEG's blocks are
    // 16 x 16, so both halves stay pure away from the seam).
    magick("-size 96x100 xc:red -size 96x100 xc:white +append", dir.file("wide.bmp"));
    magick("-size 96x100 xc:red -size 96x100 xc:white +append", dir.file("wide.png"));
    magick("-size 96x96 xc:red -size 96x96 xc:white +append -quality 100", dir.file("wide.jpg"));
    browse();
    // Decoded ahead on worker threads and through the work form's component alone: the same.
    for (bool fast : {true, false}) {
        form->fastThumbnails = fast;
        for (auto* button : {form->BmpButton, form->PngButton, form->JpegButton}) {
            button->click();
            ASSERT_EQ(form->ListView1->count(), 1);
            const QImage thumb = thumbOf(0);
            ASSERT_EQ(thumb.size(), QSize(70, 70));
            const std::string what = std::string(form->currentType()->name) + (fast ? " fast" : " component");
            for (int y : {0, 35, 69}) {
                const QRgb left = pixelAt(thumb, 5, y);
                EXPECT_GE(qRed(left), 250) << what << " " << y;
                EXPECT_LE(qGreen(left), 5) << what << " " << y;
                EXPECT_EQ(qAlpha(pixelAt(thumb, 64, y)), 0)
                    << what << " " << y; // white: transparent
            }
        }
    }
}

// A folder whose thumbnails exceed the list's budget keeps within it: thumbnails out of use are
// dropped, and one shown again is made again, the same picture.
TEST_F(CatalogueBuild, ThumbnailsBeyondTheBudgetAreDroppedAndMadeAgainWhenShown) {
    const int files = 30;
    for (int i = 0; i < files; ++i)
        magick("-size 60x60 xc:" + colourName(i).toStdString(),
               dir.file(QStringLiteral("%1.png").arg(i, 2, 10, QLatin1Char('0')).toStdString()));
    const std::int64_t budget = 8 * 70 * 70 * 4; // eight thumbnails
    form->ImageList1->setBudget(budget);
    form->PngButton->click();
    browse();
    ASSERT_EQ(form->ListView1->count(), files);
    EXPECT_LE(form->ImageList1->heldBytes(), budget);
    int dropped = 0;
    for (int row = 0; row < files; ++row) {
        const QString colour = colourName(form->ListView1->caption(row).left(2).toInt());
        // Asking for a dropped thumbnail asks for it again: it comes back on its own.
        if (thumbOf(row).isNull()) ++dropped;
        ASSERT_TRUE(QTest::qWaitFor([&] { return !thumbOf(row).isNull(); }, 20000)) << row;
        EXPECT_EQ(pixelAt(thumbOf(row), 30, 30), rgbOf(colour)) << row;
        EXPECT_LE(form->ImageList1->heldBytes(), budget);
    }
    EXPECT_GE(dropped, files - 8);
}

TEST_F(CatalogueBuild, JpegTypeListsEveryJpegSpellingWithTheRightPicture) {
    magick("-size 64x64 xc:red", dir.file("a.jpg"));
    magick("-size 64x64 xc:blue", dir.file("b.JPEG"));
    magick("-size 64x64 xc:lime", dir.file("c.jpe"));
    form->Jpeg1->trigger();
    EXPECT_STREQ(form->currentType()->name, "jpg");
    browse();
    ASSERT_EQ(form->ListView1->captions(), (QStringList{"a.jpg", "b.JPEG", "c.jpe"}));
    const unsigned want[] = {rgbOf("red"), rgbOf("blue"), rgbOf("lime")};
    for (int row = 0; row < 3; ++row) {
        const QRgb got = thumbOf(row).pixel(32, 32);
        EXPECT_NEAR(qRed(got), qRed(want[row]), 24) << row;
        EXPECT_NEAR(qGreen(got), qGreen(want[row]), 24) << row;
        EXPECT_NEAR(qBlue(got), qBlue(want[row]), 24) << row;
    }
}

TEST_F(CatalogueBuild, NamesThatAreNotUtf8AreListedShownAndOpenedByTheirBytes) {
    // An old Latin-1 name ("Caf\xe9") and one whose bytes are UTF-8 of a surrogate (never valid).
    const std::string latin1 = "Caf\xe9.jpg";
    const std::string surrogate = "s\xed\xb2\x80.jpg";
    magick("-size 80x40 xc:blue", dir.file("tmp.jpg"));
    std::filesystem::rename(dir.file("tmp.jpg"), dir.file(latin1));
    magick("-size 60x30 xc:lime", dir.file("tmp.jpg"));
    std::filesystem::rename(dir.file("tmp.jpg"), dir.file(surrogate));
    showWindow();
    form->Jpeg1->trigger();
    browse();
    QStringList captions = form->ListView1->captions();
    ASSERT_EQ(captions.size(), 2);
    EXPECT_TRUE(messages.empty());
    for (int row = 0; row < 2; ++row) {
        const bool isLatin1 = captions[row].startsWith(u'C');
        const QRgb got = thumbOf(row).pixel(35, 35);
        const unsigned want = rgbOf(isLatin1 ? "blue" : "lime");
        EXPECT_NEAR(qRed(got), qRed(want), 24) << row;
        EXPECT_NEAR(qGreen(got), qGreen(want), 24) << row;
        EXPECT_NEAR(qBlue(got), qBlue(want), 24) << row;
    }
    // The report view finds the files' sizes; the viewer opens them at their own size.
    form->List1->trigger();
    for (int row = 0; row < 2; ++row) {
        const bool isLatin1 = form->ListView1->caption(row).startsWith(u'C');
        const auto bytes = std::filesystem::file_size(dir.file(isLatin1 ? latin1 : surrogate));
        EXPECT_EQ(form->ListView1->item(row).size, QString::number(bytes)) << row;
        form->ListView1->setSelected(row, true);
        form->ViewButton->click();
        form->ListView1->setSelected(row, false);
        ASSERT_TRUE(viewer->isVisible());
        EXPECT_EQ(viewer->PMultiImage1->size(), isLatin1 ? QSize(80, 40) : QSize(60, 30));
        EXPECT_EQ(viewer->windowTitle(), form->ListView1->caption(row));
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(CatalogueBuild, MetafilesLoadThroughThePictureControlAndCorruptOnesShowError) {
    QFile::copy(QStringLiteral(PIXMOOR_FIXTURES "/wmf/shapes.wmf"), dirPath() + "/a.wmf");
    writeBytes(dir.file("b.wmf"), QByteArray("this is no metafile at all, just text"));
    magick("-size 30x30 xc:red", dir.file("c.bmp"));
    form->Wmf1->trigger();
    EXPECT_TRUE(form->WmfButton->isChecked());
    browse();
    ASSERT_EQ(form->ListView1->captions(), (QStringList{"a.wmf", "b.wmf"}));
    EXPECT_TRUE(messages.empty()); // no message for the broken metafile
    EXPECT_EQ(form3->PMultiImage1->storedImageName(), "file not found"); // component untouched
    // The good metafile is drawn; the broken one is white (transparent) with "Error" in its corner.
    const QImage good = thumbOf(0);
    int drawn = 0;
    for (int y = 0; y < 70; ++y)
        for (int x = 0; x < 70; ++x) drawn += qAlpha(good.pixel(x, y)) != 0;
    EXPECT_GT(drawn, 100);
    const QImage bad = thumbOf(1);
    int corner = 0, rest = 0;
    for (int y = 0; y < 70; ++y)
        for (int x = 0; x < 70; ++x)
            if (qAlpha(bad.pixel(x, y)) != 0) (y < 20 && x < 50 ? corner : rest)++;
    EXPECT_GT(corner, 10);
    EXPECT_EQ(rest, 0);
}

TEST_F(CatalogueBuild, CorruptBitmapGivesTheComponentsMessagesAndStillAThumbnail) {
    magick("-size 40x40 xc:blue", dir.file("a.bmp"));
    magick("-size 40x40 xc:red", dir.file("b.bmp"));
    // Cut b.bmp short inside its pixels.
    QFile::resize(dirPath() + "/b.bmp", 200);
    writeBytes(dir.file("c.bmp"), QByteArray("BM garbage"));
    magick("-size 40x40 xc:lime", dir.file("d.bmp"));
    browse();
    ASSERT_EQ(form->ListView1->count(), 4);
    EXPECT_FALSE(messages.empty());
    for (const MessageRequest& m : messages) EXPECT_NE(m.text, "Error Loading Image");
    EXPECT_EQ(form->ImageList1->count(), 4);
    EXPECT_EQ(pixelAt(thumbOf(0), 35, 35), rgbOf("blue"));
    EXPECT_EQ(pixelAt(thumbOf(3), 35, 35), rgbOf("lime"));
    EXPECT_EQ(thumbOf(2).size(), QSize(70, 70));
}

TEST_F(CatalogueBuild, CorruptIconGivesOneMessageAndAMarkedPlaceholder) {
    magick("-size 32x32 xc:red", dir.file("a.ico"));
    writeBytes(dir.file("b.ico"), QByteArray("\0\0\1\0\5\0garbage", 14));
    magick("-size 48x48 xc:blue", dir.file("c.ico"));
    form->Icon1->trigger();
    browse();
    ASSERT_EQ(form->ListView1->count(), 3);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Unable To Create Thumb For b.ico");
    // The detail names the file by its whole path, then what is wrong with it.
    const QStringList detail = messages[0].detail.split(u'\n');
    ASSERT_EQ(detail.size(), 2);
    EXPECT_EQ(detail[0].toStdString(), dir.file("b.ico"));
    EXPECT_FALSE(detail[1].isEmpty());
    EXPECT_EQ(messages[0].kind, MessageKind::Error);
    EXPECT_EQ(form->ImageList1->imageSize(), QSize(32, 32));
    EXPECT_EQ(pixelAt(thumbOf(0), 16, 16), rgbOf("red"));
    EXPECT_EQ(pixelAt(thumbOf(2), 16, 16), rgbOf("blue")); // the item after keeps its own picture
    EXPECT_EQ(qAlpha(thumbOf(1).pixel(3, 16)), 0);
}

TEST_F(CatalogueBuild, ReportViewShowsSizeInBytesAndDateAndSwitchingBuildsEachTime) {
    magick("-size 100x50 xc:red", dir.file("a.bmp"));
    browse();
    ASSERT_EQ(buildCount(), 1);
    EXPECT_TRUE(form->ListView1->item(0).size.isEmpty());
    form->List1->trigger();
    EXPECT_TRUE(form->List1->isChecked());
    EXPECT_FALSE(form->isIconView());
    EXPECT_FALSE(form->ThumbSize1->isEnabled());
    EXPECT_FALSE(form->ThumbSizeButton->isEnabled());
    EXPECT_EQ(buildCount(), 2);
    const QFileInfo info(dirPath() + "/a.bmp");
    EXPECT_EQ(form->ListView1->item(0).size, QString::number(info.size()));
    EXPECT_FALSE(form->ListView1->item(0).date.isEmpty());
    EXPECT_EQ(form->ImageList2->count(), 1);
    EXPECT_EQ(form->ImageList1->count(), 0);
    EXPECT_EQ(thumbOf(0).size(), QSize(50, 50));

    form->List1->trigger();
    EXPECT_FALSE(form->List1->isChecked());
    EXPECT_TRUE(form->isIconView());
    EXPECT_TRUE(form->ThumbSize1->isEnabled());
    EXPECT_EQ(buildCount(), 3);
    EXPECT_TRUE(form->ListView1->item(0).size.isEmpty());
    EXPECT_EQ(form->ImageList2->count(), 0);
}

TEST_F(CatalogueBuild, IconTypeShrinksTheListsAndDisablesItsCommandsUntilAnotherType) {
    magick("-size 40x40 xc:red", dir.file("a.bmp"));
    browse();
    form->Icon1->trigger();
    EXPECT_TRUE(form->IconButton->isChecked());
    EXPECT_TRUE(form->Icon1->isChecked());
    EXPECT_EQ(form->ImageList1->imageSize(), QSize(32, 32));
    EXPECT_EQ(form->ImageList2->imageSize(), QSize(32, 32));
    EXPECT_FALSE(form->ThumbSize1->isEnabled());
    EXPECT_FALSE(form->ThumbSizeButton->isEnabled()); // also after leaving the busy state
    EXPECT_FALSE(form->ToClipboard1->isEnabled());
    EXPECT_FALSE(form->ToClipboard2->isEnabled());
    EXPECT_EQ(form->ListView1->count(), 0);

    form->BmpButton->click();
    EXPECT_TRUE(form->BMP1->isChecked());
    EXPECT_STREQ(form->currentType()->name, "bmp");
    EXPECT_EQ(form->ImageList1->imageSize(), QSize(70, 70));
    EXPECT_EQ(form->ImageList2->imageSize(), QSize(50, 50));
    EXPECT_TRUE(form->ThumbSize1->isEnabled());
    EXPECT_TRUE(form->ThumbSizeButton->isEnabled());
    EXPECT_TRUE(form->ToClipboard1->isEnabled());
    EXPECT_TRUE(form->ToClipboard2->isEnabled());
    EXPECT_EQ(form->ListView1->count(), 1);
    EXPECT_EQ(thumbOf(0).size(), QSize(70, 70));
    // Choosing the selected type again builds again.
    const int before = buildCount();
    form->BMP1->trigger();
    EXPECT_EQ(buildCount(), before + 1);
}

TEST_F(CatalogueBuild, ThumbSizeCommandResizesAndRebuildsAlsoOnABadValue) {
    magick("-size 40x40 xc:red", dir.file("a.bmp"));
    browse();
    const auto answer = [this](const QString& w, const QString& h) {
        QTimer::singleShot(0, [this, w, h] {
            (void)QTest::qWaitFor([this] { return form2->isVisible(); }, 2000);
            // Activation fills the boxes: answer after it.
            (void)QTest::qWaitFor([this] { return form2->isActiveWindow(); }, 2000);
            form2->Edit1->setText(w);
            form2->Edit2->setText(h);
            form2->okbutton->click();
        });
        form->ThumbSize1Click();
    };
    answer("100", "40");
    EXPECT_EQ(ThumbWidth, 100);
    EXPECT_EQ(ThumbHeight, 40);
    EXPECT_EQ(form->ImageList1->imageSize(), QSize(100, 40));
    EXPECT_EQ(form3->PMultiImage1->size(), QSize(100, 40));
    EXPECT_EQ(thumbOf(0).size(), QSize(100, 40));
    EXPECT_EQ(buildCount(), 2);

    answer("151", "40");
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(ThumbWidth, 100);
    EXPECT_EQ(buildCount(), 3); // rebuilt at the old size
    EXPECT_EQ(thumbOf(0).size(), QSize(100, 40));

    QTimer::singleShot(0, [this] {
        (void)QTest::qWaitFor([this] { return form2->isVisible(); }, 2000);
        form2->cancelbutton->click();
    });
    form->ThumbSize1Click();
    EXPECT_EQ(buildCount(), 3);
}

TEST_F(CatalogueBuild, APendingStopEndsTheNextBuildAfterItsFirstFile) {
    for (int i = 0; i < 5; ++i)
        magick("-size 20x20 xc:red", dir.file("p" + std::to_string(i) + ".bmp"));
    form->StopButton->click(); // enabled before the first build
    EXPECT_TRUE(StopRequested);
    browse();
    EXPECT_EQ(form->ListView1->count(), 1);
    EXPECT_EQ(form->Label1->text(), "5 Files");
    EXPECT_FALSE(StopRequested);
    EXPECT_EQ(form->statusText(), "Finished");
}

TEST_F(CatalogueBuild, StopIsSeenWhereTheBuildProcessesMessagesEveryTwentyFiles) {
    for (int i = 0; i < 50; ++i)
        QFile::copy(QStringLiteral(PIXMOOR_FIXTURES "/wmf/plain.wmf"),
                    dirPath() + QStringLiteral("/m%1.wmf").arg(i, 2, 10, QLatin1Char('0')));
    form->Wmf1->trigger();
    // A press queued while the third thumbnail is made waits for the next message processing.
    QObject::connect(form->ImageList1, &ImageList::appended, form.get(), [this](int index) {
        if (index == 2)
            QMetaObject::invokeMethod(form.get(), &TForm1::StopButtonClick, Qt::QueuedConnection);
    });
    browse();
    EXPECT_EQ(form->ListView1->count(), 20);
    EXPECT_EQ(form->Label1->text(), "50 Files");
    EXPECT_TRUE(form->ListView1->isEnabled());
}

TEST_F(CatalogueBuild, RefreshBuildsTwice) {
    magick("-size 20x20 xc:red", dir.file("a.bmp"));
    browse();
    magick("-size 20x20 xc:blue", dir.file("b.bmp"));
    form->Refresh1->trigger();
    EXPECT_EQ(buildCount(), 3);
    EXPECT_EQ(form->ListView1->count(), 2);
}

TEST_F(CatalogueBuild, SelectAllSelectsEveryItemAndFocusesTheList) {
    showWindow();
    form->SelectAll1->trigger(); // empty list: only the focus
    for (int i = 0; i < 3; ++i)
        magick("-size 20x20 xc:red", dir.file("s" + std::to_string(i) + ".bmp"));
    browse();
    form->SelectAll1->trigger();
    EXPECT_EQ(form->ListView1->selectedRows(), (QList<int>{0, 1, 2}));
}

TEST_F(CatalogueBuild, ViewerShowsTheFirstSelectedItemFromEveryCommand) {
    magick("-size 200x100 xc:red", dir.file("a.bmp"));
    magick("-size 120x80 xc:blue", dir.file("b.bmp"));
    magick("-size 64x48 xc:lime", dir.file("c.bmp"));
    showWindow();
    browse();
    form->ViewButtonClick(); // nothing selected: nothing happens
    EXPECT_FALSE(viewer->isVisible());
    EXPECT_TRUE(messages.empty());

    form->ListView1->setSelected(1, true);
    form->ListView1->setSelected(2, true);
    form->ViewButton->click();
    EXPECT_TRUE(viewer->isVisible());
    EXPECT_EQ(viewer->windowTitle(), "b.bmp");
    EXPECT_EQ(viewer->StatusPanel0->text(), "b.bmp");
    EXPECT_EQ(viewer->PMultiImage1->size(), QSize(120, 80));

    form->ListView1->setSelected(1, false);
    form->ListView1->setSelected(2, false);
    form->ListView1->setSelected(0, true);
    form->View1->trigger();
    EXPECT_EQ(viewer->windowTitle(), "a.bmp");
    EXPECT_EQ(viewer->size(), QSize(200, 100 + viewer->StatusBar1->sizeHint().height()));

    form->ListView1->setSelected(0, false);
    form->ListView1->setSelected(2, true);
    form->View2->trigger();
    EXPECT_EQ(viewer->windowTitle(), "c.bmp");

    // The double-click of the list and Ctrl+V run the same command.
    viewer->hide();
    emit form->ListView1->itemDoubleClicked(2);
    EXPECT_TRUE(viewer->isVisible());
    viewer->hide();
    form->activateWindow();
    form->ListView1->setFocus();
    QTest::keyClick(form->ListView1->currentView(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_TRUE(viewer->isVisible());
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(form7->isVisible());

    // Escape puts the viewer away; Return on the selected item brings it back.
    QApplication::setActiveWindow(viewer.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(viewer.get()));
    QTest::keyClick(viewer.get(), Qt::Key_Escape);
    EXPECT_FALSE(viewer->isVisible());
    QApplication::setActiveWindow(form.get());
    form->ListView1->currentView()->setCurrentIndex(
        form->ListView1->currentView()->model()->index(2, 0));
    form->ListView1->setSelected(2, true);
    QTest::keyClick(form->ListView1->currentView(), Qt::Key_Return);
    EXPECT_TRUE(viewer->isVisible());
    EXPECT_EQ(viewer->windowTitle(), "c.bmp");
}

TEST_F(CatalogueBuild, ViewerReportsErrorLoadingImageOnlyForErrorsThatAreRaised) {
    QFile::copy(QStringLiteral(PIXMOOR_FIXTURES "/wmf/shapes.wmf"), dirPath() + "/good.wmf");
    writeBytes(dir.file("bad.wmf"), QByteArray("not a metafile"));
    writeBytes(dir.file("bad.ico"), QByteArray("not an icon"));
    magick("-size 16x16 xc:red", dir.file("good.ico"));
    showWindow();

    form->Wmf1->trigger();
    browse();
    ASSERT_EQ(form->ListView1->count(), 2);
    form->ListView1->setSelected(0, true); // bad.wmf, sorted first
    form->ViewButtonClick();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Error Loading Image");
    EXPECT_FALSE(form7->isVisible());
    EXPECT_EQ(form7->windowTitle(), "Form7");

    messages.clear();
    form->ListView1->setSelected(0, false);
    form->ListView1->setSelected(1, true);
    form->ViewButtonClick();
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(form7->isVisible());
    EXPECT_EQ(form7->windowTitle(), "good.wmf");
    EXPECT_EQ(form7->StatusPanel0->text(), "good.wmf");
    EXPECT_FALSE(viewer->isVisible());

    // Icons go to the image viewer; an unreadable one is an error raised by the component.
    form->Icon1->trigger();
    messages.clear(); // the build's own message for bad.ico
    ASSERT_EQ(form->ListView1->captions(), (QStringList{"bad.ico", "good.ico"}));
    form->ListView1->setSelected(0, true);
    form->ViewButtonClick();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Error Loading Image");
    EXPECT_FALSE(viewer->isVisible());
    messages.clear();
    form->ListView1->setSelected(0, false);
    form->ListView1->setSelected(1, true);
    form->ViewButtonClick();
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(viewer->isVisible());
    EXPECT_EQ(viewer->windowTitle(), "good.ico");
}

TEST_F(CatalogueBuild, ClosingDuringABuildEndsTheBuildThenClosesAndWritesTheSettings) {
    for (int i = 0; i < 60; ++i)
        magick("-size 20x20 xc:red", dir.file("c" + std::to_string(i) + ".bmp"));
    showWindow();
    QSignalSpy closed(form.get(), &TForm1::closed);
    bool closeAsked = false;
    QObject::connect(form->ImageList1, &ImageList::appended, form.get(), [&](int index) {
        if (index == 5 && !closeAsked) {
            closeAsked = true;
            form->close();
        }
    });
    browse();
    EXPECT_TRUE(closeAsked);
    EXPECT_LT(form->ListView1->count(), 60);
    EXPECT_FALSE(form->isBusy());
    ASSERT_TRUE(QTest::qWaitFor([&] { return closed.count() == 1; }, 5000));
    EXPECT_FALSE(form->isVisible());
    const QSettings settings(qEnvironmentVariable("XDG_CONFIG_HOME") + "/KEMRA.conf",
                             QSettings::IniFormat);
    EXPECT_EQ(QFileInfo(settings.value("Main/Directory").toString()).canonicalFilePath(),
              QFileInfo(dirPath()).canonicalFilePath());
}

// Files that once crashed, hung or exhausted the thumbnail workers: every type's folder of them
// builds, lists the real files (not the links to a FIFO or a device), reports each damaged one,
// and the viewer reports them too.
TEST_F(CatalogueBuild, HostileFilesBuildAndViewCleanlyAndLinksToSpecialFilesAreLeftOut) {
    namespace hostile = pixmoor::test::hostile;
    ASSERT_TRUE(hostile::writeFile(dir.file("x.jpg"), hostile::jpegOverfullHuffmanTable(3)));
    ASSERT_TRUE(hostile::writeFile(dir.file("y.jpg"), hostile::jpegOverfullHuffmanTable(200)));
    ASSERT_TRUE(hostile::writeFile(dir.file("z.jpg"), hostile::jpegDcTableSelectorOutOfRange()));
    magick("-size 40x40 xc:blue", dir.file("good.jpg"));
    ASSERT_TRUE(hostile::writeFile(dir.file("huge.png"), hostile::pngHugeClaim()));
    ASSERT_TRUE(hostile::writeFile(dir.file("tall.bmp"), hostile::bmpRle8HugeClaim()));
    ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0600), 0);
    for (const char* ext : {"jpg", "png", "bmp"}) {
        std::filesystem::create_symlink(dir.path() / "pipe",
                                        dir.path() / (std::string("fifo.") + ext));
        std::filesystem::create_symlink("/dev/zero", dir.path() / (std::string("zero.") + ext));
    }
    form->Jpeg1->trigger();
    showWindow();
    browse();
    ASSERT_EQ(form->ListView1->captions(), (QStringList{"good.jpg", "x.jpg", "y.jpg", "z.jpg"}));
    EXPECT_GE(messages.size(), 3u); // each damaged file is reported by the component
    EXPECT_EQ(form->ImageList1->count(), 4);
    const QRgb good = pixelAt(thumbOf(0), 35, 35);
    EXPECT_TRUE(qBlue(good) > 240 && qRed(good) < 16 && qGreen(good) < 16) << std::hex << good;

    for (QAction* type : {form->Png1, form->BMP1}) {
        messages.clear();
        type->trigger();
        ASSERT_EQ(form->ListView1->count(), 1);
        EXPECT_FALSE(messages.empty());
        messages.clear();
        form->ListView1->setSelected(0, true);
        form->ViewButtonClick(); // the component reports the file; the viewer stays usable
        EXPECT_FALSE(messages.empty());
        viewer->hide();
    }
}

TEST_F(CatalogueBuild, AFileWhoseReadNeverReturnsIsReportedAsUnreadableAndNeverHoldsTheBuild) {
    BlockingFuse fuse;
    if (!fuse.mounted()) GTEST_SKIP() << "FUSE cannot be mounted here: " << fuse.failure();
    for (int i = 0; i < 5; ++i)
        magick("-size 40x40 xc:blue", dir.file("p" + std::to_string(i) + ".jpg"));
    // x.jpg's read never returns; e.jpg's reads fail, as on a damaged disk.
    ASSERT_EQ(::symlink(fuse.hangingFile().c_str(), dir.file("x.jpg").c_str()), 0);
    ASSERT_EQ(::symlink(fuse.failingFile().c_str(), dir.file("e.jpg").c_str()), 0);
    struct RestoreBound {
        ~RestoreBound() { setStallBound(std::chrono::milliseconds(0)); }
    } restore;
    setStallBound(std::chrono::seconds(1));
    form->Jpeg1->trigger();
    showWindow();
    browse();
    const QStringList all{"e.jpg", "p0.jpg", "p1.jpg", "p2.jpg", "p3.jpg", "p4.jpg", "x.jpg"};
    ASSERT_EQ(form->ListView1->captions(), all);
    for (int row = 1; row <= 5; ++row) {
        const QRgb p = pixelAt(thumbOf(row), 35, 35);
        EXPECT_TRUE(qBlue(p) > 240 && qRed(p) < 16 && qGreen(p) < 16) << row;
    }
    // The same messages as the file that cannot be read, naming its own file.
    const auto reportsOf = [&](const QString& name) {
        const QString path = dir.file(name.toStdString()).c_str();
        QStringList out;
        for (const MessageRequest& m : messages)
            if (m.detail.contains(path))
                out << QString::number(int(m.kind)) + m.text + QString(m.detail).replace(path, "F");
        return out;
    };
    EXPECT_FALSE(reportsOf("e.jpg").isEmpty());
    EXPECT_EQ(reportsOf("x.jpg"), reportsOf("e.jpg"));
    // Tried by a worker at most once a build (the window's first activation may have built the
    // folder too); a read on the window's thread would never have returned.
    EXPECT_GE(fuse.waitingReads(), 1);
    EXPECT_LE(fuse.waitingReads(), buildCount());

    // Stop while a worker waits in the read, long before the bound gives it up: the build ends.
    setStallBound(std::chrono::hours(1));
    const int reads = fuse.waitingReads();
    setMessageHandler([&](const MessageRequest&) { // e.jpg, the first file, is being reported
        pollUntil([&] { return fuse.waitingReads() != reads; }, std::chrono::seconds(60));
        return MessageButton::Ok;
    });
    form->StopButtonClick(); // pending: the build ends after its first file
    form->UpdateListbox();
    // The build ended; its workers tried the file at most once (on a loaded machine the Stop
    // may come before a worker reaches it).
    EXPECT_LE(fuse.waitingReads(), reads + 1);
    EXPECT_EQ(form->ListView1->count(), 1);
    EXPECT_EQ(form->Label1->text(), "7 Files");
}

namespace {

// A private thumbnail cache for one test.
class PrivateCache {
public:
    PrivateCache() : old_(qgetenv("XDG_CACHE_HOME")) {
        qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(home_.path().string()));
    }
    ~PrivateCache() { qputenv("XDG_CACHE_HOME", old_); }
    QString root() const { return qpath(home_.file("thumbnails")); }
    QStringList files(const QString& sub) const {
        return QDir(root() + '/' + sub).entryList(QDir::Files | QDir::Hidden);
    }

private:
    TempDir home_;
    QByteArray old_;
};

// Zeros of the same length, with the modification time put back: the file can no longer be
// decoded, while the cache still takes its entry for the same file.
void spoilKeepingTime(const std::string& path) {
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    writeBytes(path, QByteArray(qsizetype(st.st_size), '\0'));
    const struct utimbuf times { st.st_atime, st.st_mtime };
    ASSERT_EQ(::utime(path.c_str(), &times), 0);
}

} // namespace

TEST_F(CatalogueBuild, EveryRebuildOfAnUnchangedFolderComesFromTheSharedCache) {
    PrivateCache cache;
    const char* colours[] = {"red", "lime", "blue"};
    for (int i = 0; i < 3; ++i)
        magick(std::string("-size 400x300 xc:") + colours[i] + " -quality 95",
               dir.file(std::string("p") + char('0' + i) + ".jpg"));
    form->Jpeg1->trigger();
    browse();
    ASSERT_EQ(form->ListView1->count(), 3);
    EXPECT_EQ(cache.files("normal").size(), 3);
    // From now on only the cache can give these pictures: a decode would fail and be reported.
    for (int i = 0; i < 3; ++i)
        spoilKeepingTime(dir.file(std::string("p") + char('0' + i) + ".jpg"));
    const auto expectColours = [&](const char* after) {
        SCOPED_TRACE(after);
        EXPECT_TRUE(messages.empty()) << messages.front().text.toStdString();
        ASSERT_EQ(form->ListView1->count(), 3);
        for (int i = 0; i < 3; ++i) {
            const QImage thumb = thumbOf(i);
            const QRgb centre = pixelAt(thumb, thumb.width() / 2, thumb.height() / 2);
            const QRgb want = rgbOf(colours[i]);
            EXPECT_LE(std::abs(qRed(centre) - qRed(want)) +
                          std::abs(qGreen(centre) - qGreen(want)) +
                          std::abs(qBlue(centre) - qBlue(want)),
                      12)
                << i << " " << std::hex << centre;
        }
    };
    int builds = buildCount();
    form->List1->trigger(); // report view, 50 x 50
    EXPECT_EQ(buildCount(), ++builds);
    expectColours("report view");
    form->List1->trigger(); // icon view again
    EXPECT_EQ(buildCount(), ++builds);
    expectColours("icon view");
    form->Sorted1->trigger();
    form->Sorted1->trigger();
    EXPECT_GT(buildCount(), builds);
    builds = buildCount();
    expectColours("sort switch");
    form->Refresh1->trigger();
    EXPECT_GT(buildCount(), builds);
    builds = buildCount();
    expectColours("refresh");
    QTimer::singleShot(0, [this] {
        (void)QTest::qWaitFor([this] { return form2->isActiveWindow(); }, 2000);
        form2->Edit1->setText("100");
        form2->Edit2->setText("40");
        form2->okbutton->click();
    });
    form->ThumbSize1Click();
    EXPECT_GT(buildCount(), builds);
    EXPECT_EQ(thumbOf(0).size(), QSize(100, 40));
    expectColours("thumb size");
}

TEST_F(CatalogueBuild, AnUnwritableCacheChangesNothingAndSaysNothing) {
    PrivateCache cache;
    // The cache's place is taken by a file.
    ASSERT_TRUE(QDir().mkpath(QFileInfo(cache.root()).path()));
    writeBytes(cache.root().toStdString(), "not a directory");
    magick("-size 400x300 xc:blue -quality 95", dir.file("a.jpg"));
    form->Jpeg1->trigger();
    browse();
    EXPECT_TRUE(messages.empty());
    ASSERT_EQ(form->ListView1->count(), 1);
    const QRgb centre = pixelAt(thumbOf(0), 35, 35);
    EXPECT_TRUE(qBlue(centre) > 240 && qRed(centre) < 16) << std::hex << centre;
    EXPECT_TRUE(QFileInfo(cache.root()).isFile());
}

TEST_F(CatalogueBuild, AFileNoRoadCanReadIsRecordedAsFailedAndStillReportedOnEveryVisit) {
    PrivateCache cache;
    magick("-size 40x40 xc:blue", dir.file("a.jpg"));
    writeBytes(dir.file("b.jpg"), QByteArray("no picture here"));
    form->Jpeg1->trigger();
    browse();
    const std::size_t reported = messages.size();
    EXPECT_GT(reported, 0u);
    EXPECT_EQ(cache.files("fail/pixmoor-1.00").size(), 1);
    EXPECT_EQ(cache.files("normal").size(), 1);
    messages.clear();
    form->Refresh1->trigger();
    EXPECT_EQ(messages.size() % reported, 0u); // refresh builds twice
    EXPECT_FALSE(messages.empty());
    EXPECT_EQ(form->ListView1->count(), 2);
}

// What the window shows of the list while a build runs: the frames the window has flushed (the
// offscreen screen grabs the window's backing store), seen at every thumbnail added, at every
// change of the list's enabled state and once the build is over.
class ListFrames : public QObject {
public:
    ListFrames(TForm1* form) : form_(form) {
        connect(form->ImageList1, &ImageList::appended, this, [this] { record("appended"); });
        form->ListView1->iconView()->installEventFilter(this);
    }
    struct Frame {
        const char* when;
        int items;
        bool enabled;
        int red;   // pixels of the thumbnails' red
        int grey;  // pixels grey (equal channels, neither white nor black)
        int white; // pixels white
    };
    std::vector<Frame> frames;

    void record(const char* when) {
        QListView* view = form_->ListView1->iconView();
        QScreen* screen = QGuiApplication::primaryScreen();
        const QPoint at = view->viewport()->mapTo(form_, QPoint(0, 0));
        const QImage shot = screen->grabWindow(form_->winId(), at.x(), at.y(), 200, 100).toImage();
        Frame f{when, form_->ListView1->count(), view->isEnabled(), 0, 0, 0};
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x) {
                const QRgb p = shot.pixel(x, y);
                if (qRed(p) > 200 && qGreen(p) < 60 && qBlue(p) < 60)
                    ++f.red;
                else if (p == qRgb(255, 255, 255))
                    ++f.white;
                else if (qRed(p) == qGreen(p) && qGreen(p) == qBlue(p) && qRed(p) > 40)
                    ++f.grey;
            }
        frames.push_back(f);
    }

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::EnabledChange) record("enabled change");
        return false;
    }

private:
    TForm1* form_;
};

TEST_F(CatalogueBuild, TheBusyListKeepsItsColoursAndNeverFlashesBlank) {
    for (int i = 0; i < 45; ++i)
        magick("-size 40x40 xc:red",
               dir.file(QStringLiteral("r%1.bmp").arg(i, 2, 10, QChar(u'0')).toStdString()));
    showWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    form->fastThumbnails = false; // every file through the component: the build lasts
    ListFrames frames(form.get());
    browse();
    frames.record("after");
    ASSERT_EQ(form->ListView1->count(), 45);

    int busyFramesWithItems = 0;
    for (const ListFrames::Frame& f : frames.frames) {
        SCOPED_TRACE(std::string(f.when) + " items " + std::to_string(f.items) +
                     (f.enabled ? " enabled" : " disabled") + " red " + std::to_string(f.red) +
                     " grey " + std::to_string(f.grey));
        // Every frame of a non-empty list shows its thumbnails, in red, never greyed: the window
        // is repainted between files, and the list must be laid out for each of those frames.
        if (f.items > 0) {
            EXPECT_GT(f.red, 400);
            EXPECT_LT(f.grey, f.red / 4);
            if (!f.enabled) ++busyFramesWithItems;
        }
    }
    EXPECT_GT(busyFramesWithItems, 0); // the build was seen while the list was disabled
}
