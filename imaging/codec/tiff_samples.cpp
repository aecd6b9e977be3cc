// The sample road of the TIFF reader: samples of any width and format, alpha with any colour
// model, strips or tiles in separate planes, streamed as R, G, B rows over white.
#include "imaging/codec/decode.h"
#include "imaging/codec/errors.h"
#include "imaging/codec/limits.h"
#include "imaging/codec/tiff_common.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include <tiffio.h>

namespace pixmoor::codec::detail {

namespace {

// Colour samples of a pixel in the layouts the sample road reads; 0 for the others.
int colourSamples(const TiffLayout& t) {
    if (t.compression == COMPRESSION_JPEG || t.compression == COMPRESSION_OJPEG) return 0;
    switch (t.photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE:
        return 1;
    case PHOTOMETRIC_PALETTE:
        return t.sampleFormat == SAMPLEFORMAT_UINT && t.bps <= 16 ? 1 : 0;
    case PHOTOMETRIC_RGB:
        return 3;
    case PHOTOMETRIC_SEPARATED:
        return t.inkSet == INKSET_CMYK ? 4 : 0;
    default:
        return 0;
    }
}

// IEEE half precision.
double halfValue(std::uint32_t h) {
    const int exponent = int(h >> 10) & 31;
    const double mantissa = h & 1023;
    double v;
    if (exponent == 0)
        v = std::ldexp(mantissa, -24);
    else if (exponent == 31)
        v = mantissa != 0 ? std::numeric_limits<double>::quiet_NaN()
                          : std::numeric_limits<double>::infinity();
    else
        v = std::ldexp(mantissa + 1024, exponent - 25);
    return (h & 0x8000) ? -v : v;
}

// The 24-bit floating point of image editors: sign, 7 exponent bits (bias 63), 16 mantissa bits.
double float24Value(std::uint32_t f) {
    const int exponent = int(f >> 16) & 127;
    const double mantissa = f & 0xFFFF;
    double v;
    if (exponent == 0)
        v = std::ldexp(mantissa, -62 - 16);
    else if (exponent == 127)
        v = mantissa != 0 ? std::numeric_limits<double>::quiet_NaN()
                          : std::numeric_limits<double>::infinity();
    else
        v = std::ldexp(mantissa + 65536, exponent - 63 - 16);
    return (f & 0x800000) ? -v : v;
}

// Reads sample i of a decoded row. libtiff hands 16, 24, 32 and 64-bit samples over in the
// machine's byte order; other widths stay packed, most significant bit first.
class SampleReader {
public:
    explicit SampleReader(const TiffLayout& t) : bps_(t.bps), format_(t.sampleFormat) {
        const int magnitude = format_ == SAMPLEFORMAT_INT ? bps_ - 1 : bps_;
        scale_ = magnitude > 0 ? 1.0 / (std::ldexp(1.0, magnitude) - 1.0) : 0.0;
    }

    std::uint32_t raw(const std::uint8_t* row, std::size_t i) const {
        switch (bps_) {
        case 8:
            return row[i];
        case 16: {
            std::uint16_t v;
            std::memcpy(&v, row + 2 * i, 2);
            return v;
        }
        case 24: {
            const std::uint8_t* p = row + 3 * i;
            return std::endian::native == std::endian::little
                       ? std::uint32_t(p[0] | p[1] << 8 | p[2] << 16)
                       : std::uint32_t(p[0] << 16 | p[1] << 8 | p[2]);
        }
        case 32: {
            std::uint32_t v;
            std::memcpy(&v, row + 4 * i, 4);
            return v;
        }
        default: {
            const std::uint64_t bit = std::uint64_t(i) * unsigned(bps_);
            const std::uint8_t* p = row + bit / 8;
            const unsigned shift = unsigned(bit % 8), bytes = (shift + unsigned(bps_) + 7) / 8;
            std::uint64_t gathered = 0;
            for (unsigned k = 0; k < bytes; ++k) gathered = gathered << 8 | p[k];
            const std::uint64_t mask = (std::uint64_t(1) << bps_) - 1;
            return std::uint32_t((gathered >> (8 * bytes - shift - unsigned(bps_))) & mask);
        }
        }
    }

