// Thread activity from the kernel's per-thread accounting (see thread_activity.h).
#include "platform/thread_activity.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace pixmoor {

namespace {

constexpr std::chrono::milliseconds kDefaultStallBound{10000};
std::atomic<long long> stallBoundMs{kDefaultStallBound.count()};

// The whole of a small /proc file, empty when it cannot be read.
std::string readProcFile(const std::string& path) {
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buffer[1024];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, std::size_t(n));
        if (text.size() > 16384) break; // these files are a few hundred bytes
    }
    ::close(fd);
    return text;
}

// The number after "key" at the start of a line of text, or nullopt.
std::optional<std::uint64_t> field(const std::string& text, const char* key) {
    const std::size_t length = std::strlen(key);
    for (std::size_t line = 0; line < text.size();) {
        if (text.compare(line, length, key) == 0) {
            const char* start = text.c_str() + line + length;
            char* end = nullptr;
            const unsigned long long value = std::strtoull(start, &end, 10);
            if (end != start) return value;
            return std::nullopt;
        }
        const std::size_t next = text.find('\n', line);
        if (next == std::string::npos) break;
        line = next + 1;
    }
    return std::nullopt;
}

struct Sample {
    std::uint64_t work = 0; // processor time plus bytes read
    bool runnable = false;  // running or waiting for a processor: not blocked
};

// The state letter and user plus system time in clock ticks (fields 3, 14 and 15 of the stat
// line), counted after the command name, which is in parentheses and may itself hold spaces and
// parentheses.
std::optional<Sample> statSample(const std::string& stat) {
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    const char* p = stat.c_str() + close + 1;
    Sample sample;
    for (int index = 3; index <= 15; ++index) {
        while (*p == ' ') ++p;
        if (*p == '\0') return std::nullopt;
        if (index == 3) sample.runnable = *p == 'R';
        if (index >= 14) {
            char* end = nullptr;
            const unsigned long long value = std::strtoull(p, &end, 10);
            if (end == p) return std::nullopt;
            sample.work += value;
            p = end;
        } else {
            while (*p != ' ' && *p != '\0') ++p;
        }
    }
    return sample;
}

std::optional<Sample> sampleThread(pid_t tid) {
    const std::string task = "/proc/self/task/" + std::to_string(tid);
    std::optional<Sample> sample = statSample(readProcFile(task + "/stat"));
    if (!sample) return std::nullopt;
    // The scheduler's run time in nanoseconds is finer than the ticks, where the kernel keeps it.
    const std::string schedstat = readProcFile(task + "/schedstat");
    char* end = nullptr;
    const unsigned long long runTime = std::strtoull(schedstat.c_str(), &end, 10);
    if (end != schedstat.c_str()) sample->work = runTime;
    // Bytes read and written (a cache entry being stored counts too). Kernels without per-task
    // I/O accounting still give the processor time.
    const std::string io = readProcFile(task + "/io");
    sample->work += field(io, "rchar:").value_or(0) + field(io, "wchar:").value_or(0);
    return sample;
}

} // namespace

pid_t currentThreadId() {
    return ::gettid();
}

std::optional<std::uint64_t> threadActivity(pid_t tid) {
    const std::optional<Sample> sample = sampleThread(tid);
    if (!sample) return std::nullopt;
    return sample->work;
}

std::chrono::milliseconds stallBound() {
    return std::chrono::milliseconds(stallBoundMs.load(std::memory_order_relaxed));
}

void setStallBound(std::chrono::milliseconds bound) {
    stallBoundMs.store(bound.count() > 0 ? bound.count() : kDefaultStallBound.count(),
                       std::memory_order_relaxed);
}

void StallWatch::start(pid_t tid) {
    tid_ = tid;
    last_ = threadActivity(tid);
    since_ = std::chrono::steady_clock::now();
}

bool StallWatch::stalled(std::chrono::milliseconds bound) {
    const auto now = std::chrono::steady_clock::now();
    const std::optional<Sample> sample = sampleThread(tid_);
    const std::optional<std::uint64_t> activity =
        sample ? std::optional<std::uint64_t>(sample->work) : std::nullopt;
    // A thread that waits for a processor on a busy machine is not blocked, however long.
    if (activity != last_ || (sample && sample->runnable)) {
        last_ = activity;
        since_ = now;
    }
    return now - since_ >= bound;
}

} // namespace pixmoor
