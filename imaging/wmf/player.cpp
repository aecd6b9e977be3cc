// Reading a metafile's header and record list, and playing the records: the device context
// (object table, mapping, clipping, save and restore) lives here, drawing goes to a Device.
#include "imaging/wmf/device.h"
#include "imaging/wmf/dib.h"
#include "imaging/wmf/metafile.h"

#include "imaging/codec/regular_file.h"

#include <QFile>
#include <QRegion>
#include <QStringDecoder>
#include <QTransform>
#include <algorithm>
#include <cmath>
#include <unistd.h>
#include <variant>

namespace pixmoor::wmf {
namespace {

enum Function : std::uint16_t {
    FnEof = 0x0000,
    FnRealizePalette = 0x0035,
    FnSetPalEntries = 0x0037,
    FnSetBkMode = 0x0102,
    FnSetMapMode = 0x0103,
    FnSetRop2 = 0x0104,
    FnSetRelAbs = 0x0105,
    FnSetPolyFillMode = 0x0106,
    FnSetStretchBltMode = 0x0107,
    FnSetTextCharExtra = 0x0108,
    FnSetBkColor = 0x0201,
    FnSetTextColor = 0x0209,
    FnSetTextJustification = 0x020A,
    FnSetWindowOrg = 0x020B,
    FnSetWindowExt = 0x020C,
    FnSetViewportOrg = 0x020D,
    FnSetViewportExt = 0x020E,
    FnOffsetWindowOrg = 0x020F,
    FnOffsetViewportOrg = 0x0211,
    FnLineTo = 0x0213,
    FnMoveTo = 0x0214,
    FnOffsetClipRgn = 0x0220,
    FnFillRegion = 0x0228,
    FnSetMapperFlags = 0x0231,
    FnSelectPalette = 0x0234,
    FnScaleWindowExt = 0x0410,
    FnScaleViewportExt = 0x0412,
    FnExcludeClipRect = 0x0415,
    FnIntersectClipRect = 0x0416,
    FnEllipse = 0x0418,
    FnFloodFill = 0x0419,
    FnRectangle = 0x041B,
    FnSetPixel = 0x041F,
    FnFrameRegion = 0x0429,
    FnAnimatePalette = 0x0436,
    FnTextOut = 0x0521,
    FnPolyPolygon = 0x0538,
    FnExtFloodFill = 0x0548,
    FnRoundRect = 0x061C,
    FnPatBlt = 0x061D,
    FnEscape = 0x0626,
    FnDrawText = 0x062F,
    FnCreateRegion = 0x06FF,
    FnArc = 0x0817,
    FnPie = 0x081A,
    FnChord = 0x0830,
    FnBitBlt = 0x0922,
    FnDibBitBlt = 0x0940,
    FnExtTextOut = 0x0A32,
    FnStretchBlt = 0x0B23,
    FnDibStretchBlt = 0x0B41,
    FnSetDibToDev = 0x0D33,
    FnStretchDib = 0x0F43,
    FnSaveDc = 0x001E,
    FnRestoreDc = 0x0127,
    FnDeleteObject = 0x01F0,
    FnSelectObject = 0x012D,
    FnInvertRegion = 0x012A,
    FnPaintRegion = 0x012B,
    FnSelectClipRegion = 0x012C,
    FnSetTextAlign = 0x012E,
    FnResizePalette = 0x0139,
    FnDibCreatePatternBrush = 0x0142,
    FnSetLayout = 0x0149,
    FnCreatePatternBrush = 0x01F9,
    FnCreatePalette = 0x00F7,
    FnCreatePenIndirect = 0x02FA,
    FnCreateFontIndirect = 0x02FB,
    FnCreateBrushIndirect = 0x02FC,
    FnPolygon = 0x0324,
    FnPolyline = 0x0325
};

enum MapMode {
    MmText = 1,
    MmLoMetric,
    MmHiMetric,
    MmLoEnglish,
    MmHiEnglish,
    MmTwips,
    MmIsotropic,
    MmAnisotropic
};

// Limits against hostile files; real metafiles stay far below them.
constexpr int kMaxSaveDepth = 1024;
constexpr int kMaxRegionRects = 1024;
constexpr int kMaxClipRects = 4096;
// Pattern brushes are small tiles; larger ones are refused rather than kept in the table.
constexpr int kMaxPatternSide = 256;
constexpr std::uint64_t kMaxDibPixelsPerPlay = std::uint64_t(64) << 20;
constexpr int kMaxWarnings = 50;

std::uint16_t u16(const char* p) {
    return std::uint16_t(std::uint8_t(p[0]) | std::uint8_t(p[1]) << 8);
}
std::uint32_t u32(const char* p) {
    return u16(p) | std::uint32_t(u16(p + 2)) << 16;
}

// The parameter words of one record, read with bounds checks (out of range reads as 0 and
// marks the record short).
class Params {
public:
    Params(const char* data, std::size_t size) : p_(data), n_(size) {}
    std::size_t size() const { return n_; }
    std::size_t words() const { return n_ / 2; }
    bool has(std::size_t words) const { return n_ >= words * 2; }
    std::int16_t s(std::size_t word) const { return std::int16_t(w(word)); }
    std::uint16_t w(std::size_t word) const {
        if (word * 2 + 2 > n_) return 0;
        return u16(p_ + word * 2);
    }
    std::uint32_t dw(std::size_t word) const { return w(word) | std::uint32_t(w(word + 1)) << 16; }
    QColor colour(std::size_t word) const {
        const std::uint32_t c = dw(word);
        return QColor(int(c & 0xFF), int(c >> 8 & 0xFF), int(c >> 16 & 0xFF));
    }
    const std::uint8_t* bytes(std::size_t fromWord) const {
        return reinterpret_cast<const std::uint8_t*>(p_) + std::min(fromWord * 2, n_);
    }
    std::size_t bytesFrom(std::size_t fromWord) const {
        return fromWord * 2 >= n_ ? 0 : n_ - fromWord * 2;
    }

private:
    const char* p_;
    std::size_t n_;
};

struct LogPen {
    int style = PsSolid;
    int width = 0; // logical units
    QColor color = Qt::black;
};
struct LogFont {
    int height = 0, width = 0, escapement = 0, weight = 400;
    bool italic = false, underline = false, strikeOut = false;
    int charset = 0;
    QString face;
};
using Palette = QList<QRgb>;
using Object = std::variant<std::monostate, LogPen, Brush, LogFont, Palette, QRegion>;

struct Dc {
    LogPen pen;
    Brush brush; // kind and colours; patterns are device-independent
    LogFont font;
    Palette palette;
    QColor textColor = Qt::black, backgroundColor = Qt::white;
    bool opaqueBackground = true;
    int rop2 = R2CopyPen;
    Qt::FillRule fillRule = Qt::OddEvenFill;
    int mapMode = MmAnisotropic;
    QPointF windowOrg, windowExt, viewportOrg, viewportExt;
    QPointF position; // logical
    bool clipped = false;
    QRegion clip; // device pixels
    std::uint16_t textAlign = 0;
    int charExtra = 0;
};

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

// Lets the player read what the parser worked out beyond the public interface.
class PlayerAccess {
public:
    static QPointF viewportScale(const Metafile& mf) { return mf.viewportScale_; }
};

namespace {

class Player {
public:
    Player(const Metafile& mf, Device& device, const QRectF& target, QStringList* warnings,
           bool identity)
        : mf_(mf), device_(device), target_(target), warnings_(warnings), identity_(identity) {
        objects_.resize(std::size_t(std::max(0, mf.objectCount())));
        // Every slot starts free; an ascending list is already a min-heap.
        freeSlots_.resize(objects_.size());
        for (std::size_t i = 0; i < freeSlots_.size(); ++i) freeSlots_[i] = int(i);
        const QRectF frame = mf.frame();
        dc_.windowOrg = frame.topLeft();
        dc_.windowExt = QPointF(frame.width(), frame.height());
        dc_.viewportOrg = QPointF(0, 0);
        const QSize natural = mf.size();
        dc_.viewportExt = QPointF(natural.width(), natural.height());
        updateTransform();
    }

