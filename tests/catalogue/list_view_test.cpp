// The catalogue's list view and image lists: sorting, insertion order, selection, views and
// their thumbnails, the white mask.
#include "catalogue/image_list.h"
#include "catalogue/list_view.h"

#include <QApplication>
#include <QHeaderView>
#include <QListView>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>
#include <QUrl>
#include <gtest/gtest.h>

using pixmoor::ImageList;
using pixmoor::ListView;

namespace {

QImage filled(QSize size, QColor colour) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

} // namespace

TEST(ListView, SortedByCaptionWhileSortingIsOnElseInInsertionOrder) {
    ListView list;
    const QStringList names{"b.bmp", "Apple.bmp", "c.bmp", "a.bmp", "Ä.bmp", "B2.bmp"};
    for (int k = 0; k < names.size(); ++k) list.append(names[k], k);
    EXPECT_TRUE(list.isSorted());
    // Locale-aware: letters first, case only breaks ties; accents sort with their letter.
    const QStringList sorted = list.captions();
    EXPECT_EQ(sorted.indexOf("a.bmp") < sorted.indexOf("Apple.bmp"), true);
    EXPECT_LT(sorted.indexOf("Apple.bmp"), sorted.indexOf("b.bmp"));
    EXPECT_LT(sorted.indexOf("b.bmp"), sorted.indexOf("B2.bmp"));
    EXPECT_LT(sorted.indexOf("B2.bmp"), sorted.indexOf("c.bmp"));
    EXPECT_LT(sorted.indexOf("Ä.bmp"), sorted.indexOf("b.bmp"));
    // Each item keeps its own image index.
    for (int r = 0; r < list.count(); ++r)
        EXPECT_EQ(list.item(r).imageIndex, names.indexOf(list.caption(r)));

    list.setSorted(false);
    EXPECT_EQ(list.captions(), names);
    list.setSorted(true);
    EXPECT_EQ(list.captions(), sorted);

    ListView unsorted;
    unsorted.setSorted(false);
    for (int k = 0; k < names.size(); ++k) unsorted.append(names[k], k);
    EXPECT_EQ(unsorted.captions(), names);
}

TEST(ListView, ManyAppendsStayInOrder) {
    ListView list;
    const int n = 10000;
    for (int k = 0; k < n; ++k)
        list.append(QStringLiteral("img%1.bmp").arg((k * 7919) % n, 5, 10, QChar('0')), k);
    ASSERT_EQ(list.count(), n);
    for (int r = 0; r < n; ++r) {
        EXPECT_EQ(list.caption(r), QStringLiteral("img%1.bmp").arg(r, 5, 10, QChar('0')));
        if (HasFailure()) break;
    }
}

TEST(ListView, SelectionIsInListOrderAndSurvivesResortingAndViewChanges) {
    ListView list;
    list.show();
    for (const char* name : {"d.bmp", "b.bmp", "c.bmp", "a.bmp"}) list.append(name, 0);
    EXPECT_EQ(list.selected(), -1);
    list.setSelected(3, true); // d
    list.setSelected(1, true); // b
    EXPECT_EQ(list.selectedCaptions(), QStringList({"b.bmp", "d.bmp"}));
    EXPECT_EQ(list.caption(list.selected()), "b.bmp");

    list.setSorted(false); // d b c a
    EXPECT_EQ(list.selectedCaptions(), QStringList({"d.bmp", "b.bmp"}));
    EXPECT_EQ(list.caption(list.selected()), "d.bmp");

    list.setViewStyle(ListView::ViewStyle::Report);
    EXPECT_EQ(list.selectedCaptions(), QStringList({"d.bmp", "b.bmp"}));
    list.setViewStyle(ListView::ViewStyle::Icon);

    list.selectAll();
    EXPECT_EQ(list.selectedRows(), QList<int>({0, 1, 2, 3}));
    EXPECT_TRUE(list.iconView()->hasFocus() || !QApplication::focusWidget());

    list.removeRows({1, 3});
    EXPECT_EQ(list.captions(), QStringList({"d.bmp", "c.bmp"}));
    EXPECT_EQ(list.selectedRows(), QList<int>({0, 1}));

    for (const char* name : {"e.bmp", "f.bmp", "g.bmp", "h.bmp"}) list.append(name, 0);
    // d c e f g h: drop two blocks and ignore rows that do not exist.
    list.removeRows({5, 1, 2, 4, 9, -1, 2});
    EXPECT_EQ(list.captions(), QStringList({"d.bmp", "f.bmp"}));
    list.removeRows({0, 1});
    EXPECT_EQ(list.count(), 0);
}

