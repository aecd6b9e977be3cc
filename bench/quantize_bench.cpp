// Speed of the codec's own colour reduction and of its BMP and PCX decoders on a 1920 x 1080
// photograph-like picture made in process (smooth gradients with fine detail, ~200k colours).
#include "imaging/codec/codec.h"
#include "imaging/codec/errors.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

using namespace pixmoor::codec;

namespace {

const Raster& photo() {
    static const Raster image = [] {
        Raster r;
        allocateRaster(r, 1920, 1080, 24);
        for (int y = 0; y < r.height; ++y) {
            std::uint8_t* p = r.row(y);
            for (int x = 0; x < r.width; ++x, p += 3) {
                const double fx = x / 1920.0, fy = y / 1080.0;
                const double detail = 12.0 * std::sin(x * 0.31) * std::cos(y * 0.27);
                p[0] = std::uint8_t(
                    std::clamp(127.5 + 110 * std::sin(6 * fx + 2 * fy * fy) + detail, 0.0, 255.0));
                p[1] = std::uint8_t(
                    std::clamp(127.5 + 110 * std::cos(5 * fy - 3 * fx * fy) - detail, 0.0, 255.0));
                p[2] = std::uint8_t(std::clamp(
                    230 * fx * (1 - fy) + 25 * std::sin(20 * fx * fy) + detail, 0.0, 255.0));
            }
        }
        return r;
    }();
    return image;
}

// args: bits, dither
void BM_ConvertDepth(benchmark::State& state) {
    const int bits = int(state.range(0)), dither = int(state.range(1));
    for (auto _ : state) {
        state.PauseTiming();
        Raster r = photo();
        state.ResumeTiming();
        if (convertDepth(r, bits, dither) != Ok) state.SkipWithError("convertDepth failed");
        benchmark::DoNotOptimize(r.pixels.data());
    }
    state.SetItemsProcessed(state.iterations() * 1920 * 1080);
}
BENCHMARK(BM_ConvertDepth)
    ->Args({8, 1})
    ->Args({8, 0})
    ->Args({4, 1})
    ->Args({4, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond);

// A file of the photo in the given writer's format and depth, written once.
std::string fileOf(const std::string& ext, int bits) {
    const std::string name = "/tmp/pixmoor-quantize-bench-" + std::to_string(::getpid()) + "-" +
                             std::to_string(bits) + ext;
    static std::vector<std::string> made;
    if (std::find(made.begin(), made.end(), name) == made.end()) {
        const int rc =
            ext == ".bmp" ? writeBmp(name, bits, photo()) : writePcx(name, bits, photo());
        if (rc != Ok) std::fprintf(stderr, "cannot write %s: %s\n", name.c_str(), errorText(rc));
        made.push_back(name);
        static struct Cleanup {
            ~Cleanup() {
                for (const auto& f : made) std::remove(f.c_str());
            }
        } cleanup;
    }
    return name;
}

// args: file depth
void BM_ReadBmp(benchmark::State& state) {
    const std::string file = fileOf(".bmp", int(state.range(0)));
    for (auto _ : state) {
        Raster r;
        if (readBmp(file, 24, 0, r) != Ok) state.SkipWithError("readBmp failed");
        benchmark::DoNotOptimize(r.pixels.data());
    }
}
BENCHMARK(BM_ReadBmp)->Arg(24)->Arg(8)->Unit(benchmark::kMillisecond);

void BM_ReadPcx(benchmark::State& state) {
    const std::string file = fileOf(".pcx", int(state.range(0)));
    for (auto _ : state) {
        Raster r;
        if (readPcx(file, 24, 0, r) != Ok) state.SkipWithError("readPcx failed");
        benchmark::DoNotOptimize(r.pixels.data());
    }
}
BENCHMARK(BM_ReadPcx)->Arg(24)->Arg(8)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
