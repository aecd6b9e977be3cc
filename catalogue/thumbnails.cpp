// Thumbnail drawing and the small texts of the catalogue build.
#include "catalogue/thumbnails.h"

#include "imaging/picture.h"

#include <QLocale>
#include <QPainter>
#include <algorithm>

namespace pixmoor {

namespace {

QImage whiteBitmap(QSize size) {
    QImage bitmap(size.expandedTo(QSize(1, 1)), QImage::Format_RGB32);
    bitmap.fill(Qt::white);
    return bitmap;
}

} // namespace

QImage stretchToThumbnail(const QImage& source, QSize size) {
    const QSize target = size.expandedTo(QSize(1, 1));
    if (source.isNull()) return whiteBitmap(target);
    // Indexed and odd formats go to 32 bits first, so the scaling averages colours rather than
    // picking palette entries. Alpha has already been composited over white by the decoders.
    QImage rgb = source.format() == QImage::Format_RGB32 || source.format() == QImage::Format_ARGB32
                     ? source
                     : source.convertToFormat(QImage::Format_RGB32);
    if (rgb.size() != target)
        rgb = rgb.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (rgb.hasAlphaChannel()) {
        QImage out = whiteBitmap(target);
        QPainter painter(&out);
        painter.drawImage(0, 0, rgb);
        return out;
    }
    return rgb.format() == QImage::Format_RGB32 ? rgb : rgb.convertToFormat(QImage::Format_RGB32);
}

QImage drawThumbnail(const Picture& source, QSize size) {
    const QSize target = size.expandedTo(QSize(1, 1));
    if (source.isBitmap()) return stretchToThumbnail(source.bitmap(), target);
    QImage bitmap = whiteBitmap(target);
    if (source.isEmpty()) return bitmap;
    QPainter painter(&bitmap);
    painter.setRenderHint(QPainter::Antialiasing, true);
    source.draw(painter, QRect(QPoint(0, 0), target), true);
    return bitmap;
}

QImage errorThumbnail(QSize size, qreal devicePixelRatio) {
    QImage bitmap = whiteBitmap(size);
    // The text at the size the screen shows text: the painter works in logical pixels.
    bitmap.setDevicePixelRatio(std::max<qreal>(devicePixelRatio, 1));
    {
        QPainter painter(&bitmap);
        painter.setPen(Qt::black);
        const QRectF all(QPointF(0, 0), bitmap.deviceIndependentSize());
        painter.drawText(all, Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip,
                         QStringLiteral("Error"));
    }
    bitmap.setDevicePixelRatio(1);
    return bitmap;
}

QImage failedIconThumbnail(QSize size) {
    QImage image(size.expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QRectF box = QRectF(image.rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(QColor(128, 128, 128), 1));
    painter.drawRect(box);
    const qreal inset = std::max<qreal>(2, box.width() / 4);
    painter.setPen(QPen(QColor(200, 0, 0), std::max<qreal>(1, box.width() / 12)));
    painter.drawLine(box.topLeft() + QPointF(inset, inset),
                     box.bottomRight() - QPointF(inset, inset));
    painter.drawLine(box.topRight() + QPointF(-inset, inset),
                     box.bottomLeft() + QPointF(inset, -inset));
    return image;
}

int progressPosition(int k, int count) {
    if (count <= 0 || k <= 0) return 0;
    const long long num = static_cast<long long>(k) * 100;
    long long q = num / count;
    const long long twiceRest = 2 * (num % count);
    if (twiceRest > count || (twiceRest == count && (q % 2) != 0)) ++q;
    return int(q);
}

QString fileCountText(int count) {
    return QString::number(count) +
           (count == 1 ? QStringLiteral(" File") : QStringLiteral(" Files"));
}

QString fileDateText(const QDateTime& stamp) {
    const QLocale locale;
    const QDateTime local = stamp.toLocalTime();
    QString text = locale.toString(local.date(), QLocale::ShortFormat);
    if (local.time().msecsSinceStartOfDay() / 1000 != 0)
        text += u' ' + locale.toString(local.time(), QLocale::LongFormat);
    return text;
}

} // namespace pixmoor
