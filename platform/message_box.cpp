// The one function that shows every message box of the program.
#include "platform/message_box.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <map>

namespace pixmoor {

namespace {

MessageHandler& handlerSlot() {
    static MessageHandler handler;
    return handler;
}

QMessageBox::Icon iconOf(MessageKind kind) {
    switch (kind) {
    case MessageKind::Error:
        return QMessageBox::Critical;
    case MessageKind::Confirmation:
        return QMessageBox::Question;
    case MessageKind::Information:
        return QMessageBox::Information;
    }
    return QMessageBox::NoIcon;
}

} // namespace

QString messageTitle(MessageKind kind) {
    switch (kind) {
    case MessageKind::Error:
        return QStringLiteral("Error");
    case MessageKind::Confirmation:
        return QStringLiteral("Confirm");
    case MessageKind::Information:
        return QStringLiteral("Information");
    }
    return {};
}

QString buttonCaption(MessageButton button) {
    switch (button) {
    case MessageButton::Ok:
        return QStringLiteral("OK");
    case MessageButton::Cancel:
        return QStringLiteral("Cancel");
    case MessageButton::Yes:
        return QStringLiteral("&Yes");
    case MessageButton::No:
        return QStringLiteral("&No");
    case MessageButton::None:
        break;
    }
    return {};
}

void setMessageHandler(MessageHandler handler) {
    handlerSlot() = std::move(handler);
}

MessageButton showMessage(const MessageRequest& request, QWidget* parent) {
    MessageRequest req = request;
    if (req.buttons.empty()) req.buttons = {MessageButton::Ok};
    if (req.escapeButton == MessageButton::None) {
        for (MessageButton b : req.buttons)
            if (b == MessageButton::Cancel || b == MessageButton::No) req.escapeButton = b;
        if (req.escapeButton == MessageButton::None && req.buttons.size() == 1)
            req.escapeButton = req.buttons.front();
    }
    if (req.defaultButton == MessageButton::None) req.defaultButton = req.buttons.front();

    if (const MessageHandler& handler = handlerSlot()) return handler(req);

    QMessageBox box(iconOf(req.kind), messageTitle(req.kind), req.text, QMessageBox::NoButton,
                    parent ? parent : QApplication::activeWindow());
    if (!req.detail.isEmpty()) box.setInformativeText(req.detail);
    std::map<QAbstractButton*, MessageButton> answers;
    // One role for every button: the box keeps them in the order given. By their roles (OK
    // accepts, No rejects) Qt would order them by the desktop's convention instead, OK before No
    // on some and after it on others.
    for (MessageButton b : req.buttons) {
        QPushButton* button = box.addButton(buttonCaption(b), QMessageBox::ActionRole);
        answers[button] = b;
        if (b == req.defaultButton) box.setDefaultButton(button);
        if (b == req.escapeButton) box.setEscapeButton(button);
    }
    box.exec();
    auto it = answers.find(box.clickedButton());
    return it != answers.end() ? it->second : req.escapeButton;
}

void showError(const QString& text, QWidget* parent, const QString& detail) {
    MessageRequest request{MessageKind::Error, text, {MessageButton::Ok}};
    request.detail = detail;
    showMessage(request, parent);
}

void showInformation(const QString& text, QWidget* parent, const QString& detail) {
    MessageRequest request{MessageKind::Information, text, {MessageButton::Ok}};
    request.detail = detail;
    showMessage(request, parent);
}

QString fileDetail(const QString& file, const QString& reason) {
    QString detail = file.isEmpty() ? QString() : QFileInfo(file).absoluteFilePath();
    if (!reason.isEmpty()) detail += (detail.isEmpty() ? QString() : QStringLiteral("\n")) + reason;
    return detail;
}

bool askYesNo(const QString& text, QWidget* parent, MessageButton defaultButton) {
    return showMessage({MessageKind::Confirmation,
                        text,
                        {MessageButton::Yes, MessageButton::No},
                        defaultButton,
                        MessageButton::No},
                       parent) == MessageButton::Yes;
}

} // namespace pixmoor
