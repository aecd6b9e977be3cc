// File types by extension (see file_types.h): a thin layer over the codec's format table.
#include "imaging/file_types.h"

namespace pixmoor {

namespace {

QString asciiUpper(const QString& text) {
    QString out = text;
    for (QChar& c : out)
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z')) c = QChar(c.unicode() - 32);
    return out;
}

// The types the picture adds to the codec's formats, by their 4-character load extension.
struct PictureType {
    const char* extension;
    FileType type;
};
constexpr PictureType kPictureTypes[] = {
    {".THB", {FileKind::Image, codec::ImageFormat::Bmp}},
    {".THJ", {FileKind::Image, codec::ImageFormat::Jpeg}},
    {".ICO", {FileKind::Icon, {}}},
    {".WMF", {FileKind::Metafile, {}}},
    {".RES", {FileKind::Resource, {}}},
    {".SCM", {FileKind::MessageFile, {}}},
    {".CMS", {FileKind::MessageList, {}}},
};

} // namespace

QString loadExtension(const QString& fileName) {
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0) return {};
    const qsizetype slash = fileName.lastIndexOf(QLatin1Char('/'));
    if (slash > dot) return {};
    return asciiUpper(fileName.mid(dot, 4));
}

FileType fileTypeOf(const QString& fileName) {
    const QString ext = loadExtension(fileName);
    if (ext.isEmpty()) return {};
    for (const PictureType& p : kPictureTypes)
        if (ext == QLatin1String(p.extension)) return p.type;
    const QByteArray bare = ext.mid(1).toLatin1();
    if (const codec::FormatEntry* entry =
            codec::formatForExtension(std::string_view(bare.constData(), std::size_t(bare.size()))))
        return {FileKind::Image, entry->format};
    return {};
}

QString usualExtension(codec::ImageFormat format) {
    const std::string_view ext = codec::formatEntry(format).extensions[0];
    return QString::fromLatin1(ext.data(), qsizetype(ext.size()));
}

QStringList catalogueTypes() {
    return {"bmp", "gif", "ico", "jpg", "pcx", "png", "tif", "wmf"};
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
