// Reading chosen text keys of PNG data in memory (see png_text.h).
#include "imaging/codec/png_text.h"

#include "imaging/codec/errors.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace pixmoor::codec {

namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t kMaxKeyword = 79; // the PNG standard's limit

std::uint32_t be32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

bool isLetter(std::uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

struct DecompressorFree {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// A zlib stream inflated into at most limit bytes. Ok, TooLarge when it holds more, Corrupt when
// it is damaged, OutOfMemory.
int inflateCapped(const std::uint8_t* in, std::size_t length, std::size_t limit, std::string& out) {
    std::unique_ptr<libdeflate_decompressor, DecompressorFree> inflater(
        libdeflate_alloc_decompressor());
    if (!inflater) return OutOfMemory;
    out.resize(limit);
    std::size_t produced = 0;
    switch (libdeflate_zlib_decompress(inflater.get(), in, length, out.data(), limit, &produced)) {
    case LIBDEFLATE_SUCCESS:
        out.resize(produced);
        return Ok;
    case LIBDEFLATE_INSUFFICIENT_SPACE:
        return TooLarge;
    default:
        return Corrupt;
    }
}

// The value of one text chunk whose keyword was asked for (body just past the keyword's NUL).
int textValue(std::string_view type, const std::uint8_t* body, std::size_t length,
              std::size_t limit, std::string& out) {
    const auto plain = [&](const std::uint8_t* p, std::size_t n) {
        if (n > limit) return int(TooLarge);
        out.assign(reinterpret_cast<const char*>(p), n);
        return int(Ok);
    };
    if (type == "tEXt") return plain(body, length);
    if (type == "zTXt") {
        // Compression method (0, deflate), then the zlib stream.
        if (length < 1 || body[0] != 0) return Corrupt;
        return inflateCapped(body + 1, length - 1, limit, out);
    }
    // iTXt: compression flag and method, language tag, translated keyword, then the text.
    if (length < 2 || body[0] > 1 || (body[0] == 1 && body[1] != 0)) return Corrupt;
    const bool compressed = body[0] == 1;
    std::size_t at = 2;
    for (int field = 0; field < 2; ++field) {
        const auto* end = static_cast<const std::uint8_t*>(std::memchr(body + at, 0, length - at));
        if (!end) return Corrupt;
        at = std::size_t(end - body) + 1;
    }
    return compressed ? inflateCapped(body + at, length - at, limit, out)
                      : plain(body + at, length - at);
}

} // namespace

namespace {

int walkChunks(const std::uint8_t* data, std::size_t size,
               std::span<const std::string_view> keywords,
               std::vector<std::optional<std::string>>& values, const PngTextLimits& limits) {
    if (!data || size < 8 || std::memcmp(data, kSignature, 8) != 0) return NotThisFormat;
    int textChunks = 0;
    bool first = true;
    std::size_t pos = 8;
    for (;;) {
        if (size - pos < 12) return Truncated;
        const std::uint32_t length = be32(data + pos);
        if (length > 0x7FFFFFFF) return Corrupt;
        if (std::size_t(length) > size - pos - 12) return Truncated;
        const std::uint8_t* typeBytes = data + pos + 4;
        const std::uint8_t* body = data + pos + 8;
        pos += std::size_t(length) + 12;
        if (!std::all_of(typeBytes, typeBytes + 4, isLetter)) return Corrupt;
        const std::string_view type(reinterpret_cast<const char*>(typeBytes), 4);
        const bool critical = (typeBytes[0] & 0x20) == 0;
        const bool crcOk =
            libdeflate_crc32(0, typeBytes, std::size_t(length) + 4) == be32(body + length);
        if (first) {
            if (type != "IHDR" || length != 13 || !crcOk) return Corrupt;
            first = false;
            continue;
        }
        if (type == "IDAT") return Ok;
        if (type == "IEND") return Corrupt;
        if (!crcOk) {
            if (critical) return Corrupt;
            continue; // libpng discards an ancillary chunk with a bad CRC
        }
        if (type != "tEXt" && type != "zTXt" && type != "iTXt") continue;
        if (++textChunks > limits.maxTextChunks) return TooLarge;
        // The keyword: 1 to 79 bytes and a NUL. A chunk without one is discarded, as libpng does.
        const auto* nul = static_cast<const std::uint8_t*>(
            std::memchr(body, 0, std::min<std::size_t>(length, kMaxKeyword + 1)));
        if (!nul || nul == body) continue;
        const std::string_view keyword(reinterpret_cast<const char*>(body),
                                       std::size_t(nul - body));
        const auto wanted = std::find(keywords.begin(), keywords.end(), keyword);
        if (wanted == keywords.end()) continue;
        std::optional<std::string>& value = values[std::size_t(wanted - keywords.begin())];
        if (value) return Corrupt; // the same key twice: which one holds is anybody's guess
        const std::size_t skip = std::size_t(nul - body) + 1;
        std::string text;
        if (const int rc = textValue(type, nul + 1, length - skip, limits.maxValueBytes, text);
            rc != Ok)
            return rc;
        value = std::move(text);
    }
}

} // namespace

int readPngText(const std::uint8_t* data, std::size_t size,
                std::span<const std::string_view> keywords,
                std::vector<std::optional<std::string>>& values, const PngTextLimits& limits) {
    values.assign(keywords.size(), std::nullopt);
    const int rc = walkChunks(data, size, keywords, values, limits);
    if (rc != Ok) values.assign(keywords.size(), std::nullopt);
    return rc;
}

} // namespace pixmoor::codec
