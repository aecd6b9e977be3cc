// The layout of the main window against its tables: menus, pop-up menu, tool bar, type panel.
#include "main_window_fixture.h"

#include <QButtonGroup>
#include <QMenuBar>
#include <QStatusBar>
#include <QStyle>
#include <QTest>

namespace {

struct Item {
    const char* name; // "-" for a separator
    const char* caption;
    const char* shortcut;
    const char* hint;
    bool checkable;
    bool checked;
};

struct Menu {
    const char* name;
    const char* caption;
    const char* hint;
    std::vector<Item> items;
};

const Item kSeparator{"-", "", "", "", false, false};

const std::vector<Menu> kMainMenu = {
    {"File1",
     "&File",
     "File Options",
     {{"Move1", "&Move", "Ctrl+M", "Move Selected Files", false, false},
      {"Copy1", "&Copy", "Ctrl+C", "Copy Selected Files", false, false},
      {"Rename1", "&Rename", "Ctrl+R", "Rename Selected Files", false, false},
      {"Delete1", "&Delete", "Del", "Delete Selected Files", false, false},
      {"SelectAll1", "&Select All", "Ctrl+A", "Select All Images", false, false},
      {"Properties2", "Pr&operties", "Ctrl+O", "File Properties", false, false},
      kSeparator,
      {"Print1", "&Print  Thumb", "Ctrl+P", "Print Thumb Nails ", false, false},
      {"PrintsetUp1", "P&rint set Up", "", "Printer Set Up", false, false},
      kSeparator,
      {"Exit1", "E&xit", "", "Exit", false, false}}},
    {"Image1",
     "&Image Type",
     "Image Type",
     {{"BMP1", "&Bmp", "", "Show Bmp Images", true, true},
      {"Gif1", "&Gif", "", "Show Gif Images", true, false},
      {"Icon1", "I&con", "", "Show Icon Images", true, false},
      {"Jpeg1", "&Jpeg", "", "Show Jpeg Images", true, false},
      {"Pcx1", "&Pcx", "", "Show Pcx Images", true, false},
      {"Png1", "P&ng", "", "Show Png Images", true, false},
      {"Tiff1", "&Tiff", "", "Show Tiff Images", true, false},
      {"Wmf1", "&Wmf", "", "Show Wmf Images", true, false}}},
    {"Settings1",
     "I&mage",
     "Image Options",
     {{"Convert1", "&Convert", "", "Convert Images To Different Type", false, false},
      {"Print2", "&Print", "", "Print Image", false, false},
      {"ThumbSize1", "&Thumb Size", "", "Thumb Image Size", false, false},
      {"ToClipboard1", "T&o Clipboard", "", "", false, false},
      {"View1", "&View", "Ctrl+V", "View Image At Correct Size", false, false},
      kSeparator,
      {"Acquire1", "&Acquire", "", "Twain scan", false, false},
      {"SelectTwain1", "S&elect Twain", "", "Select twain Scanner", false, false},
      kSeparator,
      {"ScreenCapture1", "Sc&reen Capture", "", "Capture Screen", false, false}}},
    {"View3",
     "&View",
     "Window Appearance",
     {{"List1", "&List", "", "List View", true, false},
      {"Refresh1", "&Refresh", "", "Update Display", false, false},
      {"Sorted1", "&Sorted", "", "Display Alphabetically", true, true}}},
    {"Help1",
     "&Help",
     "Help!",
     {{"About1", "&About", "", "About Pixmoor", false, false},
      {"Help2", "H&elp", "", "Pixmoor Help", false, false},
      {"Search1", "&Search Help", "", "Search Pixmoor Help", false, false},
      {"UsingHelp1", "&Using Help", "", "Using Help Files", false, false}}},
};

const Menu kPopup = {"PopupMenu1",
                     "",
                     "",
                     {{"Move2", "&Move", "", "Move Selected Files", false, false},
                      {"Copy2", "&Copy", "", "Copy Selected Files", false, false},
                      {"Rename2", "&Rename", "", "Rename File", false, false},
                      {"Delete2", "&Delete", "", "Delete Selected Files", false, false},
                      {"Properties1", "&Properties", "", "", false, false},
                      kSeparator,
                      {"Convert2", "&Convert", "", "Convert Images", false, false},
                      {"LaunchApp1", "&Launch App", "", "", false, false},
                      {"ToClipboard2", "&To Clipboard", "", "", false, false},
                      {"View2", "&View", "", "", false, false},
                      kSeparator,
                      {"Explore1", "&Explore", "", "", false, false}}};

void checkItems(const QMenu* menu, const std::vector<Item>& items) {
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), qsizetype(items.size())) << menu->objectName().toStdString();
    for (size_t i = 0; i < items.size(); ++i) {
        const Item& expected = items[i];
        const QAction* a = actions[qsizetype(i)];
        SCOPED_TRACE(expected.name);
        if (std::string(expected.name) == "-") {
            EXPECT_TRUE(a->isSeparator());
            continue;
        }
        EXPECT_EQ(a->objectName(), expected.name);
        EXPECT_EQ(a->text(), expected.caption);
        EXPECT_EQ(a->shortcut(), QKeySequence(expected.shortcut));
        EXPECT_EQ(a->statusTip(), expected.hint);
        EXPECT_EQ(a->isCheckable(), expected.checkable);
        EXPECT_EQ(a->isChecked(), expected.checked);
        EXPECT_TRUE(a->isEnabled());
        EXPECT_TRUE(a->toolTip() == a->text() || a->toolTip().isEmpty() ||
                    a->toolTip() == QString(a->text()).remove('&'));
    }
}

} // namespace

