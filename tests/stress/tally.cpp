#include "tally.hpp"

#include <fmt/format.h>

#include <array>
#include <charconv>
#include <utility>

namespace norvo::stress {
namespace {

constexpr std::string_view kPrefix = "tally";

template <class T>
auto fields(T& t) {
    return std::array<std::pair<std::string_view, decltype(&t.calls)>, 7>{{
        {"calls", &t.calls},
        {"starts", &t.starts},
        {"phones", &t.phones},
        {"phone_taps", &t.phone_taps},
        {"garbage", &t.garbage},
        {"vanished", &t.vanished},
        {"kills", &t.kills},
    }};
}

}  // namespace

Tally& Tally::operator+=(const Tally& other) {
    auto mine = fields(*this);
    const auto theirs = fields(other);
    for (std::size_t i = 0; i < mine.size(); ++i) *mine[i].second += *theirs[i].second;
    return *this;
}

std::string format_tally(const Tally& tally) {
    std::string line(kPrefix);
    for (const auto& [name, value] : fields(tally)) line += fmt::format(" {}={}", name, *value);
    return line;
}

std::optional<Tally> parse_tally(std::string_view line) {
    if (!line.starts_with(kPrefix))
        return std::nullopt;
    line.remove_prefix(kPrefix.size());
    Tally tally;
    for (const auto& [name, value] : fields(tally)) {
        const auto expected = fmt::format(" {}=", name);
        if (!line.starts_with(expected))
            return std::nullopt;
        line.remove_prefix(expected.size());
        const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), *value);
        if (error != std::errc{})
            return std::nullopt;
        line.remove_prefix(static_cast<std::size_t>(end - line.data()));
    }
    if (!line.empty())
        return std::nullopt;
    return tally;
}

}  // namespace norvo::stress
