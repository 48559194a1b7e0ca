#include "server/CommandWorkers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Tasks that wait for one another run at once, each on its own worker, up
// to the cap: a waiting command never holds up the next.
TEST(CommandWorkers, BlockedTasksDoNotHoldUpNewOnes) {
    CommandWorkers workers(8, 1s);
    std::mutex m;
    std::condition_variable cv;
    int arrived = 0;
    for (int i = 0; i < 5; ++i) {
        workers.post([&] {
            std::unique_lock lock(m);
            ++arrived;
            cv.notify_all();
            cv.wait_for(lock, 5s, [&] { return arrived >= 5; });
        });
    }
    std::unique_lock lock(m);
    EXPECT_TRUE(cv.wait_for(lock, 5s, [&] { return arrived == 5; }));
}

TEST(CommandWorkers, AtTheCapTasksQueueAndAllRun) {
    CommandWorkers workers(2, 1s);
    std::atomic<int> running{0}, most{0}, done{0};
    for (int i = 0; i < 20; ++i) {
        workers.post([&] {
            const int now = ++running;
            int seen = most.load();
            while (now > seen && !most.compare_exchange_weak(seen, now)) {
            }
            std::this_thread::sleep_for(2ms);
            --running;
            ++done;
        });
    }
    for (int i = 0; i < 500 && done < 20; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(done.load(), 20);
    EXPECT_LE(most.load(), 2);
    EXPECT_LE(workers.workerCount(), 2u);
}

TEST(CommandWorkers, IdleWorkersEndAndAThrowingTaskEndsNone) {
    CommandWorkers workers(4, 50ms);
    std::atomic<bool> ran{false};
    workers.post([] { throw 42; });
    workers.post([&] { ran = true; });
    for (int i = 0; i < 200 && !ran; ++i) std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(ran);
    for (int i = 0; i < 200 && workers.workerCount() != 0; ++i) std::this_thread::sleep_for(5ms);
    EXPECT_EQ(workers.workerCount(), 0u);
    // A new task after they ended starts a worker again.
    std::atomic<bool> again{false};
    workers.post([&] { again = true; });
    for (int i = 0; i < 200 && !again; ++i) std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(again);
}

}  // namespace
