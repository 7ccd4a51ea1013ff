#include "norvo/linux_host/options.hpp"

#include <fmt/format.h>

#include <charconv>

namespace norvo::linux_host {

const std::string_view kUsage =
    R"(usage: norvo-vtapd [--socket PATH] [--sensor-socket PATH] [--log-level LEVEL]
The tap service: serves its clients on a local socket until SIGTERM or SIGINT.
  --socket PATH         the RPC endpoint (default FOLDER/NorvoVxtRpcEndpoint)
  --sensor-socket PATH  the simulated tap sensor's device socket (default FOLDER/sensor)
  --log-level LEVEL     error, warn, info, debug or trace: the most detailed lines
                        written to standard error (default trace)
  --thread-idle SECONDS worker threads beyond the first four end after this long
                        without work (default 30)
  --help, --version
FOLDER is /run/norvo-vtap for root and $XDG_RUNTIME_DIR/norvo-vtap otherwise.
Signals: SIGTERM, SIGINT stop; SIGTSTP pauses; SIGCONT continues; SIGHUP is a
parameter change; SIGPWR is a shutdown.
)";

std::filesystem::path default_folder(bool root, const char* xdg_runtime_dir) {
    if (!root && xdg_runtime_dir != nullptr && *xdg_runtime_dir != '\0')
        return std::filesystem::path(xdg_runtime_dir) / "norvo-vtap";
    return "/run/norvo-vtap";
}

std::expected<Command, std::string> parse_options(std::span<const std::string_view> args,
                                                  const std::filesystem::path& folder) {
    RunOptions options{folder / "NorvoVxtRpcEndpoint", folder / "sensor"};
    for (std::size_t i = 0; i < args.size(); ++i) {
        const auto arg = args[i];
        if (arg == "--help")
            return ShowHelp{};
        if (arg == "--version")
            return ShowVersion{};
        if (arg != "--socket" && arg != "--sensor-socket" && arg != "--log-level" &&
            arg != "--thread-idle")
            return std::unexpected(fmt::format("unknown argument '{}'", arg));
        const bool names_level = arg == "--log-level";
        const bool names_seconds = arg == "--thread-idle";
        if (i + 1 == args.size() || args[i + 1].empty())
            return std::unexpected(fmt::format("{} needs a {}", arg,
                                               names_level     ? "LEVEL"
                                               : names_seconds ? "SECONDS"
                                                               : "PATH"));
        const auto value = args[++i];
        if (names_seconds) {
            unsigned seconds = 0;
            const auto [end, error] = std::from_chars(value.begin(), value.end(), seconds);
            if (error != std::errc{} || end != value.end() || seconds == 0)
                return std::unexpected(fmt::format("bad --thread-idle '{}'", value));
            options.thread_idle = std::chrono::seconds(seconds);
        } else if (!names_level) {
            (arg == "--socket" ? options.socket : options.sensor_socket) = value;
        } else if (const auto level = log::level_named(value)) {
            options.log_level = *level;
        } else {
            return std::unexpected(fmt::format("unknown log level '{}'", value));
        }
    }
    return options;
}

}  // namespace norvo::linux_host
