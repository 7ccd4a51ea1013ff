#pragma once
// Threads for the work that may block: serving a connection, a sensor run, a
// close that waits for one. A task gets an idle thread or a new one; threads
// stay for later tasks and are joined when the pool goes.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace norvo::transport {

class WorkerThreads {
  public:
    using Task = std::move_only_function<void()>;

    explicit WorkerThreads(std::size_t max_threads) : max_threads_(max_threads) {}
    // Runs every task already given, then joins.
    ~WorkerThreads();
    WorkerThreads(const WorkerThreads&) = delete;
    WorkerThreads& operator=(const WorkerThreads&) = delete;

    // False, with the task dropped, when no thread can be had or the pool is going.
    bool submit(Task task);

  private:
    void work();

    const std::size_t max_threads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> tasks_;
    std::vector<std::thread> threads_;
    std::size_t idle_ = 0;
    bool stopping_ = false;
};

}  // namespace norvo::transport
