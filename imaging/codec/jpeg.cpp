// JPEG for the codec library over libjpeg-turbo's libjpeg API: the information call, the reader
// (with DCT-scaled decoding for thumbnails) and the writer with quality and smoothing.
#include "imaging/codec/codec.h"
#include "imaging/codec/format_io.h"
#include "imaging/codec/formats.h"

#include <algorithm>
#include <csetjmp>
#include <cstring>

#include <jerror.h>
#include <jpeglib.h>

namespace pixmoor::codec {

using detail::CFile;

namespace detail {

namespace {

// Reads one byte; -1 at the end of the file.
int nextByte(std::FILE* f) { return std::getc(f); }

int read16(std::FILE* f) {
    const int hi = nextByte(f);
    const int lo = nextByte(f);
    return (hi < 0 || lo < 0) ? -1 : (hi << 8) | lo;
}

const char* frameKind(int marker) {
    switch (marker) {
    case 0xC0: return "Baseline";
    case 0xC1: return "Extended sequential";
    case 0xC2: return "Progressive";
    case 0xC3: return "Lossless";
    case 0xC9: return "Arithmetic";
    case 0xCA: return "Progressive arithmetic";
    case 0xCB: return "Lossless arithmetic";
    default: return "Hierarchical";
    }
}

} // namespace

// Walks the marker segments up to the frame header; no pixel data is decoded.
int infoJpeg(const std::string& file, ImageInfo& out) {
    out = ImageInfo{};
    CFile f;
    if (const int rc = openForRead(file, f); rc != Ok) return rc;
    std::FILE* in = f.get();
    if (nextByte(in) != 0xFF || nextByte(in) != 0xD8) return NotThisFormat;
    for (;;) {
        // Stray bytes between segments are tolerated, as libjpeg does.
        int c = nextByte(in);
        while (c >= 0 && c != 0xFF) c = nextByte(in);
        if (c < 0) return Truncated;
        int marker;
        do marker = nextByte(in);
        while (marker == 0xFF);
        if (marker < 0) return Truncated;
        if (marker == 0xD8 || marker == 0xD9 || marker == 0xDA) return Corrupt; // no frame header
        if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) continue;  // no length
        const int length = read16(in);
        if (length < 0) return Truncated;
        if (length < 2) return Corrupt;
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
                           marker != 0xCC;
        if (!frame) {
            if (std::fseek(in, length - 2, SEEK_CUR) != 0) return ReadFailed;
            continue;
        }
        const int precision = nextByte(in);
        const int height = read16(in);
        const int width = read16(in);
        const int components = nextByte(in);
        if (components < 0) return Truncated;
        if (length < 8 + 3 * components) return Corrupt;
        if (width <= 0 || height <= 0 || components <= 0 || precision <= 0) return Corrupt;
        out.format = "JPEG";
        out.width = width;
        out.height = height;
        out.bitsPerPixel = components * (precision > 8 ? precision : 8);
        out.colours = components == 1 && precision <= 8 ? 256 : 0; // decoded as 256 grays
        out.pages = 1;
        out.detail = frameKind(marker);
        return Ok;
    }
}

} // namespace detail

} // namespace pixmoor::codec
