// The image loader: load dispatch by extension (codec images, icons, metafiles, the built-in
// bitmap resources and scrolling message files), image information and saving.
#include "imaging/image_loader.h"

#include "imaging/codec/codec.h"
#include "imaging/codec/errors.h"
#include "imaging/file_types.h"
#include "imaging/image_file.h"
#include "imaging/raster_image.h"
#include "platform/file_name.h"
#include "platform/message_box.h"

#include <QFile>
#include <QGuiApplication>
#include <QPaintDevice>
#include <QScreen>
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

// ---- settings --------------------------------------------------------------------------------

ImageLoader::ImageLoader(View* view) : view_(view) {}

int ImageLoader::displayBits() const {
    return view_ ? view_->displayBits() : DeviceColorBits(nullptr);
}

int ImageLoader::decodeBits() const {
    return loadResolutionBits(readRes_, displayBits());
}

int ImageLoader::decodeDither() const {
    return imageDither_ ? 1 : 0;
}

void ImageLoader::setJPegSaveQuality(int quality) {
    jpegQuality_ = quality >= 1 && quality <= 100 ? quality : 25;
}

void ImageLoader::setJPegSaveSmooth(int smooth) {
    // A byte in the property: only values above 100 are out of range.
    jpegSmooth_ = smooth >= 0 && smooth <= 100 ? smooth : 5;
}

// ---- the picture -----------------------------------------------------------------------------

void ImageLoader::changed() {
    if (view_) view_->pictureChanged();
}

void ImageLoader::clearPicture() {
    if (view_) view_->endMessages();
    picture_.clear();
    changed();
}

void ImageLoader::setBitmap(const QImage& image) {
    if (image.isNull())
        picture_.clear();
    else
        picture_.setBitmap(image);
    changed();
}

void ImageLoader::showMessage(const QString& name, bool list) {
    if (!view_) throw std::runtime_error("No display for scrolling messages");
    view_->showMessage(name, list);
}

// ---- loading ---------------------------------------------------------------------------------

void ImageLoader::setImageName(const QString& name) {
    load(name, 0, QSize());
}

QString ImageLoader::ImageName() {
    load(imageName_, 0, QSize());
    return loadStatus_;
}

void ImageLoader::loadForSize(const QString& name, QSize target) {
    load(name, 1, target);
}

// jpegScale 0: the plain load; otherwise the thumbnail load that picks a scale for target.
void ImageLoader::load(const QString& name, int jpegScale, QSize target) {
    imageName_ = name;
    const PictureType* type = pictureTypeOf(name);
    if (!(type && type->builtIn) && !fileExists(name)) {
        picture_.clear();
        changed();
        loadStatus_ = kFileNotFound;
        return;
    }
    if (!type) {
        loadStatus_ = asciiUpper(name);
        return;
    }
    (this->*type->load)(*type, name, jpegScale, target);
}

void ImageLoader::loadDrawnPicture(const PictureType&, const QString& name, int, QSize) {
    clearPicture();
    picture_.loadFromFile(name); // a PictureError goes to the caller, the picture empty
    changed();
    loadStatus_ = kNotCodecImage;
    ReadImageInfo(name);
}

void ImageLoader::loadMessageFile(const PictureType& type, const QString& name, int, QSize) {
    clearPicture();
    bool shown = true;
    try {
        showMessage(name, type.messageList);
    } catch (const std::exception&) {
        picture_.clear();
        changed();
        shown = false;
    }
    if (shown) ReadImageInfo(name);
    loadStatus_ = asciiUpper(name);
}

void ImageLoader::loadCodecImage(const PictureType& type, const QString& name, int jpegScale,
                                 QSize target) {
    const int bits = decodeBits();
    const int dither = decodeDither();
    const codec::ImageFormat format = type.codec->format;
    clearPicture();
    try {
        const std::string file = codecName(name);
        // The thumbnail load reads the header once: its size picks the scale of a format
        // that decodes at reduced sizes, and the same answer fills ImageInfo afterwards.
        codec::ImageInfo early;
        int earlyResult = 0;
        if (jpegScale != 0) {
            earlyResult = codec::imageInfo(file, early);
            if (type.codec->scaledDecoding && codec::succeeded(earlyResult))
                jpegScale = codec::jpegScaleCovering(early.width, early.height, target.width(),
                                                     target.height());
        }
        codec::Raster raster;
        const int result = jpegScale > 1
                               ? codec::readAs(format, file, bits, jpegScale, dither, raster)
                               : decodeImageFile(format, file, bits, dither, raster);
        installDecoded(name, format, result, rasterToImage(std::move(raster)), earlyResult,
                       jpegScale != 0 ? &early : nullptr);
    } catch (...) {
        // Whatever failed inside leaves an empty picture and no message.
        picture_.clear();
        changed();
    }
    loadStatus_ = asciiUpper(name);
}

void ImageLoader::loadResourceBitmap(const PictureType&, const QString& name, int, QSize) {
    clearPicture();
    try {
        QImage image;
        if (!loadResource(name, image))
            showInformation(QStringLiteral("Reading resource file failed"), nullptr,
                            fileDetail(name));
        setBitmap(image);
        ReadImageInfo(name);
    } catch (...) {
        picture_.clear();
        changed();
    }
    loadStatus_ = asciiUpper(name);
}

