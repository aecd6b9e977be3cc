// Tests of background thread priority: only the calling thread is lowered, by the set amount.
#include "platform/thread_priority.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

int niceOfThisThread() {
    return ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
}

} // namespace

TEST(ThreadPriority, OnlyTheCallingThreadIsLowered) {
    const int before = niceOfThisThread();
    int inWorker = -100, workerBefore = -100;
    bool lowered = false;
    std::thread worker([&] {
        workerBefore = niceOfThisThread();
        lowered = pixmoor::lowerCurrentThreadPriority();
        inWorker = niceOfThisThread();
    });
    worker.join();
    ASSERT_TRUE(lowered);
    EXPECT_EQ(inWorker, std::min(19, workerBefore + pixmoor::kBackgroundNice));
    EXPECT_EQ(niceOfThisThread(), before);
}
