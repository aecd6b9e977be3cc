// The table of picture types (see file_types.h), over the codec's format table.
#include "imaging/file_types.h"

#include "imaging/image_loader.h"

#include <vector>

namespace pixmoor {

namespace {

QString asciiUpper(const QString& text) {
    QString out = text;
    for (QChar& c : out)
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z')) c = QChar(c.unicode() - 32);
    return out;
}

// The families of types, by the loader's steps for them.
struct Family {
    void (ImageLoader::*load)(const PictureType&, const QString&, int, QSize);
    bool (ImageLoader::*readInfo)(const QString&);
};

// The types the picture adds to the codec's formats, by their 4-character load extension, and
// the codec's formats themselves (the same families, in the order of the codec's table).
struct Types {
    struct Named {
        const char* extension;
        PictureType type;
    };
    std::vector<Named> named;
    std::vector<PictureType> codec;
};

} // namespace

// The loader's steps are its own: the table is made here, where it may name them.
const PictureType* pictureTypeOf(const QString& fileName) {
    static const Family codecBitmap{&ImageLoader::loadCodecImage, &ImageLoader::readCodecInfo};
    static const Family drawn{&ImageLoader::loadDrawnPicture, &ImageLoader::readDrawnInfo};
    static const Family resource{&ImageLoader::loadResourceBitmap, &ImageLoader::readResourceInfo};
    static const Family messages{&ImageLoader::loadMessageFile, &ImageLoader::readOwnInfo};
    static const Types types = [] {
        auto make = [](const Family& f, const codec::FormatEntry* format = nullptr,
                       bool builtIn = false, bool list = false) {
            return PictureType{f.load, f.readInfo, format, builtIn, list};
        };
        Types t;
        t.named = {
            {".THB", make(codecBitmap, &codec::formatEntry(codec::ImageFormat::Bmp))},
            {".THJ", make(codecBitmap, &codec::formatEntry(codec::ImageFormat::Jpeg))},
            {".ICO", make(drawn)},
            {".WMF", make(drawn)},
            {".RES", make(resource, nullptr, true)},
            {".SCM", make(messages)},
            {".CMS", make(messages, nullptr, false, true)},
        };
        for (const codec::FormatEntry& entry : codec::formatTable())
            t.codec.push_back(make(codecBitmap, &entry));
        return t;
    }();
    const QString ext = loadExtension(fileName);
    if (ext.isEmpty()) return nullptr;
    for (const Types::Named& n : types.named)
        if (ext == QLatin1String(n.extension)) return &n.type;
    const QByteArray bare = ext.mid(1).toLatin1();
    if (const codec::FormatEntry* entry =
            codec::formatForExtension(std::string_view(bare.constData(), std::size_t(bare.size()))))
        return &types.codec[std::size_t(entry->format)];
    return nullptr;
}

std::optional<codec::ImageFormat> codecFormatOf(const QString& fileName) {
    const PictureType* type = pictureTypeOf(fileName);
    if (type && type->codec) return type->codec->format;
    return std::nullopt;
}

namespace {} // namespace

QString loadExtension(const QString& fileName) {
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0) return {};
    const qsizetype slash = fileName.lastIndexOf(QLatin1Char('/'));
    if (slash > dot) return {};
    return asciiUpper(fileName.mid(dot, 4));
}

QString usualExtension(codec::ImageFormat format) {
    const std::string_view ext = codec::formatEntry(format).extensions[0];
    return QString::fromLatin1(ext.data(), qsizetype(ext.size()));
}

std::span<const CatalogueType> catalogueTypeTable() {
    using codec::formatEntry;
    using codec::ImageFormat;
    static const CatalogueType types[] = {
        {"bmp", &formatEntry(ImageFormat::Bmp), 0, false, false, false},
        {"gif", &formatEntry(ImageFormat::Gif), 0, false, false, false},
        {"ico", nullptr, kIconBitmapSide, true, true, false},
        {"jpg", &formatEntry(ImageFormat::Jpeg), 0, false, false, false},
        {"pcx", &formatEntry(ImageFormat::Pcx), 0, false, false, false},
        {"png", &formatEntry(ImageFormat::Png), 0, false, false, false},
        {"tif", &formatEntry(ImageFormat::Tiff), 0, false, false, false},
        {"wmf", nullptr, kMetafileBitmapSide, false, false, true},
    };
    return types;
}

const CatalogueType* catalogueTypeNamed(const QString& name) {
    for (const CatalogueType& type : catalogueTypeTable())
        if (name == QLatin1String(type.name)) return &type;
    return nullptr;
}

QStringList catalogueTypes() {
    QStringList names;
    for (const CatalogueType& type : catalogueTypeTable()) names << QLatin1String(type.name);
    return names;
}

bool matchesCatalogueType(const QString& fileName, const QString& type) {
    if (type.isEmpty()) return false;
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0) return false;
    const QString ext = fileName.mid(dot + 1);
    if (ext.isEmpty()) return false;
    const QByteArray typeBytes = type.toLatin1();
    const codec::FormatEntry* format = codec::formatForExtension(
        std::string_view(typeBytes.constData(), std::size_t(typeBytes.size())));
    if (!format) return ext.compare(type, Qt::CaseInsensitive) == 0;
    for (std::string_view known : format->extensions)
        if (!known.empty() && ext.compare(QLatin1String(known.data(), qsizetype(known.size())),
                                          Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

} // namespace pixmoor
