// Scrolling messages: parsing .SCM and .CMS files, building the strip, stepping it.
#include "imaging/scrolling_message.h"

#include "imaging/codec/limits.h"
#include "imaging/image_file.h"

#include <QFile>
#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cstdlib>

namespace pixmoor {

namespace {

// The strip bitmap; an overlong message is cut at limits::kMaxMessageStripWidth pixels.
QImage makeStrip(int width, int height) {
    return QImage(std::min(width, limits::kMaxMessageStripWidth), height, QImage::Format_RGB32);
}

int parseNumber(const QString& value, const char* what) {
    bool ok = false;
    const int n = value.trimmed().toInt(&ok, 10);
    if (!ok)
        throw MessageFormatError(std::string("Invalid ") + what + " in message file: \"" +
                                 value.trimmed().toStdString() + "\"");
    return n;
}

// The text between the first occurrence of `open` and the first occurrence of `close`;
// nullopt-like `found` false when either marker is missing.
QString between(const QString& text, const char* open, const char* close, bool& found) {
    const qsizetype a = text.indexOf(QLatin1String(open));
    const qsizetype b = text.indexOf(QLatin1String(close));
    found = a >= 0 && b >= 0;
    if (!found) return {};
    const qsizetype start = a + 4;
    return b > start ? text.mid(start, b - start) : QString();
}

QByteArray readFile(const QString& path, qint64 limit) {
    QFile file;
    QString error;
    if (!openImageFile(file, path, error))
        throw MessageFormatError("Cannot read message file " + path.toStdString() + ": " +
                                 error.toStdString());
    QByteArray data = file.read(limit);
    if (file.error() != QFileDevice::NoError)
        throw MessageFormatError("Cannot read message file " + path.toStdString() + ": " +
                                 file.errorString().toStdString());
    return data;
}

} // namespace

QColor colourFromWindows(int value) {
    return QColor(value & 0xff, (value >> 8) & 0xff, (value >> 16) & 0xff);
}

QFont MessageStyle::font() const {
    QFont f(fontName);
    if (fontHeight != 0)
        f.setPixelSize(int(std::min<long long>(limits::kMaxMessageFontPixels, std::llabs(fontHeight))));
    // The size, when given, wins over the height.
    if (fontSize > 0) f.setPointSize(std::min(limits::kMaxMessageFontPixels, fontSize));
    auto on = [this](int place) {
        return style.size() > place && style[place] == QLatin1Char('1');
    };
    f.setBold(on(0));
    f.setItalic(on(1));
    f.setUnderline(on(2));
    f.setStrikeOut(on(3));
    return f;
}

MessageStyle ScrollingMessage::parseMessageFile(const QString& text, QString& message) {
    MessageStyle s;
    bool found = false;
    // A present but empty value keeps the default; a missing marker gives the default.
    auto number = [&](const char* open, const char* close, int& field, const char* what) {
        const QString v = between(text, open, close, found);
        if (found && !v.isEmpty()) field = parseNumber(v, what);
    };
    number("/fc|", "/fh|", s.fontColour, "font colour");
    number("/fh|", "/fn|", s.fontHeight, "font height");
    QString v = between(text, "/fn|", "/fs|", found);
    if (found && !v.isEmpty()) s.fontName = v;
    number("/fs|", "/ft|", s.fontSize, "font size");
    v = between(text, "/ft|", "/bc|", found);
    if (found && !v.isEmpty()) s.style = v.left(4);
    number("/bc|", "/sp|", s.background, "background colour");
    number("/sp|", "/sm|", s.speed, "speed");
    message = QStringLiteral(" Invallid message format ! ");
    v = between(text, "/sm|", "/eo|", found);
    if (found && !v.isEmpty()) message = v;
    return s;
}

MessageStyle ScrollingMessage::parseMessageList(const QStringList& lines, QStringList& messages) {
    if (lines.size() < 8) throw MessageFormatError("Message list file has fewer than 8 lines");
    MessageStyle s;
    auto number = [&](int line, int& field, const char* what) {
        if (!lines[line].trimmed().isEmpty()) field = parseNumber(lines[line], what);
    };
    number(1, s.fontColour, "font colour");
    number(2, s.fontHeight, "font height");
    if (!lines[3].isEmpty()) s.fontName = lines[3];
    number(4, s.fontSize, "font size");
    s.style = lines[5].left(4);
    number(6, s.background, "background colour");
    number(7, s.speed, "speed");
    messages = lines.mid(8);
    return s;
}

void ScrollingMessage::startFile(const QString& path, QSize control) {
    const QString text = QString::fromUtf8(readFile(path, limits::kMaxMessageFileBytes));
    QString message;
    const MessageStyle s = parseMessageFile(text, message);
    message.truncate(limits::kMaxMessageChars);
    style_ = s;
    font_ = s.font();
    const QFontMetrics metrics(font_);
    textWidth_ = std::max(1, metrics.horizontalAdvance(message));
    textHeight_ = std::max(1, metrics.height());
    strip_ = makeStrip(textWidth_, textHeight_);
    if (strip_.isNull()) throw MessageFormatError("Message too large to show");
    strip_.fill(colourFromWindows(s.background));
    {
        QPainter p(&strip_);
        p.setFont(font_);
        p.setPen(colourFromWindows(s.fontColour));
        p.drawText(0, metrics.ascent(), message);
    }
    lines_.clear();
    line_ = 0;
    startWidth_ = control.width();
    startHeight_ = control.height();
    x_ = startWidth_;
    y_ = (startHeight_ - textHeight_) / 2;
    ticks_ = 0;
    mode_ = Mode::Horizontal;
}

void ScrollingMessage::startList(const QString& path, QSize control) {
    const QString text = QString::fromUtf8(readFile(path, limits::kMaxMessageListBytes));
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& line : lines)
        if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast(); // the final line break
    QStringList messages;
    const MessageStyle s = parseMessageList(lines, messages);
    style_ = s;
    font_ = s.font();
    lines_ = messages;
    line_ = 0;
    startWidth_ = control.width();
    startHeight_ = control.height();
    strip_ = QImage();
    buildLine();
    y_ = startHeight_;
    ticks_ = 0;
    mode_ = Mode::Vertical;
}

