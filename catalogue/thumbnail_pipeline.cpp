// The thumbnail pipeline: per-file thumbnails (each format's reader streaming its rows, reduced
// in size where the format allows, into the area downscaler) and the worker threads that make
// them ahead of the catalogue build.
#include "catalogue/thumbnail_pipeline.h"

#include "catalogue/downscale.h"
#include "catalogue/thumbnail_cache.h"
#include "imaging/codec/codec.h"
#include "imaging/codec/decode.h"
#include "imaging/codec/errors.h"
#include "imaging/codec/format_table.h"
#include "imaging/file_types.h"
#include "platform/file_name.h"
#include "platform/thread_activity.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QThread>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

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
                    width, height, swapped ? target_.transposed() : target_);
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
                std::memcpy(kept_.scanLine(y_), pixels, rowBytes_);
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
                                                 swapped ? c.entry.transposed() : c.entry);
    }

    QSize target_;
    const std::atomic<bool>* cancel_;
    CacheCapture* capture_ = nullptr;
    std::unique_ptr<AreaDownscaler> entryScaler_;
    QImage entry_;           // entryScaler_'s result, once taken
    bool fromEntry_ = false; // the thumbnail comes from the entry
    int orientation_ = 1;    // as stored; the rows arrive so
    bool indexed_ = false;
    std::array<codec::Rgb, 256> palette_{};
    std::unique_ptr<AreaDownscaler> scaler_;
    QImage kept_;
    std::size_t rowBytes_ = 0;
    int height_ = 0;
    int y_ = 0;
};

