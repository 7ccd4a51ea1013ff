#include "norvo/replay/scenario.hpp"

#include <fmt/format.h>

#include "norvo/little_endian.hpp"
#include "norvo/tools/property_text.hpp"

#include <algorithm>
#include <charconv>
#include <limits>
#include <optional>

namespace norvo::replay {
namespace {

using sensors::SensorField;
using sensors::SensorState;
using sensors::SensorValueType;

constexpr std::size_t kFieldSize = 8;

using Failure = std::unexpected<std::string>;
template <class T>
using Parsed = std::expected<T, std::string>;

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
    return s;
}

// Reads a line word by word; `rest` hands out what is left as one text.
class Words {
  public:
    explicit Words(std::string_view line) : rest_(trim(line)) {}

    std::string_view next() {
        std::size_t end = 0;
        while (end < rest_.size() && !is_blank(rest_[end])) ++end;
        std::string_view word = rest_.substr(0, end);
        rest_ = trim(rest_.substr(end));
        return word;
    }

    [[nodiscard]] Parsed<std::string_view> required(std::string_view what) {
        if (rest_.empty())
            return Failure(fmt::format("missing {}", what));
        return next();
    }

    std::string_view rest() {
        std::string_view all = rest_;
        rest_ = {};
        return all;
    }

    [[nodiscard]] Parsed<void> end(std::string_view after) const {
        if (rest_.empty())
            return {};
        return Failure(fmt::format("unexpected '{}' after {}", rest_, after));
    }

