#include "worker_threads.hpp"

#include <system_error>

#include "norvo/rpc/log_target.hpp"

namespace norvo::transport {

WorkerThreads::~WorkerThreads() {
    std::vector<std::thread> ended;
    {
        MutexLock lock(mutex_);
        stopping_ = true;
        wake_.notify_all();
        quiet_.wait(lock.native(), [&]() REQUIRES(mutex_) { return threads_.empty(); });
        ended.swap(ended_);
    }
    for (auto& thread : ended) thread.join();
}

bool WorkerThreads::submit(Task task) {
    std::vector<std::thread> ended;
    bool taken = false;
    {
        MutexLock lock(mutex_);
        ended.swap(ended_);
        taken = submit_locked(task);
    }
    // These have left work() already: joining them costs no wait.
    for (auto& thread : ended) thread.join();
    return taken;
}

bool WorkerThreads::submit_locked(Task& task) {
    if (stopping_)
        return false;
    if (idle_ > tasks_.size() ||
        (shape_.queue_when_busy && threads_.size() >= shape_.max_threads)) {
        tasks_.push_back(std::move(task));
        wake_.notify_one();
        return true;
    }
    if (threads_.size() >= shape_.max_threads)
        return false;
    tasks_.push_back(std::move(task));
    if (!add_thread_locked()) {
        tasks_.pop_back();
        return false;
    }
    return true;
}

void WorkerThreads::wait_until_idle() {
    MutexLock lock(mutex_);
    quiet_.wait(lock.native(),
                [&]() REQUIRES(mutex_) { return tasks_.empty() && idle_ == threads_.size(); });
}

bool WorkerThreads::start_floor() {
    MutexLock lock(mutex_);
    while (threads_.size() < shape_.floor) {
        if (!add_thread_locked())
            return false;
    }
    return true;
}

// The new thread waits for mutex_ before it looks itself up.
bool WorkerThreads::add_thread_locked() {
    try {
        std::thread thread([this] { work(); });
        const auto id = thread.get_id();
        threads_.emplace(id, std::move(thread));
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void WorkerThreads::work() {
    MutexLock lock(mutex_);
    for (;;) {
        if (++idle_ == threads_.size() && tasks_.empty())
            quiet_.notify_all();
        const auto ready = [&]() REQUIRES(mutex_) { return stopping_ || !tasks_.empty(); };
        // Only threads above the floor time out; the floor waits for nothing but work.
        if (threads_.size() > shape_.floor) {
            (void)wake_.wait_for(lock.native(), shape_.idle_time, ready);
        } else {
            wake_.wait(lock.native(), ready);
        }
        --idle_;
        if (tasks_.empty()) {
            if (stopping_) {
                retire_locked();
                return;
            }
            if (threads_.size() <= shape_.floor)
                continue;  // timed out, but others left first: this one is the floor now
            const auto left = retire_locked();
            lock.unlock();
            // The pool may go from here on, and joins this thread first.
            rpc::kLog.debug("Idle worker thread ended, {} left", left);
            return;
        }
        Task task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task();
        task = nullptr;  // whatever the task held goes before the next wait
        lock.lock();
    }
}

std::size_t WorkerThreads::retire_locked() {
    const auto self = threads_.find(std::this_thread::get_id());
    ended_.push_back(std::move(self->second));
    threads_.erase(self);
    quiet_.notify_all();
    return threads_.size();
}

}  // namespace norvo::transport
