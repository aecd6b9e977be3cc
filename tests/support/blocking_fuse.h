// A FUSE file system that stands in for a dead network or FUSE mount: its file "hang" opens and
// reports its size, but a read of it is never answered until the file system goes away; its file
// "eio" fails every read with EIO, as a damaged disk would. It is served by a child process, so
// that however the test process ends, the child's end aborts the connection and frees the
// threads waiting in its reads (a server inside the test process could not answer once the
// process is dying, and its dying threads would wait for ever). Mounting needs root and
// /dev/fuse: tests skip when mounted() is false.
#pragma once

#include "tests/support/test_dirs.h"

#include <atomic>
#include <string>
#include <sys/types.h>

namespace pixmoor::test {

class BlockingFuse {
public:
    // Mounts the file system on a fresh temporary folder and starts serving it.
    BlockingFuse();
    // Ends the file system: every read still waiting for an answer fails, so the threads left in
    // them return, and the mount is detached.
    ~BlockingFuse();
    BlockingFuse(const BlockingFuse&) = delete;
    BlockingFuse& operator=(const BlockingFuse&) = delete;

    bool mounted() const { return server_ > 0; }
    // Why mounting failed, for the skip message.
    const std::string& failure() const { return failure_; }

    // The absolute paths of the two files.
    std::string hangingFile() const { return dir_.file("hang"); }
    std::string failingFile() const { return dir_.file("eio"); }

    // Reads of "hang" received so far (each still waiting).
    int waitingReads() const { return waitingReads_->load(); }

private:
    TempDir dir_;
    std::string failure_;
    std::atomic<int>* waitingReads_ = nullptr; // shared with the server process
    pid_t server_ = -1;
};

} // namespace pixmoor::test
