#include "run_registry.hpp"

#include <condition_variable>
#include <optional>

namespace norvo::transport {

// The reply to one callback, or the news that none will come. Its own lock is
// held only to set or read the outcome.
class CallbackWaiter {
  public:
    void settle(wire::RpcStatus status) {
        {
            MutexLock lock(mutex_);
            if (!outcome_)
                outcome_ = status;
        }
        settled_.notify_all();
    }

    wire::RpcStatus wait() {
        MutexLock lock(mutex_);
        settled_.wait(lock.native(), [&]() REQUIRES(mutex_) { return outcome_.has_value(); });
        return *outcome_;
    }

  private:
    Mutex mutex_;
    std::condition_variable settled_;
    std::optional<wire::RpcStatus> outcome_ GUARDED_BY(mutex_);
};

std::uint64_t RunRegistry::begin_run(const wire::ContextToken& context) {
    MutexLock lock(mutex_);
    runs_.emplace(++next_run_, Run{.context = context});
    return next_run_;
}

void RunRegistry::end_run(std::uint64_t run) {
    MutexLock lock(mutex_);
    runs_.erase(run);
}

bool RunRegistry::must_stop_itself(std::uint64_t run) {
    MutexLock lock(mutex_);
    const auto found = runs_.find(run);
    if (!ended_ || found == runs_.end() || found->second.state == RunState::Stopped)
        return false;
    found->second.state = RunState::Stopped;
    return true;
}

wire::RpcStatus RunRegistry::exchange(
    std::uint64_t run, const std::function<wire::RpcStatus(std::uint32_t sequence)>& send) {
    auto waiter = std::make_shared<CallbackWaiter>();
    std::uint32_t sequence = 0;
    {
        MutexLock lock(mutex_);
        if (ended_)
            return wire::status::call_failed;
        if (auto found = runs_.find(run);
            found != runs_.end() && found->second.state == RunState::Starting) {
            found->second.state = RunState::Looping;
        }
        sequence = ++next_sequence_;
        waiting_.emplace(sequence, waiter);
    }
    if (const auto sent = send(sequence); sent != wire::status::ok)
        waiter->settle(sent);
    const auto status = waiter->wait();
    MutexLock lock(mutex_);
    waiting_.erase(sequence);
    return status;
}

void RunRegistry::settle(std::uint32_t sequence, wire::RpcStatus status) {
    std::shared_ptr<CallbackWaiter> waiter;
    {
        MutexLock lock(mutex_);
        if (auto found = waiting_.find(sequence); found != waiting_.end())
            waiter = found->second;
    }
    if (waiter)
        waiter->settle(status);
}

std::vector<wire::ContextToken> RunRegistry::end(bool stop_runs) {
    std::vector<std::shared_ptr<CallbackWaiter>> waiting;
    std::vector<wire::ContextToken> looping;
    {
        MutexLock lock(mutex_);
        ended_ = true;
        for (const auto& [sequence, waiter] : waiting_) waiting.push_back(waiter);
        for (auto& [key, run] : runs_) {
            if (run.state == RunState::Looping && stop_runs)
                looping.push_back(run.context);
            // Left to the rundown, which waits for the lease a starting run holds.
            if (run.state == RunState::Looping || !stop_runs)
                run.state = RunState::Stopped;
        }
    }
    for (const auto& waiter : waiting) waiter->settle(wire::status::call_failed);
    return looping;
}

}  // namespace norvo::transport
