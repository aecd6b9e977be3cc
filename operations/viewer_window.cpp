// What the two viewer windows share (see viewer_window.h).
#include "operations/viewer_window.h"

#include <QGuiApplication>
#include <QKeySequence>
#include <QLabel>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QStyle>
#include <QVBoxLayout>
#include <QWidget>

namespace pixmoor {

QVBoxLayout* setUpViewerWindow(QWidget* window, const QString& objectName, const QString& caption) {
    window->setObjectName(objectName);
    window->setWindowTitle(caption);
    window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint);
    QPalette pal = window->palette();
    pal.setColor(QPalette::Window, Qt::white);
    window->setPalette(pal);
    window->setAutoFillBackground(true);

    // Escape puts a viewer away, as it does a dialog.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), window);
    escape->setContext(Qt::WindowShortcut);
    QObject::connect(escape, &QShortcut::activated, window, &QWidget::hide);

    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    return layout;
}

QLabel* addViewerStatusBar(QWidget* window, QVBoxLayout* layout, QStatusBar*& bar) {
    bar = new QStatusBar(window);
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setSizeGripEnabled(false);
    auto* panel = new QLabel(bar);
    panel->setObjectName(QStringLiteral("StatusPanel0"));
    panel->setMinimumWidth(50);
    bar->addWidget(panel, 1);
    layout->addWidget(bar);
    return panel;
}

void centreOnScreen(QWidget* window) {
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        window->move(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter,
                                         window->frameGeometry().size(),
                                         screen->availableGeometry())
                         .topLeft());
}

void bringToFront(QWidget* window) {
    // A window the user minimised comes back as it was before.
    if (window->isMinimized()) window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace pixmoor
