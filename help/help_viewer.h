// The help viewer: one window on Qt's help framework that shows a compiled help document with its
// contents, index and full-text search, and a browser with back and forward.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QUrl>
#include <memory>

class QAction;
class QHelpContentWidget;
class QHelpEngine;
class QHelpIndexWidget;
class QHelpSearchQueryWidget;
class QHelpSearchResultWidget;
class QLineEdit;
class QTabWidget;

namespace pixmoor {

// The topic pane: reads qthelp:// pages and their images out of the help document; links to
// other places go to the desktop's browser.
class HelpBrowser : public QTextBrowser {
    Q_OBJECT
public:
    explicit HelpBrowser(QWidget* parent = nullptr);
    void setEngine(QHelpEngine* engine) { engine_ = engine; }
    QVariant loadResource(int type, const QUrl& name) override;

private:
    QHelpEngine* engine_ = nullptr;
};

class HelpViewer : public QMainWindow {
    Q_OBJECT
public:
    // Topics every Pixmoor help document holds.
    static constexpr const char* kContentsTopic = "index.html";
    static constexpr const char* kUsingHelpTopic = "using-help.html";

    // The working collection (and its search index) lives in a private folder made under
    // workDir, removed with the viewer; the help document itself is only read.
    explicit HelpViewer(const QString& workDir, QWidget* parent = nullptr);
    ~HelpViewer() override;

    // The window the help window first opens beside (or over), on its screen.
    void setAnchor(QWidget* window) { anchor_ = window; }

    // Shows the help document at path (absolute) unless it is the one shown already. Throws
    // std::runtime_error with a text for the user when it is missing or not a help document.
    void openDocument(const QString& path);
    QString documentPath() const { return documentPath_; }

    // What the three help commands show: the contents pane with the contents topic; the index
    // pane, ready for a word to look up; the topic on using this viewer.
    void showContents();
    void showFinder();
    void showHelpOnHelp();

    // Shows a topic of the document by its file name ("index.html").
    void showTopic(const QString& fileName);
    // The address of a topic, in whichever folder of the document it lies.
    QUrl topicUrl(const QString& fileName) const;
    bool hasTopic(const QString& fileName) const;
    QUrl currentTopic() const;

    // True while the full-text index is being built; the search field is disabled meanwhile.
    bool isIndexing() const { return indexing_; }

    QHelpEngine* engine() const { return engine_.get(); }
    QTabWidget* sidePanes() const { return tabs_; }
    QHelpContentWidget* contentsPane() const;
    QHelpIndexWidget* indexPane() const;
    QLineEdit* indexLookup() const { return lookup_; }
    QHelpSearchQueryWidget* searchQuery() const;
    QHelpSearchResultWidget* searchResults() const;
    HelpBrowser* browser() const { return browser_; }
    QAction* backAction() const { return back_; }
    QAction* forwardAction() const { return forward_; }
    QAction* homeAction() const { return home_; }

    // Indices of the side panes.
    enum Pane { ContentsPane = 0, IndexPane = 1, SearchPane = 2 };

signals:
    void indexingDone();

private:
    void buildToolBar();
    // A fresh engine on a fresh collection, and the panes that show it.
    void newEngine();
    void raiseWindow();
    void setIndexing(bool on);
    // The topic's address among the document's pages; invalid when it has no such page.
    QUrl findTopic(const QString& fileName) const;

    QTemporaryDir work_;
    std::unique_ptr<QHelpEngine> engine_;
    QString documentPath_;
    QString namespace_;
    QTabWidget* tabs_ = nullptr;
    QLineEdit* lookup_ = nullptr;
    HelpBrowser* browser_ = nullptr;
    QAction* back_ = nullptr;
    QAction* forward_ = nullptr;
    QAction* home_ = nullptr;
    bool indexing_ = false;
    QPointer<QWidget> anchor_;
    bool placed_ = false;
    int collections_ = 0;
    int indexRuns_ = 0;             // indexing runs started and not yet finished
    bool startedSinceOpen_ = false; // a run began after the document was opened
};

} // namespace pixmoor
