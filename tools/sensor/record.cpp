#include "record.hpp"

#include <fmt/format.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "norvo/detect/trace.hpp"
#include "norvo/linux/iio_buffer.hpp"

namespace norvo::vtap_sensor {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::string_view kHelp =
    "usage: vtap-sensor record --iio DEVICE --seconds N [-o FILE]\n"
    "Records N seconds of a live IIO accelerometer (DEVICE: iio:device0, or its folder\n"
    "/sys/bus/iio/devices/iio:device0) as a trace: time_s,x,y,z in seconds and m/s², with\n"
    "'# rate_hz=' and '# device=' comments; to standard output, or FILE with -o. vtap-detect\n"
    "reads it. The device's node is exclusive: norvo-vtapd holds it while a client waits for\n"
    "taps, and a desktop's orientation service may hold it too.\n";
// Samples that have not come this long after the recording should have ended never will.
constexpr std::chrono::seconds kGrace{2};
constexpr double kMostSeconds = 3600;

int usage_error(std::string_view reason) {
    fmt::print(stderr, "vtap-sensor: {}\n{}", reason, kHelp);
    return 2;
}

fs::path folder_of(const std::string& device) {
    if (device.find('/') == std::string::npos)
        return fs::path("/sys/bus/iio/devices") / device;
    fs::path folder = fs::path(device).lexically_normal();
    return folder.has_filename() ? folder : folder.parent_path();
}

// What to do about it, where there is something to do.
std::string hint(const linux_platform::IioBufferError& error) {
    if (error.busy)
        return " (held by another program: norvo-vtapd while a client waits for taps, or a "
               "desktop's orientation service); try again when it is free";
    if (error.error.code == EACCES || error.error.code == EPERM || error.error.code == EROFS)
        return " (run it as root)";
    return "";
}

// SIGINT and SIGTERM end the recording early, with what has come so far.
posix::UniqueFd stop_signals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &signals, nullptr);
    return posix::UniqueFd(::signalfd(-1, &signals, SFD_CLOEXEC));
}

}  // namespace

std::variant<RecordOptions, int> parse_record(std::span<const std::string_view> args) {
    RecordOptions options;
    bool seconds_given = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const auto arg = args[i];
        if (arg == "-h" || arg == "--help") {
            fmt::print("{}", kHelp);
            return 0;
        }
        if (arg != "--iio" && arg != "--seconds" && arg != "-o")
            return usage_error(fmt::format("record: unknown option '{}'", arg));
        if (i + 1 == args.size() || args[i + 1].empty())
            return usage_error(fmt::format("record: {} needs a value", arg));
        const auto value = args[++i];
        if (arg == "--iio") {
            options.device = value;
        } else if (arg == "-o") {
            options.output = std::string(value);
        } else {
            const auto [end, error] =
                std::from_chars(value.data(), value.data() + value.size(), options.seconds);
            if (error != std::errc{} || end != value.data() + value.size() ||
                !(options.seconds > 0 && options.seconds <= kMostSeconds))
                return usage_error(
                    fmt::format("record: --seconds '{}' is not a number of seconds from 0 to {}",
                                value, kMostSeconds));
            seconds_given = true;
        }
    }
    if (options.device.empty() || !seconds_given)
        return usage_error("record: --iio DEVICE and --seconds N are needed");
    return options;
}

int record(const RecordOptions& options) {
    const auto folder = folder_of(options.device);
    const std::string name = folder.filename();
    std::error_code missing;
    if (!fs::exists(folder, missing)) {
        fmt::print(stderr, "vtap-sensor: no IIO device {} ({})\n", name, folder.native());
        return 1;
    }
    const auto stop = stop_signals();
    auto buffer = linux_platform::IioBuffer::open(folder, {});
    if (!buffer) {
        fmt::print(stderr, "vtap-sensor: {}: {}{}\n", name, buffer.error().error,
                   hint(buffer.error()));
        return 1;
    }
    std::ofstream file;
    if (options.output) {
        file.open(*options.output, std::ios::binary | std::ios::trunc);
        if (!file) {
            fmt::print(stderr, "vtap-sensor: cannot write {}\n", *options.output);
            return 1;
        }
    }
    std::ostream& out = options.output ? file : std::cout;
    const auto& opened = **buffer;
    if (opened.refused_rate())
        fmt::print(stderr, "vtap-sensor: {} kept {} Hz: {}\n", name, opened.rate_hz(),
                   *opened.refused_rate());
    fmt::print(stderr, "vtap-sensor: recording {} ({}) at {} Hz for {} s\n", name, opened.model(),
               opened.rate_hz(), options.seconds);
    out << detect::trace_comment(fmt::format("device={} name={}", name, opened.model()))
        << detect::trace_comment(fmt::format("rate_hz={}", opened.rate_hz()))
        << detect::trace_comment(
               fmt::format("clock={} (times from the first sample)", opened.clock_name()))
        << detect::trace_header();

    const auto length = std::chrono::duration_cast<detect::Timestamp>(
        std::chrono::duration<double>(options.seconds));
    const auto deadline = Clock::now() + length + kGrace;
    std::optional<detect::Timestamp> first;
    std::size_t written = 0;
    bool done = false;
    while (!done) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        pollfd fds[2] = {{opened.fd(), POLLIN, 0}, {stop.get(), POLLIN, 0}};
        if (::poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR)
            break;
        if (fds[1].revents != 0)
            break;
        auto read = (*buffer)->read();
        if (!read) {
            fmt::print(stderr, "vtap-sensor: {}: {}\n", name, read.error());
            return 1;
        }
        for (auto sample : read->samples) {
            first = first.value_or(sample.time);
            sample.time -= *first;
            if (sample.time > length) {
                done = true;
                break;
            }
            out << detect::trace_line(sample);
            ++written;
        }
    }
    out.flush();
    if (written == 0) {
        fmt::print(stderr, "vtap-sensor: no samples arrived from {} in {} s\n", name,
                   std::chrono::duration<double>(length + kGrace).count());
        return 1;
    }
    if (!out) {
        fmt::print(stderr, "vtap-sensor: cannot write {}\n", options.output.value_or("the output"));
        return 1;
    }
    fmt::print(stderr, "vtap-sensor: {} samples recorded\n", written);
    return 0;
}

}  // namespace norvo::vtap_sensor
