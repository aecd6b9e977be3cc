// Hostile files against every road of the codec library that a browsed folder reaches: the
// readers, the information call and the thumbnail streams. Each must fail cleanly, without
// touching memory it does not own, and without committing memory the file's data cannot fill.
#include "imaging/codec/codec.h"
#include "imaging/codec/decode.h"
#include "imaging/codec/errors.h"
#include "imaging/codec/format_table.h"
#include "imaging/codec/regular_file.h"
#include "tests/support/hostile_files.h"
#include "tests/support/test_dirs.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace pixmoor::codec {
namespace {

using pixmoor::test::TempDir;
namespace hostile = pixmoor::test::hostile;

// Counts what a decoder hands over; every byte of every row is read.
class CountingSink final : public RowSink {
public:
    bool begin(const RowLayout& layout) override {
        width = layout.width, height = layout.height, indexed = layout.palette != nullptr;
        return true;
    }
    bool row(const std::uint8_t* p) override {
        for (std::size_t i = 0; i < std::size_t(width) * (indexed ? 1 : 3); ++i) sum += p[i];
        ++rows;
        return true;
    }
    int width = 0, height = 0, rows = 0;
    bool indexed = false;
    unsigned sum = 0;
};

// The catalogue's roads: each format's reader at thumbnail size with its faster strategies
// (fastPaths false: its general road only).
int thumbnail(ImageFormat format, const std::string& file, int side, RowSink& sink,
              bool fastPaths = true) {
    DecodeOptions o;
    o.minWidth = o.minHeight = side;
    o.fastPaths = fastPaths;
    return formatEntry(format).decode(file, o, sink);
}

// Runs work in a child process and returns how many megabytes its peak resident size grew by,
// or -1 when the child did not end normally.
long peakGrowthMb(const std::function<void()>& work) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        rusage before{}, after{};
        ::getrusage(RUSAGE_SELF, &before);
        work();
        ::getrusage(RUSAGE_SELF, &after);
        const long growth = (after.ru_maxrss - before.ru_maxrss) / 1024;
        (void)!::write(fds[1], &growth, sizeof growth);
        ::_exit(0);
    }
    ::close(fds[1]);
    long growth = -1;
    if (::read(fds[0], &growth, sizeof growth) != sizeof growth) growth = -1;
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? growth : -1;
}

struct HostileFiles : ::testing::Test {
    TempDir dir;
    std::string write(const std::string& name, const hostile::Bytes& bytes) {
        const std::string path = dir.file(name);
        EXPECT_TRUE(hostile::writeFile(path, bytes));
        return path;
    }
};

TEST_F(HostileFiles, OverfullHuffmanTablesAreRefusedBeforeTheLookupIsFilled) {
    // 28 bytes with 3 codes of length 1; 200 codes would have written ~100 KB of file data.
    EXPECT_EQ(hostile::jpegOverfullHuffmanTable(3).size(), 28u);
    for (int codes : {2, 3, 200}) {
        const std::string f =
            write("x" + std::to_string(codes) + ".jpg", hostile::jpegOverfullHuffmanTable(codes));
        for (int side : {1, 140}) {
            CountingSink sink;
            EXPECT_FALSE(succeeded(thumbnail(ImageFormat::Jpeg, f, side, sink))) << codes;
            EXPECT_EQ(sink.rows, 0);
        }
        Raster r;
        EXPECT_FALSE(succeeded(readJpeg(f, 24, 8, 0, r)));
        EXPECT_TRUE(r.empty());
    }
}

TEST_F(HostileFiles, ADcTableSelectorBeyondTheFourTablesIsRefused) {
    const std::string f = write("selector.jpg", hostile::jpegDcTableSelectorOutOfRange());
    CountingSink sink;
    EXPECT_EQ(thumbnail(ImageFormat::Jpeg, f, 1, sink), Corrupt);
    Raster r;
    EXPECT_EQ(readJpeg(f, 24, 8, 0, r), Corrupt);
}

TEST_F(HostileFiles, APngClaimingAGigabyteCostsOnlyWhatItsDataHolds) {
    const hostile::Bytes bytes = hostile::pngHugeClaim();
    ASSERT_EQ(bytes.size(), 69u);
    const std::string f = write("huge.png", bytes);
    ImageInfo info;
    ASSERT_EQ(imageInfo(f, info), Ok);
    EXPECT_EQ(info.width, 16384);
    const long growth = peakGrowthMb([&] {
        for (bool whole : {true, false}) {
            CountingSink sink;
            if (thumbnail(ImageFormat::Png, f, 70, sink, whole) != Truncated) ::_exit(2);
        }
        Raster r;
        if (readPng(f, 24, 0, r) != Truncated) ::_exit(3);
    });
    ASSERT_GE(growth, 0) << "a road did not answer Truncated";
    EXPECT_LT(growth, 64) << "megabytes committed for a 69-byte file";
}

