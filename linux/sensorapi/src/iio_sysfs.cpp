#include "iio_sysfs.hpp"

#include <fcntl.h>
#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <utility>

#include "norvo/posix/error.hpp"
#include "norvo/posix/unique_fd.hpp"

namespace norvo::linux_platform::iio {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kSingleTapSuffix = "_singletap_en";
constexpr std::array<const char*, 3> kAxes{"x", "y", "z"};

// Before the attribute existed, event timestamps were always on the realtime clock.
constexpr std::string_view kDefaultClock = "realtime";

constexpr std::array<std::pair<std::string_view, clockid_t>, 7> kClocks{{
    {"realtime", CLOCK_REALTIME},
    {"monotonic", CLOCK_MONOTONIC},
    {"monotonic_raw", CLOCK_MONOTONIC_RAW},
    {"realtime_coarse", CLOCK_REALTIME_COARSE},
    {"monotonic_coarse", CLOCK_MONOTONIC_COARSE},
    {"boottime", CLOCK_BOOTTIME},
    {"tai", CLOCK_TAI},
}};

std::vector<fs::path> single_tap_switches(const fs::path& folder) {
    std::vector<fs::path> out;
    for (const auto& name : folder_names(folder / "events")) {
        if (name.ends_with(kSingleTapSuffix))
            out.push_back(folder / "events" / name);
    }
    return out;
}

// Shown in log lines and handed on as UTF-16: anything but printable ASCII is replaced.
std::string printable(std::string text) {
    for (auto& c : text) {
        if (c < 0x20 || c > 0x7E)
            c = '?';
    }
    return text;
}

bool readable_number(const fs::path& file, double& value) {
    const auto text = read_attribute(file);
    if (!text)
        return false;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
    return error == std::errc{} && end == text->data() + text->size() && std::isfinite(value);
}

// The first of these attributes the device has (a value of one axis, then shared by the type,
// then by the device).
std::optional<fs::path> first_of(const fs::path& folder, std::initializer_list<std::string> names) {
    for (const auto& name : names) {
        if (iio::exists(folder / name))
            return folder / name;
    }
    return std::nullopt;
}

}  // namespace

bool exists(const fs::path& path) {
    std::error_code error;
    return fs::exists(path, error);
}

std::vector<std::string> folder_names(const fs::path& folder) {
    std::vector<std::string> out;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        out.push_back(it->path().filename());
    std::sort(out.begin(), out.end());
    return out;
}

std::optional<std::string> read_attribute(const fs::path& file) {
    std::ifstream in(file);
    std::string value;
    if (!in || !std::getline(in, value))
        return std::nullopt;
    while (!value.empty() && (value.back() == ' ' || value.back() == '\r')) value.pop_back();
    return value;
}

std::expected<void, posix::PosixError> set_attribute(const fs::path& file, std::string_view value) {
    const posix::UniqueFd fd(::open(file.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (fd.valid() &&
        ::write(fd.get(), value.data(), value.size()) == static_cast<ssize_t>(value.size())) {
        return {};
    }
    const auto error = posix::last_error(fmt::format("cannot write {}", file.native()));
    if (read_attribute(file) == value)
        return {};
    return std::unexpected(error);
}

std::optional<IioKind> kind_of(const fs::path& folder) {
    if (!single_tap_switches(folder).empty())
        return IioKind::taps;
    for (const char* axis : kAxes) {
        if (!iio::exists(folder / "scan_elements" / fmt::format("in_accel_{}_en", axis)))
            return std::nullopt;
    }
    return IioKind::samples;
}

std::vector<std::pair<std::string, IioKind>> tap_sensors(const fs::path& root) {
    // Tap devices first, each kind in the folders' order.
    std::vector<std::pair<std::string, IioKind>> out, samples;
    for (const auto& name : folder_names(root)) {
        if (const auto kind = kind_of(root / name))
            (*kind == IioKind::taps ? out : samples).emplace_back(name, *kind);
    }
    out.insert(out.end(), std::make_move_iterator(samples.begin()),
               std::make_move_iterator(samples.end()));
    return out;
}

std::string model_of(const fs::path& folder) {
    const auto name = read_attribute(folder / "name");
    return printable(name && !name->empty() ? *name : folder.filename().string());
}

std::expected<Clock, posix::PosixError> timestamp_clock(const fs::path& folder) {
    const auto clock_file = folder / "current_timestamp_clock";
    std::string clock_name(kDefaultClock);
    if (auto current = read_attribute(clock_file)) {
        // Refused while another reader holds the events: its clock is then kept.
        clock_name = set_attribute(clock_file, "monotonic") ? "monotonic" : *current;
    }
    const auto known = std::find_if(kClocks.begin(), kClocks.end(),
                                    [&](const auto& c) { return c.first == clock_name; });
    if (known == kClocks.end())
        return std::unexpected(
            posix::PosixError{fmt::format("its timestamp clock {} is unknown", clock_name)});
    return Clock{known->second, clock_name};
}

std::expected<Prepared, posix::PosixError> prepare(const fs::path& folder) {
    const auto switches = single_tap_switches(folder);
    if (switches.empty())
        return std::unexpected(posix::PosixError{"it reports no single taps"});
    for (const auto& file : switches) {
        if (auto enabled = set_attribute(file, "1"); !enabled)
            return std::unexpected(enabled.error());
    }
    auto clock = timestamp_clock(folder);
    if (!clock)
        return std::unexpected(clock.error());
    return Prepared{model_of(folder), *clock};
}

std::expected<Accelerometer, posix::PosixError> accelerometer(const fs::path& folder) {
    Accelerometer out{model_of(folder), {}, {}, {}};
    for (std::size_t i = 0; i < kAxes.size(); ++i) {
        Axis& axis = out.axes[i];
        axis.channel = fmt::format("in_accel_{}", kAxes[i]);
        const auto scale = first_of(folder, {axis.channel + "_scale", "in_accel_scale"});
        if (!scale || !readable_number(*scale, axis.scale) || axis.scale == 0)
            return std::unexpected(posix::PosixError{
                fmt::format("it has no readable scale for {} ({}_scale or in_accel_scale)",
                            axis.channel, axis.channel)});
        const auto offset = first_of(folder, {axis.channel + "_offset", "in_accel_offset"});
        if (offset && !readable_number(*offset, axis.offset))
            return std::unexpected(
                posix::PosixError{fmt::format("its offset {} is not a number", offset->native())});
    }
    if (!iio::exists(folder / "scan_elements" / "in_timestamp_en"))
        return std::unexpected(posix::PosixError{"its samples have no timestamp channel"});
    const auto rate = first_of(folder, {"sampling_frequency", "in_accel_sampling_frequency"});
    if (!rate)
        return std::unexpected(posix::PosixError{
            "it has no sampling frequency (sampling_frequency or in_accel_sampling_frequency)"});
    out.rate = *rate;
    out.available = rate->native() + "_available";
    return out;
}

}  // namespace norvo::linux_platform::iio
