// The metafile viewer window.
#include "operations/wmf.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QVBoxLayout>

TForm7* Form7 = nullptr;

TForm7::TForm7(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("Form7"));
    setWindowTitle(QStringLiteral("Form7"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    setAutoFillBackground(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    Image1 = new pixmoor::TImage(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    // Filling the client area wins over sizing to the picture: the control follows the window
    // and the picture follows the control, whatever its proportions.
    Image1->setStretch(true);
    Image1->setCenter(true);
    Image1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    layout->addWidget(Image1, 1);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    StatusPanel0 = new QLabel(StatusBar1);
    StatusPanel0->setObjectName(QStringLiteral("StatusPanel0"));
    StatusPanel0->setMinimumWidth(50);
    StatusBar1->addWidget(StatusPanel0, 1);
    layout->addWidget(StatusBar1);

    resize(312, 350);
}

void TForm7::showViewer() {
    if (!isVisible())
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            move(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, frameGeometry().size(),
                                     screen->availableGeometry())
                     .topLeft());
    show();
    raise();
    activateWindow();
}

TForm7::~TForm7() {
    if (Form7 == this) Form7 = nullptr;
}
