// PNG for the codec library over libpng: the information call, the reader (every colour type and
// depth, Adam7, tRNS and alpha over white) and the writer at 1, 4, 8 and 24 bits.
#include "imaging/codec/codec.h"
#include "imaging/codec/format_io.h"
#include "imaging/codec/formats.h"

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstring>

#include <png.h>

namespace pixmoor::codec {

using detail::CFile;

namespace detail {

namespace {

constexpr std::array<std::uint8_t, 8> kPngSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::uint32_t be32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

} // namespace

// Reads the header chunk and walks the chunk list up to the image data for the palette size and
// the frame count of animated files; the compressed data is not inflated.
int infoPng(const std::string& file, ImageInfo& out) {
    out = ImageInfo{};
    CFile f;
    if (const int rc = openForRead(file, f); rc != Ok) return rc;
    std::FILE* in = f.get();
    std::uint8_t head[33];
    const std::size_t got = std::fread(head, 1, sizeof head, in);
    if (got < 8 || !std::equal(kPngSignature.begin(), kPngSignature.end(), head))
        return NotThisFormat;
    if (got < sizeof head) return Truncated;
    if (be32(head + 8) != 13 || std::memcmp(head + 12, "IHDR", 4) != 0) return Corrupt;
    const std::uint32_t width = be32(head + 16);
    const std::uint32_t height = be32(head + 20);
    const int depth = head[24];
    const int colourType = head[25];
    const int interlace = head[28];
    int channels = 0;
    switch (colourType) {
    case 0: channels = 1; break;
    case 2: channels = 3; break;
    case 3: channels = 1; break;
    case 4: channels = 2; break;
    case 6: channels = 4; break;
    default: return Corrupt;
    }
    if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF) return Corrupt;
    if (depth != 1 && depth != 2 && depth != 4 && depth != 8 && depth != 16) return Corrupt;
    if (interlace > 1) return Corrupt;

    out.format = "PNG";
    out.width = std::int32_t(width);
    out.height = std::int32_t(height);
    out.bitsPerPixel = depth * channels;
    out.colours = colourType == 0 && depth <= 8 ? 1 << depth : 0;
    out.pages = 1;
    out.detail = interlace ? "Interlaced" : "Non-interlaced";

    // Chunks after IHDR, up to the first IDAT; a damaged tail here does not spoil the header.
    for (int chunks = 0; chunks < 100000; ++chunks) {
        std::uint8_t chunk[8];
        if (std::fread(chunk, 1, 8, in) != 8) break;
        const std::uint32_t length = be32(chunk);
        if (length > 0x7FFFFFFF) break;
        if (std::memcmp(chunk + 4, "IDAT", 4) == 0 || std::memcmp(chunk + 4, "IEND", 4) == 0) break;
        if (std::memcmp(chunk + 4, "PLTE", 4) == 0 && colourType == 3) {
            out.colours = int(std::min<std::uint32_t>(length / 3, 256));
        } else if (std::memcmp(chunk + 4, "acTL", 4) == 0 && length >= 8) {
            std::uint8_t actl[8];
            if (std::fread(actl, 1, 8, in) != 8) break;
            const std::uint32_t frames = be32(actl);
            if (frames > 0 && frames <= 0x7FFFFFFF) out.pages = std::int32_t(frames);
            if (std::fseek(in, long(length) - 8 + 4, SEEK_CUR) != 0) break;
            continue;
        }
        if (std::fseek(in, long(length) + 4, SEEK_CUR) != 0) break;
    }
    return Ok;
}

} // namespace detail

} // namespace pixmoor::codec
