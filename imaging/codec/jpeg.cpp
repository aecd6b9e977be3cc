// The JPEG reader of the codec library over libjpeg-turbo: the information call and the one
// decoder of JPEG files, which streams rows at a DCT-reduced scale when asked. For thumbnails of
// progressive files at 1/8 scale it may take a faster road of its own: the DC scans alone.
#include "imaging/codec/codec.h"
#include "imaging/codec/decode.h"
#include "imaging/codec/format_io.h"
#include "imaging/codec/formats.h"
#include "imaging/codec/jpeg_errors.h"
#include "imaging/codec/orientation.h"
#include "imaging/codec/raster_sink.h"
#include "imaging/codec/scratch_buffer.h"
#include "imaging/codec/strategy.h"

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <jpeglib.h>

namespace pixmoor::codec {

using detail::CFile;

namespace detail {

namespace {

// Reads one byte; -1 at the end of the file.
int nextByte(std::FILE* f) {
    return std::getc(f);
}

int read16(std::FILE* f) {
    const int hi = nextByte(f);
    const int lo = nextByte(f);
    return (hi < 0 || lo < 0) ? -1 : (hi << 8) | lo;
}

const char* frameKind(int marker) {
    switch (marker) {
    case 0xC0:
        return "Baseline";
    case 0xC1:
        return "Extended sequential";
    case 0xC2:
        return "Progressive";
    case 0xC3:
        return "Lossless";
    case 0xC9:
        return "Arithmetic";
    case 0xCA:
        return "Progressive arithmetic";
    case 0xCB:
        return "Lossless arithmetic";
    default:
        return "Hierarchical";
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
        if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) continue;     // no length
        const int length = read16(in);
        if (length < 0) return Truncated;
        if (length < 2) return Corrupt;
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
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

// ---- the DC scans of progressive files -----------------------------------------------------

namespace detail {

namespace {

constexpr int kMaxComponents = 3;
constexpr int kMaxBlocksInMcu = 10; // as libjpeg
constexpr int kLookupBits = 9;

struct HuffmanTable {
    bool defined = false;
    // Canonical decoding by code length 1..16: codes of length l run from minCode[l] to
    // maxCode[l] and map to values[valueIndex[l] + code - minCode[l]].
    std::array<std::int32_t, 18> maxCode{};
    std::array<std::int32_t, 17> minCode{};
    std::array<std::int32_t, 17> valueIndex{};
    std::array<std::uint8_t, 256> values{};
    // Codes up to kLookupBits long in one step: length << 8 | value, 0 when longer.
    std::array<std::uint16_t, 1 << kLookupBits> lookup{};
};

// Builds a table from a DHT segment's counts and values; false when the counts are impossible.
bool buildTable(HuffmanTable& t, const std::uint8_t* counts, const std::uint8_t* values,
                int total) {
    t = HuffmanTable{};
    if (total < 0 || total > int(t.values.size())) return false;
    std::copy(values, values + total, t.values.begin());
    std::int32_t code = 0;
    int k = 0;
    for (int length = 1; length <= 16; ++length) {
        const int n = counts[length - 1];
        // Checked before any code of this length is entered, since every code indexes the
        // lookup below: the codes of a length must stay below the all-ones code, as libjpeg
        // demands.
        if (code + n >= (1 << length) || k + n > total) return false;
        t.valueIndex[length] = k;
        t.minCode[length] = code;
        for (int i = 0; i < n; ++i, ++k, ++code) {
            if (length <= kLookupBits) {
                const int shift = kLookupBits - length;
                for (int fill = 0; fill < (1 << shift); ++fill)
                    t.lookup[std::size_t((code << shift) | fill)] =
                        std::uint16_t(length << 8 | t.values[std::size_t(k)]);
            }
        }
        t.maxCode[length] = n ? code - 1 : -1;
        code <<= 1;
    }
    t.maxCode[17] = 0x7FFFFFFF;
    t.defined = true;
    return true;
}

// Reads the bits of one entropy-coded segment: 0xFF 0x00 is a data byte 0xFF; any other 0xFF xx
// is a marker, where the segment ends. Reading past it sets overrun.
class BitReader {
public:
    BitReader(const std::uint8_t* data, std::size_t size, std::size_t pos)
        : data_(data), size_(size), pos_(pos) {}

    std::size_t position() const { return pos_; }
    // Whether bits past the end of the segment were consumed.
    bool overrun() const { return overrun_; }

    // Forgets the buffered bits (at a restart marker).
    void reset() {
        bits_ = 0;
        count_ = 0;
        phantom_ = 0;
        atMarker_ = false;
    }

    std::uint32_t peek(int n) {
        fill(n);
        return std::uint32_t(bits_ >> (count_ - n)) & ((1u << n) - 1);
    }
    void skip(int n) {
        count_ -= n;
        // The zero bits fed after the segment's end are the lowest phantom_ bits of the buffer.
        if (count_ < phantom_) overrun_ = true;
    }
    std::uint32_t get(int n) {
        if (n == 0) return 0;
        const std::uint32_t v = peek(n);
        skip(n);
        return v;
    }

    // Position of the next marker at or after the unread data, or size when there is none.
    std::size_t nextMarker() const {
        std::size_t p = pos_;
        for (;;) {
            while (p < size_ && data_[p] != 0xFF) ++p;
            if (p + 1 >= size_) return size_;
            const std::uint8_t next = data_[p + 1];
            if (next == 0x00 || (next >= 0xD0 && next <= 0xD7) || next == 0xFF) {
                p += next == 0xFF ? 1 : 2;
                continue;
            }
            return p;
        }
    }
    void seek(std::size_t p) {
        pos_ = p;
        reset();
    }

private:
    void fill(int n) {
        while (count_ < n) {
            std::uint32_t byte = 0;
            bool real = false;
            if (!atMarker_ && pos_ < size_) {
                const std::uint8_t b = data_[pos_];
                if (b != 0xFF) {
                    byte = b;
                    ++pos_;
                    real = true;
                } else if (pos_ + 1 < size_ && data_[pos_ + 1] == 0x00) {
                    byte = 0xFF;
                    pos_ += 2;
                    real = true;
                } else {
                    atMarker_ = true;
                }
            }
            if (!real) phantom_ += 8;
            bits_ = (bits_ << 8) | byte;
            count_ += 8;
        }
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_;
    std::uint64_t bits_ = 0;
    int count_ = 0;
    int phantom_ = 0; // zero bits fed past the end, at the bottom of the buffer
    bool atMarker_ = false;
    bool overrun_ = false;
};

int decodeSymbol(BitReader& in, const HuffmanTable& t) {
    const std::uint16_t hit = t.lookup[in.peek(kLookupBits)];
    if (hit) {
        in.skip(hit >> 8);
        return hit & 0xFF;
    }
    std::int32_t code = std::int32_t(in.get(1));
    int length = 1;
    while (code > t.maxCode[std::size_t(length)]) {
        if (++length > 16) return -1;
        code = (code << 1) | std::int32_t(in.get(1));
    }
    return t.values[std::size_t(t.valueIndex[std::size_t(length)] + code -
                                t.minCode[std::size_t(length)])];
}

struct Component {
    int id = 0;
    int h = 1, v = 1; // sampling factors
    int quantTable = 0;
    int quant = -1;     // the DC quantiser, latched at the component's first scan
    int blocksWide = 0; // blocks covering the component (the non-interleaved scan order)
    int blocksHigh = 0;
    int stride = 0; // blocks per row of the MCU-padded grid
    bool dcStarted = false;
    int dcLowBit = 0; // Al of the last DC pass
    std::vector<std::int16_t> dc;
};

struct Frame {
    int width = 0, height = 0;
    int hMax = 1, vMax = 1;
    int mcusWide = 0, mcusHigh = 0;
    int count = 0;
    std::array<Component, kMaxComponents> components;
};

std::uint16_t be16(const std::uint8_t* p) {
    return std::uint16_t(p[0] << 8 | p[1]);
}

inline std::uint8_t clampSample(int v) {
    return std::uint8_t(std::clamp(v, 0, 255));
}

// The sample value of a block with only its DC coefficient, as libjpeg's 1 x 1 inverse DCT.
inline int blockSample(int coefficient, int quant) {
    const int value = coefficient * quant;
    return ((value + 4) >> 3) + 128;
}

// The 1/8-scale picture of a progressive Huffman JPEG of 1 or 3 components from its DC scans
// alone: at 1/8 each pixel is the mean of its 8 x 8 block, which is the block's DC coefficient,
// so the AC scans (most of such a file) are skipped, not decoded. Declined, with nothing sent,
// for anything else or anything doubtful (damage, truncation, odd sampling).
Strategy decodeProgressiveDc(const unsigned char* data, std::size_t size, int minWidth,
                             int minHeight, RowSink& sink) {
    using R = Strategy;
    if (!data || size < 4 || data[0] != 0xFF || data[1] != 0xD8) return R::Declined;
    std::array<std::array<std::uint16_t, 64>, 4> quantTables{};
    std::array<bool, 4> quantDefined{};
    std::array<HuffmanTable, 4> dcTables;
    Frame frame;
    bool haveFrame = false, adobeRgb = false, sawEoi = false;
    int orientation = 1; // from EXIF, which comes before the frame
    int restartInterval = 0;
    std::size_t pos = 2;

    while (pos + 2 <= size && !sawEoi) {
        if (data[pos] != 0xFF) return R::Declined; // stray bytes: leave them to libjpeg
        const std::uint8_t marker = data[pos + 1];
        if (marker == 0xFF) {
            ++pos;
            continue;
        }
        if (marker == 0xD9) {
            sawEoi = true;
            break;
        }
        if (marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01)
            return R::Declined;
        if (pos + 4 > size) return R::Declined;
        const std::size_t length = be16(data + pos + 2);
        if (length < 2 || pos + 2 + length > size) return R::Declined;
        const std::uint8_t* seg = data + pos + 4;
        const std::size_t segLength = length - 2;
        const std::size_t next = pos + 2 + length;

        if (marker == 0xC2) { // progressive Huffman frame
            if (haveFrame || segLength < 6) return R::Declined;
            const int precision = seg[0];
            frame.height = be16(seg + 1);
            frame.width = be16(seg + 3);
            frame.count = seg[5];
            if (precision != 8 || frame.width == 0 || frame.height == 0) return R::Declined;
            if (checkDimensions(frame.width, frame.height) != Ok) return R::Declined;
            // Only at 1/8 scale is a block's DC coefficient all there is to its pixel.
            // The minimum size is the upright picture's: a quarter turn swaps it.
            const bool turned = swapsSides(orientation);
            if (jpegScaleCovering(frame.width, frame.height, turned ? minHeight : minWidth,
                                  turned ? minWidth : minHeight) != 8)
                return R::Declined;
            if ((frame.count != 1 && frame.count != 3) ||
                segLength < 6 + 3 * std::size_t(frame.count))
                return R::Declined;
            for (int c = 0; c < frame.count; ++c) {
                Component& comp = frame.components[std::size_t(c)];
                comp.id = seg[6 + 3 * c];
                comp.h = seg[7 + 3 * c] >> 4;
                comp.v = seg[7 + 3 * c] & 15;
                comp.quantTable = seg[8 + 3 * c];
                if (comp.h < 1 || comp.h > 4 || comp.v < 1 || comp.v > 4 || comp.quantTable > 3)
                    return R::Declined;
                for (int d = 0; d < c; ++d)
                    if (frame.components[std::size_t(d)].id == comp.id) return R::Declined;
                frame.hMax = std::max(frame.hMax, comp.h);
                frame.vMax = std::max(frame.vMax, comp.v);
            }
            frame.mcusWide = (frame.width + 8 * frame.hMax - 1) / (8 * frame.hMax);
            frame.mcusHigh = (frame.height + 8 * frame.vMax - 1) / (8 * frame.vMax);
            // Every block takes at least one bit of a DC scan, so a file holds at most 8 blocks
            // per byte: the coefficient planes are sized only for what the data can fill.
            std::uint64_t blocks = 0;
            for (int c = 0; c < frame.count; ++c) {
                const Component& comp = frame.components[std::size_t(c)];
                blocks += std::uint64_t(frame.mcusWide) * std::uint64_t(comp.h) *
                          std::uint64_t(frame.mcusHigh) * std::uint64_t(comp.v);
            }
            if (blocks > 8 * std::uint64_t(size)) return R::Declined;
            for (int c = 0; c < frame.count; ++c) {
                Component& comp = frame.components[std::size_t(c)];
                if (frame.hMax % comp.h || frame.vMax % comp.v) return R::Declined;
                const int w = (frame.width * comp.h + frame.hMax - 1) / frame.hMax;
                const int hgt = (frame.height * comp.v + frame.vMax - 1) / frame.vMax;
                comp.blocksWide = (w + 7) / 8;
                comp.blocksHigh = (hgt + 7) / 8;
                comp.stride = frame.mcusWide * comp.h;
                try {
                    comp.dc.assign(std::size_t(comp.stride) * std::size_t(frame.mcusHigh * comp.v),
                                   0);
                } catch (const std::bad_alloc&) {
                    return R::Declined;
                }
            }
            if (frame.count == 3) {
                const auto& cs = frame.components;
                if (cs[0].id == 'R' && cs[1].id == 'G' && cs[2].id == 'B') return R::Declined;
            }
            haveFrame = true;
        } else if ((marker >= 0xC0 && marker <= 0xCF) && marker != 0xC4 && marker != 0xC8 &&
                   marker != 0xCC) {
            return R::Declined;      // any other frame type: sequential, lossless, arithmetic
        } else if (marker == 0xC4) { // Huffman tables
            std::size_t p = 0;
            while (p < segLength) {
                if (p + 17 > segLength) return R::Declined;
                const int tableClass = seg[p] >> 4, index = seg[p] & 15;
                if (tableClass > 1 || index > 3) return R::Declined;
                int total = 0;
                for (int i = 0; i < 16; ++i) total += seg[p + 1 + std::size_t(i)];
                if (total > 256 || p + 17 + std::size_t(total) > segLength) return R::Declined;
                if (tableClass == 0 &&
                    !buildTable(dcTables[std::size_t(index)], seg + p + 1, seg + p + 17, total))
                    return R::Declined;
                p += 17 + std::size_t(total);
            }
        } else if (marker == 0xDB) { // quantisation tables
            std::size_t p = 0;
            while (p < segLength) {
                const int precision = seg[p] >> 4, index = seg[p] & 15;
                if (precision > 1 || index > 3) return R::Declined;
                const std::size_t bytes = precision ? 128 : 64;
                if (p + 1 + bytes > segLength) return R::Declined;
                for (int i = 0; i < 64; ++i)
                    quantTables[std::size_t(index)][std::size_t(i)] =
                        precision ? be16(seg + p + 1 + 2 * std::size_t(i))
                                  : seg[p + 1 + std::size_t(i)];
                quantDefined[std::size_t(index)] = true;
                p += 1 + bytes;
            }
        } else if (marker == 0xDD) { // restart interval
            if (segLength < 2) return R::Declined;
            restartInterval = be16(seg);
        } else if (marker == 0xE1 && orientation == 1) { // EXIF
            const int found = exifOrientation(seg, segLength);
            // Found after the frame, it would have changed the scale chosen: leave it to libjpeg.
            if (found != 1 && haveFrame) return R::Declined;
            orientation = found;
        } else if (marker == 0xEE) { // Adobe: transform 0 means the three planes are RGB
            if (segLength >= 12 && std::equal(seg, seg + 5, "Adobe") && seg[11] == 0)
                adobeRgb = true;
        } else if (marker == 0xDA) { // a scan
            if (!haveFrame || adobeRgb || segLength < 1) return R::Declined;
            const int inScan = seg[0];
            if (inScan < 1 || inScan > frame.count || segLength != 4 + 2 * std::size_t(inScan))
                return R::Declined;
            std::array<Component*, kMaxComponents> comps{};
            std::array<int, kMaxComponents> tables{};
            for (int i = 0; i < inScan; ++i) {
                const int id = seg[1 + 2 * i];
                Component* found = nullptr;
                for (int c = 0; c < frame.count; ++c)
                    if (frame.components[std::size_t(c)].id == id)
                        found = &frame.components[std::size_t(c)];
                if (!found) return R::Declined;
                for (int j = 0; j < i; ++j)
                    if (comps[std::size_t(j)] == found) return R::Declined;
                comps[std::size_t(i)] = found;
                // The DC table selector is 4 bits in the file but names one of 4 tables.
                tables[std::size_t(i)] = seg[2 + 2 * i] >> 4;
                if (tables[std::size_t(i)] >= int(dcTables.size())) return R::Declined;
            }
            const int ss = seg[1 + 2 * inScan], se = seg[2 + 2 * inScan];
            const int ah = seg[3 + 2 * inScan] >> 4, al = seg[3 + 2 * inScan] & 15;
            if (ss > se || se > 63 || ah > 13 || al > 13) return R::Declined;
            // Each component keeps the quantiser it had at its first scan, as libjpeg does.
            for (int i = 0; i < inScan; ++i) {
                Component& comp = *comps[std::size_t(i)];
                if (comp.quant < 0) {
                    if (!quantDefined[std::size_t(comp.quantTable)]) return R::Declined;
                    comp.quant = quantTables[std::size_t(comp.quantTable)][0];
                }
            }
            BitReader in(data, size, next);
            if (ss != 0) {
                // An AC scan: one component only; its data is skipped, not decoded.
                if (inScan != 1) return R::Declined;
                const std::size_t end = in.nextMarker();
                if (end >= size) return R::Declined;
                pos = end;
                if (!sink.keepGoing()) return R::Stopped;
                continue;
            }
            if (se != 0) return R::Declined;
            // A DC scan: the first pass decodes differences, a refinement adds one bit.
            const bool first = ah == 0;
            int blocksInMcu = 0;
            for (int i = 0; i < inScan; ++i) {
                Component& comp = *comps[std::size_t(i)];
                if (first == comp.dcStarted) return R::Declined;
                if (!first && (ah != comp.dcLowBit || al != ah - 1)) return R::Declined;
                if (first && !dcTables[std::size_t(tables[std::size_t(i)])].defined)
                    return R::Declined;
                blocksInMcu += inScan == 1 ? 1 : comp.h * comp.v;
            }
            if (blocksInMcu > kMaxBlocksInMcu) return R::Declined;

            std::array<int, kMaxComponents> predictor{};
            const bool interleaved = inScan > 1;
            const int mcusWide = interleaved ? frame.mcusWide : comps[0]->blocksWide;
            const int mcusHigh = interleaved ? frame.mcusHigh : comps[0]->blocksHigh;
            const long mcus = long(mcusWide) * mcusHigh;
            long untilRestart = restartInterval;
            int expectedRestart = 0;
            for (long m = 0; m < mcus; ++m) {
                if (restartInterval && untilRestart == 0) {
                    // Byte-aligned RSTn marker expected next.
                    const std::size_t at = in.position();
                    if (at + 1 >= size || data[at] != 0xFF ||
                        data[at + 1] != 0xD0 + expectedRestart)
                        return R::Declined;
                    in.seek(at + 2);
                    expectedRestart = (expectedRestart + 1) & 7;
                    untilRestart = restartInterval;
                    predictor.fill(0);
                }
                const int mx = int(m % mcusWide), my = int(m / mcusWide);
                for (int i = 0; i < inScan; ++i) {
                    Component& comp = *comps[std::size_t(i)];
                    const int bw = interleaved ? comp.h : 1, bh = interleaved ? comp.v : 1;
                    for (int by = 0; by < bh; ++by)
                        for (int bx = 0; bx < bw; ++bx) {
                            const std::size_t index =
                                std::size_t(my * bh + by) * std::size_t(comp.stride) +
                                std::size_t(mx * bw + bx);
                            std::int16_t& coefficient = comp.dc[index];
                            if (first) {
                                const int s =
                                    decodeSymbol(in, dcTables[std::size_t(tables[std::size_t(i)])]);
                                if (s < 0 || s > 11) return R::Declined;
                                int diff = int(in.get(s));
                                if (s && diff < (1 << (s - 1))) diff -= (1 << s) - 1;
                                predictor[std::size_t(i)] += diff;
                                const int value = predictor[std::size_t(i)] * (1 << al);
                                if (value < -32768 || value > 32767) return R::Declined;
                                coefficient = std::int16_t(value);
                            } else if (in.get(1)) {
                                coefficient = std::int16_t(coefficient | (1 << al));
                            }
                        }
                }
                if (in.overrun()) return R::Declined;
                if (restartInterval) --untilRestart;
            }
            for (int i = 0; i < inScan; ++i) {
                comps[std::size_t(i)]->dcStarted = true;
                comps[std::size_t(i)]->dcLowBit = al;
            }
            // Any padding bits end the segment; the next marker follows.
            in.seek(in.position());
            const std::size_t end = in.nextMarker();
            if (end >= size) return R::Declined;
            pos = end;
            if (!sink.keepGoing()) return R::Stopped;
            continue;
        } else if (marker == 0xDC) {
            return R::Declined; // DNL: the height comes late; leave it to libjpeg
        }
        pos = next;
    }
    if (!sawEoi || !haveFrame) return R::Declined;
    for (int c = 0; c < frame.count; ++c)
        if (!frame.components[std::size_t(c)].dcStarted) return R::Declined;

    // Rows at 1/8 scale: one pixel per 8 x 8 block of the full image.
    const int outWidth = (frame.width + 7) / 8, outHeight = (frame.height + 7) / 8;
    const bool gray = frame.count == 1;
    static constexpr std::array<Rgb, 256> grayPalette = [] {
        std::array<Rgb, 256> p{};
        for (int i = 0; i < 256; ++i)
            p[std::size_t(i)] = {std::uint8_t(i), std::uint8_t(i), std::uint8_t(i)};
        return p;
    }();
    RowLayout layout;
    layout.width = outWidth;
    layout.height = outHeight;
    layout.palette = gray ? grayPalette.data() : nullptr;
    layout.paletteSize = gray ? 256 : 0;
    layout.bits = gray ? 8 : 24;
    OrientingSink upright(sink, orientation);
    if (!upright.begin(layout)) return R::Stopped;
    std::vector<std::uint8_t> row(std::size_t(outWidth) * (gray ? 1 : 3));
    const Component& y0 = frame.components[0];
    for (int y = 0; y < outHeight; ++y) {
        const int ly = y * y0.v / frame.vMax;
        const std::int16_t* luma = y0.dc.data() + std::size_t(ly) * std::size_t(y0.stride);
        if (gray) {
            for (int x = 0; x < outWidth; ++x)
                row[std::size_t(x)] =
                    clampSample(blockSample(luma[x * y0.h / frame.hMax], y0.quant));
        } else {
            const Component& cb = frame.components[1];
            const Component& cr = frame.components[2];
            const std::int16_t* cbRow =
                cb.dc.data() + std::size_t(y * cb.v / frame.vMax) * std::size_t(cb.stride);
            const std::int16_t* crRow =
                cr.dc.data() + std::size_t(y * cr.v / frame.vMax) * std::size_t(cr.stride);
            std::uint8_t* out = row.data();
            for (int x = 0; x < outWidth; ++x, out += 3) {
                const int l = clampSample(blockSample(luma[x * y0.h / frame.hMax], y0.quant));
                const int b =
                    clampSample(blockSample(cbRow[x * cb.h / frame.hMax], cb.quant)) - 128;
                const int r =
                    clampSample(blockSample(crRow[x * cr.h / frame.hMax], cr.quant)) - 128;
                // libjpeg's fixed-point YCbCr to RGB (16 fractional bits, rounded).
                out[0] = clampSample(l + ((91881 * r + 32768) >> 16));
                out[1] = clampSample(l + ((-22554 * b - 46802 * r + 32768) >> 16));
                out[2] = clampSample(l + ((116130 * b + 32768) >> 16));
            }
        }
        if (!upright.row(row.data())) return R::Stopped;
    }
    return R::Done;
}

} // namespace

} // namespace detail

// ---- the libjpeg road ----------------------------------------------------------------------

namespace {

using detail::JpegError;

// Rows asked of libjpeg per call.
constexpr int kJpegRowBatch = 16;
// The forced result that means "the sink stopped" (forced results must be nonzero).
constexpr int kForcedStop = -1000;

constexpr std::array<Rgb, 256> makeGrayPalette() {
    std::array<Rgb, 256> ramp{};
    for (int i = 0; i < 256; ++i)
        ramp[std::size_t(i)] = {std::uint8_t(i), std::uint8_t(i), std::uint8_t(i)};
    return ramp;
}
constexpr std::array<Rgb, 256> kGrayPalette = makeGrayPalette();

// CMYK to RGB. CMYK JPEGs store their inks inverted (0 is full ink), the convention Photoshop's
// files declare with an Adobe marker; files without the marker are written the same way in
// practice, and ImageMagick and Pillow read every CMYK JPEG so.
void cmykRowToRgb(const JSAMPLE* cmyk, std::uint8_t* rgb, int width) {
    for (int x = 0; x < width; ++x, cmyk += 4, rgb += 3) {
        const unsigned k = cmyk[3];
        rgb[0] = std::uint8_t((cmyk[0] * k + 127) / 255);
        rgb[1] = std::uint8_t((cmyk[1] * k + 127) / 255);
        rgb[2] = std::uint8_t((cmyk[2] * k + 127) / 255);
    }
}

// Everything the decoding frame needs, owned by the caller: the frame that calls setjmp keeps
// only trivially destructible locals.
struct JpegDecodeJob {
    jpeg_decompress_struct cinfo;
    JpegError err;
    jpeg_progress_mgr progress;
    std::FILE* file;
    const unsigned char* data; // the whole file when it was read into memory, else null
    std::size_t size;
    long long fileBytes;
    DecodeOptions options;
    RowSink* sink; // upright, below
    detail::OrientingSink* upright;
};

// Caps the scans of a progressive file and lets the sink stop a long decode.
void onJpegProgress(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor) return;
    auto* job = static_cast<JpegDecodeJob*>(cinfo->client_data);
    detail::checkJpegScanLimit(cinfo);
    if (!job->sink->keepGoing()) {
        job->err.forced = kForcedStop;
        cinfo->err->error_exit(cinfo);
    }
}

// Decodes through libjpeg into job->sink. Only trivially destructible locals: libjpeg may
// longjmp back here.
int decodeWithLibjpeg(JpegDecodeJob* job) {
    jpeg_decompress_struct* cinfo = &job->cinfo;
    std::memset(cinfo, 0, sizeof *cinfo);
    detail::installJpegErrorManager(job->err);
    cinfo->err = &job->err.pub;
    if (setjmp(job->err.jump)) {
        jpeg_destroy_decompress(cinfo);
        return job->err.result == kForcedStop ? Stopped : job->err.result;
    }
    jpeg_create_decompress(cinfo);
    cinfo->client_data = job;
    if (job->data)
        jpeg_mem_src(cinfo, job->data, static_cast<unsigned long>(job->size));
    else
        jpeg_stdio_src(cinfo, job->file);
    detail::applyJpegLimits(cinfo, job->progress, onJpegProgress);
    jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xFFFF); // EXIF, for the orientation

    jpeg_read_header(cinfo, TRUE);
    int rc = detail::checkDimensions(cinfo->image_width, cinfo->image_height);
    if (rc == Ok) rc = detail::checkJpegDataFits(cinfo, job->fileBytes);
    int orientation = 1;
    for (jpeg_saved_marker_ptr m = cinfo->marker_list; m && orientation == 1; m = m->next)
        if (m->marker == JPEG_APP0 + 1)
            orientation = detail::exifOrientation(m->data, m->data_length);
    job->upright->setOrientation(orientation);
    if (rc != Ok) {
        jpeg_destroy_decompress(cinfo);
        return rc;
    }
    bool cmyk = false;
    switch (cinfo->jpeg_color_space) {
    case JCS_GRAYSCALE:
        cinfo->out_color_space = JCS_GRAYSCALE;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        cinfo->out_color_space = JCS_CMYK;
        cmyk = true;
        break;
    default:
        cinfo->out_color_space = JCS_EXT_RGB;
        break;
    }
    const DecodeOptions& options = job->options;
    // The minimum size is the upright picture's: a quarter turn swaps it.
    const bool turned = detail::swapsSides(orientation);
    cinfo->scale_num = 1;
    cinfo->scale_denom = unsigned(
        options.jpegScale > 0 ? options.jpegScale
                              : jpegScaleCovering(int(cinfo->image_width), int(cinfo->image_height),
                                                  turned ? options.minHeight : options.minWidth,
                                                  turned ? options.minWidth : options.minHeight));
    // The accurate integer DCT stays: the fast one costs 5 dB at 1/2.
    if (options.fastUpsampling) cinfo->do_fancy_upsampling = FALSE;
    jpeg_calc_output_dimensions(cinfo);
    const bool gray = cinfo->out_color_space == JCS_GRAYSCALE;
    RowLayout layout;
    layout.width = int(cinfo->output_width);
    layout.height = int(cinfo->output_height);
    layout.palette = gray ? kGrayPalette.data() : nullptr;
    layout.paletteSize = gray ? 256 : 0;
    layout.bits = gray ? 8 : 24;
    if (!job->sink->begin(layout)) {
        jpeg_destroy_decompress(cinfo);
        return Stopped;
    }

    jpeg_start_decompress(cinfo); // reads every scan of a progressive file
    // Decoding stops at the first sign of missing data (a file too small for its frame was
    // refused before anything was allocated for it).
    if (job->err.truncated) {
        jpeg_destroy_decompress(cinfo);
        return Truncated;
    }
    const int width = layout.width;
    RowSink& sink = *job->sink;
    rc = Ok;
    if (cmyk) {
        // One row of inks and one of colour in libjpeg's own pool, released with it.
        JSAMPARRAY inks = cinfo->mem->alloc_sarray(reinterpret_cast<j_common_ptr>(cinfo),
                                                   JPOOL_IMAGE, JDIMENSION(width) * 4, 1);
        JSAMPARRAY colour = cinfo->mem->alloc_sarray(reinterpret_cast<j_common_ptr>(cinfo),
                                                     JPOOL_IMAGE, JDIMENSION(width) * 3, 1);
        while (rc == Ok && cinfo->output_scanline < cinfo->output_height && !job->err.truncated) {
            const int y = int(cinfo->output_scanline);
            if (jpeg_read_scanlines(cinfo, inks, 1) != 1) break;
            std::uint8_t* target = sink.rowBuffer(y);
            if (!target) target = colour[0];
            cmykRowToRgb(inks[0], target, width);
            if (!sink.row(target)) rc = Stopped;
        }
    } else {
        // Several rows per call, straight into the sink's rows when it offers them.
        const JDIMENSION rowBytes = JDIMENSION(width) * JDIMENSION(cinfo->output_components);
        JSAMPARRAY own = cinfo->mem->alloc_sarray(reinterpret_cast<j_common_ptr>(cinfo),
                                                  JPOOL_IMAGE, rowBytes, kJpegRowBatch);
        JSAMPROW rows[kJpegRowBatch];
        while (rc == Ok && cinfo->output_scanline < cinfo->output_height && !job->err.truncated) {
            const int y = int(cinfo->output_scanline);
            const int count = std::min(kJpegRowBatch, layout.height - y);
            for (int i = 0; i < count; ++i) {
                std::uint8_t* target = sink.rowBuffer(y + i);
                rows[i] = target ? target : own[i];
            }
            const JDIMENSION got = jpeg_read_scanlines(cinfo, rows, JDIMENSION(count));
            if (got == 0) break;
            for (JDIMENSION i = 0; rc == Ok && i < got; ++i)
                if (!sink.row(rows[i])) rc = Stopped;
        }
    }
    const bool complete = cinfo->output_scanline == cinfo->output_height;
    // Whatever follows the last scan is of no interest, so the decompressor is dropped here rather
    // than finished.
    jpeg_destroy_decompress(cinfo);
    if (rc != Ok) return rc;
    if (job->err.truncated || !complete) return Truncated;
    return Ok;
}

} // namespace

int jpegScaleCovering(int width, int height, int minWidth, int minHeight) {
    if (width <= 0 || height <= 0 || minWidth <= 0 || minHeight <= 0) return 1;
    for (int d : {8, 4, 2}) {
        if ((width + d - 1) / d >= minWidth && (height + d - 1) / d >= minHeight) return d;
    }
    return 1;
}

namespace detail {

int decodeJpeg(const std::string& file, const DecodeOptions& options, RowSink& sink) {
    if (options.jpegScale != 0 && options.jpegScale != 1 && options.jpegScale != 2 &&
        options.jpegScale != 4 && options.jpegScale != 8)
        return BadParameter;
    try {
        CFile f;
        if (const int rc = openForRead(file, f); rc != Ok) return rc;
        auto job = std::make_unique<JpegDecodeJob>();
        job->file = f.get();
        job->fileBytes = fileSize(f.get());
        job->options = options;
        OrientingSink upright(sink, 1);
        job->upright = &upright;
        job->sink = &upright;
        // From memory, libjpeg-turbo's Huffman decoder stays on its fast path for nearly the
        // whole file (with a small refilled buffer it drops to the careful path at every refill).
        ScratchBuffer fileBytes;
        std::vector<unsigned char>& bytes = fileBytes.get();
        int rc = Ok;
        if (readWholeFile(f.get(), bytes, rc)) {
            job->data = bytes.data();
            job->size = bytes.size();
            job->fileBytes = static_cast<long long>(bytes.size());
            if (options.fastPaths && options.jpegScale == 0 &&
                settled(decodeProgressiveDc(job->data, job->size, options.minWidth,
                                            options.minHeight, sink),
                        rc))
                return rc;
        } else if (rc != Ok) {
            return rc;
        } else {
            std::rewind(f.get());
        }
        return decodeWithLibjpeg(job.get());
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
}

} // namespace detail

int readJpeg(const std::string& file, int bits, int jpegScale, int dither, Raster& out) {
    if (jpegScale != 1 && jpegScale != 2 && jpegScale != 4 && jpegScale != 8) {
        out = Raster{};
        return detail::validDepth(bits) ? BadParameter : BadDepth;
    }
    DecodeOptions options;
    options.jpegScale = jpegScale;
    // In a scaled decode the DCT scaling already enlarges subsampled chroma, and the plain
    // upsampler gives the same picture (measured against a box-filtered full decode) in up to a
    // fifth less time at 1/2.
    options.fastUpsampling = jpegScale > 1;
    return detail::readThroughSink(detail::decodeJpeg, file, options, bits, dither, out);
}

} // namespace pixmoor::codec
