// Decoding ahead for conversion (see decode_ahead.h).
#include "operations/decode_ahead.h"

#include "imaging/codec/errors.h"
#include "imaging/codec/format_table.h"
#include "imaging/file_types.h"
#include "platform/file_name.h"
#include "platform/thread_activity.h"

#include <QFile>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <vector>

namespace pixmoor {

namespace {

// What tells one state of a file from another: a save replaces the inode, an edit in place
// changes the size or the times.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modified = 0; // nanoseconds
    std::int64_t changed = 0;
    bool operator==(const FileStamp&) const = default;
};

std::optional<FileStamp> stampOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    const auto ns = [](const timespec& t) {
        return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
    };
    return FileStamp{st.st_dev, st.st_ino, st.st_size, ns(st.st_mtim), ns(st.st_ctim)};
}

enum class SlotState { Pending, Ready, Skipped, Blocked };

struct Slot {
    SlotState state = SlotState::Pending;
    AheadDecode decode;
    FileStamp stamp;
};

// Threads left waiting in reads that never returned, in the whole process: past this many no
// replacement is started, and the files no worker is left to read are given up as blocked.
constexpr int kMaxStuckThreads = 64;
std::atomic<int> stuckThreads{0};

// How long the destructor lets a quiet worker be before leaving it behind.
constexpr std::chrono::milliseconds kLeaveQuietWorker{100};

} // namespace

// Shared by the engine and its worker threads: a worker left behind in a read that never
// returns keeps what it uses alive after the engine is gone.
struct DecodeAhead::State : std::enable_shared_from_this<State> {
    struct Worker {
        pid_t tid = 0;
        int file = -1; // the file being decoded, -1 between files
        StallWatch watch;
        bool abandoned = false; // given up in a read that did not return
    };

    std::vector<std::string> paths;                         // absolute, in the file system's bytes
    std::vector<std::optional<codec::ImageFormat>> formats; // null: not decoded ahead
    int bits = 24;
    int dither = 1;
    int lookAhead = 1;

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Slot> files; // one per name: its decode, while held
    int nextTake = 0;        // the worker may decode files below nextTake + lookAhead
    int next = 0;            // the next file a worker decodes
    bool stop = false;
    std::deque<Worker> workers; // every worker started, the abandoned ones too
    int running = 0;            // workers neither ended nor abandoned

    // Starts a worker; the caller holds the mutex (or no thread runs yet).
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
            std::size_t k;
            {
                std::unique_lock lock(mutex);
                for (;;) {
                    changed.wait(lock, [&] {
                        return stop || next >= int(paths.size()) || next < nextTake + lookAhead;
                    });
                    if (stop || next >= int(paths.size())) {
                        --running;
                        changed.notify_all();
                        return;
                    }
                    k = std::size_t(next++);
                    if (int(k) >= nextTake - 1) break; // else already passed by
                }
                me.file = int(k);
                me.watch.start(me.tid);
            }
            Slot slot = decode(k);
            std::lock_guard lock(mutex);
            if (me.abandoned) { // the read returned after all: its file is long given up
                stuckThreads.fetch_sub(1);
                return;
            }
            me.file = -1;
            files[k] = std::move(slot);
            changed.notify_all();
        }
    }

    // Leaves a worker behind in its read and gives its file up as blocked; a replacement decodes
    // the files after it. The caller holds the mutex.
    void abandon(Worker& worker) {
        worker.abandoned = true;
        stuckThreads.fetch_add(1);
        --running;
        files[std::size_t(worker.file)] = Slot{SlotState::Blocked, {}, {}};
        if (!stop && next < int(paths.size()) && stuckThreads.load() < kMaxStuckThreads)
            (void)startWorker();
        changed.notify_all();
    }

    // Checks on file k while the user-interface thread waits for it (see take()). The caller
    // holds the mutex.
    void watchFile(int k) {
        for (Worker& worker : workers)
            if (!worker.abandoned && worker.file == k && worker.watch.stalled(stallBound()))
                abandon(worker);
        if (files[std::size_t(k)].state == SlotState::Pending && running == 0 && !stop)
            files[std::size_t(k)] = Slot{SlotState::Blocked, {}, {}};
    }

    // The component's decode, except that the readers may take their quicker roads to the same
    // picture (a plain PNG's image data inflated in one call).
    int decodeFile(codec::ImageFormat format, const std::string& path, codec::Raster& out) const {
        return codec::readFullSizeFast(format, path, bits, dither, out);
    }

    Slot decode(std::size_t k) {
        Slot slot;
        slot.state = SlotState::Skipped;
        if (!formats[k]) return slot;
        const std::optional<FileStamp> before = stampOf(paths[k]);
        if (!before) return slot; // a missing file is the component's to report
        try {
            slot.decode.result = decodeFile(*formats[k], paths[k], slot.decode.raster);
        } catch (...) {
            return Slot{SlotState::Skipped, {}, {}};
        }
        // A failure is left to the component's own load, which reports it in its words.
        if (!codec::succeeded(slot.decode.result)) return Slot{SlotState::Skipped, {}, {}};
        // A file that changed while it was read is read again when its turn comes.
        if (stampOf(paths[k]) != before) return Slot{SlotState::Skipped, {}, {}};
        slot.state = SlotState::Ready;
        slot.stamp = *before;
        return slot;
    }
};

