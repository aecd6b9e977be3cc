// Tests of the GIF LZW decoder: against giflib on files from ImageMagick, Pillow and giflib, at
// every code size; streams that fill the table and go on without a clear code; damaged streams.
#include "imaging/codec/errors.h"
#include "imaging/codec/lzw.h"
#include "tests/codec/format_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <vector>

#include <gif_lib.h>

namespace pixmoor::codec::test {
namespace {

using pixmoor::test::TempDir;

struct Frame {
    int minCodeSize = 0;
    std::vector<std::uint8_t> data;   // sub-blocks joined
    std::vector<std::uint8_t> pixels; // giflib's decoding of the first frame, rows in order
    int width = 0;
    bool interlaced = false;
};

// Rows of an interlaced frame in picture order (they are stored in four passes).
std::vector<std::uint8_t> deinterlaced(const std::vector<std::uint8_t>& stored, int width) {
    const int height = int(stored.size()) / width;
    std::vector<std::uint8_t> out(stored.size());
    const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
    std::size_t from = 0;
    for (int pass = 0; pass < 4; ++pass)
        for (int y = start[pass]; y < height; y += step[pass], from += std::size_t(width))
            std::copy_n(stored.begin() + std::ptrdiff_t(from), width,
                        out.begin() + std::ptrdiff_t(y) * width);
    return out;
}

// The first frame's raw LZW data, and giflib's own decoding of it.
Frame readWithGiflib(const std::string& file) {
    Frame frame;
    int error = 0;
    GifFileType* gif = DGifOpenFileName(file.c_str(), &error);
    EXPECT_NE(gif, nullptr);
    if (!gif) return frame;
    GifRecordType type;
    while (DGifGetRecordType(gif, &type) != GIF_ERROR && type != IMAGE_DESC_RECORD_TYPE) {
        int code = 0;
        GifByteType* block = nullptr;
        DGifGetExtension(gif, &code, &block);
        while (block) DGifGetExtensionNext(gif, &block);
    }
    EXPECT_NE(DGifGetImageDesc(gif), GIF_ERROR);
    GifByteType* block = nullptr;
    EXPECT_NE(DGifGetCode(gif, &frame.minCodeSize, &block), GIF_ERROR);
    while (block) {
        frame.data.insert(frame.data.end(), block + 1, block + 1 + block[0]);
        DGifGetCodeNext(gif, &block);
    }
    DGifCloseFile(gif, &error);
    // giflib's line decoder on a second handle.
    gif = DGifOpenFileName(file.c_str(), &error);
    EXPECT_NE(DGifSlurp(gif), GIF_ERROR);
    const SavedImage& image = gif->SavedImages[0];
    frame.width = image.ImageDesc.Width;
    frame.interlaced = image.ImageDesc.Interlace;
    frame.pixels.assign(image.RasterBits,
                        image.RasterBits + image.ImageDesc.Width * image.ImageDesc.Height);
    DGifCloseFile(gif, &error);
    return frame;
}

std::vector<std::uint8_t> decode(const Frame& frame, std::size_t count, int* rc = nullptr) {
    std::vector<std::uint8_t> out(count + detail::kLzwSlack);
    const int result = detail::decodeGifLzw(frame.data.data(), frame.data.size(), frame.minCodeSize,
                                            out.data(), count);
    if (rc) *rc = result;
    out.resize(count);
    return out;
}

// A GIF LZW encoder for streams real encoders seldom write: clear only at the start, so a long
// noisy picture fills the table and the rest is coded with it as it stands (a deferred clear).
std::vector<std::uint8_t> encodeWithoutClears(const std::vector<std::uint8_t>& pixels, int m) {
    std::vector<std::uint8_t> out;
    std::uint32_t bits = 0;
    int held = 0;
    int codeBits = m + 1;
    auto put = [&](unsigned code) {
        bits |= code << held;
        held += codeBits;
        while (held >= 8) {
            out.push_back(std::uint8_t(bits));
            bits >>= 8;
            held -= 8;
        }
    };
    const unsigned clear = 1u << m;
    unsigned next = clear + 2;
    std::map<std::pair<unsigned, std::uint8_t>, unsigned> dictionary;
    auto grow = [&] { // what the decoder will do on the code just written
        if (next < 4096) {
            const unsigned entry = next++;
            if (entry == (1u << codeBits) && codeBits < 12) ++codeBits;
        }
    };
    put(clear);
    unsigned w = pixels[0];
    for (std::size_t i = 1; i < pixels.size(); ++i) {
        const auto found = dictionary.find({w, pixels[i]});
        if (found != dictionary.end()) {
            w = found->second;
            continue;
        }
        put(w);
        if (next < 4096) dictionary[{w, pixels[i]}] = next;
        grow();
        w = pixels[i];
    }
    put(w);
    grow();
    put(clear + 1);
    if (held > 0) out.push_back(std::uint8_t(bits));
    return out;
}

TEST(GifLzw, DecodesFilesOfEveryCodeSizeAsGiflibDoes) {
    TempDir dir;
    const std::string base = dir.file("base.ppm");
    ASSERT_TRUE(writePpm(base, makePhotoLike(301, 203)));
    std::vector<std::string> files;
    for (int colours : {2, 3, 4, 8, 16, 32, 64, 128, 256}) {
        files.push_back(dir.file("c" + std::to_string(colours) + ".gif"));
        make("convert " + q(base) + " -dither FloydSteinberg -colors " + std::to_string(colours) +
             " " + q(files.back()));
    }
    files.push_back(dir.file("interlaced.gif"));
    make("convert " + q(base) + " -colors 200 -interlace GIF " + q(files.back()));
    files.push_back(dir.file("pillow.gif")); // Pillow interlaces by default
    make("/usr/bin/python3 -c \"from PIL import Image; Image.open('" + base +
         "').convert('P', palette=Image.ADAPTIVE).save('" + files.back() + "')\"");
    files.push_back(dir.file("gm.gif"));
    make("gm convert " + q(base) + " " + q(files.back()));
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const Frame frame = readWithGiflib(file);
        ASSERT_FALSE(frame.pixels.empty());
        int rc = -1;
        std::vector<std::uint8_t> ours = decode(frame, frame.pixels.size(), &rc);
        if (frame.interlaced) ours = deinterlaced(ours, frame.width);
        EXPECT_TRUE(ours == frame.pixels);
        EXPECT_EQ(rc, Ok);
    }
}

TEST(GifLzw, AFullTableWithoutAClearCodeKeepsDecoding) {
    std::mt19937 random(5);
    for (int m : {2, 4, 8}) {
        SCOPED_TRACE(m);
        // Noise fills the 4096 entries quickly; then a long stretch coded with the full table.
        std::vector<std::uint8_t> pixels(200000);
        for (std::size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = std::uint8_t(i < 60000 ? random() % (1u << m) : (i / 7) % (1u << m));
        Frame frame{m, encodeWithoutClears(pixels, m), {}};
        int rc = -1;
        EXPECT_EQ(decode(frame, pixels.size(), &rc), pixels);
        EXPECT_EQ(rc, Ok);
    }
}

TEST(GifLzw, DamagedStreamsAreRefusedAndExtraDataIgnored) {
    std::vector<std::uint8_t> pixels(5000);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = std::uint8_t((i * i) % 16);
    const Frame whole{4, encodeWithoutClears(pixels, 4), {}};
    int rc = -1;
    // Fewer pixels asked than coded: the first ones, Ok.
    EXPECT_EQ(decode(whole, 1234, &rc),
              std::vector<std::uint8_t>(pixels.begin(), pixels.begin() + 1234));
    EXPECT_EQ(rc, Ok);
    // More asked than coded: the end code comes first.
    decode(whole, pixels.size() + 1, &rc);
    EXPECT_EQ(rc, Corrupt);
    // Data cut short.
    Frame cut = whole;
    cut.data.resize(cut.data.size() / 2);
    decode(cut, pixels.size(), &rc);
    EXPECT_EQ(rc, Truncated);
    // A code beyond the table (all ones right after the clear code), bad code sizes.
    const Frame undefined{4, {0x10, 0xFF, 0xFF, 0xFF}, {}};
    decode(undefined, 100, &rc);
    EXPECT_EQ(rc, Corrupt);
    for (int m : {0, 12, -3, 40}) {
        const Frame bad{m, whole.data, {}};
        decode(bad, 10, &rc);
        EXPECT_EQ(rc, Corrupt) << m;
    }
    // Random bytes never run outside the buffer (the sanitizers watch) and end with a verdict.
    std::mt19937 random(9);
    for (int i = 0; i < 2000; ++i) {
        Frame noise{int(random() % 11) + 1, std::vector<std::uint8_t>(random() % 300), {}};
        for (auto& b : noise.data) b = std::uint8_t(random());
        decode(noise, random() % 5000 + 1, &rc);
        EXPECT_TRUE(rc == Ok || rc == Truncated || rc == Corrupt);
    }
}

} // namespace
} // namespace pixmoor::codec::test
