// GIF for the codec library over giflib: the information call, the reader (first frame of
// animations, interlaced, transparency over white, local colour tables) and the writer.
#include "imaging/codec/codec.h"
#include "imaging/codec/decode.h"
#include "imaging/codec/format_io.h"
#include "imaging/codec/formats.h"
#include "imaging/codec/lzw.h"
#include "imaging/codec/raster_sink.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <gif_lib.h>

namespace pixmoor::codec {

using detail::CFile;

namespace detail {

namespace {

// giflib reads through this so that the FILE stays ours (and closed by RAII).
int readFromFile(GifFileType* gif, GifByteType* buffer, int length) {
    auto* f = static_cast<std::FILE*>(gif->UserData);
    return int(std::fread(buffer, 1, std::size_t(length), f));
}

struct GifCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        if (gif) DGifCloseFile(gif, &error);
    }
};
using GifReader = std::unique_ptr<GifFileType, GifCloser>;

// Maps a giflib decoder error to our result codes; a file that simply ends is Truncated.
int gifResult(int error, std::FILE* f) {
    if (std::feof(f)) return Truncated;
    switch (error) {
    case D_GIF_ERR_NOT_GIF_FILE:
        return NotThisFormat;
    case D_GIF_ERR_READ_FAILED:
        return std::ferror(f) ? ReadFailed : Truncated;
    case D_GIF_ERR_NOT_ENOUGH_MEM:
        return OutOfMemory;
    default:
        return Corrupt;
    }
}

// Checks the signature and opens a giflib decoder on the file.
int openGif(const std::string& file, CFile& f, GifReader& gif, bool& version89) {
    if (const int rc = openForRead(file, f); rc != Ok) return rc;
    char signature[6];
    const std::size_t got = std::fread(signature, 1, 6, f.get());
    if (got < 3 || std::memcmp(signature, "GIF", 3) != 0) return NotThisFormat;
    if (got < 6) return Truncated;
    if (std::memcmp(signature + 3, "87a", 3) != 0 && std::memcmp(signature + 3, "89a", 3) != 0)
        return NotThisFormat;
    version89 = signature[4] == '9';
    std::rewind(f.get());
    int error = 0;
    gif.reset(DGifOpen(f.get(), readFromFile, &error));
    if (!gif) return gifResult(error, f.get());
    return Ok;
}

// Skips the compressed data of the image whose descriptor was just read.
bool skipImageData(GifFileType* gif) {
    int codeSize = 0;
    GifByteType* block = nullptr;
    if (DGifGetCode(gif, &codeSize, &block) == GIF_ERROR) return false;
    while (block) {
        if (DGifGetCodeNext(gif, &block) == GIF_ERROR) return false;
    }
    return true;
}

bool skipExtension(GifFileType* gif) {
    int code = 0;
    GifByteType* block = nullptr;
    if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return false;
    while (block) {
        if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
    }
    return true;
}

// Where the first frame lands: the picture is the logical screen with the frame clipped to it.
// A frame wholly outside the screen, a screen of zero size, or a vast screen that the frame
// hardly covers (a few bytes of file asking for hundreds of megabytes of background), or a
// screen far larger than the file's data could fill, give the frame on its own instead.
struct GifCanvas {
    int width, height, left, top;
};

GifCanvas gifCanvas(int screenWidth, int screenHeight, const GifImageDesc& frame,
                    std::int64_t fileBytes) {
    const std::int64_t screenArea = std::int64_t(screenWidth) * screenHeight;
    const std::int64_t frameArea = std::int64_t(frame.Width) * frame.Height;
    const bool outside = screenWidth <= 0 || screenHeight <= 0 || frame.Left >= screenWidth ||
                         frame.Top >= screenHeight;
    const bool mostlyEmpty =
        screenArea > (std::int64_t(4) << 20) &&
        (screenArea > 64 * frameArea ||
         !plausibleExpansion(std::uint64_t(screenArea),
                             std::uint64_t(std::max<std::int64_t>(0, fileBytes)),
                             limits::kMaxLzwExpansion));
    if (outside || mostlyEmpty) return {frame.Width, frame.Height, 0, 0};
    return {screenWidth, screenHeight, frame.Left, frame.Top};
}

} // namespace

