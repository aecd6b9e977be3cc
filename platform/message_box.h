// The one function that shows every message box of the program, in three kinds, and its test hook.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <vector>

namespace pixmoor {

enum class MessageKind {
    Error,        // title "Error", critical icon
    Confirmation, // title "Confirm", question icon
    Information,  // title "Information", information icon
};

enum class MessageButton { None, Ok, Cancel, Yes, No };

struct MessageRequest {
    MessageKind kind = MessageKind::Information;
    QString text;
    std::vector<MessageButton> buttons;                // in the order shown
    MessageButton defaultButton = MessageButton::None; // Enter; None: the first button
    MessageButton escapeButton = MessageButton::None;  // Esc; None: Cancel or No when present
    // Shown under the message, which stays as it is: the file concerned and what went wrong.
    QString detail;
};

// Shows the box modally over parent (or the active window) and returns the button pressed;
// Escape or the close box gives the escape button.
MessageButton showMessage(const MessageRequest& request, QWidget* parent = nullptr);

// Shorthands for the common boxes (OK only), with an optional detail under the message.
void showError(const QString& text, QWidget* parent = nullptr, const QString& detail = {});
void showInformation(const QString& text, QWidget* parent = nullptr, const QString& detail = {});

// The detail of a message about a file: its absolute path (a relative name is taken from the
// working directory) and, on a second line, what went wrong when that is known.
QString fileDetail(const QString& file, const QString& reason = {});
// "&Yes" and "&No"; returns true for Yes.
bool askYesNo(const QString& text, QWidget* parent = nullptr,
              MessageButton defaultButton = MessageButton::Yes);

// Tests answer boxes without a person: while a handler is installed, showMessage calls it instead
// of showing a box and returns its answer. Pass an empty function to remove it.
using MessageHandler = std::function<MessageButton(const MessageRequest&)>;
void setMessageHandler(MessageHandler handler);

// The title and the caption of a button, as shown.
QString messageTitle(MessageKind kind);
QString buttonCaption(MessageButton button);

} // namespace pixmoor
