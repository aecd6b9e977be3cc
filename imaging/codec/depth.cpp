// Colour-depth conversion of the codec library: the fixed VGA and black-and-white palettes, an
// adaptive palette (Wu's variance-minimising box cut refined by k-means) and Floyd-Steinberg
// error diffusion. Every reader and writer brings its raster to the asked depth through here.
#include "imaging/codec/codec.h"
#include "imaging/codec/errors.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

namespace pixmoor::codec {

namespace {

// The 16 colours of the Windows VGA palette, in the order 4-bit device-independent bitmaps use.
constexpr std::array<Rgb, 16> kVga = {{{0, 0, 0},
                                       {128, 0, 0},
                                       {0, 128, 0},
                                       {128, 128, 0},
                                       {0, 0, 128},
                                       {128, 0, 128},
                                       {0, 128, 128},
                                       {192, 192, 192},
                                       {128, 128, 128},
                                       {255, 0, 0},
                                       {0, 255, 0},
                                       {255, 255, 0},
                                       {0, 0, 255},
                                       {255, 0, 255},
                                       {0, 255, 255},
                                       {255, 255, 255}}};

inline std::uint8_t clampByte(int v) {
    return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// Gives the pixels of a row as packed R, G, B bytes, expanding indexed rows through the palette.
class RowReader {
public:
    explicit RowReader(const Raster& image) : image_(image) {
        if (image.indexed()) {
            buffer_.resize(std::size_t(image.width) * 3);
            // Indices beyond the palette read as black, like Raster::at().
            lookup_.fill(Rgb{});
            for (std::size_t i = 0; i < image.palette.size() && i < 256; ++i)
                lookup_[i] = image.palette[i];
        }
    }
    const std::uint8_t* row(int y) {
        const std::uint8_t* src = image_.row(y);
        if (!image_.indexed()) return src;
        std::uint8_t* out = buffer_.data();
        for (int x = 0; x < image_.width; ++x) {
            const Rgb c = lookup_[src[x]];
            out[0] = c.r;
            out[1] = c.g;
            out[2] = c.b;
            out += 3;
        }
        return buffer_.data();
    }

private:
    const Raster& image_;
    std::vector<std::uint8_t> buffer_;
    std::array<Rgb, 256> lookup_{};
};

// Collects the distinct colours of an image in order of first appearance; false as soon as there
// are more than `limit` of them.
bool distinctColours(const Raster& image, std::size_t limit, std::vector<Rgb>& colours) {
    colours.clear();
    if (image.indexed()) {
        std::array<bool, 256> used{};
        for (int y = 0; y < image.height; ++y) {
            const std::uint8_t* p = image.row(y);
            for (int x = 0; x < image.width; ++x) used[p[x]] = true;
        }
        for (int i = 0; i < 256; ++i) {
            if (!used[i]) continue;
            const Rgb c = i < int(image.palette.size()) ? image.palette[i] : Rgb{};
            if (std::find(colours.begin(), colours.end(), c) != colours.end()) continue;
            if (colours.size() == limit) return false;
            colours.push_back(c);
        }
        return true;
    }
    // Open addressing over packed 24-bit keys; the table stays small because we stop at `limit`.
    constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
    std::vector<std::uint32_t> table(2048, kEmpty);
    const std::uint32_t mask = std::uint32_t(table.size() - 1);
    std::uint32_t last = kEmpty;
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* p = image.row(y);
        for (int x = 0; x < image.width; ++x, p += 3) {
            const std::uint32_t key = (std::uint32_t(p[0]) << 16) | (p[1] << 8) | p[2];
            if (key == last) continue;
            last = key;
            std::uint32_t h = (key * 2654435761u) >> 21 & mask;
            while (table[h] != kEmpty && table[h] != key) h = (h + 1) & mask;
            if (table[h] == key) continue;
            if (colours.size() == limit) return false;
            table[h] = key;
            colours.push_back({p[0], p[1], p[2]});
        }
    }
    return true;
}

// ---- Adaptive palette: Wu's quantizer on a 32-level histogram ----------------------------------

class WuQuantizer {
public:
    static constexpr int kSide = 33;

    WuQuantizer()
        : wt_(kSide * kSide * kSide), mr_(wt_.size()), mg_(wt_.size()), mb_(wt_.size()),
          m2_(wt_.size()) {}