// Reads the screen descriptor and counts the frames by walking the records without decoding.
int infoGif(const std::string& file, ImageInfo& out) {
    out = ImageInfo{};
    CFile f;
    GifReader gif;
    bool version89 = false;
    if (const int rc = openGif(file, f, gif, version89); rc != Ok) return rc;

    int frames = 0;
    bool interlaced = false;
    int mapSize = gif->SColorMap ? gif->SColorMap->ColorCount : 0;
    int firstWidth = 0, firstHeight = 0;
    bool done = false;
    while (!done) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) break;
        switch (type) {
        case IMAGE_DESC_RECORD_TYPE:
            if (DGifGetImageDesc(gif.get()) == GIF_ERROR) {
                done = true;
                break;
            }
            if (frames == 0) {
                interlaced = gif->Image.Interlace;
                const GifCanvas canvas =
                    gifCanvas(gif->SWidth, gif->SHeight, gif->Image, fileSize(f.get()));
                firstWidth = canvas.width;
                firstHeight = canvas.height;
                if (gif->Image.ColorMap) mapSize = gif->Image.ColorMap->ColorCount;
            }
            ++frames;
            if (!skipImageData(gif.get())) done = true;
            break;
        case EXTENSION_RECORD_TYPE:
            if (!skipExtension(gif.get())) done = true;
            break;
        default:
            done = true;
            break;
        }
    }
    if (frames == 0) return gifResult(gif->Error, f.get());

    out.format = "GIF";
    out.width = firstWidth;
    out.height = firstHeight;
    if (mapSize <= 0) mapSize = 256;
    int bits = 1;
    while ((1 << bits) < mapSize && bits < 8) ++bits;
    out.bitsPerPixel = bits;
    out.colours = mapSize;
    out.pages = frames;
    out.detail = version89 ? "GIF89a" : "GIF87a";
    if (interlaced) out.detail += " Interlaced";
    return Ok;
}

} // namespace detail