TEST_F(MainWindowTest, MenusMatchTheirTables) {
    TForm1* w = create();
    const QList<QAction*> bar = w->MainMenu1->actions();
    ASSERT_EQ(bar.size(), qsizetype(kMainMenu.size()));
    for (size_t m = 0; m < kMainMenu.size(); ++m) {
        const Menu& expected = kMainMenu[m];
        SCOPED_TRACE(expected.name);
        QMenu* menu = bar[qsizetype(m)]->menu();
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(menu->objectName(), expected.name);
        EXPECT_EQ(menu->title(), expected.caption);
        EXPECT_EQ(menu->menuAction()->statusTip(), expected.hint);
        checkItems(menu, expected.items);
    }
    checkItems(w->PopupMenu1, kPopup.items);
    EXPECT_EQ(w->ListView1->findChild<QMenu*>(), nullptr); // pop-up menu is shared, not owned
    EXPECT_EQ(QKeySequence("Del"), QKeySequence(Qt::Key_Delete));
}

TEST_F(MainWindowTest, TypeItemsAndButtonsAreRadioGroupsKeptInStep) {
    TForm1* w = create();
    struct Type {
        QAction* item;
        QToolButton* button;
        const char* ext;
    };
    const std::vector<Type> types = {
        {w->BMP1, w->BmpButton, "bmp"},   {w->Gif1, w->GifButton, "gif"},
        {w->Icon1, w->IconButton, "ico"}, {w->Jpeg1, w->JpegButton, "jpg"},
        {w->Pcx1, w->PcxButton, "pcx"},   {w->Png1, w->PngButton, "png"},
        {w->Tiff1, w->TiffButton, "tif"}, {w->Wmf1, w->WmfButton, "wmf"}};
    ASSERT_NE(w->BmpButton->group(), nullptr);
    EXPECT_TRUE(w->BmpButton->group()->exclusive());
    EXPECT_EQ(w->BmpButton->group()->buttons().size(), 8);
    EXPECT_TRUE(w->BMP1->actionGroup()->isExclusive());

    auto checkOnly = [&](const Type& on) {
        for (const Type& t : types) {
            EXPECT_EQ(t.item->isChecked(), t.item == on.item) << t.ext;
            EXPECT_EQ(t.button->isChecked(), t.button == on.button) << t.ext;
        }
        EXPECT_EQ(CurrentExt, on.ext);
    };
    // By button, then by menu item, in an order unlike either row.
    for (int k : {3, 7, 1, 5, 0, 6, 2, 4}) {
        types[size_t(k)].button->click();
        checkOnly(types[size_t(k)]);
        types[size_t((k + 3) % 8)].item->trigger();
        checkOnly(types[size_t((k + 3) % 8)]);
    }
}

