// Tests of the pixmoor-codec command-line tool, run as a separate process on real files.
#include "core_test_util.h"
#include "tests/support/hostile_files.h"
#include "tests/support/test_dirs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <sstream>
#include <unistd.h>

namespace pixmoor::codec {
namespace {

using pixmoor::test::run;
using pixmoor::test::TempDir;
using test::q;

const std::string kTool = std::string(PIXMOOR_BIN_DIR) + "/pixmoor-codec";

struct Result {
    int status;
    std::string out, err;
};

struct Tool : ::testing::Test {
    TempDir dir;
    std::string source = dir.file("source.ppm");
    Raster original = test::makePhotoLike(45, 31);
    void SetUp() override { ASSERT_TRUE(test::writePpm(source, original)); }

    Result tool(const std::string& args) {
        const std::string out = dir.file("stdout.txt"), err = dir.file("stderr.txt");
        // Sanitizer reports get their own exit status, so they cannot pass for a clean failure.
        const std::string env = "ASAN_OPTIONS=\"$ASAN_OPTIONS:exitcode=86\" "
                                "UBSAN_OPTIONS=\"$UBSAN_OPTIONS:exitcode=87\" ";
        const int status = run(env + q(kTool) + " " + args + " > " + q(out) + " 2> " + q(err));
        auto text = [](const std::string& f) {
            const auto b = test::readWholeFile(f);
            return std::string(b.begin(), b.end());
        };
        return {status, text(out), text(err)};
    }
    std::string bmp(const std::string& name) {
        const std::string f = dir.file(name);
        EXPECT_EQ(writeBmp(f, 24, original), Ok);
        return f;
    }
};

TEST_F(Tool, InfoPrintsOneTabSeparatedLine) {
    const std::string f = bmp("photo with spaces 'quoted' é.bmp");
    const Result r = tool("info " + q(f));
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> fields;
    std::stringstream line(r.out);
    for (std::string field; std::getline(line, field, '\t');) fields.push_back(field);
    ASSERT_EQ(fields.size(), 8u) << r.out;
    EXPECT_EQ(fields[0], "BMP");
    EXPECT_EQ(fields[1], "45");
    EXPECT_EQ(fields[2], "31");
    EXPECT_EQ(fields[3], "24");
    EXPECT_EQ(fields[4], "0");
    EXPECT_EQ(fields[5], "1");
    EXPECT_EQ(fields[6], std::to_string(std::filesystem::file_size(f)));
    EXPECT_EQ(fields[7], "None\n");
}

TEST_F(Tool, DecodeWritesThePpmOtherToolsDecode) {
    const std::string pcx = dir.file("in.pcx");
    ASSERT_EQ(run("convert " + q(source) + " -colors 60 PCX:" + q(pcx)), 0);
    ASSERT_EQ(tool("decode " + q(pcx) + " " + q(dir.file("out.ppm"))).status, 0);
    const Raster ours = test::readPpm(dir.file("out.ppm"));
    EXPECT_EQ(test::differingPixels(ours, test::peerDecode("magick", pcx, dir.file("peer.ppm"))),
              0);

    // Reduced on the way: black and white only.
    ASSERT_EQ(
        tool("decode " + q(pcx) + " " + q(dir.file("bw.ppm")) + " --bits 1 --dither 0").status, 0);
    const Raster bw = test::readPpm(dir.file("bw.ppm"));
    ASSERT_EQ(bw.width, 45);
    for (int y = 0; y < bw.height; ++y)
        for (int x = 0; x < bw.width; ++x) {
            const Rgb c = bw.at(x, y);
            ASSERT_TRUE(c == (Rgb{0, 0, 0}) || c == (Rgb{255, 255, 255}));
        }
}

TEST_F(Tool, EncodeChoosesTheWriterByTheExtensionAndKeepsPalettes) {
    const std::string in = bmp("in.bmp");
    for (const auto& [name, format, options] :
         {std::tuple{"o.bmp", "BMP", ""},
          {"o.pcx", "PCX", "--bits 4"},
          {"o.gif", "GIF", ""},
          {"o.png", "PNG", "--interlace"},
          {"o.jpg", "JPEG", "--quality 90 --smooth 10"},
          {"o.tif", "TIFF", "--compression packbits --bits 8"},
          {"UPPER.PCX", "PCX", "--bits 0"}}) {
        SCOPED_TRACE(name);
        const Result r = tool("encode " + q(in) + " " + q(dir.file(name)) + " " + options);
        ASSERT_EQ(r.status, 0) << r.err;
        ImageInfo info;
        ASSERT_EQ(imageInfo(dir.file(name), info), Ok);
        EXPECT_EQ(info.format, format);
        EXPECT_EQ(info.width, 45);
    }
    // Without --bits a 16-colour file stays a 16-colour file with the same pixels.
    ASSERT_EQ(writeBmp(dir.file("16.bmp"), 4, original), Ok);
    ASSERT_EQ(tool("encode " + q(dir.file("16.bmp")) + " " + q(dir.file("16.pcx"))).status, 0);
    ImageInfo info;
    ASSERT_EQ(imageInfo(dir.file("16.pcx"), info), Ok);
    EXPECT_EQ(info.bitsPerPixel, 4);
    Raster a, b;
    ASSERT_EQ(readBmp(dir.file("16.bmp"), 24, 0, a), Ok);
    ASSERT_EQ(readPcx(dir.file("16.pcx"), 24, 0, b), Ok);
    EXPECT_EQ(test::differingPixels(a, b), 0);
}

TEST_F(Tool, ErrorsGiveTheLibraryTextAndStatusOne) {
    const std::string in = bmp("in.bmp");
    struct Case {
        std::string args, text;
    };
    for (const Case& c :
         {Case{"info " + q(dir.file("none.bmp")), "Cannot open the file"},
          Case{"info " + q(source), "not of the expected image format"},
          Case{"decode " + q(in) + " " + q(dir.file("no/dir/x.ppm")), "Cannot create the file"},
          Case{"encode " + q(in) + " " + q(dir.file("x.webp")), "cannot tell the output format"},
          Case{"encode " + q(in) + " " + q(dir.file("x.tif")) + " --compression ccitt --bits 8",
               "needs a black and white image"},
          Case{"decode " + q(in) + " " + q(dir.file("x.ppm")) + " --bits 7", "--bits takes"},
          Case{"decode " + q(in) + " " + q(dir.file("x.ppm")) + " --scale", "needs a value"},
          Case{"frobnicate", "unknown command"}, Case{"", "no command"}}) {
        SCOPED_TRACE(c.args);
        const Result r = tool(c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.text), std::string::npos) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.tif")));
}

TEST_F(Tool, GarbageBehindEverySignatureNeverCrashesIt) {
    std::mt19937 random(12345);
    const std::vector<std::vector<std::uint8_t>> signatures = {
        {'B', 'M'},
        {0x0A, 5, 1, 8},
        {0x0A, 5, 1, 1},
        {0xFF, 0xD8, 0xFF},
        {0x89, 'P', 'N', 'G', 13, 10, 26, 10},
        {'G', 'I', 'F', '8', '9', 'a'},
        {'I', 'I', 42, 0},
        {'M', 'M', 0, 42}};
    for (std::size_t i = 0; i < signatures.size(); ++i) {
        for (std::size_t length : {std::size_t(20), std::size_t(200), std::size_t(5000)}) {
            std::vector<std::uint8_t> bytes = signatures[i];
            while (bytes.size() < length) bytes.push_back(std::uint8_t(random()));
            const std::string f = dir.file("garbage");
            test::writeWholeFile(f, bytes);
            for (const std::string& command :
                 {"info " + q(f), "decode " + q(f) + " " + q(dir.file("g.ppm"))}) {
                const Result r = tool(command);
                EXPECT_TRUE(r.status == 0 || r.status == 1) << command << " " << i << " " << r.err;
            }
        }
    }
}

TEST_F(Tool, AFullDiskIsReportedAndLeavesNoFile) {
    if (::geteuid() != 0 || run("unshare -m true 2>/dev/null") != 0)
        GTEST_SKIP() << "needs root and mount namespaces";
    const std::string big = dir.file("big.bmp");
    ASSERT_EQ(writeBmp(big, 24, test::makePhotoLike(400, 300)), Ok); // 360 KB
    const std::string mount = dir.file("small");
    std::filesystem::create_directory(mount);
    const std::string script = "mount -t tmpfs -o size=64k tmpfs " + q(mount) + " && " + q(kTool) +
                               " encode " + q(big) + " " + q(mount + "/out.bmp") + "; s=$?; ls " +
                               q(mount) + "; exit $s";
    const std::string err = dir.file("err.txt"), out = dir.file("out.txt");
    const int status = run("unshare -m sh -c " + q(script) + " > " + q(out) + " 2> " + q(err));
    EXPECT_EQ(status, 1);
    const auto e = test::readWholeFile(err), listing = test::readWholeFile(out);
    EXPECT_NE(std::string(e.begin(), e.end()).find("Error writing the file"), std::string::npos);
    EXPECT_EQ(std::string(listing.begin(), listing.end()), ""); // the partial file was removed
}

TEST_F(Tool, HostileFilesAndLinksToSpecialFilesFailCleanly) {
    namespace hostile = pixmoor::test::hostile;
    std::vector<std::string> files;
    auto add = [&](const std::string& name, const hostile::Bytes& bytes) {
        files.push_back(dir.file(name));
        ASSERT_TRUE(hostile::writeFile(files.back(), bytes));
    };
    add("x.jpg", hostile::jpegOverfullHuffmanTable(3));
    add("y.jpg", hostile::jpegOverfullHuffmanTable(200));
    add("z.jpg", hostile::jpegDcTableSelectorOutOfRange());
    add("huge.png", hostile::pngHugeClaim());
    add("tall.bmp", hostile::bmpRle8HugeClaim());
    ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0600), 0);
    files.push_back(dir.file("fifo.png"));
    ASSERT_EQ(::symlink(dir.file("pipe").c_str(), files.back().c_str()), 0);
    files.push_back(dir.file("zero.bmp"));
    ASSERT_EQ(::symlink("/dev/zero", files.back().c_str()), 0);
    for (const std::string& f : files) {
        for (const char* scale : {"1", "8"}) {
            const Result r =
                tool("decode " + q(f) + " " + q(dir.file("out.ppm")) + " --scale " + scale);
            EXPECT_EQ(r.status, 1) << f << ": " << r.err;
            EXPECT_FALSE(r.err.empty()) << f;
        }
    }
}

} // namespace
} // namespace pixmoor::codec