  private:
    std::string_view rest_;
};

[[nodiscard]] Parsed<std::uint64_t> unsigned_number(std::string_view text, std::string_view what) {
    auto value = tools::parse_unsigned(text);
    if (!value)
        return Failure(fmt::format("{} '{}' is not a number", what, text));
    return *value;
}

// Little-endian bytes of `value`, padded with zeros to a field's eight bytes.
template <class T>
std::vector<std::uint8_t> field_bytes(T value) {
    std::vector<std::uint8_t> bytes(kFieldSize, 0);
    const auto le = le_bytes(value);
    std::ranges::copy(le, bytes.begin());
    return bytes;
}

[[nodiscard]] Parsed<input::SetProperty> set_property(Words& words) {
    auto key_word = words.required("property key");
    if (!key_word)
        return Failure(key_word.error());
    auto key = tools::parse_property_key(*key_word);
    if (!key)
        return Failure(key.error());
    auto value = tools::parse_property_value(*key, words.rest());
    if (!value)
        return Failure(value.error());
    return input::SetProperty{*key, std::move(*value)};
}

[[nodiscard]] Parsed<SensorState> sensor_state(Words& words) {
    auto word = words.required("sensor state");
    if (!word)
        return Failure(word.error());
    auto n = tools::parse_number<std::int32_t>(*word, 10);
    auto state = n ? sensors::sensor_state_from_platform(*n) : std::nullopt;
    if (!state)
        return Failure(fmt::format("sensor state '{}' is not 0 to 5", *word));
    return *state;
}

std::optional<SensorValueType> value_type(std::string_view name) {
    for (auto type :
         {SensorValueType::Empty, SensorValueType::Null, SensorValueType::I2, SensorValueType::I4,
          SensorValueType::R4, SensorValueType::R8, SensorValueType::UI2, SensorValueType::UI4}) {
        if (sensors::value_type_name(type) == name)
            return type;
    }
    return std::nullopt;
}

template <class T>
[[nodiscard]] Parsed<std::vector<std::uint8_t>> integer_field(std::int64_t v,
                                                              std::string_view type) {
    if (v < std::numeric_limits<T>::min() || v > std::numeric_limits<T>::max()) {
        return Failure(fmt::format("{} does not fit {}", v, type));
    }
    return field_bytes(static_cast<T>(v));
}

[[nodiscard]] Parsed<SensorField> report_field(std::string_view text) {
    auto colon = text.find(':');
    if (colon == std::string_view::npos)
        return Failure(fmt::format("field '{}' is not T:V", text));
    std::string_view type_name = text.substr(0, colon);
    auto type = value_type(type_name);
    if (!type)
        return Failure(fmt::format("unknown field type '{}'", type_name));
    auto v = tools::parse_number<std::int64_t>(text.substr(colon + 1), 10);
    if (!v) {
        return Failure(fmt::format("field value '{}' is not an integer", text.substr(colon + 1)));
    }

    Parsed<std::vector<std::uint8_t>> value;
    switch (*type) {
        case SensorValueType::Empty:
        case SensorValueType::Null:
            value = std::vector<std::uint8_t>(kFieldSize, 0);
            break;
        case SensorValueType::I2:
            value = integer_field<std::int16_t>(*v, type_name);
            break;
        case SensorValueType::I4:
            value = integer_field<std::int32_t>(*v, type_name);
            break;
        case SensorValueType::UI2:
            value = integer_field<std::uint16_t>(*v, type_name);
            break;
        case SensorValueType::UI4:
            value = integer_field<std::uint32_t>(*v, type_name);
            break;
        case SensorValueType::R4:
            value = field_bytes(static_cast<float>(*v));
            break;
        case SensorValueType::R8:
            value = field_bytes(static_cast<double>(*v));
            break;
    }
    if (!value)
        return Failure(value.error());
    return SensorField{std::move(*value), {}, *type};
}

input::Report tap_report(bool tap) {
    return {{SensorField{field_bytes(std::uint32_t{0}), {}, SensorValueType::UI4},
             SensorField{field_bytes(std::uint32_t{tap ? 1u : 0u}), {}, SensorValueType::UI4}}};
}

[[nodiscard]] Parsed<input::Packet> phone_packet(Words& words) {
    std::string_view pulse_word = words.next();
    if (pulse_word.empty())
        return input::Packet{tools::phone_packet(std::nullopt)};
    float pulse = 0;
    auto [end, ec] =
        std::from_chars(pulse_word.data(), pulse_word.data() + pulse_word.size(), pulse);
    if (ec != std::errc{} || end != pulse_word.data() + pulse_word.size()) {
        return Failure(fmt::format("pulse '{}' is not a number", pulse_word));
    }
    return input::Packet{tools::phone_packet(pulse)};
}

template <class T>
[[nodiscard]] Parsed<Input> as_input(Parsed<T> parsed) {
    if (!parsed)
        return Failure(parsed.error());
    return Input{std::move(*parsed)};
}

[[nodiscard]] Parsed<Input> timed_input(std::string_view kind, Words& words) {
    if (kind == "phone")
        return as_input(phone_packet(words));
    if (kind == "packet") {
        std::string_view hex = words.rest();
        if (hex.empty())
            return Failure("missing packet bytes");
        auto bytes = tools::parse_hex(hex);
        if (!bytes)
            return Failure(bytes.error());
        return Input{input::Packet{std::move(*bytes)}};
    }
    if (kind == "tap" || kind == "notap")
        return Input{tap_report(kind == "tap")};
    if (kind == "report") {
        input::Report report;
        for (auto word = words.next(); !word.empty(); word = words.next()) {
            auto field = report_field(word);
            if (!field)
                return Failure(field.error());
            report.fields.push_back(std::move(*field));
        }
        return Input{std::move(report)};
    }
    if (kind == "state" || kind == "entered") {
        auto state = sensor_state(words);
        if (!state)
            return Failure(state.error());
        if (kind == "state")
            return Input{input::StateChanged{*state}};
        return Input{input::Entered{*state}};
    }
    if (kind == "left")
        return Input{input::Left{}};
    if (kind == "set")
        return as_input(set_property(words));
    if (kind == "stop")
        return Input{input::Stop{}};
    return Failure(fmt::format("unknown input '{}'", kind));
}

// Only as the format writes it: "Trace", not "trace".
std::optional<log::Level> level_from_word(std::string_view word) {
    const auto level = log::level_named(word);
    if (!level || level_word(*level) != word)
        return std::nullopt;
    return level;
}

class Parser {
  public:
    [[nodiscard]] Parsed<void> line(std::string_view text) {
        Words words(text);
        std::string_view directive = words.next();
        if (directive.empty() || directive.starts_with('#'))
            return {};
        if (directive == "set")
            return set(words);
        if (directive == "start")
            return start(words);
        if (directive == "at")
            return at(words);
        if (directive == "expect")
            return expect(words);
        if (directive == "expect-log")
            return expect_log(words);
        return Failure(fmt::format("unknown directive '{}'", directive));
    }

