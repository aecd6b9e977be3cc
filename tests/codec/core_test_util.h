// Helpers of the codec tests for BMP, PCX, depth and information: PPM files for talking to other
// tools, synthetic pictures, and pixel comparison.
#pragma once

#include "imaging/codec/codec.h"
#include "imaging/codec/decode.h"
#include "imaging/codec/errors.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace pixmoor::codec::test {

// A true-colour raster filled by fn(x, y).
inline Raster makeRgb(int width, int height, const std::function<Rgb(int, int)>& fn) {
    Raster r;
    allocateRaster(r, width, height, 24);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Rgb c = fn(x, y);
            std::uint8_t* p = r.row(y) + 3 * x;
            p[0] = c.r, p[1] = c.g, p[2] = c.b;
        }
    return r;
}

// A smooth, busy picture with thousands of colours, like a small photograph.
inline Raster makePhotoLike(int width, int height) {
    return makeRgb(width, height, [&](int x, int y) {
        const double fx = double(x) / width, fy = double(y) / height;
        return Rgb{std::uint8_t(127.5 + 127.5 * std::sin(6.0 * fx + 2.0 * fy * fy)),
                   std::uint8_t(127.5 + 127.5 * std::cos(5.0 * fy - 3.0 * fx * fy)),
                   std::uint8_t(255.0 * fx * (1.0 - fy) + 60.0 * std::sin(20.0 * fx * fy))};
    });
}

inline std::vector<std::uint8_t> readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeWholeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline bool writePpm(const std::string& path, const Raster& image) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << image.width << ' ' << image.height << "\n255\n";
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const Rgb c = image.at(x, y);
            const char px[3] = {char(c.r), char(c.g), char(c.b)};
            out.write(px, 3);
        }
    return bool(out);
}

// Reads a binary PPM with maxval 255 (what `convert x ppm:-`, bmptopnm and our tool write).
inline Raster readPpm(const std::string& path) {
    const std::vector<std::uint8_t> bytes = readWholeFile(path);
    Raster r;
    std::size_t pos = 0;
    auto token = [&]() {
        std::string t;
        while (pos < bytes.size()) {
            const char c = char(bytes[pos]);
            if (c == '#') {
                while (pos < bytes.size() && bytes[pos] != '\n') ++pos;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                if (!t.empty()) break;
                ++pos;
            } else {
                t += c;
                ++pos;
            }
        }
        return t;
    };
    if (token() != "P6") return r;
    const int w = std::stoi(token()), h = std::stoi(token()), maxval = std::stoi(token());
    ++pos;
    if (maxval != 255 || bytes.size() < pos + std::size_t(w) * h * 3) return r;
    allocateRaster(r, w, h, 24);
    for (int y = 0; y < h; ++y)
        std::copy_n(bytes.begin() + std::ptrdiff_t(pos + std::size_t(y) * w * 3), w * 3, r.row(y));
    return r;
}

// Number of pixels whose colours differ; -1 when the sizes differ.
inline long differingPixels(const Raster& a, const Raster& b) {
    if (a.width != b.width || a.height != b.height) return -1;
    long n = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) n += !(a.at(x, y) == b.at(x, y));
    return n;
}

// Largest difference of one channel between two rasters of the same size.
inline int maxChannelDifference(const Raster& a, const Raster& b) {
    int worst = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
            const Rgb p = a.at(x, y), q = b.at(x, y);
            worst =
                std::max({worst, std::abs(p.r - q.r), std::abs(p.g - q.g), std::abs(p.b - q.b)});
        }
    return worst;
}

inline double psnr(const Raster& a, const Raster& b) {
    double se = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
            const Rgb p = a.at(x, y), q = b.at(x, y);
            se += (p.r - q.r) * (p.r - q.r) + (p.g - q.g) * (p.g - q.g) + (p.b - q.b) * (p.b - q.b);
        }
    const double mse = se / (3.0 * a.width * a.height);
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// Shell quoting for file names handed to external tools.
inline std::string q(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Decodes a file with another tool into a true-colour raster (alpha over white); empty when the
// tool failed. tool: "magick" (ImageMagick), "pillow", or a netpbm converter such as "bmptopnm".
inline Raster peerDecode(const std::string& tool, const std::string& file, const std::string& ppm) {
    std::string cmd;
    if (tool == "magick")
        cmd = "convert " + q(file) + "[0] -background white -alpha remove -alpha off -depth 8 " +
              q("ppm:" + ppm);
    else if (tool == "pillow")
        cmd = "/usr/bin/python3 -c \"import sys; from PIL import Image; "
              "im = Image.open(sys.argv[1]); im = im.convert('RGBA'); "
              "bg = Image.new('RGBA', im.size, (255, 255, 255, 255)); "
              "Image.alpha_composite(bg, im).convert('RGB').save(sys.argv[2], 'PPM')\" " +
              q(file) + " " + q(ppm);
    else
        cmd = tool + " " + q(file) + " 2>/dev/null | ppmtoppm > " + q(ppm) + " 2>/dev/null";
    std::remove(ppm.c_str());
    if (std::system((cmd + " 2>/dev/null").c_str()) != 0) return Raster{};
    return readPpm(ppm);
}

// The raster expanded to true colour, for comparisons.
inline Raster expanded(Raster r) {
    convertDepth(r, 24, 0);
    return r;
}

// Collects what a decoder delivers, and whether it asked for the sink's own row buffers (only
// the general roads of BMP, JPEG and PNG do; the faster ones use their own).
struct CollectingSink final : RowSink {
    RowLayout layout;
    std::vector<Rgb> palette;
    std::vector<std::uint8_t> pixels;
    int rows = 0;
    bool askedForBuffers = false;
    int stopAfter = -1; // rows to take before stopping; -1 never
    bool begin(const RowLayout& l) override {
        layout = l;
        if (l.palette) palette.assign(l.palette, l.palette + l.paletteSize);
        return stopAfter != 0;
    }
    bool row(const std::uint8_t* data) override {
        pixels.insert(pixels.end(), data,
                      data + std::size_t(layout.width) * (layout.palette ? 1 : 3));
        return ++rows != stopAfter;
    }
    std::uint8_t* rowBuffer(int) override {
        askedForBuffers = true;
        return nullptr;
    }
};

} // namespace pixmoor::codec::test
