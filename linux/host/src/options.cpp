#include "norvo/linux_host/options.hpp"

#include <fmt/format.h>

namespace norvo::linux_host {

const std::string_view kUsage = R"(usage: norvo-vtapd [--socket PATH] [--sensor-socket PATH]
The tap service: serves its clients on a local socket until SIGTERM or SIGINT.
  --socket PATH         the RPC endpoint (default FOLDER/NorvoVxtRpcEndpoint)
  --sensor-socket PATH  the simulated tap sensor's device socket (default FOLDER/sensor)
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
        if (arg != "--socket" && arg != "--sensor-socket")
            return std::unexpected(fmt::format("unknown argument '{}'", arg));
        if (i + 1 == args.size() || args[i + 1].empty())
            return std::unexpected(fmt::format("{} needs a PATH", arg));
        (arg == "--socket" ? options.socket : options.sensor_socket) = args[++i];
    }
    return options;
}

}  // namespace norvo::linux_host
