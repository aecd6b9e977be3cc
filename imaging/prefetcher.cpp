// The ordered prefetcher's workers, the consumer's wait and the watch on reads that never return
// (see prefetcher.h).
#include "imaging/prefetcher.h"

#include "platform/thread_activity.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace pixmoor {

namespace {

// Threads left waiting in reads that never returned, in the whole process: past this many no
// replacement is started, and the files no worker is left to read are given up as blocked.
constexpr int kMaxStuckThreads = 64;
std::atomic<int> stuckThreads{0};

// How long the destructor lets a quiet worker be before leaving it behind: a cancelled worker
// that is working shows activity and leaves soon.
constexpr std::chrono::milliseconds kLeaveQuietWorker{100};
// The destructor's wait between looks at the workers.
constexpr std::chrono::milliseconds kLeaveSlice{10};

} // namespace

// Shared by the prefetcher and its worker threads: a worker left behind in a read that never
// returns keeps what it uses alive after the prefetcher is gone.
struct Prefetcher::State : std::enable_shared_from_this<State> {
    enum Status : std::uint8_t { Pending, Ready, Failed, Blocked, Dropped };

    struct Worker {
        pid_t tid = 0;
        int file = -1; // the file being worked on, -1 between files
        StallWatch watch;
        bool abandoned = false; // given up in a read that did not return
    };

    Work work;
    int count = 0;
    Settings settings;

    mutable std::mutex mutex;
    std::condition_variable roomOrCancel; // workers wait for room ahead of the consumer
    std::condition_variable finished;     // the consumer waits for a file
    std::condition_variable exited;       // the destructor waits for the workers
    int next = 0;                         // the next file a worker claims
    int consumed = 0;                     // files below this index are taken or dropped
    std::vector<Status> status;
    std::vector<std::any> values;
    std::vector<bool> blocked; // files whose read was given up
    std::atomic<bool> cancel{false};

    std::chrono::steady_clock::time_point lastPump = std::chrono::steady_clock::now();

    std::deque<Worker> workers; // every worker started, the abandoned ones too
    int running = 0;            // workers neither ended nor abandoned
    int started = 0;            // workers started with the prefetcher

    // Starts one more worker; the caller holds the mutex (or no thread runs yet).
    bool startWorker() {
        workers.emplace_back();
        Worker& worker = workers.back();
        try {
            std::thread([self = shared_from_this(), &worker] { self->run(worker); }).detach();
        } catch (...) {
            workers.pop_back();
            return false;
        }
        ++running;
        return true;
    }

