// The thumbnail pipeline: per-file thumbnails (each format's reader streaming its rows, reduced
// in size where the format allows, into the area downscaler) and the worker threads that make
// them ahead of the catalogue build.
#include "catalogue/thumbnail_pipeline.h"

#include "catalogue/downscale.h"
#include "catalogue/thumbnail_cache.h"
#include "catalogue/thumbnail_remaker.h"
#include "imaging/codec/codec.h"
#include "imaging/codec/decode.h"
#include "imaging/codec/errors.h"
#include "imaging/codec/format_table.h"
#include "imaging/file_types.h"
#include "imaging/prefetcher.h"
#include "platform/file_name.h"
#include "platform/file_stamp.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QThread>

#include <algorithm>
#include <any>
#include <array>
#include <chrono>
#include <cstring>

namespace pixmoor {

namespace {

bool cancelledNow(const std::atomic<bool>* cancel) {
    return cancel && cancel->load(std::memory_order_relaxed);
}

// Receives a streamed image: area-averages it on the fly when it shrinks to the thumbnail, or
// keeps it (it is then no larger than the thumbnail in some direction) for smooth enlarging.
//
// It may also make a cache entry from the same rows: a second downscaler to the entry's size,
// the size class chosen once the decoded size is known (see CacheCapture).
//
// A picture stored turned arrives as stored: it is reduced to the thumbnail's (and the entry's)
// size with the sides swapped where a quarter turn swaps them, and only the small results are
// turned upright. The area average does not depend on the direction in which the pixels are
// walked, so this gives the same pixels as reducing the upright picture.
class ThumbnailSink final : public codec::RowSink {
public:
    // What to make for the cache besides the thumbnail.
    struct CacheCapture {
        QSize original;         // the image's own size; empty: the decoded size is the original
        std::uint32_t skip = 0; // bit i: class i already holds a valid entry
        int firstLevel = 0;     // the smallest class fitting the thumbnail
        // Chosen in begin(): the class written (-1 none) and the entry's size.
        int level = -1;
        QSize entry;
        // The original as it is upright.
        QSize upright;
    };

    ThumbnailSink(QSize target, const std::atomic<bool>* cancel, CacheCapture* capture = nullptr)
        : target_(target), cancel_(cancel), capture_(capture) {}

    bool turnsItself(int orientation) override {
        orientation_ = orientation >= 1 && orientation <= 8 ? orientation : 1;
        return true;
    }

    bool begin(const codec::RowLayout& layout) override {
        const int width = layout.width, height = layout.height;
        const bool swapped = orientation_ >= 5; // a quarter turn
        const QSize upright = swapped ? QSize(height, width) : QSize(width, height);
        try {
            indexed_ = layout.palette != nullptr;
            bgr_ = !indexed_ && layout.bgr;
            palette_.fill(codec::Rgb{});
            if (indexed_)
                std::copy_n(layout.palette, std::clamp(layout.paletteSize, 0, 256),
                            palette_.begin());
            if (capture_) chooseEntry(upright, swapped);
            if (fromEntry_) {
                // The thumbnail is made from the entry: one pass over the rows, not two, and
                // the first visit shows what every later visit will.
            } else if (AreaDownscaler::fits(upright.width(), upright.height(), target_)) {
                scaler_ = std::make_unique<AreaDownscaler>(
                    width, height, swapped ? target_.transposed() : target_, bgr_);
            } else {
                kept_ = QImage(width, height,
                               indexed_ ? QImage::Format_Indexed8 : QImage::Format_RGB888);
                if (kept_.isNull()) return false;
                if (indexed_) {
                    QList<QRgb> table(256);
                    for (int i = 0; i < 256; ++i)
                        table[i] = qRgb(palette_[std::size_t(i)].r, palette_[std::size_t(i)].g,
                                        palette_[std::size_t(i)].b);
                    kept_.setColorTable(table);
                }
            }
            rowBytes_ = std::size_t(width) * (indexed_ ? 1 : 3);
            height_ = height;
            return !cancelledNow(cancel_);
        } catch (...) {
            return false;
        }
    }

    // Never throws: it is called between libjpeg's and libpng's calls, whose state an exception
    // would skip past; running out of memory stops the stream instead.
    bool row(const std::uint8_t* pixels) override {
        if (cancelledNow(cancel_)) return false;
        try {
            if (scaler_) {
                if (indexed_)
                    scaler_->addIndexedRow(pixels, palette_.data());
                else
                    scaler_->addRgbRow(pixels);
            } else if (!fromEntry_ && y_ < height_) {
                std::uint8_t* line = kept_.scanLine(y_);
                std::memcpy(line, pixels, rowBytes_);
                if (bgr_)
                    for (std::size_t x = 0; x < rowBytes_; x += 3) std::swap(line[x], line[x + 2]);
            }
            if (entryScaler_) {
                if (indexed_)
                    entryScaler_->addIndexedRow(pixels, palette_.data());
                else
                    entryScaler_->addRgbRow(pixels);
            }
        } catch (...) {
            return false;
        }
        ++y_;
        return true;
    }