TEST_F(MainWindowTest, ToolBarAndTypePanelAreLaidOutAsDesigned) {
    TForm1* w = create();
    showAndActivate();
    const std::vector<std::pair<QToolButton*, const char*>> tools = {
        {w->MoveButton, "Move File"},
        {w->CopyButton, "Copy File"},
        {w->DeleteButton, "Delete File"},
        {w->RenameButton, "Rename File"},
        {w->PrintButton, "Print Thumb Nails"},
        {w->PrintSetUpButton, "Print Set Up"},
        {w->ViewButton, "View Full Image"},
        {w->ThumbSizeButton, "Thumb Size"},
        {w->HelpButton, "Help"},
        {w->StopButton, "Stop Process"},
        {w->ExitButton, "Exit"}};
    for (size_t i = 0; i < tools.size(); ++i) {
        QToolButton* b = tools[i].first;
        SCOPED_TRACE(b->objectName().toStdString());
        EXPECT_EQ(b->parentWidget(), w->Panel2);
        EXPECT_EQ(b->geometry(), QRect(8 + 40 * int(i), 2, 40, 40));
        EXPECT_EQ(b->toolTip(), tools[i].second);
        EXPECT_EQ(b->statusTip(), tools[i].second);
        EXPECT_TRUE(b->text().isEmpty() || b->toolButtonStyle() == Qt::ToolButtonIconOnly);
        EXPECT_FALSE(b->icon().pixmap(32, 32).isNull());
    }
    EXPECT_EQ(w->Panel2->height(), 44);
    EXPECT_EQ(w->Panel1->height(), 30);

    const std::vector<std::tuple<QToolButton*, const char*, const char*>> typeButtons = {
        {w->BmpButton, "BMP", "Bmp File Display"},    {w->GifButton, "GIF", "Gif File Display"},
        {w->JpegButton, "JPG", "Jpeg File Display"},  {w->IconButton, "ICON", "Icon File Display"},
        {w->PcxButton, "PCX", "Pcx File Display"},    {w->PngButton, "PNG", "Png File Display"},
        {w->TiffButton, "TIFF", "Tiff File Display"}, {w->WmfButton, "WMF", "Wmf File Display"}};
    // 30 x 25 from left 176, one every 29 pixels; a caption the font makes wider than its
    // button widens it and moves the rest along.
    for (size_t i = 0; i < typeButtons.size(); ++i) {
        auto [b, caption, hint] = typeButtons[i];
        const int left = i == 0 ? 176 : std::get<0>(typeButtons[i - 1])->geometry().right();
        const int frame = b->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, b);
        const int width =
            std::max(30, QFontMetrics(b->font()).horizontalAdvance(caption) + 2 * frame);
        EXPECT_EQ(b->geometry(), QRect(left, 3, width, 25)) << caption;
        EXPECT_EQ(b->text(), caption);
        EXPECT_EQ(b->toolTip(), hint);
        EXPECT_EQ(b->statusTip(), hint);
    }
    EXPECT_EQ(w->DriveComboBox1->geometry().topLeft(), QPoint(8, 4));
    EXPECT_EQ(w->DriveComboBox1->width(), 145);
    EXPECT_EQ(w->Label1->x(), w->WmfButton->geometry().right() + 16); // 424 where all fits
    EXPECT_EQ(
        w->ProgressBar1->geometry(),
        QRect(std::max(472 + w->Label1->x() - 424, w->Label1->geometry().right() + 1), 8, 81, 16));
    EXPECT_EQ(w->ProgressBar1->minimum(), 0);
    EXPECT_EQ(w->ProgressBar1->maximum(), 100);

    EXPECT_EQ(w->HeaderControl1->count(), 2);
    EXPECT_EQ(w->HeaderControl1->model()->headerData(0, Qt::Horizontal).toString(), "Directory");
    EXPECT_EQ(w->HeaderControl1->model()->headerData(1, Qt::Horizontal).toString(), "Files");
    EXPECT_EQ(w->HeaderControl1->sectionSize(0), 161);
    EXPECT_EQ(w->HeaderControl1->sectionSize(1), 1000);
    EXPECT_EQ(w->ListView1->statusTip(), "Image Display");
    EXPECT_EQ(w->statusBar(), w->StatusBar1);

    // Top to bottom: tool bar, type panel, header, then tree beside the list.
    EXPECT_LT(w->Panel2->y(), w->Panel1->y());
    EXPECT_LT(w->Panel1->y(), w->HeaderControl1->y());
    EXPECT_LT(w->HeaderControl1->y(), w->DirectoryListBox1->y());
    EXPECT_EQ(w->DirectoryListBox1->y(), w->ListView1->y());
    EXPECT_LT(w->DirectoryListBox1->x(), w->ListView1->x());
    EXPECT_FALSE(w->windowIcon().isNull());
}
