// Reading a metafile: the placeable and standard headers, the record list (every record checked
// to fit), and the picture's frame and own size, measured by a bounds pass over the drawing when
// the file names neither a box nor a window.
#include "imaging/wmf/metafile.h"

#include "imaging/codec/regular_file.h"
#include "imaging/wmf/device.h"
#include "imaging/wmf/player.h"
#include "imaging/wmf/records.h"
#include "platform/file_name.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <unistd.h>

namespace pixmoor::wmf {

using detail::u16;
using detail::u32;

namespace {

// Collects the bounds of what a metafile draws, in the coordinates it is handed.
class BoundsDevice : public Device {
public:
    QRectF bounds;
    void add(const QRectF& r) {
        bounds = bounds.isNull() ? r.normalized() : bounds.united(r.normalized());
    }
    void drawPolyline(const GraphicsState&, const QPolygonF& p) override { add(p.boundingRect()); }
    void drawPolygons(const GraphicsState&, const QList<QPolygonF>& ps) override {
        for (const auto& p : ps) add(p.boundingRect());
    }
    void drawRect(const GraphicsState&, const QRectF& r) override { add(r); }
    void drawRoundRect(const GraphicsState&, const QRectF& r, qreal, qreal) override { add(r); }
    void drawEllipse(const GraphicsState&, const QRectF& r) override { add(r); }
    void drawArc(const GraphicsState&, const QRectF& r, const QPointF&, const QPointF&,
                 ArcKind) override {
        add(r);
    }
    void setPixel(const GraphicsState&, const QPointF& p, const QColor&) override {
        add(QRectF(p, QSizeF(1, 1)));
    }
    void fillPath(const GraphicsState&, const QPainterPath& p, const Brush&) override {
        add(p.boundingRect());
    }
    void invertPath(const GraphicsState&, const QPainterPath& p) override { add(p.boundingRect()); }
    qreal drawText(const GraphicsState& gs, const QPointF& at, const QString& text,
                   const TextOptions&) override {
        const qreal h = gs.font.height > 0 ? gs.font.height : 12;
        const qreal w = h * 0.6 * text.size();
        add(QRectF(at.x(), at.y() - h, w, h * 1.25));
        return w;
    }
    void drawImage(const GraphicsState&, const QRectF& r, const QImage&, std::uint32_t) override {
        add(r);
    }
    void patBlt(const GraphicsState&, const QRectF& r, std::uint32_t) override { add(r); }
};

} // namespace

std::shared_ptr<const Metafile> Metafile::fromFile(const QString& path) {
    // Only a regular file is opened, judged on the descriptor: a link to a FIFO or a device in
    // a browsed folder must not block or feed endless bytes.
    QFile file;
    const int fd = codec::openRegularFile(pixmoor::nativePath(path));
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        const QString reason =
            fd < 0 ? QStringLiteral("not a readable regular file") : file.errorString();
        if (fd >= 0 && !file.isOpen()) ::close(fd);
        throw MetafileError(QStringLiteral("Cannot open %1: %2").arg(path, reason).toStdString());
    }
    if (file.size() > kMaxFileBytes)
        throw MetafileError(
            QStringLiteral("%1 is too large for a metafile").arg(path).toStdString());
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw MetafileError(
            QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()).toStdString());
    return fromData(data);
}

