#include "norvo/linux_host/options.hpp"

#include <fmt/format.h>

namespace norvo::linux_host {

const std::string_view kUsage =
    R"(usage: norvo-vtapd [--socket PATH] [--sensor-socket PATH] [--log-level LEVEL]
The tap service: serves its clients on a local socket until SIGTERM or SIGINT.
  --socket PATH         the RPC endpoint (default FOLDER/NorvoVxtRpcEndpoint)
  --sensor-socket PATH  the simulated tap sensor's device socket (default FOLDER/sensor)
  --log-level LEVEL     error, warn, info, debug or trace: the most detailed lines
                        written to standard error (default trace)
  -h, --help, --version
FOLDER is /run/norvo-vtap for root and $XDG_RUNTIME_DIR/norvo-vtap otherwise.
Signals: SIGTERM, SIGINT stop; SIGTSTP pauses; SIGCONT continues; SIGHUP is a
parameter change; SIGPWR is a shutdown.
)";

std::expected<Command, std::string> parse_options(std::span<const std::string_view> args,
                                                  const std::filesystem::path& folder) {
    RunOptions options{folder / "NorvoVxtRpcEndpoint", folder / "sensor"};
    for (std::size_t i = 0; i < args.size(); ++i) {
        const auto arg = args[i];
        if (arg == "--help" || arg == "-h")
            return ShowHelp{};
        if (arg == "--version")
            return ShowVersion{};
        if (arg != "--socket" && arg != "--sensor-socket" && arg != "--log-level")
            return std::unexpected(fmt::format("unknown argument '{}'", arg));
        const bool names_level = arg == "--log-level";
        if (i + 1 == args.size() || args[i + 1].empty())
            return std::unexpected(
                fmt::format("{} needs a {}", arg, names_level ? "LEVEL" : "PATH"));
        const auto value = args[++i];
        if (!names_level) {
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
