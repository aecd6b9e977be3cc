// Hint plumbing: one application-wide filter that catches the status tips of every widget and
// menu item of every window and hands the text to a single handler.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

namespace pixmoor {

class HintFilter : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(const QString& hint)>;

    // Installs itself on the application; it is removed when destroyed.
    explicit HintFilter(Handler handler, QObject* parent = nullptr);
    ~HintFilter() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Handler handler_;
};

} // namespace pixmoor
