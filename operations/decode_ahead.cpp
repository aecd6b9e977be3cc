// Decoding and encoding ahead for conversion (see decode_ahead.h): the per-file work run by the
// prefetcher.
#include "operations/decode_ahead.h"

#include "imaging/codec/errors.h"
#include "imaging/codec/format_table.h"
#include "imaging/file_types.h"
#include "imaging/raster_image.h"
#include "platform/file_name.h"
#include "platform/file_stamp.h"

#include <system_error>
#include <vector>

namespace pixmoor {

namespace {

// A decode made ahead, with the state of the file it was read from.
struct Decoded {
    AheadDecode decode;
    FileStamp stamp;
};

// One file of the run: where it is, and its reader (none: not decoded ahead).
struct Source {
    std::string path; // absolute, in the file system's bytes
    std::optional<codec::ImageFormat> format;
};

// The picture encoded as the component's save encodes it (imageToRaster of the picture): for a
// true-colour decode that raster holds the decode's own rows, so the decode is encoded as it
// stands, before it becomes the picture; an indexed one is encoded from the picture.
std::optional<codec::EncodedImage> encode(const codec::Raster& raster,
                                          const AheadEncoding& encoding) {
    codec::EncodedImage bytes;
    if (!codec::succeeded(codec::encodeImage(encoding.format, encoding.options, raster, bytes)))
        return std::nullopt; // the save reports it in its words
    return bytes;
}

// The component's decode, the readers taking their quicker roads to the same picture, and its
// encoding. Nothing for a file that is missing, fails (the component's own load reports it in its
// words) or changed while it was read (it is read again when its turn comes).
std::any decode(const Source& source, int bits, int dither,
                const std::optional<AheadEncoding>& encoding, const std::atomic<bool>& cancel) {
    if (!source.format) return {};
    const std::optional<FileStamp> before = fileStamp(source.path);
    if (!before) return {};
    Decoded out;
    codec::Raster raster;
    out.decode.result = codec::readFullSizeFast(*source.format, source.path, bits, dither, raster);
    if (!codec::succeeded(out.decode.result)) return {};
    if (fileStamp(source.path) != before) return {};
    out.stamp = *before;
    const bool encodeNow = encoding && !raster.empty() && !cancel.load();
    const bool indexed = raster.indexed();
    if (encodeNow && raster.bits == 24) out.decode.encoded = encode(raster, *encoding);
    out.decode.image = rasterToImage(std::move(raster));
    if (encodeNow && indexed && !out.decode.image.isNull())
        out.decode.encoded = encode(imageToRaster(out.decode.image), *encoding);
    return std::make_shared<Decoded>(std::move(out));
}

} // namespace

DecodeAhead::DecodeAhead(const QString& directory, const QStringList& names, int bits, int dither,
                         std::optional<AheadEncoding> encoding, int workers, int lookAhead) {
    const QString dir = directory.endsWith(QLatin1Char('/')) ? directory : directory + '/';
    std::vector<Source> sources;
    for (const QString& name : names) {
        sources.push_back({pixmoor::nativePath(dir + name), codecFormatOf(name)});
    }
    paths_.reserve(sources.size());
    for (const Source& source : sources) paths_.push_back(source.path);
    Prefetcher::Settings settings;
    settings.workers = workers;
    settings.lookAhead = lookAhead;
    settings.waitSlice = std::chrono::milliseconds(kWaitSliceMs);
    const int count = int(sources.size());
    // The work owns the list: a worker left behind in a read still uses it.
    prefetcher_ = std::make_unique<Prefetcher>(
        count,
        [sources = std::move(sources), bits, dither,
         encoding = std::move(encoding)](int k, const std::atomic<bool>& cancel) {
            return decode(sources[std::size_t(k)], bits, dither, encoding, cancel);
        },
        settings);
    if (prefetcher_->workerCount() == 0)
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}

DecodeAhead::~DecodeAhead() = default;

std::optional<AheadDecode> DecodeAhead::take(int k, const std::function<void()>& pump) {
    Prefetcher::Taken taken = prefetcher_->take(k, pump);
    if (taken.outcome == Prefetcher::Outcome::Blocked) {
        AheadDecode blocked;
        blocked.result = codec::ReadFailed;
        blocked.blocked = true;
        return blocked;
    }
    if (taken.outcome != Prefetcher::Outcome::Ready) return std::nullopt;
    const auto decoded = std::any_cast<std::shared_ptr<Decoded>>(std::move(taken.value));
    // Our own saves replace files by renaming: a file written since it was decoded (a conversion
    // onto a later item's name) is read again, as it would have been without decoding ahead.
    if (fileStamp(paths_[std::size_t(k)]) != decoded->stamp) return std::nullopt;
    return std::move(decoded->decode);
}

} // namespace pixmoor
