// GIF's LZW decoder: the variable-length codes (least significant bit first, no early change,
// 12 bits at most, deferred clear allowed) of one image's data, sub-block lengths removed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pixmoor::codec::detail {

// Bytes the output buffer must have beyond `count`: strings are copied eight bytes at a time.
inline constexpr std::size_t kGifLzwSlack = 16;

// Decodes `data` into out[0, count) (out holds count + kGifLzwSlack bytes). minCodeSize is the
// byte before the image's data (2 to 8 in valid files; 1 to 11 are decoded). Returns Ok when
// count pixels were decoded (later data is ignored), Truncated when the data ended first, and
// Corrupt for an invalid code size, an undefined code or an end code before the last pixel.
int decodeGifLzw(const std::uint8_t* data, std::size_t size, int minCodeSize, std::uint8_t* out,
                 std::size_t count);

} // namespace pixmoor::codec::detail
