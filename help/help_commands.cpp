// The help commands: help file look-up, the shared viewer, and the working-directory switch.
#include "help/help_commands.h"

#include "help/help_viewer.h"
#include "platform/message_box.h"
#include "platform/scratch_dir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <exception>

#ifndef PIXMOOR_DATA_FROM_BIN
#define PIXMOOR_DATA_FROM_BIN "../share/pixmoor"
#endif

namespace pixmoor {

namespace {

QPointer<HelpViewer> theViewer;

// The viewer, created on first use; it closes with its owner.
HelpViewer& viewerFor(QWidget* owner) {
    if (theViewer) return *theViewer;
    auto* viewer = new HelpViewer(scratchDirectory());
    viewer->setAnchor(owner);
    theViewer = viewer;
    QObject* lifetime = owner ? static_cast<QObject*>(owner) : QCoreApplication::instance();
    QObject::connect(lifetime, &QObject::destroyed, viewer, [viewer] { delete viewer; });
    return *viewer;
}

QString notFoundText(const QString& name, const QString& dataDir) {
    return QStringLiteral("Cannot find the help file \"%1\".\nIt was looked for in \"%2\" and in "
                          "\"%3\".")
        .arg(name, QDir::currentPath(), dataDir);
}

} // namespace

QString installedDataDirectory() {
    const QString relative = QStringLiteral(PIXMOOR_DATA_FROM_BIN);
    if (QDir::isAbsolutePath(relative)) return QDir::cleanPath(relative);
    return QDir::cleanPath(QDir(QCoreApplication::applicationDirPath()).filePath(relative));
}

QString findHelpFile(const QString& name, const QString& dataDir) {
    if (name.isEmpty()) return {};
    if (name.contains(u'/')) {
        const QFileInfo info(name);
        return info.isFile() ? info.absoluteFilePath() : QString();
    }
    for (const QString& dir : {QDir::currentPath(), dataDir}) {
        if (dir.isEmpty()) continue;
        const QFileInfo info(QDir(dir).filePath(name));
        if (info.isFile()) return info.absoluteFilePath();
    }
    return {};
}

void showHelp(const QString& helpFile, HelpCommand command, QWidget* owner) {
    try {
        const QString dataDir = installedDataDirectory();
        QString path;
        if (command == HelpCommand::HelpOnHelp) {
            // Help on help belongs to the viewer: its page in the document shown, else in the one
            // installed with the viewer (another document, from the start directory say, need
            // not have it); the working directory plays no part.
            const QString installed = QDir(dataDir).filePath(QFileInfo(helpFile).fileName());
            const bool shown = theViewer && !theViewer->documentPath().isEmpty();
            if (shown && theViewer->hasTopic(QLatin1String(HelpViewer::kUsingHelpTopic)))
                path = theViewer->documentPath();
            else if (QFileInfo(installed).isFile())
                path = installed;
            else if (shown)
                path = theViewer->documentPath();
            else
                throw std::runtime_error(QStringLiteral("Cannot find the help file \"%1\".")
                                             .arg(installed)
                                             .toStdString());
        } else {
            path = findHelpFile(helpFile, dataDir);
            if (path.isEmpty())
                throw std::runtime_error(notFoundText(helpFile, dataDir).toStdString());
        }
        HelpViewer& viewer = viewerFor(owner);
        viewer.openDocument(path);
        switch (command) {
        case HelpCommand::Contents:
            viewer.showContents();
            break;
        case HelpCommand::Finder:
            viewer.showFinder();
            break;
        case HelpCommand::HelpOnHelp:
            viewer.showHelpOnHelp();
            break;
        }
    } catch (const std::exception& e) {
        showError(QString::fromUtf8(e.what()), owner);
    }
}

void showHelpFrom(const QString& dir, const QString& helpFile, HelpCommand command,
                  QWidget* owner) {
    const QString previous = QDir::currentPath();
    if (dir.isEmpty() || !QDir::setCurrent(dir)) {
        const QFileInfo info(dir);
        const QString reason = !info.exists()  ? QStringLiteral("it does not exist")
                               : !info.isDir() ? QStringLiteral("it is not a directory")
                                               : QStringLiteral("permission denied");
        showError(QStringLiteral("I/O error: cannot make \"%1\" the working directory (%2).")
                      .arg(dir, reason),
                  owner);
        return;
    }
    // The way back is taken however the call ends.
    struct Restore {
        QString dir;
        ~Restore() { QDir::setCurrent(dir); }
    } restore{previous};
    showHelp(helpFile, command, owner);
}

HelpViewer* currentHelpViewer() {
    return theViewer.data();
}

} // namespace pixmoor