// At true colour: the format's reader streams its rows straight into the downscaler, at the
// smallest size that still covers twice the thumbnail (so the area filter always has at least
// two source pixels per thumbnail pixel to average), taking its faster roads where it has them.
std::optional<QImage> streamed(codec::ImageFormat format, const std::string& file,
                               const ThumbnailRequest& request, const std::atomic<bool>* cancel) {
    const QSize size = request.size;
    ThumbnailSink sink(size, cancel);
    codec::DecodeOptions options;
    options.minWidth = 2 * size.width();
    options.minHeight = 2 * size.height();
    options.fastPaths = true;
    options.fastUpsampling = request.fastUpsampling;
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
    if (cache.hasFailed(absolutePath, stamp->mtime)) return std::nullopt;

    ThumbnailSink::CacheCapture capture;
    capture.firstLevel = int(*first);
    for (int level = capture.firstLevel; level < ThumbnailCache::kLevels; ++level) {
        std::optional<ThumbnailCache::Entry> entry =
            cache.read(ThumbnailCache::Level(level), absolutePath, stamp->mtime, stamp->size);
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
    codec::DecodeOptions options;
    options.minWidth = std::max(2 * size.width(), side);
    options.minHeight = std::max(2 * size.height(), side);
    options.fastPaths = true;
    options.fastUpsampling = request.fastUpsampling;
    if (!codec::succeeded(codec::formatEntry(format).decode(file, options, sink)))
        return std::nullopt;
    std::optional<QImage> out = sink.result();
    if (!out) return std::nullopt;
    const QImage entry = sink.entry();
    if (!entry.isNull() && !cancelledNow(cancel)) {
        ThumbnailCache::Source source;
        source.absolutePath = absolutePath;
        source.mtime = stamp->mtime;
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

namespace {

// Threads left waiting in reads that never returned, in the whole process: past this many no
// replacement is started, and the files no worker is left to read are given up as blocked.
constexpr int kMaxStuckThreads = 64;
std::atomic<int> stuckThreads{0};

// How long the destructor lets a quiet worker be before leaving it behind: a cancelled worker
// that is decoding shows activity and leaves at its next row batch.
constexpr std::chrono::milliseconds kLeaveQuietWorker{100};

} // namespace

// Shared by the pipeline and its worker threads: a worker left behind in a read that never
// returns keeps what it uses alive after the pipeline is gone.
struct ThumbnailPipeline::State : std::enable_shared_from_this<State> {
    enum Status : std::uint8_t { Pending, Ready, Failed, Blocked, Dropped };

    struct Worker {
        pid_t tid = 0;
        int file = -1; // the file being made, -1 between files
        StallWatch watch;
        bool abandoned = false; // given up in a read that did not return
    };

    QStringList paths;
    ThumbnailRequest request;
    int lookAhead = kDefaultLookAhead;

    std::mutex mutex;
    std::condition_variable roomOrCancel; // workers wait for room ahead of the consumer
    std::condition_variable finished;     // the consumer waits for a file
    std::condition_variable exited;       // the destructor waits for the workers
    int next = 0;                         // the next file a worker claims
    int consumed = 0;                     // files below this index are taken or dropped
    std::vector<Status> status;
    std::vector<QImage> images;
    std::vector<bool> blocked; // files whose read was given up
    std::atomic<bool> cancel{false};

    std::optional<ThumbnailCache> cache; // when the workers use the shared cache

    std::function<void()> pump;
    QElapsedTimer sincePump;

    std::deque<Worker> workers; // every worker started, the abandoned ones too
    int running = 0;            // workers neither ended nor abandoned
    int started = 0;            // workers started with the pipeline

    // Starts one more worker; the caller holds the mutex (or no thread runs yet).
    bool startWorker() {
        workers.emplace_back();
        Worker& worker = workers.back();
        try {
            std::thread([self = shared_from_this(), &worker] { self->work(worker); }).detach();
        } catch (...) {
            workers.pop_back();
            return false;
        }
        ++running;
        return true;
    }

    void work(Worker& me) {
        {
            std::lock_guard lock(mutex);
            me.tid = currentThreadId();
        }
        for (;;) {
            int k;
            {
                std::unique_lock lock(mutex);
                roomOrCancel.wait(lock, [&] {
                    return cancel.load() || next >= int(paths.size()) ||
                           next < consumed + lookAhead;
                });
                if (cancel.load() || next >= int(paths.size())) {
                    --running;
                    exited.notify_all();
                    return;
                }
                k = next++;
                me.file = k;
                me.watch.start(me.tid);
            }
            std::optional<QImage> thumbnail =
                makeThumbnail(paths[k], request, &cancel, cache ? &*cache : nullptr);
            {
                std::lock_guard lock(mutex);
                if (me.abandoned) { // the read returned after all: its file is long given up
                    stuckThreads.fetch_sub(1);
                    return;
                }
                me.file = -1;
                if (status[std::size_t(k)] == Pending) {
                    if (thumbnail) {
                        images[std::size_t(k)] = std::move(*thumbnail);
                        status[std::size_t(k)] = Ready;
                    } else {
                        status[std::size_t(k)] = Failed;
                    }
                }
            }
            finished.notify_all();
        }
    }

    // Leaves a worker behind in its read and gives its file up as blocked; a replacement takes
    // the files after it. The caller holds the mutex.
    void abandon(Worker& worker) {
        const auto k = std::size_t(worker.file);
        worker.abandoned = true;
        stuckThreads.fetch_add(1);
        --running;
        blocked[k] = true;
        if (status[k] == Pending) status[k] = Blocked;
        if (!cancel.load() && next < int(paths.size()) && stuckThreads.load() < kMaxStuckThreads)
            (void)startWorker();
        exited.notify_all();
        finished.notify_all();
    }

    // Checks on file k while the consumer waits for it: the worker making it is abandoned once
    // it has shown no activity for the stall bound, and a file no worker is left to read is
    // given up too (never read on the user-interface thread instead). The caller holds the mutex.
    void watchFile(int k) {
        for (Worker& worker : workers)
            if (!worker.abandoned && worker.file == k && worker.watch.stalled(stallBound()))
                abandon(worker);
        if (status[std::size_t(k)] == Pending && running == 0 && !cancel.load()) {
            blocked[std::size_t(k)] = true;
            status[std::size_t(k)] = Blocked;
        }
    }

    void runPump() {
        if (pump) pump();
        sincePump.restart();
    }
};

ThumbnailPipeline::ThumbnailPipeline(const QString& directory, const QStringList& names,
                                     const QString& ext, const ThumbnailRequest& request,
                                     int workers, int lookAhead)
    : state_(std::make_shared<State>()) {
    State& s = *state_;
    const QString dir = QDir(directory).absolutePath();
    s.paths.reserve(names.size());
    for (const QString& name : names) s.paths.append(dir + QLatin1Char('/') + name);
    s.request = request;
    if (request.useCache && request.bits == 24) {
        ThumbnailCache cache;
        if (cache.mayCache(dir)) s.cache = std::move(cache);
    }
    s.lookAhead = lookAhead > 0 ? lookAhead : kDefaultLookAhead;
    s.status.assign(std::size_t(names.size()), State::Pending);
    s.images.resize(std::size_t(names.size()));
    s.blocked.assign(std::size_t(names.size()), false);
    s.pump = [] {
        if (QCoreApplication::instance() &&
            QThread::currentThread() == QCoreApplication::instance()->thread())
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    };
    s.sincePump.start();
    if (!handles(ext) || names.isEmpty() || request.size.width() < 1 || request.size.height() < 1) {
        s.cancel = true; // nothing to decode: every take() gives nullopt at once
        return;
    }
    int count = workers > 0 ? workers : std::max(1, QThread::idealThreadCount());
    count = std::min({count, 16, int(names.size())});
    std::lock_guard lock(s.mutex);
    // When no thread can be started (resources exhausted) those that run carry on; with none
    // every take() fails over to the component path.
    for (int i = 0; i < count && s.startWorker(); ++i) ++s.started;
    if (s.started == 0) s.cancel = true;
}

ThumbnailPipeline::~ThumbnailPipeline() {
    cancel();
    // Waits for the workers to leave, except one that stays quiet in a read: it is left behind
    // and ends by itself, owning the state it uses, whenever its read returns.
    State& s = *state_;
    std::unique_lock lock(s.mutex);
    while (s.running > 0) {
        s.exited.wait_for(lock, std::chrono::milliseconds(kWaitSliceMs));
        for (State::Worker& worker : s.workers)
            if (!worker.abandoned && worker.file >= 0 && worker.watch.stalled(kLeaveQuietWorker))
                s.abandon(worker);
    }
}

bool ThumbnailPipeline::handles(const QString& ext) {
    // Every type the codec's format table reads (not icons and metafiles).
    const QByteArray bytes = ext.toLatin1();
    return !ext.isEmpty() && codec::formatForExtension(
                                 std::string_view(bytes.constData(), std::size_t(bytes.size())));
}

std::optional<QImage> ThumbnailPipeline::take(int k) {
    State& s = *state_;
    if (k < 0 || k >= int(s.paths.size()) || s.cancel.load()) return std::nullopt;
    std::unique_lock lock(s.mutex);
    if (s.status[std::size_t(k)] == State::Dropped) return std::nullopt;
    // Whatever was skipped is dropped, and the workers may run further ahead.
    for (int i = s.consumed; i < k; ++i) {
        s.status[std::size_t(i)] = State::Dropped;
        s.images[std::size_t(i)] = QImage();
    }
    s.consumed = std::max(s.consumed, k + 1);
    s.roomOrCancel.notify_all();

    const auto slice = std::chrono::milliseconds(kWaitSliceMs);
    while (s.status[std::size_t(k)] == State::Pending && !s.cancel.load()) {
        if (s.sincePump.elapsed() >= kPumpIntervalMs) {
            lock.unlock();
            s.runPump();
            lock.lock();
            continue;
        }
        s.finished.wait_for(lock, slice);
        if (s.status[std::size_t(k)] == State::Pending) s.watchFile(k);
        if (s.status[std::size_t(k)] == State::Pending) {
            // A whole slice without the file: let the window breathe before waiting again.
            lock.unlock();
            s.runPump();
            lock.lock();
        }
    }
    std::optional<QImage> out;
    if (s.status[std::size_t(k)] == State::Ready) out = std::move(s.images[std::size_t(k)]);
    s.images[std::size_t(k)] = QImage();
    s.status[std::size_t(k)] = State::Dropped;
    lock.unlock();
    // Not waiting, but long since the last pump: the build between its own message points.
    if (s.sincePump.elapsed() >= kPumpIntervalMs) s.runPump();
    return out;
}

void ThumbnailPipeline::cancel() {
    State& s = *state_;
    {
        std::lock_guard lock(s.mutex);
        s.cancel = true;
    }
    s.roomOrCancel.notify_all();
    s.finished.notify_all();
}

bool ThumbnailPipeline::cancelled() const {
    return state_->cancel.load();
}

int ThumbnailPipeline::count() const {
    return int(state_->paths.size());
}

int ThumbnailPipeline::claimed() const {
    std::lock_guard lock(state_->mutex);
    return state_->next;
}

int ThumbnailPipeline::lookAhead() const {
    return state_->lookAhead;
}

int ThumbnailPipeline::workerCount() const {
    return state_->started;
}

bool ThumbnailPipeline::blocked(int k) const {
    std::lock_guard lock(state_->mutex);
    return k >= 0 && k < int(state_->blocked.size()) && state_->blocked[std::size_t(k)];
}

bool ThumbnailPipeline::usesCache() const {
    return state_->cache.has_value();
}

void ThumbnailPipeline::noteUnreadable(int k) {
    const State& s = *state_;
    if (!s.cache || k < 0 || k >= int(s.paths.size())) return;
    const std::optional<FileStamp> stamp = fileStamp(s.paths[k]);
    if (stamp && !s.cache->hasFailed(s.paths[k], stamp->mtime))
        (void)s.cache->markFailed(s.paths[k], stamp->mtime);
}

void ThumbnailPipeline::setPump(std::function<void()> pump) {
    state_->pump = std::move(pump);
}

} // namespace pixmoor