DecodeAhead::DecodeAhead(const QString& directory, const QStringList& names, int bits, int dither,
                         int lookAhead)
    : state_(std::make_shared<State>()) {
    State& s = *state_;
    const QString dir = directory.endsWith(QLatin1Char('/')) ? directory : directory + '/';
    for (const QString& name : names) {
        s.paths.push_back(pixmoor::nativePath(dir + name));
        s.formats.push_back(codecFormatOf(name));
    }
    s.bits = bits;
    s.dither = dither;
    s.lookAhead = std::max(1, lookAhead);
    s.files.resize(s.paths.size());
    std::lock_guard lock(s.mutex);
    if (!s.startWorker())
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}

DecodeAhead::~DecodeAhead() {
    // Waits for the worker to leave, unless it stays quiet in a read: it is then left behind and
    // ends by itself, owning the state it uses, whenever its read returns.
    State& s = *state_;
    std::unique_lock lock(s.mutex);
    s.stop = true;
    s.changed.notify_all();
    while (s.running > 0) {
        s.changed.wait_for(lock, std::chrono::milliseconds(10));
        for (State::Worker& worker : s.workers)
            if (!worker.abandoned && worker.file >= 0 && worker.watch.stalled(kLeaveQuietWorker))
                s.abandon(worker);
    }
}

std::optional<AheadDecode> DecodeAhead::take(int k, const std::function<void()>& pump) {
    State& s = *state_;
    if (k < 0 || k >= int(s.files.size())) return std::nullopt;
    Slot slot;
    {
        std::unique_lock lock(s.mutex);
        s.nextTake = std::max(s.nextTake, k + 1);
        for (int j = 0; j < k; ++j) s.files[std::size_t(j)] = Slot{}; // frees what was skipped
        s.changed.notify_all();
        while (s.files[std::size_t(k)].state == SlotState::Pending && !s.stop) {
            if (s.changed.wait_for(lock, std::chrono::milliseconds(kWaitSliceMs)) ==
                std::cv_status::timeout) {
                s.watchFile(k);
                if (pump && s.files[std::size_t(k)].state == SlotState::Pending) {
                    lock.unlock();
                    pump();
                    lock.lock();
                }
            }
        }
        slot = std::move(s.files[std::size_t(k)]);
        s.files[std::size_t(k)] = Slot{};
    }
    if (slot.state == SlotState::Blocked) {
        AheadDecode blocked;
        blocked.result = codec::ReadFailed;
        blocked.blocked = true;
        return blocked;
    }
    if (slot.state != SlotState::Ready) return std::nullopt;
    // Our own saves replace files by renaming: a file written since it was decoded (a conversion
    // onto a later item's name) is read again, as it would have been without decoding ahead.
    if (stampOf(s.paths[std::size_t(k)]) != slot.stamp) return std::nullopt;
    return std::move(slot.decode);
}

} // namespace pixmoor
