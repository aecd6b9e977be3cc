// The global-shortcuts portal: CreateSession, BindShortcuts (each answered on a Request
// object), Activated, and the session's Close.
#include "platform/portal_shortcut.h"

#include "platform/portal_request.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <algorithm>

namespace {

// One shortcut as the portal passes it: (sa{sv}), its id and its properties.
struct PortalShortcutEntry {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcutEntry& entry) {
    argument.beginStructure();
    argument << entry.id << entry.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcutEntry& entry) {
    argument.beginStructure();
    argument >> entry.id >> entry.properties;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(PortalShortcutEntry)

namespace pixmoor {

using namespace portal;

namespace {

const QString kShortcuts = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

void registerTypes() {
    static const bool done = [] {
        qDBusRegisterMetaType<PortalShortcutEntry>();
        qDBusRegisterMetaType<QList<PortalShortcutEntry>>();
        return true;
    }();
    (void)done;
}

} // namespace

PortalShortcut::PortalShortcut(QObject* parent) : QObject(parent) {
    registerTypes();
}

PortalShortcut::~PortalShortcut() {
    release();
}

void PortalShortcut::bind(const QString& id, const QString& description, const QString& trigger) {
    release();
    id_ = id;
    description_ = description;
    trigger_ = trigger;
    stage_ = Stage::Asking;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QMetaObject::invokeMethod(
            this, [this] { fail(QStringLiteral("there is no session bus")); },
            Qt::QueuedConnection);
        return;
    }
    // Asked without waiting: the bus may have to start the portal to answer.
    QDBusMessage get = QDBusMessage::createMethodCall(
        kService, kObject, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << kShortcuts << QStringLiteral("version");
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(get), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        if (stage_ != Stage::Asking) return;
        const QDBusPendingReply<QDBusVariant> reply = *watcher;
        if (reply.isError() || reply.value().variant().toUInt() < 1) {
            fail(QStringLiteral("the desktop offers no global shortcut for it"));
            return;
        }
        createSession();
    });
}

void PortalShortcut::createSession() {
    stage_ = Stage::CreatingSession;
    const QString token = newToken();
    call(QStringLiteral("CreateSession"),
         {QVariantMap{{QStringLiteral("handle_token"), token},
                      {QStringLiteral("session_handle_token"), newToken()}}},
         token);
}

void PortalShortcut::call(const QString& method, const QList<QVariant>& arguments,
                          const QString& token) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QMetaObject::invokeMethod(
            this, [this] { fail(QStringLiteral("there is no session bus")); },
            Qt::QueuedConnection);
        return;
    }
    listen(requestPath(bus, token));
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kObject, kShortcuts, method);
    message.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(message), this);
    const Stage stage = stage_;
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, stage] {
        watcher->deleteLater();
        if (stage_ != stage) return;
        const QDBusPendingReply<QDBusObjectPath> reply = *watcher;
        if (reply.isError())
            fail(reply.error().message());
        else if (reply.value().path() != request_)
            listen(reply.value().path()); // a portal older than handle tokens
    });
}

void PortalShortcut::listen(const QString& path) {
    stopListening();
    request_ = path;
    QDBusConnection::sessionBus().connect(QString(), request_, kRequest, QStringLiteral("Response"),
                                          this, SLOT(response(uint, QVariantMap)));
}

void PortalShortcut::stopListening() {
    if (request_.isEmpty()) return;
    QDBusConnection::sessionBus().disconnect(QString(), request_, kRequest,
                                             QStringLiteral("Response"), this,
                                             SLOT(response(uint, QVariantMap)));
    request_.clear();
}

void PortalShortcut::response(uint code, const QVariantMap& results) {
    stopListening();
    if (code != 0) {
        fail(code == 1 ? QStringLiteral("the shortcut was not granted")
                       : QStringLiteral("the desktop refused the shortcut"));
        return;
    }
    if (stage_ == Stage::CreatingSession) {
        // A string by the interface's description; some portals send an object path.
        const QVariant handle = results.value(QStringLiteral("session_handle"));
        session_ = handle.canConvert<QDBusObjectPath>() ? handle.value<QDBusObjectPath>().path()
                                                        : handle.toString();
        if (session_.isEmpty()) {
            fail(QStringLiteral("the desktop made no shortcut session"));
            return;
        }
        QDBusConnection::sessionBus().connect(
            QString(), kObject, kShortcuts, QStringLiteral("Activated"), this,
            SLOT(shortcutActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
        stage_ = Stage::Binding;
        const QList<PortalShortcutEntry> shortcuts{
            {id_,
             {{QStringLiteral("description"), description_},
              {QStringLiteral("preferred_trigger"), trigger_}}}};
        const QString token = newToken();
        call(QStringLiteral("BindShortcuts"),
             {QVariant::fromValue(QDBusObjectPath(session_)), QVariant::fromValue(shortcuts),
              QString(), QVariantMap{{QStringLiteral("handle_token"), token}}},
             token);
        return;
    }
    if (stage_ == Stage::Binding) {
        // The shortcuts the desktop bound; none when the user or the desktop declined ours.
        QList<PortalShortcutEntry> boundShortcuts;
        const QVariant list = results.value(QStringLiteral("shortcuts"));
        if (list.canConvert<QDBusArgument>()) list.value<QDBusArgument>() >> boundShortcuts;
        const bool ours = std::any_of(boundShortcuts.begin(), boundShortcuts.end(),
                                      [this](const PortalShortcutEntry& e) { return e.id == id_; });
        if (!ours) {
            fail(QStringLiteral("the desktop bound no shortcut"));
            return;
        }
        stage_ = Stage::Bound;
        emit bound();
    }
}

void PortalShortcut::shortcutActivated(const QDBusObjectPath& session, const QString& id,
                                       qulonglong, const QVariantMap&) {
    if (stage_ == Stage::Bound && session.path() == session_ && id == id_) emit activated();
}

void PortalShortcut::release() {
    stopListening();
    if (!session_.isEmpty()) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.disconnect(QString(), kObject, kShortcuts, QStringLiteral("Activated"), this,
                       SLOT(shortcutActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
        bus.asyncCall(QDBusMessage::createMethodCall(
            kService, session_, QStringLiteral("org.freedesktop.portal.Session"),
            QStringLiteral("Close")));
        session_.clear();
    }
    stage_ = Stage::Idle;
}

void PortalShortcut::fail(const QString& message) {
    if (stage_ == Stage::Idle) return;
    release();
    emit failed(message);
}

} // namespace pixmoor
