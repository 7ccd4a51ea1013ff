#include "worker_threads.hpp"

#include <system_error>

namespace norvo::transport {

WorkerThreads::~WorkerThreads() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto& thread : threads_) thread.join();
}

bool WorkerThreads::submit(Task task) {
    std::lock_guard lock(mutex_);
    if (stopping_)
        return false;
    if (idle_ > tasks_.size()) {
        tasks_.push_back(std::move(task));
        wake_.notify_one();
        return true;
    }
    if (threads_.size() >= max_threads_)
        return false;
    tasks_.push_back(std::move(task));
    try {
        threads_.emplace_back([this] { work(); });
    } catch (const std::system_error&) {
        tasks_.pop_back();
        return false;
    }
    return true;
}

void WorkerThreads::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        ++idle_;
        wake_.wait(lock, [&] { return stopping_ || !tasks_.empty(); });
        --idle_;
        if (tasks_.empty())
            return;
        Task task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task();
        task = nullptr;  // whatever the task held goes before the next wait
        lock.lock();
    }
}

}  // namespace norvo::transport
