// The fuzzers' seed files (tests/fixtures/codec/formats/<format>/) must decode, and the files the
// fuzzers once tripped over (tests/fixtures/codec/formats/regressions/) must fail or decode
// cleanly, leaving a well-formed raster.
#include "imaging/codec/codec.h"
#include "imaging/codec/decode.h"
#include "imaging/codec/errors.h"
#include "imaging/codec/formats.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace pixmoor::codec {
namespace {

namespace fs = std::filesystem;

const fs::path kCorpus = fs::path(PIXMOOR_FIXTURES) / "codec" / "formats";

int readByExtension(const fs::path& file, Raster& out, ImageInfo& info) {
    const std::string ext = file.extension().string();
    const std::string name = file.string();
    if (ext == ".jpg") {
        detail::infoJpeg(name, info);
        Raster scaled;
        readJpeg(name, 24, 8, 0, scaled);
        return readJpeg(name, 24, 1, 0, out);
    }
    if (ext == ".png") return detail::infoPng(name, info), readPng(name, 24, 0, out);
    if (ext == ".gif") return detail::infoGif(name, info), readGif(name, 24, 0, out);
    if (ext == ".tif") return detail::infoTiff(name, info), readTiff(name, 24, 0, out);
    return Unsupported;
}

void expectWellFormed(const Raster& r) {
    if (r.empty()) return;
    ASSERT_GE(r.stride, std::size_t(r.width) * (r.bits == 24 ? 3 : 1));
    ASSERT_GE(r.pixels.size(), r.stride * std::size_t(r.height));
    if (!r.indexed()) return;
    for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x) ASSERT_LT(r.row(y)[x], r.palette.size());
}

TEST(FormatCorpus, SeedFilesDecode) {
    int count = 0;
    for (const char* format : {"jpeg", "png", "gif", "tiff"}) {
        for (const auto& entry : fs::directory_iterator(kCorpus / format)) {
            SCOPED_TRACE(entry.path().string());
            Raster r;
            ImageInfo info;
            EXPECT_EQ(readByExtension(entry.path(), r, info), Ok);
            EXPECT_GT(info.width, 0);
            expectWellFormed(r);
            ++count;
        }
    }
    EXPECT_GE(count, 20);
}

TEST(FormatCorpus, RegressionFilesFailCleanly) {
    const fs::path dir = kCorpus / "regressions";
    if (!fs::exists(dir)) GTEST_SKIP() << "no regression files";
    for (const auto& entry : fs::directory_iterator(dir)) {
        SCOPED_TRACE(entry.path().string());
        Raster r;
        ImageInfo info;
        const int rc = readByExtension(entry.path(), r, info);
        if (rc != Ok) {
            EXPECT_TRUE(r.empty());
        }
        expectWellFormed(r);
        // The thumbnail road too: every row announced arrives on success, none after a failure.
        for (int side : {1, 32, 300}) {
            struct Rows : RowSink {
                int height = -1, rows = 0;
                bool begin(const RowLayout& l) override {
                    height = l.height;
                    return true;
                }
                bool row(const std::uint8_t*) override { return ++rows <= height; }
            } sink;
            DecodeOptions options;
            options.minWidth = options.minHeight = side;
            options.fastPaths = true;
            const int thumb = decodeImage(entry.path().string(), options, sink);
            if (succeeded(thumb)) {
                EXPECT_EQ(sink.rows, sink.height);
            }
        }
    }
}

} // namespace
} // namespace pixmoor::codec
