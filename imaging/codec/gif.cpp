// GIF for the codec library over giflib: the information call, the reader (first frame of
// animations, interlaced, transparency over white, local colour tables) and the writer.
#include "imaging/codec/codec.h"
#include "imaging/codec/format_io.h"
#include "imaging/codec/formats.h"

#include <algorithm>
#include <cstring>

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
    case D_GIF_ERR_NOT_GIF_FILE: return NotThisFormat;
    case D_GIF_ERR_READ_FAILED: return std::ferror(f) ? ReadFailed : Truncated;
    case D_GIF_ERR_NOT_ENOUGH_MEM: return OutOfMemory;
    default: return Corrupt;
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
                firstWidth = gif->Image.Width;
                firstHeight = gif->Image.Height;
                if (gif->Image.ColorMap) mapSize = gif->Image.ColorMap->ColorCount;
            }
            ++frames;
            if (!skipImageData(gif.get())) done = true;
            break;
        case EXTENSION_RECORD_TYPE:
            if (!skipExtension(gif.get())) done = true;
            break;
        default: done = true; break;
        }
    }
    if (frames == 0) return gifResult(gif->Error, f.get());

    out.format = "GIF";
    out.width = std::max(gif->SWidth, firstWidth);
    out.height = std::max(gif->SHeight, firstHeight);
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

} // namespace pixmoor::codec
