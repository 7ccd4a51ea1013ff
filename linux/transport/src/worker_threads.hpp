#pragma once
// Threads for the work that may block: a sensor run, a close that waits for
// one, a rundown. A task gets an idle thread or a new one; threads stay for
// later tasks, down to a floor after they have been idle a while, and are
// joined when the pool goes.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <thread>
#include <vector>
#include "norvo/mutex.hpp"

namespace norvo::transport {

class WorkerThreads {
  public:
    using Task = std::move_only_function<void()>;

    struct Shape {
        std::size_t max_threads;
        std::size_t floor = 4;  // idle threads kept however long they idle
        std::chrono::milliseconds idle_time{30'000};
        // Past max_threads a task waits for a thread instead of being refused.
        bool queue_when_busy = false;
    };

    explicit WorkerThreads(Shape shape) : shape_(shape) {}
    // Runs every task already given, then joins.
    ~WorkerThreads();
    WorkerThreads(const WorkerThreads&) = delete;
    WorkerThreads& operator=(const WorkerThreads&) = delete;

    // False, with the task dropped, when no thread can be had or the pool is going.
    bool submit(Task task);
    // Starts the floor's threads now, for a pool that must never lack one.
    bool start_floor();
    // Returns once no task waits or runs: for checks that every task let go of
    // what it held.
    void wait_until_idle();

  private:
    bool submit_locked(Task& task) REQUIRES(mutex_);
    bool add_thread_locked() REQUIRES(mutex_);
    void work();
    // Under mutex_: hands the calling thread's own handle over to be joined;
    // the threads left.
    std::size_t retire_locked() REQUIRES(mutex_);

    const Shape shape_;
    Mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable quiet_;  // a thread retired, or went idle with nothing queued
    std::deque<Task> tasks_ GUARDED_BY(mutex_);
    std::map<std::thread::id, std::thread> threads_ GUARDED_BY(mutex_);
    std::vector<std::thread> ended_ GUARDED_BY(mutex_);  // returned from work(), not yet joined
    std::size_t idle_ GUARDED_BY(mutex_) = 0;
    bool stopping_ GUARDED_BY(mutex_) = false;
};

}  // namespace norvo::transport