    void add(const std::uint8_t* rgb, int count) {
        for (int i = 0; i < count; ++i, rgb += 3) {
            const int r = rgb[0], g = rgb[1], b = rgb[2];
            const int k = index((r >> 3) + 1, (g >> 3) + 1, (b >> 3) + 1);
            wt_[k] += 1;
            mr_[k] += r;
            mg_[k] += g;
            mb_[k] += b;
            m2_[k] += double(r * r + g * g + b * b);
        }
    }

    std::vector<Rgb> palette(int maxColours) {
        accumulate();
        std::vector<Box> boxes(static_cast<std::size_t>(maxColours));
        std::vector<double> variance(std::size_t(maxColours), 0.0);
        boxes[0] = Box{0, 32, 0, 32, 0, 32};
        int count = 1;
        int next = 0;
        for (int i = 1; i < maxColours; ++i) {
            if (cut(boxes[std::size_t(next)], boxes[std::size_t(i)])) {
                variance[std::size_t(next)] = volume(boxes[std::size_t(next)]) > 1
                                                  ? boxVariance(boxes[std::size_t(next)])
                                                  : 0.0;
                variance[std::size_t(i)] =
                    volume(boxes[std::size_t(i)]) > 1 ? boxVariance(boxes[std::size_t(i)]) : 0.0;
                count = i + 1;
            } else {
                variance[std::size_t(next)] = 0.0;
                --i;
            }
            next = 0;
            double best = variance[0];
            for (int k = 1; k < count; ++k) {
                if (variance[std::size_t(k)] > best) {
                    best = variance[std::size_t(k)];
                    next = k;
                }
            }
            if (best <= 0.0) break;
        }
        std::vector<Rgb> result;
        for (int k = 0; k < count; ++k) {
            const Box& box = boxes[std::size_t(k)];
            const double w = double(sum(box, wt_));
            if (w <= 0) continue;
            result.push_back({clampByte(int(double(sum(box, mr_)) / w + 0.5)),
                              clampByte(int(double(sum(box, mg_)) / w + 0.5)),
                              clampByte(int(double(sum(box, mb_)) / w + 0.5))});
        }
        return result;
    }

private:
    struct Box {
        int r0, r1, g0, g1, b0, b1; // lower bounds exclusive, upper inclusive
    };
    enum Axis { Red, Green, Blue };

    static int index(int r, int g, int b) { return (r * kSide + g) * kSide + b; }
    static int volume(const Box& b) { return (b.r1 - b.r0) * (b.g1 - b.g0) * (b.b1 - b.b0); }

    // Turns the histogram into cumulative moments so any box's sums take eight look-ups.
    void accumulate() {
        std::array<std::int64_t, kSide> aw, ar, ag, ab;
        std::array<double, kSide> a2;
        for (int r = 1; r < kSide; ++r) {
            aw.fill(0), ar.fill(0), ag.fill(0), ab.fill(0), a2.fill(0);
            for (int g = 1; g < kSide; ++g) {
                std::int64_t lw = 0, lr = 0, lg = 0, lb = 0;
                double l2 = 0;
                for (int b = 1; b < kSide; ++b) {
                    const int k = index(r, g, b);
                    lw += wt_[k], lr += mr_[k], lg += mg_[k], lb += mb_[k], l2 += m2_[k];
                    aw[b] += lw, ar[b] += lr, ag[b] += lg, ab[b] += lb, a2[b] += l2;
                    const int p = index(r - 1, g, b);
                    wt_[k] = wt_[p] + aw[b];
                    mr_[k] = mr_[p] + ar[b];
                    mg_[k] = mg_[p] + ag[b];
                    mb_[k] = mb_[p] + ab[b];
                    m2_[k] = m2_[p] + a2[b];
                }
            }
        }
    }

