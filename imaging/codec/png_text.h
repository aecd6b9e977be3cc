// Reading chosen text keys of PNG data held in memory with bounded work: the chunk list from the
// header to the image data is walked (every length checked against the bytes present, CRCs judged
// as libpng judges them) and only the values asked for are kept, a compressed one inflated into a
// capped buffer. The thumbnail cache checks its entries' keys with it before decoding them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pixmoor::codec {

struct PngTextLimits {
    // Text chunks (tEXt, zTXt, iTXt) allowed before the image data; more make the data refused.
    int maxTextChunks = 64;
    // Longest value kept, after inflating; a longer value asked for makes the data refused.
    std::size_t maxValueBytes = 4096;
};

// The values of `keywords` in the text chunks before the first IDAT of the PNG in data: values
// gets one element per keyword, its value's bytes (Latin-1 from tEXt and zTXt, UTF-8 from iTXt)
// or nullopt when the keyword is not there (every one nullopt unless the answer is Ok). Text chunks
// of other keywords are not inflated; an ancillary chunk with a bad CRC is ignored, as libpng
// ignores it. Returns Ok; NotThisFormat without the PNG signature; Truncated when the data ends
// before the image data; Corrupt for a damaged chunk list (a missing or bad header, a critical
// chunk with a bad CRC, IEND first), a keyword asked for given twice or a value of one that cannot
// be read; TooLarge for more text chunks than allowed or a value asked for longer than allowed.
int readPngText(const std::uint8_t* data, std::size_t size,
                std::span<const std::string_view> keywords,
                std::vector<std::optional<std::string>>& values, const PngTextLimits& limits = {});

} // namespace pixmoor::codec
