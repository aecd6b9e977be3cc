// A small writer of metafile bytes for tests: records by function number and parameter words,
// with helpers for the common ones, and the header written to match.
#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace pixmoor::test {

class WmfBuilder {
public:
    // A placeable header with this box and units per inch.
    WmfBuilder& placeable(const QRect& box, int unitsPerInch) {
        placeable_ = true;
        box_ = box;
        unitsPerInch_ = unitsPerInch;
        return *this;
    }
    WmfBuilder& objects(int count) {
        objects_ = count;
        return *this;
    }
    // A record with parameter words (each written as 16 bits).
    WmfBuilder& record(std::uint16_t function, std::initializer_list<int> words) {
        QByteArray params;
        for (int w : words) put16(params, w);
        return raw(function, params);
    }
    WmfBuilder& raw(std::uint16_t function, const QByteArray& params) {
        QByteArray r;
        put32(r, std::uint32_t(3 + (params.size() + 1) / 2));
        put16(r, function);
        r += params;
        if (params.size() % 2) r += '\0';
        records_ += r;
        return *this;
    }
    // A record head with any size field, followed by the given bytes (for damaged records).
    WmfBuilder& rawHead(std::uint32_t sizeWords, std::uint16_t function,
                        const QByteArray& rest = {}) {
        QByteArray r;
        put32(r, sizeWords);
        put16(r, function);
        records_ += r + rest;
        return *this;
    }

    static std::vector<int> colour(const QColor& c) { return {c.red() | c.green() << 8, c.blue()}; }
    WmfBuilder& window(int x, int y, int w, int h) {
        record(0x020B, {y, x});
        return record(0x020C, {h, w});
    }
    WmfBuilder& pen(int style, int width, const QColor& c) {
        const auto rgb = colour(c);
        return record(0x02FA, {style, width, 0, rgb[0], rgb[1]});
    }
    WmfBuilder& brush(int style, const QColor& c, int hatch = 0) {
        const auto rgb = colour(c);
        return record(0x02FC, {style, rgb[0], rgb[1], hatch});
    }
    WmfBuilder& select(int index) { return record(0x012D, {index}); }
    WmfBuilder& remove(int index) { return record(0x01F0, {index}); }
    WmfBuilder& rectangle(int l, int t, int r, int b) { return record(0x041B, {b, r, t, l}); }
    WmfBuilder& ellipse(int l, int t, int r, int b) { return record(0x0418, {b, r, t, l}); }
    WmfBuilder& moveTo(int x, int y) { return record(0x0214, {y, x}); }
    WmfBuilder& lineTo(int x, int y) { return record(0x0213, {y, x}); }
    WmfBuilder& textColour(const QColor& c) {
        const auto rgb = colour(c);
        return record(0x0209, {rgb[0], rgb[1]});
    }
    WmfBuilder& backgroundColour(const QColor& c) {
        const auto rgb = colour(c);
        return record(0x0201, {rgb[0], rgb[1]});
    }
    WmfBuilder& backgroundMode(bool opaque) { return record(0x0102, {opaque ? 2 : 1}); }
    WmfBuilder& font(int height, int escapement = 0, int weight = 400, int charset = 0,
                     const QByteArray& face = "DejaVu Sans") {
        QByteArray p;
        for (int w : {height, 0, escapement, escapement, weight}) put16(p, w);
        p += char(0); // italic
        p += char(0); // underline
        p += char(0); // strike out
        p += char(charset);
        p += QByteArray(4, '\0'); // precisions, quality, pitch and family
        QByteArray name = face.left(31);
        name += QByteArray(32 - name.size(), '\0');
        return raw(0x02FB, p + name);
    }
    WmfBuilder& textOut(int x, int y, const QByteArray& text) {
        QByteArray p;
        put16(p, int(text.size()));
        p += text;
        if (text.size() % 2) p += '\0';
        put16(p, y);
        put16(p, x);
        return raw(0x0521, p);
    }
    WmfBuilder& extTextOut(int x, int y, const QByteArray& text, int options = 0,
                           const QRect& rect = {}, const std::vector<int>& dx = {}) {
        QByteArray p;
        put16(p, y);
        put16(p, x);
        put16(p, int(text.size()));
        put16(p, options);
        if (options & 0x0006)
            for (int w : {rect.left(), rect.top(), rect.right() + 1, rect.bottom() + 1})
                put16(p, w);
        p += text;
        if (text.size() % 2) p += '\0';
        for (int d : dx) put16(p, d);
        return raw(0x0A32, p);
    }

    // A bottom-up 24-bit DIB (BITMAPINFOHEADER and pixels) of an image.
    static QByteArray dib24(const QImage& image) {
        QByteArray d;
        const int w = image.width(), h = image.height();
        const int stride = (w * 3 + 3) & ~3;
        put32(d, 40);
        put32(d, std::uint32_t(w));
        put32(d, std::uint32_t(h));
        put16(d, 1);
        put16(d, 24);
        put32(d, 0);
        put32(d, std::uint32_t(stride * h));
        put32(d, 2835);
        put32(d, 2835);
        put32(d, 0);
        put32(d, 0);
        for (int y = h - 1; y >= 0; --y) {
            QByteArray row;
            for (int x = 0; x < w; ++x) {
                const QRgb c = image.pixel(x, y);
                row += char(qBlue(c));
                row += char(qGreen(c));
                row += char(qRed(c));
            }
            row += QByteArray(stride - row.size(), '\0');
            d += row;
        }
        return d;
    }
    // StretchDIB of a whole DIB into a destination rectangle.
    WmfBuilder& stretchDib(const QByteArray& dib, int srcW, int srcH, int x, int y, int w, int h,
                           std::uint32_t rop = 0x00CC0020) {
        QByteArray p;
        put32(p, rop);
        for (int v : {0, srcH, srcW, 0, 0, h, w, y, x}) put16(p, v);
        return raw(0x0F43, p + dib);
    }

    QByteArray bytes(bool endRecord = true) const {
        QByteArray body = records_;
        if (endRecord) {
            put32(body, 3);
            put16(body, 0);
        }
        QByteArray out;
        if (placeable_) {
            put32(out, 0x9AC6CDD7u);
            put16(out, 0);
            for (int v : {box_.left(), box_.top(), box_.right() + 1, box_.bottom() + 1})
                put16(out, v);
            put16(out, unitsPerInch_);
            put32(out, 0);
            std::uint16_t sum = 0;
            for (int i = 0; i < 20; i += 2)
                sum ^= std::uint16_t(std::uint8_t(out[i]) | std::uint8_t(out[i + 1]) << 8);
            put16(out, sum);
        }
        put16(out, 1);
        put16(out, 9);
        put16(out, 0x0300);
        put32(out, std::uint32_t((18 + body.size()) / 2));
        put16(out, objects_);
        put32(out, 0);
        put16(out, 0);
        return out + body;
    }

    static void put16(QByteArray& b, int v) {
        b += char(v & 0xFF);
        b += char((v >> 8) & 0xFF);
    }
    static void put32(QByteArray& b, std::uint32_t v) {
        put16(b, int(v & 0xFFFF));
        put16(b, int(v >> 16));
    }

private:
    bool placeable_ = false;
    QRect box_;
    int unitsPerInch_ = 1440;
    int objects_ = 16;
    QByteArray records_;
};

} // namespace pixmoor::test
