#pragma once
// The daemon's own command line. The service core reads no configuration: these
// only say where the host puts its sockets, which tap sensor it hears, and how taps are
// found in an accelerometer's samples.

#include <chrono>
#include <expected>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "norvo/detect/tap_parameters.hpp"
#include "norvo/log.hpp"
#include "norvo/posix/service_folders.hpp"

namespace norvo::linux_host {

// automatic: an IIO device while one is present (one that reports taps, else an accelerometer
// whose samples the detector reads), the simulated one otherwise.
enum class SensorKind { simulated, iio, automatic };

struct RunOptions {
    std::filesystem::path socket;         // the RPC endpoint
    std::filesystem::path sensor_socket;  // the simulated tap sensor's device socket
    SensorKind sensor = SensorKind::simulated;
    std::filesystem::path iio_device{};      // an IIO device's sysfs folder; empty: the first found
    detect::TapParameters tap_parameters{};  // for an accelerometer's samples
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

// --help's text, the tap detector's options included.
std::string usage();

}  // namespace norvo::linux_host
