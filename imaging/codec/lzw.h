// The LZW decoders of GIF and TIFF. Both use 256 literals (GIF: 2^minCodeSize), a clear and an
// end code, and codes of up to 12 bits; GIF packs them least significant bit first and widens
// them once the next entry needs it, TIFF packs them most significant bit first and widens them
// one entry early.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pixmoor::codec::detail {

// Bytes the output buffer must have beyond `count`: strings are copied sixteen bytes at a time.
inline constexpr std::size_t kLzwSlack = 16;

// Decodes `data` into out[0, count) (out holds count + kLzwSlack bytes). minCodeSize is the
// byte before the image's data (2 to 8 in valid files; 1 to 11 are decoded). Returns Ok when
// count pixels were decoded (later data is ignored), Truncated when the data ended first, and
// Corrupt for an invalid code size, an undefined code or an end code before the last pixel.
int decodeGifLzw(const std::uint8_t* data, std::size_t size, int minCodeSize, std::uint8_t* out,
                 std::size_t count);

// Decodes one TIFF strip's LZW data into out[0, count) (out holds count + kLzwSlack bytes), as
// libtiff does for the data its own and other common writers store: a clear code first, a clear
// code before the table is full. Ok when count bytes were decoded (later data is ignored);
// Truncated when the data ended first; Corrupt for anything else (an undefined code, an end
// code before the last byte, a strip that does not begin with a clear code, a full table, the
// old bit-reversed coding), which libtiff is left to judge.
int decodeTiffLzw(const std::uint8_t* data, std::size_t size, std::uint8_t* out, std::size_t count);

} // namespace pixmoor::codec::detail
