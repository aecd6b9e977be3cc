// The screenshot portal's request: the call, the Request object's Response signal, the time
// limit, and removing the portal's file once it has been read.
#include "platform/portal_screenshot.h"

#include "platform/file_name.h"
#include "platform/portal_request.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QUrl>

#include <sys/stat.h>
#include <unistd.h>

namespace pixmoor {

using namespace portal;

namespace {

QString callFailure(const QDBusError& error) {
    switch (error.type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::UnknownObject:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownMethod:
        return QStringLiteral("The screen cannot be captured: the desktop offers no screenshot "
                              "portal.");
    default:
        return QStringLiteral("The screen cannot be captured: ") + error.message();
    }
}

} // namespace

PortalScreenshot::PortalScreenshot(QObject* parent) : QObject(parent) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, [this] {
        // Withdraw the request, so a late picture is not left behind for nobody.
        QDBusConnection::sessionBus().asyncCall(
            QDBusMessage::createMethodCall(kService, path_, kRequest, QStringLiteral("Close")));
        fail(QStringLiteral("The screen cannot be captured: the desktop portal did not answer."));
    });
}

PortalScreenshot::~PortalScreenshot() {
    stopListening();
}

bool PortalScreenshot::request(std::chrono::milliseconds timeout) {
    if (pending()) return false;
    token_ = newToken();
    began_ = QDateTime::currentDateTimeUtc();
    timer_.start(timeout);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        // Answered from the event loop, as every other outcome is.
        QMetaObject::invokeMethod(
            this,
            [this] {
                fail(QStringLiteral("The screen cannot be captured: there is no session bus to "
                                    "reach the desktop portal."));
            },
            Qt::QueuedConnection);
        return true;
    }
    listen(requestPath(bus, token_));

    QDBusMessage call = QDBusMessage::createMethodCall(
        kService, kObject, QStringLiteral("org.freedesktop.portal.Screenshot"),
        QStringLiteral("Screenshot"));
    call << QString() // no parent window: the portal shows nothing of its own
         << QVariantMap{{QStringLiteral("handle_token"), token_},
                        {QStringLiteral("interactive"), false},
                        {QStringLiteral("modal"), false}};
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, int(timeout.count())), this);
    const QString token = token_;
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, token] {
        watcher->deleteLater();
        if (token_ != token) return; // answered or given up meanwhile
        const QDBusPendingReply<QDBusObjectPath> reply = *watcher;
        if (reply.isError()) {
            fail(callFailure(reply.error()));
            return;
        }
        // A portal older than handle tokens names a Request object of its own.
        if (reply.value().path() != path_) listen(reply.value().path());
    });
    return true;
}

void PortalScreenshot::listen(const QString& path) {
    stopListening();
    path_ = path;
    QDBusConnection::sessionBus().connect(QString(), path_, kRequest, QStringLiteral("Response"),
                                          this, SLOT(response(uint, QVariantMap)));
}

void PortalScreenshot::stopListening() {
    if (path_.isEmpty()) return;
    QDBusConnection::sessionBus().disconnect(QString(), path_, kRequest, QStringLiteral("Response"),
                                             this, SLOT(response(uint, QVariantMap)));
    path_.clear();
}

void PortalScreenshot::response(uint code, const QVariantMap& results) {
    if (!pending()) return;
    timer_.stop();
    stopListening();
    token_.clear();
    if (code == 1) {
        emit failed(QStringLiteral("The screen capture was cancelled."));
        return;
    }
    if (code != 0) {
        emit failed(QStringLiteral("The desktop portal refused to capture the screen."));
        return;
    }
    const QUrl uri(results.value(QStringLiteral("uri")).toString());
    if (!uri.isLocalFile()) {
        emit failed(QStringLiteral("The screen cannot be captured: the desktop portal gave no "
                                   "picture file."));
        return;
    }
    emit finished(uri.toLocalFile());
}

void PortalScreenshot::fail(const QString& message) {
    if (!pending()) return;
    timer_.stop();
    stopListening();
    token_.clear();
    emit failed(message);
}

bool PortalScreenshot::discard(const QString& file) const {
    if (file.isEmpty() || !began_.isValid()) return false;
    const QByteArray path = encodeFileName(file);
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0) return false;
    if (!S_ISREG(st.st_mode) || st.st_uid != ::getuid() || st.st_nlink != 1) return false;
    // A second of slack for file systems that keep coarse times.
    const qint64 written = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    if (written + 1000 < began_.toMSecsSinceEpoch()) return false;
    return ::unlink(path.constData()) == 0;
}

} // namespace pixmoor
