// Limits against hostile files, in one place; real metafiles stay far below them.
#pragma once

#include <cstdint>

namespace pixmoor::wmf::detail {

// Nested SaveDC records kept; deeper saves are counted, and restoring them keeps the state.
constexpr int kMaxSaveDepth = 1024;
// Rectangles one region object keeps; the rest of its scans are dropped.
constexpr int kMaxRegionRects = 1024;
// Rectangles a clipping region may have; a more complex clip change is ignored.
constexpr int kMaxClipRects = 4096;
// Pattern brushes are small tiles; larger ones are refused rather than kept in the table.
constexpr int kMaxPatternSide = 256;
// Bitmap pixels one playback may decode: a file of many large bitmap records would otherwise
// cost minutes on every paint.
constexpr std::uint64_t kMaxDibPixelsPerPlay = std::uint64_t(64) << 20;
// Warnings one playback reports.
constexpr int kMaxWarnings = 50;

} // namespace pixmoor::wmf::detail