std::shared_ptr<const Metafile> Metafile::fromData(const QByteArray& data) {
    std::shared_ptr<Metafile> mf(new Metafile);
    mf->bytes_ = data;
    const char* d = data.constData();
    const std::size_t n = std::size_t(data.size());
    std::size_t pos = 0;
    if (n >= 4 && u32(d) == 0x9AC6CDD7u) {
        // Placeable header: key, handle, box (left, top, right, bottom), units per inch,
        // reserved, checksum; 22 bytes.
        if (n < 22) throw MetafileError("Truncated placeable metafile header");
        mf->placeable_ = true;
        const int left = std::int16_t(u16(d + 6)), top = std::int16_t(u16(d + 8));
        const int right = std::int16_t(u16(d + 10)), bottom = std::int16_t(u16(d + 12));
        mf->box_ = QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
        mf->unitsPerInch_ = u16(d + 14);
        pos = 22;
    }
    // Standard header: type (1 memory, 2 disk), header size in words (9), version, file size in
    // words, object count, largest record, parameter count.
    if (n < pos + 18)
        throw MetafileError(mf->placeable_ ? "Truncated metafile header after the placeable header"
                                           : "Not a Windows metafile (file too short)");
    const std::uint16_t type = u16(d + pos), headerWords = u16(d + pos + 2);
    const std::uint16_t version = u16(d + pos + 4);
    if ((type != 1 && type != 2) || headerWords != 9 || (version != 0x0100 && version != 0x0300))
        throw MetafileError("Not a Windows metafile (bad header)");
    mf->objectCount_ = u16(d + pos + 10);
    pos += 18;

    // The record list: every record must fit; a bad size ends the list.
    int index = 0;
    while (pos < n) {
        ++index;
        if (n - pos < 6) {
            mf->stopReason_ =
                QStringLiteral("record %1 at offset %2 is truncated").arg(index).arg(pos);
            break;
        }
        const std::uint32_t words = u32(d + pos);
        const std::uint16_t function = u16(d + pos + 4);
        if (words < 3) {
            mf->stopReason_ =
                QStringLiteral("record %1 at offset %2 has an invalid size of %3 words")
                    .arg(index)
                    .arg(pos)
                    .arg(words);
            break;
        }
        if (std::uint64_t(words) * 2 > n - pos) {
            mf->stopReason_ =
                QStringLiteral(
                    "record %1 at offset %2 (%3 words) extends beyond the end of the data")
                    .arg(index)
                    .arg(pos)
                    .arg(words);
            break;
        }
        if (function == detail::FnEof) break;
        mf->records_.push_back(Record{function, std::uint32_t(pos), words * 2});
        pos += std::size_t(words) * 2;
    }

    // The frame and the picture's own size.
    auto capped = [](qreal w, qreal h) {
        w = std::max<qreal>(1, std::abs(w));
        h = std::max<qreal>(1, std::abs(h));
        const qreal longest = std::max(w, h);
        if (longest > kMaxPixelSide) {
            w = w * kMaxPixelSide / longest;
            h = h * kMaxPixelSide / longest;
        }
        return QSize(std::max(1, int(std::lround(w))), std::max(1, int(std::lround(h))));
    };
    auto viewportScale = [&] {
        for (const Record& r : mf->records_) {
            if (r.function != detail::FnSetViewportExt || r.size < 10) continue;
            const qreal x = std::abs(std::int16_t(u16(d + r.offset + 8)));
            const qreal y = std::abs(std::int16_t(u16(d + r.offset + 6)));
            if (x > 0 && y > 0)
                mf->viewportScale_ = QPointF(mf->size_.width() / x, mf->size_.height() / y);
            return;
        }
    };
    if (mf->placeable_ && mf->box_.width() != 0 && mf->box_.height() != 0) {
        if (mf->unitsPerInch_ == 0)
            mf->unitsPerInch_ = 1440; // a zero here is a writer's bug; twips are the usual unit
        mf->frame_ = QRectF(QPointF(std::int16_t(u16(d + 6)), std::int16_t(u16(d + 8))),
                            QPointF(std::int16_t(u16(d + 10)), std::int16_t(u16(d + 12))));
        mf->size_ = capped(mf->frame_.width() * 96.0 / mf->unitsPerInch_,
                           mf->frame_.height() * 96.0 / mf->unitsPerInch_);
        viewportScale();
        return mf;
    }
    // A plain metafile (or a placeable one with an empty box): the first window origin and
    // extent, else the bounds of the drawing.
    QPointF org;
    bool haveOrg = false, haveExt = false;
    QPointF ext;
    for (const Record& r : mf->records_) {
        if (r.size < 10) continue;
        const QPointF value(std::int16_t(u16(d + r.offset + 8)),
                            std::int16_t(u16(d + r.offset + 6)));
        if (r.function == detail::FnSetWindowOrg && !haveOrg)
            org = value, haveOrg = true;
        else if (r.function == detail::FnSetWindowExt && !haveExt && value.x() != 0 &&
                 value.y() != 0)
            ext = value, haveExt = true;
    }
    if (haveExt) {
        mf->frame_ = QRectF(org, QSizeF(ext.x(), ext.y()));
        mf->size_ = capped(ext.x(), ext.y());
        viewportScale();
        return mf;
    }
    mf->frame_ = QRectF(0, 0, 1, 1);
    mf->size_ = QSize(1, 1);
    BoundsDevice bounds;
    detail::Player(*mf, bounds, QRectF(0, 0, 1, 1), nullptr, true).run();
    if (bounds.bounds.isValid() && bounds.bounds.width() > 0 && bounds.bounds.height() > 0) {
        mf->frame_ = bounds.bounds;
        mf->size_ = capped(bounds.bounds.width(), bounds.bounds.height());
    }
    viewportScale();
    return mf;
}

} // namespace pixmoor::wmf
