// The image component TPMultiImage: the picture its loader loads (image_loader.cpp), painting,
// text overlay and the scrolling message display. The clipboard and the keys that reach it are
// in TMultiP_clipboard.cpp, printing in TMultiP_print.cpp.
#include "imaging/TMultiP.h"

#include "imaging/codec/codec.h"
#include "imaging/codec/errors.h"
#include "imaging/file_types.h"
#include "imaging/image_file.h"
#include "imaging/raster_image.h"
#include "imaging/wmf/metafile.h"
#include "platform/file_name.h"
#include "platform/message_box.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>
#include <sys/stat.h>

namespace pixmoor {

namespace {

double roundHalfEven(double v) {
    const double floor = std::floor(v);
    const double diff = v - floor;
    if (diff < 0.5) return floor;
    if (diff > 0.5) return floor + 1.0;
    return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

} // namespace

// ---- unit-level functions --------------------------------------------------------------------

bool ConfirmOverwrite(const QString& FileName, QWidget* parent) {
    struct stat st {};
    if (::lstat(pixmoor::encodeFileName(FileName).constData(), &st) != 0) return false;
    const bool yes = askYesNo(QStringLiteral("File Already Exists ") + FileName +
                                  QStringLiteral(" ,Overwrite ?"),
                              parent, MessageButton::Yes);
    return !yes;
}

QRect stretchRatioRect(int cw, int ch, int pw, int ph) {
    if (pw <= 0 || ph <= 0) return QRect(0, 0, cw, ch);
    const double rW = double(cw) / pw;
    const double rH = double(ch) / ph;
    if (rW > rH) {
        const double spare = cw - pw * rH;
        return QRect(int(roundHalfEven(spare * 0.5)), 0, int(roundHalfEven(cw - spare)), ch);
    }
    const double spare = ch - ph * rW;
    return QRect(0, int(roundHalfEven(spare * 0.5)), cw, int(roundHalfEven(ch - spare)));
}

// ---- construction and properties -------------------------------------------------------------

TPMultiImage::TPMultiImage(QWidget* parent) : QWidget(parent) {
    color_ = palette().color(QPalette::Button); // the desktop's button face
    resize(105, 105);
    setFocusPolicy(Qt::ClickFocus);
}

TPMultiImage::~TPMultiImage() = default;

int TPMultiImage::displayBits() const {
    return DeviceColorBits(this);
}

void TPMultiImage::setAutoSize(bool on) {
    autoSize_ = on;
    pictureChanged();
}

void TPMultiImage::setCenter(bool on) {
    if (center_ == on) return;
    center_ = on;
    update();
}

void TPMultiImage::setBorderStyle(TBorderStyle style) {
    if (borderStyle_ == style) return;
    borderStyle_ = style;
    const int m = style == bsSingle ? 1 : 0;
    setContentsMargins(m, m, m, m);
    update();
}

void TPMultiImage::setColor(const QColor& colour) {
    color_ = colour;
    update();
}

QColor TPMultiImage::FontColor() const {
    return palette().color(QPalette::WindowText);
}

void TPMultiImage::setFontColor(const QColor& colour) {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, colour);
    setPalette(p);
    update();
}

void TPMultiImage::setStretch(bool on) {
    if (stretch_ == on) return;
    stretch_ = on;
    if (on) stretchRatio_ = false;
    update();
}

void TPMultiImage::setStretchRatio(bool on) {
    if (stretchRatio_ == on) return;
    stretchRatio_ = on;
    if (on) stretch_ = false;
    update();
}

void TPMultiImage::setText(const QString& text) {
    if (text_ == text) return;
    text_ = text;
    update();
}

void TPMultiImage::setTextShadow(bool on) {
    if (textShadow_ == on) return;
    textShadow_ = on;
    update();
}

void TPMultiImage::setTextLeft(int left) {
    if (textLeft_ == left) return;
    textLeft_ = left;
    update();
}

void TPMultiImage::setTextTop(int top) {
    if (textTop_ == top) return;
    textTop_ = top;
    update();
}

void TPMultiImage::setTextRotate(int degrees) {
    if (textRotate_ == degrees) return;
    textRotate_ = degrees;
    update();
}

void TPMultiImage::setTextTransParent(bool on) {
    if (textTransparent_ == on) return;
    textTransparent_ = on;
    update();
}

// ---- the picture -----------------------------------------------------------------------------

void TPMultiImage::setPicture(const pixmoor::Picture& picture) {
    picture_ = picture;
    pictureChanged();
}

void TPMultiImage::setPicture(pixmoor::Picture&& picture) {
    picture_ = std::move(picture);
    pictureChanged();
}

void TPMultiImage::setBitmap(const QImage& image) {
    loader_.setBitmap(image);
}

void TPMultiImage::pictureChanged() {
    paintCache_ = QPixmap();
    const int pw = picture_.width();
    const int ph = picture_.height();
    if (autoSize_ && pw > 0 && ph > 0) setGeometry(x(), y(), pw, ph);
    // A bitmap covering the whole control needs no background first (unless it is translucent).
    const bool opaque = picture_.isBitmap() && pw == width() && ph == height() &&
                        !picture_.bitmap().hasAlphaChannel();
    setAttribute(Qt::WA_OpaquePaintEvent, opaque);
    update();
}

void TPMultiImage::endMessageModes(bool restoreColour) {
    if (message_.active() && restoreColour) color_ = colourBeforeMessage_;
    message_.stop();
}

void TPMultiImage::ClearImage() {
    loader_.clearPicture();
}

QList<QRgb> TPMultiImage::GetPalette() const {
    if (codecPalette_ || !picture_.isBitmap()) return {};
    return picture_.bitmap().colorTable();
}

// ---- saving ----------------------------------------------------------------------------------

void TPMultiImage::SaveAsBMP(const QString& FileName) {
    save(codec::ImageFormat::Bmp, FileName);
}
void TPMultiImage::SaveAsPNG(const QString& FileName) {
    save(codec::ImageFormat::Png, FileName);
}
void TPMultiImage::SaveAsJPG(const QString& FileName) {
    save(codec::ImageFormat::Jpeg, FileName);
}
void TPMultiImage::SaveAsGIF(const QString& FileName) {
    save(codec::ImageFormat::Gif, FileName);
}
void TPMultiImage::SaveAsTIF(const QString& FileName) {
    save(codec::ImageFormat::Tiff, FileName);
}
void TPMultiImage::SaveAsPCX(const QString& FileName) {
    save(codec::ImageFormat::Pcx, FileName);
}

// ---- painting --------------------------------------------------------------------------------

void TPMultiImage::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (borderStyle_ == bsSingle) {
        painter.setPen(palette().color(QPalette::Shadow));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
    const QRect client = contentsRect();
    painter.translate(client.topLeft());
    painter.setClipRect(QRect(QPoint(0, 0), client.size()));
    if (!testAttribute(Qt::WA_OpaquePaintEvent))
        painter.fillRect(QRect(QPoint(0, 0), client.size()), color_);

    const bool frameworkPath =
        picture_.drawsItself() || loader_.infoOfDrawnPicture() || !codecPalette_;
    if (frameworkPath)
        paintFramework(painter, client);
    else
        paintPalette(painter, client);

    if (message_.active() && !message_.strip().isNull())
        painter.drawImage(message_.x(), message_.y(), message_.strip());

    if (!text_.isEmpty()) paintText(painter);
    if (OnPaint) OnPaint(*this, painter);
}

void TPMultiImage::paintFramework(QPainter& painter, const QRect& client) {
    if (picture_.isEmpty()) return;
    const int pw = picture_.width();
    const int ph = picture_.height();
    QRect target;
    if (stretch_)
        target = QRect(0, 0, client.width(), client.height());
    else if (center_) // the outer size here, unlike the palette path
        target = QRect((width() - pw) / 2, (height() - ph) / 2, pw, ph);
    else
        target = QRect(0, 0, pw, ph);
    picture_.draw(painter, target, loader_.ImageReadRes() == lMonoChrome);
}

void TPMultiImage::paintPalette(QPainter& painter, const QRect& client) {
    if (!picture_.isBitmap() || picture_.bitmap().isNull()) return;
    const QImage& bitmap = picture_.bitmap();
    const int cw = client.width();
    const int ch = client.height();
    const int pw = bitmap.width();
    const int ph = bitmap.height();
    QRect target;
    if (stretchRatio_)
        target = stretchRatioRect(cw, ch, pw, ph);
    else if (stretch_)
        target = QRect(0, 0, cw, ch);
    else if (center_)
        target = QRect((cw - pw) / 2, (ch - ph) / 2, pw, ph);
    else
        target = QRect(0, 0, pw, ph);

    // The converted pixmap is kept between paints: an indexed bitmap is otherwise converted
    // again on every repaint of a scrolled viewer.
    if (paintCache_.isNull()) paintCache_ = QPixmap::fromImage(bitmap);
    // Colour pictures are scaled by dropping or repeating pixels; only black-and-white
    // pictures are smoothed (where dropping lines would lose thin strokes).
    painter.setRenderHint(QPainter::SmoothPixmapTransform, loader_.ImageReadRes() == lMonoChrome);
    if (!stretchRatio_ && !stretch_)
        painter.drawPixmap(target.topLeft(), paintCache_);
    else
        painter.drawPixmap(target, paintCache_, paintCache_.rect());
}

void TPMultiImage::paintText(QPainter& painter) {
    const QFont f = font();
    const QFontMetrics metrics(f);
    painter.save();
    painter.setFont(f);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    // (x, y) is the top-left of the text cell; the rotation turns counter-clockwise about it.
    auto write = [&](int x, int y, const QColor& colour) {
        painter.save();
        painter.translate(x, y);
        painter.rotate(-textRotate_);
        if (!textTransparent_)
            painter.fillRect(QRect(0, 0, metrics.horizontalAdvance(text_), metrics.height()),
                             color_);
        painter.setPen(colour);
        painter.drawText(0, metrics.ascent(), text_);
        painter.restore();
    };
    if (textShadow_) write(textLeft_ + 2, textTop_ + 2, textShadowColor_);
    write(textLeft_, textTop_, FontColor());
    painter.restore();
}

// ---- scrolling messages ----------------------------------------------------------------------

void TPMultiImage::ShowMessageFile(const QString& FileName) {
    const bool wasShowing = message_.active();
    message_.startFile(FileName, contentsRect().size()); // throws before anything changes
    picture_.clear();
    pictureChanged();
    if (!wasShowing) colourBeforeMessage_ = color_;
    color_ = message_.background();
    update();
}

void TPMultiImage::ShowMessageList(const QString& FileName) {
    const bool wasShowing = message_.active();
    message_.startList(FileName, contentsRect().size());
    picture_.clear();
    pictureChanged();
    if (!wasShowing) colourBeforeMessage_ = color_;
    color_ = message_.background();
    update();
}

void TPMultiImage::showMessage(const QString& FileName, bool list) {
    if (list)
        ShowMessageList(FileName);
    else
        ShowMessageFile(FileName);
}

void TPMultiImage::stepMessage(int message) {
    const auto mode = message == kHorizontalStepMessage ? ScrollingMessage::Mode::Horizontal
                      : message == kVerticalStepMessage ? ScrollingMessage::Mode::Vertical
                                                        : ScrollingMessage::Mode::None;
    if (message_.tick(mode)) update();
}

} // namespace pixmoor
