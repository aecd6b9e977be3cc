// The about box. Its layout is about.ui; the icon is the program's own, taken when the box shows,
// since the program sets its icon after the windows are created.
#include "help/about.h"
#include "platform/text_fit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStyle>

TAboutBox* AboutBox = nullptr;

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    setupUi(this);
    // A fixed dialog frame with the system menu only.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(298, 213);
    // Captions that need more room than designed (the desktop's font) get it.
    pixmoor::fitTextToFont(this);
    connect(OKButton, &QPushButton::clicked, this, &TAboutBox::OKButtonClick);
}

TAboutBox::~TAboutBox() {
    if (AboutBox == this) AboutBox = nullptr;
}

void TAboutBox::OKButtonClick() {
    accept();
}

void TAboutBox::showEvent(QShowEvent* event) {
    // The label stretches the picture to its 65 x 57; render it at that size so it stays sharp.
    ProgramIcon->setPixmap(QGuiApplication::windowIcon().pixmap(ProgramIcon->size()));
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                 screen->availableGeometry())
                 .topLeft());
    QDialog::showEvent(event);
}
