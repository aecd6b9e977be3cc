// PCX reader, writer and information: 1 bit, 2 bits, 4 bits packed or in 1-bit planes, 8 bits with
// the 256-colour palette at the end, 24 bits in three planes (and 32 in four). Our own code.
#include "imaging/codec/codec.h"
#include "imaging/codec/decode.h"
#include "imaging/codec/errors.h"
#include "imaging/codec/file_bytes.h"
#include "imaging/codec/format_io.h"
#include "imaging/codec/formats.h"
#include "imaging/codec/raster_sink.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace pixmoor::codec {

namespace {

using namespace detail;

constexpr std::size_t kHeader = 128;
constexpr std::size_t kTrailingPalette = 769; // 0x0C then 256 RGB triples

struct PcxHeader {
    int version = 0;
    bool rle = true;
    int bitsPerPlane = 0;
    int planes = 0;
    int width = 0;
    int height = 0;
    std::size_t bytesPerLine = 0;
};

int parseHeader(const std::uint8_t* d, std::size_t size, PcxHeader& h) {
    if (size < 1 || d[0] != 0x0A) return NotThisFormat;
    if (size < kHeader) return size >= 4 ? Truncated : NotThisFormat;
    h.version = d[1];
    if (h.version > 5 || h.version == 1 || d[2] > 1) return NotThisFormat;
    h.rle = d[2] == 1;
    h.bitsPerPlane = d[3];
    h.planes = d[65];
    const int xmin = le16(d + 4), ymin = le16(d + 6), xmax = le16(d + 8), ymax = le16(d + 10);
    if (xmax < xmin || ymax < ymin) return Corrupt;
    if (const int rc = checkDimensions(xmax - xmin + 1, ymax - ymin + 1); rc != Ok) return rc;
    h.width = xmax - xmin + 1;
    h.height = ymax - ymin + 1;
    const int b = h.bitsPerPlane, p = h.planes;
    const bool known = (b == 1 && p >= 1 && p <= 4) || (b == 2 && p == 1) || (b == 4 && p == 1) ||
                       (b == 8 && (p == 1 || p == 3 || p == 4));
    if (!known) return (b == 0 || p == 0) ? Corrupt : Unsupported;
    h.bytesPerLine = le16(d + 66);
    if (h.bytesPerLine < (std::size_t(h.width) * std::size_t(b) + 7) / 8) return Corrupt;
    return Ok;
}

// Reads RLE (or plain) bytes; a run may carry on into the next scan line, as some writers do.
class RunReader {
public:
    RunReader(const std::uint8_t* p, std::size_t n, bool rle) : p_(p), n_(n), rle_(rle) {}
    bool fill(std::uint8_t* dst, std::size_t count) {
        std::size_t filled = 0;
        if (!rle_) {
            if (n_ - i_ < count) return false;
            std::memcpy(dst, p_ + i_, count);
            i_ += count;
            return true;
        }
        while (filled < count) {
            if (runLeft_) {
                const std::size_t k = std::min(runLeft_, count - filled);
                std::memset(dst + filled, runValue_, k);
                runLeft_ -= k;
                filled += k;
                continue;
            }
            if (i_ >= n_) return false;
            const std::uint8_t c = p_[i_++];
            if ((c & 0xC0) == 0xC0) {
                if (i_ >= n_) return false;
                runLeft_ = c & 0x3F;
                runValue_ = p_[i_++];
            } else {
                dst[filled++] = c;
            }
        }
        return true;
    }

private:
    const std::uint8_t* p_;
    std::size_t n_;
    std::size_t i_ = 0;
    bool rle_;
    std::size_t runLeft_ = 0;
    std::uint8_t runValue_ = 0;
};

int decodePcx(const std::uint8_t* d, std::size_t size, Raster& out) {
    PcxHeader h;
    if (const int rc = parseHeader(d, size, h); rc != Ok) return rc;
    const int b = h.bitsPerPlane, planes = h.planes, w = h.width;
    const bool trueColour = b == 8 && planes >= 3;
    const int indexBits = b * planes;

    std::size_t dataEnd = size;
    std::vector<Rgb> palette;
    if (b == 8 && planes == 1) {
        if (size >= kHeader + kTrailingPalette && d[size - kTrailingPalette] == 0x0C) {
            dataEnd = size - kTrailingPalette;
            const std::uint8_t* e = d + dataEnd + 1;
            for (int i = 0; i < 256; ++i, e += 3) palette.push_back({e[0], e[1], e[2]});
        } else {
            palette = grayRamp(256); // old files without the trailing palette are grey
        }
    } else if (indexBits == 1) {
        palette = {{0, 0, 0}, {255, 255, 255}};
    } else if (!trueColour) {
        for (int i = 0; i < (1 << indexBits); ++i)
            palette.push_back({d[16 + 3 * i], d[17 + 3 * i], d[18 + 3 * i]});
    }

    // A run pair expands to at most 63 bytes: refuse files too short for their header's claim
    // before allocating what it asks for.
    const std::size_t needed = h.bytesPerLine * std::size_t(planes) * std::size_t(h.height);
    const std::size_t data = dataEnd - kHeader;
    if (h.rle ? needed / 63 > data / 2 + 1 : needed > data) return Truncated;

    const int outBits = trueColour ? 24 : (indexBits == 1 ? 1 : (indexBits <= 4 ? 4 : 8));
    if (const int rc = allocateRaster(out, w, h.height, outBits); rc != Ok) return rc;
    out.palette = palette;

    const std::size_t line = h.bytesPerLine;
    std::vector<std::uint8_t> scan(line * std::size_t(planes));
    RunReader reader(d + kHeader, dataEnd - kHeader, h.rle);
    for (int y = 0; y < h.height; ++y) {
        if (!reader.fill(scan.data(), scan.size())) {
            out = Raster{};
            return Truncated;
        }
        std::uint8_t* dst = out.row(y);
        const std::uint8_t* s = scan.data();
        if (trueColour) {
            const std::uint8_t *r = s, *g = s + line, *bl = s + 2 * line;
            if (planes == 4) {
                const std::uint8_t* a = s + 3 * line;
                for (int x = 0; x < w; ++x, dst += 3)
                    dst[0] = overWhite(r[x], a[x]), dst[1] = overWhite(g[x], a[x]),
                    dst[2] = overWhite(bl[x], a[x]);
            } else {
                for (int x = 0; x < w; ++x, dst += 3) dst[0] = r[x], dst[1] = g[x], dst[2] = bl[x];
            }
        } else if (b == 8) {
            std::memcpy(dst, s, std::size_t(w));
        } else if (b == 4) {
            for (int x = 0; x < w; ++x) dst[x] = (s[x >> 1] >> ((x & 1) ? 0 : 4)) & 15;
        } else if (b == 2) {
            for (int x = 0; x < w; ++x) dst[x] = (s[x >> 2] >> (6 - 2 * (x & 3))) & 3;
        } else if (planes == 1) {
            for (int x = 0; x < w; ++x) dst[x] = (s[x >> 3] >> (7 - (x & 7))) & 1;
        } else {
            std::memset(dst, 0, std::size_t(w));
            for (int p = 0; p < planes; ++p) {
                const std::uint8_t* plane = s + line * std::size_t(p);
                for (int x = 0; x < w; ++x)
                    dst[x] |= std::uint8_t(((plane[x >> 3] >> (7 - (x & 7))) & 1) << p);
            }
        }
    }
    return Ok;
}

// Appends one scan line of one plane, RLE-encoded; runs never cross lines.
void encodeLine(const std::uint8_t* s, std::size_t n, std::vector<std::uint8_t>& out) {
    std::size_t i = 0;
    while (i < n) {
        const std::uint8_t v = s[i];
        std::size_t run = 1;
        while (i + run < n && run < 63 && s[i + run] == v) ++run;
        if (run > 1 || (v & 0xC0) == 0xC0) out.push_back(std::uint8_t(0xC0 | run));
        out.push_back(v);
        i += run;
    }
}

int luminance(const Rgb& c) {
    return (c.r * 77 + c.g * 150 + c.b * 29) >> 8;
}

} // namespace

