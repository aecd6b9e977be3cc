// The help viewer on the real help document: what each command shows, the contents, the index,
// the full-text search, back and forward, and documents that are missing, damaged or replaced.
#include "help/help_viewer.h"
#include "tests/help/help_test_util.h"

#include <QDir>
#include <QHelpContentWidget>
#include <QHelpEngine>
#include <QHelpIndexWidget>
#include <QHelpSearchEngine>
#include <QHelpSearchQueryWidget>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>

using pixmoor::HelpViewer;

namespace {

const QString kHelpFile = QStringLiteral(PIXMOOR_HELP_FILE);

class HelpViewerTest : public ::testing::Test {
protected:
    void SetUp() override {
        work_ = std::make_unique<pixmoor::test::TempDir>();
        viewer = std::make_unique<HelpViewer>(QString::fromStdString(work_->path().string()));
    }

    QString workPath() const { return QString::fromStdString(work_->path().string()); }
    QString topicFile() const { return viewer->currentTopic().fileName(); }
    QString shownText() const { return viewer->browser()->toPlainText(); }

    // Runs a full-text search through the search pane, as typed and entered by the user, and
    // returns the topics found.
    QStringList searchFor(const QString& words) {
        QHelpSearchEngine* search = viewer->engine()->searchEngine();
        // The field is usable once the index is complete.
        EXPECT_TRUE(QTest::qWaitFor([this] { return viewer->searchQuery()->isEnabled(); }, 10000));
        QSignalSpy finished(search, &QHelpSearchEngine::searchingFinished);
        viewer->searchQuery()->setSearchInput(words);
        viewer->show();
        viewer->sidePanes()->setCurrentIndex(HelpViewer::SearchPane);
        QLineEdit* field = nullptr;
        for (QLineEdit* edit : viewer->searchQuery()->findChildren<QLineEdit*>())
            if (edit->isVisible()) field = edit;
        EXPECT_NE(field, nullptr);
        if (!field) return {};
        QTest::keyClick(field, Qt::Key_Return);
        EXPECT_TRUE(finished.wait(10000) || finished.count() > 0) << "no search ran";
        QStringList topics;
        for (const QHelpSearchResult& hit : search->searchResults(0, search->searchResultCount()))
            topics << hit.url().fileName();
        return topics;
    }

    std::unique_ptr<pixmoor::test::TempDir> work_;
    std::unique_ptr<HelpViewer> viewer;
};

} // namespace

TEST_F(HelpViewerTest, ContentsShowTheContentsTopicAndTheTreeOfTopics) {
    viewer->openDocument(kHelpFile);
    viewer->showContents();
    EXPECT_TRUE(viewer->isVisible());
    EXPECT_EQ(viewer->windowTitle(), "Pixmoor Help");
    EXPECT_EQ(viewer->sidePanes()->currentIndex(), HelpViewer::ContentsPane);
    EXPECT_EQ(topicFile(), "index.html");
    EXPECT_TRUE(shownText().contains("Getting started"));

    QHelpContentModel* model = viewer->engine()->contentModel();
    QTRY_VERIFY_WITH_TIMEOUT(!model->isCreatingContents() && model->rowCount() == 1, 10000);
    const QModelIndex root = model->index(0, 0);
    EXPECT_EQ(model->data(root, Qt::DisplayRole).toString(), "Pixmoor Help");
    // Every topic of the document is reachable from the contents.
    QStringList titles;
    for (int row = 0; row < model->rowCount(root); ++row)
        titles << model->data(model->index(row, 0, root), Qt::DisplayRole).toString();
    for (const char* title : {"The main window", "Browsing images", "Messages",
                              "Settings and files", "Image formats and limits", "Using Help"})
        EXPECT_TRUE(titles.contains(title)) << title;

    // A click in the tree shows that topic.
    const QModelIndex messages =
        model->index(static_cast<int>(titles.indexOf("Messages")), 0, root);
    emit viewer->contentsPane()->linkActivated(model->contentItemAt(messages)->url());
    EXPECT_EQ(topicFile(), "messages.html");
    EXPECT_TRUE(shownText().contains("No target path specified"));
}

TEST_F(HelpViewerTest, FinderOpensTheIndexAndALookedUpKeywordShowsItsTopic) {
    viewer->openDocument(kHelpFile);
    viewer->showFinder();
    EXPECT_EQ(viewer->sidePanes()->currentIndex(), HelpViewer::IndexPane);
    // A topic is shown beside the index from the start.
    EXPECT_EQ(topicFile(), "index.html");

    QHelpIndexModel* index = viewer->engine()->indexModel();
    QTRY_VERIFY_WITH_TIMEOUT(!index->isCreatingIndex() && index->rowCount() > 50, 10000);
    QTest::keyClicks(viewer->indexLookup(), "KEMRA");
    EXPECT_EQ(viewer->indexPane()->model()->rowCount(), 1);
    QTest::keyClick(viewer->indexLookup(), Qt::Key_Return);
    EXPECT_EQ(topicFile(), "settings.html");
    EXPECT_TRUE(shownText().contains("ThumbSizew"));
}

TEST_F(HelpViewerTest, HelpOnHelpShowsTheTopicOnUsingTheViewer) {
    viewer->openDocument(kHelpFile);
    viewer->showHelpOnHelp();
    EXPECT_TRUE(viewer->isVisible());
    EXPECT_EQ(topicFile(), "using-help.html");
    EXPECT_TRUE(shownText().contains("Moving between topics"));
}