    bool keepGoing() override { return !cancelledNow(cancel_); }

    std::optional<QImage> result() {
        if (y_ != height_) return std::nullopt;
        QImage out = fromEntry_ ? scaleToThumbnail(entry(), target_)
                     : scaler_  ? uprightImage(scaler_->result(), orientation_)
                                : scaleToThumbnail(uprightImage(kept_, orientation_), target_);
        if (out.isNull()) return std::nullopt;
        return out;
    }

    // The cache entry made from the same rows, null when none was chosen or the image was not
    // complete.
    QImage entry() {
        if (!entryScaler_ || y_ != height_) return {};
        if (entry_.isNull()) entry_ = uprightImage(entryScaler_->result(), orientation_);
        return entry_;
    }

private:
    // Picks the class to write: the first without a valid entry whose entry would give this
    // thumbnail, else the thumbnail's own class for the other programs sharing the cache; only
    // when the decoded picture holds the entry's pixels. `decoded` is the decoded size upright.
    void chooseEntry(QSize decoded, bool swapped) {
        CacheCapture& c = *capture_;
        const int width = decoded.width(), height = decoded.height();
        QSize original = decoded;
        if (!c.original.isEmpty()) {
            original = c.original;
            if (swapped) original.transpose(); // the header's size is as stored
        }
        c.upright = original;
        const auto usable = [&](int level, bool mustServe) {
            if (c.skip & (1u << level)) return false;
            const QSize entry = ThumbnailCache::entrySize(original, ThumbnailCache::Level(level));
            if (entry.isEmpty() || entry.width() > width || entry.height() > height) return false;
            const bool serves = entry == original || (entry.width() >= target_.width() &&
                                                      entry.height() >= target_.height());
            if (mustServe && !serves) return false;
            c.level = level;
            c.entry = entry;
            return true;
        };
        for (int level = c.firstLevel; level < ThumbnailCache::kLevels; ++level)
            if (usable(level, true)) break;
        // An entry that serves the thumbnail gives it, as it will on every later visit; one
        // that does not (a panorama's normal entry is too low) is written from a second pass.
        fromEntry_ = c.level >= 0;
        if (c.level < 0) usable(c.firstLevel, false);
        if (c.level >= 0)
            entryScaler_ =
                std::make_unique<AreaDownscaler>(swapped ? height : width, swapped ? width : height,
                                                 swapped ? c.entry.transposed() : c.entry, bgr_);
    }

