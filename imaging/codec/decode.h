// Row-by-row decoding, the one road every reader of the codec library takes: a format's reader
// streams its rows into a sink, optionally at a reduced size. readBmp and the other readers are
// "decode into a raster, then convert the depth"; a thumbnail is "decode into the downscaler".
#pragma once

#include "imaging/codec/raster.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace pixmoor::codec {

// How the rows that follow look.
struct RowLayout {
    int width = 0;
    int height = 0;
    // With a palette, rows hold one index per pixel and an index at or beyond paletteSize
    // (1..256) means black; without one (null), rows hold R, G, B bytes, or R, G, B, A bytes
    // (not premultiplied) when bits is 32, which only a decode asked to keep alpha gives.
    const Rgb* palette = nullptr;
    int paletteSize = 0;
    int bits = 24; // the file's own depth: 1, 4 or 8 for indexed rows, 24 for RGB, 32 for RGBA
    // 24-bit rows hold B, G, R bytes instead; only given when DecodeOptions::bgrRows allows it.
    bool bgr = false;
};

// Receives a decoded image row by row, top to bottom. Returning false from any call stops the
// decoder, which then answers Stopped.
class RowSink {
public:
    virtual ~RowSink() = default;
    virtual bool begin(const RowLayout& layout) = 0;
    // One row of layout.width pixels.
    virtual bool row(const std::uint8_t* pixels) = 0;
    // Asked now and then while the decoder works without delivering rows (the scans of a
    // progressive JPEG, the passes of an interlaced PNG).
    virtual bool keepGoing() { return true; }
    // Where the decoder may write row y itself, passing that pointer to row() afterwards; null
    // (the default) makes the decoder use a buffer of its own. A raster offers its rows here.
    virtual std::uint8_t* rowBuffer(int y) {
        (void)y;
        return nullptr;
    }
    // A whole decoded image, from readers that decode the picture at once (GIF, TIFF, PCX, most
    // BMPs). By default it goes through begin() and row(); a sink that keeps a raster takes it.
    virtual bool image(Raster&& raster);
    // Readers deliver every picture upright, whatever its stored orientation (1 to 8, as EXIF and
    // TIFF tag 274 number them). Asked once before begin() by a reader that knows it: a sink that
    // answers true turns the picture itself, and then receives the layout and the rows as stored.
    // A reducing sink turns only its small result, a raster writes each row to its turned place;
    // otherwise (the default) the reader holds the whole stored picture to turn it.
    virtual bool turnsItself(int orientation) {
        (void)orientation;
        return false;
    }
};

// Where pixel (x, y) of a picture turned upright comes from in the picture as stored, w x h,
// for a stored orientation 1 to 8 (EXIF and TIFF tag 274; 5 to 8 swap the sides).
struct StoredPixel {
    int x, y;
};
constexpr StoredPixel storedPixel(int orientation, int x, int y, int w, int h) {
    switch (orientation) {
    case 2: return {w - 1 - x, y};
    case 3: return {w - 1 - x, h - 1 - y};
    case 4: return {x, h - 1 - y};
    case 5: return {y, x};
    case 6: return {y, h - 1 - x};
    case 7: return {w - 1 - y, h - 1 - x};
    case 8: return {w - 1 - y, x};
    default: return {x, y};
    }
}

struct DecodeOptions {
    // Reduced-size decoding: the reader may deliver any size that still covers
    // minWidth x minHeight (JPEG through its DCT scaling). 0 x 0 asks for the full size.
    int minWidth = 0;
    int minHeight = 0;
    // JPEG only: exactly this scale denominator (1, 2, 4 or 8), instead of one chosen from the
    // minimum size.
    int jpegScale = 0;
    // Allows the strategies that give the same picture sooner for thumbnails: the DC scans
    // alone of a progressive JPEG at 1/8, the whole image data of a plain PNG inflated in
    // one call, and the strips of a plain LZW TIFF decoded by our own LZW decoder.
    bool fastPaths = false;
    // JPEG only: the thumbnail a camera stores in the EXIF block may stand for the picture, turned
    // as the picture is, when it covers embeddedMinWidth x embeddedMinHeight upright without
    // being enlarged, has the picture's proportions and decodes cleanly; otherwise the picture
    // is decoded. 0 x 0: always the picture.
    int embeddedMinWidth = 0;
    int embeddedMinHeight = 0;
    // JPEG only: subsampled colour planes are replicated instead of libjpeg's smoothing.
    bool fastUpsampling = false;
    // The sink also takes 24-bit rows of B, G, R bytes (RowLayout::bgr says which came): a BMP
    // then hands its stored rows over as they are, unconverted and uncopied.
    bool bgrRows = false;
    // PNG only: rows of R, G, B, A (RowLayout::bits 32) with the file's own transparency,
    // instead of alpha composited over white. For pictures that keep their alpha (icons).
    bool keepAlpha = false;
};

// Decodes any of the six formats, chosen by the file's signature, into sink. Returns Ok,
// Stopped when the sink stopped it, or an error code.
int decodeImage(const std::string& file, const DecodeOptions& options, RowSink& sink);

// Decodes PNG data held in memory (an icon's entry, a thumbnail cache entry) into sink: the PNG
// reader of the format table with the same header parsing, limits and errors (text chunks and
// the other ancillary chunks skipped unread). Returns Ok, Stopped or an error code.
int decodePngData(const std::uint8_t* data, std::size_t size, const DecodeOptions& options,
                  RowSink& sink);

// Largest JPEG scale denominator (8, 4, 2, else 1) whose image still covers minWidth x minHeight.
int jpegScaleCovering(int width, int height, int minWidth, int minHeight);

} // namespace pixmoor::codec