namespace {

using detail::GifReader;

// The transparent index of a graphics control extension, or -1.
int transparentIndex(const GifByteType* block) {
    // block[0] is the data length (4), then flags, delay (2 bytes), transparent index.
    if (block && block[0] >= 4 && (block[1] & 0x01)) return block[4];
    return -1;
}

// Reads the records up to the first image, decodes it into `out` and stops there.
int decodeFirstFrame(GifFileType* gif, std::FILE* file, Raster& out) {
    int transparent = -1;
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) return detail::gifResult(gif->Error, file);
        if (type == TERMINATE_RECORD_TYPE) return Corrupt; // no image at all
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif, &code, &block) == GIF_ERROR)
                return detail::gifResult(gif->Error, file);
            // The last control extension before the image applies to it.
            if (code == GRAPHICS_EXT_FUNC_CODE) transparent = transparentIndex(block);
            while (block)
                if (DGifGetExtensionNext(gif, &block) == GIF_ERROR)
                    return detail::gifResult(gif->Error, file);
            continue;
        }
        if (type == IMAGE_DESC_RECORD_TYPE) break;
        return Corrupt;
    }
    if (DGifGetImageDesc(gif) == GIF_ERROR) return detail::gifResult(gif->Error, file);

    const GifImageDesc& frame = gif->Image;
    if (frame.Width <= 0 || frame.Height <= 0 || frame.Left < 0 || frame.Top < 0) return Corrupt;
    const auto canvas = detail::gifCanvas(gif->SWidth, gif->SHeight, frame, detail::fileSize(file));
    const int width = canvas.width, height = canvas.height;
    const std::int64_t frameArea = std::int64_t(frame.Width) * frame.Height;
    if (const int rc = detail::checkDimensions(width, height); rc != Ok) return rc;
    // LZW with 12-bit codes yields at most about 2700 pixels per byte: a file too small for its
    // first frame is truncated, and is refused before a large raster is allocated for it.
    if (!detail::plausibleExpansion(
            std::uint64_t(frameArea),
            std::uint64_t(std::max<std::int64_t>(0, detail::fileSize(file))),
            limits::kMaxLzwExpansion))
        return Truncated;

    const ColorMapObject* map = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
    std::vector<Rgb> palette;
    if (map && map->ColorCount > 0 && map->Colors) {
        for (int i = 0; i < map->ColorCount && i < 256; ++i)
            palette.push_back({map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue});
    } else {
        palette = detail::grayRamp(256); // no colour table: a gray scale, as decoders commonly do
    }
    if (transparent >= 0 && transparent < int(palette.size()))
        palette[transparent] = {255, 255, 255};

    // What shows where the frame does not cover the canvas: the transparent colour (white) if
    // there is one, else the screen's background colour.
    const bool covers =
        canvas.left == 0 && canvas.top == 0 && frame.Width >= width && frame.Height >= height;
    int fill = 0;
    if (!covers) {
        if (transparent >= 0 && transparent < int(palette.size())) {
            fill = transparent;
        } else if (palette.size() < 256) {
            fill = int(palette.size());
            palette.push_back({255, 255, 255});
        } else {
            fill = std::clamp(gif->SBackGroundColor, 0, 255);
        }
    }

    if (const int rc = allocateRaster(out, width, height, 8); rc != Ok) return rc;
    if (fill != 0)
        for (int y = 0; y < height; ++y) std::memset(out.row(y), fill, std::size_t(width));
    // The frame's LZW data, its sub-blocks joined, is decoded whole into a frame buffer by our
    // own decoder (several times faster than giflib's line reader); rows are then placed on the
    // canvas, clipped to it. The data is bounded by the file, the frame by plausibleExpansion.
    int minCodeSize = 0;
    GifByteType* block = nullptr;
    if (DGifGetCode(gif, &minCodeSize, &block) == GIF_ERROR)
        return detail::gifResult(gif->Error, file);
    std::vector<std::uint8_t> data;
    while (block) {
        data.insert(data.end(), block + 1, block + 1 + block[0]);
        if (DGifGetCodeNext(gif, &block) == GIF_ERROR) {
            // A file that ends inside the data keeps what arrived: the decoder says whether it
            // was enough.
            if (!std::feof(file)) return detail::gifResult(gif->Error, file);
            break;
        }
    }
    std::vector<std::uint8_t> pixels(std::size_t(frameArea) + detail::kLzwSlack);
    if (const int rc = detail::decodeGifLzw(data.data(), data.size(), minCodeSize, pixels.data(),
                                            std::size_t(frameArea));
        rc != Ok) {
        out = Raster{};
        return rc == Truncated && std::feof(file) ? Truncated : rc == Truncated ? Corrupt : rc;
    }
    data = {};

    const int visible = std::min(frame.Width, width - canvas.left);
    // Interlaced images arrive in four passes: every 8th row from 0, every 8th from 4, every 4th
    // from 2, every 2nd from 1.
    static constexpr int kStart[4] = {0, 4, 2, 1};
    static constexpr int kStep[4] = {8, 8, 4, 2};
    const int passes = frame.Interlace ? 4 : 1;
    const std::uint8_t* line = pixels.data();
    for (int pass = 0; pass < passes; ++pass) {
        const int first = frame.Interlace ? kStart[pass] : 0;
        const int step = frame.Interlace ? kStep[pass] : 1;
        for (int y = first; y < frame.Height; y += step, line += frame.Width)
            if (canvas.top + y < height)
                std::memcpy(out.row(canvas.top + y) + canvas.left, line, std::size_t(visible));
    }
    out.palette = std::move(palette);
    detail::coverIndices(out);
    out.bits = detail::indexedBitsFor(out.palette.size());
    return Ok;
}

