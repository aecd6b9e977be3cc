// Hostile image files, rebuilt byte for byte from their description so the tests of every layer
// (codec, catalogue, viewer, command-line tool) meet the same inputs: each once crashed, hung or
// exhausted memory in some reader.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace pixmoor::test::hostile {

using Bytes = std::vector<std::uint8_t>;

inline void put16be(Bytes& b, unsigned v) {
    b.push_back(std::uint8_t(v >> 8));
    b.push_back(std::uint8_t(v));
}
inline void put32be(Bytes& b, std::uint32_t v) {
    put16be(b, v >> 16);
    put16be(b, v & 0xFFFF);
}
inline void put16le(Bytes& b, unsigned v) {
    b.push_back(std::uint8_t(v));
    b.push_back(std::uint8_t(v >> 8));
}
inline void put32le(Bytes& b, std::uint32_t v) {
    put16le(b, v & 0xFFFF);
    put16le(b, v >> 16);
}

// A JPEG of nothing but a DC Huffman table with `codes` codes of length 1 (a length holds at
// most one usable code), then the end marker: 28 bytes for 3 codes. A decoder that fills its
// lookup before checking the counts writes past it.
inline Bytes jpegOverfullHuffmanTable(int codes) {
    Bytes b = {0xFF, 0xD8, 0xFF, 0xC4};
    put16be(b, unsigned(2 + 17 + codes));
    b.push_back(0x00); // DC table 0
    b.push_back(std::uint8_t(codes));
    for (int i = 1; i < 16; ++i) b.push_back(0);
    for (int i = 0; i < codes; ++i) b.push_back(std::uint8_t(i % 12));
    b.insert(b.end(), {0xFF, 0xD9});
    return b;
}

// A well-formed 16 x 16 gray progressive JPEG frame whose DC scan names Huffman table 15 (the
// field is 4 bits, but there are 4 tables).
inline Bytes jpegDcTableSelectorOutOfRange() {
    Bytes b = {0xFF, 0xD8};
    b.insert(b.end(), {0xFF, 0xDB});
    put16be(b, 2 + 65);
    b.push_back(0x00);
    for (int i = 0; i < 64; ++i) b.push_back(1);
    b.insert(b.end(), {0xFF, 0xC2});
    put16be(b, 2 + 6 + 3);
    b.push_back(8);
    put16be(b, 16); // height
    put16be(b, 16); // width
    b.insert(b.end(), {1, 1, 0x11, 0});
    // DC table 0: one code of length 1 for category 0.
    b.insert(b.end(), {0xFF, 0xC4});
    put16be(b, 2 + 17 + 1);
    b.push_back(0x00);
    b.push_back(1);
    for (int i = 1; i < 16; ++i) b.push_back(0);
    b.push_back(0);
    b.insert(b.end(), {0xFF, 0xDA});
    put16be(b, 2 + 1 + 2 + 3);
    b.insert(b.end(), {1, 1, 0xF0, 0, 0, 0}); // component 1, DC table 15, Ss 0, Se 0, Ah/Al 0
    for (int i = 0; i < 8; ++i) b.push_back(0x00);
    b.insert(b.end(), {0xFF, 0xD9});
    return b;
}

inline std::uint32_t crc32(const std::uint8_t* p, std::size_t n) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

inline void pngChunk(Bytes& b, const char* type, const Bytes& body) {
    put32be(b, std::uint32_t(body.size()));
    Bytes typed(type, type + 4);
    typed.insert(typed.end(), body.begin(), body.end());
    b.insert(b.end(), typed.begin(), typed.end());
    put32be(b, crc32(typed.data(), typed.size()));
}

// A 69-byte PNG whose header claims 16384 x 16384 RGBA pixels (over 1 GB of rows) with image
// data that inflates to a few bytes: every chunk and CRC is valid.
inline Bytes pngHugeClaim() {
    Bytes b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes ihdr;
    put32be(ihdr, 16384);
    put32be(ihdr, 16384);
    ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});
    pngChunk(b, "IHDR", ihdr);
    // A zlib stream of one stored block holding a single byte (the first row's filter type).
    pngChunk(b, "IDAT", {0x78, 0x01, 0x01, 0x01, 0x00, 0xFE, 0xFF, 0x00, 0x00, 0x01, 0x00, 0x01});
    pngChunk(b, "IEND", {});
    return b;
}