TEST_F(HostileFiles, AnRleBitmapClaimingFarMoreRowsThanItsRunsHoldIsRefusedCheaply) {
    const hostile::Bytes bytes = hostile::bmpRle8HugeClaim();
    ASSERT_LT(bytes.size(), 5000u);
    const std::string f = write("tall.bmp", bytes);
    const long growth = peakGrowthMb([&] {
        Raster r;
        if (readBmp(f, 24, 0, r) != Corrupt) ::_exit(2);
        CountingSink sink;
        if (thumbnail(ImageFormat::Bmp, f, 70, sink) != Corrupt) ::_exit(3);
    });
    ASSERT_GE(growth, 0);
    EXPECT_LT(growth, 64);

    // Sparse RLE images within the cap still read: a 1000 x 1000 picture of one run and an end
    // of bitmap marker.
    hostile::Bytes small = bytes;
    small[22] = 0xE8, small[23] = 0x03, small[24] = 0, small[25] = 0; // height 1000
    small[18] = 0xE8, small[19] = 0x03;                               // width 1000
    const std::string g = write("sparse.bmp", small);
    Raster r;
    ASSERT_EQ(readBmp(g, 8, 0, r), Ok);
    EXPECT_EQ(r.height, 1000);
}

TEST_F(HostileFiles, HeadersClaimingHugeImagesOverTinyDataCommitNoMemoryForThem) {
    // A JPEG frame, a TIFF directory and a GIF screen each claiming hundreds of megabytes over
    // a few hundred bytes of compressed data.
    const std::string jpeg = write("huge.jpg", hostile::jpegHugeClaim());
    const std::string tiff = write("huge.tif", hostile::tiffHugeClaim());
    const std::string gif = write("screen.gif", hostile::gifHugeScreen());
    ImageInfo info;
    ASSERT_EQ(imageInfo(jpeg, info), Ok);
    EXPECT_EQ(info.width, 16384);
    ASSERT_EQ(imageInfo(tiff, info), Ok);
    EXPECT_EQ(info.width, 16384);
    const long growth = peakGrowthMb([&] {
        Raster r;
        if (succeeded(readJpeg(jpeg, 24, 1, 0, r))) ::_exit(2);
        if (succeeded(readJpeg(jpeg, 24, 8, 0, r))) ::_exit(3);
        for (int side : {1, 140, 100000}) {
            CountingSink sink;
            if (succeeded(thumbnail(ImageFormat::Jpeg, jpeg, side, sink))) ::_exit(4);
        }
        if (succeeded(readTiff(tiff, 24, 0, r))) ::_exit(5);
        if (succeeded(readGif(gif, 24, 0, r))) ::_exit(6);
    });
    ASSERT_GE(growth, 0) << "a read succeeded";
    EXPECT_LT(growth, 64);
}

TEST_F(HostileFiles, OnlyRegularFilesAreOpenedWhateverTheNamePointsAt) {
    const std::string fifo = dir.file("pipe.jpg");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string fifoLink = dir.file("fifo-link.png");
    const std::string zeroLink = dir.file("zero-link.bmp");
    ASSERT_EQ(::symlink(fifo.c_str(), fifoLink.c_str()), 0);
    ASSERT_EQ(::symlink("/dev/zero", zeroLink.c_str()), 0);
    // Regular files of the kernel's pseudo file systems: /proc/kmsg (root may open it) blocks in
    // read until the kernel logs something, and none of them holds a picture.
    std::vector<std::string> files{fifo, fifoLink, zeroLink};
    for (const char* pseudo : {"/proc/kmsg", "/proc/self/status", "/sys/kernel/uevent_seqnum"}) {
        if (!isRegularFile(pseudo)) continue;
        files.push_back(dir.file(std::string("pseudo") + std::to_string(files.size()) + ".jpg"));
        ASSERT_EQ(::symlink(pseudo, files.back().c_str()), 0);
    }
    EXPECT_GT(files.size(), 3u);
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string& f = files[i];
        // Nothing may block on the FIFO (no writer ever comes) or read /dev/zero for ever.
        EXPECT_EQ(openRegularFile(f), -1) << f;
        if (i < 3) { // the kernel's files do count as regular
            EXPECT_FALSE(isRegularFile(f));
        }
        ImageInfo info;
        EXPECT_EQ(imageInfo(f, info), FileNotFound) << f;
        Raster r;
        EXPECT_EQ(readJpeg(f, 24, 1, 0, r), FileNotFound) << f;
        EXPECT_EQ(readPng(f, 24, 0, r), FileNotFound);
        EXPECT_EQ(readBmp(f, 24, 0, r), FileNotFound);
        EXPECT_EQ(readGif(f, 24, 0, r), FileNotFound);
        EXPECT_EQ(readTiff(f, 24, 0, r), FileNotFound);
        EXPECT_EQ(readPcx(f, 24, 0, r), FileNotFound);
        CountingSink sink;
        EXPECT_EQ(thumbnail(ImageFormat::Jpeg, f, 1, sink), FileNotFound);
        EXPECT_EQ(thumbnail(ImageFormat::Png, f, 70, sink), FileNotFound);
        EXPECT_EQ(thumbnail(ImageFormat::Bmp, f, 70, sink), FileNotFound);
    }
    // A link to a regular file is fine.
    const std::string real = dir.file("real.bmp");
    Raster image;
    ASSERT_EQ(allocateRaster(image, 3, 2, 24), Ok);
    ASSERT_EQ(writeBmp(real, 24, image), Ok);
    const std::string link = dir.file("link.bmp");
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
    const int fd = openRegularFile(link);
    EXPECT_GE(fd, 0);
    if (fd >= 0) {
        EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
        ::close(fd);
    }
    Raster r;
    EXPECT_EQ(readBmp(link, 24, 0, r), Ok);
}

} // namespace
} // namespace pixmoor::codec
