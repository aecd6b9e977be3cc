// The metafile viewer window.
#include "operations/wmf.h"

#include "operations/viewer_window.h"

#include <QVBoxLayout>

TForm7* Form7 = nullptr;

TForm7::TForm7(QWidget* parent) : QWidget(parent, Qt::Window) {
    QVBoxLayout* layout =
        pixmoor::setUpViewerWindow(this, QStringLiteral("Form7"), QStringLiteral("Form7"));

    Image1 = new pixmoor::TImage(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    // Filling the client area wins over sizing to the picture: the control follows the window
    // and the picture follows the control, whatever its proportions.
    Image1->setStretch(true);
    Image1->setCenter(true);
    Image1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    layout->addWidget(Image1, 1);

    StatusPanel0 = pixmoor::addViewerStatusBar(this, layout, StatusBar1);

    resize(312, 350);
}

void TForm7::showViewer() {
    if (!isVisible()) pixmoor::centreOnScreen(this);
    pixmoor::bringToFront(this);
}

TForm7::~TForm7() {
    if (Form7 == this) Form7 = nullptr;
}
