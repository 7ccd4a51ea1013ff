#pragma once
// vtap-sensor record: a trace (the format vtap-detect reads) from a live IIO accelerometer, so
// that a user can tune the tap detector on their own machine and attach what it saw to a report.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace norvo::vtap_sensor {

struct RecordOptions {
    std::string device;  // iio:deviceN, or its sysfs folder
    double seconds = 0;
    std::optional<std::string> output;  // standard output without
};

// The options after "record", or the exit status when there is nothing more to do (help, a
// usage error, said on the way).
std::variant<RecordOptions, int> parse_record(std::span<const std::string_view> args);

// Records, saying on standard error what it does and what went wrong: the exit status.
int record(const RecordOptions& options);

}  // namespace norvo::vtap_sensor
