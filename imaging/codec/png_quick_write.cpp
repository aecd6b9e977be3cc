// Small PNGs in memory in one go (see png_quick_write.h).
#include "imaging/codec/png_quick_write.h"

#include <libdeflate.h>

#include <memory>
#include <new>

namespace pixmoor::codec {

namespace {

struct CompressorFree {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

void putBe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.insert(out.end(), {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8),
                           std::uint8_t(v)});
}

// Appends one chunk: length, type, body, and the CRC of type and body.
void putChunk(std::vector<std::uint8_t>& out, const char* type, const std::uint8_t* body,
              std::size_t length) {
    putBe32(out, std::uint32_t(length));
    const std::size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    if (length) out.insert(out.end(), body, body + length);
    putBe32(out, std::uint32_t(libdeflate_crc32(0, out.data() + typeAt, length + 4)));
}

} // namespace

std::vector<std::uint8_t> encodePngQuick(const std::uint8_t* pixels, int width, int height,
                                         std::size_t stride, int channels,
                                         const std::vector<PngText>& texts, int level) {
    if (!pixels || width < 1 || height < 1 || (channels != 3 && channels != 4) || level < 1 ||
        level > 12)
        return {};
    const std::size_t rowBytes = std::size_t(width) * std::size_t(channels);
    if (stride < rowBytes) return {};
    for (const PngText& text : texts)
        if (text.first.empty() || text.first.size() > 79 ||
            text.first.find('\0') != std::string::npos)
            return {};
    try {
        // Each row: filter type 1 (Sub), then every byte less the same byte of the pixel left.
        const std::size_t channelsSize = std::size_t(channels);
        std::vector<std::uint8_t> filtered((rowBytes + 1) * std::size_t(height));
        std::uint8_t* to = filtered.data();
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* row = pixels + stride * std::size_t(y);
            *to++ = 1;
            for (std::size_t i = 0; i < channelsSize; ++i) *to++ = row[i];
            for (std::size_t i = channelsSize; i < rowBytes; ++i)
                *to++ = std::uint8_t(row[i] - row[i - channelsSize]);
        }
        std::unique_ptr<libdeflate_compressor, CompressorFree> compressor(
            libdeflate_alloc_compressor(level));
        if (!compressor) return {};
        std::vector<std::uint8_t> deflated(
            libdeflate_zlib_compress_bound(compressor.get(), filtered.size()));
        const std::size_t deflatedSize = libdeflate_zlib_compress(
            compressor.get(), filtered.data(), filtered.size(), deflated.data(), deflated.size());
        if (deflatedSize == 0 || deflatedSize > 0x7FFFFFFF) return {}; // one IDAT chunk at most

        std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        std::vector<std::uint8_t> header;
        putBe32(header, std::uint32_t(width));
        putBe32(header, std::uint32_t(height));
        // Depth 8; colour type 2 (RGB) or 6 (RGBA); deflate, adaptive filters, no interlace.
        header.insert(header.end(), {8, std::uint8_t(channels == 4 ? 6 : 2), 0, 0, 0});
        putChunk(png, "IHDR", header.data(), header.size());
        for (const PngText& text : texts) {
            std::vector<std::uint8_t> body(text.first.begin(), text.first.end());
            body.push_back(0);
            body.insert(body.end(), text.second.begin(), text.second.end());
            putChunk(png, "tEXt", body.data(), body.size());
        }
        putChunk(png, "IDAT", deflated.data(), deflatedSize);
        putChunk(png, "IEND", nullptr, 0);
        return png;
    } catch (const std::bad_alloc&) {
        return {};
    }
}

} // namespace pixmoor::codec
