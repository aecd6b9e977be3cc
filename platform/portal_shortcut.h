// A global shortcut from the desktop portal (org.freedesktop.portal.GlobalShortcuts): the hot key
// of a Wayland session, where no client may grab keys itself. One session with one shortcut, and
// its Activated signal.
#pragma once

#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QVariantMap>

namespace pixmoor {

class PortalShortcut : public QObject {
    Q_OBJECT
    enum class Stage { Idle, Asking, CreatingSession, Binding, Bound };

public:
    explicit PortalShortcut(QObject* parent = nullptr);
    ~PortalShortcut() override;

    // Where the session's portal offers global shortcuts (its GlobalShortcuts interface answers
    // with a version; older portals have none), creates a session and binds one shortcut to it,
    // asking for `trigger` (such as "ALT+F4") as its keys; the desktop may let the user choose
    // others. bound() or failed() follows, then activated() for each press until release().
    void bind(const QString& id, const QString& description, const QString& trigger);
    // Closes the session, which gives the shortcut back.
    void release();
    // From bind() to release() or failed().
    bool active() const { return stage_ != Stage::Idle; }

signals:
    void bound();
    void failed(const QString& message);
    void activated();

private slots:
    void response(uint code, const QVariantMap& results);
    void shortcutActivated(const QDBusObjectPath& session, const QString& id, qulonglong timestamp,
                           const QVariantMap& options);

private:
    void createSession();
    void call(const QString& method, const QList<QVariant>& arguments, const QString& token);
    void listen(const QString& path);
    void stopListening();
    void fail(const QString& message);

    Stage stage_ = Stage::Idle;
    QString id_, description_, trigger_;
    QString request_; // the Request object whose Response is awaited
    QString session_; // the session's object path once created
};

} // namespace pixmoor
