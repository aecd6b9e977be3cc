// Stored orientation and the upright-turning sink (see orientation.h).
#include "imaging/codec/orientation.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace pixmoor::codec::detail {

int exifOrientation(const std::uint8_t* data, std::size_t size) {
    static constexpr std::uint8_t kExif[6] = {'E', 'x', 'i', 'f', 0, 0};
    if (!data || size < 6 + 8 || std::memcmp(data, kExif, 6) != 0) return 1;
    const std::uint8_t* t = data + 6; // the TIFF structure: offsets count from here
    const std::size_t n = size - 6;
    const bool little = t[0] == 'I' && t[1] == 'I';
    if (!little && !(t[0] == 'M' && t[1] == 'M')) return 1;
    const auto u16 = [&](std::size_t at) -> unsigned {
        return little ? unsigned(t[at]) | unsigned(t[at + 1]) << 8
                      : unsigned(t[at]) << 8 | unsigned(t[at + 1]);
    };
    const auto u32 = [&](std::size_t at) -> std::uint32_t {
        return little ? std::uint32_t(u16(at)) | std::uint32_t(u16(at + 2)) << 16
                      : std::uint32_t(u16(at)) << 16 | std::uint32_t(u16(at + 2));
    };
    if (u16(2) != 42) return 1;
    const std::uint32_t ifd = u32(4);
    if (ifd < 8 || ifd > n - 2) return 1;
    // Only the entries that lie wholly inside the block are read.
    const std::size_t count = std::min<std::size_t>(u16(ifd), (n - ifd - 2) / 12);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = ifd + 2 + 12 * i;
        if (u16(entry) != 274) continue;
        if (u16(entry + 2) != 3 || u32(entry + 4) < 1) return 1; // one SHORT
        const unsigned value = u16(entry + 8);
        return value >= 1 && value <= 8 ? int(value) : 1;
    }
    return 1;
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
