#include "norvo/log_capture.hpp"

namespace norvo::log {

void CaptureSink::write(const Record& record) {
    MutexLock lock(mutex_);
    records_.push_back({record.level, std::string(record.target), std::string(record.file),
                        record.line, std::string(record.message)});
}

std::vector<CapturedRecord> CaptureSink::records() const {
    MutexLock lock(mutex_);
    return records_;
}

std::vector<std::string> CaptureSink::messages() const {
    MutexLock lock(mutex_);
    std::vector<std::string> out;
    out.reserve(records_.size());
    for (const auto& r : records_) out.push_back(r.message);
    return out;
}

void CaptureSink::clear() {
    MutexLock lock(mutex_);
    records_.clear();
}

std::shared_ptr<CaptureSink> CaptureSink::install() {
    auto sink = std::make_shared<CaptureSink>();
    set_max_level(Level::Trace);
    set_sink(sink);
    return sink;
}

}  // namespace norvo::log
