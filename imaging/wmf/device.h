// The abstract device a metafile plays onto: the player keeps the metafile's device context
// (objects, mapping, clipping, save and restore) and hands each drawing operation here with the
// resolved graphics state, in device coordinates. QPainterDevice draws; other devices measure.
#pragma once

#include <QColor>
#include <QImage>
#include <QList>
#include <QPainterPath>
#include <QPointF>
#include <QPolygonF>
#include <QRectF>
#include <QRegion>
#include <QString>
#include <cstdint>

namespace pixmoor::wmf {

// GDI constants the device needs to interpret the state.
enum PenStyle : int {
    PsSolid = 0,
    PsDash = 1,
    PsDot = 2,
    PsDashDot = 3,
    PsDashDotDot = 4,
    PsNull = 5,
    PsInsideFrame = 6
};
enum TextAlign : std::uint16_t {
    TaUpdateCp = 0x0001,
    TaRight = 0x0002,
    TaCenter = 0x0006,
    TaHorizontalMask = 0x0006,
    TaBottom = 0x0008,
    TaBaseline = 0x0018,
    TaVerticalMask = 0x0018
};
enum Rop2 : int {
    R2Black = 1,
    R2NotMergePen = 2,
    R2MaskNotPen = 3,
    R2NotCopyPen = 4,
    R2MaskPenNot = 5,
    R2Not = 6,
    R2XorPen = 7,
    R2NotMaskPen = 8,
    R2MaskPen = 9,
    R2NotXorPen = 10,
    R2Nop = 11,
    R2MergeNotPen = 12,
    R2CopyPen = 13,
    R2MergePenNot = 14,
    R2MergePen = 15,
    R2White = 16
};
// Ternary raster operations of the blt records.
enum RasterOp : std::uint32_t {
    RopBlackness = 0x00000042,
    RopNotSrcErase = 0x001100A6,
    RopNotSrcCopy = 0x00330008,
    RopSrcErase = 0x00440328,
    RopDstInvert = 0x00550009,
    RopPatInvert = 0x005A0049,
    RopSrcInvert = 0x00660046,
    RopSrcAnd = 0x008800C6,
    RopDstCopy = 0x00AA0029,
    RopMergePaint = 0x00BB0226,
    RopMergeCopy = 0x00C000CA,
    RopSrcCopy = 0x00CC0020,
    RopSrcPaint = 0x00EE0086,
    RopPatCopy = 0x00F00021,
    RopPatPaint = 0x00FB0A09,
    RopWhiteness = 0x00FF0062
};

struct Pen {
    int style = PsSolid;
    qreal width = 0; // device pixels; 0 is the thinnest line
    QColor color = Qt::black;
    int endCap = 0; // 0 round, 1 square, 2 flat
    int join = 0;   // 0 round, 1 bevel, 2 miter
};

struct Brush {
    enum Kind { Solid, Null, Hatched, Pattern };
    Kind kind = Solid;
    QColor color = Qt::white;
    int hatch = 0;  // HS_HORIZONTAL .. HS_DIAGCROSS
    QImage pattern; // for Pattern
};

struct Font {
    QString face;
    qreal height = 0;        // device pixels; 0 picks the default size
    bool cellHeight = false; // height is the cell (ascent + descent), not the character height
    qreal width = 0;         // average character width in device pixels; 0 keeps the font's own
    // How much the picture is stretched horizontally against its own proportions: text is
    // laid out unstretched, rotated, then stretched with the picture.
    qreal stretch = 1;
    qreal escapement = 0; // degrees, counter-clockwise on the device
    int weight = 400;
    bool italic = false, underline = false, strikeOut = false;
    int charset = 0;
};

struct GraphicsState {
    Pen pen;
    Brush brush;
    Font font;
    QColor textColor = Qt::black;
    QColor backgroundColor = Qt::white;
    bool opaqueBackground = true; // OPAQUE is the device context's default
    int rop2 = R2CopyPen;
    Qt::FillRule fillRule = Qt::OddEvenFill; // ALTERNATE
    bool clipped = false;
    QRegion clip; // device pixels, when clipped (GDI clips to whole pixels too)
    std::uint16_t textAlign = 0;
    qreal charExtra = 0; // extra space after each character, device pixels
};

struct TextOptions {
    bool opaque = false;  // fill rect with the background colour first
    bool clipped = false; // clip the text to rect
    QRectF rect;
    QList<qreal> advances; // per character, device pixels; empty for the font's own
};

enum class ArcKind { Arc, Pie, Chord };

class Device {
public:
    virtual ~Device() = default;

    virtual void drawPolyline(const GraphicsState& gs, const QPolygonF& points) = 0;
    // One polygon or several (PolyPolygon), filled with the state's fill rule, then outlined.
    virtual void drawPolygons(const GraphicsState& gs, const QList<QPolygonF>& polygons) = 0;
    virtual void drawRect(const GraphicsState& gs, const QRectF& rect) = 0;
    virtual void drawRoundRect(const GraphicsState& gs, const QRectF& rect, qreal rx, qreal ry) = 0;
    virtual void drawEllipse(const GraphicsState& gs, const QRectF& rect) = 0;
    // An elliptic arc of box from the radial through start to the radial through end,
    // counter-clockwise on the device.
    virtual void drawArc(const GraphicsState& gs, const QRectF& box, const QPointF& start,
                         const QPointF& end, ArcKind kind) = 0;
    virtual void setPixel(const GraphicsState& gs, const QPointF& point, const QColor& colour) = 0;
    // Regions: filled with a brush, framed, or inverted.
    virtual void fillPath(const GraphicsState& gs, const QPainterPath& path,
                          const Brush& brush) = 0;
    virtual void invertPath(const GraphicsState& gs, const QPainterPath& path) = 0;
    // Text with its reference point; returns the advance along the baseline in pixels before
    // the font's frame stretch (device pixels when the picture keeps its proportions).
    virtual qreal drawText(const GraphicsState& gs, const QPointF& reference, const QString& text,
                           const TextOptions& options) = 0;
    // A bitmap into dest (a negative width or height mirrors it) with a ternary raster operation.
    virtual void drawImage(const GraphicsState& gs, const QRectF& dest, const QImage& image,
                           std::uint32_t rop) = 0;
    // A rectangle painted with the brush and a raster operation that uses no source.
    virtual void patBlt(const GraphicsState& gs, const QRectF& rect, std::uint32_t rop) = 0;
};

} // namespace pixmoor::wmf
