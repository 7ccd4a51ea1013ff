#pragma once
// The daemon's own command line. The service core reads no configuration: these
// only say where the host puts its sockets and which tap sensor it hears.

#include <chrono>
#include <expected>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "norvo/log.hpp"
#include "norvo/posix/service_folders.hpp"

namespace norvo::linux_host {

// automatic: an IIO tap device while one is present, the simulated one otherwise.
enum class SensorKind { simulated, iio, automatic };

struct RunOptions {
    std::filesystem::path socket;         // the RPC endpoint
    std::filesystem::path sensor_socket;  // the simulated tap sensor's device socket
    SensorKind sensor = SensorKind::simulated;
    std::filesystem::path iio_device{};  // an IIO device's sysfs folder; empty: the first with taps
    log::Level log_level = log::Level::Trace;  // the most detailed level written
    std::chrono::seconds thread_idle{30};      // before a spare worker thread ends
};
struct ShowHelp {};
struct ShowVersion {};
using Command = std::variant<RunOptions, ShowHelp, ShowVersion>;

using posix::default_folder;

// The reason on a usage error.
[[nodiscard]] std::expected<Command, std::string> parse_options(
    std::span<const std::string_view> args, const std::filesystem::path& folder);

extern const std::string_view kUsage;

}  // namespace norvo::linux_host
