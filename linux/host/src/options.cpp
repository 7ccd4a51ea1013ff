#include "norvo/linux_host/options.hpp"

#include <fmt/format.h>

#include <charconv>

#include "norvo/detect/tap_options.hpp"

namespace norvo::linux_host {

namespace {

constexpr std::string_view kUsage =
    R"(usage: norvo-vtapd [--socket PATH] [--sensor SENSOR] [--sensor-socket PATH]
                   [--log-level LEVEL] [--thread-idle SECONDS] [--tap-... VALUE]
The tap service: serves its clients on a local socket until SIGTERM or SIGINT.
  --socket PATH         the RPC endpoint (default FOLDER/NorvoVxtRpcEndpoint)
  --sensor SENSOR       simulated[:PATH]: the simulated tap sensor (the default), on
                        the device socket PATH; iio[:PATH]: an IIO accelerometer, from
                        the device folder PATH (for example
                        /sys/bus/iio/devices/iio:device0) or the first found: one that
                        reports single taps, or else one whose samples the tap
                        detector reads; auto: an IIO accelerometer while one is
                        present, the simulated one otherwise (the package's choice)
  --sensor-socket PATH  the simulated tap sensor's device socket (default FOLDER/sensor)
  --log-level LEVEL     error, warn, info, debug or trace: the most detailed lines
                        written to standard error (default trace)
  --thread-idle SECONDS worker threads beyond the first four end after this long
                        without work (default 30)
  -h, --help, --version
FOLDER is /run/norvo-vtap for root and $XDG_RUNTIME_DIR/norvo-vtap otherwise.
Signals: SIGTERM, SIGINT stop; SIGTSTP pauses; SIGCONT continues; SIGHUP is a
parameter change; SIGPWR is a shutdown.
The tap detector, for an accelerometer's samples (vtap-detect takes the same):
)";

}  // namespace

std::string usage() {
    return std::string(kUsage) + detect::tap_options_help();
}

namespace {

[[nodiscard]] std::expected<void, std::string> choose_sensor(std::string_view value,
                                                             RunOptions& options) {
    const auto colon = value.find(':');
    const auto kind = value.substr(0, colon);
    const bool has_path = colon != std::string_view::npos;
    const auto path = has_path ? value.substr(colon + 1) : std::string_view{};
    const bool automatic = kind == "auto";
    if ((kind != "simulated" && kind != "iio" && !automatic) || (has_path && path.empty()) ||
        (automatic && has_path)) {
        return std::unexpected(fmt::format("unknown sensor '{}'", value));
    }
    options.sensor = automatic       ? SensorKind::automatic
                     : kind == "iio" ? SensorKind::iio
                                     : SensorKind::simulated;
    if (!has_path)
        return {};
    // A folder given with its trailing slash names the same device.
    std::filesystem::path folder = std::filesystem::path(path).lexically_normal();
    if (!folder.has_filename())
        folder = folder.parent_path();
    (kind == "iio" ? options.iio_device : options.sensor_socket) = folder;
    return {};
}

}  // namespace

std::expected<Command, std::string> parse_options(std::span<const std::string_view> args,
                                                  const std::filesystem::path& folder) {
    RunOptions options{folder / "NorvoVxtRpcEndpoint", folder / "sensor"};
    for (std::size_t i = 0; i < args.size(); ++i) {
        const auto arg = args[i];
        if (arg == "--help" || arg == "-h")
            return ShowHelp{};
        if (arg == "--version")
            return ShowVersion{};
        const auto tap_option = detect::parse_tap_option(args, i, options.tap_parameters);
        if (!tap_option)
            return std::unexpected(tap_option.error());
        if (*tap_option > 0) {
            i += *tap_option - 1;
            continue;
        }
        if (arg != "--socket" && arg != "--sensor-socket" && arg != "--log-level" &&
            arg != "--sensor" && arg != "--thread-idle")
            return std::unexpected(fmt::format("unknown argument '{}'", arg));
        const bool names_level = arg == "--log-level";
        const bool names_seconds = arg == "--thread-idle";
        if (i + 1 == args.size() || args[i + 1].empty())
            return std::unexpected(fmt::format("{} needs a {}", arg,
                                               names_level         ? "LEVEL"
                                               : names_seconds     ? "SECONDS"
                                               : arg == "--sensor" ? "SENSOR"
                                                                   : "PATH"));
        const auto value = args[++i];
        if (arg == "--sensor") {
            if (auto chosen = choose_sensor(value, options); !chosen)
                return std::unexpected(chosen.error());
        } else if (names_seconds) {
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
