// Helpers of the codec tests for JPEG, PNG, GIF and TIFF: running fixture tools and comparing
// decoded rasters with a tolerance.
#pragma once

#include "tests/codec/core_test_util.h"
#include "tests/support/test_dirs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace pixmoor::codec::test {

// Runs a fixture-making shell command; the test fails loudly when the tool is missing or fails.
inline void make(const std::string& command) {
    ASSERT_EQ(pixmoor::test::run("(" + command + ") >/dev/null 2>&1"), 0) << command;
}

// Largest difference of any channel of any pixel; 256 when the sizes differ or either is empty.
inline int maxDifference(const Raster& a, const Raster& b) {
    if (a.empty() || b.empty() || a.width != b.width || a.height != b.height) return 256;
    int worst = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
            const Rgb p = a.at(x, y), r = b.at(x, y);
            worst =
                std::max({worst, std::abs(p.r - r.r), std::abs(p.g - r.g), std::abs(p.b - r.b)});
        }
    return worst;
}

// Keeps the first n bytes of a file.
inline void truncateFile(const std::string& path, std::size_t n) {
    auto bytes = readWholeFile(path);
    bytes.resize(std::min(n, bytes.size()));
    writeWholeFile(path, bytes);
}

// A picture with a few flat colours and sharp edges, which compresses well and shows any
// misplaced row or column at once.
inline Raster makeBlocks(int width, int height) {
    return makeRgb(width, height, [](int x, int y) {
        static const Rgb colours[6] = {{255, 0, 0},   {0, 160, 0},     {0, 0, 255},
                                       {250, 250, 0}, {255, 255, 255}, {20, 20, 20}};
        return colours[(x / 5 + 2 * (y / 3)) % 6];
    });
}

} // namespace pixmoor::codec::test
