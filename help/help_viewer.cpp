// The help viewer window. The help document is a compiled Qt help file; the viewer registers it in
// a collection of its own in a private, writable folder, because Qt keeps the full-text index
// next to the collection and the installed document is usually read-only.
#include "help/help_viewer.h"

#include "platform/window_placement.h"

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHelpContentWidget>
#include <QHelpEngine>
#include <QHelpIndexWidget>
#include <QHelpLink>
#include <QHelpSearchEngine>
#include <QHelpSearchQueryWidget>
#include <QHelpSearchResultWidget>
#include <QKeySequence>
#include <QLineEdit>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>
#include <stdexcept>

namespace pixmoor {

namespace {

std::runtime_error userError(const QString& text) {
    return std::runtime_error(text.toStdString());
}

} // namespace

// ---- topic pane ----

HelpBrowser::HelpBrowser(QWidget* parent) : QTextBrowser(parent) {
    // Links are followed here: topics of the document in this pane, anything else (a web page,
    // a mail address) by the desktop's own program.
    setOpenLinks(false);
    connect(this, &QTextBrowser::anchorClicked, this, [this](const QUrl& link) {
        const QUrl url = source().resolved(link);
        if (url.scheme() == QLatin1String("qthelp"))
            setSource(url);
        else
            QDesktopServices::openUrl(url);
    });
}

QVariant HelpBrowser::loadResource(int type, const QUrl& name) {
    if (engine_ && name.scheme() == QLatin1String("qthelp")) {
        const QByteArray data = engine_->fileData(name);
        if (type == QTextDocument::HtmlResource || type == QTextDocument::StyleSheetResource)
            return QString::fromUtf8(data);
        return data;
    }
    return QTextBrowser::loadResource(type, name);
}

// ---- window ----

HelpViewer::HelpViewer(const QString& workDir, QWidget* parent)
    : QMainWindow(parent), work_(QDir(workDir).filePath(QStringLiteral("help-XXXXXX"))) {
    if (!work_.isValid())
        throw userError(
            QStringLiteral("The help viewer cannot create its work folder in \"%1\": %2")
                .arg(workDir, work_.errorString()));
    setWindowTitle(QStringLiteral("Pixmoor Help"));
    setObjectName(QStringLiteral("HelpViewer"));
    resize(820, 600);
    buildToolBar();
    newEngine();
}

HelpViewer::~HelpViewer() {
    // The panes show the engine's models: they go first, then the engine, then its folder.
    if (engine_) engine_->searchEngine()->cancelIndexing();
    delete takeCentralWidget();
    engine_.reset();
}

void HelpViewer::buildToolBar() {
    QToolBar* bar = addToolBar(QStringLiteral("Navigation"));
    bar->setObjectName(QStringLiteral("HelpNavigation"));
    bar->setMovable(false);
    back_ = bar->addAction(style()->standardIcon(QStyle::SP_ArrowBack), QStringLiteral("&Back"));
    back_->setShortcut(QKeySequence::Back);
    back_->setStatusTip(QStringLiteral("Back to the topic shown before"));
    forward_ =
        bar->addAction(style()->standardIcon(QStyle::SP_ArrowForward), QStringLiteral("&Forward"));
    forward_->setShortcut(QKeySequence::Forward);
    forward_->setStatusTip(QStringLiteral("Forward again"));
    home_ = bar->addAction(style()->standardIcon(QStyle::SP_DirHomeIcon), QStringLiteral("&Home"));
    home_->setStatusTip(QStringLiteral("The contents topic"));
    back_->setEnabled(false);
    forward_->setEnabled(false);
    connect(back_, &QAction::triggered, this, [this] { browser_->backward(); });
    connect(forward_, &QAction::triggered, this, [this] { browser_->forward(); });
    connect(home_, &QAction::triggered, this, [this] { showTopic(kContentsTopic); });

    auto* close = new QAction(this);
    close->setShortcut(QKeySequence(Qt::Key_Escape));
    connect(close, &QAction::triggered, this, &QWidget::close);
    addAction(close);
}

void HelpViewer::newEngine() {
    // The panes show the old engine's models: they go first, then the engine.
    if (engine_) engine_->searchEngine()->cancelIndexing();
    delete takeCentralWidget();
    engine_.reset();
    indexRuns_ = 0;
    startedSinceOpen_ = false;
    indexing_ = false;

    ++collections_;
    engine_ = std::make_unique<QHelpEngine>(
        work_.filePath(QStringLiteral("pixmoor-%1.qhc").arg(collections_)));
    engine_->setReadOnly(false);
    engine_->setUsesFilterEngine(true);
    if (!engine_->setupData())
        throw userError(QStringLiteral("The help viewer cannot start: %1").arg(engine_->error()));

    browser_ = new HelpBrowser;
    browser_->setObjectName(QStringLiteral("HelpBrowser"));
    browser_->setEngine(engine_.get());

    tabs_ = new QTabWidget;
    tabs_->setObjectName(QStringLiteral("HelpPanes"));

    QHelpContentWidget* contents = engine_->contentWidget();
    contents->setObjectName(QStringLiteral("HelpContents"));
    tabs_->addTab(contents, QStringLiteral("&Contents"));
    connect(contents, &QHelpContentWidget::linkActivated, browser_,
            [this](const QUrl& url) { browser_->setSource(url); });
    // The contents fill in the background; open the tree once they are there.
    connect(engine_->contentModel(), &QHelpContentModel::contentsCreated, contents,
            [contents] { contents->expandToDepth(0); });

    auto* indexPage = new QWidget;
    auto* indexLayout = new QVBoxLayout(indexPage);
    lookup_ = new QLineEdit;
    lookup_->setObjectName(QStringLiteral("HelpIndexLookup"));
    lookup_->setPlaceholderText(QStringLiteral("Type a word to look up"));
    lookup_->setClearButtonEnabled(true);
    QHelpIndexWidget* index = engine_->indexWidget();
    index->setObjectName(QStringLiteral("HelpIndex"));
    indexLayout->addWidget(lookup_);
    indexLayout->addWidget(index);
    tabs_->addTab(indexPage, QStringLiteral("&Index"));
    connect(lookup_, &QLineEdit::textChanged, index,
            [index](const QString& text) { index->filterIndices(text); });
    connect(lookup_, &QLineEdit::returnPressed, index, &QHelpIndexWidget::activateCurrentItem);
    connect(index, &QHelpIndexWidget::documentActivated, this,
            [this](const QHelpLink& link, const QString&) { browser_->setSource(link.url); });
    // A keyword that several topics share: show the first; the others stay a click away in the
    // contents and the search.
    connect(index, &QHelpIndexWidget::documentsActivated, this,
            [this](const QList<QHelpLink>& links, const QString&) {
                if (!links.isEmpty()) browser_->setSource(links.first().url);
            });

    auto* searchPage = new QWidget;
    auto* searchLayout = new QVBoxLayout(searchPage);
    QHelpSearchEngine* search = engine_->searchEngine();
    search->queryWidget()->setObjectName(QStringLiteral("HelpSearchQuery"));
    search->resultWidget()->setObjectName(QStringLiteral("HelpSearchResults"));
    searchLayout->addWidget(search->queryWidget());
    searchLayout->addWidget(search->resultWidget(), 1);
    tabs_->addTab(searchPage, QStringLiteral("&Search"));
    connect(search->resultWidget(), &QHelpSearchResultWidget::requestShowLink, browser_,
            [this](const QUrl& url) { browser_->setSource(url); });
    connect(search->queryWidget(), &QHelpSearchQueryWidget::search, this,
            [search] { search->search(search->queryWidget()->searchInput()); });
    // A search before the index is complete would miss topics, so the field waits for it. Runs
    // are counted: the engine schedules one itself when a document is registered.
    connect(search, &QHelpSearchEngine::indexingStarted, this, [this] {
        ++indexRuns_;
        startedSinceOpen_ = true;
        setIndexing(true);
    });
    connect(search, &QHelpSearchEngine::indexingFinished, this, [this] {
        indexRuns_ = std::max(0, indexRuns_ - 1);
        if (indexRuns_ == 0 && startedSinceOpen_) {
            setIndexing(false);
            emit indexingDone();
        }
    });

    auto* splitter = new QSplitter;
    splitter->addWidget(tabs_);
    splitter->addWidget(browser_);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({240, 580});
    setCentralWidget(splitter);

    back_->setEnabled(false);
    forward_->setEnabled(false);
    connect(browser_, &QTextBrowser::backwardAvailable, back_, &QAction::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward_, &QAction::setEnabled);
    connect(browser_, &QTextBrowser::sourceChanged, this, [contents](const QUrl& url) {
        // Keep the contents tree on the topic shown.
        const QModelIndex item = contents->indexOf(url);
        if (item.isValid()) contents->setCurrentIndex(item);
    });
}

void HelpViewer::openDocument(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    if (absolute == documentPath_) return;
    const QFileInfo info(absolute);
    if (!info.isFile())
        throw userError(QStringLiteral("The help file \"%1\" was not found.").arg(absolute));
    if (!info.isReadable())
        throw userError(QStringLiteral("The help file \"%1\" cannot be read.").arg(absolute));
    const QString ns = QHelpEngineCore::namespaceName(absolute);
    if (ns.isEmpty())
        throw userError(
            QStringLiteral("The file \"%1\" is damaged or is not a help file.").arg(absolute));

    // Each document gets an engine, a collection and a search index of its own: nothing of
    // another document under the same namespace (an index still being made, cached pages) may
    // answer for this one.
    if (!engine_ || !documentPath_.isEmpty() || !engine_->registeredDocumentations().isEmpty()) {
        documentPath_.clear();
        newEngine();
    }
    if (!engine_->registerDocumentation(absolute) || !engine_->setupData())
        throw userError(QStringLiteral("The help file \"%1\" cannot be opened: %2")
                            .arg(absolute, engine_->error()));
    documentPath_ = absolute;
    namespace_ = ns;
    // Set now, not when the indexer reports its start: a search typed meanwhile must wait.
    setIndexing(true);
    engine_->searchEngine()->reindexDocumentation();
}

QUrl HelpViewer::topicUrl(const QString& fileName) const {
    const QUrl found = findTopic(fileName);
    if (found.isValid()) return found;
    QUrl url;
    url.setScheme(QStringLiteral("qthelp"));
    url.setHost(namespace_);
    url.setPath(QStringLiteral("/doc/") + fileName);
    return url;
}

QUrl HelpViewer::findTopic(const QString& fileName) const {
    // A document keeps its pages in a folder of its own naming ("doc" in ours), and a page is read
    // under that address only; the engine's look-up of an address ignores the folder, so the
    // document's own list of pages decides.
    if (documentPath_.isEmpty()) return {};
    QUrl found;
    for (const QUrl& page : engine_->files(namespace_, QString())) {
        if (page.path().section(u'/', 2) != fileName) continue;
        if (page.path() == QStringLiteral("/doc/") + fileName) return page;
        if (!found.isValid()) found = page;
    }
    return found;
}

bool HelpViewer::hasTopic(const QString& fileName) const {
    return findTopic(fileName).isValid();
}

QUrl HelpViewer::currentTopic() const {
    return browser_->source();
}

void HelpViewer::showTopic(const QString& fileName) {
    if (hasTopic(fileName))
        browser_->setSource(topicUrl(fileName));
    else
        browser_->setHtml(QStringLiteral("<h1>Topic not found</h1><p>The help file \"%1\" has no "
                                         "topic \"%2\".</p>")
                              .arg(documentPath_.toHtmlEscaped(), fileName.toHtmlEscaped()));
}

void HelpViewer::raiseWindow() {
    if (isMinimized()) showNormal();
    // The first time beside the window it helps with, on that window's screen and fitted to it;
    // afterwards where the user left it.
    if (!placed_ && !isVisible()) {
        placed_ = true;
        placeBeside(this, size(), anchor_);
        keepOnScreenWhenFramed(this);
    }
    show();
    raise();
    activateWindow();
}

void HelpViewer::showContents() {
    tabs_->setCurrentIndex(ContentsPane);
    showTopic(kContentsTopic);
    raiseWindow();
}

void HelpViewer::showFinder() {
    tabs_->setCurrentIndex(IndexPane);
    if (browser_->source().isEmpty()) showTopic(kContentsTopic);
    raiseWindow();
    lookup_->setFocus();
    lookup_->selectAll();
}

void HelpViewer::showHelpOnHelp() {
    showTopic(kUsingHelpTopic);
    raiseWindow();
}

void HelpViewer::setIndexing(bool on) {
    indexing_ = on;
    searchQuery()->setEnabled(!on);
    if (on)
        statusBar()->showMessage(QStringLiteral("Preparing the search..."));
    else
        statusBar()->clearMessage();
}

QHelpContentWidget* HelpViewer::contentsPane() const {
    return engine_->contentWidget();
}
QHelpIndexWidget* HelpViewer::indexPane() const {
    return engine_->indexWidget();
}
QHelpSearchQueryWidget* HelpViewer::searchQuery() const {
    return engine_->searchEngine()->queryWidget();
}
QHelpSearchResultWidget* HelpViewer::searchResults() const {
    return engine_->searchEngine()->resultWidget();
}

} // namespace pixmoor
