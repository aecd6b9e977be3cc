// The limits that keep hostile files from costing unbounded memory, time or output, in one place
// for the codec and every layer above it. Real files stay far below each of them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pixmoor::limits {

// ---- Picture sizes: headers claiming more are refused before anything large is allocated ----

// The largest image the codec accepts, in pixels (a bitmap loaded for viewing too).
inline constexpr std::int64_t kMaxPixels = std::int64_t(1) << 28;
// The longest side the codec accepts.
inline constexpr int kMaxDimension = 1 << 20;
// A bitmap inside a metafile or an icon, in pixels (64 MiB of ARGB32).
inline constexpr std::int64_t kMaxDibPixels = 16 * 1024 * 1024;
// The longest side of a bitmap inside a metafile or an icon.
inline constexpr int kMaxDibSide = 65535;
// Icon images are at most 256 pixels a side; their bitmaps are allowed four times that.
inline constexpr int kMaxIconBitmapSide = 1024;
// Pattern brushes are small tiles; larger ones are refused rather than kept in the table.
inline constexpr int kMaxPatternSide = 256;
// Longest side of a metafile's own size in pixels; larger drawings keep their aspect ratio.
inline constexpr int kMaxMetafileSide = 4096;
// Largest side a thumbnail cache entry may have; anything larger is not a thumbnail.
inline constexpr int kMaxThumbnailEntrySide = 1024;

// ---- Expansion: memory is committed only for what a file's bytes could produce ----

// The most bytes of image data one byte of deflate data can give (deflate's theoretical bound).
inline constexpr std::uint64_t kMaxDeflateExpansion = 1032;
// The same for LZW, above 12-bit LZW's bound (about 2730).
inline constexpr std::uint64_t kMaxLzwExpansion = 4096;
// RLE bitmaps: a run gives at most 127 pixels a byte, but end-of-line, delta and end-of-bitmap
// escapes leave pixels blank, so the cap is loose, and images up to kRleAlwaysAllowedPixels
// always pass.
inline constexpr std::uint64_t kMaxRleExpansion = 4096;
inline constexpr std::uint64_t kRleAlwaysAllowedPixels = std::uint64_t(1) << 20;
// Huffman coding spends at least one bit on every 8 x 8 block of a scan, so a byte of JPEG holds
// at most 512 pixels of a plane.
inline constexpr unsigned long kMaxJpegPixelsPerByte = 512;

// ---- Working memory ----

// libjpeg's own working memory (the coefficient buffer of progressive files, mostly); the output
// raster is ours and is not counted.
inline constexpr long kMaxJpegMemory = 512L << 20;
// The largest single allocation libtiff may make (strip and tile buffers, directories).
inline constexpr std::int64_t kMaxTiffAlloc = std::int64_t(256) << 20;
// The largest band (a strip of separate planes, or a row of tiles) TIFF's sample road holds.
inline constexpr std::uint64_t kMaxTiffBandBytes = std::uint64_t(256) << 20;
// Files up to this size are decoded from memory; larger ones from the file.
inline constexpr long long kMaxInMemory = 64 << 20;
// A decode's scratch buffer kept for the thread's next decode up to this size, freed above it.
inline constexpr std::size_t kMaxKeptScratch = 32u << 20;
// Bitmap pixels one metafile playback may decode: a file of many large bitmap records would
// otherwise cost minutes on every paint.
inline constexpr std::uint64_t kMaxDibPixelsPerPlay = std::uint64_t(64) << 20;

// ---- Counts ----

// A progressive JPEG may hold any number of scans, each a pass over the whole image; real files
// have a dozen or so, hostile ones millions. Past this many we stop with Corrupt.
inline constexpr int kMaxJpegScans = 1000;
// The size and number of the ancillary PNG chunks libpng keeps.
inline constexpr std::size_t kMaxPngChunkBytes = 8u << 20;
inline constexpr std::uint32_t kMaxPngChunksKept = 1000;
// Separate TIFF planes read: CMYK with alpha and a few spare samples.
inline constexpr unsigned kMaxTiffPlanes = 8;
// Icon entries tried before the file is called damaged: each try may decode a bitmap, and a
// hostile directory can list thousands of entries pointing at one costly image.
inline constexpr int kMaxIconEntriesTried = 8;
// Nested metafile SaveDC records kept; deeper saves are counted, and restoring them keeps the
// state.
inline constexpr int kMaxSaveDepth = 1024;
// Rectangles one metafile region object keeps; the rest of its scans are dropped.
inline constexpr int kMaxRegionRects = 1024;
// Rectangles a metafile's clipping region may have; a more complex clip change is ignored.
inline constexpr int kMaxClipRects = 4096;
// Warnings one metafile playback reports.
inline constexpr int kMaxWarnings = 50;

// ---- File bytes read ----

// An icon file.
inline constexpr std::int64_t kMaxIconFileBytes = 64 * 1024 * 1024;
// A metafile: WMF record sizes and offsets are 32-bit, real files are far smaller.
inline constexpr std::int64_t kMaxMetafileBytes = 256 * 1024 * 1024;
// A thumbnail cache entry.
inline constexpr std::int64_t kMaxThumbnailEntryBytes = 16 * 1024 * 1024;
// A .CMS message list is read up to this many bytes.
inline constexpr std::int64_t kMaxMessageListBytes = 65526;
// A scrolling message's text file.
inline constexpr std::int64_t kMaxMessageFileBytes = 1 << 20;

// ---- Scrolling messages: the text shown, its font and the strip it is drawn on ----

inline constexpr std::int64_t kMaxMessageChars = 4096;
inline constexpr int kMaxMessageFontPixels = 256;
inline constexpr int kMaxMessageStripWidth = 1 << 15;

} // namespace pixmoor::limits
