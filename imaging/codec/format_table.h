// The codec library's one table of image formats: name, file extensions, signature test,
// decoder, information reader, writer and capabilities. Every choice of a format by a file's
// name or by its first bytes goes through it; adding a format is adding an entry.
#pragma once

#include "imaging/codec/codec.h"
#include "imaging/codec/decode.h"
#include "imaging/codec/encoded_image.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace pixmoor::codec {

enum class ImageFormat { Bmp, Gif, Jpeg, Pcx, Png, Tiff };

// What a writer is asked for; each format takes the fields that apply to it.
struct WriteOptions {
    int bits = 24;             // 0, 1, 4, 8 or 24 (see codec.h for each format's depths)
    int quality = 75;          // JPEG: 1..100
    int smoothing = 0;         // JPEG: 0..100
    int interlace = 0;         // PNG: 0 or 1
    int compression = TiffLzw; // TIFF: a TiffCompression code

    bool operator==(const WriteOptions&) const = default;
};

// Depths a writer takes, as a mask of kDepth... bits.
inline constexpr std::uint32_t kDepth0 = 1u << 0, kDepth1 = 1u << 1, kDepth4 = 1u << 4,
                               kDepth8 = 1u << 8, kDepth24 = 1u << 24;

struct FormatEntry {
    ImageFormat format;
    std::string_view name;                      // "BMP", "GIF", "JPEG", "PCX", "PNG", "TIFF"
    std::array<std::string_view, 3> extensions; // lower case without the dot; the first is the
                                                // usual one, unused ones empty
    bool (*matches)(const std::uint8_t* head, std::size_t size); // the file's first bytes
    int (*decode)(const std::string& file, const DecodeOptions& options, RowSink& sink);
    int (*info)(const std::string& file, ImageInfo& out);
    int (*write)(const std::string& file, const WriteOptions& options, const Raster& in);
    std::uint32_t depthsWritten; // kDepth... bits of the depths stored as asked
    int greyDepth;               // the depth that asks the writer for shades of grey
    int writerInputDepth;        // the depth the writer wants its picture in whatever depth it
                                 // stores (it reduces it itself); 0: the depth stored
    bool scaledDecoding;         // honours DecodeOptions' minimum size itself
    bool fullSizeFastPaths;      // DecodeOptions' fastPaths also quickens a full-size decode
    bool exactAtOwnDepth;        // a read at the file's own depth gives the pixels of a true
                                 // colour read (no transparency blended into more colours)
    bool weakSignature;          // the signature test can match other data: tried last
    std::string_view title;      // as a save dialog's filter names the format: "Bitmap", "Gif"...
    std::string_view mimeType;   // as the desktop's shared MIME database names the format
};

// Every format, in ImageFormat order (which is also the order the save dialogs offer them).
std::span<const FormatEntry> formatTable();
const FormatEntry& formatEntry(ImageFormat format);
// The format of an extension ("jpg", ".JPEG", "Tif"), or null.
const FormatEntry* formatForExtension(std::string_view extension);
// The format whose signature the first bytes of a file show, or null.
const FormatEntry* formatForSignature(const std::uint8_t* head, std::size_t size);
// How many first bytes formatForSignature needs at most.
inline constexpr std::size_t kSignatureBytes = 16;
// The format of a file by its first bytes: null with result set to the failure (FileNotFound,
// NotThisFormat...) when it cannot be told.
const FormatEntry* formatOfFile(const std::string& file, int& result);

// The depth a writer of entry stores when asked for bits: bits itself when it stores that
// depth, else the deepest it stores (JPEG: true colour; GIF: 256 colours).
int storedDepth(const FormatEntry& entry, int bits);

// Reads file with the given format's reader, whatever its first bytes say (the reader judges
// them): decoded at full size, or at 1/jpegScale for JPEG, then brought to bits as readBmp does.
int readAs(ImageFormat format, const std::string& file, int bits, int jpegScale, int dither,
           Raster& out);
// As readAs at full size, but allowing the formats' quicker roads to the same picture (a plain
// PNG's image data inflated in one call).
int readFullSizeFast(ImageFormat format, const std::string& file, int bits, int dither,
                     Raster& out);

// Writes in through the entry's writer.
int writeImage(ImageFormat format, const std::string& file, const WriteOptions& options,
               const Raster& in);

// Encodes in as writeImage would write it, into out instead of a file: the same bytes, and the
// same result codes but those of creating and writing the file. Safe on any thread.
int encodeImage(ImageFormat format, const WriteOptions& options, const Raster& in,
                EncodedImage& out);
// Writes bytes that encodeImage made to file as every writer writes: into a temporary file that
// replaces the target once complete. Ok, or the writers' EmptyFileName, CreateFailed or
// WriteFailed.
int writeEncoded(const std::string& file, const EncodedImage& bytes);

} // namespace pixmoor::codec
