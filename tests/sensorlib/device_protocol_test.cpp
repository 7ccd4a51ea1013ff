// The device protocol and vtap-sensor's commands: what reaches the stand-in, and
// what is refused before it can.

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "commands.hpp"
#include "norvo/linux/sensor_device_protocol.hpp"

namespace norvo::testing {
namespace {

namespace device = linux_platform::sensor_device;
using vtap_sensor::Command;
using vtap_sensor::parse_command;

// The line a command sends, or "fields N" / "sleep MS" / "-" (nothing) / "error: ...".
std::string outcome(std::string_view line) {
    auto parsed = parse_command(line);
    if (!parsed)
        return "error: " + parsed.error();
    if (!*parsed)
        return "-";
    struct Show {
        std::string operator()(const device::Message& m) const {
            auto text = device::encode(m);
            text.pop_back();
            return text;
        }
        std::string operator()(const vtap_sensor::SetFields& f) const {
            return fmt::format("fields {}", f.count);
        }
        std::string operator()(const vtap_sensor::Sleep& s) const {
            return fmt::format("sleep {}", s.duration.count());
        }
    };
    return std::visit(Show{}, **parsed);
}

TEST(VtapSensorCommands, BecomeDeviceMessages) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"enter", "enter 0 0 NorvoSimTap Norvo"},
        {"  enter -3 M\tK \r", "enter -3 0 M K"},
        {"leave", "leave"},
        {"state 2147483647", "state 2147483647"},
        {"state -8", "state -8"},
        {"tap", "report 19:0000000000000000 19:0100000000000000"},
        {"notap", "report 19:0000000000000000 19:0000000000000000"},
        {"report", "report"},
        {"report Empty:7 Null:-1 I2:-2 I4:70000 UI2:65535 UI4:256",
         "report 0:0000000000000000 1:0000000000000000 2:feff000000000000 3:7011010000000000 "
         "18:ffff000000000000 19:0001000000000000"},
        {"report R4:1.5 R8:-2 FILETIME:4294967297",
         "report 4:0000c03f00000000 5:00000000000000c0 64:0100000001000000"},
        {"fields 0", "fields 0"},
        {"fields 64", "fields 64"},
        {"sleep 250", "sleep 250"},
        {"", "-"},
        {"# a comment", "-"},
    };
    for (const auto& [line, expected] : cases) EXPECT_EQ(outcome(line), expected) << line;
}

TEST(VtapSensorCommands, RefuseWhatTheyCannotSend) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"tapp", "error: unknown command: tapp"},
        {"enter x", "error: not a number: x"},
        {"enter 0 a b c", "error: enter takes at most STATE MODEL MANUFACTURER"},
        {"leave now", "error: leave takes no argument"},
        {"state", "error: state takes one number"},
        {"state 2147483648", "error: state takes a number from -2147483648 to 2147483647"},
        {"fields 65", "error: fields takes a number from 0 to 64"},
        {"sleep -1", "error: sleep takes a number from 0 to 4294967295"},
        {"report I2:40000", "error: out of range: 40000"},
        {"report UI4:-1", "error: not a number: -1"},
        {"report Bool:1", "error: unknown type: Bool"},
        {"report UI4", "error: expected TYPE:VALUE, got UI4"},
        {"report Null:x", "error: not a number: x"},
    };
    for (const auto& [line, expected] : cases) EXPECT_EQ(outcome(line), expected) << line;
}

TEST(DeviceProtocol, DecodesWhatItEncodes) {
    const device::Message messages[] = {
        device::Enter{-1, 3, "Modell-\xC3\xA4", "Maker"},
        device::Leave{},
        device::State{42},
        device::Report{{{19, {1, 0, 0, 0, 0, 0, 0, 0}}, {64, {1, 2, 3, 4, 5, 6, 7, 8}}}},
        device::Report{},
    };
    for (const auto& m : messages) {
        auto line = device::encode(m);
        ASSERT_EQ(line.back(), '\n');
        line.pop_back();
        auto decoded = device::decode(line);
        ASSERT_TRUE(decoded) << line << ": " << decoded.error();
        EXPECT_EQ(*decoded, m) << line;
    }
}

TEST(DeviceProtocol, RefusesMalformedAndUnsafeMessages) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"", "empty message"},
        {"jump", "unknown message: jump"},
        {"leave 1", "unknown message: leave"},
        {"enter 0 2 Model", "enter takes STATE FIELDS MODEL MANUFACTURER"},
        {"enter 0 65 M K", "at most 64 fields"},
        {"enter 0 2 M\xC3 K", "model and manufacturer must be printable UTF-8"},
        {"enter 0 2 M\xED\xA0\x80 K",
         "model and manufacturer must be printable UTF-8"},  // a surrogate
        {"state 2147483648", "not a valid number: 2147483648"},
        {"report 19:01", "a report value is TYPE:16 hex digits, not 19:01"},
        {"report 19:01000000000000zz", "not a valid number: zz"},
        {"report 31:0000000000000000", "type 31 is no plain value"},      // a string pointer
        {"report 8200:0000000000000000", "type 8200 is no plain value"},  // an array
    };
    for (const auto& [line, expected] : cases) {
        auto decoded = device::decode(line);
        ASSERT_FALSE(decoded) << line;
        EXPECT_EQ(decoded.error(), expected) << line;
    }
}

}  // namespace
}  // namespace norvo::testing
