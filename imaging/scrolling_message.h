// The scrolling message display of the image component: a one-line message moving left (.SCM
// files) or a list of lines moving up (.CMS files), one pixel per step.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>
#include <stdexcept>

namespace pixmoor {

// A message file whose values cannot be read (a bad number, an unreadable or too short file).
class MessageFormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What a message file sets: colours are Windows colour values (0x00BBGGRR).
struct MessageStyle {
    int fontColour = 255;
    int fontHeight = -13; // below 0: character height in pixels; above 0: cell height
    QString fontName = QStringLiteral("SYSTEM");
    int fontSize = 0; // points; 0 leaves the height alone
    QString style;    // "1" in places 1..4: bold, italic, underline, strike-out
    int background = 128;
    int speed = 1; // a step on every (speed + 1)-th tick

    QFont font() const;
};

QColor colourFromWindows(int value);

class ScrollingMessage {
public:
    enum class Mode { None, Horizontal, Vertical };

    // Parse a message file; throw MessageFormatError. Values of a .SCM file lie between markers;
    // a .CMS file holds one value per line (lines 2..8), then the message lines.
    static MessageStyle parseMessageFile(const QString& text, QString& message);
    static MessageStyle parseMessageList(const QStringList& lines, QStringList& messages);

    // Start the display for a control of the given client size (throws MessageFormatError).
    void startFile(const QString& path, QSize control);
    void startList(const QString& path, QSize control);

    // Count a tick of the given mode; returns true when the strip moved.
    bool tick(Mode which);
    void stop() { mode_ = Mode::None; }

    Mode mode() const { return mode_; }
    bool active() const { return mode_ != Mode::None; }
    const QImage& strip() const { return strip_; }
    int x() const { return x_; }
    int y() const { return y_; }
    int speed() const { return style_.speed; }
    QColor background() const { return colourFromWindows(style_.background); }
    const QStringList& lines() const { return lines_; }
    int currentLine() const { return line_; }

private:
    void buildLine();

    Mode mode_ = Mode::None;
    MessageStyle style_;
    QFont font_;
    QStringList lines_;
    int line_ = 0;
    QImage strip_;
    int x_ = 0, y_ = 0;
    int textWidth_ = 0, textHeight_ = 0;
    int startWidth_ = 0, startHeight_ = 0;
    int ticks_ = 0;
};

} // namespace pixmoor