    template <class T> static T sum(const Box& c, const std::vector<T>& m) {
        return m[index(c.r1, c.g1, c.b1)] - m[index(c.r1, c.g1, c.b0)] -
               m[index(c.r1, c.g0, c.b1)] + m[index(c.r1, c.g0, c.b0)] -
               m[index(c.r0, c.g1, c.b1)] + m[index(c.r0, c.g1, c.b0)] +
               m[index(c.r0, c.g0, c.b1)] - m[index(c.r0, c.g0, c.b0)];
    }
    // The part of sum() that does not depend on the box's upper bound along `axis`.
    static std::int64_t bottom(const Box& c, Axis axis, const std::vector<std::int64_t>& m) {
        switch (axis) {
        case Red:
            return -m[index(c.r0, c.g1, c.b1)] + m[index(c.r0, c.g1, c.b0)] +
                   m[index(c.r0, c.g0, c.b1)] - m[index(c.r0, c.g0, c.b0)];
        case Green:
            return -m[index(c.r1, c.g0, c.b1)] + m[index(c.r1, c.g0, c.b0)] +
                   m[index(c.r0, c.g0, c.b1)] - m[index(c.r0, c.g0, c.b0)];
        default:
            return -m[index(c.r1, c.g1, c.b0)] + m[index(c.r1, c.g0, c.b0)] +
                   m[index(c.r0, c.g1, c.b0)] - m[index(c.r0, c.g0, c.b0)];
        }
    }
    // The part of sum() that depends on the upper bound along `axis`, with that bound at `pos`.
    static std::int64_t top(const Box& c, Axis axis, int pos, const std::vector<std::int64_t>& m) {
        switch (axis) {
        case Red:
            return m[index(pos, c.g1, c.b1)] - m[index(pos, c.g1, c.b0)] -
                   m[index(pos, c.g0, c.b1)] + m[index(pos, c.g0, c.b0)];
        case Green:
            return m[index(c.r1, pos, c.b1)] - m[index(c.r1, pos, c.b0)] -
                   m[index(c.r0, pos, c.b1)] + m[index(c.r0, pos, c.b0)];
        default:
            return m[index(c.r1, c.g1, pos)] - m[index(c.r1, c.g0, pos)] -
                   m[index(c.r0, c.g1, pos)] + m[index(c.r0, c.g0, pos)];
        }
    }

    double boxVariance(const Box& c) const {
        const double r = double(sum(c, mr_)), g = double(sum(c, mg_)), b = double(sum(c, mb_));
        return sum(c, m2_) - (r * r + g * g + b * b) / double(sum(c, wt_));
    }

    double maximize(const Box& c, Axis axis, int first, int last, int& cutAt, std::int64_t wholeR,
                    std::int64_t wholeG, std::int64_t wholeB, std::int64_t wholeW) const {
        const std::int64_t baseR = bottom(c, axis, mr_), baseG = bottom(c, axis, mg_),
                           baseB = bottom(c, axis, mb_), baseW = bottom(c, axis, wt_);
        double best = 0.0;
        cutAt = -1;
        for (int i = first; i < last; ++i) {
            const std::int64_t hr = baseR + top(c, axis, i, mr_), hg = baseG + top(c, axis, i, mg_),
                               hb = baseB + top(c, axis, i, mb_), hw = baseW + top(c, axis, i, wt_);
            if (hw == 0 || hw == wholeW) continue;
            const double lo =
                (double(hr) * double(hr) + double(hg) * double(hg) + double(hb) * double(hb)) /
                double(hw);
            const double rr = double(wholeR - hr), rg = double(wholeG - hg),
                         rb = double(wholeB - hb);
            const double score = lo + (rr * rr + rg * rg + rb * rb) / double(wholeW - hw);
            if (score > best) {
                best = score;
                cutAt = i;
            }
        }
        return best;
    }

    bool cut(Box& a, Box& b) const {
        const std::int64_t wr = sum(a, mr_), wg = sum(a, mg_), wb = sum(a, mb_), ww = sum(a, wt_);
        int cr, cg, cb;
        const double maxR = maximize(a, Red, a.r0 + 1, a.r1, cr, wr, wg, wb, ww);
        const double maxG = maximize(a, Green, a.g0 + 1, a.g1, cg, wr, wg, wb, ww);
        const double maxB = maximize(a, Blue, a.b0 + 1, a.b1, cb, wr, wg, wb, ww);
        b = a;
        if (maxR >= maxG && maxR >= maxB) {
            if (cr < 0) return false;
            b.r0 = a.r1 = cr;
        } else if (maxG >= maxR && maxG >= maxB) {
            if (cg < 0) return false;
            b.g0 = a.g1 = cg;
        } else {
            if (cb < 0) return false;
            b.b0 = a.b1 = cb;
        }
        return true;
    }

