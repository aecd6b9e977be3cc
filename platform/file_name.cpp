// Lossless conversion between file-name bytes and QString (surrogate escapes for stray bytes).
#include "platform/file_name.h"

#include <cstdint>

namespace pixmoor {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;

bool isEscape(char16_t c) {
    return c >= 0xDC80 && c <= 0xDCFF;
}

// Length of the valid UTF-8 sequence at p (1 to 4), or 0 when the bytes there are not one:
// overlong forms, surrogates and values above U+10FFFF are refused as the standard requires.
int validSequence(const unsigned char* p, qsizetype left, char32_t& out) {
    const unsigned char b0 = p[0];
    if (b0 < 0x80) {
        out = b0;
        return 1;
    }
    int length;
    char32_t value;
    char32_t minimum;
    if ((b0 & 0xE0) == 0xC0) {
        length = 2, value = b0 & 0x1F, minimum = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        length = 3, value = b0 & 0x0F, minimum = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        length = 4, value = b0 & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (left < length) return 0;
    for (int i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        value = (value << 6) | (p[i] & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    out = value;
    return length;
}

} // namespace

QString decodeFileName(QByteArrayView bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype n = bytes.size();
    QString out;
    out.reserve(n);
    for (qsizetype i = 0; i < n;) {
        char32_t c = 0;
        const int length = validSequence(p + i, n - i, c);
        if (length == 0) {
            out.append(QChar(char16_t(kEscapeBase + p[i])));
            ++i;
            continue;
        }
        if (c < 0x10000) {
            out.append(QChar(char16_t(c)));
        } else {
            out.append(QChar(QChar::highSurrogate(c)));
            out.append(QChar(QChar::lowSurrogate(c)));
        }
        i += length;
    }
    return out;
}

QByteArray encodeFileName(QStringView name) {
    QByteArray out;
    out.reserve(name.size() * 3);
    qsizetype runStart = 0;
    auto flush = [&](qsizetype end) {
        if (end > runStart) out.append(name.mid(runStart, end - runStart).toUtf8());
    };
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        // An escape is a lone low surrogate: one after a high surrogate is half of a pair.
        const bool paired = i > 0 && QChar::isHighSurrogate(name[i - 1].unicode());
        if (isEscape(c) && !paired) {
            flush(i);
            out.append(char(c - kEscapeBase));
            runStart = i + 1;
        }
    }
    flush(name.size());
    return out;
}

std::string nativePath(QStringView name) {
    const QByteArray bytes = encodeFileName(name);
    return std::string(bytes.constData(), std::size_t(bytes.size()));
}

bool hasEscapedBytes(QStringView name) {
    for (qsizetype i = 0; i < name.size(); ++i) {
        const bool paired = i > 0 && QChar::isHighSurrogate(name[i - 1].unicode());
        if (isEscape(name[i].unicode()) && !paired) return true;
    }
    return false;
}

QString joinPath(const QString& dir, const QString& name) {
    if (dir.endsWith(u'/')) return dir + name;
    return dir + u'/' + name;
}

} // namespace pixmoor
