// Ordered prefetching: worker threads do each file's work ahead of a user-interface thread that
// takes the results in file order. The catalogue makes thumbnails with it and conversion decodes
// with it; each supplies only its per-file work and what it does with a result.
#pragma once

#include <any>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace pixmoor {

// Order and memory: workers claim the files in index order and stay at most lookAhead files
// ahead of the last take(), so at most that many results (plus one in work per worker) are held,
// however many files there are. Files passed over by a take() are dropped and not worked on.
//
// Waiting: take(k) blocks the calling thread only in slices of at most waitSlice; after a slice
// that ended without file k it runs the pump. With a pumpInterval it also runs the pump, waiting
// or not, once that long has passed since its last pump, so a caller whose own message
// processing is rare still keeps painting.
//
// Reads that never return: a file whose read blocks for good (on a dead network or FUSE mount)
// would hold its worker, and the caller waiting for it, for ever. While take(k) waits, the worker
// on file k is watched through the kernel's accounting of its reads and processor time; once it
// has shown no activity at all for stallBound() (platform/thread_activity.h), the file is given
// up as blocked, the worker is left behind in its read and a replacement takes the files after
// it, as long as the process holds fewer than a fixed number of workers left behind. A worker
// left behind owns the state it uses (the work function and what it holds among it), so neither
// the destructor nor the program's end waits for it.
class Prefetcher {
public:
    // The work on file k, on a worker thread: its result, or an empty any when the file is left
    // to the caller (it failed, or is not one this work does). cancel becomes true when the
    // prefetcher is cancelled or destroyed: long work should look at it and give up. Several
    // workers may run it at once, on different files. An exception counts as an empty result.
    using Work = std::function<std::any(int k, const std::atomic<bool>& cancel)>;

    struct Settings {
        int workers = 1;   // worker threads started with the prefetcher
        int lookAhead = 1; // files claimed past the last take(), at least 1
        std::chrono::milliseconds waitSlice{10};
        std::chrono::milliseconds pumpInterval{0}; // zero: only after slices waited in vain
    };

    enum class Outcome : std::uint8_t {
        Ready,   // the work's result
        Failed,  // the work gave nothing
        Blocked, // the read did not return and was given up (see blocked())
        None,    // out of range, taken already, dropped, or the prefetcher was cancelled
    };
    struct Taken {
        Outcome outcome = Outcome::None;
        std::any value; // the result when Ready
    };

    // Starts the workers on files 0 .. count-1 at once. When no worker can be started (none
    // asked for, or the system has no thread to give) the prefetcher is cancelled from the start.
    Prefetcher(int count, Work work, const Settings& settings);
    // Cancels the workers and waits for them to leave, except those that stay quiet in a read:
    // they are left behind.
    ~Prefetcher();

    Prefetcher(const Prefetcher&) = delete;
    Prefetcher& operator=(const Prefetcher&) = delete;

    // The outcome of file k, waited for as above with pump (may be empty). Call it with
    // increasing k; taking k drops whatever is held for earlier files.
    Taken take(int k, const std::function<void()>& pump);
    // Whether the read of file k was given up because it did not return: the file must not be
    // read on the calling thread, where it would block the window.
    bool blocked(int k) const;

    // Stops the workers promptly (through the work's cancel flag); further take() calls give None
    // without waiting. Safe from any thread, more than once.
    void cancel();
    bool cancelled() const;

    int count() const;
    // Files claimed by the workers so far: never more than lookAhead() past the last take().
    int claimed() const;
    int lookAhead() const;
    // Worker threads started with the prefetcher.
    int workerCount() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace pixmoor