    std::vector<std::int64_t> wt_, mr_, mg_, mb_;
    std::vector<double> m2_;
};

// ---- Nearest palette colour ---------------------------------------------------------------------

// Exact nearest-colour search. The colour cube is cut into 8 x 8 x 8 cells; the first time a
// cell is touched we list the palette entries that can be nearest to some colour inside it (those
// whose smallest distance to the cell is not above the best largest distance), so each pixel then
// compares against a handful of entries. After error diffusion colours are arbitrary, and a photo
// touches only a few tens of thousands of cells.
class NearestColour {
public:
    explicit NearestColour(const std::vector<Rgb>& palette)
        : palette_(palette), cells_(std::size_t(1) << 15, kUnknown) {}

    int operator()(int r, int g, int b) {
        const std::size_t key =
            (std::size_t(r >> 3) << 10) | (std::size_t(g >> 3) << 5) | std::size_t(b >> 3);
        std::uint32_t cell = cells_[key];
        if (cell == kUnknown) cell = cells_[key] = listCandidates(r & ~7, g & ~7, b & ~7);
        const std::uint8_t* c = &pool_[cell >> 8];
        const int count = int(cell & 0xFF) + 1;
        if (count == 1) return c[0];
        int best = c[0];
        int bestDistance = std::numeric_limits<int>::max();
        for (int i = 0; i < count; ++i) {
            const Rgb& p = palette_[c[i]];
            const int dr = r - p.r, dg = g - p.g, db = b - p.b;
            const int d = dr * dr + dg * dg + db * db;
            if (d < bestDistance) bestDistance = d, best = c[i];
        }
        return best;
    }

private:
    static constexpr std::uint32_t kUnknown = 0xFFFFFFFFu;

    static int axisMin(int v, int lo) { return v < lo ? lo - v : (v > lo + 7 ? v - lo - 7 : 0); }
    static int axisMax(int v, int lo) { return std::max(std::abs(v - lo), std::abs(v - lo - 7)); }

    // Packs the pool offset and the candidate count less one into one word.
    std::uint32_t listCandidates(int r0, int g0, int b0) {
        int bound = std::numeric_limits<int>::max();
        for (const Rgb& p : palette_) {
            const int dr = axisMax(p.r, r0), dg = axisMax(p.g, g0), db = axisMax(p.b, b0);
            bound = std::min(bound, dr * dr + dg * dg + db * db);
        }
        const std::size_t offset = pool_.size();
        for (std::size_t i = 0; i < palette_.size(); ++i) {
            const Rgb& p = palette_[i];
            const int dr = axisMin(p.r, r0), dg = axisMin(p.g, g0), db = axisMin(p.b, b0);
            if (dr * dr + dg * dg + db * db <= bound) pool_.push_back(std::uint8_t(i));
        }
        return std::uint32_t(offset << 8) | std::uint32_t(pool_.size() - offset - 1);
    }

    const std::vector<Rgb>& palette_;
    std::vector<std::uint32_t> cells_;
    std::vector<std::uint8_t> pool_;
};

// ---- Palette refinement -------------------------------------------------------------------------

struct WeightedColour {
    float r, g, b;
    std::uint32_t count;
};

// The exact colours of an image with their counts; false when there are more than `limit`.
bool exactHistogram(const Raster& image, std::size_t limit, std::vector<WeightedColour>& out) {
    constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
    std::size_t size = 1024;
    while (size < limit * 2) size *= 2;
    std::vector<std::uint32_t> keys(size, kEmpty), counts(size, 0);
    const std::uint32_t mask = std::uint32_t(size - 1);
    std::size_t distinct = 0;
    RowReader reader(image);
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* p = reader.row(y);
        std::uint32_t lastKey = kEmpty, lastSlot = 0;
        for (int x = 0; x < image.width; ++x, p += 3) {
            const std::uint32_t key = (std::uint32_t(p[0]) << 16) | (p[1] << 8) | p[2];
            if (key != lastKey) {
                std::uint32_t h = (key * 2654435761u) >> 8 & mask;
                while (keys[h] != kEmpty && keys[h] != key) h = (h + 1) & mask;
                if (keys[h] == kEmpty) {
                    if (++distinct > limit) return false;
                    keys[h] = key;
                }
                lastKey = key;
                lastSlot = h;
            }
            ++counts[lastSlot];
        }
    }
    out.clear();
    out.reserve(distinct);
    for (std::size_t i = 0; i < size; ++i)
        if (keys[i] != kEmpty)
            out.push_back({float(keys[i] >> 16), float((keys[i] >> 8) & 255), float(keys[i] & 255),
                           counts[i]});
    return true;
}

// The image's colours on a 64-level grid, each cell at the mean of the colours that fall in it.
void gridHistogram(const Raster& image, std::vector<WeightedColour>& out) {
    struct Cell {
        std::uint32_t count = 0;
        std::uint64_t r = 0, g = 0, b = 0;
    };
    std::vector<Cell> cells(std::size_t(1) << 18);
    RowReader reader(image);
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* p = reader.row(y);
        for (int x = 0; x < image.width; ++x, p += 3) {
            Cell& c = cells[(std::size_t(p[0] >> 2) << 12) | (std::size_t(p[1] >> 2) << 6) |
                            std::size_t(p[2] >> 2)];
            ++c.count;
            c.r += p[0];
            c.g += p[1];
            c.b += p[2];
        }
    }
    out.clear();
    for (const Cell& c : cells) {
        if (c.count == 0) continue;
        const float n = float(c.count);
        out.push_back({float(c.r) / n, float(c.g) / n, float(c.b) / n, c.count});
    }
}