    [[nodiscard]] Parsed<Scenario> finish() {
        if (!started_)
            return Failure("no 'start' line");
        return std::move(scenario_);
    }

  private:
    [[nodiscard]] Parsed<void> set(Words& words) {
        if (started_)
            return Failure("'set' after 'start'; write 'at MS set' instead");
        auto property = set_property(words);
        if (!property)
            return Failure(property.error());
        scenario_.initial_settings.push_back(std::move(*property));
        return {};
    }

    [[nodiscard]] Parsed<void> start(Words& words) {
        if (started_)
            return Failure("a second 'start'");
        auto word = words.required("cookie");
        if (!word)
            return Failure(word.error());
        auto cookie = unsigned_number(*word, "cookie");
        if (!cookie)
            return Failure(cookie.error());
        scenario_.cookie = *cookie;
        started_ = true;
        return words.end("the cookie");
    }

    [[nodiscard]] Parsed<void> at(Words& words) {
        if (!started_)
            return Failure("'at' before 'start'");
        auto time_word = words.required("time");
        if (!time_word)
            return Failure(time_word.error());
        auto ms = tools::parse_number<std::uint64_t>(*time_word, 10);
        if (!ms)
            return Failure(fmt::format("time '{}' is not a decimal number", *time_word));
        if (*ms > kLatestInputMs) {
            return Failure(fmt::format("time {} is later than {}", *ms, kLatestInputMs));
        }
        auto kind = words.required("input");
        if (!kind)
            return Failure(kind.error());
        auto input = timed_input(*kind, words);
        if (!input)
            return Failure(input.error());
        if (auto end = words.end(fmt::format("'{}'", *kind)); !end)
            return end;
        scenario_.inputs.push_back({*ms, std::move(*input)});
        return {};
    }

    [[nodiscard]] Parsed<void> expect(Words& words) {
        std::string_view line = words.rest();
        if (line.empty())
            return Failure("missing callback line");
        scenario_.expected_transcript.emplace_back(line);
        return {};
    }

    [[nodiscard]] Parsed<void> expect_log(Words& words) {
        auto word = words.required("log level");
        if (!word)
            return Failure(word.error());
        auto level = level_from_word(*word);
        if (!level)
            return Failure(fmt::format("unknown log level '{}'", *word));
        std::string_view message = words.rest();
        if (message.empty())
            return Failure("missing log text");
        scenario_.expected_logs.push_back({*level, std::string(message)});
        return {};
    }

    Scenario scenario_;
    bool started_ = false;
};

}  // namespace

std::string_view level_word(log::Level level) {
    switch (level) {
        case log::Level::Error:
            return "Error";
        case log::Level::Warn:
            return "Warn";
        case log::Level::Info:
            return "Info";
        case log::Level::Debug:
            return "Debug";
        case log::Level::Trace:
            return "Trace";
    }
    return "?";
}

std::expected<Scenario, ParseError> parse_scenario(std::string_view text) {
    Parser parser;
    std::size_t line_number = 0;
    while (!text.empty() || line_number == 0) {
        ++line_number;
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (auto parsed = parser.line(line); !parsed) {
            return std::unexpected(ParseError{line_number, parsed.error()});
        }
    }
    auto scenario = parser.finish();
    if (!scenario)
        return std::unexpected(ParseError{line_number, scenario.error()});
    return std::move(*scenario);
}

}  // namespace norvo::replay