TEST(ListView, SelectAllOnAnEmptyListOnlyFocusesIt) {
    QWidget window;
    auto* other = new QWidget(&window);
    other->setFocusPolicy(Qt::StrongFocus);
    auto* list = new ListView(&window);
    window.show();
    QApplication::setActiveWindow(&window);
    other->setFocus();
    list->selectAll();
    EXPECT_TRUE(list->selectedRows().isEmpty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return list->iconView()->hasFocus(); }, 2000));
}

TEST(ListView, ViewsAreConfiguredAsTheCatalogueNeeds) {
    ListView list;
    QListView* icon = list.iconView();
    EXPECT_EQ(icon->viewMode(), QListView::IconMode);
    EXPECT_EQ(icon->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(icon->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_TRUE(icon->dragEnabled());
    EXPECT_TRUE(icon->uniformItemSizes());
    EXPECT_EQ(list.viewStyle(), ListView::ViewStyle::Icon);
    EXPECT_EQ(list.currentView(), icon);

    QTreeView* report = list.reportView();
    QHeaderView* header = report->header();
    EXPECT_FALSE(header->sectionsClickable());
    EXPECT_FALSE(report->isSortingEnabled());
    EXPECT_EQ(report->editTriggers(), QAbstractItemView::NoEditTriggers);
    const QStringList titles{"File Name", "Size", "Date"};
    const int widths[] = {160, 80, 60};
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(list.model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(),
                  titles[c]);
        EXPECT_EQ(header->sectionSize(c), widths[c]);
    }
    list.append("x.bmp", 0);
    EXPECT_FALSE(list.model()->flags(list.model()->index(0, 0)) & Qt::ItemIsEditable);
    EXPECT_TRUE(list.model()->flags(list.model()->index(0, 0)) & Qt::ItemIsDragEnabled);
}

TEST(ListView, SubItemsShowInTheReportColumns) {
    ListView list;
    list.append("b.bmp", 0);
    list.append("a.bmp", 1);
    list.setSubItems(0, "123456", "07/12/2026 10:00:00");
    const auto* model = list.model();
    EXPECT_EQ(model->index(0, 0).data().toString(), "a.bmp");
    EXPECT_EQ(model->index(0, 1).data().toString(), "123456");
    EXPECT_EQ(model->index(0, 2).data().toString(), "07/12/2026 10:00:00");
    EXPECT_TRUE(model->index(1, 1).data().toString().isEmpty());
}

TEST(ListView, RenamingMovesTheItemInASortedList) {
    ListView list;
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) list.append(name, 0);
    const int row = list.setCaption(0, "z.bmp");
    EXPECT_EQ(row, 2);
    EXPECT_EQ(list.captions(), QStringList({"b.bmp", "c.bmp", "z.bmp"}));
}

