// The metafile device that draws with a QPainter: GDI pens, brushes, fonts, raster operations
// and clipping expressed in Qt terms.
#pragma once

#include "imaging/wmf/device.h"

class QPainter;

namespace pixmoor::wmf {

class QPainterDevice : public Device {
public:
    // The painter keeps its own transform; the device draws in its coordinates.
    explicit QPainterDevice(QPainter& painter);

    void drawPolyline(const GraphicsState& gs, const QPolygonF& points) override;
    void drawPolygons(const GraphicsState& gs, const QList<QPolygonF>& polygons) override;
    void drawRect(const GraphicsState& gs, const QRectF& rect) override;
    void drawRoundRect(const GraphicsState& gs, const QRectF& rect, qreal rx, qreal ry) override;
    void drawEllipse(const GraphicsState& gs, const QRectF& rect) override;
    void drawArc(const GraphicsState& gs, const QRectF& box, const QPointF& start,
                 const QPointF& end, ArcKind kind) override;
    void setPixel(const GraphicsState& gs, const QPointF& point, const QColor& colour) override;
    void fillPath(const GraphicsState& gs, const QPainterPath& path, const Brush& brush) override;
    void invertPath(const GraphicsState& gs, const QPainterPath& path) override;
    qreal drawText(const GraphicsState& gs, const QPointF& reference, const QString& text,
                   const TextOptions& options) override;
    void drawImage(const GraphicsState& gs, const QRectF& dest, const QImage& image,
                   std::uint32_t rop) override;
    void patBlt(const GraphicsState& gs, const QRectF& rect, std::uint32_t rop) override;

private:
    // Fills and outlines a shape with the state's pen, brush, background and ROP2.
    void drawShape(const GraphicsState& gs, const QPainterPath& path, bool fill);
    void fillWithBrush(const GraphicsState& gs, const QPainterPath& path, const Brush& brush);
    bool applyRop2(const GraphicsState& gs); // false when nothing is to be drawn
    void applyClip(const GraphicsState& gs);

    QPainter& painter_;
    bool rasterOps_;
};

} // namespace pixmoor::wmf
