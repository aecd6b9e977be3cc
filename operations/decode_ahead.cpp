// Decoding ahead for conversion (see decode_ahead.h).
#include "operations/decode_ahead.h"

#include "imaging/TMultiP.h"
#include "imaging/codec/errors.h"
#include "imaging/codec/format_table.h"
#include "imaging/codec/raster_sink.h"
#include "imaging/file_types.h"
#include "platform/file_name.h"

#include <QFile>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sys/stat.h>
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

enum class SlotState { Pending, Ready, Skipped };

struct Slot {
    SlotState state = SlotState::Pending;
    AheadDecode decode;
    FileStamp stamp;
};

} // namespace

struct DecodeAhead::State {
    std::vector<std::string> paths;                         // absolute, in the file system's bytes
    std::vector<std::optional<codec::ImageFormat>> formats; // null: not decoded ahead
    int bits = 24;
    int dither = 1;
    int lookAhead = 1;

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Slot> files; // one per name: its decode, while held
    int nextTake = 0;        // the worker may decode files below nextTake + lookAhead
    bool stop = false;
    std::thread worker;

    void run() {
        for (std::size_t k = 0; k < paths.size(); ++k) {
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return stop || int(k) < nextTake + lookAhead; });
                if (stop) return;
                if (int(k) < nextTake - 1) continue; // already passed by
            }
            Slot slot = decode(k);
            std::lock_guard lock(mutex);
            files[k] = std::move(slot);
            changed.notify_all();
        }
    }

    // The component's decode, except that the readers may take their quicker roads to the same
    // picture (a plain PNG's image data inflated in one call); JPEG has none at full size.
    int decodeFile(codec::ImageFormat format, const std::string& path, codec::Raster& out) const {
        if (format == codec::ImageFormat::Jpeg)
            return TPMultiImage::decodeImageFile(format, path, bits, dither, out);
        codec::DecodeOptions options;
        options.fastPaths = true;
        return codec::detail::readThroughSink(codec::formatEntry(format).decode, path, options,
                                              bits, dither, out);
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
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    const QString dir = directory.endsWith(QLatin1Char('/')) ? directory : directory + '/';
    for (const QString& name : names) {
        s.paths.push_back(pixmoor::nativePath(dir + name));
        const FileType type = fileTypeOf(name);
        s.formats.push_back(type.kind == FileKind::Image
                                ? std::optional<codec::ImageFormat>(type.format)
                                : std::nullopt);
    }
    s.bits = bits;
    s.dither = dither;
    s.lookAhead = std::max(1, lookAhead);
    s.files.resize(s.paths.size());
    s.worker = std::thread([&s] { s.run(); });
}

DecodeAhead::~DecodeAhead() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stop = true;
    }
    state_->changed.notify_all();
    if (state_->worker.joinable()) state_->worker.join();
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
                    std::cv_status::timeout &&
                pump) {
                lock.unlock();
                pump();
                lock.lock();
            }
        }
        slot = std::move(s.files[std::size_t(k)]);
        s.files[std::size_t(k)] = Slot{};
    }
    if (slot.state != SlotState::Ready) return std::nullopt;
    // Our own saves replace files by renaming: a file written since it was decoded (a conversion
    // onto a later item's name) is read again, as it would have been without decoding ahead.
    if (stampOf(s.paths[std::size_t(k)]) != slot.stamp) return std::nullopt;
    return std::move(slot.decode);
}

} // namespace pixmoor
