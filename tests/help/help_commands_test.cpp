// The help commands of the main window: the working directory during and after Help and Search
// Help, the start directory's help document against the installed one, a start directory that
// has gone, Using Help, and the one viewer that every command reuses.
#include "help/help_commands.h"
#include "help/help_viewer.h"
#include "tests/app/main_window_fixture.h"
#include "tests/help/help_test_util.h"

#include <QTabWidget>

namespace {

class HelpCommandsTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        HelpFile = QStringLiteral("pixmoor.hlp");
        start_ = std::make_unique<pixmoor::test::TempDir>();
        browsed_ = std::make_unique<pixmoor::test::TempDir>();
        startDir = QString::fromStdString(start_->path().string());
        browsedDir = QString::fromStdString(browsed_->path().string());
    }

    void TearDown() override {
        MainWindowTest::TearDown();
        HelpFile.clear();
    }

    // The main window made with the start directory current, then browsing another directory.
    void createIn(const QString& start) {
        ASSERT_TRUE(QDir::setCurrent(start));
        create();
        ASSERT_TRUE(QDir::setCurrent(browsedDir));
    }

    pixmoor::HelpViewer* viewer() const { return pixmoor::currentHelpViewer(); }
    QString topic() const { return viewer() ? viewer()->currentTopic().fileName() : QString(); }

    QString startDir;
    QString browsedDir;

private:
    std::unique_ptr<pixmoor::test::TempDir> start_;
    std::unique_ptr<pixmoor::test::TempDir> browsed_;
};

QString canonical(const QString& path) {
    return QFileInfo(path).canonicalFilePath();
}

} // namespace

TEST_F(HelpCommandsTest, InstalledDocumentIsFoundBesideTheProgram) {
    EXPECT_EQ(canonical(pixmoor::installedDataDirectory() + "/pixmoor.hlp"),
              canonical(PIXMOOR_HELP_FILE));
}

TEST_F(HelpCommandsTest, HelpAndSearchHelpLeaveTheWorkingDirectoryAsItWas) {
    createIn(startDir);
    form->Help2->trigger();
    ASSERT_NE(viewer(), nullptr);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(QDir::currentPath(), browsedDir);
    EXPECT_TRUE(viewer()->isVisible());
    EXPECT_EQ(topic(), "index.html");
    EXPECT_EQ(viewer()->sidePanes()->currentIndex(), pixmoor::HelpViewer::ContentsPane);
    // With no document in the start directory the installed one is shown.
    EXPECT_EQ(canonical(viewer()->documentPath()), canonical(PIXMOOR_HELP_FILE));

    form->Search1->trigger();
    EXPECT_EQ(QDir::currentPath(), browsedDir);
    EXPECT_EQ(viewer()->sidePanes()->currentIndex(), pixmoor::HelpViewer::IndexPane);

    // The tool button runs Help; the same window is reused every time.
    pixmoor::HelpViewer* first = viewer();
    form->HelpButton->click();
    EXPECT_EQ(viewer(), first);
    EXPECT_EQ(viewer()->sidePanes()->currentIndex(), pixmoor::HelpViewer::ContentsPane);
    EXPECT_EQ(QDir::currentPath(), browsedDir);
    EXPECT_TRUE(messages.empty());
}

TEST_F(HelpCommandsTest, TheStartDirectorysHelpDocumentWinsOverTheInstalledOne) {
    ASSERT_EQ(pixmoor::test::makeHelpDocument(startDir.toStdString(), "pixmoor.hlp",
                                              "Start directory help"),
              0);
    // A document in the browsed directory is not the one the commands mean.
    ASSERT_EQ(pixmoor::test::makeHelpDocument(browsedDir.toStdString(), "pixmoor.hlp",
                                              "Browsed directory help"),
              0);
    createIn(startDir);
    form->Help2->trigger();
    ASSERT_NE(viewer(), nullptr);
    EXPECT_EQ(canonical(viewer()->documentPath()), canonical(startDir + "/pixmoor.hlp"));
    EXPECT_TRUE(viewer()->browser()->toPlainText().contains("Start directory help"));
    EXPECT_EQ(QDir::currentPath(), browsedDir);

    form->Search1->trigger();
    EXPECT_EQ(canonical(viewer()->documentPath()), canonical(startDir + "/pixmoor.hlp"));
    EXPECT_TRUE(messages.empty());
}

TEST_F(HelpCommandsTest, AVanishedStartDirectoryIsReportedAndChangesNothing) {
    createIn(startDir);
    ASSERT_TRUE(QDir().rmdir(startDir));
    form->Help2->trigger();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].kind, pixmoor::MessageKind::Error);
    EXPECT_TRUE(messages[0].text.contains(startDir)) << messages[0].text.toStdString();
    EXPECT_TRUE(messages[0].text.contains("does not exist")) << messages[0].text.toStdString();
    EXPECT_EQ(QDir::currentPath(), browsedDir);
    EXPECT_EQ(viewer(), nullptr) << "the help call ran all the same";

    form->Search1->trigger();
    EXPECT_EQ(messages.size(), 2u);
    EXPECT_EQ(QDir::currentPath(), browsedDir);
    ASSERT_TRUE(QDir().mkpath(startDir)); // for the temporary folder's clean-up
}