TEST_F(HelpViewerTest, SearchFindsAWordThatOnlyOneTopicHolds) {
    viewer->openDocument(kHelpFile);
    viewer->showFinder();
    // While the index is being made the search field waits.
    EXPECT_TRUE(viewer->isIndexing());
    EXPECT_FALSE(viewer->searchQuery()->isEnabled());
    EXPECT_EQ(searchFor("Samba"), QStringList{"properties.html"});
    EXPECT_FALSE(viewer->isIndexing());
    EXPECT_EQ(searchFor("tmpfs"), QStringList{"shell.html"});
    EXPECT_TRUE(searchFor("xylophone").isEmpty());
    // A word of many topics finds many.
    EXPECT_GT(searchFor("thumbnail").size(), 5);
}

TEST_F(HelpViewerTest, BackAndForwardRetraceTheTopicsShown) {
    viewer->openDocument(kHelpFile);
    viewer->showContents();
    EXPECT_FALSE(viewer->backAction()->isEnabled());
    // Follow a link of the contents topic, as a click on it does.
    emit viewer->browser()->anchorClicked(QUrl("properties.html"));
    EXPECT_EQ(topicFile(), "properties.html");
    viewer->showTopic("keyboard.html");
    ASSERT_TRUE(viewer->backAction()->isEnabled());
    EXPECT_FALSE(viewer->forwardAction()->isEnabled());

    viewer->backAction()->trigger();
    EXPECT_EQ(topicFile(), "properties.html");
    viewer->backAction()->trigger();
    EXPECT_EQ(topicFile(), "index.html");
    EXPECT_FALSE(viewer->backAction()->isEnabled());
    ASSERT_TRUE(viewer->forwardAction()->isEnabled());
    viewer->forwardAction()->trigger();
    EXPECT_EQ(topicFile(), "properties.html");
    viewer->homeAction()->trigger();
    EXPECT_EQ(topicFile(), "index.html");
}

TEST_F(HelpViewerTest, EveryLinkOfEveryTopicLeadsToATopicOfTheDocument) {
    viewer->openDocument(kHelpFile);
    const QString ns = viewer->topicUrl("index.html").host();
    const QList<QUrl> files = viewer->engine()->files(ns, QString(), "html");
    EXPECT_GE(files.size(), 20);
    for (const QUrl& file : files) {
        const QString html = QString::fromUtf8(viewer->engine()->fileData(file));
        EXPECT_TRUE(html.contains("<title>")) << file.toString().toStdString();
        static const QRegularExpression href(QStringLiteral("href=\"([^\"#]+)"));
        for (auto m = href.globalMatch(html); m.hasNext();) {
            const QUrl target = file.resolved(QUrl(m.next().captured(1)));
            EXPECT_TRUE(viewer->engine()->findFile(target).isValid())
                << file.fileName().toStdString() << " -> " << target.toString().toStdString();
        }
    }
}

TEST_F(HelpViewerTest, MissingAndDamagedDocumentsAreRefusedWithAClearText) {
    const std::string dir = work_->path().string();
    const auto message = [this](const QString& path) -> std::string {
        try {
            viewer->openDocument(path);
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "accepted";
    };
    EXPECT_NE(message(QString::fromStdString(dir + "/none.hlp")).find("was not found"),
              std::string::npos);
    pixmoor::test::writeText(dir + "/text.hlp", "This is not a help file.\n");
    EXPECT_NE(message(QString::fromStdString(dir + "/text.hlp")).find("is not a help file"),
              std::string::npos);
    // A truncated document: the first 2 KiB of the real one.
    pixmoor::test::writeText(dir + "/cut.hlp",
                             pixmoor::test::readText(PIXMOOR_HELP_FILE).substr(0, 2048));
    EXPECT_NE(message(QString::fromStdString(dir + "/cut.hlp")), "accepted");
    EXPECT_TRUE(viewer->documentPath().isEmpty());

    // The viewer still opens a good one afterwards.
    viewer->openDocument(kHelpFile);
    viewer->showContents();
    EXPECT_TRUE(shownText().contains("Getting started"));
}

TEST_F(HelpViewerTest, AnotherDocumentOfTheSameNameReplacesTheOneShown) {
    pixmoor::test::TempDir other;
    ASSERT_EQ(pixmoor::test::makeHelpDocument(other.path().string(), "pixmoor.hlp", "Local marker"),
              0);
    viewer->openDocument(QString::fromStdString(other.file("pixmoor.hlp")));
    viewer->showContents();
    EXPECT_TRUE(shownText().contains("Local marker"));

    viewer->openDocument(kHelpFile);
    viewer->showContents();
    EXPECT_EQ(viewer->documentPath(), QFileInfo(kHelpFile).absoluteFilePath());
    EXPECT_TRUE(shownText().contains("Getting started"));
    EXPECT_FALSE(viewer->backAction()->isEnabled()) << "history of the other document kept";
    EXPECT_EQ(searchFor("Samba"), QStringList{"properties.html"});
}

TEST_F(HelpViewerTest, TheWorkFolderGoesWithTheViewer) {
    viewer->openDocument(kHelpFile);
    const QStringList made = QDir(workPath()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_EQ(made.size(), 1);
    EXPECT_TRUE(made.first().startsWith("help-"));
    QTRY_VERIFY_WITH_TIMEOUT(!viewer->isIndexing(), 10000);
    viewer.reset();
    EXPECT_TRUE(QDir(workPath()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
    // The document itself is only read.
    EXPECT_TRUE(QFileInfo::exists(kHelpFile));
}