    // The sample scaled to 0..1.
    double value(const std::uint8_t* row, std::size_t i) const {
        double v;
        if (format_ == SAMPLEFORMAT_IEEEFP) {
            if (bps_ == 64) {
                std::memcpy(&v, row + 8 * i, 8);
            } else if (bps_ == 32) {
                float f;
                std::memcpy(&f, row + 4 * i, 4);
                v = f;
            } else {
                v = bps_ == 16 ? halfValue(raw(row, i)) : float24Value(raw(row, i));
            }
        } else if (format_ == SAMPLEFORMAT_INT) {
            std::int64_t s = raw(row, i);
            if (s >> (bps_ - 1) & 1) s -= std::int64_t(1) << bps_;
            v = double(s) * scale_;
        } else {
            v = double(raw(row, i)) * scale_;
        }
        if (!(v > 0)) return 0; // negative, or not a number
        return v < 1 ? v : 1;
    }

private:
    int bps_;
    int format_;
    double scale_ = 0;
};

// The colour map of a palette layout, read as 8-bit entries when every value fits in 8 bits
// (some old writers store them so).
int paletteOf(TIFF* tif, const TiffLayout& t, std::vector<Rgb>& palette) {
    std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) || !red || !green || !blue)
        return Corrupt;
    const std::size_t entries = std::size_t(1) << t.bps;
    bool eightBit = true;
    for (std::size_t i = 0; i < entries; ++i)
        if (red[i] > 255 || green[i] > 255 || blue[i] > 255) eightBit = false;
    const int shift = eightBit ? 0 : 8;
    palette.resize(entries);
    for (std::size_t i = 0; i < entries; ++i)
        palette[i] = {std::uint8_t(red[i] >> shift), std::uint8_t(green[i] >> shift),
                      std::uint8_t(blue[i] >> shift)};
    return Ok;
}


} // namespace

// Whether the RGBA conversion would refuse the layout or drop its alpha.
bool needsSamplePath(const TiffLayout& t) {
    const bool gray =
        t.photometric == PHOTOMETRIC_MINISBLACK || t.photometric == PHOTOMETRIC_MINISWHITE;
    const bool usualDepth = t.bps == 1 || t.bps == 2 || t.bps == 4 || t.bps == 8 || t.bps == 16;
    return t.sampleFormat != SAMPLEFORMAT_UINT || !usualDepth ||
           (t.hasAlpha() && (gray || t.photometric == PHOTOMETRIC_PALETTE ||
                             t.photometric == PHOTOMETRIC_SEPARATED));
}

bool samplePathReads(const TiffLayout& t) {
    const int colours = colourSamples(t);
    if (colours == 0 || t.spp < colours + (t.hasAlpha() ? 1 : 0)) return false;
    switch (t.sampleFormat) {
    case SAMPLEFORMAT_UINT:
    case SAMPLEFORMAT_INT:
        return t.bps >= 1 && t.bps <= 32;
    case SAMPLEFORMAT_IEEEFP:
        return t.bps == 16 || t.bps == 24 || t.bps == 32 || t.bps == 64;
    default:
        return false;
    }
}