// The strip for the current message line, centred horizontally.
void ScrollingMessage::buildLine() {
    if (lines_.isEmpty()) {
        strip_ = QImage();
        textWidth_ = textHeight_ = 0;
        return;
    }
    QString line = lines_[line_].left(limits::kMaxMessageChars);
    if (!line.startsWith(QLatin1Char(' '))) line.prepend(QStringLiteral("  "));
    if (!line.endsWith(QLatin1Char(' '))) line.append(QLatin1Char(' '));
    const QFontMetrics metrics(font_);
    int width = metrics.horizontalAdvance(line);
    // Widened by one average character; an empty line (two blanks once padded) is not widened,
    // which would divide by zero.
    if (line.size() > 2) width += width / int(line.size() - 2);
    textWidth_ = std::max(1, width);
    textHeight_ = metrics.height();
    x_ = (startWidth_ - textWidth_) / 2;
    strip_ = makeStrip(textWidth_, textHeight_ + 5);
    if (strip_.isNull()) return; // nothing to show for this line
    strip_.fill(colourFromWindows(style_.background));
    QPainter p(&strip_);
    p.setFont(font_);
    p.setPen(colourFromWindows(style_.fontColour));
    p.drawText(0, metrics.ascent(), line);
}

bool ScrollingMessage::tick(Mode which) {
    if (which != mode_ || mode_ == Mode::None) return false;
    if (++ticks_ <= style_.speed) return false;
    ticks_ = 0;
    if (mode_ == Mode::Horizontal) {
        --x_;
        if (x_ + textWidth_ < 0) x_ = startWidth_;
    } else {
        --y_;
        if (y_ < -(textHeight_ + 5)) {
            if (!lines_.isEmpty()) {
                line_ = (line_ + 1) % int(lines_.size());
                buildLine();
            }
            y_ = startHeight_;
        }
    }
    return true;
}

} // namespace pixmoor
