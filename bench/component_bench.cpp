// Loading through TPMultiImage (full size and the thumbnail path) against Qt's image readers
// (QImageReader, with a scaled size for the thumbnail case) on files made by ImageMagick.
#include "imaging/TMultiP.h"

#include <QApplication>
#include <QImageReader>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

std::string g_dir;

std::string file(const char* name) {
    return g_dir + "/" + name;
}

void makeFixtures() {
    char pattern[] = "/tmp/pixmoor-bench-XXXXXX";
    const char* d = mkdtemp(pattern);
    if (!d) std::abort();
    g_dir = d;
    const std::string make = "convert -size 2400x1600 -seed 3 plasma:orange-navy ";
    if (std::system((make + file("photo.png") + " >/dev/null 2>&1").c_str()) != 0 ||
        std::system(
            ("convert " + file("photo.png") + " -quality 90 " + file("photo.jpg")).c_str()) != 0 ||
        std::system(("convert " + file("photo.png") + " -depth 8 " + file("photo8.png")).c_str()) !=
            0) {
        std::fprintf(stderr, "ImageMagick's convert is needed for the fixtures\n");
        std::exit(1);
    }
}

const QSize kThumb(96, 96);

void ComponentJpegFull(benchmark::State& state) {
    pixmoor::TPMultiImage image;
    const QString name = QString::fromStdString(file("photo.jpg"));
    for (auto _ : state) {
        image.setImageName(name);
        benchmark::DoNotOptimize(image.Picture().width());
    }
}
BENCHMARK(ComponentJpegFull)->Unit(benchmark::kMillisecond);

void QtJpegFull(benchmark::State& state) {
    const QString name = QString::fromStdString(file("photo.jpg"));
    for (auto _ : state) {
        QImageReader reader(name);
        QImage image = reader.read();
        benchmark::DoNotOptimize(image.width());
    }
}
BENCHMARK(QtJpegFull)->Unit(benchmark::kMillisecond);

void ComponentJpegThumbnail(benchmark::State& state) {
    pixmoor::TPMultiImage image;
    const QString name = QString::fromStdString(file("photo.jpg"));
    for (auto _ : state) {
        image.loadForSize(name, kThumb);
        benchmark::DoNotOptimize(image.Picture().width());
    }
}
BENCHMARK(ComponentJpegThumbnail)->Unit(benchmark::kMillisecond);

void QtJpegScaledThumbnail(benchmark::State& state) {
    const QString name = QString::fromStdString(file("photo.jpg"));
    for (auto _ : state) {
        QImageReader reader(name);
        // Qt's JPEG plugin hands this to libjpeg's DCT scaling as well, then scales the rest.
        reader.setScaledSize(QSize(144, 96));
        QImage image = reader.read();
        benchmark::DoNotOptimize(image.width());
    }
}
BENCHMARK(QtJpegScaledThumbnail)->Unit(benchmark::kMillisecond);

void ComponentPngFull(benchmark::State& state) {
    pixmoor::TPMultiImage image;
    const QString name = QString::fromStdString(file("photo8.png"));
    for (auto _ : state) {
        image.setImageName(name);
        benchmark::DoNotOptimize(image.Picture().width());
    }
}
BENCHMARK(ComponentPngFull)->Unit(benchmark::kMillisecond);

void QtPngFull(benchmark::State& state) {
    const QString name = QString::fromStdString(file("photo8.png"));
    for (auto _ : state) {
        QImageReader reader(name);
        QImage image = reader.read();
        benchmark::DoNotOptimize(image.width());
    }
}
BENCHMARK(QtPngFull)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    makeFixtures();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(g_dir);
    return 0;
}
