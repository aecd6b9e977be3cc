// DirectoryTree: the directory tree of the main window. It keeps the process's working directory
// equal to the directory it shows and reports a change only when that directory really changes.
#pragma once

#include <QString>
#include <QTreeView>

class QFileSystemModel;

namespace pixmoor {

class DirectoryTree : public QTreeView {
    Q_OBJECT
public:
    explicit DirectoryTree(QWidget* parent = nullptr);

    // The directory shown (absolute, symbolic links resolved).
    QString directory() const { return directory_; }

    // Shows path and makes it the working directory. Emits directoryChanged only when the
    // directory differs from the one shown. Returns false, changing nothing, when path is not a
    // directory or cannot be made current.
    bool setDirectory(const QString& path);

    // Reads the directory structure from disk again and reports a change of the shown directory
    // (so its catalogue is built again). A shown directory that has gone gives way to its
    // nearest existing parent.
    void reread();

    QFileSystemModel* fileSystemModel() const { return model_; }

signals:
    void directoryChanged(const QString& directory);
    // The user picked a directory that cannot be opened; the tree stays where it was.
    void directoryRefused(const QString& path);
    // List items (their captions, from the list view's drag) were dropped on directory target.
    void itemsDropped(const QString& target, const QStringList& captions, Qt::DropAction action);

protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void showInTree(const QString& path);

    QFileSystemModel* model_;
    QString directory_;
    bool syncing_ = false; // the tree's cursor is being moved by setDirectory itself
};

} // namespace pixmoor
