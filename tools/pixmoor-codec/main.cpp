// pixmoor-codec: the codec library from the shell. Prints image information, decodes any supported
// file to binary PPM, and converts between formats with the library's own readers and writers.
#include "imaging/codec/codec.h"
#include "imaging/codec/errors.h"
#include "imaging/codec/format_io.h"
#include "imaging/codec/format_table.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace pixmoor::codec;

namespace {

constexpr const char* kUsage =
    "usage:\n"
    "  pixmoor-codec info FILE\n"
    "  pixmoor-codec decode FILE OUT.ppm [--bits N] [--dither 0|1] [--scale 1|2|4|8]\n"
    "  pixmoor-codec encode IN OUT [--bits N] [--dither 0|1] [--quality Q] [--smooth S]\n"
    "                       [--interlace] [--compression none|ccitt|lzw|packbits]\n"
    "N is 0 (VGA palette), 1, 4, 8 or 24; OUT's extension (.bmp .gif .jpg .pcx .png .tif) picks\n"
    "the format written.\n";

int usage(const std::string& problem) {
    std::fprintf(stderr, "pixmoor-codec: %s\n%s", problem.c_str(), kUsage);
    return 1;
}

int failed(int code, const std::string& file) {
    std::fprintf(stderr, "pixmoor-codec: %s: %s\n", file.c_str(), errorText(code));
    return 1;
}

std::optional<int> toInt(const std::string& s) {
    if (s.empty() || s.size() > 9) return std::nullopt;
    std::size_t i = s[0] == '-' ? 1 : 0;
    if (i == s.size()) return std::nullopt;
    for (std::size_t k = i; k < s.size(); ++k)
        if (!std::isdigit(static_cast<unsigned char>(s[k]))) return std::nullopt;
    return std::stoi(s);
}

struct Options {
    std::vector<std::string> files;
    std::optional<int> bits;
    int dither = 1;
    int scale = 1;
    int quality = 75;
    int smooth = 0;
    int interlace = 0;
    int compression = TiffNone;
};

// Parses the positional files and options; returns an error text, empty when all is well.
std::string parse(const std::vector<std::string>& args, const std::vector<std::string>& allowed,
                  Options& o) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() < 2 || a.compare(0, 2, "--") != 0 || a == "--") {
            o.files.push_back(a);
            continue;
        }
        if (std::find(allowed.begin(), allowed.end(), a) == allowed.end())
            return "unknown option " + a;
        if (a == "--interlace") {
            o.interlace = 1;
            continue;
        }
        if (i + 1 >= args.size()) return a + " needs a value";
        const std::string v = args[++i];
        if (a == "--compression") {
            static const std::map<std::string, int> codes = {{"none", TiffNone},
                                                             {"ccitt", TiffCcitt},
                                                             {"lzw", TiffLzw},
                                                             {"packbits", TiffPackBits}};
            const auto it = codes.find(v);
            if (it == codes.end()) return "--compression takes none, ccitt, lzw or packbits";
            o.compression = it->second;
            continue;
        }
        const std::optional<int> n = toInt(v);
        if (!n) return a + " takes a number, not \"" + v + "\"";
        if (a == "--bits") {
            if (*n != 0 && *n != 1 && *n != 4 && *n != 8 && *n != 24)
                return "--bits takes 0, 1, 4, 8 or 24";
            o.bits = *n;
        } else if (a == "--dither") {
            if (*n != 0 && *n != 1) return "--dither takes 0 or 1";
            o.dither = *n;
        } else if (a == "--scale") {
            if (*n != 1 && *n != 2 && *n != 4 && *n != 8) return "--scale takes 1, 2, 4 or 8";
            o.scale = *n;
        } else if (a == "--quality") {
            if (*n < 1 || *n > 100) return "--quality takes 1 to 100";
            o.quality = *n;
        } else if (a == "--smooth") {
            if (*n < 0 || *n > 100) return "--smooth takes 0 to 100";
            o.smooth = *n;
        }
    }
    return {};
}