    void run(Worker& me) {
        {
            std::lock_guard lock(mutex);
            me.tid = currentThreadId();
        }
        for (;;) {
            int k;
            {
                std::unique_lock lock(mutex);
                for (;;) {
                    roomOrCancel.wait(lock, [&] {
                        return cancel.load() || next >= count ||
                               next < consumed + settings.lookAhead;
                    });
                    if (cancel.load() || next >= count) {
                        --running;
                        exited.notify_all();
                        return;
                    }
                    k = next++;
                    if (status[std::size_t(k)] != Dropped) break; // else passed over already
                }
                me.file = k;
                me.watch.start(me.tid);
            }
            std::any value;
            try {
                value = work(k, cancel);
            } catch (...) {
                value.reset(); // left to the caller, which reports what is wrong
            }
            {
                std::lock_guard lock(mutex);
                if (me.abandoned) { // the read returned after all: its file is long given up
                    stuckThreads.fetch_sub(1);
                    return;
                }
                me.file = -1;
                if (status[std::size_t(k)] == Pending) {
                    if (value.has_value()) {
                        values[std::size_t(k)] = std::move(value);
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
        if (!cancel.load() && next < count && stuckThreads.load() < kMaxStuckThreads)
            (void)startWorker();
        exited.notify_all();
        finished.notify_all();
    }

    // Checks on file k while the consumer waits for it: the worker on it is abandoned once it
    // has shown no activity for the stall bound, and a file no worker is left to read is given up
    // too (never read on the user-interface thread instead). The caller holds the mutex.
    void watchFile(int k) {
        for (Worker& worker : workers)
            if (!worker.abandoned && worker.file == k && worker.watch.stalled(stallBound()))
                abandon(worker);
        if (status[std::size_t(k)] == Pending && running == 0 && !cancel.load()) {
            blocked[std::size_t(k)] = true;
            status[std::size_t(k)] = Blocked;
        }
    }

    bool pumpDue() const {
        return settings.pumpInterval.count() > 0 &&
               std::chrono::steady_clock::now() - lastPump >= settings.pumpInterval;
    }

    void runPump(const std::function<void()>& pump) {
        if (pump) pump();
        lastPump = std::chrono::steady_clock::now();
    }
};

Prefetcher::Prefetcher(int count, Work work, const Settings& settings)
    : state_(std::make_shared<State>()) {
    State& s = *state_;
    s.work = std::move(work);
    s.count = std::max(0, count);
    s.settings = settings;
    s.settings.lookAhead = std::max(1, settings.lookAhead);
    s.status.assign(std::size_t(s.count), State::Pending);
    s.values.resize(std::size_t(s.count));
    s.blocked.assign(std::size_t(s.count), false);
    std::lock_guard lock(s.mutex);
    // When no thread can be started (resources exhausted) those that run carry on; with none
    // every take() gives None at once.
    for (int i = 0; i < settings.workers && s.startWorker(); ++i) ++s.started;
    if (s.started == 0) s.cancel = true;
}

Prefetcher::~Prefetcher() {
    cancel();
    // Waits for the workers to leave, except one that stays quiet in a read: it is left behind
    // and ends by itself, owning the state it uses, whenever its read returns.
    State& s = *state_;
    std::unique_lock lock(s.mutex);
    while (s.running > 0) {
        s.exited.wait_for(lock, kLeaveSlice);
        for (State::Worker& worker : s.workers)
            if (!worker.abandoned && worker.file >= 0 && worker.watch.stalled(kLeaveQuietWorker))
                s.abandon(worker);
    }
}

Prefetcher::Taken Prefetcher::take(int k, const std::function<void()>& pump) {
    State& s = *state_;
    if (k < 0 || k >= s.count || s.cancel.load()) return {};
    std::unique_lock lock(s.mutex);
    const auto at = std::size_t(k);
    if (s.status[at] == State::Dropped) return {};
    // Whatever was skipped is dropped, and the workers may run further ahead.
    for (int i = s.consumed; i < k; ++i) {
        s.status[std::size_t(i)] = State::Dropped;
        s.values[std::size_t(i)].reset();
    }
    s.consumed = std::max(s.consumed, k + 1);
    s.roomOrCancel.notify_all();

    while (s.status[at] == State::Pending && !s.cancel.load()) {
        if (s.pumpDue()) {
            lock.unlock();
            s.runPump(pump);
            lock.lock();
            continue;
        }
        s.finished.wait_for(lock, s.settings.waitSlice);
        if (s.status[at] == State::Pending) s.watchFile(k);
        if (s.status[at] == State::Pending) {
            // A whole slice without the file: let the window breathe before waiting again.
            lock.unlock();
            s.runPump(pump);
            lock.lock();
        }
    }
    Taken out;
    switch (s.status[at]) {
    case State::Ready:
        out.outcome = Outcome::Ready;
        out.value = std::move(s.values[at]);
        break;
    case State::Failed:
        out.outcome = Outcome::Failed;
        break;
    case State::Blocked:
        out.outcome = Outcome::Blocked;
        break;
    default:
        break;
    }
    s.values[at].reset();
    s.status[at] = State::Dropped;
    lock.unlock();
    // Not waiting, but long since the last pump: the caller between its own message points.
    if (s.pumpDue()) s.runPump(pump);
    return out;
}

bool Prefetcher::blocked(int k) const {
    std::lock_guard lock(state_->mutex);
    return k >= 0 && k < state_->count && state_->blocked[std::size_t(k)];
}

void Prefetcher::cancel() {
    State& s = *state_;
    {
        std::lock_guard lock(s.mutex);
        s.cancel = true;
    }
    s.roomOrCancel.notify_all();
    s.finished.notify_all();
}

bool Prefetcher::cancelled() const {
    return state_->cancel.load();
}

int Prefetcher::count() const {
    return state_->count;
}

int Prefetcher::claimed() const {
    std::lock_guard lock(state_->mutex);
    return state_->next;
}

int Prefetcher::lookAhead() const {
    return state_->settings.lookAhead;
}

int Prefetcher::workerCount() const {
    return state_->started;
}

} // namespace pixmoor
