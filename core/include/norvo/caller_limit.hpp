#pragma once
// The lines a client's calls cause (log records at Info and above, the "unknown" line
// of standard output) are limited per account, so that one user's flood crowds out
// nobody else's warnings nor the service's own. The service's own lines, and Debug and
// Trace lines, which only a detailed session asks for, are never held back. A thread of
// its own writes one Warn per account and interval saying how many of its lines were held.

#include <memory>
#include <string_view>
#include <thread>

#include "norvo/clock.hpp"
#include "norvo/line_limit.hpp"
#include "norvo/log.hpp"
#include "norvo/mutex.hpp"
#include "norvo/standard_output.hpp"

namespace norvo::log {

class CallerLimit {
  public:
    // Summaries are written to `summaries` as Warn records of `target`.
    CallerLimit(std::shared_ptr<Clock> clock, std::shared_ptr<Sink> summaries,
                std::string_view target, LineLimitShape shape = {});
    // Writes the summaries still pending, due or not.
    ~CallerLimit();
    CallerLimit(const CallerLimit&) = delete;
    CallerLimit& operator=(const CallerLimit&) = delete;

    // Any thread: true when a line of `caller` may be written; always for no caller.
    bool admit(std::string_view caller);

  private:
    void run();
    void write(const std::vector<HeldBack>& held) const;

    const std::shared_ptr<Clock> clock_;
    const std::shared_ptr<Sink> summaries_;
    const std::string_view target_;
    const std::shared_ptr<Wakeup> wakeup_;
    Mutex mutex_;  // held for the bookkeeping only, never while writing
    AccountBuckets buckets_ GUARDED_BY(mutex_);
    bool stopping_ GUARDED_BY(mutex_) = false;
    std::thread thread_;  // the summaries' own: waits for the next one due
};

// The log sink that the limit stands in front of.
class CallerLimitedSink final : public Sink {
  public:
    CallerLimitedSink(std::shared_ptr<Sink> inner, std::shared_ptr<CallerLimit> limit)
        : inner_(std::move(inner)), limit_(std::move(limit)) {}
    bool accepts(Level level) const override { return inner_->accepts(level); }
    void write(const Record& record) override;

  private:
    const std::shared_ptr<Sink> inner_;
    const std::shared_ptr<CallerLimit> limit_;
};

// The standard output writer that the limit stands in front of.
class CallerLimitedOutput final : public standard_output::Writer {
  public:
    CallerLimitedOutput(std::shared_ptr<standard_output::Writer> inner,
                        std::shared_ptr<CallerLimit> limit)
        : inner_(std::move(inner)), limit_(std::move(limit)) {}
    void write_line(std::string_view line) override;

  private:
    const std::shared_ptr<standard_output::Writer> inner_;
    const std::shared_ptr<CallerLimit> limit_;
};

}  // namespace norvo::log
