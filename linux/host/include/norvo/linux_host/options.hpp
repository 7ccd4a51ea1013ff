#pragma once
// The daemon's own command line. The service core reads no configuration: these
// only say where the host puts its sockets.

#include <chrono>
#include <expected>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "norvo/log.hpp"

namespace norvo::linux_host {

struct RunOptions {
    std::filesystem::path socket;              // the RPC endpoint
    std::filesystem::path sensor_socket;       // the simulated tap sensor's device socket
    log::Level log_level = log::Level::Trace;  // the most detailed level written
    std::chrono::seconds thread_idle{30};      // before a spare worker thread ends
};
struct ShowHelp {};
struct ShowVersion {};
using Command = std::variant<RunOptions, ShowHelp, ShowVersion>;

// /run/norvo-vtap for root, $XDG_RUNTIME_DIR/norvo-vtap for other users that have one.
std::filesystem::path default_folder(bool root, const char* xdg_runtime_dir);

// The reason on a usage error.
[[nodiscard]] std::expected<Command, std::string> parse_options(
    std::span<const std::string_view> args, const std::filesystem::path& folder);

extern const std::string_view kUsage;

}  // namespace norvo::linux_host