int ImageLoader::decodeImageFile(codec::ImageFormat format, const std::string& file, int bits,
                                 int dither, codec::Raster& out) {
    return codec::readAs(format, file, bits, 1, dither, out);
}

void ImageLoader::setDecodedImage(const QString& name, int result, codec::Raster&& raster) {
    setDecodedImage(name, result, rasterToImage(std::move(raster)));
}

void ImageLoader::setDecodedImage(const QString& name, int result, const QImage& image) {
    const std::optional<codec::ImageFormat> format = codecFormatOf(name);
    if (!format || !fileExists(name)) {
        load(name, 0, QSize());
        return;
    }
    imageName_ = name;
    clearPicture();
    try {
        installDecoded(name, *format, result, image, 0, nullptr);
    } catch (...) {
        picture_.clear();
        changed();
    }
    loadStatus_ = asciiUpper(name);
}

void ImageLoader::setUnreadableImage(const QString& name) {
    const std::optional<codec::ImageFormat> format = codecFormatOf(name);
    imageName_ = name;
    clearPicture();
    if (format) {
        try {
            const codec::ImageInfo unread;
            installDecoded(name, *format, codec::ReadFailed, QImage(), codec::ReadFailed, &unread,
                           false);
        } catch (...) {
            picture_.clear();
            changed();
        }
    }
    loadStatus_ = asciiUpper(name);
}

// info: the header already read for the thumbnail load (with its result), else null and the
// information is read now. Throws what ReadImageInfo throws.
void ImageLoader::installDecoded(const QString& name, codec::ImageFormat format, int result,
                                 const QImage& image, int infoResult, const codec::ImageInfo* info,
                                 bool readSize) {
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
bool ImageLoader::loadResource(const QString& name, QImage& out) {
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
    int result = codec::Ok;
    QImage image = bmpDataToImage(file.readAll(), result);
    if (image.isNull()) return false;
    out = image;
    return true;
}

bool ImageLoader::applyCodecInfo(const QString& fileName, int result, const codec::ImageInfo& ci,
                                 bool readSize) {
    const bool ok = codec::succeeded(result);
    if (!ok) showCodecError(result, fileName);
    drawnInfo_ = false;
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

bool ImageLoader::ReadImageInfo(const QString& FileName) {
    // A name of no known type is asked of the codec, which reads the file's signature.
    const PictureType* type = pictureTypeOf(FileName);
    return (this->*(type ? type->readInfo : &ImageLoader::readCodecInfo))(FileName);
}

bool ImageLoader::readResourceInfo(const QString&) {
    drawnInfo_ = false;
    info_.InfoFormat = QStringLiteral("RES");
    info_.InfoWidth = picture_.width();
    info_.InfoHeight = picture_.height();
    info_.InfoValue1 = info_.InfoValue2 = info_.InfoValue3 = 0;
    info_.InfoDetail = QStringLiteral("BMP");
    info_.InfoSize = dibSize(picture_.bitmap());
    return true;
}

// The types the codec does not read describe themselves: the extension, the picture's size and
// the file's length.
bool ImageLoader::readOwnInfo(const QString& FileName) {
    drawnInfo_ = false;
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

bool ImageLoader::readDrawnInfo(const QString& FileName) {
    drawnInfo_ = readOwnInfo(FileName);
    return drawnInfo_;
}

bool ImageLoader::readCodecInfo(const QString& FileName) {
    codec::ImageInfo ci;
    const int result = codec::imageInfo(codecName(FileName), ci);
    return applyCodecInfo(FileName, result, ci);
}

codec::WriteOptions ImageLoader::writeOptions(codec::ImageFormat format) const {
    codec::WriteOptions options;
    options.bits = saveResolutionBits(writeRes_, format, displayBits());
    options.quality = jpegQuality_;
    options.smoothing = jpegSmooth_;
    options.interlace = pngInterlaced_ ? 1 : 0;
    options.compression = tiffCompressionCode(tifCompress_);
    return options;
}

template <typename Write>
void ImageLoader::saveWith(codec::ImageFormat format, const QString& fileName, Write&& write) {
    if (!fileName.isEmpty()) defSaveFilename_ = fileName;
    // Only a bitmap can be encoded: an icon or metafile gives way to an empty bitmap.
    if (picture_.drawsItself()) {
        picture_.clear();
        changed();
    }
    const QString failed = QStringLiteral("Writing %1 file failed").arg(usualExtension(format));
    try {
        const int result = write(codecName(defSaveFilename_));
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

void ImageLoader::save(codec::ImageFormat format, const QString& fileName) {
    const codec::WriteOptions options = writeOptions(format);
    saveWith(format, fileName, [&](const std::string& file) {
        return codec::writeImage(format, file, options, imageToRaster(picture_.bitmap()));
    });
}

void ImageLoader::saveEncoded(codec::ImageFormat format, const QString& fileName,
                              const codec::EncodedImage& encoded) {
    saveWith(format, fileName,
             [&](const std::string& file) { return codec::writeEncoded(file, encoded); });
}

} // namespace pixmoor
