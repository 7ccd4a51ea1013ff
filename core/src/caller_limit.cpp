#include "norvo/caller_limit.hpp"

#include <fmt/format.h>

#include <source_location>

namespace norvo::log {

CallerLimit::CallerLimit(std::shared_ptr<Clock> clock, std::shared_ptr<Sink> summaries,
                         std::string_view target, LineLimitShape shape)
    : clock_(std::move(clock)),
      summaries_(std::move(summaries)),
      target_(target),
      wakeup_(clock_->make_wakeup()),
      buckets_(shape),
      thread_([this] { run(); }) {}

CallerLimit::~CallerLimit() {
    {
        MutexLock lock(mutex_);
        stopping_ = true;
    }
    wakeup_->notify();
    thread_.join();
}

bool CallerLimit::admit(std::string_view caller) {
    if (caller.empty())
        return true;
    AccountBuckets::Verdict verdict;
    {
        MutexLock lock(mutex_);
        verdict = buckets_.admit(caller, clock_->now());
    }
    // A new summary may be due before the one the thread waits for.
    if (verdict == AccountBuckets::Verdict::hold_first)
        wakeup_->notify();
    return verdict == AccountBuckets::Verdict::write;
}

void CallerLimit::run() {
    for (;;) {
        std::vector<HeldBack> held;
        std::optional<Instant> next;
        bool stop = false;
        {
            MutexLock lock(mutex_);
            stop = stopping_;
            held = stop ? buckets_.take_all() : buckets_.take_due(clock_->now());
            next = buckets_.next_due();
        }
        write(held);
        if (stop)
            return;
        wakeup_->wait(next);
    }
}

// Whatever the level: the lines held would have been written, as the sink accepted them.
void CallerLimit::write(const std::vector<HeldBack>& held) const {
    const auto where = std::source_location::current();
    for (const auto& h : held) {
        const auto message =
            h.account.empty()
                ? fmt::format("{} lines caused by other accounts held back", h.lines)
                : fmt::format("{} lines caused by account {} held back", h.lines, h.account);
        summaries_->write({Level::Warn, target_, where.file_name(),
                           static_cast<std::uint32_t>(where.line()), message});
    }
}

void CallerLimitedSink::write(const Record& record) {
    if (record.level <= Level::Info && !limit_->admit(record.caller))
        return;
    inner_->write(record);
}

void CallerLimitedOutput::write_line(std::string_view line) {
    if (limit_->admit(current_caller()))
        inner_->write_line(line);
}

}  // namespace norvo::log
