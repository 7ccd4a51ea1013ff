#include "norvo/replay/scenario.hpp"
#include "support/case_name.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace norvo::replay;
using Bytes = std::vector<std::uint8_t>;
using norvo::sensors::SensorState;
using norvo::sensors::SensorValueType;

struct ErrorCase {
    std::string text;
    std::size_t line;
    std::string reason;
};

class ParseErrors : public testing::TestWithParam<ErrorCase> {};

TEST_P(ParseErrors, NameTheLineAndTheReason) {
    auto parsed = parse_scenario(GetParam().text);
    ASSERT_FALSE(parsed.has_value()) << GetParam().text;
    EXPECT_EQ(parsed.error().line, GetParam().line);
    EXPECT_EQ(parsed.error().reason, GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(
    Scenario, ParseErrors,
    testing::Values(
        // Structure.
        ErrorCase{"", 1, "no 'start' line"}, ErrorCase{"# only\nset 2 1\n", 2, "no 'start' line"},
        ErrorCase{"start 1\nstart 2", 2, "a second 'start'"},
        ErrorCase{"at 5 phone\nstart 1", 1, "'at' before 'start'"},
        ErrorCase{"start 1\nset 2 1", 2, "'set' after 'start'; write 'at MS set' instead"},
        ErrorCase{"frobnicate 1", 1, "unknown directive 'frobnicate'"},
        ErrorCase{"start", 1, "missing cookie"},
        ErrorCase{"start x", 1, "cookie 'x' is not a number"},
        ErrorCase{"start 0x", 1, "cookie '0x' is not a number"},
        ErrorCase{"start 18446744073709551616", 1, "cookie '18446744073709551616' is not a number"},
        ErrorCase{"start 1 2", 1, "unexpected '2' after the cookie"},
        // Times and inputs.
        ErrorCase{"start 1\n\nat -5 phone", 3, "time '-5' is not a decimal number"},
        ErrorCase{"start 1\nat 5", 2, "missing input"},
        ErrorCase{"start 1\nat 5 jump", 2, "unknown input 'jump'"},
        ErrorCase{"start 1\nat 5 phone loud", 2, "pulse 'loud' is not a number"},
        ErrorCase{"start 1\nat 5 phone 1 2", 2, "unexpected '2' after 'phone'"},
        ErrorCase{"start 1\nat 5 tap now", 2, "unexpected 'now' after 'tap'"},
        ErrorCase{"start 1\nat 5 left 3", 2, "unexpected '3' after 'left'"},
        ErrorCase{"start 1\nat 5 stop 1", 2, "unexpected '1' after 'stop'"},
        ErrorCase{"start 1\nat 5 packet", 2, "missing packet bytes"},
        ErrorCase{"start 1\nat 5 packet 01 0", 2, "odd number of hex digits in '01 0'"},
        ErrorCase{"start 1\nat 5 packet 0g", 2, "'0g' is not hex"},
        ErrorCase{"start 1\nat 5 report UI4", 2, "field 'UI4' is not T:V"},
        ErrorCase{"start 1\nat 5 report U8:1", 2, "unknown field type 'U8'"},
        ErrorCase{"start 1\nat 5 report UI4:x", 2, "field value 'x' is not an integer"},
        ErrorCase{"start 1\nat 5 report I2:32768", 2, "32768 does not fit I2"},
        ErrorCase{"start 1\nat 5 report UI2:65536", 2, "65536 does not fit UI2"},
        ErrorCase{"start 1\nat 5 report UI4:-1", 2, "-1 does not fit UI4"},
        ErrorCase{"start 1\nat 5 report I4:2147483648", 2, "2147483648 does not fit I4"},
        ErrorCase{"start 1\nat 5 state 6", 2, "sensor state '6' is not 0 to 5"},
        ErrorCase{"start 1\nat 5 state -1", 2, "sensor state '-1' is not 0 to 5"},
        ErrorCase{"start 1\nat 5 entered", 2, "missing sensor state"},
        ErrorCase{"start 1\nat 5 set 2", 2, "missing property value"},
        // Property values.
        ErrorCase{"set", 1, "missing property key"},
        ErrorCase{"set two 1", 1, "key 'two' is not a 32-bit number"},
        ErrorCase{"set 0x1FFFFFFFF 1", 1, "key '0x1FFFFFFFF' is not a 32-bit number"},
        ErrorCase{"set 2147483648 hex:01", 1, "key '2147483648' is not a 32-bit number"},
        ErrorCase{"set 2 yes", 1, "switch value 'yes' is not 0 or 1"},
        ErrorCase{"set 0x3C5A0E91 2", 1, "switch value '2' is not 0 or 1"},
        ErrorCase{"set 3 -1", 1, "range '-1' is not a 32-bit decimal number"},
        ErrorCase{"set 3 4294967296", 1, "range '4294967296' is not a 32-bit decimal number"},
        ErrorCase{"set 1 5", 1, "key 1 takes its value as hex:BYTES"},
        ErrorCase{"set 7 hex:ABC", 1, "odd number of hex digits in 'ABC'"},
        // Expectations.
        ErrorCase{"expect", 1, "missing callback line"},
        ErrorCase{"expect-log", 1, "missing log level"},
        ErrorCase{"expect-log Loud x", 1, "unknown log level 'Loud'"},
        ErrorCase{"expect-log INFO x", 1, "unknown log level 'INFO'"},
        ErrorCase{"expect-log Info", 1, "missing log text"},
        // The latest time, plus the implicit stop and the longest range, stays on the clock.
        ErrorCase{"start 1\nat 9219077059559 tap\nat 9219077059560 tap", 3,
                  "time 9219077059560 is later than 9219077059559"},
        ErrorCase{"start 1\nat 18446744073709551615 stop", 2,
                  "time 18446744073709551615 is later than 9219077059559"}),
    [](const auto& info) { return norvo::test::case_name(info.index, info.param.reason); });

Scenario parse(std::string_view text) {
    auto parsed = parse_scenario(text);
    EXPECT_TRUE(parsed.has_value()) << parsed.error().line << ": " << parsed.error().reason;
    return parsed.value_or(Scenario{});
}

TEST(ParseSettings, EncodeEachKindOfValue) {
    auto scenario = parse(
        "# settings\r\n"
        "   \n"
        "set 2 1\r\n"
        "set 0x3C5A0E91 0\n"
        "set 3 300\n"
        "set 7  phone app  \n"
        "set 5 hex:AA bb\n"
        "set -3 hex:\n"
        "set 0xFFFFFFFF hex:01\n"
        "start 0xFFFFFFFFFFFFFFFF\n");
    struct Want {
        norvo::service::PropertyKey key;
        Bytes value;
    };
    const std::vector<Want> want{{2, {1}},
                                 {norvo::service::property_key::debug_mode, {0}},
                                 {3, {0x2C, 0x01, 0x00, 0x00}},
                                 {7, {'p', 'h', 'o', 'n', 'e', ' ', 'a', 'p', 'p'}},
                                 {5, {0xAA, 0xBB}},
                                 {-3, {}},
                                 {-1, {0x01}}};
    ASSERT_EQ(scenario.initial_settings.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(scenario.initial_settings[i].key, want[i].key) << i;
        EXPECT_EQ(scenario.initial_settings[i].value, want[i].value) << i;
    }
    EXPECT_EQ(scenario.cookie, 0xFFFFFFFFFFFFFFFFu);
}

Bytes packet_of(const TimedInput& in) {
    return std::get<input::Packet>(in.input).bytes;
}

TEST(ParseInputs, PhonePacketsCarryVersionAndPulse) {
    auto scenario = parse(
        "start 7\n"
        "at 10 phone\n"
        "at 20 phone 1.5\n"
        "at 30 packet 01 00 07 00 00 00\n"
        "at 40 packet 0200\n");
    ASSERT_EQ(scenario.inputs.size(), 4u);
    EXPECT_EQ(packet_of(scenario.inputs[0]), (Bytes{1, 0, 1, 0, 0, 0}));
    EXPECT_EQ(packet_of(scenario.inputs[1]), (Bytes{2, 0, 1, 0, 4, 0, 0x00, 0x00, 0xC0, 0x3F}));
    EXPECT_EQ(packet_of(scenario.inputs[2]), (Bytes{1, 0, 7, 0, 0, 0}));
    EXPECT_EQ(packet_of(scenario.inputs[3]), (Bytes{2, 0}));
}

struct FieldWant {
    SensorValueType type;
    Bytes value;
};

void expect_fields(const TimedInput& in, const std::vector<FieldWant>& want) {
    const auto& fields = std::get<input::Report>(in.input).fields;
    ASSERT_EQ(fields.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(fields[i].value_type, want[i].type) << i;
        EXPECT_EQ(fields[i].value, want[i].value) << i;
    }
}

TEST(ParseInputs, ReportFieldsAreEightLittleEndianBytes) {
    auto scenario = parse(
        "start 1\n"
        "at 1 tap\n"
        "at 2 notap\n"
        "at 3 report I2:-2 I4:-2 UI2:65535 UI4:257 R4:1 R8:-1 Empty:5 Null:-7\n"
        "at 4 report\n");
    ASSERT_EQ(scenario.inputs.size(), 4u);
    const Bytes zero(8, 0);
    expect_fields(scenario.inputs[0],
                  {{SensorValueType::UI4, zero}, {SensorValueType::UI4, {1, 0, 0, 0, 0, 0, 0, 0}}});
    expect_fields(scenario.inputs[1], {{SensorValueType::UI4, zero}, {SensorValueType::UI4, zero}});
    expect_fields(scenario.inputs[2], {{SensorValueType::I2, {0xFE, 0xFF, 0, 0, 0, 0, 0, 0}},
                                       {SensorValueType::I4, {0xFE, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}},
                                       {SensorValueType::UI2, {0xFF, 0xFF, 0, 0, 0, 0, 0, 0}},
                                       {SensorValueType::UI4, {0x01, 0x01, 0, 0, 0, 0, 0, 0}},
                                       {SensorValueType::R4, {0x00, 0x00, 0x80, 0x3F, 0, 0, 0, 0}},
                                       {SensorValueType::R8, {0, 0, 0, 0, 0, 0, 0xF0, 0xBF}},
                                       {SensorValueType::Empty, zero},
                                       {SensorValueType::Null, zero}});
    expect_fields(scenario.inputs[3], {});
}

TEST(ParseInputs, KeepFileOrderAndTimes) {
    auto scenario = parse(
        "start 1\n"
        "at 500 stop\n"
        "at 100 state 2\n"
        "at 100 left\n"
        "at 0 entered 5\n"
        "at 100 set 3 0\n");
    ASSERT_EQ(scenario.inputs.size(), 5u);
    EXPECT_EQ(scenario.inputs[0].at_ms, 500u);
    EXPECT_TRUE(std::holds_alternative<input::Stop>(scenario.inputs[0].input));
    EXPECT_EQ(std::get<input::StateChanged>(scenario.inputs[1].input).state,
              SensorState::SensorStateNoData);
    EXPECT_TRUE(std::holds_alternative<input::Left>(scenario.inputs[2].input));
    EXPECT_EQ(scenario.inputs[3].at_ms, 0u);
    EXPECT_EQ(std::get<input::Entered>(scenario.inputs[3].input).state,
              SensorState::SensorStateError);
    const auto& set = std::get<input::SetProperty>(scenario.inputs[4].input);
    EXPECT_EQ(set.key, 3);
    EXPECT_EQ(set.value, (Bytes{0, 0, 0, 0}));
}

TEST(ParseExpectations, KeepTheLinesAsWritten) {
    auto scenario = parse(
        "expect SignalReturn 0x0 cookie=7\n"
        "start 7\n"
        "expect   SendClientEvent 02 00 02 00 00 00 cookie=7  \r\n"
        "expect-log Info Tap confirmed at 400, sending event\n"
        "expect-log Trace client user agent set to \"a # b\"\n");
    EXPECT_EQ(scenario.expected_transcript,
              (std::vector<std::string>{"SignalReturn 0x0 cookie=7",
                                        "SendClientEvent 02 00 02 00 00 00 cookie=7"}));
    EXPECT_EQ(scenario.expected_logs,
              (std::vector<ExpectedLog>{
                  {norvo::log::Level::Info, "Tap confirmed at 400, sending event"},
                  {norvo::log::Level::Trace, "client user agent set to \"a # b\""}}));
}

}  // namespace
