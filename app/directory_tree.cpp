// The directory tree over a QFileSystemModel of directories.
#include "app/directory_tree.h"

#include "catalogue/list_view.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QMimeData>

namespace pixmoor {

DirectoryTree::DirectoryTree(QWidget* parent)
    : QTreeView(parent), model_(new QFileSystemModel(this)) {
    model_->setFilter(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Drives);
    model_->setReadOnly(true);
    model_->setRootPath(QStringLiteral("/"));
    setModel(model_);
    for (int c = 1; c < model_->columnCount(); ++c) hideColumn(c);
    header()->hide();
    setUniformRowHeights(true);
    setEditTriggers(NoEditTriggers);
    setSelectionMode(SingleSelection);
    setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(DropOnly);

    // The model reads directories in the background: once the branch that leads to the shown
    // directory has been read, the tree can open down to it.
    connect(model_, &QFileSystemModel::directoryLoaded, this, [this](const QString& loaded) {
        if (directory_ == loaded || directory_.startsWith(loaded == "/" ? loaded : loaded + '/'))
            showInTree(directory_);
    });
    directory_ = QDir::currentPath();
    showInTree(directory_);
}

bool DirectoryTree::setDirectory(const QString& path) {
    const QFileInfo info(QDir::current().absoluteFilePath(path));
    if (!info.isDir()) return false;
    const QString target = info.canonicalFilePath();
    if (target.isEmpty()) return false;
    if (target == directory_) {
        // No change to report; the working directory still follows the tree.
        if (QDir::currentPath() != target) QDir::setCurrent(target);
        showInTree(target);
        return true;
    }
    if (!QDir::setCurrent(target)) return false;
    directory_ = target;
    showInTree(target);
    emit directoryChanged(target);
    return true;
}

void DirectoryTree::reread() {
    // The model itself follows the disk through its file-system watcher; what is left is a shown
    // directory that has gone meanwhile.
    QString dir = directory_;
    while (!QFileInfo(dir).isDir() && dir != QLatin1String("/")) {
        const qsizetype slash = dir.lastIndexOf(u'/');
        dir = slash <= 0 ? QStringLiteral("/") : dir.left(slash);
    }
    if (dir != directory_ && setDirectory(dir)) return; // reported by setDirectory
    if (QDir::currentPath() != directory_) QDir::setCurrent(directory_);
    showInTree(directory_);
    emit directoryChanged(directory_);
}

void DirectoryTree::showInTree(const QString& path) {
    const QModelIndex index = model_->index(path);
    if (!index.isValid()) return;
    syncing_ = true;
    setCurrentIndex(index);
    syncing_ = false;
    for (QModelIndex p = index.parent(); p.isValid(); p = p.parent()) expand(p);
    scrollTo(index);
}

void DirectoryTree::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTreeView::currentChanged(current, previous);
    if (syncing_ || !current.isValid()) return;
    const QString path = model_->filePath(current);
    if (!setDirectory(path)) {
        showInTree(directory_);
        emit directoryRefused(path);
    }
}

void DirectoryTree::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasFormat(ListItemModel::captionsMimeType()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void DirectoryTree::dragMoveEvent(QDragMoveEvent* event) {
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid() && event->mimeData()->hasFormat(ListItemModel::captionsMimeType()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void DirectoryTree::dropEvent(QDropEvent* event) {
    const QModelIndex index = indexAt(event->position().toPoint());
    const QByteArray data = event->mimeData()->data(ListItemModel::captionsMimeType());
    if (!index.isValid() || data.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit itemsDropped(model_->filePath(index), QString::fromUtf8(data).split(u'\n'),
                      event->dropAction());
}

} // namespace pixmoor
