// Speed of the JPEG, PNG, GIF and TIFF readers and writers on a 2400 x 1600 photograph-like
// picture, beside plain libjpeg and libpng decode loops measured in the same run.
#include "imaging/codec/codec.h"
#include "imaging/codec/errors.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>

namespace {

using namespace pixmoor::codec;
namespace fs = std::filesystem;

// Smooth shapes with some grain, so the compressors see something like a photograph.
Raster makePicture(int width, int height) {
    Raster r;
    if (allocateRaster(r, width, height, 24) != Ok) std::abort();
    std::uint32_t seed = 12345;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* p = r.row(y);
        for (int x = 0; x < width; ++x, p += 3) {
            seed = seed * 1664525u + 1013904223u;
            const int grain = int(seed >> 28) - 8;
            const double fx = double(x) / width, fy = double(y) / height;
            const double v[3] = {127 + 110 * std::sin(7 * fx + 3 * fy * fy),
                                 127 + 110 * std::cos(5 * fy - 4 * fx * fy),
                                 127 + 100 * std::sin(11 * fx * fy) * std::cos(3 * fx)};
            for (int c = 0; c < 3; ++c) p[c] = std::uint8_t(std::clamp(int(v[c]) + grain, 0, 255));
        }
    }
    return r;
}

struct Files {
    fs::path dir;
    Raster picture;
    std::string jpeg, png, pngPalette, gif, tiffLzw, tiffNone;

    Files() {
        char pattern[] = "/tmp/pixmoor-bench-XXXXXX";
        if (!mkdtemp(pattern)) std::abort();
        dir = pattern;
        picture = makePicture(2400, 1600);
        jpeg = (dir / "photo.jpg").string();
        png = (dir / "photo.png").string();
        pngPalette = (dir / "palette.png").string();
        gif = (dir / "photo.gif").string();
        tiffLzw = (dir / "lzw.tif").string();
        tiffNone = (dir / "none.tif").string();
        if (writeJpeg(jpeg, 90, 0, 24, picture) != Ok || writePng(png, 24, 0, picture) != Ok ||
            writePng(pngPalette, 8, 0, picture) != Ok || writeGif(gif, 8, picture) != Ok ||
            writeTiff(tiffLzw, TiffLzw, 24, picture) != Ok ||
            writeTiff(tiffNone, TiffNone, 24, picture) != Ok)
            std::abort();
    }
    ~Files() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

Files& files() {
    static Files f;
    return f;
}

void BM_ReadJpeg(benchmark::State& state) {
    const int scale = int(state.range(0));
    for (auto _ : state) {
        Raster r;
        if (readJpeg(files().jpeg, 24, scale, 0, r) != Ok) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(r.pixels.data());
    }
}
BENCHMARK(BM_ReadJpeg)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond);

// libjpeg on its own: the floor our reader is measured against.
struct PlainJpegError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

bool plainJpegDecode(const char* file, int scale, std::vector<std::uint8_t>* image) {
    std::FILE* f = std::fopen(file, "rb");
    if (!f) return false;
    jpeg_decompress_struct cinfo{};
    PlainJpegError err{};
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = [](j_common_ptr c) {
        std::longjmp(reinterpret_cast<PlainJpegError*>(c->err)->jump, 1);
    };
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        std::fclose(f);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, f);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_EXT_RGB;
    cinfo.scale_num = 1;
    cinfo.scale_denom = unsigned(scale);
    jpeg_start_decompress(&cinfo);
    const std::size_t stride = std::size_t(cinfo.output_width) * 3;
    image->resize(stride * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = image->data() + stride * cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(f);
    return true;
}

void BM_PeerLibjpeg(benchmark::State& state) {
    const int scale = int(state.range(0));
    for (auto _ : state) {
        std::vector<std::uint8_t> image;
        if (!plainJpegDecode(files().jpeg.c_str(), scale, &image)) state.SkipWithError("failed");
        benchmark::DoNotOptimize(image.data());
    }
}
BENCHMARK(BM_PeerLibjpeg)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond);

void BM_ReadPng(benchmark::State& state) {
    const std::string& file = state.range(0) ? files().pngPalette : files().png;
    for (auto _ : state) {
        Raster r;
        if (readPng(file, 24, 0, r) != Ok) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(r.pixels.data());
    }
}
BENCHMARK(BM_ReadPng)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// libpng's simplified API into an RGB buffer: the floor for the PNG reader.
void BM_PeerLibpng(benchmark::State& state) {
    for (auto _ : state) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        if (!png_image_begin_read_from_file(&image, files().png.c_str())) {
            state.SkipWithError("failed");
            break;
        }
        image.format = PNG_FORMAT_RGB;
        std::vector<std::uint8_t> buffer(PNG_IMAGE_SIZE(image));
        if (!png_image_finish_read(&image, nullptr, buffer.data(), 0, nullptr))
            state.SkipWithError("failed");
        png_image_free(&image);
        benchmark::DoNotOptimize(buffer.data());
    }
}
BENCHMARK(BM_PeerLibpng)->Unit(benchmark::kMillisecond);

void BM_ReadGif(benchmark::State& state) {
    for (auto _ : state) {
        Raster r;
        if (readGif(files().gif, 8, 0, r) != Ok) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(r.pixels.data());
    }
}
BENCHMARK(BM_ReadGif)->Unit(benchmark::kMillisecond);

void BM_ReadTiff(benchmark::State& state) {
    const std::string& file = state.range(0) ? files().tiffLzw : files().tiffNone;
    for (auto _ : state) {
        Raster r;
        if (readTiff(file, 24, 0, r) != Ok) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(r.pixels.data());
    }
}
BENCHMARK(BM_ReadTiff)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_WriteJpeg(benchmark::State& state) {
    const std::string out = (files().dir / "out.jpg").string();
    for (auto _ : state)
        if (writeJpeg(out, 90, int(state.range(0)), 24, files().picture) != Ok)
            state.SkipWithError("encode failed");
}
BENCHMARK(BM_WriteJpeg)->Arg(0)->Arg(30)->Unit(benchmark::kMillisecond);

void BM_WritePng(benchmark::State& state) {
    const std::string out = (files().dir / "out.png").string();
    for (auto _ : state)
        if (writePng(out, 24, int(state.range(0)), files().picture) != Ok)
            state.SkipWithError("encode failed");
}
BENCHMARK(BM_WritePng)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_WriteTiff(benchmark::State& state) {
    const std::string out = (files().dir / "out.tif").string();
    for (auto _ : state)
        if (writeTiff(out, int(state.range(0)), 24, files().picture) != Ok)
            state.SkipWithError("encode failed");
}
BENCHMARK(BM_WriteTiff)
    ->Arg(TiffNone)
    ->Arg(TiffLzw)
    ->Arg(TiffPackBits)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    files(); // the test files are made before anything is timed
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
