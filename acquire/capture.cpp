// Screen capture: arming, the countdown where no hot key can be had, and taking the picture from
// the X server or the desktop portal.
#include "acquire/capture.h"

#include "imaging/codec/codec.h"
#include "imaging/codec/errors.h"
#include "imaging/raster_image.h"
#include "platform/file_name.h"
#include "platform/hot_keys.h"
#include "platform/message_box.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

namespace pixmoor {

namespace {

// After the countdown window has gone: time for the windows it covered (and the compositor) to
// draw that part of the screen again before it is taken.
constexpr int kRedrawPauseMs = 400;

} // namespace

CaptureCountdown::CaptureCountdown(int seconds)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      label_(new QLabel(this)), remaining_(seconds) {
    setObjectName(QStringLiteral("CaptureCountdown"));
    setWindowTitle(QStringLiteral("Screen Capture"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QHBoxLayout(this);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    layout->addWidget(label_);
    layout->addWidget(cancel);
    connect(cancel, &QPushButton::clicked, this, &QWidget::close);
    showRemaining();
    // A fixed size also keeps a tiling compositor from stretching it over the screen.
    setFixedSize(sizeHint());
    timer_.setInterval(1000);
    connect(&timer_, &QTimer::timeout, this, &CaptureCountdown::tick);
    timer_.start();
}

void CaptureCountdown::showRemaining() {
    label_->setText(QStringLiteral("Capturing the screen in %1...").arg(remaining_));
}

void CaptureCountdown::tick() {
    if (--remaining_ > 0) {
        showRemaining();
        return;
    }
    timer_.stop();
    over_ = true;
    hide();
    QTimer::singleShot(kRedrawPauseMs, this, [this] {
        emit elapsed();
        deleteLater();
    });
}

void CaptureCountdown::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape)
        close();
    else
        QWidget::keyPressEvent(event);
}

void CaptureCountdown::closeEvent(QCloseEvent* event) {
    if (!over_) {
        timer_.stop();
        over_ = true;
        emit cancelled();
    }
    event->accept();
}

ScreenCapture::ScreenCapture(TSysHotKey& hotKey, QObject* parent)
    : QObject(parent), hotKey_(hotKey) {
    connect(&portal_, &PortalScreenshot::finished, this, &ScreenCapture::portalPicture);
    connect(&portal_, &PortalScreenshot::failed, this, &ScreenCapture::portalFailed);
    // The portal's shortcut is the hot key of a Wayland session: one press, then given back.
    connect(&shortcut_, &PortalShortcut::activated, this, [this] {
        shortcut_.release();
        capture();
    });
    connect(&shortcut_, &PortalShortcut::failed, this, [this](const QString& why) {
        windows_.restore();
        offerCountdown(QStringLiteral("Alt+F4 cannot be had as a hot key here: ") + why + u'.');
    });
}

ScreenCapture::~ScreenCapture() {
    delete countdown_.data();
}

bool ScreenCapture::arm(QWidget* parent) {
    // A countdown or a portal request already on its way is the capture asked for.
    if (countdown_ || portal_.pending()) return true;
    parent_ = parent;
    showInformation(QStringLiteral("Hit Alt+F4 to capture screen when ready"), parent);
    // Every arming puts the program out of sight, also when the user brought it back by hand
    // after an earlier one.
    windows_.minimise();
    if (shortcut_.active()) return true;
    if (screenThroughPortal()) {
        // No client may grab keys in a Wayland session: the portal's global shortcut, where it
        // offers one, is the hot key; failed() otherwise.
        shortcut_.bind(QStringLiteral("capture-screen"), QStringLiteral("Capture the screen"),
                       QStringLiteral("ALT+F4"));
        return true;
    }
    hotKey_.AddHotKey(kF4, hmAlt);
    hotKey_.setActive(true);
    if (hotKey_.AnyRegistered()) return true;

    // Nothing armed: say so rather than leave the program out of sight waiting for nothing, and
    // offer the countdown instead of the key.
    hotKey_.setActive(false);
    windows_.restore();
    return offerCountdown(hotKeysAvailable()
                              ? QStringLiteral("Alt+F4 is in use by another program (for example "
                                               "the window manager), so the screen cannot be "
                                               "captured with it.")
                              : QStringLiteral("Alt+F4 cannot be had as a hot key here: the "
                                               "desktop offers no global shortcut for it."));
}

bool ScreenCapture::offerCountdown(const QString& why) {
    showInformation(why, parent_);
    if (!askYesNo(QStringLiteral("Capture the screen after a countdown of %1 seconds instead?")
                      .arg(kCountdownSeconds),
                  parent_))
        return false;
    startCountdown();
    return true;
}

void ScreenCapture::startCountdown() {
    windows_.minimise();
    // Made after the program's windows went, so they do not count it as one of theirs.
    countdown_ = new CaptureCountdown(kCountdownSeconds);
    connect(countdown_, &CaptureCountdown::elapsed, this, &ScreenCapture::capture);
    connect(countdown_, &CaptureCountdown::cancelled, this, [this] { windows_.restore(); });
    countdown_->show();
    countdown_->raise();
    countdown_->activateWindow();
}

void ScreenCapture::take() {
    hotKey_.setActive(false);
    capture();
}

void ScreenCapture::capture() {
    if (screenThroughPortal()) {
        portal_.request(); // portalPicture or portalFailed follows
        return;
    }
    QImage screen;
    try {
        screen = grabPrimaryScreen();
    } catch (...) {
        windows_.restore();
        throw;
    }
    windows_.restore();
    if (OnPicture) OnPicture(screen);
}

void ScreenCapture::portalPicture(const QString& file) {
    // The portal's file is read as any PNG file is, with the codec's checks and limits.
    codec::Raster raster;
    const int result = codec::readPng(nativePath(file), 24, 0, raster);
    portal_.discard(file);
    if (result < 1) {
        portalFailed(QStringLiteral("The screen cannot be captured: the desktop portal's picture "
                                    "cannot be read (%1).")
                         .arg(QString::fromUtf8(codec::errorText(result))));
        return;
    }
    const QImage screen = rasterToImage(std::move(raster));
    windows_.restore();
    if (OnPicture) OnPicture(screen);
}

void ScreenCapture::portalFailed(const QString& message) {
    windows_.restore();
    showError(message, parent_);
}

} // namespace pixmoor