// Lloyd (k-means) iterations: each palette colour moves to the mean of the colours nearest to it.
// This recovers most of what the 32-level box cut loses. When the box cut found fewer colours
// than allowed (images with few, close colours), the colours worst served seed the free entries.
void refinePalette(const Raster& image, std::vector<Rgb>& palette, std::size_t maxColours,
                   int iterations) {
    std::vector<WeightedColour> points;
    if (!exactHistogram(image, std::size_t(1) << 15, points)) gridHistogram(image, points);

    std::vector<float> pr, pg, pb;
    for (const Rgb& c : palette) pr.push_back(c.r), pg.push_back(c.g), pb.push_back(c.b);
    std::vector<float> distance(points.size());
    std::vector<std::uint16_t> nearest(points.size());
    auto assign = [&]() {
        const std::size_t k = pr.size();
        for (std::size_t n = 0; n < points.size(); ++n) {
            const WeightedColour& p = points[n];
            std::size_t best = 0;
            float bestDistance = std::numeric_limits<float>::max();
            for (std::size_t i = 0; i < k; ++i) {
                const float dr = p.r - pr[i], dg = p.g - pg[i], db = p.b - pb[i];
                const float d = dr * dr + dg * dg + db * db;
                if (d < bestDistance) bestDistance = d, best = i;
            }
            distance[n] = bestDistance;
            nearest[n] = std::uint16_t(best);
        }
    };

    if (pr.size() < maxColours && points.size() > pr.size()) {
        assign();
        std::vector<std::size_t> order(points.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        const std::size_t free = std::min(maxColours - pr.size(), points.size());
        std::partial_sort(order.begin(), order.begin() + std::ptrdiff_t(free), order.end(),
                          [&](std::size_t a, std::size_t b) { return distance[a] > distance[b]; });
        for (std::size_t i = 0; i < free && distance[order[i]] > 0; ++i) {
            const WeightedColour& p = points[order[i]];
            pr.push_back(p.r), pg.push_back(p.g), pb.push_back(p.b);
        }
    }

    const std::size_t k = pr.size();
    std::vector<double> sr(k), sg(k), sb(k), sw(k);
    for (int it = 0; it < iterations; ++it) {
        assign();
        std::fill(sr.begin(), sr.end(), 0.0);
        std::fill(sg.begin(), sg.end(), 0.0);
        std::fill(sb.begin(), sb.end(), 0.0);
        std::fill(sw.begin(), sw.end(), 0.0);
        for (std::size_t n = 0; n < points.size(); ++n) {
            const WeightedColour& p = points[n];
            const std::size_t i = nearest[n];
            const double w = p.count;
            sr[i] += p.r * w, sg[i] += p.g * w, sb[i] += p.b * w, sw[i] += w;
        }
        for (std::size_t i = 0; i < k; ++i) {
            if (sw[i] <= 0) continue;
            pr[i] = float(sr[i] / sw[i]), pg[i] = float(sg[i] / sw[i]),
            pb[i] = float(sb[i] / sw[i]);
        }
    }
    palette.resize(k);
    for (std::size_t i = 0; i < k; ++i)
        palette[i] = {clampByte(int(pr[i] + 0.5f)), clampByte(int(pg[i] + 0.5f)),
                      clampByte(int(pb[i] + 0.5f))};
}

std::vector<Rgb> adaptivePalette(const Raster& image, int maxColours) {
    WuQuantizer wu;
    RowReader reader(image);
    for (int y = 0; y < image.height; ++y) wu.add(reader.row(y), image.width);
    std::vector<Rgb> palette = wu.palette(maxColours);
    refinePalette(image, palette, std::size_t(maxColours), 3);
    return palette;
}

// ---- Mapping onto a palette ---------------------------------------------------------------------

// Maps every pixel of `image` to `palette`, nearest colour or Floyd-Steinberg error diffusion
// (serpentine, so errors do not drift in one direction).
void mapToPalette(const Raster& image, const std::vector<Rgb>& palette, bool dither, Raster& out) {
    NearestColour nearest(palette);
    RowReader reader(image);
    const int w = image.width;
    if (!dither) {
        for (int y = 0; y < image.height; ++y) {
            const std::uint8_t* p = reader.row(y);
            std::uint8_t* o = out.row(y);
            for (int x = 0; x < w; ++x, p += 3) o[x] = std::uint8_t(nearest(p[0], p[1], p[2]));
        }
        return;
    }
    // Errors in sixteenths, one pixel of margin at each end of the row.
    std::vector<int> current(std::size_t(w + 2) * 3, 0), below(current.size(), 0);
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* p = reader.row(y);
        std::uint8_t* o = out.row(y);
        std::fill(below.begin(), below.end(), 0);
        const bool forward = (y & 1) == 0;
        const int step = forward ? 1 : -1;
        int x = forward ? 0 : w - 1;
        for (int n = 0; n < w; ++n, x += step) {
            int* e = &current[std::size_t(x + 1) * 3];
            const int r = clampByte(p[3 * x] + ((e[0] + 8) >> 4));
            const int g = clampByte(p[3 * x + 1] + ((e[1] + 8) >> 4));
            const int b = clampByte(p[3 * x + 2] + ((e[2] + 8) >> 4));
            const int i = nearest(r, g, b);
            o[x] = std::uint8_t(i);
            const int err[3] = {r - palette[std::size_t(i)].r, g - palette[std::size_t(i)].g,
                                b - palette[std::size_t(i)].b};
            int* ahead = e + 3 * step;
            int* d = &below[std::size_t(x + 1) * 3];
            for (int c = 0; c < 3; ++c) {
                ahead[c] += err[c] * 7;
                d[c - 3 * step] += err[c] * 3;
                d[c] += err[c] * 5;
                d[c + 3 * step] += err[c];
            }
        }
        std::swap(current, below);
    }
}

