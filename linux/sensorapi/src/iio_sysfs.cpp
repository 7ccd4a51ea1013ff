#include "iio_sysfs.hpp"

#include <fcntl.h>
#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <fstream>
#include <optional>
#include <utility>

#include "norvo/posix/error.hpp"
#include "norvo/posix/unique_fd.hpp"

namespace norvo::linux_platform::iio {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kSingleTapSuffix = "_singletap_en";

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

std::optional<std::string> read_attribute(const fs::path& file) {
    std::ifstream in(file);
    std::string value;
    if (!in || !std::getline(in, value))
        return std::nullopt;
    while (!value.empty() && (value.back() == ' ' || value.back() == '\r')) value.pop_back();
    return value;
}

// Written, or already holding `value` (a udev rule may have set what the service may not).
[[nodiscard]] std::expected<void, posix::PosixError> set_attribute(const fs::path& file,
                                                                   std::string_view value) {
    const posix::UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CLOEXEC));
    if (fd.valid() &&
        ::write(fd.get(), value.data(), value.size()) == static_cast<ssize_t>(value.size())) {
        return {};
    }
    const auto error = posix::last_error(fmt::format("cannot write {}", file.native()));
    if (read_attribute(file) == value)
        return {};
    return std::unexpected(error);
}

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

std::vector<std::string> tap_devices(const fs::path& root) {
    std::vector<std::string> out;
    for (const auto& name : folder_names(root)) {
        if (!single_tap_switches(root / name).empty())
            out.push_back(name);
    }
    return out;
}

std::expected<Prepared, posix::PosixError> prepare(const fs::path& folder) {
    const auto switches = single_tap_switches(folder);
    if (switches.empty())
        return std::unexpected(posix::PosixError{"it reports no single taps"});
    for (const auto& file : switches) {
        if (auto enabled = set_attribute(file, "1"); !enabled)
            return std::unexpected(enabled.error());
    }
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
    const auto name = read_attribute(folder / "name");
    return Prepared{printable(name && !name->empty() ? *name : folder.filename().string()),
                    known->second, clock_name};
}

}  // namespace norvo::linux_platform::iio
