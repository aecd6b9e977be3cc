// BMP reader, writer and information: the file header in front of a DIB, whose headers, colour
// tables, bit depths, bit fields and run-length data the DIB decoder (dib.h) reads.
#include "imaging/codec/codec.h"
#include "imaging/codec/decode.h"
#include "imaging/codec/dib.h"
#include "imaging/codec/errors.h"
#include "imaging/codec/file_bytes.h"
#include "imaging/codec/format_io.h"
#include "imaging/codec/formats.h"
#include "imaging/codec/raster_sink.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <vector>

namespace pixmoor::codec {

namespace {

using namespace detail;

constexpr std::size_t kFileHeader = 14;

// The headers of a BMP held in d[0..size): the file header, then a DIB.
int parseHeader(const std::uint8_t* d, std::size_t size, DibHeader& h) {
    h = DibHeader{};
    if (size < 2 || d[0] != 'B' || d[1] != 'M') return NotThisFormat;
    return parseDibHeader(d, size, kFileHeader, true, DibOptions{}, h);
}

const char* compressionName(std::uint32_t c) {
    switch (c) {
    case 0:
        return "None";
    case 1:
        return "RLE8";
    case 2:
        return "RLE4";
    case 3:
        return "Bitfields";
    case 6:
        return "Alpha bitfields";
    case 4:
        return "JPEG";
    case 5:
        return "PNG";
    default:
        return "Unknown";
    }
}

} // namespace

namespace detail {

namespace {

// A BMP larger than this is read in parts: its headers and colour table from the first bytes,
// its rows a band at a time.
constexpr std::size_t kHeadBytes = 4096;
// About this many bytes of rows are read at a time: they stay in the processor's cache while
// they are decoded, and the file's pixels never sit in memory whole.
constexpr std::size_t kBandBytes = std::size_t(256) << 10;

// The rows of a BMP file, read from it a band at a time.
class FileRows final : public DibRows {
public:
    FileRows(const OpenFile& file, const DibHeader& h)
        : file_(file), pixelOffset_(h.pixelOffset), rowBytes_(dibRowBytes(h)),
          available_(file.size() - h.pixelOffset),
          band_(std::max<std::size_t>(kBandBytes / rowBytes_, 1) * rowBytes_) {}

    std::size_t available() const { return available_; }

    const std::uint8_t* row(std::size_t i) override {
        if (i < first_ || i - first_ >= rows_) {
            if (!fill(i)) return nullptr;
        }
        return band_.data() + (i - first_) * rowBytes_;
    }

private:
    // Reads the band that starts at row i; the last row of the data may lack its padding.
    bool fill(std::size_t i) {
        rows_ = 0;
        const std::uint64_t start = std::uint64_t(rowBytes_) * i;
        if (start >= available_) return false;
        const std::size_t want =
            std::size_t(std::min<std::uint64_t>(band_.size(), available_ - start));
        const std::int64_t got = file_.readAt(pixelOffset_ + start, band_.data(), want);
        if (got < std::int64_t(want)) return false; // the file shrank, or could not be read
        std::fill(band_.begin() + std::ptrdiff_t(want), band_.end(), std::uint8_t(0));
        first_ = i;
        rows_ = (want + rowBytes_ - 1) / rowBytes_;
        return true;
    }