// Black and white by luminance, with error diffusion on the grey level when asked.
void mapToBlackAndWhite(const Raster& image, bool dither, Raster& out) {
    RowReader reader(image);
    const int w = image.width;
    std::vector<int> current(std::size_t(w + 2), 0), below(current.size(), 0);
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* p = reader.row(y);
        std::uint8_t* o = out.row(y);
        std::fill(below.begin(), below.end(), 0);
        const bool forward = (y & 1) == 0;
        const int step = forward ? 1 : -1;
        int x = forward ? 0 : w - 1;
        for (int n = 0; n < w; ++n, x += step) {
            const int grey = (p[3 * x] * 77 + p[3 * x + 1] * 150 + p[3 * x + 2] * 29 + 128) >> 8;
            if (!dither) {
                o[x] = grey >= 128 ? 1 : 0;
                continue;
            }
            const int v = std::clamp(grey + ((current[std::size_t(x + 1)] + 8) >> 4), 0, 255);
            const int chosen = v >= 128 ? 255 : 0;
            o[x] = chosen ? 1 : 0;
            const int err = v - chosen;
            current[std::size_t(x + 1 + step)] += err * 7;
            below[std::size_t(x + 1 - step)] += err * 3;
            below[std::size_t(x + 1)] += err * 5;
            below[std::size_t(x + 1 + step)] += err;
        }
        std::swap(current, below);
    }
}