int writeToFile(GifFileType* gif, const GifByteType* data, int length) {
    auto* f = static_cast<std::FILE*>(gif->UserData);
    return int(std::fwrite(data, 1, std::size_t(length), f));
}

struct GifWriterCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        if (gif) EGifCloseFile(gif, &error);
    }
};

struct ColorMapFree {
    void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};

} // namespace

namespace detail {

// The first frame on its canvas is decoded whole (interlaced rows arrive out of order), then
// handed to the sink.
int decodeGif(const std::string& file, const DecodeOptions&, RowSink& sink) {
    try {
        Raster raster;
        {
            CFile f;
            GifReader gif;
            bool version89 = false;
            if (const int rc = openGif(file, f, gif, version89); rc != Ok) return rc;
            if (const int rc = decodeFirstFrame(gif.get(), f.get(), raster); rc != Ok) return rc;
        }
        return sink.image(std::move(raster)) ? Ok : Stopped;
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
}

} // namespace detail

int readGif(const std::string& file, int bits, int dither, Raster& out) {
    return detail::readThroughSink(detail::decodeGif, file, DecodeOptions{}, bits, dither, out);
}

namespace {

int writeGifUnguarded(const std::string& file, int bits, const Raster& in) {
    if (!detail::validDepth(bits)) return BadDepth;
    if (bits == 24) bits = 8; // GIF holds at most 256 colours
    int rc = Ok;
    Raster scratch;
    const Raster* image = detail::rasterForDepth(in, bits, scratch, rc);
    if (!image) return rc;
    if (image->width > 0xFFFF || image->height > 0xFFFF) return TooLarge;

    // The colour table's size is a power of two; the smallest that holds the palette.
    int tableBits = 1;
    while ((std::size_t(1) << tableBits) < image->palette.size()) ++tableBits;
    std::vector<GifColorType> colours(std::size_t(1) << tableBits, GifColorType{0, 0, 0});
    for (std::size_t i = 0; i < image->palette.size(); ++i)
        colours[i] = {image->palette[i].r, image->palette[i].g, image->palette[i].b};
    std::unique_ptr<ColorMapObject, ColorMapFree> map(
        GifMakeMapObject(int(colours.size()), colours.data()));
    if (!map) return OutOfMemory;
    std::vector<GifPixelType> line(std::size_t(image->width));

    detail::OutputFile output;
    if (const int orc = output.open(file); orc != Ok) return orc;
    int error = 0;
    std::unique_ptr<GifFileType, GifWriterCloser> gif(EGifOpen(output.get(), writeToFile, &error));
    if (!gif) return OutOfMemory;
    bool ok =
        EGifPutScreenDesc(gif.get(), image->width, image->height, tableBits, 0, map.get()) !=
            GIF_ERROR &&
        EGifPutImageDesc(gif.get(), 0, 0, image->width, image->height, false, nullptr) != GIF_ERROR;
    for (int y = 0; ok && y < image->height; ++y) {
        // giflib masks the line in place, so it gets a copy.
        std::memcpy(line.data(), image->row(y), line.size());
        ok = EGifPutLine(gif.get(), line.data(), image->width) != GIF_ERROR;
    }
    // Closing writes the trailer; giflib frees the handle whatever the outcome.
    const bool closed = EGifCloseFile(gif.release(), &error) != GIF_ERROR;
    if (!ok || !closed) {
        output.abandon();
        return error == E_GIF_ERR_NOT_ENOUGH_MEM ? OutOfMemory : WriteFailed;
    }
    return output.commit();
}

} // namespace

// An allocation failure anywhere inside ends as OutOfMemory: nothing throws across the interface.
int writeGif(const std::string& file, int bits, const Raster& in) {
    try {
        return writeGifUnguarded(file, bits, in);
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
}

} // namespace pixmoor::codec