    void run() {
        for (std::size_t i = 0; i < mf_.records().size(); ++i) {
            index_ = i;
            const Record& r = mf_.records()[i];
            const char* base = mf_.bytes().constData() + r.offset;
            play(r.function, Params(base + 6, r.size - 6));
        }
    }

private:
    void warn(const QString& text) {
        if (!warnings_ || warnings_->size() >= kMaxWarnings) return;
        warnings_->append(QStringLiteral("record %1 (function 0x%2): %3")
                              .arg(index_ + 1)
                              .arg(mf_.records()[index_].function, 4, 16, QLatin1Char('0'))
                              .arg(text));
    }
    bool need(const Params& p, std::size_t words) {
        if (p.has(words)) return true;
        warn(QStringLiteral("too short for its parameters"));
        return false;
    }

    // Logical to device: the window onto the viewport (nominal pixels of the picture's own
    // size), then the picture's own size onto the target rectangle.
    void updateTransform() {
        if (identity_) {
            transform_ = QTransform();
            return;
        }
        auto nonZero = [](qreal v) { return v == 0 ? 1.0 : v; };
        const qreal sx = nonZero(dc_.viewportExt.x()) / nonZero(dc_.windowExt.x());
        const qreal sy = nonZero(dc_.viewportExt.y()) / nonZero(dc_.windowExt.y());
        const QSize natural = mf_.size();
        const qreal fx = target_.width() / natural.width();
        const qreal fy = target_.height() / natural.height();
        // x_target = target.x + fx * vpOrg + (x - winOrg) * fx * sx
        qreal tx = fx * sx, ty = fy * sy;
        if (dc_.mapMode == MmIsotropic) {
            // Equal scales on the target, as GDI keeps them for any viewport it is given.
            const qreal s = std::min(std::abs(tx), std::abs(ty));
            tx = std::copysign(s, tx);
            ty = std::copysign(s, ty);
        }
        transform_ = QTransform(tx, 0, 0, ty,
                                target_.x() + fx * dc_.viewportOrg.x() - tx * dc_.windowOrg.x(),
                                target_.y() + fy * dc_.viewportOrg.y() - ty * dc_.windowOrg.y());
    }
    QPointF map(qreal x, qreal y) const { return transform_.map(QPointF(x, y)); }
    QPointF scaledViewport(qreal x, qreal y) const {
        const QPointF scale = PlayerAccess::viewportScale(mf_);
        return QPointF(x * scale.x(), y * scale.y());
    }
    QRectF mapRect(qreal left, qreal top, qreal right, qreal bottom) const {
        return QRectF(map(left, top), map(right, bottom)).normalized();
    }
    qreal scaleX() const { return std::abs(transform_.m11()); }
    qreal scaleY() const { return std::abs(transform_.m22()); }

