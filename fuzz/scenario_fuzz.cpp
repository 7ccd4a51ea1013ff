// The replay tool's scenario parser on any text. Beyond not crashing: an error
// names a line of the text; line ends written as CR LF parse exactly as LF; and
// a comment line put in front changes nothing but the error's line number.

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "norvo/replay/scenario.hpp"
#include "support/check.hpp"

namespace {

using norvo::fuzz::check;
namespace replay = norvo::replay;
namespace input = replay::input;

std::string describe(const input::SetProperty& s) {
    return fmt::format("set {} {::02X}", s.key, s.value);
}
std::string describe(const input::Packet& p) {
    return fmt::format("packet {::02X}", p.bytes);
}
std::string describe(const input::Report& r) {
    std::string out = "report";
    for (const auto& field : r.fields) {
        out += fmt::format(" {}:{}:{::02X}", norvo::sensors::value_type_name(field.value_type),
                           field.key, field.value);
    }
    return out;
}
std::string describe(const input::StateChanged& s) {
    return fmt::format("state {}", s.state);
}
std::string describe(const input::Entered& e) {
    return fmt::format("entered {}", e.state);
}
std::string describe(const input::Left&) {
    return "left";
}
std::string describe(const input::Stop&) {
    return "stop";
}

// Everything a parsed scenario holds, one line per item, or the error.
std::string describe(const std::expected<replay::Scenario, replay::ParseError>& parsed,
                     std::size_t line_offset) {
    if (!parsed)
        return fmt::format("error {}: {}", parsed.error().line - line_offset,
                           parsed.error().reason);
    std::string out = fmt::format("cookie {}\n", parsed->cookie);
    for (const auto& s : parsed->initial_settings) out += describe(s) + "\n";
    for (const auto& timed : parsed->inputs) {
        out += fmt::format("at {} ", timed.at_ms);
        out += std::visit([](const auto& i) { return describe(i); }, timed.input) + "\n";
    }
    for (const auto& line : parsed->expected_transcript) out += "expect " + line + "\n";
    for (const auto& log : parsed->expected_logs)
        out += fmt::format("log {} {}\n", replay::level_word(log.level), log.message);
    return out;
}

std::size_t line_count(std::string_view text) {
    const auto breaks = static_cast<std::size_t>(std::ranges::count(text, '\n'));
    return std::max<std::size_t>(1, breaks + (text.ends_with('\n') ? 0 : 1));
}

std::string with_crlf(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto parsed = replay::parse_scenario(text);
    if (!parsed) {
        check(parsed.error().line >= 1 && parsed.error().line <= line_count(text),
              "an error names a line of the text");
        check(!parsed.error().reason.empty(), "an error says why");
    }
    const auto plain = describe(parsed, 0);
    check(describe(replay::parse_scenario(with_crlf(text)), 0) == plain,
          "CR LF line ends parse as LF");
    if (!text.empty()) {
        const auto commented = "# a comment first\n" + std::string(text);
        check(describe(replay::parse_scenario(commented), 1) == plain,
              "a leading comment shifts only line numbers");
    }
    return 0;
}
