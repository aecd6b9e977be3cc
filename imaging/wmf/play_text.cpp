// Records that write text (TextOut, ExtTextOut), and the decoding of a record's bytes by the
// font's character set.
#include "imaging/wmf/player.h"

#include <QList>
#include <QStringDecoder>
#include <QtMath>
#include <cmath>

namespace pixmoor::wmf::detail {

QString decodeText(const QByteArray& bytes, int charset) {
    const char* name = nullptr;
    switch (charset) {
    case 128:
        name = "Shift_JIS";
        break;
    case 129:
        name = "windows-949";
        break;
    case 134:
        name = "GBK";
        break;
    case 136:
        name = "Big5";
        break;
    case 161:
        name = "windows-1253";
        break;
    case 162:
        name = "windows-1254";
        break;
    case 163:
        name = "windows-1258";
        break;
    case 177:
        name = "windows-1255";
        break;
    case 178:
        name = "windows-1256";
        break;
    case 186:
        name = "windows-1257";
        break;
    case 204:
        name = "windows-1251";
        break;
    case 222:
        name = "windows-874";
        break;
    case 238:
        name = "windows-1250";
        break;
    case 255:
        name = "IBM437";
        break;
    default:
        break;
    }
    if (name) {
        QStringDecoder decoder(name);
        if (decoder.isValid()) return decoder.decode(bytes);
    }
    if (charset == 2) // SYMBOL_CHARSET: the bytes are glyph codes; Latin-1 keeps them readable
        return QString::fromLatin1(bytes);
    // ANSI and DEFAULT: windows-1252, whose 0x80..0x9F differ from Latin-1.
    static const char16_t high[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    QString text;
    text.reserve(bytes.size());
    for (char c : bytes) {
        const std::uint8_t b = std::uint8_t(c);
        text.append(b >= 0x80 && b < 0xA0 ? QChar(high[b - 0x80]) : QChar(b));
    }
    return text;
}

bool Player::textRecord(std::uint16_t fn, const Params& p) {
    switch (fn) {
    case FnTextOut:
        textOut(p, false);
        return true;
    case FnExtTextOut:
        textOut(p, true);
        return true;
    default:
        return false;
    }
}

void Player::textOut(const Params& p, bool extended) {
    QByteArray bytes;
    QPointF at;
    TextOptions options;
    std::size_t dxWord = 0;
    if (!extended) {
        // count, string (padded to a word), y, x
        if (!need(p, 1)) return;
        const std::size_t count = p.w(0);
        const std::size_t stringWords = (count + 1) / 2;
        if (!p.has(1 + stringWords + 2)) {
            warn(QStringLiteral("text of %1 characters does not fit in the record").arg(count));
            return;
        }
        bytes = QByteArray(reinterpret_cast<const char*>(p.bytes(1)), qsizetype(count));
        at = QPointF(p.s(1 + stringWords + 1), p.s(1 + stringWords));
    } else {
        // y, x, count, options, [rectangle], string (padded to a word), [dx per character]
        if (!need(p, 4)) return;
        at = QPointF(p.s(1), p.s(0));
        const std::size_t count = p.w(2);
        const std::uint16_t flags = p.w(3);
        std::size_t word = 4;
        options.opaque = flags & 0x0002;
        options.clipped = flags & 0x0004;
        if (flags & 0x0006) {
            if (!p.has(8)) {
                // Some writers leave the rectangle out although the flags ask for it.
                options.opaque = options.clipped = false;
            } else {
                options.rect = dc_.mapRect(p.s(4), p.s(5), p.s(6), p.s(7));
                word = 8;
            }
        }
        const std::size_t stringWords = (count + 1) / 2;
        if (!p.has(word + stringWords)) {
            warn(QStringLiteral("text of %1 characters does not fit in the record").arg(count));
            return;
        }
        bytes = QByteArray(reinterpret_cast<const char*>(p.bytes(word)), qsizetype(count));
        dxWord = word + stringWords;
        if (count > 0 && p.has(dxWord + count)) {
            for (std::size_t i = 0; i < count; ++i)
                options.advances.append(p.s(dxWord + i) * dc_.scaleX());
        }
    }
    QString text = decodeText(bytes, dc_.font.charset);
    // Double-byte character sets give fewer characters than bytes: fold the advances.
    if (!options.advances.isEmpty() && options.advances.size() != text.size()) {
        QList<qreal> folded;
        if (text.size() < options.advances.size()) {
            // Sum the advances of the bytes that form each character.
            qsizetype b = 0;
            for (QChar ch : text) {
                qreal sum = 0;
                const qsizetype n = ch.unicode() < 0x80 ? 1 : 2;
                for (qsizetype k = 0; k < n && b < options.advances.size(); ++k)
                    sum += options.advances[b++];
                folded.append(sum);
            }
        }
        options.advances = folded;
    }
    const bool updateCp = dc_.textAlign & TaUpdateCp;
    const QPointF reference = updateCp ? dc_.position : at;
    const qreal advance =
        device_.drawText(dc_.state(), dc_.map(reference.x(), reference.y()), text, options);
    if (updateCp && dc_.transform().m11() != 0) {
        // The current position moves along the baseline by the text's advance.
        const qreal angle = qDegreesToRadians(dc_.font.escapement / 10.0);
        const qreal frame = dc_.state().font.stretch;
        dc_.position += QPointF(advance * frame * std::cos(angle) / dc_.transform().m11(),
                                -advance * std::sin(angle) / dc_.transform().m22());
    }
}

} // namespace pixmoor::wmf::detail
