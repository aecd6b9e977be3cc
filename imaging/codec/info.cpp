// Image information and reading by signature: recognises a file's format by its first bytes (never
// its name) and hands it to that format's information reader or decoder.
#include "imaging/codec/codec.h"
#include "imaging/codec/errors.h"
#include "imaging/codec/file_bytes.h"
#include "imaging/codec/formats.h"

#include <cstring>
#include <new>

namespace pixmoor::codec {

namespace {

enum class Signature { Unknown, Bmp, Pcx, Jpeg, Png, Gif, Tiff };

Signature recognise(const std::uint8_t* d, std::size_t n) {
    if (n >= 2 && d[0] == 'B' && d[1] == 'M') return Signature::Bmp;
    if (n >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF) return Signature::Jpeg;
    if (n >= 8 && std::memcmp(d, "\x89PNG\r\n\x1a\n", 8) == 0) return Signature::Png;
    if (n >= 6 && (std::memcmp(d, "GIF87a", 6) == 0 || std::memcmp(d, "GIF89a", 6) == 0))
        return Signature::Gif;
    if (n >= 4 && ((d[0] == 'I' && d[1] == 'I' && (d[2] == 42 || d[2] == 43) && d[3] == 0) ||
                   (d[0] == 'M' && d[1] == 'M' && d[2] == 0 && (d[3] == 42 || d[3] == 43))))
        return Signature::Tiff;
    // PCX has no magic number: the manufacturer byte, a known version and encoding, and a sane
    // bit depth together make a false match unlikely.
    if (n >= 4 && d[0] == 0x0A && (d[1] <= 5 && d[1] != 1) && d[2] <= 1 &&
        (d[3] == 1 || d[3] == 2 || d[3] == 4 || d[3] == 8))
        return Signature::Pcx;
    return Signature::Unknown;
}

Signature signatureOf(const std::string& file, int& result) {
    detail::FileBytes head;
    result = detail::readFileBytes(file, head, 16);
    if (result != Ok) return Signature::Unknown;
    const Signature s = recognise(head.data.get(), head.size);
    if (s == Signature::Unknown) result = NotThisFormat;
    return s;
}

} // namespace

int readImage(const std::string& file, int bits, int jpegScale, int dither, Raster& out) {
    out = Raster{};
    try {
        int rc = Ok;
        switch (signatureOf(file, rc)) {
        case Signature::Bmp:
            return readBmp(file, bits, dither, out);
        case Signature::Pcx:
            return readPcx(file, bits, dither, out);
        case Signature::Jpeg:
            return readJpeg(file, bits, jpegScale, dither, out);
        case Signature::Png:
            return readPng(file, bits, dither, out);
        case Signature::Gif:
            return readGif(file, bits, dither, out);
        case Signature::Tiff:
            return readTiff(file, bits, dither, out);
        case Signature::Unknown:
            break;
        }
        return rc;
    } catch (const std::bad_alloc&) {
        out = Raster{};
        return OutOfMemory;
    }
}

int imageInfo(const std::string& file, ImageInfo& out) {
    out = ImageInfo{};
    try {
        int rc = Ok;
        switch (signatureOf(file, rc)) {
        case Signature::Bmp:
            rc = detail::infoBmp(file, out);
            break;
        case Signature::Pcx:
            rc = detail::infoPcx(file, out);
            break;
        case Signature::Jpeg:
            rc = detail::infoJpeg(file, out);
            break;
        case Signature::Png:
            rc = detail::infoPng(file, out);
            break;
        case Signature::Gif:
            rc = detail::infoGif(file, out);
            break;
        case Signature::Tiff:
            rc = detail::infoTiff(file, out);
            break;
        case Signature::Unknown:
            break;
        }
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
