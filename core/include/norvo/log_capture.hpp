#pragma once
// A sink that keeps every record, so tests and tools can assert exact log lines.

#include "norvo/log.hpp"
#include "norvo/mutex.hpp"

#include <string>
#include <vector>

namespace norvo::log {

struct CapturedRecord {
    Level level;
    std::string target;
    std::string file;
    std::uint32_t line;
    std::string message;
};

class CaptureSink final : public Sink {
  public:
    void write(const Record& record) override;

    std::vector<CapturedRecord> records() const;
    // Messages only, in order.
    std::vector<std::string> messages() const;
    void clear();

    // Installs a fresh capture sink at Trace level for the lifetime of the returned pointer's
    // owner.
    static std::shared_ptr<CaptureSink> install();

  private:
    mutable Mutex mutex_;
    std::vector<CapturedRecord> records_ GUARDED_BY(mutex_);
};

}  // namespace norvo::log