TEST_F(HelpCommandsTest, UsingHelpShowsTheViewersOwnTopicWithoutChangingDirectory) {
    createIn(startDir);
    // A help file in the browsed directory plays no part in help on help.
    ASSERT_EQ(pixmoor::test::makeHelpDocument(browsedDir.toStdString(), "pixmoor.hlp", "Browsed"),
              0);
    form->UsingHelp1->trigger();
    ASSERT_NE(viewer(), nullptr);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(topic(), "using-help.html");
    EXPECT_EQ(canonical(viewer()->documentPath()), canonical(PIXMOOR_HELP_FILE));
    EXPECT_EQ(QDir::currentPath(), browsedDir);
}

TEST_F(HelpCommandsTest, AMissingHelpFileIsReportedInTheErrorBox) {
    HelpFile = QStringLiteral("nothing-here.hlp");
    createIn(startDir);
    form->Help2->trigger();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].kind, pixmoor::MessageKind::Error);
    EXPECT_TRUE(messages[0].text.contains("Cannot find the help file \"nothing-here.hlp\""))
        << messages[0].text.toStdString();
    EXPECT_TRUE(messages[0].text.contains(startDir));
    EXPECT_EQ(QDir::currentPath(), browsedDir);
}

TEST_F(HelpCommandsTest, ADamagedHelpFileInTheStartDirectoryIsReported) {
    pixmoor::test::writeText(startDir.toStdString() + "/pixmoor.hlp", "garbage");
    createIn(startDir);
    form->Help2->trigger();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.contains("is damaged or is not a help file"));
    EXPECT_EQ(QDir::currentPath(), browsedDir);
}

TEST_F(HelpCommandsTest, TheViewerClosesWithTheMainWindow) {
    createIn(startDir);
    form->Help2->trigger();
    ASSERT_NE(viewer(), nullptr);
    destroyWindows();
    EXPECT_EQ(viewer(), nullptr);
}

TEST_F(HelpCommandsTest, HelpIsBlockedWhileTheWindowIsBusy) {
    createIn(startDir);
    form->disablewindow();
    EXPECT_FALSE(form->Help1->menuAction()->isEnabled());
    EXPECT_FALSE(form->HelpButton->isEnabled());
    form->enablewindow();
    EXPECT_TRUE(form->HelpButton->isEnabled());
}

TEST_F(HelpCommandsTest, UsingHelpShowsItsPageAfterHelpFromTheStartDirectory) {
    // The start directory holds another help document: a copy of the installed one, one of its
    // own, one whose pages lie in another folder of the document (so other addresses), one
    // without a page on using help.
    struct Case {
        const char* name;
        std::string from, to;  // a change to the document's project file
        const char* contents;  // what Help shows
        const char* usingHelp; // what Using Help shows
    };
    const std::vector<Case> cases = {
        {"copy", "", "", "Pixmoor Help", "Using Help"},
        {"own", "", "", "Start directory help", "Local using help"},
        {"other folder", "<virtualFolder>doc<", "<virtualFolder>pages<", "Start directory help",
         "Local using help"},
        {"no using help", "<file>using-help.html</file>", "", "Start directory help", "Using Help"},
    };
    const std::string dir = startDir.toStdString();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (std::string(c.name) == "copy") {
            ASSERT_TRUE(QFile::copy(PIXMOOR_HELP_FILE, startDir + "/pixmoor.hlp"));
        } else {
            ASSERT_EQ(pixmoor::test::makeHelpDocument(dir, "pixmoor.hlp", "Start directory help"),
                      0);
            if (!c.from.empty()) {
                std::string project = pixmoor::test::readText(dir + "/local.qhp");
                project.replace(project.find(c.from), c.from.size(), c.to);
                pixmoor::test::writeText(dir + "/local.qhp", project);
                ASSERT_EQ(pixmoor::test::run(
                              "ASAN_OPTIONS=detect_leaks=0 '" PIXMOOR_QHELPGENERATOR "' -s '" +
                              dir + "/local.qhp' -o '" + dir + "/pixmoor.hlp' >/dev/null 2>&1"),
                          0);
            }
        }
        createIn(startDir);
        form->Help2->trigger();
        ASSERT_NE(viewer(), nullptr);
        EXPECT_TRUE(viewer()->browser()->toPlainText().contains(c.contents))
            << viewer()->browser()->toPlainText().toStdString();
        form->Search1->trigger();
        form->UsingHelp1->trigger();
        EXPECT_TRUE(messages.empty());
        EXPECT_EQ(topic(), "using-help.html");
        EXPECT_TRUE(viewer()->browser()->toPlainText().contains(c.usingHelp))
            << viewer()->browser()->toPlainText().toStdString();
        destroyWindows();
        ASSERT_TRUE(QFile::remove(startDir + "/pixmoor.hlp"));
    }
}

TEST_F(HelpCommandsTest, TheHelpWindowOpensBesideOrOverTheMainWindowOnTheScreen) {
    createIn(startDir);
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    form->Help2->trigger();
    ASSERT_NE(viewer(), nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(viewer()));
    const QRect area = form->screen()->availableGeometry();
    const QRect help = viewer()->frameGeometry();
    EXPECT_TRUE(area.contains(help))
        << help.x() << "," << help.y() << " " << help.width() << "x" << help.height();
    // Beside the main window (touching it) or over it.
    EXPECT_TRUE(help.intersects(form->frameGeometry().adjusted(-2, -2, 2, 2)));
}