namespace detail {

int decodePcxFile(const std::string& file, const DecodeOptions&, RowSink& sink) {
    return decodeWholeFile(file, decodePcx, sink);
}

} // namespace detail

int readPcx(const std::string& file, int bits, int dither, Raster& out) {
    return detail::readThroughSink(detail::decodePcxFile, file, DecodeOptions{}, bits, dither, out);
}

namespace detail {

int infoPcx(const std::string& file, ImageInfo& info) {
    info = ImageInfo{};
    FileBytes bytes;
    if (const int rc = readFileBytes(file, bytes, kHeader); rc != Ok) return rc;
    PcxHeader h;
    if (const int rc = parseHeader(bytes.data.get(), bytes.size, h); rc != Ok) return rc;
    const int bits = h.bitsPerPlane * h.planes;
    info.format = "PCX";
    info.width = h.width;
    info.height = h.height;
    info.bitsPerPixel = bits;
    info.colours = bits >= 24 ? 0 : (1 << bits);
    info.pages = 1;
    info.detail = std::string(h.rle ? "RLE" : "None") + ", v" + std::to_string(h.version) + ", " +
                  std::to_string(h.planes) + (h.planes == 1 ? " plane" : " planes");
    return Ok;
}

} // namespace detail

int writePcx(const std::string& file, int bits, const Raster& in) {
    try {
        if (file.empty()) return EmptyFileName;
        int rc = Ok;
        Raster scratch;
        const Raster* image = rasterForDepth(in, bits, scratch, rc);
        if (!image) return rc;
        if (image->width > 65536 || image->height > 65536) return TooLarge;
        const int fileBits = bits == 0 ? 4 : bits;
        // 16 colours go in four 1-bit planes, the layout every PCX reader knows.
        const int bitsPerPlane = fileBits == 24 ? 8 : (fileBits == 8 ? 8 : 1);
        const int planes = fileBits == 24 ? 3 : (fileBits == 4 ? 4 : 1);
        const std::size_t w = std::size_t(image->width);
        std::size_t line = (w * std::size_t(bitsPerPlane) + 7) / 8;
        // Scan lines are meant to have an even length, but Pillow misreads padded 1-bit planes,
        // and every reader accepts odd lines (ImageMagick writes them): pad the others only.
        if (planes == 1 || bitsPerPlane == 8) line += line & 1;

        std::vector<std::uint8_t> head(kHeader, 0);
        head[0] = 0x0A, head[1] = 5, head[2] = 1, head[3] = std::uint8_t(bitsPerPlane);
        putLe16(&head[8], std::uint32_t(image->width - 1));
        putLe16(&head[10], std::uint32_t(image->height - 1));
        putLe16(&head[12], 72);
        putLe16(&head[14], 72);
        head[65] = std::uint8_t(planes);
        putLe16(&head[66], std::uint32_t(line));
        putLe16(&head[68], 1);

        // 1 bit is black and white: the brighter of two colours becomes white.
        std::uint8_t mono[256] = {};
        if (fileBits == 1) {
            const auto& pal = image->palette;
            if (pal.size() == 2 && !(pal[0] == pal[1]))
                mono[luminance(pal[1]) >= luminance(pal[0]) ? 1 : 0] = 1;
            else
                for (std::size_t i = 0; i < pal.size(); ++i) mono[i] = luminance(pal[i]) >= 128;
            head[19] = head[20] = head[21] = 255;
        } else if (fileBits == 4) {
            for (std::size_t i = 0; i < image->palette.size() && i < 16; ++i) {
                head[16 + 3 * i] = image->palette[i].r;
                head[17 + 3 * i] = image->palette[i].g;
                head[18 + 3 * i] = image->palette[i].b;
            }
        }

        OutputFile out;
        if ((rc = out.open(file)) != Ok) return rc;
        if (std::fwrite(head.data(), 1, head.size(), out.get()) != head.size()) return WriteFailed;
        std::vector<std::uint8_t> scan(line * std::size_t(planes)), encoded;
        encoded.reserve(scan.size() * 2);
        for (int y = 0; y < image->height; ++y) {
            const std::uint8_t* s = image->row(y);
            std::fill(scan.begin(), scan.end(), 0);
            if (fileBits == 24) {
                for (std::size_t x = 0; x < w; ++x) {
                    scan[x] = s[3 * x];
                    scan[line + x] = s[3 * x + 1];
                    scan[2 * line + x] = s[3 * x + 2];
                }
            } else if (fileBits == 8) {
                std::memcpy(scan.data(), s, w);
            } else if (fileBits == 1) {
                for (std::size_t x = 0; x < w; ++x)
                    scan[x >> 3] |= std::uint8_t(mono[s[x]] << (7 - (x & 7)));
            } else {
                for (int p = 0; p < 4; ++p)
                    for (std::size_t x = 0; x < w; ++x)
                        scan[line * std::size_t(p) + (x >> 3)] |=
                            std::uint8_t(((s[x] >> p) & 1) << (7 - (x & 7)));
            }
            encoded.clear();
            for (int p = 0; p < planes; ++p)
                encodeLine(scan.data() + line * std::size_t(p), line, encoded);
            if (std::fwrite(encoded.data(), 1, encoded.size(), out.get()) != encoded.size())
                return WriteFailed;
        }
        if (fileBits == 8) {
            std::vector<std::uint8_t> tail(kTrailingPalette, 0);
            tail[0] = 0x0C;
            for (std::size_t i = 0; i < image->palette.size() && i < 256; ++i) {
                tail[1 + 3 * i] = image->palette[i].r;
                tail[2 + 3 * i] = image->palette[i].g;
                tail[3 + 3 * i] = image->palette[i].b;
            }
            if (std::fwrite(tail.data(), 1, tail.size(), out.get()) != tail.size())
                return WriteFailed;
        }
        return out.commit();
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
}

} // namespace pixmoor::codec
