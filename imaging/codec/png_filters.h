// Internal to the codec library: undoing the PNG row filters (None, Sub, Up, Average, Paeth) for
// 8-bit samples of one to four bytes a pixel.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pixmoor::codec::detail {

// Undoes filter `type` of one row of `length` bytes in place; previous is the row above, already
// unfiltered, or null for the first row (the row above it counts as zeros, and zeros must hold
// at least length zero bytes). Returns false for an unknown filter type or a bpp outside 1..4.
bool unfilter(int type, std::uint8_t* row, const std::uint8_t* previous, std::size_t length,
              std::size_t bpp, const std::uint8_t* zeros);

} // namespace pixmoor::codec::detail
