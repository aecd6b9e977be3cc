// The 1/8-scale picture of a progressive JPEG from its DC scans alone, the faster road the JPEG
// reader may take for thumbnails: Huffman tables, a bit reader, and the DC coefficients' decode.
#include "imaging/codec/jpeg_progressive_dc.h"

#include "imaging/codec/decode.h"
#include "imaging/codec/format_io.h"
#include "imaging/codec/orientation.h"
#include "imaging/codec/raster_sink.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <new>
#include <vector>

namespace pixmoor::codec::detail {

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

// What the marker segments read so far have set up, and the DC coefficients decoded so far.
struct DcPicture {
    int minWidth = 0, minHeight = 0; // the size asked for, upright
    std::array<std::array<std::uint16_t, 64>, 4> quantTables{};
    std::array<bool, 4> quantDefined{};
    std::array<HuffmanTable, 4> dcTables;
    Frame frame;
    bool haveFrame = false, adobeRgb = false;
    int orientation = 1; // from EXIF, which comes before the frame
    int restartInterval = 0;
};

// A scan's header: its components with their DC tables, its spectral range and its successive
// approximation bits.
struct Scan {
    int count = 0;
    std::array<Component*, kMaxComponents> comps{};
    std::array<int, kMaxComponents> tables{};
    int ss = 0, se = 0, ah = 0, al = 0;
};

// A progressive Huffman frame header (SOF2), in a file of `size` bytes: the components, their
// sampling, and coefficient planes sized for the blocks the data can fill. False to decline.
bool readFrame(DcPicture& p, const std::uint8_t* seg, std::size_t segLength, std::size_t size) {
    Frame& frame = p.frame;
    if (p.haveFrame || segLength < 6) return false;
    const int precision = seg[0];
    frame.height = be16(seg + 1);
    frame.width = be16(seg + 3);
    frame.count = seg[5];
    if (precision != 8 || frame.width == 0 || frame.height == 0) return false;
    if (checkDimensions(frame.width, frame.height) != Ok) return false;
    // Only at 1/8 scale is a block's DC coefficient all there is to its pixel.
    // The minimum size is the upright picture's: a quarter turn swaps it.
    const bool turned = swapsSides(p.orientation);
    if (jpegScaleCovering(frame.width, frame.height, turned ? p.minHeight : p.minWidth,
                          turned ? p.minWidth : p.minHeight) != 8)
        return false;
    if ((frame.count != 1 && frame.count != 3) || segLength < 6 + 3 * std::size_t(frame.count))
        return false;
    for (int c = 0; c < frame.count; ++c) {
        Component& comp = frame.components[std::size_t(c)];
        comp.id = seg[6 + 3 * c];
        comp.h = seg[7 + 3 * c] >> 4;
        comp.v = seg[7 + 3 * c] & 15;
        comp.quantTable = seg[8 + 3 * c];
        if (comp.h < 1 || comp.h > 4 || comp.v < 1 || comp.v > 4 || comp.quantTable > 3)
            return false;
        for (int d = 0; d < c; ++d)
            if (frame.components[std::size_t(d)].id == comp.id) return false;
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
    if (blocks > 8 * std::uint64_t(size)) return false;
    for (int c = 0; c < frame.count; ++c) {
        Component& comp = frame.components[std::size_t(c)];
        if (frame.hMax % comp.h || frame.vMax % comp.v) return false;
        const int w = (frame.width * comp.h + frame.hMax - 1) / frame.hMax;
        const int hgt = (frame.height * comp.v + frame.vMax - 1) / frame.vMax;
        comp.blocksWide = (w + 7) / 8;
        comp.blocksHigh = (hgt + 7) / 8;
        comp.stride = frame.mcusWide * comp.h;
        try {
            comp.dc.assign(std::size_t(comp.stride) * std::size_t(frame.mcusHigh * comp.v), 0);
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    if (frame.count == 3) {
        const auto& cs = frame.components;
        if (cs[0].id == 'R' && cs[1].id == 'G' && cs[2].id == 'B') return false;
    }
    p.haveFrame = true;
    return true;
}

// A DHT segment: the DC tables are kept, the AC tables only checked. False to decline.
bool readHuffmanTables(DcPicture& p, const std::uint8_t* seg, std::size_t segLength) {
    std::size_t at = 0;
    while (at < segLength) {
        if (at + 17 > segLength) return false;
        const int tableClass = seg[at] >> 4, index = seg[at] & 15;
        if (tableClass > 1 || index > 3) return false;
        int total = 0;
        for (int i = 0; i < 16; ++i) total += seg[at + 1 + std::size_t(i)];
        if (total > 256 || at + 17 + std::size_t(total) > segLength) return false;
        if (tableClass == 0 &&
            !buildTable(p.dcTables[std::size_t(index)], seg + at + 1, seg + at + 17, total))
            return false;
        at += 17 + std::size_t(total);
    }
    return true;
}

// A DQT segment of 8- or 16-bit tables. False to decline.
bool readQuantTables(DcPicture& p, const std::uint8_t* seg, std::size_t segLength) {
    std::size_t at = 0;
    while (at < segLength) {
        const int precision = seg[at] >> 4, index = seg[at] & 15;
        if (precision > 1 || index > 3) return false;
        const std::size_t bytes = precision ? 128 : 64;
        if (at + 1 + bytes > segLength) return false;
        for (int i = 0; i < 64; ++i)
            p.quantTables[std::size_t(index)][std::size_t(i)] =
                precision ? be16(seg + at + 1 + 2 * std::size_t(i)) : seg[at + 1 + std::size_t(i)];
        p.quantDefined[std::size_t(index)] = true;
        at += 1 + bytes;
    }
    return true;
}

// An SOS segment, checked against the frame; latches the quantiser of each component at its
// first scan. False to decline.
bool readScanHeader(DcPicture& p, const std::uint8_t* seg, std::size_t segLength, Scan& scan) {
    Frame& frame = p.frame;
    if (!p.haveFrame || p.adobeRgb || segLength < 1) return false;
    scan.count = seg[0];
    if (scan.count < 1 || scan.count > frame.count || segLength != 4 + 2 * std::size_t(scan.count))
        return false;
    for (int i = 0; i < scan.count; ++i) {
        const int id = seg[1 + 2 * i];
        Component* found = nullptr;
        for (int c = 0; c < frame.count; ++c)
            if (frame.components[std::size_t(c)].id == id)
                found = &frame.components[std::size_t(c)];
        if (!found) return false;
        for (int j = 0; j < i; ++j)
            if (scan.comps[std::size_t(j)] == found) return false;
        scan.comps[std::size_t(i)] = found;
        // The DC table selector is 4 bits in the file but names one of 4 tables.
        scan.tables[std::size_t(i)] = seg[2 + 2 * i] >> 4;
        if (scan.tables[std::size_t(i)] >= int(p.dcTables.size())) return false;
    }
    scan.ss = seg[1 + 2 * scan.count];
    scan.se = seg[2 + 2 * scan.count];
    scan.ah = seg[3 + 2 * scan.count] >> 4;
    scan.al = seg[3 + 2 * scan.count] & 15;
    if (scan.ss > scan.se || scan.se > 63 || scan.ah > 13 || scan.al > 13) return false;
    // Each component keeps the quantiser it had at its first scan, as libjpeg does.
    for (int i = 0; i < scan.count; ++i) {
        Component& comp = *scan.comps[std::size_t(i)];
        if (comp.quant < 0) {
            if (!p.quantDefined[std::size_t(comp.quantTable)]) return false;
            comp.quant = p.quantTables[std::size_t(comp.quantTable)][0];
        }
    }
    return true;
}

// The entropy-coded data of a DC scan (ss 0) from `in`, which is left at the end of its last
// byte: the first pass decodes differences, a refinement adds one bit. False to decline.
bool decodeDcScan(DcPicture& p, const Scan& scan, const std::uint8_t* data, std::size_t size,
                  BitReader& in) {
    const Frame& frame = p.frame;
    if (scan.se != 0) return false;
    const bool first = scan.ah == 0;
    int blocksInMcu = 0;
    for (int i = 0; i < scan.count; ++i) {
        const Component& comp = *scan.comps[std::size_t(i)];
        if (first == comp.dcStarted) return false;
        if (!first && (scan.ah != comp.dcLowBit || scan.al != scan.ah - 1)) return false;
        if (first && !p.dcTables[std::size_t(scan.tables[std::size_t(i)])].defined) return false;
        blocksInMcu += scan.count == 1 ? 1 : comp.h * comp.v;
    }
    if (blocksInMcu > kMaxBlocksInMcu) return false;

    std::array<int, kMaxComponents> predictor{};
    const bool interleaved = scan.count > 1;
    const int mcusWide = interleaved ? frame.mcusWide : scan.comps[0]->blocksWide;
    const int mcusHigh = interleaved ? frame.mcusHigh : scan.comps[0]->blocksHigh;
    const long mcus = long(mcusWide) * mcusHigh;
    long untilRestart = p.restartInterval;
    int expectedRestart = 0;
    for (long m = 0; m < mcus; ++m) {
        if (p.restartInterval && untilRestart == 0) {
            // Byte-aligned RSTn marker expected next.
            const std::size_t at = in.position();
            if (at + 1 >= size || data[at] != 0xFF || data[at + 1] != 0xD0 + expectedRestart)
                return false;
            in.seek(at + 2);
            expectedRestart = (expectedRestart + 1) & 7;
            untilRestart = p.restartInterval;
            predictor.fill(0);
        }
        const int mx = int(m % mcusWide), my = int(m / mcusWide);
        for (int i = 0; i < scan.count; ++i) {
            Component& comp = *scan.comps[std::size_t(i)];
            const HuffmanTable& table = p.dcTables[std::size_t(scan.tables[std::size_t(i)])];
            const int bw = interleaved ? comp.h : 1, bh = interleaved ? comp.v : 1;
            for (int by = 0; by < bh; ++by)
                for (int bx = 0; bx < bw; ++bx) {
                    const std::size_t index = std::size_t(my * bh + by) * std::size_t(comp.stride) +
                                              std::size_t(mx * bw + bx);
                    std::int16_t& coefficient = comp.dc[index];
                    if (first) {
                        const int s = decodeSymbol(in, table);
                        if (s < 0 || s > 11) return false;
                        int diff = int(in.get(s));
                        if (s && diff < (1 << (s - 1))) diff -= (1 << s) - 1;
                        predictor[std::size_t(i)] += diff;
                        const int value = predictor[std::size_t(i)] * (1 << scan.al);
                        if (value < -32768 || value > 32767) return false;
                        coefficient = std::int16_t(value);
                    } else if (in.get(1)) {
                        coefficient = std::int16_t(coefficient | (1 << scan.al));
                    }
                }
        }
        if (in.overrun()) return false;
        if (p.restartInterval) --untilRestart;
    }
    for (int i = 0; i < scan.count; ++i) {
        scan.comps[std::size_t(i)]->dcStarted = true;
        scan.comps[std::size_t(i)]->dcLowBit = scan.al;
    }
    // Any padding bits end the segment.
    in.seek(in.position());
    return true;
}

// Sends the picture at 1/8 scale, one pixel per 8 x 8 block of the full image, turned upright.
Strategy sendDcPicture(const DcPicture& p, RowSink& sink) {
    const Frame& frame = p.frame;
    const int outWidth = (frame.width + 7) / 8, outHeight = (frame.height + 7) / 8;
    const bool gray = frame.count == 1;
    static constexpr std::array<Rgb, 256> grayPalette = [] {
        std::array<Rgb, 256> palette{};
        for (int i = 0; i < 256; ++i)
            palette[std::size_t(i)] = {std::uint8_t(i), std::uint8_t(i), std::uint8_t(i)};
        return palette;
    }();
    RowLayout layout;
    layout.width = outWidth;
    layout.height = outHeight;
    layout.palette = gray ? grayPalette.data() : nullptr;
    layout.paletteSize = gray ? 256 : 0;
    layout.bits = gray ? 8 : 24;
    OrientingSink upright(sink, p.orientation);
    if (!upright.begin(layout)) return Strategy::Stopped;
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
        if (!upright.row(row.data())) return Strategy::Stopped;
    }
    return Strategy::Done;
}

} // namespace

// Walks the marker segments: tables and the frame are read, DC scans decoded, AC scans skipped.
// The picture goes out once the file has ended (EOI) with every component's DC complete.
Strategy decodeProgressiveDc(const unsigned char* data, std::size_t size, int minWidth,
                             int minHeight, RowSink& sink) {
    using R = Strategy;
    if (!data || size < 4 || data[0] != 0xFF || data[1] != 0xD8) return R::Declined;
    DcPicture picture;
    picture.minWidth = minWidth;
    picture.minHeight = minHeight;
    bool sawEoi = false;
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
            if (!readFrame(picture, seg, segLength, size)) return R::Declined;
        } else if ((marker >= 0xC0 && marker <= 0xCF) && marker != 0xC4 && marker != 0xC8 &&
                   marker != 0xCC) {
            return R::Declined;      // any other frame type: sequential, lossless, arithmetic
        } else if (marker == 0xC4) { // Huffman tables
            if (!readHuffmanTables(picture, seg, segLength)) return R::Declined;
        } else if (marker == 0xDB) { // quantisation tables
            if (!readQuantTables(picture, seg, segLength)) return R::Declined;
        } else if (marker == 0xDD) { // restart interval
            if (segLength < 2) return R::Declined;
            picture.restartInterval = be16(seg);
        } else if (marker == 0xE1 && picture.orientation == 1) { // EXIF
            const int found = exifOrientation(seg, segLength);
            // Found after the frame, it would have changed the scale chosen: leave it to libjpeg.
            if (found != 1 && picture.haveFrame) return R::Declined;
            picture.orientation = found;
        } else if (marker == 0xEE) { // Adobe: transform 0 means the three planes are RGB
            if (segLength >= 12 && std::equal(seg, seg + 5, "Adobe") && seg[11] == 0)
                picture.adobeRgb = true;
        } else if (marker == 0xDA) { // a scan
            Scan scan;
            if (!readScanHeader(picture, seg, segLength, scan)) return R::Declined;
            BitReader in(data, size, next);
            if (scan.ss != 0) {
                // An AC scan: one component only; its data is skipped, not decoded.
                if (scan.count != 1) return R::Declined;
            } else if (!decodeDcScan(picture, scan, data, size, in)) {
                return R::Declined;
            }
            // The next marker follows the scan's data.
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
    if (!sawEoi || !picture.haveFrame) return R::Declined;
    for (int c = 0; c < picture.frame.count; ++c)
        if (!picture.frame.components[std::size_t(c)].dcStarted) return R::Declined;
    return sendDcPicture(picture, sink);
}

} // namespace pixmoor::codec::detail