TEST(ListView, EachViewDecoratesItemKWithImageKOfItsOwnList) {
    ImageList large(QSize(70, 70));
    ImageList small(QSize(50, 50));
    ListView list;
    list.setImageLists(&large, &small);
    large.append(filled({70, 70}, Qt::red));
    large.append(filled({70, 70}, Qt::blue));
    small.append(filled({50, 50}, Qt::green));
    small.append(filled({50, 50}, Qt::yellow));
    list.append("second.bmp", 1);
    list.append("first.bmp", 0);
    EXPECT_EQ(list.iconView()->iconSize(), QSize(70, 70));
    EXPECT_EQ(list.reportView()->iconSize(), QSize(50, 50));

    auto decoration = [&](int row) {
        return list.model()->index(row, 0).data(Qt::DecorationRole).value<QImage>();
    };
    EXPECT_EQ(list.caption(0), "first.bmp");
    EXPECT_EQ(decoration(0).pixelColor(5, 5), QColor(Qt::red));
    EXPECT_EQ(decoration(1).pixelColor(5, 5), QColor(Qt::blue));
    list.setViewStyle(ListView::ViewStyle::Report);
    EXPECT_EQ(decoration(0).pixelColor(5, 5), QColor(Qt::green));
    EXPECT_EQ(decoration(1).size(), QSize(50, 50));

    // An index with no image yet shows none.
    list.append("third.bmp", 7);
    EXPECT_TRUE(list.model()->index(2, 0).data(Qt::DecorationRole).isNull());
}

TEST(ImageList, FixedSizeWhiteIsTransparentAndResizingEmpties) {
    ImageList images(QSize(70, 70));
    QImage picture(200, 100, QImage::Format_RGB32);
    picture.fill(Qt::white);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x) picture.setPixel(x, y, qRgb(254, 255, 255));
    EXPECT_EQ(images.append(picture), 0);
    EXPECT_EQ(images.count(), 1);
    const QImage thumb = images.image(0);
    EXPECT_EQ(thumb.size(), QSize(70, 70));      // squeezed, aspect not kept
    EXPECT_EQ(qAlpha(thumb.pixel(60, 35)), 0);   // pure white
    EXPECT_EQ(qAlpha(thumb.pixel(10, 35)), 255); // almost white stays
    EXPECT_TRUE(images.image(1).isNull());
    EXPECT_TRUE(images.image(-1).isNull());

    QImage icon(32, 32, QImage::Format_ARGB32);
    icon.fill(Qt::white);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) icon.setPixel(x, y, qRgba(0, 0, 0, 0));
    EXPECT_EQ(images.appendWithAlpha(icon), 1);
    EXPECT_EQ(images.image(1).size(), QSize(70, 70));
    EXPECT_EQ(qAlpha(images.image(1).pixel(35, 35)), 255); // icons keep their own white
    EXPECT_EQ(qAlpha(images.image(1).pixel(2, 2)), 0);     // and their own transparency

    QSignalSpy changed(&images, &ImageList::changed);
    images.setSize(QSize(32, 32));
    EXPECT_EQ(images.count(), 0);
    EXPECT_EQ(images.imageSize(), QSize(32, 32));
    EXPECT_EQ(changed.count(), 1);
}

TEST(ListView, DraggedItemsCarryTheirCaptionsAndFiles) {
    ListView list;
    list.append("b b.bmp", 0);
    list.append("a.bmp", 1);
    const std::unique_ptr<QMimeData> mime(list.model()->mimeData(
        {list.model()->index(1, 0), list.model()->index(0, 0), list.model()->index(0, 1)}));
    EXPECT_EQ(QString::fromUtf8(mime->data(pixmoor::ListItemModel::captionsMimeType())),
              "a.bmp\nb b.bmp");
    ASSERT_EQ(mime->urls().size(), 2);
    EXPECT_EQ(mime->urls()[1].toLocalFile(), QDir::current().absoluteFilePath("b b.bmp"));
}

TEST(ListView, DoubleClickReportsTheRow) {
    ListView list;
    list.resize(400, 300);
    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    list.append("a.bmp", 0);
    QSignalSpy clicked(&list, &ListView::itemDoubleClicked);
    QListView* view = list.iconView();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return view->visualRect(list.model()->index(0, 0)).isValid(); }, 2000));
    const QPoint at = view->visualRect(list.model()->index(0, 0)).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
    ASSERT_EQ(clicked.count(), 1);
    EXPECT_EQ(clicked[0][0].toInt(), 0);
}
