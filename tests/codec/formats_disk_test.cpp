// The JPEG, PNG, GIF and TIFF writers on a device that is full and on a file system that fills up
// half-way: each reports WriteFailed, leaves no partial file behind and never removes a device.
#include "imaging/codec/codec.h"
#include "imaging/codec/errors.h"
#include "tests/codec/format_test_util.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace pixmoor::codec::test {
namespace {

namespace fs = std::filesystem;

// Random indices into a random palette: no compressor can shrink it much, and the GIF writer
// needs no colour reduction.
Raster makeNoise(int width, int height) {
    Raster r;
    allocateRaster(r, width, height, 8);
    std::uint32_t seed = 99;
    auto next = [&] { return seed = seed * 1103515245u + 12345u, std::uint8_t(seed >> 23); };
    for (int i = 0; i < 256; ++i) r.palette.push_back({next(), next(), next()});
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) r.row(y)[x] = next();
    return r;
}

struct Writer {
    const char* name;
    std::function<int(const std::string&, const Raster&)> write;
};

const Writer kWriters[] = {
    {"jpg", [](const std::string& f, const Raster& r) { return writeJpeg(f, 100, 0, 24, r); }},
    {"png", [](const std::string& f, const Raster& r) { return writePng(f, 24, 0, r); }},
    {"gif", [](const std::string& f, const Raster& r) { return writeGif(f, 8, r); }},
    {"tif", [](const std::string& f, const Raster& r) { return writeTiff(f, TiffLzw, 24, r); }},
};

TEST(FormatWriters, FullDeviceFailsAndStays) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    const Raster noise = makeNoise(300, 200);
    for (const Writer& w : kWriters) {
        SCOPED_TRACE(w.name);
        EXPECT_EQ(w.write("/dev/full", noise), WriteFailed);
        struct stat st {};
        ASSERT_EQ(::stat("/dev/full", &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode));
    }
}

// Runs inside a private mount namespace on a 256 KiB tmpfs (see the next test).
TEST(FormatWriters, FullFileSystemLeavesNoPartialFile) {
    const char* dir = std::getenv("PIXMOOR_FULL_DIR");
    if (!dir) {
        if (::geteuid() != 0 || !pixmoor::test::haveProgram("unshare"))
            GTEST_SKIP() << "needs root and unshare for a private tmpfs";
        char self[PATH_MAX] = {};
        const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
        ASSERT_GT(n, 0);
        pixmoor::test::TempDir mountPoint;
        const std::string inner =
            "mount -t tmpfs -o size=256k tmpfs " + q(mountPoint.path().string()) +
            " && PIXMOOR_FULL_DIR=" + q(mountPoint.path().string()) + " exec " + q(self) +
            " --gtest_filter=FormatWriters.FullFileSystemLeavesNoPartialFile";
        const int status = pixmoor::test::run("unshare -m sh -c " + q(inner) + " >/dev/null 2>&1");
        if (status == 32 || status == 1) {
            // mount or unshare refused (no privilege in this container): nothing to test here
            if (pixmoor::test::run("unshare -m true 2>/dev/null") != 0)
                GTEST_SKIP() << "unshare refused";
        }
        EXPECT_EQ(status, 0) << "the writers misbehaved on a full file system";
        return;
    }
    const Raster noise = makeNoise(600, 600);
    const Raster small = makeBlocks(20, 20);
    for (const Writer& w : kWriters) {
        SCOPED_TRACE(w.name);
        const std::string big = std::string(dir) + "/big." + w.name;
        EXPECT_EQ(w.write(big, noise), WriteFailed);
        EXPECT_FALSE(fs::exists(big));
        // The space is free again for a small file.
        const std::string fits = std::string(dir) + "/small." + w.name;
        EXPECT_EQ(w.write(fits, small), Ok);
        EXPECT_TRUE(fs::exists(fits));
        fs::remove(fits);
    }
}

} // namespace
} // namespace pixmoor::codec::test
