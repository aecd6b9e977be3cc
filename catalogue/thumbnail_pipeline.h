// The catalogue's fast thumbnail path: the files of a build are decoded ahead on worker threads
// (JPEG at a reduced DCT scale, PNG streamed row by row) and area-averaged straight to the
// thumbnail size; the user-interface thread takes the thumbnails in order.
#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace pixmoor {

// What the thumbnail of one file is made from: the same depth and dither the image component
// would decode with, so a reduced depth gives the component's colours.
struct ThumbnailRequest {
    QSize size;         // the thumbnail size, e.g. ThumbWidth x ThumbHeight or 50 x 50
    int bits = 24;      // decode depth: 0, 1, 4, 8 or 24 (loadResolutionBits of the component)
    bool dither = true; // the component's ImageDither
    // JPEG only: skip libjpeg's smoothing of the subsampled colour planes. The thumbnail is an
    // average over many decoded pixels, so the cheaper plain replication does not show.
    bool fastUpsampling = true;
    // Read and write the shared thumbnail cache (true colour only: a reduced depth gives the
    // component's own colours, which are not the file's picture).
    bool useCache = false;
};

class ThumbnailCache;
class Prefetcher;
class ImageSource;

// Makes the thumbnail of one file on the calling thread: the whole image stretched to exactly
// request.size without keeping the aspect ratio, area-averaged, Format_RGB32. The decoder is
// chosen by the file name's extension as the image component chooses it (.bmp, .jpg/.jpe/.jpeg,
// .png, .gif, .tif/.tiff, .pcx). Returns nullopt when the file is missing, damaged, of another
// type, or not decodable cleanly, and when cancel becomes true during the work: the caller then
// loads the file the ordinary way, which reports what is wrong.
//
// With a cache (and request.bits 24), a valid entry that holds enough pixels gives the thumbnail
// without reading the file; otherwise the file is decoded once, at a size that serves both the
// thumbnail and a new entry, which is written. A file recorded as unreadable gives nullopt at
// once.
//
// At true colour, the thumbnail a camera stored in a JPEG's EXIF block stands for the picture
// when it covers request.size without enlarging, has the picture's proportions and decodes
// cleanly (the JPEG reader's option); an entry is then written only when it covers the entry too.
std::optional<QImage> makeThumbnail(const QString& absolutePath, const ThumbnailRequest& request,
                                    const std::atomic<bool>* cancel = nullptr,
                                    const ThumbnailCache* cache = nullptr);

// Decodes one build's files ahead on worker threads. The pipeline starts working when it is
// constructed and never touches the process's working directory (workers use absolute paths).
//
// Order and memory: workers take the files in FileNames order and stay at most lookAhead() files
// ahead of the last take(), so at most that many finished thumbnails (plus one decode per
// worker) are held, however long the directory.
//
// Waiting: take(k) blocks the calling (user-interface) thread only in slices of at most
// kWaitSliceMs; between slices it runs the pump. It also runs the pump, waiting or not, when
// kPumpIntervalMs have passed since its last pump, so a build whose own message processing
// happens only every 20 files still keeps painting. The default pump is
// QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents): timers, paints and
// window-system events other than input are handled, while mouse and key input (the Stop button
// among them) stay queued until the build itself processes messages, so the build reads Stop at
// exactly the points where it did before.
//
// Reads that never return: a file whose read blocks for good (on a dead network or FUSE mount)
// is given up as blocked while take(k) waits for it, and its worker is left behind in the read,
// owning what it uses, as the prefetcher does it (imaging/prefetcher.h), which also holds the
// workers, their order and the look-ahead bound.
class ThumbnailPipeline {
public:
    static constexpr int kWaitSliceMs = 10;
    static constexpr int kPumpIntervalMs = 20;
    static constexpr int kDefaultLookAhead = 16;

    // directory: absolute path of the directory; names: bare file names in FileNames order;
    // ext: the catalogue type ("bmp", "gif", "jpg", "pcx", "png", "tif"); for "ico", "wmf" or any
    // other type nothing is decoded and every take() gives nullopt at once.
    // workers: worker threads, 0 for one per core; lookAhead: files decoded ahead, 0 for the
    // default (kDefaultLookAhead).
    ThumbnailPipeline(const QString& directory, const QStringList& names, const QString& ext,
                      const ThumbnailRequest& request, int workers = 0, int lookAhead = 0);
    // Cancels the workers and waits for them to leave, except those that stay quiet in a read:
    // they are left behind.
    ~ThumbnailPipeline();

    ThumbnailPipeline(const ThumbnailPipeline&) = delete;
    ThumbnailPipeline& operator=(const ThumbnailPipeline&) = delete;

    // Whether the pipeline makes thumbnails for the catalogue type ext at all.
    static bool handles(const QString& ext);

    // Thumbnail of names[k], exactly request.size: nullopt when the fast path failed for that
    // file (the caller then uses the image component, which shows its messages), when its read
    // was given up as blocked (see blocked()), when k is out of range, already taken, or the
    // pipeline was cancelled. Call it with increasing k; taking k drops whatever is held for
    // earlier files.
    std::optional<QImage> take(int k);
    // Whether the read of names[k] was given up because it did not return: the file must not be
    // read again on the calling thread, where it would block the window.
    bool blocked(int k) const;

    // Stops the workers promptly: they leave the file they are decoding at the next row batch.
    // Further take() calls give nullopt without waiting. Safe from any thread, more than once.
    void cancel();
    bool cancelled() const;

    int count() const;
    // Files handed to the workers so far: never more than lookAhead() past the last take().
    int claimed() const;
    int lookAhead() const;
    // Worker threads the pipeline started with.
    int workerCount() const;

    // Whether the workers use the shared thumbnail cache (request.useCache, true colour, and a
    // directory outside the cache itself).
    bool usesCache() const;
    // Records names[k] as unreadable in the cache, when the pipeline uses it: called when the
    // image component could not read the file either.
    void noteUnreadable(int k);

    // What makes this build's thumbnails again for its image list (index k is names[k]), from
    // the cache the workers use or the files, with the same request.
    std::unique_ptr<ImageSource> remaker() const;

    // Replaces the pump run by take() (tests count calls with it; an empty function disables
    // pumping). Set it before the first take().
    void setPump(std::function<void()> pump);

private:
    QStringList paths_;                           // absolute, in FileNames order
    ThumbnailRequest request_;
    std::shared_ptr<const ThumbnailCache> cache_; // when the workers use the shared cache
    std::function<void()> pump_;
    std::unique_ptr<Prefetcher> prefetcher_;
};

} // namespace pixmoor
