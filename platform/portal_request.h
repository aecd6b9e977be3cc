// What the desktop portal's clients share: the portal's names on the session bus and the
// Request object a call with a handle token answers on.
#pragma once

#include <QCoreApplication>
#include <QDBusConnection>
#include <QString>

namespace pixmoor::portal {

inline const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString kObject = QStringLiteral("/org/freedesktop/portal/desktop");
inline const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");

// A token unique in this process, for handle_token and session_handle_token.
inline QString newToken() {
    static unsigned serial = 0;
    return QStringLiteral("pixmoor%1_%2").arg(QCoreApplication::applicationPid()).arg(++serial);
}

// The Request object the portal makes for a handle token: our unique name without its colon,
// dots as underscores. Listening there before the call leaves no gap for an early answer.
inline QString requestPath(const QDBusConnection& bus, const QString& token) {
    QString sender = bus.baseService();
    if (sender.startsWith(u':')) sender.remove(0, 1);
    sender.replace(u'.', u'_');
    return kObject + QStringLiteral("/request/") + sender + u'/' + token;
}

} // namespace pixmoor::portal