    QSize target_;
    const std::atomic<bool>* cancel_;
    CacheCapture* capture_ = nullptr;
    std::unique_ptr<AreaDownscaler> entryScaler_;
    QImage entry_;           // entryScaler_'s result, once taken
    bool fromEntry_ = false; // the thumbnail comes from the entry
    int orientation_ = 1;    // as stored; the rows arrive so
    bool indexed_ = false;
    bool bgr_ = false; // rows of B, G, R
    std::array<codec::Rgb, 256> palette_{};
    std::unique_ptr<AreaDownscaler> scaler_;
    QImage kept_;
    std::size_t rowBytes_ = 0;
    int height_ = 0;
    int y_ = 0;
};

// What the thumbnails ask of a reader: a picture of at least minWidth x minHeight, the stored
// thumbnail where it covers the request, the faster roads, and B, G, R rows where stored so.
codec::DecodeOptions thumbnailDecodeOptions(const ThumbnailRequest& request, int minWidth,
                                            int minHeight) {
    codec::DecodeOptions options;
    options.minWidth = minWidth;
    options.minHeight = minHeight;
    options.embeddedMinWidth = request.size.width();
    options.embeddedMinHeight = request.size.height();
    options.fastPaths = true;
    options.bgrRows = true;
    options.fastUpsampling = request.fastUpsampling;
    return options;
}

// At true colour: the format's reader streams its rows straight into the downscaler, at the
// smallest size that still covers twice the thumbnail (so the area filter always has at least
// two source pixels per thumbnail pixel to average), taking its faster roads where it has them.
std::optional<QImage> streamed(codec::ImageFormat format, const std::string& file,
                               const ThumbnailRequest& request, const std::atomic<bool>* cancel) {
    const QSize size = request.size;
    ThumbnailSink sink(size, cancel);
    const codec::DecodeOptions options =
        thumbnailDecodeOptions(request, 2 * size.width(), 2 * size.height());
    if (!codec::succeeded(codec::formatEntry(format).decode(file, options, sink)))
        return std::nullopt;
    return sink.result();
}

// The true-colour thumbnail through the shared cache: a valid entry with enough pixels is
// scaled like a decoded picture; otherwise the file is decoded once, at the smallest size that
// covers both twice the thumbnail and the entry, and the entry is written from the same rows.
std::optional<QImage> throughCache(codec::ImageFormat format, const std::string& file,
                                   const QString& absolutePath, const ThumbnailRequest& request,
                                   const std::atomic<bool>* cancel, const ThumbnailCache& cache) {
    const QSize size = request.size;
    const std::optional<ThumbnailCache::Level> first = ThumbnailCache::levelFor(size);
    const std::optional<FileStamp> stamp = fileStamp(absolutePath);
    if (!first || !stamp) return streamed(format, file, request, cancel);
    if (cache.hasFailed(absolutePath, stamp->mtime())) return std::nullopt;

    ThumbnailSink::CacheCapture capture;
    capture.firstLevel = int(*first);
    for (int level = capture.firstLevel; level < ThumbnailCache::kLevels; ++level) {
        std::optional<ThumbnailCache::Entry> entry =
            cache.read(ThumbnailCache::Level(level), absolutePath, stamp->mtime(), stamp->size);
        if (!entry) continue;
        if (entry->covers(size)) {
            QImage out = scaleToThumbnail(entry->image, size);
            if (!out.isNull()) return out;
        }
        capture.skip |= 1u << level;
    }
    if (cancelledNow(cancel)) return std::nullopt;

    const int side = ThumbnailCache::levelSize(*first);
    if (codec::formatEntry(format).scaledDecoding) {
        // Decoded at a reduced scale, the picture's size no longer tells the original's.
        codec::ImageInfo info;
        if (codec::succeeded(codec::imageInfo(file, info)))
            capture.original = QSize(info.width, info.height);
    }
    ThumbnailSink sink(size, cancel, &capture);
    // A thumbnail stored in the file gives the thumbnail when it covers it; the sink then writes
    // an entry only of a class whose size the stored thumbnail covers too, or none: decoding the
    // picture for the entry would cost what the stored thumbnail saves, and that thumbnail gives
    // the next visit as cheaply as an entry would.
    const codec::DecodeOptions options = thumbnailDecodeOptions(
        request, std::max(2 * size.width(), side), std::max(2 * size.height(), side));
    if (!codec::succeeded(codec::formatEntry(format).decode(file, options, sink)))
        return std::nullopt;
    std::optional<QImage> out = sink.result();
    if (!out) return std::nullopt;
    const QImage entry = sink.entry();
    if (!entry.isNull() && !cancelledNow(cancel)) {
        ThumbnailCache::Source source;
        source.absolutePath = absolutePath;
        source.mtime = stamp->mtime();
        source.fileSize = stamp->size;
        source.original = capture.upright;
        const std::string_view mime = codec::formatEntry(format).mimeType;
        source.mimeType = QString::fromLatin1(mime.data(), qsizetype(mime.size()));
        // A cache that cannot be written is not used; the thumbnail stands either way.
        (void)cache.store(ThumbnailCache::Level(capture.level), source, entry);
    }
    return out;
}

// At a reduced depth the reader's own colour reduction is needed to match the component: the
// picture is read at that depth (at the same reduced scale where the format can), then
// area-averaged.
std::optional<QImage> decoded(codec::ImageFormat format, const std::string& file,
                              const ThumbnailRequest& request) {
    int scale = 1;
    if (codec::formatEntry(format).scaledDecoding) {
        codec::ImageInfo info;
        if (codec::succeeded(codec::imageInfo(file, info)))
            scale = codec::jpegScaleCovering(info.width, info.height, 2 * request.size.width(),
                                             2 * request.size.height());
    }
    codec::Raster raster;
    if (!codec::succeeded(
            codec::readAs(format, file, request.bits, scale, request.dither ? 1 : 0, raster)))
        return std::nullopt;
    QImage out = scaleToThumbnail(raster, request.size);
    if (out.isNull()) return std::nullopt;
    return out;
}

} // namespace

std::optional<QImage> makeThumbnail(const QString& absolutePath, const ThumbnailRequest& request,
                                    const std::atomic<bool>* cancel, const ThumbnailCache* cache) {
    if (request.size.width() < 1 || request.size.height() < 1) return std::nullopt;
    const std::optional<codec::ImageFormat> format = codecFormatOf(absolutePath);
    if (!format) return std::nullopt;
    try {
        const std::string file = pixmoor::nativePath(absolutePath);
        std::optional<QImage> out =
            request.bits != 24 ? decoded(*format, file, request)
            : cache ? throughCache(*format, file, absolutePath, request, cancel, *cache)
                    : streamed(*format, file, request, cancel);
        if (cancelledNow(cancel)) return std::nullopt;
        return out;
    } catch (...) {
        // Out of memory and the like: the component path will report it.
        return std::nullopt;
    }
}

// ---- the pipeline ---------------------------------------------------------------------------

ThumbnailPipeline::ThumbnailPipeline(const QString& directory, const QStringList& names,
                                     const QString& ext, const ThumbnailRequest& request,
                                     int workers, int lookAhead)
    : request_(request) {
    const QString dir = QDir(directory).absolutePath();
    paths_.reserve(names.size());
    for (const QString& name : names) paths_.append(dir + QLatin1Char('/') + name);
    if (request.useCache && request.bits == 24) {
        auto cache = std::make_shared<ThumbnailCache>();
        if (cache->mayCache(dir)) cache_ = std::move(cache);
    }
    pump_ = [] {
        if (QCoreApplication::instance() &&
            QThread::currentThread() == QCoreApplication::instance()->thread())
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    };
    Prefetcher::Settings settings;
    settings.lookAhead = lookAhead > 0 ? lookAhead : kDefaultLookAhead;
    settings.waitSlice = std::chrono::milliseconds(kWaitSliceMs);
    settings.pumpInterval = std::chrono::milliseconds(kPumpIntervalMs);
    // Nothing to decode: no worker, and every take() gives nullopt at once.
    settings.workers = 0;
    if (handles(ext) && !names.isEmpty() && request.size.width() >= 1 &&
        request.size.height() >= 1) {
        const int count = workers > 0 ? workers : std::max(1, QThread::idealThreadCount());
        settings.workers = std::min({count, 16, int(names.size())});
    }
    // The work owns what it uses: a worker left behind in a read still holds it.
    prefetcher_ = std::make_unique<Prefetcher>(
        int(names.size()),
        [paths = paths_, request, cache = cache_](int k, const std::atomic<bool>& cancel) {
            std::optional<QImage> thumbnail =
                makeThumbnail(paths[k], request, &cancel, cache.get());
            return thumbnail ? std::any(std::move(*thumbnail)) : std::any();
        },
        settings);
}

ThumbnailPipeline::~ThumbnailPipeline() = default;

bool ThumbnailPipeline::handles(const QString& ext) {
    // Every type the codec's format table reads (not icons and metafiles).
    const QByteArray bytes = ext.toLatin1();
    return !ext.isEmpty() && codec::formatForExtension(
                                 std::string_view(bytes.constData(), std::size_t(bytes.size())));
}

std::optional<QImage> ThumbnailPipeline::take(int k) {
    Prefetcher::Taken taken = prefetcher_->take(k, pump_);
    if (taken.outcome != Prefetcher::Outcome::Ready) return std::nullopt;
    return std::any_cast<QImage>(std::move(taken.value));
}

void ThumbnailPipeline::cancel() {
    prefetcher_->cancel();
}

bool ThumbnailPipeline::cancelled() const {
    return prefetcher_->cancelled();
}

int ThumbnailPipeline::count() const {
    return prefetcher_->count();
}

int ThumbnailPipeline::claimed() const {
    return prefetcher_->claimed();
}

int ThumbnailPipeline::lookAhead() const {
    return prefetcher_->lookAhead();
}

int ThumbnailPipeline::workerCount() const {
    return prefetcher_->workerCount();
}

bool ThumbnailPipeline::blocked(int k) const {
    return prefetcher_->blocked(k);
}

bool ThumbnailPipeline::usesCache() const {
    return cache_ != nullptr;
}

void ThumbnailPipeline::noteUnreadable(int k) {
    if (!cache_ || k < 0 || k >= int(paths_.size())) return;
    const std::optional<FileStamp> stamp = fileStamp(paths_[k]);
    if (stamp && !cache_->hasFailed(paths_[k], stamp->mtime()))
        (void)cache_->markFailed(paths_[k], stamp->mtime());
}

std::unique_ptr<ImageSource> ThumbnailPipeline::remaker() const {
    return std::make_unique<ThumbnailRemaker>(paths_, request_, cache_);
}

void ThumbnailPipeline::setPump(std::function<void()> pump) {
    pump_ = std::move(pump);
}

} // namespace pixmoor
