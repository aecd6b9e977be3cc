// Telling a worker thread that works from one that waits for ever: the kernel's accounting of
// the bytes a thread's reads returned and its writes took, and of the processor time it used. A
// thread blocked in a read that never returns (a file on a dead network or FUSE mount) shows
// none of them however long it waits, while a slow but living read or a long decode shows one.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <sys/types.h>

namespace pixmoor {

// The calling thread's id in the kernel.
pid_t currentThreadId();

// A number that grows whenever thread tid of this process completes a read or a write or uses
// processor time; nullopt when the thread has ended or its accounting cannot be read.
std::optional<std::uint64_t> threadActivity(pid_t tid);

// How long a worker may show no activity at all before the file it reads is given up as blocked:
// generous, since only a read that does not return at all stays that quiet.
std::chrono::milliseconds stallBound();
// Sets that bound for the whole process (tests shorten it); zero or less restores the default.
void setStallBound(std::chrono::milliseconds bound);

// Watches one thread's work on one file.
class StallWatch {
public:
    // Starts watching thread tid from now.
    void start(pid_t tid);
    // Whether the thread has shown no activity for at least bound (no read completed, no
    // processor time used, never found running or runnable): since start(), or since the last
    // call that saw activity.
    bool stalled(std::chrono::milliseconds bound);

private:
    pid_t tid_ = 0;
    std::optional<std::uint64_t> last_;
    std::chrono::steady_clock::time_point since_;
};

} // namespace pixmoor
