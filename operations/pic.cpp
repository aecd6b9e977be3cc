// The image viewer window: its component, status bar, and the fit of the window to the picture.
#include "operations/pic.h"

#include "operations/viewer_window.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

TOKBottomDlg* OKBottomDlg = nullptr;

TOKBottomDlg::TOKBottomDlg(QWidget* parent) : QWidget(parent, Qt::Window) {
    QVBoxLayout* layout =
        pixmoor::setUpViewerWindow(this, QStringLiteral("OKBottomDlg"), QStringLiteral("Image"));

    ScrollBox = new QScrollArea(this);
    ScrollBox->setObjectName(QStringLiteral("ScrollBox"));
    ScrollBox->setFrameShape(QFrame::NoFrame);
    ScrollBox->setWidgetResizable(false);
    ScrollBox->setAlignment(Qt::AlignCenter); // Center: a smaller picture sits in the middle
    ScrollBox->setBackgroundRole(QPalette::Window);
    layout->addWidget(ScrollBox, 1);

    PMultiImage1 = new pixmoor::TPMultiImage;
    PMultiImage1->setObjectName(QStringLiteral("PMultiImage1"));
    PMultiImage1->resize(483, 384);
    PMultiImage1->setAutoSize(true);
    PMultiImage1->setCenter(true);
    PMultiImage1->setColor(PMultiImage1->palette().color(QPalette::Button));
    PMultiImage1->setImageDither(true);
    PMultiImage1->setImageReadRes(pixmoor::lAutoMatic);
    PMultiImage1->setImageWriteRes(pixmoor::sAutoMatic);
    PMultiImage1->setTifSaveCompress(pixmoor::sLZW);
    PMultiImage1->setJPegSaveQuality(25);
    PMultiImage1->setJPegSaveSmooth(0);
    PMultiImage1->setPNGInterLaced(true);
    PMultiImage1->setTextLeft(0);
    PMultiImage1->setTextTop(0);
    PMultiImage1->setTextRotate(0);
    PMultiImage1->setFocusPolicy(Qt::ClickFocus); // not in the tab order
    PMultiImage1->setImageName(QStringLiteral("file not found"));
    ScrollBox->setWidget(PMultiImage1);

    StatusPanel0 = pixmoor::addViewerStatusBar(this, layout, StatusBar1);

    resize(496, 435);
}

bool TOKBottomDlg::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate) FormActivate();
    return QWidget::event(e);
}

void TOKBottomDlg::FormActivate() {
    const QSize picture = PMultiImage1->size();
    const int statusHeight = StatusBar1->sizeHint().height();
    QSize client(picture.width(), picture.height() + statusHeight);

    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        // The frame around the client area, as the window manager draws it (none before the
        // first show).
        const QRect frame = frameGeometry();
        const QRect inner = geometry();
        const QSize frameExtra(frame.width() - inner.width(), frame.height() - inner.height());
        const QRect available = screen->availableGeometry();
        const QSize maxClient = available.size() - frameExtra;
        if (client.width() > maxClient.width() || client.height() > maxClient.height()) {
            // Room for the scroll bar across the other side, when one side overflows.
            const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
            if (client.height() > maxClient.height()) client.rwidth() += bar;
            if (client.width() > maxClient.width()) client.rheight() += bar;
            client = client.boundedTo(maxClient);
        }
        client = client.expandedTo(QSize(1, 1));
        resize(client);
        // The top-left corner stays, unless the window would then leave the screen.
        QRect outer(frameGeometry().topLeft(), client + frameExtra);
        if (outer.right() > available.right()) outer.moveRight(available.right());
        if (outer.bottom() > available.bottom()) outer.moveBottom(available.bottom());
        if (outer.left() < available.left()) outer.moveLeft(available.left());
        if (outer.top() < available.top()) outer.moveTop(available.top());
        if (outer.topLeft() != frameGeometry().topLeft()) move(outer.topLeft());
    } else {
        resize(client.expandedTo(QSize(1, 1)));
    }
}

void TOKBottomDlg::showViewer() {
    if (!isVisible()) {
        // A hidden viewer comes up in the centre of the screen, already at its new size.
        FormActivate();
        pixmoor::centreOnScreen(this);
    }
    pixmoor::bringToFront(this);
    // Activation may not come (no window manager, or the focus rule of the desktop), and the
    // window may already be active: fit it now as well.
    FormActivate();
}

TOKBottomDlg::~TOKBottomDlg() {
    if (OKBottomDlg == this) OKBottomDlg = nullptr;
}
