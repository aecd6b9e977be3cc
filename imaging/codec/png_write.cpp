// The PNG writer of the codec library over libpng: palette files of 1, 4 and 8 bits and RGB,
// interlaced on request.
#include "imaging/codec/codec.h"
#include "imaging/codec/format_io.h"
#include "imaging/codec/png_common.h"

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <new>
#include <vector>

#include <png.h>

namespace pixmoor::codec {

namespace {

// State shared with libpng's callbacks; lives in the caller's frame (see encodePng).
struct PngWriteJob : detail::PngIo {
    png_structp png;
    png_infop info;
    const Raster* in; // the raster to encode
    png_bytepp rows;  // one pointer per raster row
    int depth;        // 1, 4, 8 or 24
    int interlace;
};

void writePngData(png_structp png, png_bytep data, std::size_t length) {
    auto* job = static_cast<PngWriteJob*>(png_get_io_ptr(png));
    if (std::fwrite(data, 1, length, job->file) != length) png_error(png, "Write failed");
}

void flushPngData(png_structp) {}

// Encodes job->in. Only trivially destructible locals: libpng may longjmp back here.
int encodePng(PngWriteJob* job) {
    job->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, static_cast<detail::PngIo*>(job),
                                       detail::onPngError, detail::onPngWarning);
    if (!job->png) return OutOfMemory;
    job->info = png_create_info_struct(job->png);
    if (!job->info) {
        png_destroy_write_struct(&job->png, nullptr);
        return OutOfMemory;
    }
    if (setjmp(png_jmpbuf(job->png))) {
        png_destroy_write_struct(&job->png, &job->info);
        return std::strstr(job->message, "memory") ? OutOfMemory : WriteFailed;
    }
    png_set_write_fn(job->png, job, writePngData, flushPngData);
    // zlib's fast matcher: on photographs (where the time goes) it is three to five times
    // quicker than the default level and as small or smaller; flat graphics grow by about a tenth.
    png_set_compression_level(job->png, 3);
    const Raster& in = *job->in;
    const bool indexed = job->depth != 24;
    png_set_IHDR(job->png, job->info, png_uint_32(in.width), png_uint_32(in.height),
                 indexed ? job->depth : 8, indexed ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB,
                 job->interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (indexed) {
        png_color entries[256];
        const int count =
            int(std::min<std::size_t>(in.palette.size(), std::size_t(1) << job->depth));
        for (int i = 0; i < count; ++i)
            entries[i] = {in.palette[std::size_t(i)].r, in.palette[std::size_t(i)].g,
                          in.palette[std::size_t(i)].b};
        png_set_PLTE(job->png, job->info, entries, count);
    }
    png_write_info(job->png, job->info);
    if (indexed && job->depth < 8) png_set_packing(job->png);
    png_write_image(job->png, job->rows);
    png_write_end(job->png, job->info);
    png_destroy_write_struct(&job->png, &job->info);
    return Ok;
}

int writePngUnguarded(const std::string& file, int bits, int interlace, const Raster& in) {
    if (interlace != 0 && interlace != 1) return BadParameter;
    int rc = Ok;
    Raster scratch;
    const Raster* image = detail::rasterForDepth(in, bits, scratch, rc);
    if (!image) return rc;
    std::vector<png_bytep> rows;
    try {
        rows.resize(std::size_t(image->height));
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
    for (int y = 0; y < image->height; ++y)
        rows[std::size_t(y)] = const_cast<png_bytep>(image->row(y));

    detail::OutputFile output;
    if (const int orc = output.open(file); orc != Ok) return orc;
    PngWriteJob job{};
    job.file = output.get();
    job.in = image;
    job.rows = rows.data();
    job.depth = bits == 0 ? 4 : bits;
    job.interlace = interlace;
    rc = encodePng(&job);
    if (rc != Ok) {
        output.abandon();
        return rc;
    }
    return output.commit();
}

} // namespace

// An allocation failure anywhere inside ends as OutOfMemory: nothing throws across the interface.
int writePng(const std::string& file, int bits, int interlace, const Raster& in) {
    try {
        return writePngUnguarded(file, bits, interlace, in);
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
}

} // namespace pixmoor::codec