int info(const std::string& file) {
    ImageInfo i;
    const int rc = imageInfo(file, i);
    if (!succeeded(rc)) return failed(rc, file);
    struct stat st {};
    const long long size = ::stat(file.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
    std::printf("%s\t%d\t%d\t%d\t%d\t%d\t%lld\t%s\n", i.format.c_str(), i.width, i.height,
                i.bitsPerPixel, i.colours, i.pages, size, i.detail.c_str());
    return std::fflush(stdout) == 0 ? 0 : 1;
}

int writePpm(const std::string& file, const Raster& image) {
    detail::OutputFile out;
    if (const int rc = out.open(file); rc != Ok) return rc;
    std::setvbuf(out.get(), nullptr, _IOFBF, 1 << 20); // a few large writes rather than a row each
    const std::string header =
        "P6\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n255\n";
    if (std::fwrite(header.data(), 1, header.size(), out.get()) != header.size())
        return WriteFailed;
    const std::size_t rowBytes = std::size_t(image.width) * 3;
    std::vector<std::uint8_t> row(image.bits == 24 ? 0 : rowBytes);
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* p = image.row(y);
        if (image.bits != 24) {
            for (int x = 0; x < image.width; ++x) {
                const Rgb c = p[x] < image.palette.size() ? image.palette[p[x]] : Rgb{};
                row[3 * std::size_t(x)] = c.r, row[3 * std::size_t(x) + 1] = c.g,
                        row[3 * std::size_t(x) + 2] = c.b;
            }
            p = row.data();
        }
        if (std::fwrite(p, 1, rowBytes, out.get()) != rowBytes) return WriteFailed;
    }
    return out.commit();
}

// The depth to keep when none is asked: the source's own, so palettes survive a conversion.
int naturalDepth(const std::string& file) {
    ImageInfo i;
    if (!succeeded(imageInfo(file, i)) || i.bitsPerPixel > 8 || i.bitsPerPixel <= 0) return 24;
    return i.bitsPerPixel == 1 ? 1 : (i.bitsPerPixel <= 4 ? 4 : 8);
}

int decode(const Options& o) {
    if (o.files.size() != 2) return usage("decode takes a file and an output file");
    // Without --bits a format whose read at its own depth gives the same pixels as 24 bits (a
    // palette that fits is kept) is read so and expanded while writing, which saves a full-size
    // copy. Other formats may blend transparency into more colours than their palette holds.
    int bits = 24;
    if (o.bits) {
        bits = *o.bits;
    } else {
        int rc = Ok;
        const FormatEntry* format = formatOfFile(o.files[0], rc);
        if (format && format->exactAtOwnDepth) bits = naturalDepth(o.files[0]);
    }
    Raster image;
    int rc = readImage(o.files[0], bits, o.scale, o.dither, image);
    if (!succeeded(rc)) return failed(rc, o.files[0]);
    rc = writePpm(o.files[1], image);
    if (!succeeded(rc)) return failed(rc, o.files[1]);
    return 0;
}

std::string lowerExtension(const std::string& file) {
    const std::size_t slash = file.find_last_of('/');
    const std::size_t dot = file.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string e = file.substr(dot);
    for (char& c : e) c = char(std::tolower(static_cast<unsigned char>(c)));
    return e;
}

int encode(const Options& o) {
    if (o.files.size() != 2) return usage("encode takes an input file and an output file");
    const std::string& in = o.files[0];
    const std::string& outFile = o.files[1];
    const std::string ext = lowerExtension(outFile);
    const FormatEntry* format = formatForExtension(ext);
    if (!format)
        return usage("cannot tell the output format from \"" + outFile +
                     "\": use .bmp, .gif, .jpg, .pcx, .png or .tif");
    // A writer that reduces the picture itself (JPEG takes true colour, or grey from it) gets
    // the depth it wants; the others the depth they will store (GIF holds at most 256 colours).
    const int inputBits = format->writerInputDepth;
    const int bits = o.bits.value_or(inputBits != 0 ? inputBits : naturalDepth(in));
    const int readBits = inputBits != 0 ? inputBits : storedDepth(*format, bits);
    Raster image;
    int rc = readImage(in, readBits, 1, o.dither, image);
    if (!succeeded(rc)) return failed(rc, in);
    WriteOptions options;
    options.bits = bits;
    options.quality = o.quality;
    options.smoothing = o.smooth;
    options.interlace = o.interlace;
    options.compression = o.compression;
    rc = format->write(outFile, options, image);
    if (!succeeded(rc)) return failed(rc, outFile);
    return 0;
}

int runCommand(int argc, char** argv) {
    if (argc < 2) return usage("no command given");
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    Options o;
    std::string problem;
    if (command == "info") {
        problem = parse(args, {}, o);
        if (problem.empty() && o.files.size() != 1) problem = "info takes one file";
        if (!problem.empty()) return usage(problem);
        return info(o.files[0]);
    }
    if (command == "decode") {
        problem = parse(args, {"--bits", "--dither", "--scale"}, o);
        return problem.empty() ? decode(o) : usage(problem);
    }
    if (command == "encode") {
        problem = parse(
            args, {"--bits", "--dither", "--quality", "--smooth", "--interlace", "--compression"},
            o);
        return problem.empty() ? encode(o) : usage(problem);
    }
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    return usage("unknown command \"" + command + "\"");
}

} // namespace

int main(int argc, char** argv) {
    try {
        return runCommand(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pixmoor-codec: %s\n", e.what());
        return 1;
    }
}
