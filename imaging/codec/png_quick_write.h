// Small PNGs encoded in memory in one go, for pictures written often while other work runs (the
// thumbnail cache's entries): no libpng, one deflate call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace pixmoor::codec {

// One tEXt chunk: a keyword (1 to 79 Latin-1 characters) and its text.
using PngText = std::pair<std::string, std::string>;

// Encodes width x height pixels of 8-bit RGB (channels 3) or non-premultiplied RGBA (channels 4),
// rows `stride` bytes apart, as a PNG: the header, the text chunks in order, the rows filtered
// with Sub and deflated by libdeflate at `level` (1 fastest to 12), the end. Empty for a bad
// argument (a keyword outside 1 to 79 characters among them) or when memory runs out.
std::vector<std::uint8_t> encodePngQuick(const std::uint8_t* pixels, int width, int height,
                                         std::size_t stride, int channels,
                                         const std::vector<PngText>& texts, int level = 1);

} // namespace pixmoor::codec
