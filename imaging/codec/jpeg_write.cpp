// The JPEG writer of the codec library over libjpeg-turbo: quality, smoothing, and grayscale
// when one bit is asked.
#include "imaging/codec/codec.h"
#include "imaging/codec/format_io.h"
#include "imaging/codec/jpeg_errors.h"

#include <cstring>
#include <memory>
#include <vector>

#include <jpeglib.h>

namespace pixmoor::codec {

namespace {

using detail::JpegError;

struct JpegEncodeJob {
    jpeg_compress_struct cinfo;
    JpegError err;
    std::FILE* file;
    const Raster* in;
    bool gray;
    int quality;
    int smoothing;
    std::uint8_t* rowBuffer;    // width * 3 bytes, for rows that need converting
    const std::uint8_t* lookup; // palette index -> R, G, B (3 * 256) or luminance (256)
};

inline std::uint8_t luminance(unsigned r, unsigned g, unsigned b) {
    return std::uint8_t((77 * r + 150 * g + 29 * b + 128) >> 8);
}

// Encodes job->in. Only trivially destructible locals: libjpeg may longjmp back here.
int encodeJpeg(JpegEncodeJob* job) {
    jpeg_compress_struct* cinfo = &job->cinfo;
    std::memset(cinfo, 0, sizeof *cinfo);
    detail::installJpegErrorManager(job->err);
    cinfo->err = &job->err.pub;
    if (setjmp(job->err.jump)) {
        jpeg_destroy_compress(cinfo);
        return job->err.result;
    }
    jpeg_create_compress(cinfo);
    jpeg_stdio_dest(cinfo, job->file);
    const Raster& in = *job->in;
    cinfo->image_width = JDIMENSION(in.width);
    cinfo->image_height = JDIMENSION(in.height);
    cinfo->input_components = job->gray ? 1 : 3;
    cinfo->in_color_space = job->gray ? JCS_GRAYSCALE : JCS_EXT_RGB;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, job->quality, TRUE);
    cinfo->smoothing_factor = job->smoothing;
    jpeg_start_compress(cinfo, TRUE);

    const int width = in.width;
    while (cinfo->next_scanline < cinfo->image_height) {
        const std::uint8_t* src = in.row(int(cinfo->next_scanline));
        JSAMPROW row = job->rowBuffer;
        if (job->gray) {
            if (in.bits == 24) {
                for (int x = 0; x < width; ++x)
                    row[x] = luminance(src[3 * x], src[3 * x + 1], src[3 * x + 2]);
            } else {
                for (int x = 0; x < width; ++x) row[x] = job->lookup[src[x]];
            }
        } else if (in.bits == 24) {
            row = const_cast<JSAMPROW>(src); // libjpeg only reads its input rows
        } else {
            for (int x = 0; x < width; ++x) std::memcpy(row + 3 * x, job->lookup + 3 * src[x], 3);
        }
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
    jpeg_destroy_compress(cinfo);
    return Ok;
}

int writeJpegUnguarded(const std::string& file, int quality, int smoothing, int bits,
                       const Raster& in) {
    if (!detail::validDepth(bits)) return BadDepth;
    if (quality < 1 || quality > 100 || smoothing < 0 || smoothing > 100) return BadParameter;
    int rc = Ok;
    Raster scratch;
    // Any depth but 1 is written in colour; the raster is only validated here, not reduced.
    const Raster* image = detail::rasterForDepth(in, in.bits == 24 ? 24 : 8, scratch, rc);
    if (!image) return rc;
    if (image->width > JPEG_MAX_DIMENSION || image->height > JPEG_MAX_DIMENSION) return TooLarge;

    const bool gray = bits == 1;
    std::vector<std::uint8_t> rowBuffer, lookup;
    try {
        rowBuffer.resize(std::size_t(image->width) * 3);
        if (image->indexed()) {
            lookup.assign(gray ? 256 : 3 * 256, 0);
            for (std::size_t i = 0; i < image->palette.size() && i < 256; ++i) {
                const Rgb c = image->palette[i];
                if (gray) {
                    lookup[i] = luminance(c.r, c.g, c.b);
                } else {
                    lookup[3 * i] = c.r;
                    lookup[3 * i + 1] = c.g;
                    lookup[3 * i + 2] = c.b;
                }
            }
        }
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }

    detail::OutputFile output;
    if (const int orc = output.open(file); orc != Ok) return orc;
    auto job = std::make_unique<JpegEncodeJob>();
    job->file = output.get();
    job->in = image;
    job->gray = gray;
    job->quality = quality;
    job->smoothing = smoothing;
    job->rowBuffer = rowBuffer.data();
    job->lookup = lookup.data();
    rc = encodeJpeg(job.get());
    if (rc != Ok) {
        output.abandon();
        return rc;
    }
    return output.commit();
}

} // namespace

// An allocation failure anywhere inside ends as OutOfMemory: nothing throws across the interface.
int writeJpeg(const std::string& file, int quality, int smoothing, int bits, const Raster& in) {
    try {
        return writeJpegUnguarded(file, quality, smoothing, bits, in);
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
}

} // namespace pixmoor::codec