// Exact mapping onto a palette that holds every colour of the image.
void mapExact(const Raster& image, const std::vector<Rgb>& palette, Raster& out) {
    if (image.indexed()) {
        std::array<std::uint8_t, 256> remap{};
        for (std::size_t i = 0; i < 256; ++i) {
            const Rgb c = i < image.palette.size() ? image.palette[i] : Rgb{};
            remap[i] = std::uint8_t(std::find(palette.begin(), palette.end(), c) - palette.begin());
        }
        for (int y = 0; y < image.height; ++y) {
            const std::uint8_t* p = image.row(y);
            std::uint8_t* o = out.row(y);
            for (int x = 0; x < image.width; ++x) o[x] = remap[p[x]];
        }
        return;
    }
    std::vector<std::uint32_t> keys(palette.size());
    for (std::size_t i = 0; i < palette.size(); ++i)
        keys[i] = (std::uint32_t(palette[i].r) << 16) | (palette[i].g << 8) | palette[i].b;
    std::vector<std::uint32_t> order(palette.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = std::uint32_t(i);
    std::sort(order.begin(), order.end(), [&](auto a, auto b) { return keys[a] < keys[b]; });
    std::vector<std::uint32_t> sorted(order.size());
    for (std::size_t i = 0; i < order.size(); ++i) sorted[i] = keys[order[i]];
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* p = image.row(y);
        std::uint8_t* o = out.row(y);
        std::uint32_t lastKey = 0xFFFFFFFFu;
        std::uint8_t lastIndex = 0;
        for (int x = 0; x < image.width; ++x, p += 3) {
            const std::uint32_t key = (std::uint32_t(p[0]) << 16) | (p[1] << 8) | p[2];
            if (key != lastKey) {
                const auto it = std::lower_bound(sorted.begin(), sorted.end(), key);
                lastIndex = std::uint8_t(order[std::size_t(it - sorted.begin())]);
                lastKey = key;
            }
            o[x] = lastIndex;
        }
    }
}

int toTrueColour(Raster& image) {
    Raster out;
    const int rc = allocateRaster(out, image.width, image.height, 24);
    if (rc != Ok) return rc;
    std::array<Rgb, 256> lookup{};
    std::copy_n(image.palette.begin(), std::min<std::size_t>(image.palette.size(), 256),
                lookup.begin());
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* src = image.row(y);
        std::uint8_t* dst = out.row(y);
        for (int x = 0; x < image.width; ++x, dst += 3) {
            const Rgb c = lookup[src[x]];
            dst[0] = c.r, dst[1] = c.g, dst[2] = c.b;
        }
    }
    image = std::move(out);
    return Ok;
}

int convert(Raster& image, int bits, bool dither) {
    if (bits == 24) return image.bits == 24 ? Ok : toTrueColour(image);

    const int depth = bits == 0 ? 4 : bits;
    const std::size_t capacity = std::size_t(1) << depth;

    // An indexed image whose palette already fits keeps it untouched.
    if (image.indexed() && image.palette.size() <= capacity) {
        bool fits = true;
        if (bits == 0)
            for (const Rgb& c : image.palette)
                fits = fits && std::find(kVga.begin(), kVga.end(), c) != kVga.end();
        if (fits) {
            image.bits = depth;
            return Ok;
        }
    }

    Raster out;
    int rc = allocateRaster(out, image.width, image.height, depth);
    if (rc != Ok) return rc;

    if (bits == 0) {
        out.palette.assign(kVga.begin(), kVga.end());
        mapToPalette(image, out.palette, dither, out);
    } else {
        std::vector<Rgb> colours;
        if (distinctColours(image, capacity, colours)) {
            out.palette = colours;
            mapExact(image, out.palette, out);
        } else if (bits == 1) {
            out.palette = {Rgb{0, 0, 0}, Rgb{255, 255, 255}};
            mapToBlackAndWhite(image, dither, out);
        } else {
            out.palette = adaptivePalette(image, int(capacity));
            mapToPalette(image, out.palette, dither, out);
        }
    }
    image = std::move(out);
    return Ok;
}

} // namespace

const std::array<Rgb, 16>& vgaPalette() {
    return kVga;
}

int convertDepth(Raster& image, int bits, int dither) {
    if (bits != 0 && bits != 1 && bits != 4 && bits != 8 && bits != 24) return BadDepth;
    if (image.empty() ||
        (image.bits != 1 && image.bits != 4 && image.bits != 8 && image.bits != 24))
        return EmptyImage;
    const std::size_t rowBytes = std::size_t(image.width) * (image.bits == 24 ? 3 : 1);
    if (image.stride < rowBytes || image.pixels.size() < image.stride * std::size_t(image.height))
        return Corrupt;
    try {
        return convert(image, bits, dither != 0);
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
}

} // namespace pixmoor::codec
