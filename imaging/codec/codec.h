// The codec library's operations: read, write and inspect BMP, GIF, JPEG, PCX, PNG and TIFF files.
// Pure C++20, no Qt. Nothing throws across this interface: each call returns a result code of
// errors.h (1 or more is success). On failure the output raster is left empty.
//
// bits (the requested colour depth):
//   0  the standard 16-colour VGA palette      1  black and white
//   4  16 colours chosen for the image         8  256 colours chosen for the image
//   24 true colour
// dither: 1 = Floyd-Steinberg error diffusion when colours are reduced, 0 = nearest colour.
// An image that already fits the asked depth keeps its own palette exactly.
// Alpha and transparency are composited over white.
#pragma once

#include "imaging/codec/raster.h"

#include <array>
#include <cstdint>
#include <string>

namespace pixmoor::codec {

// Readers. jpegScale is the JPEG scale denominator: 1 full size; 2, 4, 8 decode at 1/2, 1/4, 1/8
// through libjpeg's DCT scaling (other values are refused with BadParameter).
int readBmp(const std::string& file, int bits, int dither, Raster& out);
int readJpeg(const std::string& file, int bits, int jpegScale, int dither, Raster& out);
int readGif(const std::string& file, int bits, int dither, Raster& out);
int readPcx(const std::string& file, int bits, int dither, Raster& out);
int readPng(const std::string& file, int bits, int dither, Raster& out);
int readTiff(const std::string& file, int bits, int dither, Raster& out);

// Writers. The raster is first brought to the asked depth (with error diffusion), then encoded.
//   BMP, PCX: 0, 1, 4, 8, 24.   GIF: 0, 1, 4, 8 (24 gives 8).   PNG: 0, 1, 4, 8, 24.
//   JPEG: colour, grayscale when bits is 1; quality 1..100, smoothing 0..100 (libjpeg's factor).
//   TIFF: compression 1 none, 2 CCITT modified Huffman (1 bit only), 5 LZW, 32773 PackBits.
int writeBmp(const std::string& file, int bits, const Raster& in);
int writePcx(const std::string& file, int bits, const Raster& in);
int writeGif(const std::string& file, int bits, const Raster& in);
int writePng(const std::string& file, int bits, int interlace, const Raster& in);
int writeJpeg(const std::string& file, int quality, int smoothing, int bits, const Raster& in);
int writeTiff(const std::string& file, int compression, int bits, const Raster& in);

// TIFF compression codes accepted by writeTiff.
enum TiffCompression : int { TiffNone = 1, TiffCcitt = 2, TiffLzw = 5, TiffPackBits = 32773 };

// What the information call reports about a file, found by its signature, not its name.
struct ImageInfo {
    std::string format; // at most 5 characters: "BMP", "GIF", "JPEG", "PCX", "PNG", "TIFF"
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t bitsPerPixel = 0; // first further value
    std::int32_t colours = 0;      // second: palette colours, 0 for true colour
    std::int32_t pages = 0;        // third: pages or frames
    std::string detail;            // at most 25 characters: compression or variant
};

int imageInfo(const std::string& file, ImageInfo& out);

// Reads any of the six formats, choosing the reader by the file's signature rather than its name.
// jpegScale is passed to the JPEG reader and ignored by the others. NotThisFormat when no reader
// recognises the file.
int readImage(const std::string& file, int bits, int jpegScale, int dither, Raster& out);

// Brings a raster to the asked depth (0, 1, 4, 8, 24), reducing colours with the library's own
// palette choice and, when dither is 1, Floyd-Steinberg error diffusion.
int convertDepth(Raster& image, int bits, int dither);

// The fixed palette of bits 0: the 16 Windows VGA colours in their usual order.
const std::array<Rgb, 16>& vgaPalette();

} // namespace pixmoor::codec