// A 3 KB RLE8 BMP claiming 128 x 852064 pixels: its runs describe a few rows only.
inline Bytes bmpRle8HugeClaim() {
    Bytes rle;
    while (rle.size() < 3000) rle.insert(rle.end(), {128, 7, 0, 0}); // a full row, end of line
    rle.insert(rle.end(), {0, 1});
    Bytes b = {'B', 'M'};
    put32le(b, std::uint32_t(14 + 40 + 1024 + rle.size()));
    put32le(b, 0);
    put32le(b, 14 + 40 + 1024);
    put32le(b, 40);
    put32le(b, 128);
    put32le(b, 852064);
    put16le(b, 1);
    put16le(b, 8);
    put32le(b, 1); // BI_RLE8
    put32le(b, std::uint32_t(rle.size()));
    put32le(b, 2835);
    put32le(b, 2835);
    put32le(b, 256);
    put32le(b, 0);
    for (int i = 0; i < 256; ++i) put32le(b, std::uint32_t(i * 0x010101));
    b.insert(b.end(), rle.begin(), rle.end());
    return b;
}

// A baseline JPEG of about 300 bytes whose frame claims 16384 x 16384 colour pixels, with a
// few bytes of scan data: Huffman coding cannot fit that image in so little.
inline Bytes jpegHugeClaim() {
    Bytes b = {0xFF, 0xD8, 0xFF, 0xDB};
    put16be(b, 2 + 65);
    b.push_back(0x00);
    for (int i = 0; i < 64; ++i) b.push_back(1);
    b.insert(b.end(), {0xFF, 0xC0});
    put16be(b, 2 + 6 + 9);
    b.push_back(8);
    put16be(b, 16384);
    put16be(b, 16384);
    b.insert(b.end(), {3, 1, 0x22, 0, 2, 0x11, 0, 3, 0x11, 0});
    for (int cls : {0x00, 0x10}) { // one DC and one AC table: a single code of length 1
        b.insert(b.end(), {0xFF, 0xC4});
        put16be(b, 2 + 17 + 1);
        b.push_back(std::uint8_t(cls));
        b.push_back(1);
        for (int i = 1; i < 16; ++i) b.push_back(0);
        b.push_back(0);
    }
    b.insert(b.end(), {0xFF, 0xDA});
    put16be(b, 2 + 1 + 6 + 3);
    b.insert(b.end(), {3, 1, 0x00, 2, 0x00, 3, 0x00, 0, 63, 0});
    for (int i = 0; i < 100; ++i) b.push_back(0x00);
    b.insert(b.end(), {0xFF, 0xD9});
    return b;
}

// A little-endian TIFF of about 130 bytes: 16384 x 16384 RGB, LZW, one strip of 4 bytes.
inline Bytes tiffHugeClaim() {
    Bytes b = {'I', 'I', 42, 0};
    put32le(b, 8);
    const std::uint32_t stripAt = 8 + 2 + 10 * 12 + 4 + 6;
    const struct {
        unsigned tag, type;
        std::uint32_t count, value;
    } entries[] = {
        {256, 4, 1, 16384},   // width
        {257, 4, 1, 16384},   // height
        {258, 3, 1, 8},       // bits per sample (one value stands for all three)
        {259, 3, 1, 5},       // LZW
        {262, 3, 1, 2},       // RGB
        {273, 4, 1, stripAt}, // strip offset
        {277, 3, 1, 3},       // samples per pixel
        {278, 4, 1, 16384},   // rows per strip
        {279, 4, 1, 4},       // strip byte count
        {284, 3, 1, 1},       // contiguous
    };
    put16le(b, 10);
    for (const auto& e : entries) {
        put16le(b, e.tag);
        put16le(b, e.type);
        put32le(b, e.count);
        if (e.type == 3) {
            put16le(b, e.value);
            put16le(b, 0);
        } else {
            put32le(b, e.value);
        }
    }
    put32le(b, 0);
    b.insert(b.end(), 6, 0); // padding up to the strip
    b.insert(b.end(), {0x80, 0x00, 0x20, 0x00});
    return b;
}

// A GIF of about 1 KB: a 16384 x 16384 logical screen (exactly 64 times its one frame of
// 2048 x 2048) and a few bytes of LZW data.
inline Bytes gifHugeScreen() {
    Bytes b = {'G', 'I', 'F', '8', '9', 'a'};
    put16le(b, 16384);
    put16le(b, 16384);
    b.insert(b.end(), {0x80, 0, 0}); // a global table of 2 colours
    b.insert(b.end(), {0, 0, 0, 255, 255, 255});
    b.push_back(0x2C);
    put16le(b, 0);
    put16le(b, 0);
    put16le(b, 2048);
    put16le(b, 2048);
    b.push_back(0);
    b.push_back(2); // LZW minimum code size
    for (int block = 0; block < 4; ++block) {
        b.push_back(250);
        for (int i = 0; i < 250; ++i) b.push_back(std::uint8_t(block == 0 && i == 0 ? 0x04 : 0));
    }
    b.push_back(0);
    b.push_back(0x3B);
    return b;
}

inline bool writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

} // namespace pixmoor::test::hostile
