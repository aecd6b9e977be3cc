// The desktop portal's screenshot over the session bus (org.freedesktop.portal.Screenshot), the
// way to the screen's picture on Wayland, where no client may read the screen by itself. The
// request is answered asynchronously, so the windows keep running while the portal works.
#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantMap>
#include <chrono>

namespace pixmoor {

class PortalScreenshot : public QObject {
    Q_OBJECT
public:
    explicit PortalScreenshot(QObject* parent = nullptr);
    ~PortalScreenshot() override;

    // Asks the portal for a picture of the whole screen, without a dialog (interactive false).
    // Exactly one of finished() and failed() follows, within `timeout` at the latest. Returns
    // false, with nothing to follow, while an earlier request is still open.
    bool request(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    bool pending() const { return !token_.isEmpty(); }

    // Removes the file finished() named when it is the one the portal made for the last request:
    // a regular file (not a link) of this user, with one name, written since the request began.
    // Any other file is left alone. Returns whether it was removed.
    bool discard(const QString& file) const;

signals:
    // The local path of the PNG file the portal wrote.
    void finished(const QString& file);
    // What went wrong, as a sentence for the user.
    void failed(const QString& message);

private slots:
    void response(uint code, const QVariantMap& results);

private:
    void listen(const QString& path);
    void stopListening();
    void fail(const QString& message);

    QString token_;   // handle token of the open request; empty when none is open
    QString path_;    // the Request object whose Response is awaited
    QDateTime began_; // when the open (or last) request was sent
    QTimer timer_;
};

} // namespace pixmoor
