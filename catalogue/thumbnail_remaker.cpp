// Thumbnails made again for an image list (see thumbnail_remaker.h).
#include "catalogue/thumbnail_remaker.h"

#include "catalogue/thumbnail_cache.h"
#include "catalogue/thumbnails.h"

#include <QCoreApplication>
#include <QPointer>
#include <atomic>
#include <deque>
#include <mutex>
#include <thread>

namespace pixmoor {

struct ThumbnailRemaker::State {
    QStringList paths;
    ThumbnailRequest request;
    std::shared_ptr<const ThumbnailCache> cache;
    std::atomic<bool> cancelled{false};
    QPointer<ImageList> list; // read on the list's thread only
    std::mutex mutex;         // guards queue and workers
    std::deque<int> queue;
    int workers = 0;
};

ThumbnailRemaker::ThumbnailRemaker(QStringList paths, const ThumbnailRequest& request,
                                   std::shared_ptr<const ThumbnailCache> cache)
    : state_(std::make_shared<State>()) {
    state_->paths = std::move(paths);
    state_->request = request;
    state_->cache = std::move(cache);
}

ThumbnailRemaker::~ThumbnailRemaker() {
    state_->cancelled = true;
    const std::lock_guard lock(state_->mutex);
    state_->queue.clear();
}

void ThumbnailRemaker::request(ImageList& list, int k) {
    if (k < 0 || k >= state_->paths.size()) return;
    state_->list = &list;
    const std::lock_guard lock(state_->mutex);
    state_->queue.push_back(k);
    if (state_->workers >= kWorkers) return;
    ++state_->workers;
    // Detached: the worker owns the state it uses, and leaves when the queue is empty or the
    // remaker is gone.
    std::thread([state = state_] {
        for (;;) {
            int next;
            {
                const std::lock_guard held(state->mutex);
                if (state->queue.empty() || state->cancelled) {
                    --state->workers;
                    return;
                }
                next = state->queue.back();
                state->queue.pop_back();
            }
            std::optional<QImage> made = makeThumbnail(state->paths[next], state->request,
                                                       &state->cancelled, state->cache.get());
            if (state->cancelled) continue;
            // A file that can no longer be made (changed or gone since the build) says so.
            QImage image = made ? stretchToThumbnail(*made, state->request.size)
                                : errorThumbnail(state->request.size);
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [state, next, image = std::move(image)] {
                    if (!state->cancelled && state->list) state->list->restore(next, image);
                },
                Qt::QueuedConnection);
        }
    }).detach();
}

} // namespace pixmoor