    GraphicsState state() const {
        GraphicsState gs;
        gs.pen.style = dc_.pen.style & 0x0F;
        gs.pen.width = dc_.pen.width * scaleX();
        gs.pen.color = dc_.pen.color;
        gs.pen.endCap = (dc_.pen.style >> 8) & 0x0F;
        gs.pen.join = (dc_.pen.style >> 12) & 0x0F;
        gs.brush = dc_.brush;
        gs.font.face = dc_.font.face;
        gs.font.height = std::abs(dc_.font.height) * scaleY();
        gs.font.cellHeight = dc_.font.height > 0;
        gs.font.width = std::abs(dc_.font.width) * scaleX();
        // Text follows the picture when it is stretched out of its own proportions.
        const QSize natural = mf_.size();
        if (!identity_ && target_.height() > 0 && natural.width() > 0)
            gs.font.stretch =
                (target_.width() / natural.width()) / (target_.height() / natural.height());
        gs.font.escapement = dc_.font.escapement / 10.0;
        gs.font.weight = dc_.font.weight;
        gs.font.italic = dc_.font.italic;
        gs.font.underline = dc_.font.underline;
        gs.font.strikeOut = dc_.font.strikeOut;
        gs.font.charset = dc_.font.charset;
        if (gs.font.height == 0) // the default font: about 12 nominal pixels
            gs.font.height = 12 * target_.height() / std::max(1, mf_.size().height());
        gs.textColor = dc_.textColor;
        gs.backgroundColor = dc_.backgroundColor;
        gs.opaqueBackground = dc_.opaqueBackground;
        gs.rop2 = dc_.rop2;
        gs.fillRule = dc_.fillRule;
        gs.clipped = dc_.clipped;
        gs.clip = dc_.clip;
        gs.textAlign = dc_.textAlign;
        gs.charExtra = dc_.charExtra * scaleX();
        return gs;
    }

    // Object table: a new object takes the lowest free slot, kept in a min-heap so that a file
    // of many objects does not scan the table for each.
    void addObject(Object object) {
        if (freeSlots_.empty()) {
            warn(QStringLiteral("object table of %1 entries is full").arg(objects_.size()));
            return;
        }
        std::pop_heap(freeSlots_.begin(), freeSlots_.end(), std::greater<>());
        const int slot = freeSlots_.back();
        freeSlots_.pop_back();
        objects_[std::size_t(slot)] = std::move(object);
    }
    void deleteObject(int index) {
        Object* object = objectAt(index);
        if (!object) return;
        *object = std::monostate();
        freeSlots_.push_back(index);
        std::push_heap(freeSlots_.begin(), freeSlots_.end(), std::greater<>());
    }
    Object* objectAt(int index) {
        if (index < 0 || std::size_t(index) >= objects_.size()) {
            warn(QStringLiteral("object index %1 is out of range (table of %2)")
                     .arg(index)
                     .arg(objects_.size()));
            return nullptr;
        }
        if (std::holds_alternative<std::monostate>(objects_[std::size_t(index)])) {
            warn(QStringLiteral("object %1 does not exist").arg(index));
            return nullptr;
        }
        return &objects_[std::size_t(index)];
    }

    void setClip(const QRegion& region) {
        if (region.rectCount() > kMaxClipRects) {
            warn(QStringLiteral("clipping region is too complex; clip change ignored"));
            return;
        }
        dc_.clip = region;
        dc_.clipped = true;
    }
    void clearClip() {
        dc_.clip = QRegion();
        dc_.clipped = false;
    }
    // A device rectangle as the whole pixels GDI would clip to: left and top included, right
    // and bottom excluded.
    static QRect pixelRect(const QRectF& r) {
        auto clamp = [](qreal v) {
            if (!std::isfinite(v)) return 0; // a degenerate mapping (extents scaled to infinity)
            return int(std::clamp<qreal>(std::round(v), -(1 << 28), 1 << 28));
        };
        const int left = clamp(r.left()), top = clamp(r.top());
        return QRect(left, top, std::max(0, clamp(r.right()) - left),
                     std::max(0, clamp(r.bottom()) - top));
    }
    void clipToRect(const QRectF& rect, bool exclude) {
        const QRegion r(pixelRect(rect));
        if (!dc_.clipped) {
            setClip(exclude ? QRegion(pixelRect(target_.adjusted(-1, -1, 1, 1))).subtracted(r) : r);
            return;
        }
        setClip(exclude ? dc_.clip.subtracted(r) : dc_.clip.intersected(r));
    }

    // A region object (logical units) in device coordinates.
    QPainterPath regionPath(const QRegion& region) const {
        QPainterPath path;
        for (const QRect& r : region) path.addPolygon(transform_.map(QPolygonF(QRectF(r))));
        path.closeSubpath();
        return path;
    }
    QRegion deviceRegion(const QRegion& region) const {
        QRegion device;
        for (const QRect& r : region) device += pixelRect(transform_.mapRect(QRectF(r)));
        return device;
    }

