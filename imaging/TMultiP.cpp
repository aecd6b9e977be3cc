// The image component TPMultiImage: load dispatch by extension, image information, saving,
// painting, text overlay and the scrolling message display. The clipboard and the keys that
// reach it are in TMultiP_clipboard.cpp, printing in TMultiP_print.cpp.
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

#include <sys/stat.h>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>
#include <sys/stat.h>

// The bitmap resources live in a static library: make sure its initialiser is linked and run.
static void initBitmapResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(imaging_resources);
        return true;
    }();
    (void)done;
}

namespace pixmoor {

namespace {

const QString kFileNotFound = QStringLiteral("file not found");
const QString kNotCodecImage = QStringLiteral("Non TIF, JPeg, BMP, GIF, PNG or PCX Image");

// ASCII upper case, as the extension rules and the load status use it.
QString asciiUpper(const QString& text) {
    QString out = text;
    for (QChar& c : out)
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z')) c = QChar(c.unicode() - 32);
    return out;
}

bool fileExists(const QString& name) {
    struct stat st {};
    return ::stat(pixmoor::encodeFileName(name).constData(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// The name as the codec library takes it: the bytes the file system knows it by.
std::string codecName(const QString& name) {
    return pixmoor::nativePath(name);
}

// File length in bytes (capped to the 32-bit field); throws when the file cannot be opened.
std::int32_t fileLength(const QString& name) {
    QFile file;
    QString error;
    if (!openImageFile(file, name, error))
        throw std::runtime_error("Cannot open file " + name.toStdString() + ": " +
                                 error.toStdString());
    const qint64 size = file.size();
    return size > std::numeric_limits<std::int32_t>::max()
               ? std::numeric_limits<std::int32_t>::max()
               : std::int32_t(size);
}

// The codec's error box for a failed call on file.
void showCodecError(int result, const QString& file) {
    showError(QString::fromUtf8(codec::errorText(result)), nullptr, fileDetail(file));
}

double roundHalfEven(double v) {
    const double floor = std::floor(v);
    const double diff = v - floor;
    if (diff < 0.5) return floor;
    if (diff > 0.5) return floor + 1.0;
    return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

// Bits of an uncompressed DIB of this image: its header, colour table and pixel rows.
std::int32_t dibSize(const QImage& image) {
    if (image.isNull()) return 0;
    int bits = 24;
    int colours = 0;
    if (image.format() == QImage::Format_Indexed8 || image.format() == QImage::Format_Mono ||
        image.format() == QImage::Format_MonoLSB) {
        colours = int(image.colorCount());
        bits = colours <= 2 ? 1 : colours <= 16 ? 4 : 8;
    }
    const qint64 stride = ((qint64(image.width()) * bits + 31) / 32) * 4;
    const qint64 total = 40 + qint64(colours) * 4 + stride * image.height();
    return total > std::numeric_limits<std::int32_t>::max()
               ? std::numeric_limits<std::int32_t>::max()
               : std::int32_t(total);
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

int DeviceColorBits(int bitsPerPixel) {
    if (bitsPerPixel <= 4) return 4;
    if (bitsPerPixel < 16) return 8;
    return 24;
}

int DeviceColorBits(const QPaintDevice* device) {
    if (device) return DeviceColorBits(device->depth());
    const QScreen* screen = QGuiApplication::primaryScreen();
    return DeviceColorBits(screen ? screen->depth() : 24);
}

int loadResolutionBits(TLoadResolution res, int displayBits) {
    switch (res) {
    case lColorVga:
        return 0;
    case lMonoChrome:
        return 1;
    case lColor16:
        return 4;
    case lColor256:
        return 8;
    case lColorTrue:
        return 24;
    case lAutoMatic:
        return displayBits;
    }
    return displayBits;
}

int saveResolutionBits(TSaveResolution res, codec::ImageFormat format, int displayBits) {
    const codec::FormatEntry& entry = codec::formatEntry(format);
    int bits = displayBits;
    switch (res) {
    case sColorVga:
        bits = 0;
        break;
    case sMonoChrome:
        bits = 1;
        break;
    case sColor16:
        bits = 4;
        break;
    case sColor256:
        bits = 8;
        break;
    case sColorTrue:
        bits = 24;
        break;
    case sJpegGray:
        bits = entry.greyDepth;
        break;
    case sAutoMatic:
        break;
    }
    // A depth the format does not store becomes the deepest it does.
    return codec::storedDepth(entry, bits);
}

int tiffCompressionCode(TTiffCompression compression) {
    switch (compression) {
    case sNONE:
        return codec::TiffNone;
    case sCCITT:
        return codec::TiffCcitt;
    case sLZW:
        return codec::TiffLzw;
    case sPACKBITS:
        return codec::TiffPackBits;
    }
    return codec::TiffNone;
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

void TPMultiImage::setJPegSaveQuality(int quality) {
    jpegQuality_ = quality >= 1 && quality <= 100 ? quality : 25;
}

void TPMultiImage::setJPegSaveSmooth(int smooth) {
    // A byte in the property: only values above 100 are out of range.
    jpegSmooth_ = smooth >= 0 && smooth <= 100 ? smooth : 5;
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
    if (image.isNull())
        picture_.clear();
    else
        picture_.setBitmap(image);
    pictureChanged();
}

void TPMultiImage::pictureChanged() {
    paintCache_ = QPixmap();
    const int pw = picture_.width();
    const int ph = picture_.height();
    if (autoSize_ && pw > 0 && ph > 0) setGeometry(x(), y(), pw, ph);
    // A bitmap covering the whole control needs no background first (unless it is translucent).
    const bool opaque = picture_.kind() == pixmoor::Picture::Kind::Bitmap && pw == width() &&
                        ph == height() && !picture_.bitmap().hasAlphaChannel();
    setAttribute(Qt::WA_OpaquePaintEvent, opaque);
    update();
}

void TPMultiImage::endMessageModes(bool restoreColour) {
    if (message_.active() && restoreColour) color_ = colourBeforeMessage_;
    message_.stop();
}

void TPMultiImage::ClearImage() {
    endMessageModes(true);
    picture_.clear();
    pictureChanged();
}

QList<QRgb> TPMultiImage::GetPalette() const {
    if (codecPalette_ || picture_.kind() != pixmoor::Picture::Kind::Bitmap) return {};
    return picture_.bitmap().colorTable();
}

// ---- loading ---------------------------------------------------------------------------------

void TPMultiImage::setImageName(const QString& name) {
    load(name, 0, QSize());
}

QString TPMultiImage::ImageName() {
    load(imageName_, 0, QSize());
    return loadStatus_;
}

void TPMultiImage::loadForSize(const QString& name, QSize target) {
    load(name, 1, target);
}

// jpegScale 0: the plain load; otherwise the thumbnail load that picks a scale for target.
void TPMultiImage::load(const QString& name, int jpegScale, QSize target) {
    imageName_ = name;
    const FileType type = fileTypeOf(name);
    if (type.kind != FileKind::Resource && !fileExists(name)) {
        picture_.clear();
        pictureChanged();
        loadStatus_ = kFileNotFound;
        return;
    }
    const int bits = loadResolutionBits(readRes_, displayBits());
    const int dither = imageDither_ ? 1 : 0;

    switch (type.kind) {
    case FileKind::Metafile:
    case FileKind::Icon:
        ClearImage();
        picture_.loadFromFile(name); // a PictureError goes to the caller, the picture empty
        pictureChanged();
        loadStatus_ = kNotCodecImage;
        ReadImageInfo(name);
        return;
    case FileKind::MessageFile:
    case FileKind::MessageList: {
        ClearImage();
        bool shown = true;
        try {
            if (type.kind == FileKind::MessageFile)
                ShowMessageFile(name);
            else
                ShowMessageList(name);
        } catch (const std::exception&) {
            picture_.clear();
            pictureChanged();
            shown = false;
        }
        if (shown) ReadImageInfo(name);
        loadStatus_ = asciiUpper(name);
        return;
    }
    case FileKind::Image:
    case FileKind::Resource:
        break;
    case FileKind::Unknown:
        loadStatus_ = asciiUpper(name);
        return;
    }

    const bool resource = type.kind == FileKind::Resource;
    const bool scaled = !resource && codec::formatEntry(type.format).scaledDecoding;
    ClearImage();
    if (!resource) {
        try {
            const std::string file = codecName(name);
            // The thumbnail load reads the header once: its size picks the scale of a format
            // that decodes at reduced sizes, and the same answer fills ImageInfo afterwards.
            codec::ImageInfo early;
            int earlyResult = 0;
            if (jpegScale != 0) {
                earlyResult = codec::imageInfo(file, early);
                if (scaled && codec::succeeded(earlyResult))
                    jpegScale = codec::jpegScaleCovering(early.width, early.height, target.width(),
                                                         target.height());
            }
            codec::Raster raster;
            const int result =
                jpegScale > 1 ? codec::readAs(type.format, file, bits, jpegScale, dither, raster)
                              : decodeImageFile(type.format, file, bits, dither, raster);
            installDecoded(name, type.format, result, std::move(raster), earlyResult,
                           jpegScale != 0 ? &early : nullptr);
        } catch (...) {
            // Whatever failed inside leaves an empty picture and no message.
            picture_.clear();
            pictureChanged();
        }
        loadStatus_ = asciiUpper(name);
        return;
    }
    try {
        QImage image;
        if (!loadResource(name, image))
            showInformation(QStringLiteral("Reading resource file failed"), nullptr,
                            fileDetail(name));
        setBitmap(image);
        ReadImageInfo(name);
    } catch (...) {
        picture_.clear();
        pictureChanged();
    }
    loadStatus_ = asciiUpper(name);
}

int TPMultiImage::decodeImageFile(codec::ImageFormat format, const std::string& file, int bits,
                                  int dither, codec::Raster& out) {
    return codec::readAs(format, file, bits, 1, dither, out);
}

void TPMultiImage::setDecodedImage(const QString& name, int result, codec::Raster&& raster) {
    const FileType type = fileTypeOf(name);
    if (type.kind != FileKind::Image || !fileExists(name)) {
        load(name, 0, QSize());
        return;
    }
    imageName_ = name;
    ClearImage();
    try {
        installDecoded(name, type.format, result, std::move(raster), 0, nullptr);
    } catch (...) {
        picture_.clear();
        pictureChanged();
    }
    loadStatus_ = asciiUpper(name);
}

void TPMultiImage::setUnreadableImage(const QString& name) {
    const FileType type = fileTypeOf(name);
    imageName_ = name;
    ClearImage();
    if (type.kind == FileKind::Image) {
        try {
            const codec::ImageInfo unread;
            installDecoded(name, type.format, codec::ReadFailed, codec::Raster{}, codec::ReadFailed,
                           &unread, false);
        } catch (...) {
            picture_.clear();
            pictureChanged();
        }
    }
    loadStatus_ = asciiUpper(name);
}

// info: the header already read for the thumbnail load (with its result), else null and the
// information is read now. Throws what ReadImageInfo throws.
void TPMultiImage::installDecoded(const QString& name, codec::ImageFormat format, int result,
                                  codec::Raster&& raster, int infoResult,
                                  const codec::ImageInfo* info, bool readSize) {
    QImage image = rasterToImage(std::move(raster));
    if (!codec::succeeded(result)) {
        showCodecError(result, name);
        showInformation(QStringLiteral("Reading %1 file failed").arg(usualExtension(format)),
                        nullptr, fileDetail(name));
    }
    setBitmap(image);
    if (info)
        applyCodecInfo(name, infoResult, *info, readSize);
    else
        ReadImageInfo(name);
}

// A bitmap compiled into the program: ":/bitmaps/<NAME>.bmp" by name (case-insensitive, as
// resource names are) or ":/bitmaps/<number>.bmp" by number.
bool TPMultiImage::loadResource(const QString& name, QImage& out) {
    qsizetype start = 0;
    for (QChar sep : {QLatin1Char('/'), QLatin1Char('\\'), QLatin1Char(':')})
        start = std::max(start, name.lastIndexOf(sep) + 1);
    QString id = name.mid(start, 64);
    const qsizetype dot = id.indexOf(QLatin1Char('.'));
    if (dot >= 0) id.truncate(dot);
    if (id.isEmpty()) return false;
    bool isNumber = false;
    const qulonglong number = id.toULongLong(&isNumber, 10);
    const QString path = isNumber ? QStringLiteral(":/bitmaps/%1.bmp").arg(number)
                                  : QStringLiteral(":/bitmaps/%1.bmp").arg(asciiUpper(id));
    initBitmapResources();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    QImage image;
    if (!image.loadFromData(file.readAll(), "BMP")) return false;
    out = image;
    return true;
}

bool TPMultiImage::applyCodecInfo(const QString& fileName, int result, const codec::ImageInfo& ci,
                                  bool readSize) {
    const bool ok = codec::succeeded(result);
    if (!ok) showCodecError(result, fileName);
    info_.InfoFormat = QString::fromStdString(ci.format);
    info_.InfoWidth = ci.width;
    info_.InfoHeight = ci.height;
    info_.InfoValue1 = ci.bitsPerPixel;
    info_.InfoValue2 = ci.colours;
    info_.InfoValue3 = ci.pages;
    info_.InfoDetail = QString::fromStdString(ci.detail);
    info_.InfoSize = readSize ? fileLength(fileName) : -1;
    return ok;
}

bool TPMultiImage::ReadImageInfo(const QString& FileName) {
    const FileKind kind = fileTypeOf(FileName).kind;
    if (kind == FileKind::Resource) {
        info_.InfoFormat = QStringLiteral("RES");
        info_.InfoWidth = picture_.width();
        info_.InfoHeight = picture_.height();
        info_.InfoValue1 = info_.InfoValue2 = info_.InfoValue3 = 0;
        info_.InfoDetail = QStringLiteral("BMP");
        info_.InfoSize = dibSize(picture_.bitmap());
        return true;
    }
    if (kind == FileKind::Metafile || kind == FileKind::Icon || kind == FileKind::MessageFile ||
        kind == FileKind::MessageList) {
        if (fileExists(FileName)) {
            info_.InfoFormat = info_.InfoDetail = loadExtension(FileName).mid(1);
            info_.InfoWidth = picture_.width();
            info_.InfoHeight = picture_.height();
            info_.InfoValue1 = info_.InfoValue2 = info_.InfoValue3 = 0;
            info_.InfoSize = fileLength(FileName);
            return true;
        }
        info_.InfoFormat = info_.InfoDetail = QStringLiteral("ERR");
        info_.InfoWidth = info_.InfoHeight = -1;
        info_.InfoValue1 = info_.InfoValue2 = info_.InfoValue3 = -1;
        info_.InfoSize = -1;
        return false;
    }
    codec::ImageInfo ci;
    const int result = codec::imageInfo(codecName(FileName), ci);
    return applyCodecInfo(FileName, result, ci);
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

void TPMultiImage::save(codec::ImageFormat format, const QString& fileName) {
    const int bits = saveResolutionBits(writeRes_, format, displayBits());
    if (!fileName.isEmpty()) defSaveFilename_ = fileName;
    // Only a bitmap can be encoded: an icon or metafile gives way to an empty bitmap.
    if (picture_.kind() == pixmoor::Picture::Kind::Icon ||
        picture_.kind() == pixmoor::Picture::Kind::Metafile) {
        picture_.clear();
        pictureChanged();
    }
    const QString failed = QStringLiteral("Writing %1 file failed").arg(usualExtension(format));
    try {
        const codec::Raster raster = imageToRaster(picture_.bitmap());
        codec::WriteOptions options;
        options.bits = bits;
        options.quality = jpegQuality_;
        options.smoothing = jpegSmooth_;
        options.interlace = pngInterlaced_ ? 1 : 0;
        options.compression = tiffCompressionCode(tifCompress_);
        const int result = codec::writeImage(format, codecName(defSaveFilename_), options, raster);
        if (!codec::succeeded(result)) {
            showCodecError(result, defSaveFilename_);
            showInformation(failed, nullptr, fileDetail(defSaveFilename_));
        }
    } catch (const std::bad_alloc&) {
        showCodecError(codec::OutOfMemory, defSaveFilename_);
        showInformation(failed, nullptr, fileDetail(defSaveFilename_));
    } catch (const std::exception& e) {
        showError(QString::fromUtf8(e.what()), nullptr, fileDetail(defSaveFilename_));
        showInformation(failed, nullptr, fileDetail(defSaveFilename_));
    }
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

    const bool frameworkPath = picture_.kind() == pixmoor::Picture::Kind::Icon ||
                               picture_.kind() == pixmoor::Picture::Kind::Metafile ||
                               info_.InfoFormat == QLatin1String("ICO") ||
                               info_.InfoFormat == QLatin1String("WMF") || !codecPalette_;
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
    picture_.draw(painter, target, readRes_ == lMonoChrome);
}

void TPMultiImage::paintPalette(QPainter& painter, const QRect& client) {
    if (picture_.kind() != pixmoor::Picture::Kind::Bitmap || picture_.bitmap().isNull()) return;
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
    painter.setRenderHint(QPainter::SmoothPixmapTransform, readRes_ == lMonoChrome);
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

void TPMultiImage::stepMessage(int message) {
    const auto mode = message == kHorizontalStepMessage ? ScrollingMessage::Mode::Horizontal
                      : message == kVerticalStepMessage ? ScrollingMessage::Mode::Vertical
                                                        : ScrollingMessage::Mode::None;
    if (message_.tick(mode)) update();
}

} // namespace pixmoor
