// Stored orientation and the upright-turning sink (see orientation.h).
#include "imaging/codec/orientation.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace pixmoor::codec::detail {

namespace {

// Whether the byte ranges [a, a + aSize) and [b, b + bSize) share a byte.
bool overlaps(std::size_t a, std::size_t aSize, std::size_t b, std::size_t bSize) {
    return a < b + bSize && b < a + aSize;
}

} // namespace

ExifFacts readExif(const std::uint8_t* data, std::size_t size) {
    ExifFacts facts;
    static constexpr std::uint8_t kExif[6] = {'E', 'x', 'i', 'f', 0, 0};
    if (!data || size < 6 + 8 || std::memcmp(data, kExif, 6) != 0) return facts;
    const std::uint8_t* t = data + 6; // the TIFF structure: offsets count from here
    const std::size_t n = size - 6;
    const bool little = t[0] == 'I' && t[1] == 'I';
    if (!little && !(t[0] == 'M' && t[1] == 'M')) return facts;
    const auto u16 = [&](std::size_t at) -> unsigned {
        return little ? unsigned(t[at]) | unsigned(t[at + 1]) << 8
                      : unsigned(t[at]) << 8 | unsigned(t[at + 1]);
    };
    const auto u32 = [&](std::size_t at) -> std::uint32_t {
        return little ? std::uint32_t(u16(at)) | std::uint32_t(u16(at + 2)) << 16
                      : std::uint32_t(u16(at)) << 16 | std::uint32_t(u16(at + 2));
    };
    if (u16(2) != 42) return facts;
    // A directory at `at`: only the entries that lie wholly inside the block are read.
    const auto entriesAt = [&](std::size_t at) {
        return std::min<std::size_t>(u16(at), (n - at - 2) / 12);
    };
    const std::size_t ifd0 = u32(4);
    if (ifd0 < 8 || ifd0 > n - 2) return facts;
    const std::size_t count0 = entriesAt(ifd0);
    for (std::size_t i = 0; i < count0; ++i) {
        const std::size_t entry = ifd0 + 2 + 12 * i;
        if (u16(entry) != 274) continue;
        if (u16(entry + 2) == 3 && u32(entry + 4) >= 1) { // one SHORT
            const unsigned value = u16(entry + 8);
            if (value >= 1 && value <= 8) facts.orientation = int(value);
        }
        break; // the first one counts, however damaged
    }

    // The second directory follows the link after the first's whole table; it may not overlap
    // the first (nor be it: a loop).
    const std::size_t table0 = 2 + 12 * std::size_t(u16(ifd0)) + 4;
    if (table0 > n - ifd0) return facts;
    const std::size_t ifd1 = u32(ifd0 + table0 - 4);
    if (ifd1 < 8 || ifd1 > n - 2) return facts;
    const std::size_t count1 = entriesAt(ifd1);
    const std::size_t table1 = std::min(2 + 12 * count1 + 4, n - ifd1);
    if (overlaps(ifd0, table0, ifd1, table1)) return facts;
    std::size_t offset = 0, length = 0;
    for (std::size_t i = 0; i < count1; ++i) {
        const std::size_t entry = ifd1 + 2 + 12 * i;
        const unsigned tag = u16(entry), type = u16(entry + 2);
        if (u32(entry + 4) != 1) continue; // each of these is one value
        const std::size_t value = type == 4 ? u32(entry + 8) : type == 3 ? u16(entry + 8) : 0;
        if (tag == 259 && type == 3 && value != 6) return facts; // not a JPEG thumbnail
        if (tag == 513) offset = value;
        if (tag == 514) length = value;
    }
    // Inside the block, past the TIFF header, clear of both directories, starting with SOI.
    if (offset < 8 || length < 4 || offset > n || length > n - offset) return facts;
    if (overlaps(offset, length, ifd0, table0) || overlaps(offset, length, ifd1, table1))
        return facts;
    if (t[offset] != 0xFF || t[offset + 1] != 0xD8) return facts;
    facts.thumbnail = t + offset;
    facts.thumbnailSize = length;
    return facts;
}

int exifOrientation(const std::uint8_t* data, std::size_t size) {
    return readExif(data, size).orientation;
}

OrientingSink::OrientingSink(RowSink& out, int orientation)
    : out_(out), orientation_(orientation >= 1 && orientation <= 8 ? orientation : 1) {}

void OrientingSink::setOrientation(int orientation) {
    orientation_ = orientation >= 1 && orientation <= 8 ? orientation : 1;
}

bool OrientingSink::passesStraight() {
    straight_ = out_.turnsItself(orientation_) || orientation_ == 1;
    return straight_;
}

bool OrientingSink::begin(const RowLayout& layout) {
    if (passesStraight()) return out_.begin(layout);
    in_ = layout;
    rows_ = 0;
    pixelBytes_ = layout.palette ? 1 : 3;
    RowLayout upright = layout;
    if (swapsSides(orientation_)) std::swap(upright.width, upright.height);
    try {
        const std::size_t rowBytes = std::size_t(layout.width) * pixelBytes_;
        if (orientation_ >= 3) picture_.resize(rowBytes * std::size_t(layout.height));
        if (orientation_ >= 2) line_.resize(std::size_t(upright.width) * pixelBytes_);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return out_.begin(upright);
}

std::uint8_t* OrientingSink::rowBuffer(int y) {
    return straight_ ? out_.rowBuffer(y) : nullptr;
}

bool OrientingSink::row(const std::uint8_t* pixels) {
    if (straight_) return out_.row(pixels);
    if (rows_ >= in_.height) return false;
    const std::size_t w = std::size_t(in_.width), px = pixelBytes_;
    if (orientation_ == 2) { // a mirror: row by row
        for (std::size_t x = 0; x < w; ++x)
            std::memcpy(&line_[(w - 1 - x) * px], pixels + x * px, px);
        ++rows_;
        return out_.row(line_.data());
    }
    std::memcpy(&picture_[std::size_t(rows_) * w * px], pixels, w * px);
    ++rows_;
    return rows_ < in_.height || emit();
}

// Sends the whole stored picture on, upright.
bool OrientingSink::emit() {
    const std::size_t w = std::size_t(in_.width), h = std::size_t(in_.height), px = pixelBytes_;
    const bool swapped = swapsSides(orientation_);
    const std::size_t outW = swapped ? h : w, outH = swapped ? w : h;
    for (std::size_t y = 0; y < outH; ++y) {
        for (std::size_t x = 0; x < outW; ++x) {
            const StoredPixel from = storedPixel(orientation_, int(x), int(y), int(w), int(h));
            const std::size_t sx = std::size_t(from.x), sy = std::size_t(from.y);
            std::memcpy(&line_[x * px], &picture_[(sy * w + sx) * px], px);
        }
        if (!out_.row(line_.data())) return false;
    }
    std::vector<std::uint8_t>().swap(picture_);
    return true;
}

bool OrientingSink::image(Raster&& raster) {
    if (passesStraight()) return out_.image(std::move(raster));
    return RowSink::image(std::move(raster)); // through begin() and row(), turned
}

} // namespace pixmoor::codec::detail