// Streams the picture into sink as R, G, B rows over white. Contiguous strips are read row by
// row; separate planes in strips and tiles a band at a time, each strip or tile decoded once.
int streamSamples(TIFF* tif, const TiffLayout& t, RowSink& sink) {
    const int colours = colourSamples(t);
    const bool separate = t.planar == PLANARCONFIG_SEPARATE && t.spp > 1;
    const unsigned planes = separate ? t.spp : 1, perPlane = separate ? 1 : t.spp;
    if (planes > limits::kMaxTiffPlanes) return Unsupported;
    const std::size_t planeRow = (std::size_t(t.width) * perPlane * t.bps + 7) / 8;
    std::vector<Rgb> palette;
    if (t.photometric == PHOTOMETRIC_PALETTE)
        if (const int rc = paletteOf(tif, t, palette); rc != Ok) return rc;

    std::uint32_t band = 1, tileWidth = 0;
    std::size_t tileRow = 0;
    std::vector<std::uint8_t> tile;
    if (t.tiled) {
        if (!TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth) ||
            !TIFFGetField(tif, TIFFTAG_TILELENGTH, &band) || tileWidth == 0 || band == 0)
            return Corrupt;
        // Tiles whose columns do not start on a byte cannot be pieced together byte-wise.
        if ((std::uint64_t(tileWidth) * perPlane * t.bps) % 8 != 0) return Unsupported;
        tileRow = std::size_t(tileWidth) * perPlane * t.bps / 8;
        const tmsize_t size = TIFFTileSize(tif);
        if (size <= 0 || std::uint64_t(size) < std::uint64_t(tileRow) * band) return Corrupt;
        tile.resize(std::size_t(size));
    } else if (separate) {
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &band);
        if (band == 0) return Corrupt;
    } else if (TIFFScanlineSize(tif) <= 0 || std::size_t(TIFFScanlineSize(tif)) < planeRow) {
        return Corrupt;
    }
    band = std::min(band, t.height);
    if (std::uint64_t(band) * planeRow * planes > limits::kMaxTiffBandBytes) return TooLarge;
    std::vector<std::uint8_t> buffer(std::size_t(band) * planeRow * planes);

    RowLayout layout;
    layout.width = int(t.width);
    layout.height = int(t.height);
    layout.bits = 24;
    if (!sink.begin(layout)) return Stopped;
    const SampleReader reader(t);
    const bool alpha = t.hasAlpha(), premultiplied = t.premultiplied();
    std::vector<std::uint8_t> own;
    const std::uint8_t* planeRows[limits::kMaxTiffPlanes] = {};

    for (std::uint32_t y0 = 0; y0 < t.height; y0 += band) {
        const std::uint32_t rows = std::min(band, t.height - y0);
        for (unsigned p = 0; p < planes; ++p) {
            std::uint8_t* dst = buffer.data() + std::size_t(p) * band * planeRow;
            if (t.tiled) {
                for (std::uint32_t tx = 0; tx < t.width; tx += tileWidth) {
                    if (TIFFReadTile(tif, tile.data(), tx, y0, 0, std::uint16_t(p)) < 0)
                        return Corrupt;
                    const std::size_t offset = std::size_t(tx) * perPlane * t.bps / 8;
                    const std::size_t bytes = std::min(tileRow, planeRow - offset);
                    for (std::uint32_t r = 0; r < rows; ++r)
                        std::memcpy(dst + r * planeRow + offset, tile.data() + r * tileRow, bytes);
                }
            } else if (separate) {
                const tmsize_t wanted = tmsize_t(std::size_t(rows) * planeRow);
                const std::uint32_t strip = TIFFComputeStrip(tif, y0, std::uint16_t(p));
                if (TIFFReadEncodedStrip(tif, strip, dst, wanted) < wanted) return Corrupt;
            } else if (TIFFReadScanline(tif, dst, y0, 0) < 0) {
                return Corrupt;
            }
        }
        for (std::uint32_t r = 0; r < rows; ++r) {
            for (unsigned p = 0; p < planes; ++p)
                planeRows[p] = buffer.data() + (std::size_t(p) * band + r) * planeRow;
            // Sample s of pixel x.
            auto value = [&](std::uint32_t x, unsigned s) {
                return separate ? reader.value(planeRows[s], x)
                                : reader.value(planeRows[0], std::size_t(x) * t.spp + s);
            };
            std::uint8_t* row = sink.rowBuffer(int(y0 + r));
            if (!row) {
                own.resize(std::size_t(t.width) * 3);
                row = own.data();
            }
            for (std::uint32_t x = 0; x < t.width; ++x) {
                double c[3];
                if (t.photometric == PHOTOMETRIC_PALETTE) {
                    const std::uint32_t index = separate ? reader.raw(planeRows[0], x)
                                                         : reader.raw(planeRows[0], x * t.spp);
                    const Rgb e = index < palette.size() ? palette[index] : Rgb{};
                    c[0] = e.r / 255.0, c[1] = e.g / 255.0, c[2] = e.b / 255.0;
                } else if (colours == 1) {
                    const double g = value(x, 0);
                    c[0] = c[1] = c[2] = t.photometric == PHOTOMETRIC_MINISWHITE ? 1 - g : g;
                } else if (colours == 3) {
                    c[0] = value(x, 0), c[1] = value(x, 1), c[2] = value(x, 2);
                } else { // inks over white paper
                    const double k = 1 - value(x, 3);
                    for (unsigned i = 0; i < 3; ++i) c[i] = (1 - value(x, i)) * k;
                }
                if (alpha) {
                    const double a = value(x, unsigned(colours));
                    for (double& v : c)
                        v = premultiplied ? std::min(1.0, v + 1 - a) : v * a + 1 - a;
                }
                for (unsigned i = 0; i < 3; ++i) row[3 * x + i] = std::uint8_t(c[i] * 255 + 0.5);
            }
            if (!sink.row(row)) return Stopped;
        }
    }
    return Ok;
}

} // namespace pixmoor::codec::detail
