// The table of image formats (see format_table.h) and the lookups by extension and signature.
#include "imaging/codec/format_table.h"

#include "imaging/codec/errors.h"
#include "imaging/codec/file_bytes.h"
#include "imaging/codec/format_io.h"
#include "imaging/codec/formats.h"
#include "imaging/codec/raster_sink.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace pixmoor::codec {

namespace {

bool isBmp(const std::uint8_t* d, std::size_t n) {
    return n >= 2 && d[0] == 'B' && d[1] == 'M';
}
bool isJpeg(const std::uint8_t* d, std::size_t n) {
    return n >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF;
}
bool isPng(const std::uint8_t* d, std::size_t n) {
    return n >= 8 && std::memcmp(d, "\x89PNG\r\n\x1a\n", 8) == 0;
}
bool isGif(const std::uint8_t* d, std::size_t n) {
    return n >= 6 && (std::memcmp(d, "GIF87a", 6) == 0 || std::memcmp(d, "GIF89a", 6) == 0);
}
bool isTiff(const std::uint8_t* d, std::size_t n) {
    return n >= 4 && ((d[0] == 'I' && d[1] == 'I' && (d[2] == 42 || d[2] == 43) && d[3] == 0) ||
                      (d[0] == 'M' && d[1] == 'M' && d[2] == 0 && (d[3] == 42 || d[3] == 43)));
}
// PCX has no magic number: the manufacturer byte, a known version and encoding, and a sane bit
// depth together make a false match unlikely.
bool isPcx(const std::uint8_t* d, std::size_t n) {
    return n >= 4 && d[0] == 0x0A && (d[1] <= 5 && d[1] != 1) && d[2] <= 1 &&
           (d[3] == 1 || d[3] == 2 || d[3] == 4 || d[3] == 8);
}

int writeBmpEntry(const std::string& file, const WriteOptions& o, const Raster& in) {
    return writeBmp(file, o.bits, in);
}
int writeGifEntry(const std::string& file, const WriteOptions& o, const Raster& in) {
    return writeGif(file, o.bits, in);
}
int writeJpegEntry(const std::string& file, const WriteOptions& o, const Raster& in) {
    return writeJpeg(file, o.quality, o.smoothing, o.bits, in);
}
int writePcxEntry(const std::string& file, const WriteOptions& o, const Raster& in) {
    return writePcx(file, o.bits, in);
}
int writePngEntry(const std::string& file, const WriteOptions& o, const Raster& in) {
    return writePng(file, o.bits, o.interlace, in);
}
int writeTiffEntry(const std::string& file, const WriteOptions& o, const Raster& in) {
    return writeTiff(file, o.compression, o.bits, in);
}

constexpr std::uint32_t kAllDepths = kDepth0 | kDepth1 | kDepth4 | kDepth8 | kDepth24;

// Indexed by ImageFormat. By signature the formats with a real magic number are tried first,
// those with a weak signature (PCX) after them.
constexpr std::array<FormatEntry, 6> kFormats = {{
    {.format = ImageFormat::Bmp,
     .name = "BMP",
     .extensions = {"bmp", "", ""},
     .matches = isBmp,
     .decode = detail::decodeBmp,
     .info = detail::infoBmp,
     .write = writeBmpEntry,
     .depthsWritten = kAllDepths,
     .greyDepth = 8,
     .writerInputDepth = 0,
     .scaledDecoding = false,
     .fullSizeFastPaths = false,
     .exactAtOwnDepth = true,
     .weakSignature = false,
     .title = "Bitmap",
     .mimeType = "image/bmp"},
    {.format = ImageFormat::Gif,
     .name = "GIF",
     .extensions = {"gif", "", ""},
     .matches = isGif,
     .decode = detail::decodeGif,
     .info = detail::infoGif,
     .write = writeGifEntry,
     .depthsWritten = kDepth0 | kDepth1 | kDepth4 | kDepth8,
     .greyDepth = 8,
     .writerInputDepth = 0,
     .scaledDecoding = false,
     .fullSizeFastPaths = false,
     .exactAtOwnDepth = false,
     .weakSignature = false,
     .title = "Gif",
     .mimeType = "image/gif"},
    {.format = ImageFormat::Jpeg,
     .name = "JPEG",
     .extensions = {"jpg", "jpeg", "jpe"},
     .matches = isJpeg,
     .decode = detail::decodeJpeg,
     .info = detail::infoJpeg,
     .write = writeJpegEntry,
     .depthsWritten = kDepth1 | kDepth24,
     .greyDepth = 1,
     .writerInputDepth = 24,
     .scaledDecoding = true,
     .fullSizeFastPaths = false,
     .exactAtOwnDepth = false,
     .weakSignature = false,
     .title = "Jpeg",
     .mimeType = "image/jpeg"},
    {.format = ImageFormat::Pcx,
     .name = "PCX",
     .extensions = {"pcx", "", ""},
     .matches = isPcx,
     .decode = detail::decodePcxFile,
     .info = detail::infoPcx,
     .write = writePcxEntry,
     .depthsWritten = kAllDepths,
     .greyDepth = 8,
     .writerInputDepth = 0,
     .scaledDecoding = false,
     .fullSizeFastPaths = false,
     .exactAtOwnDepth = true,
     .weakSignature = true,
     .title = "Pcx",
     .mimeType = "image/vnd.zbrush.pcx"},
    {.format = ImageFormat::Png,
     .name = "PNG",
     .extensions = {"png", "", ""},
     .matches = isPng,
     .decode = detail::decodePng,
     .info = detail::infoPng,
     .write = writePngEntry,
     .depthsWritten = kAllDepths,
     .greyDepth = 8,
     .writerInputDepth = 0,
     .scaledDecoding = false,
     .fullSizeFastPaths = true,
     .exactAtOwnDepth = false,
     .weakSignature = false,
     .title = "Png",
     .mimeType = "image/png"},
    {.format = ImageFormat::Tiff,
     .name = "TIFF",
     .extensions = {"tif", "tiff", ""},
     .matches = isTiff,
     .decode = detail::decodeTiffFile,
     .info = detail::infoTiff,
     .write = writeTiffEntry,
     .depthsWritten = kAllDepths,
     .greyDepth = 8,
     .writerInputDepth = 0,
     .scaledDecoding = false,
     .fullSizeFastPaths = false,
     .exactAtOwnDepth = false,
     .weakSignature = false,
     .title = "Tiff",
     .mimeType = "image/tiff"},
}};

bool equalNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

std::span<const FormatEntry> formatTable() {
    return kFormats;
}

const FormatEntry& formatEntry(ImageFormat format) {
    return kFormats[static_cast<std::size_t>(format)];
}

const FormatEntry* formatForExtension(std::string_view extension) {
    if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
    if (extension.empty()) return nullptr;
    for (const FormatEntry& entry : kFormats)
        for (std::string_view known : entry.extensions)
            if (!known.empty() && equalNoCase(known, extension)) return &entry;
    return nullptr;
}

const FormatEntry* formatForSignature(const std::uint8_t* head, std::size_t size) {
    for (bool weak : {false, true})
        for (const FormatEntry& entry : kFormats)
            if (entry.weakSignature == weak && entry.matches(head, size)) return &entry;
    return nullptr;
}

const FormatEntry* formatOfFile(const std::string& file, int& result) {
    detail::FileBytes head;
    result = detail::readFileBytes(file, head, kSignatureBytes);
    if (result != Ok) return nullptr;
    const FormatEntry* entry = formatForSignature(head.data.get(), head.size);
    if (!entry) result = NotThisFormat;
    return entry;
}

int readAs(ImageFormat format, const std::string& file, int bits, int jpegScale, int dither,
           Raster& out) {
    if (format == ImageFormat::Jpeg) return readJpeg(file, bits, jpegScale, dither, out);
    return detail::readThroughSink(formatEntry(format).decode, file, DecodeOptions{}, bits, dither,
                                   out);
}

int readFullSizeFast(ImageFormat format, const std::string& file, int bits, int dither,
                     Raster& out) {
    const FormatEntry& entry = formatEntry(format);
    if (!entry.fullSizeFastPaths) return readAs(format, file, bits, 1, dither, out);
    DecodeOptions options;
    options.fastPaths = true;
    return detail::readThroughSink(entry.decode, file, options, bits, dither, out);
}

int storedDepth(const FormatEntry& entry, int bits) {
    if (bits >= 0 && bits <= 24 && (entry.depthsWritten & (1u << bits)) != 0) return bits;
    for (int deepest = 24; deepest > 0; --deepest)
        if ((entry.depthsWritten & (1u << deepest)) != 0) return deepest;
    return 0;
}

int writeImage(ImageFormat format, const std::string& file, const WriteOptions& options,
               const Raster& in) {
    return formatEntry(format).write(file, options, in);
}

int encodeImage(ImageFormat format, const WriteOptions& options, const Raster& in,
                EncodedImage& out) {
    out.clear();
    const detail::MemoryOutput memory(out);
    // The name only passes the writers' checks of a name: nothing of that name is touched.
    const int result = writeImage(format, "encoded", options, in);
    if (!succeeded(result)) out.clear();
    return result;
}

int writeEncoded(const std::string& file, const EncodedImage& bytes) {
    detail::OutputFile output;
    if (const int rc = output.open(file); rc != Ok) return rc;
    std::FILE* f = output.get();
    const bool written = bytes.forEachPart([f](const std::uint8_t* data, std::size_t length) {
        return std::fwrite(data, 1, length, f) == length;
    });
    if (!written) return WriteFailed; // the temporary file goes with output
    return output.commit();
}

} // namespace pixmoor::codec
