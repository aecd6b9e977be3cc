// Information, reading and decoding by signature: a file's format is recognised by its first
// bytes (never its name) through the format table and handed to that format's entry.
#include "imaging/codec/codec.h"
#include "imaging/codec/errors.h"
#include "imaging/codec/format_table.h"

#include <new>

namespace pixmoor::codec {

int decodeImage(const std::string& file, const DecodeOptions& options, RowSink& sink) {
    try {
        int rc = Ok;
        const FormatEntry* entry = formatOfFile(file, rc);
        return entry ? entry->decode(file, options, sink) : rc;
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
}

int readImage(const std::string& file, int bits, int jpegScale, int dither, Raster& out) {
    out = Raster{};
    int rc = Ok;
    const FormatEntry* entry = nullptr;
    try {
        entry = formatOfFile(file, rc);
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
    return entry ? readAs(entry->format, file, bits, jpegScale, dither, out) : rc;
}

int imageInfo(const std::string& file, ImageInfo& out) {
    out = ImageInfo{};
    try {
        int rc = Ok;
        if (const FormatEntry* entry = formatOfFile(file, rc)) rc = entry->info(file, out);
        // A header that describes no pixels is not an image, whatever the format reader thought.
        if (succeeded(rc) && (out.width <= 0 || out.height <= 0)) rc = Corrupt;
        if (!succeeded(rc)) {
            out = ImageInfo{};
            return rc;
        }
        if (out.format.size() > 5) out.format.resize(5);
        if (out.detail.size() > 25) out.detail.resize(25);
        return Ok;
    } catch (const std::bad_alloc&) {
        out = ImageInfo{};
        return OutOfMemory;
    }
}

} // namespace pixmoor::codec
