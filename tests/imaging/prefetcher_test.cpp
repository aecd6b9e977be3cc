// Tests of the ordered prefetcher with work that reads real files: order and failures in their
// place, the look-ahead bound, files passed over, the pump and cancelling, and a read that never
// returns (served by the blocking FUSE file system).
#include "imaging/prefetcher.h"
#include "platform/thread_activity.h"
#include "tests/support/blocking_fuse.h"
#include "tests/support/poll.h"
#include "tests/support/test_dirs.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using pixmoor::Prefetcher;
using pixmoor::test::TempDir;
using Outcome = Prefetcher::Outcome;

// Files f0 .. f(count-1), each holding its own index, except the missing ones.
std::vector<std::string> writeFiles(const TempDir& dir, int count, const std::set<int>& missing) {
    std::vector<std::string> paths;
    for (int k = 0; k < count; ++k) {
        paths.push_back(dir.file("f" + std::to_string(k)));
        if (!missing.count(k)) std::ofstream(paths.back()) << k;
    }
    return paths;
}

// The number a file holds, or nothing when it cannot be read.
std::any readNumber(const std::string& path) {
    int n = -1;
    if (!(std::ifstream(path) >> n)) return {};
    return n;
}

// What the workers did, checked against the consumer's position.
struct Record {
    std::mutex mutex;
    std::multiset<int> worked; // every file worked on, as often as it was
    int taken = -1;            // the last file taken
    int beyondLookAhead = 0;

    void work(int k, int lookAhead) {
        std::lock_guard lock(mutex);
        worked.insert(k);
        if (k > taken + lookAhead) ++beyondLookAhead;
    }
    void take(int k) {
        std::lock_guard lock(mutex);
        taken = k;
    }
};

TEST(Prefetcher, ResultsComeInOrderWithinTheLookAheadAndFailuresKeepTheirPlace) {
    TempDir dir;
    constexpr int kFiles = 40;
    const std::set<int> missing{0, 7, 23, 39};
    const std::vector<std::string> paths = writeFiles(dir, kFiles, missing);
    const struct { int workers, lookAhead; } cases[] = {{1, 1}, {1, 3}, {2, 4}, {4, 2}, {3, 16}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.workers) + " workers, " + std::to_string(c.lookAhead));
        auto record = std::make_shared<Record>();
        Prefetcher prefetcher(
            kFiles,
            [paths, record, lookAhead = c.lookAhead](int k, const std::atomic<bool>&) {
                record->work(k, lookAhead);
                return readNumber(paths[std::size_t(k)]);
            },
            {c.workers, c.lookAhead, std::chrono::milliseconds(10), {}});
        EXPECT_EQ(prefetcher.workerCount(), c.workers);
        EXPECT_EQ(prefetcher.count(), kFiles);
        for (int k = 0; k < kFiles; ++k) {
            record->take(k);
            Prefetcher::Taken taken = prefetcher.take(k, {});
            EXPECT_LE(prefetcher.claimed(), k + 1 + c.lookAhead);
            if (missing.count(k)) {
                EXPECT_EQ(taken.outcome, Outcome::Failed) << k;
                continue;
            }
            ASSERT_EQ(taken.outcome, Outcome::Ready) << k;
            EXPECT_EQ(std::any_cast<int>(taken.value), k);
            EXPECT_FALSE(prefetcher.blocked(k));
        }
        EXPECT_EQ(record->beyondLookAhead, 0);
        EXPECT_EQ(record->worked.size(), std::size_t(kFiles)); // each file once: all are taken
        // Taken, out of range: nothing, at once.
        for (int k : {0, kFiles - 1, kFiles, -1})
            EXPECT_EQ(prefetcher.take(k, {}).outcome, Outcome::None) << k;
    }
}

TEST(Prefetcher, FilesPassedOverAreDroppedAndNeverWorkedOn) {
    TempDir dir;
    constexpr int kFiles = 40, kLookAhead = 3;
    const std::vector<std::string> paths = writeFiles(dir, kFiles, {});
    auto record = std::make_shared<Record>();
    Prefetcher prefetcher(kFiles,
                          [paths, record](int k, const std::atomic<bool>&) {
                              record->work(k, kLookAhead);
                              return readNumber(paths[std::size_t(k)]);
                          },
                          {2, kLookAhead, std::chrono::milliseconds(10), {}});
    record->take(30);
    ASSERT_EQ(prefetcher.take(30, {}).outcome, Outcome::Ready);
    EXPECT_EQ(prefetcher.take(5, {}).outcome, Outcome::None); // dropped when 30 was taken
    ASSERT_EQ(prefetcher.take(31, {}).outcome, Outcome::Ready);
    // Before the first take no worker went past the look-ahead; after it, past the files skipped.
    for (int k = kLookAhead; k < 30; ++k) EXPECT_FALSE(record->worked.count(k)) << k;
}

