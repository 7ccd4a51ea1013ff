// The pool that runs the calls which may wait: every task it takes runs, on an idle
// thread or a new one, never left in its queue with no thread to run it.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <vector>

#include "worker_threads.hpp"

namespace {

using norvo::transport::WorkerThreads;
using namespace std::chrono_literals;

// Tasks that each say they run, then hold their thread until let go.
class HeldTasks {
  public:
    explicit HeldTasks(std::size_t count) : started_(count) {}
    ~HeldTasks() { let_go(); }

    WorkerThreads::Task task(std::size_t i) {
        return [this, i] {
            started_[i].set_value();
            release_.wait();
        };
    }
    // Whether task i ran within a few seconds.
    bool ran(std::size_t i) { return futures_.at(i).wait_for(5s) == std::future_status::ready; }
    void take_futures() {
        for (auto& started : started_) futures_.push_back(started.get_future());
    }
    void let_go() {
        if (!let_go_) {
            let_go_ = true;
            go_.set_value();
        }
    }

  private:
    std::vector<std::promise<void>> started_;
    std::vector<std::future<void>> futures_;
    std::promise<void> go_;
    std::shared_future<void> release_ = go_.get_future().share();
    bool let_go_ = false;
};

// Each task submitted while the others still hold their threads runs at once, in a
// pool that has no thread yet or one idle.
TEST(WorkerThreads, EveryTaskTakenRunsWhileOthersHoldTheirThreads) {
    for (const bool warm : {false, true}) {
        SCOPED_TRACE(warm ? "one idle thread" : "no thread yet");
        constexpr std::size_t kTasks = 6;
        HeldTasks tasks(kTasks);  // outlives the pool, which joins its threads
        tasks.take_futures();
        WorkerThreads pool({.max_threads = 8});
        if (warm) {
            std::promise<void> done;
            ASSERT_TRUE(pool.submit([&] { done.set_value(); }));
            ASSERT_EQ(done.get_future().wait_for(5s), std::future_status::ready);
            pool.wait_until_idle();
        }
        for (std::size_t i = 0; i < kTasks; ++i) {
            ASSERT_TRUE(pool.submit(tasks.task(i)));
            ASSERT_TRUE(tasks.ran(i)) << "task " << i << " was queued with no thread to run it";
        }
        tasks.let_go();
    }
}

// Past its threads a pool refuses a task, or, when it queues, runs it once a thread is free.
TEST(WorkerThreads, PastItsThreadsItRefusesOrQueues) {
    for (const bool queues : {false, true}) {
        SCOPED_TRACE(queues ? "queues" : "refuses");
        HeldTasks tasks(2);
        tasks.take_futures();
        WorkerThreads pool({.max_threads = 1, .floor = 1, .queue_when_busy = queues});
        ASSERT_TRUE(pool.submit(tasks.task(0)));
        ASSERT_TRUE(tasks.ran(0));
        EXPECT_EQ(pool.submit(tasks.task(1)), queues);
        tasks.let_go();
        if (queues) {
            EXPECT_TRUE(tasks.ran(1)) << "the queued task never ran";
        }
    }
}

}  // namespace