    const OpenFile& file_;
    std::uint64_t pixelOffset_;
    std::size_t rowBytes_;
    std::uint64_t available_;
    std::vector<std::uint8_t> band_;
    std::size_t first_ = 0, rows_ = 0;
};

} // namespace

// A BMP file is a 14-byte file header and a DIB, decoded by the DIB decoder. A large
// uncompressed one streams from the file in the order its rows are stored, when the sink turns
// a bottom-up picture itself; the rest are decoded from the whole file in memory.
int decodeBmp(const std::string& file, const DecodeOptions& options, RowSink& sink) {
    try {
        DibOptions dib;
        dib.bgrRows = options.bgrRows;
        OpenFile f;
        if (const int rc = f.open(file); rc != Ok) return rc;
        if (f.size() > kHeadBytes) {
            // Headers that parse from the first bytes alone are those of the whole file: every
            // check against the size only grows easier with more bytes.
            std::array<std::uint8_t, kHeadBytes> head;
            const std::int64_t got = f.readAt(0, head.data(), head.size());
            if (got < 0) return ReadFailed;
            DibHeader h;
            if (parseHeader(head.data(), std::size_t(got), h) == Ok && streamableDib(h, dib) &&
                h.pixelOffset < f.size() && (h.topDown || sink.turnsItself(4))) {
                FileRows rows(f, h);
                return decodeDibRows(head.data(), h, std::size_t(rows.available()), dib, rows,
                                     !h.topDown, sink);
            }
        }
        FileBytes bytes;
        if (const int rc = readFileBytes(f, bytes); rc != Ok) return rc;
        DibHeader h;
        if (const int rc = parseHeader(bytes.data.get(), bytes.size, h); rc != Ok) return rc;
        return decodeDibPixels(bytes.data.get(), bytes.size, h, dib, sink, &bytes);
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
}

} // namespace detail

int readBmp(const std::string& file, int bits, int dither, Raster& out) {
    return detail::readThroughSink(detail::decodeBmp, file, DecodeOptions{}, bits, dither, out);
}

int readBmpData(const std::uint8_t* data, std::size_t size, Raster& out, DibHeader* header) {
    out = Raster{};
    DibHeader own;
    DibHeader& h = header ? *header : own;
    try {
        RasterSink sink(out);
        int rc = data ? parseHeader(data, size, h) : NotThisFormat;
        if (rc == Ok) rc = decodeDibPixels(data, size, h, DibOptions{}, sink);
        // A raster that could not be allocated stops the decoder: report why.
        if (rc == Stopped && sink.failure() != 0 && sink.failure() != Ok) rc = sink.failure();
        if (rc == Ok && !sink.complete()) rc = Truncated;
        if (rc == Ok && out.indexed()) coverIndices(out);
        if (rc != Ok) out = Raster{};
        return rc;
    } catch (const std::bad_alloc&) {
        out = Raster{};
        return OutOfMemory;
    }
}

namespace detail {

int infoBmp(const std::string& file, ImageInfo& info) {
    info = ImageInfo{};
    FileBytes bytes;
    if (const int rc = readFileBytes(file, bytes, 64 * 1024); rc != Ok) return rc;
    DibHeader h;
    const int rc = parseHeader(bytes.data.get(), bytes.size, h);
    // Embedded JPEG or PNG pixels are still a well-formed header worth describing.
    if (rc != Ok && !(rc == Truncated && h.width > 0)) return rc;
    info.format = "BMP";
    info.width = std::int32_t(h.width);
    info.height = std::int32_t(h.height);
    info.bitsPerPixel = h.bitCount;
    info.colours = std::int32_t(h.declaredColours);
    info.pages = 1;
    info.detail = compressionName(h.compression);
    if (h.headerSize == 12 || h.os2)
        info.detail += ", OS/2";
    else if (h.headerSize == 108)
        info.detail += ", V4";
    else if (h.headerSize >= 124)
        info.detail += ", V5";
    if (h.topDown) info.detail += ", top-down";
    return Ok;
}

} // namespace detail

int writeBmp(const std::string& file, int bits, const Raster& in) {
    try {
        if (file.empty()) return EmptyFileName;
        int rc = Ok;
        Raster scratch;
        const Raster* image = rasterForDepth(in, bits, scratch, rc);
        if (!image) return rc;
        const int fileBits = bits == 0 ? 4 : bits;
        const std::size_t colours = fileBits <= 8 ? std::size_t(1) << fileBits : 0;
        const std::size_t w = std::size_t(image->width);
        const std::size_t rowBytes = ((w * std::size_t(fileBits) + 31) / 32) * 4;
        const std::size_t imageBytes = rowBytes * std::size_t(image->height);
        const std::size_t offset = kFileHeader + 40 + colours * 4;
        if (offset + imageBytes > 0xFFFFFFFFu) return TooLarge;

        std::vector<std::uint8_t> head(offset, 0);
        head[0] = 'B', head[1] = 'M';
        putLe32(&head[2], std::uint32_t(offset + imageBytes));
        putLe32(&head[10], std::uint32_t(offset));
        std::uint8_t* ih = &head[kFileHeader];
        putLe32(ih, 40);
        putLe32(ih + 4, std::uint32_t(image->width));
        putLe32(ih + 8, std::uint32_t(image->height));
        putLe16(ih + 12, 1);
        putLe16(ih + 14, std::uint32_t(fileBits));
        putLe32(ih + 20, std::uint32_t(imageBytes));
        putLe32(ih + 24, 2835); // 72 dpi
        putLe32(ih + 28, 2835);
        putLe32(ih + 32, std::uint32_t(colours));
        for (std::size_t k = 0; k < colours && k < image->palette.size(); ++k) {
            std::uint8_t* e = &head[kFileHeader + 40 + 4 * k];
            e[0] = image->palette[k].b, e[1] = image->palette[k].g, e[2] = image->palette[k].r;
        }

        OutputFile out;
        if ((rc = out.open(file)) != Ok) return rc;
        if (std::fwrite(head.data(), 1, head.size(), out.get()) != head.size()) return WriteFailed;
        std::vector<std::uint8_t> row(rowBytes, 0);
        for (int y = image->height - 1; y >= 0; --y) {
            const std::uint8_t* src = image->row(y);
            std::fill(row.begin(), row.end(), 0);
            switch (fileBits) {
            case 1:
                for (std::size_t x = 0; x < w; ++x)
                    row[x >> 3] |= std::uint8_t((src[x] & 1) << (7 - (x & 7)));
                break;
            case 4:
                for (std::size_t x = 0; x < w; ++x)
                    row[x >> 1] |= std::uint8_t((src[x] & 15) << ((x & 1) ? 0 : 4));
                break;
            case 8:
                std::memcpy(row.data(), src, w);
                break;
            default:
                for (std::size_t x = 0; x < w; ++x)
                    row[3 * x] = src[3 * x + 2], row[3 * x + 1] = src[3 * x + 1],
                            row[3 * x + 2] = src[3 * x];
            }
            if (std::fwrite(row.data(), 1, rowBytes, out.get()) != rowBytes) return WriteFailed;
        }
        return out.commit();
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
}

} // namespace pixmoor::codec