// Work on file 0 that needs the consumer's pump to have run (so it finishes only if take()
// pumps while it waits); file 1's work goes on until the test releases it.
TEST(Prefetcher, WaitingRunsThePumpAndCancelEndsTheWaitAndTellsTheWork) {
    std::atomic<int> pumped{0};
    std::atomic<bool> released{false}, sawCancel{false};
    const auto waitFor = [](const std::function<bool()>& condition) {
        return pixmoor::test::pollUntil(condition, std::chrono::minutes(1));
    };
    Prefetcher prefetcher(8,
                          [&](int k, const std::atomic<bool>& cancel) -> std::any {
                              if (k == 0)
                                  return waitFor([&] { return pumped.load() >= 3; }) ? std::any(0)
                                                                                     : std::any();
                              waitFor([&] { return released.load(); });
                              sawCancel = cancel.load();
                              return k;
                          },
                          {1, 2, std::chrono::milliseconds(10), {}});
    const std::function<void()> pump = [&] { ++pumped; };
    EXPECT_EQ(prefetcher.take(0, pump).outcome, Outcome::Ready);

    // Cancelled from another thread once the consumer waits for file 1.
    const int before = pumped.load();
    std::thread canceller([&] {
        if (waitFor([&] { return pumped.load() > before; })) prefetcher.cancel();
    });
    EXPECT_EQ(prefetcher.take(1, pump).outcome, Outcome::None);
    canceller.join();
    released = true;
    EXPECT_TRUE(prefetcher.cancelled());
    EXPECT_TRUE(waitFor([&] { return sawCancel.load(); }));
    EXPECT_EQ(prefetcher.take(2, pump).outcome, Outcome::None);
    prefetcher.cancel(); // twice is fine

    Prefetcher none(8, [](int, const std::atomic<bool>&) { return std::any(1); }, {0, 2});
    EXPECT_EQ(none.workerCount(), 0);
    EXPECT_TRUE(none.cancelled());
    EXPECT_EQ(none.take(0, {}).outcome, Outcome::None);
}

// A file whose read never returns (on a mount that stopped answering) among readable ones.
TEST(Prefetcher, AReadThatNeverReturnsIsGivenUpAndNeverHoldsTheTakeOrTheDestructor) {
    pixmoor::test::BlockingFuse fuse;
    if (!fuse.mounted()) GTEST_SKIP() << "FUSE cannot be mounted here: " << fuse.failure();
    TempDir dir;
    constexpr int kFiles = 12, kStuck = 5;
    std::vector<std::string> paths = writeFiles(dir, kFiles, {});
    paths[kStuck] = fuse.hangingFile();
    const auto work = [paths](int k, const std::atomic<bool>&) {
        return readNumber(paths[std::size_t(k)]);
    };
    struct RestoreBound {
        ~RestoreBound() { pixmoor::setStallBound(std::chrono::milliseconds(0)); }
    } restore;

    pixmoor::setStallBound(std::chrono::seconds(1));
    {
        Prefetcher prefetcher(kFiles, work, {2, 4, std::chrono::milliseconds(10), {}});
        for (int k = 0; k < kFiles; ++k) {
            const Prefetcher::Taken taken = prefetcher.take(k, {});
            EXPECT_EQ(prefetcher.blocked(k), k == kStuck) << k;
            if (k == kStuck) {
                EXPECT_EQ(taken.outcome, Outcome::Blocked);
                continue;
            }
            ASSERT_EQ(taken.outcome, Outcome::Ready) << k;
            EXPECT_EQ(std::any_cast<int>(taken.value), k);
        }
    }
    EXPECT_EQ(fuse.waitingReads(), 1); // tried once, then left alone

    // Destroyed while a worker waits in the read, long before the bound would give it up.
    pixmoor::setStallBound(std::chrono::hours(1));
    {
        Prefetcher prefetcher(kFiles, work, {2, 8, std::chrono::milliseconds(10), {}});
        pixmoor::test::pollUntil([&] { return fuse.waitingReads() >= 2; }, std::chrono::minutes(1));
        ASSERT_EQ(fuse.waitingReads(), 2);
        ASSERT_EQ(prefetcher.take(0, {}).outcome, Outcome::Ready);
    }
}

} // namespace