    QList<QPointF> readPoints(const Params& p, std::size_t word, std::size_t count) const {
        QList<QPointF> points;
        points.reserve(qsizetype(count));
        for (std::size_t i = 0; i < count; ++i)
            points.append(map(p.s(word + 2 * i), p.s(word + 2 * i + 1)));
        return points;
    }

    void play(std::uint16_t fn, const Params& p);
    void playText(const Params& p, bool extended);
    void playBitmap(std::uint16_t fn, const Params& p);
    void createRegion(const Params& p);
    void restoreDc(int level);

    const Metafile& mf_;
    Device& device_;
    QRectF target_;
    QStringList* warnings_;
    bool identity_;
    std::size_t index_ = 0;
    Dc dc_;
    std::vector<Dc> saved_;
    int savedOverflow_ = 0;
    std::vector<Object> objects_;
    std::vector<int> freeSlots_; // min-heap of the free slots of objects_
    // Bitmap pixels one playback may still decode: a file of many large bitmap records would
    // otherwise cost minutes on every paint.
    std::uint64_t dibPixelsLeft_ = kMaxDibPixelsPerPlay;
    QTransform transform_;
};

void Player::restoreDc(int level) {
    // Negative: that many levels back; positive: an absolute level (1 is the first save).
    const int depth = int(saved_.size()) + savedOverflow_;
    const int target = level < 0 ? depth + level : level - 1;
    if (level == 0 || target < 0 || target >= depth) {
        warn(QStringLiteral("no saved state %1 to restore").arg(level));
        return;
    }
    int drop = depth - target; // states popped; the last one popped becomes current
    while (drop > 0 && savedOverflow_ > 0) {
        --savedOverflow_;
        --drop;
    }
    if (drop == 0) return;
    saved_.resize(saved_.size() - std::size_t(drop - 1));
    dc_ = std::move(saved_.back());
    saved_.pop_back();
    updateTransform();
}

void Player::play(std::uint16_t fn, const Params& p) {
    switch (fn) {
    case FnEof:
        return;
    // Device-context state.
    case FnSaveDc:
        if (saved_.size() < std::size_t(kMaxSaveDepth))
            saved_.push_back(dc_);
        else
            ++savedOverflow_; // too deep: later restores of these levels keep the current state
        return;
    case FnRestoreDc:
        if (need(p, 1)) restoreDc(p.s(0));
        return;
    case FnSetBkMode:
        if (need(p, 1)) dc_.opaqueBackground = p.w(0) == 2;
        return;
    case FnSetBkColor:
        if (need(p, 2)) dc_.backgroundColor = p.colour(0);
        return;
    case FnSetTextColor:
        if (need(p, 2)) dc_.textColor = p.colour(0);
        return;
    case FnSetTextAlign:
        if (need(p, 1)) dc_.textAlign = p.w(0);
        return;
    case FnSetTextCharExtra:
        if (need(p, 1)) dc_.charExtra = p.s(0);
        return;
    case FnSetPolyFillMode:
        if (need(p, 1)) dc_.fillRule = p.w(0) == 2 ? Qt::WindingFill : Qt::OddEvenFill;
        return;
    case FnSetRop2:
        if (need(p, 1)) {
            const int rop = p.w(0);
            if (rop >= R2Black && rop <= R2White)
                dc_.rop2 = rop;
            else
                warn(QStringLiteral("unknown ROP2 %1").arg(rop));
        }
        return;
    case FnSetMapMode:
        if (need(p, 1)) {
            const int mode = p.w(0);
            if (mode >= MmText && mode <= MmAnisotropic) {
                dc_.mapMode = mode;
                updateTransform();
            }
        }
        return;
    // Mapping. Parameters come y first.
    case FnSetWindowOrg:
        if (need(p, 2)) {
            dc_.windowOrg = QPointF(p.s(1), p.s(0));
            updateTransform();
        }
        return;
    case FnSetWindowExt:
        if (need(p, 2)) {
            dc_.windowExt = QPointF(p.s(1), p.s(0));
            updateTransform();
        }
        return;
    case FnSetViewportOrg:
        if (need(p, 2)) {
            dc_.viewportOrg = scaledViewport(p.s(1), p.s(0));
            updateTransform();
        }
        return;
    case FnSetViewportExt:
        if (need(p, 2)) {
            dc_.viewportExt = scaledViewport(p.s(1), p.s(0));
            updateTransform();
        }
        return;
    case FnOffsetWindowOrg:
        if (need(p, 2)) {
            dc_.windowOrg += QPointF(p.s(1), p.s(0));
            updateTransform();
        }
        return;
    case FnOffsetViewportOrg:
        if (need(p, 2)) {
            dc_.viewportOrg += scaledViewport(p.s(1), p.s(0));
            updateTransform();
        }
        return;
    case FnScaleWindowExt:
    case FnScaleViewportExt:
        if (need(p, 4)) {
            const int yDen = p.s(0), yNum = p.s(1), xDen = p.s(2), xNum = p.s(3);
            if (xDen == 0 || yDen == 0) {
                warn(QStringLiteral("scale with a zero denominator"));
                return;
            }
            QPointF& ext = fn == FnScaleWindowExt ? dc_.windowExt : dc_.viewportExt;
            const QPointF scaled(ext.x() * xNum / xDen, ext.y() * yNum / yDen);
            // Repeated scaling must not drive the extents to infinity (GDI's are 32-bit).
            if (std::abs(scaled.x()) > 1e9 || std::abs(scaled.y()) > 1e9) {
                warn(QStringLiteral("scaled extent out of range; ignored"));
                return;
            }
            ext = scaled;
            updateTransform();
        }
        return;
    // Clipping.
    case FnIntersectClipRect:
    case FnExcludeClipRect:
        if (need(p, 4))
            clipToRect(mapRect(p.s(3), p.s(2), p.s(1), p.s(0)), fn == FnExcludeClipRect);
        return;
    case FnOffsetClipRgn:
        if (need(p, 2) && dc_.clipped)
            dc_.clip.translate(int(std::lround(p.s(1) * transform_.m11())),
                               int(std::lround(p.s(0) * transform_.m22())));
        return;
    case FnSelectClipRegion:
        if (need(p, 1)) {
            // Index 0 is commonly written to mean "no clipping" when it holds no region.
            const int index = p.s(0);
            if (index >= 0 && std::size_t(index) < objects_.size()) {
                if (auto* region = std::get_if<QRegion>(&objects_[std::size_t(index)])) {
                    if (region->isEmpty())
                        clearClip();
                    else
                        setClip(deviceRegion(*region));
                    return;
                }
            }
            clearClip();
        }
        return;
    // Objects.
    case FnCreatePenIndirect:
        if (need(p, 5)) {
            LogPen pen;
            pen.style = p.w(0);
            pen.width = std::abs(p.s(1));
            pen.color = p.colour(3);
            addObject(pen);
        }
        return;
    case FnCreateBrushIndirect:
        if (need(p, 4)) {
            Brush brush;
            const int style = p.w(0);
            brush.color = p.colour(1);
            brush.hatch = p.w(3);
            brush.kind = style == 1 ? Brush::Null : style == 2 ? Brush::Hatched : Brush::Solid;
            if (brush.kind == Brush::Hatched && brush.hatch > 5) brush.kind = Brush::Solid;
            addObject(brush);
        }
        return;
    case FnCreateFontIndirect:
        if (need(p, 9)) {
            LogFont font;
            font.height = p.s(0);
            font.width = p.s(1);
            font.escapement = p.s(2);
            font.weight = p.s(4);
            const std::uint8_t* b = p.bytes(5);
            font.italic = b[0];
            font.underline = b[1];
            font.strikeOut = b[2];
            font.charset = b[3];
            const std::size_t faceBytes = std::min<std::size_t>(32, p.bytesFrom(9));
            QByteArray face(reinterpret_cast<const char*>(p.bytes(9)), qsizetype(faceBytes));
            const qsizetype nul = face.indexOf('\0');
            if (nul >= 0) face.truncate(nul);
            font.face = decodeText(face, font.charset == 2 ? 0 : font.charset);
            addObject(font);
        }
        return;
    case FnCreatePalette:
        if (need(p, 2)) {
            const std::size_t count = std::min<std::size_t>(p.w(1), (p.words() - 2) / 2);
            Palette palette;
            for (std::size_t i = 0; i < count; ++i) {
                const std::uint32_t c = p.dw(2 + 2 * i);
                palette.append(qRgb(int(c & 0xFF), int(c >> 8 & 0xFF), int(c >> 16 & 0xFF)));
            }
            addObject(palette);
        }
        return;
    case FnCreateRegion:
        createRegion(p);
        return;
    case FnDibCreatePatternBrush:
    case FnCreatePatternBrush:
        if (need(p, 2)) {
            Brush brush;
            brush.kind = Brush::Pattern;
            if (fn == FnDibCreatePatternBrush) {
                DibOptions options;
                options.paletteIndexes = p.w(1) == 1;
                options.palette = &dc_.palette;
                options.maxSide = kMaxPatternSide;
                options.pixelBudget = &dibPixelsLeft_;
                DibResult dib = decodeDib(p.bytes(2), p.bytesFrom(2), options);
                if (dib.image.isNull()) warn(QStringLiteral("pattern bitmap: %1").arg(dib.error));
                brush.pattern = dib.image;
            } else if (p.has(7)) {
                // A device-dependent BITMAP16 head (only monochrome ones are portable): type,
                // width, height, widthBytes, planes+bitsPixel, an unused pointer; 18 reserved
                // bytes; then the bits.
                const int w = p.s(1), h = p.s(2), stride = p.s(3);
                const std::uint8_t* bits = p.bytes(16);
                const std::size_t avail = p.bytesFrom(16);
                if (w > 0 && h > 0 && w <= kMaxPatternSide && h <= kMaxPatternSide &&
                    stride * 8 >= w && std::size_t(stride) * std::size_t(h) <= avail &&
                    (p.w(4) >> 8) == 1) {
                    QImage image(w, h, QImage::Format_RGB32);
                    for (int y = 0; y < h; ++y)
                        for (int x = 0; x < w; ++x)
                            image.setPixel(x, y,
                                           (bits[y * stride + x / 8] >> (7 - x % 8)) & 1
                                               ? dc_.backgroundColor.rgb()
                                               : dc_.textColor.rgb());
                    brush.pattern = image;
                } else {
                    warn(QStringLiteral("unsupported pattern bitmap"));
                }
            }
            if (brush.pattern.isNull()) brush.kind = Brush::Solid, brush.color = Qt::black;
            addObject(brush);
        }
        return;
    case FnSelectObject:
        if (need(p, 1)) {
            Object* object = objectAt(p.s(0));
            if (!object) return;
            if (auto* pen = std::get_if<LogPen>(object))
                dc_.pen = *pen;
            else if (auto* brush = std::get_if<Brush>(object))
                dc_.brush = *brush;
            else if (auto* font = std::get_if<LogFont>(object))
                dc_.font = *font;
            else if (auto* region = std::get_if<QRegion>(object))
                setClip(deviceRegion(*region));
            else if (auto* palette = std::get_if<Palette>(object))
                dc_.palette = *palette;
        }
        return;
    case FnSelectPalette:
        if (need(p, 1)) {
            if (Object* object = objectAt(p.s(0)))
                if (auto* palette = std::get_if<Palette>(object)) dc_.palette = *palette;
        }
        return;
    case FnDeleteObject:
        if (need(p, 1)) {
            deleteObject(p.s(0));
        }
        return;
    // Drawing.
    case FnMoveTo:
        if (need(p, 2)) dc_.position = QPointF(p.s(1), p.s(0));
        return;
    case FnLineTo:
        if (need(p, 2)) {
            const QPointF to(p.s(1), p.s(0));
            device_.drawPolyline(
                state(), QPolygonF{map(dc_.position.x(), dc_.position.y()), map(to.x(), to.y())});
            dc_.position = to;
        }
        return;
    case FnPolyline:
    case FnPolygon:
        if (need(p, 1)) {
            const std::size_t count = p.w(0);
            if (!p.has(1 + 2 * count)) {
                warn(QStringLiteral("%1 points do not fit in the record").arg(count));
                return;
            }
            const QPolygonF points(readPoints(p, 1, count));
            if (fn == FnPolyline)
                device_.drawPolyline(state(), points);
            else
                device_.drawPolygons(state(), {points});
        }
        return;
    case FnPolyPolygon:
        if (need(p, 1)) {
            const std::size_t polygons = p.w(0);
            if (!p.has(1 + polygons)) {
                warn(QStringLiteral("%1 polygons do not fit in the record").arg(polygons));
                return;
            }
            std::size_t total = 0;
            for (std::size_t i = 0; i < polygons; ++i) total += p.w(1 + i);
            if (!p.has(1 + polygons + 2 * total)) {
                warn(QStringLiteral("%1 points do not fit in the record").arg(total));
                return;
            }
            QList<QPolygonF> list;
            std::size_t word = 1 + polygons;
            for (std::size_t i = 0; i < polygons; ++i) {
                const std::size_t count = p.w(1 + i);
                list.append(QPolygonF(readPoints(p, word, count)));
                word += 2 * count;
            }
            device_.drawPolygons(state(), list);
        }
        return;
    case FnRectangle:
        if (need(p, 4)) device_.drawRect(state(), mapRect(p.s(3), p.s(2), p.s(1), p.s(0)));
        return;
    case FnEllipse:
        if (need(p, 4)) device_.drawEllipse(state(), mapRect(p.s(3), p.s(2), p.s(1), p.s(0)));
        return;
    case FnRoundRect:
        if (need(p, 6)) {
            // The corner ellipse's width and height; the device takes radii.
            device_.drawRoundRect(state(), mapRect(p.s(5), p.s(4), p.s(3), p.s(2)),
                                  std::abs(p.s(1)) * scaleX() / 2, std::abs(p.s(0)) * scaleY() / 2);
        }
        return;
    case FnArc:
    case FnPie:
    case FnChord:
        if (need(p, 8)) {
            const ArcKind kind = fn == FnArc   ? ArcKind::Arc
                                 : fn == FnPie ? ArcKind::Pie
                                               : ArcKind::Chord;
            device_.drawArc(state(), mapRect(p.s(7), p.s(6), p.s(5), p.s(4)), map(p.s(3), p.s(2)),
                            map(p.s(1), p.s(0)), kind);
        }
        return;
    case FnSetPixel:
        if (need(p, 4)) device_.setPixel(state(), map(p.s(3), p.s(2)), p.colour(0));
        return;
    case FnTextOut:
        playText(p, false);
        return;
    case FnExtTextOut:
        playText(p, true);
        return;
    case FnFillRegion:
    case FnFrameRegion:
        if (need(p, fn == FnFillRegion ? 2 : 4)) {
            // FillRegion: region, brush. FrameRegion: region, brush, height, width.
            const int regionIndex = p.s(0);
            const int brushIndex = p.s(1);
            Object* region = objectAt(regionIndex);
            Object* brush = objectAt(brushIndex);
            if (!region || !brush || !std::holds_alternative<QRegion>(*region) ||
                !std::holds_alternative<Brush>(*brush)) {
                if (region && brush) warn(QStringLiteral("objects are not a region and a brush"));
                return;
            }
            const QRegion& rgn = std::get<QRegion>(*region);
            if (fn == FnFillRegion) {
                device_.fillPath(state(), regionPath(rgn), std::get<Brush>(*brush));
            } else {
                // A frame of the given thickness inside the region's edge.
                const int h = std::abs(p.s(2)), w = std::abs(p.s(3));
                const QRegion inner = rgn.translated(w, 0) & rgn.translated(-w, 0) &
                                      rgn.translated(0, h) & rgn.translated(0, -h);
                device_.fillPath(state(), regionPath(rgn.subtracted(inner)),
                                 std::get<Brush>(*brush));
            }
        }
        return;
    case FnPaintRegion:
    case FnInvertRegion:
        if (need(p, 1)) {
            Object* region = objectAt(p.s(0));
            if (!region || !std::holds_alternative<QRegion>(*region)) return;
            const QPainterPath path = regionPath(std::get<QRegion>(*region));
            if (fn == FnPaintRegion)
                device_.fillPath(state(), path, dc_.brush);
            else
                device_.invertPath(state(), path);
        }
        return;
    case FnPatBlt:
        if (need(p, 6)) {
            const std::uint32_t rop = p.dw(0);
            const qreal h = p.s(2), w = p.s(3), y = p.s(4), x = p.s(5);
            device_.patBlt(state(), mapRect(x, y, x + w, y + h), rop);
        }
        return;
    case FnBitBlt:
    case FnStretchBlt:
    case FnDibBitBlt:
    case FnDibStretchBlt:
    case FnStretchDib:
    case FnSetDibToDev:
        playBitmap(fn, p);
        return;
    // Records with no visible effect here.
    case FnEscape:            // printer escapes and embedded comments
    case FnSetRelAbs:         // unused by GDI
    case FnSetStretchBltMode: // we always scale smoothly
    case FnSetMapperFlags:
    case FnRealizePalette:
    case FnSetPalEntries:
    case FnResizePalette:
    case FnAnimatePalette:
    case FnSetTextJustification:
    case FnSetLayout:
        return;
    case FnFloodFill:
    case FnExtFloodFill:
        warn(QStringLiteral("flood fill is not supported"));
        return;
    case FnDrawText:
    default:
        warn(QStringLiteral("unknown record ignored"));
        return;
    }
}

void Player::playText(const Params& p, bool extended) {
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
                options.rect = mapRect(p.s(4), p.s(5), p.s(6), p.s(7));
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
                options.advances.append(p.s(dxWord + i) * scaleX());
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
        device_.drawText(state(), map(reference.x(), reference.y()), text, options);
    if (updateCp && transform_.m11() != 0) {
        // The current position moves along the baseline by the text's advance.
        const qreal angle = qDegreesToRadians(dc_.font.escapement / 10.0);
        const qreal frame = state().font.stretch;
        dc_.position += QPointF(advance * frame * std::cos(angle) / transform_.m11(),
                                -advance * std::sin(angle) / transform_.m22());
    }
}

void Player::playBitmap(std::uint16_t fn, const Params& p) {
    // The variants without a bitmap have exactly (fn >> 8) parameter words and act as PatBlt.
    const std::size_t fixedWords = fn >> 8;
    const bool noBitmap = p.words() == fixedWords;
    std::uint32_t rop = 0;
    qreal srcX = 0, srcY = 0, srcW = -1, srcH = -1, dstX = 0, dstY = 0, dstW = 0, dstH = 0;
    std::size_t bitmapWord = 0;
    bool paletteIndexes = false;
    switch (fn) {
    case FnDibBitBlt:
    case FnBitBlt:
        // rop, ySrc, xSrc, [reserved], height, width, yDst, xDst
        if (!need(p, noBitmap ? 9 : 8)) return;
        rop = p.dw(0);
        srcY = p.s(2), srcX = p.s(3);
        {
            const std::size_t w = noBitmap ? 5 : 4;
            dstH = srcH = p.s(w);
            dstW = srcW = p.s(w + 1);
            dstY = p.s(w + 2), dstX = p.s(w + 3);
        }
        bitmapWord = 8;
        break;
    case FnDibStretchBlt:
    case FnStretchBlt:
        // rop, srcHeight, srcWidth, ySrc, xSrc, [reserved], dstHeight, dstWidth, yDst, xDst
        if (!need(p, noBitmap ? 11 : 10)) return;
        rop = p.dw(0);
        srcH = p.s(2), srcW = p.s(3), srcY = p.s(4), srcX = p.s(5);
        {
            const std::size_t w = noBitmap ? 7 : 6;
            dstH = p.s(w), dstW = p.s(w + 1), dstY = p.s(w + 2), dstX = p.s(w + 3);
        }
        bitmapWord = 10;
        break;
    case FnStretchDib:
        // rop, colorUsage, srcHeight, srcWidth, ySrc, xSrc, dstHeight, dstWidth, yDst, xDst
        if (!need(p, 11)) return;
        rop = p.dw(0);
        paletteIndexes = p.w(2) == 1;
        srcH = p.s(3), srcW = p.s(4), srcY = p.s(5), srcX = p.s(6);
        dstH = p.s(7), dstW = p.s(8), dstY = p.s(9), dstX = p.s(10);
        bitmapWord = 11;
        break;
    case FnSetDibToDev:
        // colorUsage, scanCount, startScan, yDib, xDib, height, width, yDst, xDst
        if (!need(p, 9)) return;
        rop = RopSrcCopy;
        paletteIndexes = p.w(0) == 1;
        srcY = p.s(3), srcX = p.s(4);
        dstH = srcH = p.s(5), dstW = srcW = p.s(6);
        dstY = p.s(7), dstX = p.s(8);
        bitmapWord = 9;
        break;
    default:
        return;
    }
    const QRectF dest(map(dstX, dstY), map(dstX + dstW, dstY + dstH));
    if (identity_ || (noBitmap && fn != FnStretchDib && fn != FnSetDibToDev)) {
        // Measuring needs only where the bitmap goes, not its pixels.
        device_.patBlt(state(), dest.normalized(), rop);
        return;
    }
    QImage image;
    if (fn == FnBitBlt || fn == FnStretchBlt) {
        // A BITMAP16: type, width, height, widthBytes, planes/bitsPixel, then the bits. Only
        // monochrome ones have a device-free meaning.
        const Params b(reinterpret_cast<const char*>(p.bytes(bitmapWord)), p.bytesFrom(bitmapWord));
        const int w = b.s(1), h = b.s(2), stride = b.s(3);
        const int bitsPixel = b.w(4) >> 8;
        const std::size_t avail = b.bytesFrom(5);
        if (!b.has(5) || w <= 0 || h <= 0 || stride <= 0 || bitsPixel != 1 || stride * 8 < w ||
            std::size_t(stride) * std::size_t(h) > avail) {
            warn(QStringLiteral("unsupported or damaged device-dependent bitmap"));
            return;
        }
        image = QImage(w, h, QImage::Format_RGB32);
        if (image.isNull()) return;
        const std::uint8_t* bits = b.bytes(5);
        for (int y = 0; y < h; ++y) {
            QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < w; ++x)
                line[x] = (bits[std::size_t(y) * std::size_t(stride) + std::size_t(x / 8)] >>
                           (7 - x % 8)) &
                                  1
                              ? dc_.backgroundColor.rgb()
                              : dc_.textColor.rgb();
        }
    } else {
        DibOptions options;
        options.paletteIndexes = paletteIndexes;
        options.palette = &dc_.palette;
        options.pixelBudget = &dibPixelsLeft_;
        DibResult dib = decodeDib(p.bytes(bitmapWord), p.bytesFrom(bitmapWord), options);
        if (dib.image.isNull()) {
            warn(QStringLiteral("bitmap: %1").arg(dib.error));
            return;
        }
        image = std::move(dib.image);
        // Source coordinates of a bottom-up DIB count from its bottom row.
        if (!dib.topDown && srcH > 0) srcY = image.height() - srcY - srcH;
    }
    if (srcW > 0 && srcH > 0) {
        const QRect source =
            QRect(int(srcX), int(srcY), int(srcW), int(srcH)).intersected(image.rect());
        if (source.isEmpty()) return;
        if (source != image.rect()) image = image.copy(source);
    }
    device_.drawImage(state(), dest, image, rop);
}

void Player::createRegion(const Params& p) {
    // nextInChain, objectType, objectCount(2), regionSize, scanCount, maxScan,
    // bounds (left, top, right, bottom), then scans: count, top, bottom, count/2 (left,right)
    // pairs, count again.
    if (!need(p, 11)) return;
    const int scans = p.s(5);
    QRegion region;
    std::size_t word = 11;
    int rects = 0;
    for (int s = 0; s < scans && p.has(word + 3); ++s) {
        const std::size_t count = p.w(word);
        const int top = p.s(word + 1), bottom = p.s(word + 2);
        if (!p.has(word + 3 + count + 1)) break;
        for (std::size_t k = 0; k + 1 < count; k += 2) {
            const int left = p.s(word + 3 + k), right = p.s(word + 4 + k);
            if (right > left && bottom > top && rects < kMaxRegionRects) {
                region += QRect(left, top, right - left, bottom - top);
                ++rects;
            }
        }
        word += 3 + count + 1;
    }
    if (rects >= kMaxRegionRects)
        warn(QStringLiteral("region truncated to %1 rectangles").arg(kMaxRegionRects));
    if (scans == 0 && region.isEmpty()) {
        const int l = p.s(7), t = p.s(8), r = p.s(9), b = p.s(10);
        if (r > l && b > t) region = QRect(l, t, r - l, b - t);
    }
    addObject(region);
}

} // namespace

std::shared_ptr<const Metafile> Metafile::fromFile(const QString& path) {
    // Only a regular file is opened, judged on the descriptor: a link to a FIFO or a device in
    // a browsed folder must not block or feed endless bytes.
    QFile file;
    const int fd = codec::openRegularFile(QFile::encodeName(path).toStdString());
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
        if (function == FnEof) break;
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
            if (r.function != FnSetViewportExt || r.size < 10) continue;
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
        if (r.function == FnSetWindowOrg && !haveOrg)
            org = value, haveOrg = true;
        else if (r.function == FnSetWindowExt && !haveExt && value.x() != 0 && value.y() != 0)
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
    Player(*mf, bounds, QRectF(0, 0, 1, 1), nullptr, true).run();
    if (bounds.bounds.isValid() && bounds.bounds.width() > 0 && bounds.bounds.height() > 0) {
        mf->frame_ = bounds.bounds;
        mf->size_ = capped(bounds.bounds.width(), bounds.bounds.height());
    }
    viewportScale();
    return mf;
}

void Metafile::play(Device& device, const QRectF& target, QStringList* warnings) const {
    Player(*this, device, target, warnings, false).run();
    if (warnings && !stopReason_.isEmpty())
        warnings->append(QStringLiteral("playback stopped: %1").arg(stopReason_));
}

} // namespace pixmoor::wmf
