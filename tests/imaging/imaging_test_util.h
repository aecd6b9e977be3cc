// Helpers of the image component tests: recorded message boxes and image files made by other
// tools (ImageMagick, Pillow) in temporary directories.
#pragma once

#include "platform/message_box.h"

#include <QImage>
#include <QString>
#include <string>
#include <vector>

namespace pixmoor::test {

// Records every message box while alive and answers each with `answer`.
class MessageLog {
public:
    explicit MessageLog(MessageButton answer = MessageButton::Ok);
    ~MessageLog();
    MessageLog(const MessageLog&) = delete;
    MessageLog& operator=(const MessageLog&) = delete;

    struct Box {
        MessageKind kind;
        QString text;
        std::vector<MessageButton> buttons;
        QString detail; // shown under the message
    };
    const std::vector<Box>& boxes() const { return boxes_; }
    void clear() { boxes_.clear(); }
    void answerWith(MessageButton b) { answer_ = b; }

private:
    std::vector<Box> boxes_;
    MessageButton answer_;
};

// Runs ImageMagick's convert with the arguments; fails the test when it does not succeed.
void magick(const std::string& arguments);

// Runs a Python snippet with the system python (Pillow available).
void python(const std::string& code);

// Writes a small placeable metafile: a w x h box (logical units, 96 per inch) filled with one
// colour rectangle. Returns its bytes.
QByteArray writeSimpleWmf(const std::string& path, int width, int height, int r, int g, int b);

QString qs(const std::string& s);

// Counts pixels of `image` inside rect (all when rect is null) that are close to colour.
int countColour(const QImage& image, QRgb colour, int tolerance = 24, QRect rect = {});

// The X11 clipboard's content of the given type ("TARGETS" lists the types) as another program
// reads it with xclip, while this process keeps answering clipboard requests.
QByteArray clipboardAs(const char* type);

} // namespace pixmoor::test
