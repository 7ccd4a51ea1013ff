#include "norvo/sensors/sensor_error.hpp"
#include "norvo/sensors/tap_sensor.hpp"
#include "norvo/sensors/types.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

using namespace norvo::sensors;

// A field as read from a report: the value's bytes little-endian, padded to 8
// with `upper` (what the value area held beyond a 32-bit value).
SensorField field(SensorValueType type, std::uint32_t value, std::uint8_t upper = 0) {
    std::vector<std::uint8_t> bytes(8, upper);
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
    return {bytes, tap_sensor::kManufacturer, type};
}

SensorField ui4(std::uint32_t value, std::uint8_t upper = 0) {
    return field(SensorValueType::UI4, value, upper);
}

TEST(DecodeTap, GoesBySecondFieldsLowestByte) {
    const SensorField any = field(SensorValueType::R8, 0x01010101);
    const SensorField template_ui4{{}, tap_sensor::kManufacturer, SensorValueType::UI4};
    const SensorField one_byte{{1}, tap_sensor::kManufacturer, SensorValueType::UI4};
    struct Case {
        const char* name;
        std::vector<SensorField> fields;
        std::optional<bool> tap;
    };
    const Case cases[] = {
        {"no fields", {}, std::nullopt},
        {"one field", {ui4(1)}, std::nullopt},
        {"1 is a tap", {any, ui4(1)}, true},
        {"0 is no tap", {any, ui4(0)}, false},
        {"0x100 is no tap", {any, ui4(0x100)}, false},
        {"0x101 is a tap", {any, ui4(0x101)}, true},
        {"bytes past the lowest are not looked at", {any, ui4(0xFFFFFF00, 0xFF)}, false},
        {"a short value is read by its first byte", {any, one_byte}, true},
        {"first field is not looked at", {ui4(1), ui4(0)}, false},
        {"I4 is not decodable", {any, field(SensorValueType::I4, 1)}, std::nullopt},
        {"Null is not decodable", {any, field(SensorValueType::Null, 0xFFFF)}, std::nullopt},
        {"Empty is not decodable", {any, field(SensorValueType::Empty, 1)}, std::nullopt},
        {"empty value is not decodable", {any, template_ui4}, std::nullopt},
        {"third field is ignored (no tap)", {any, ui4(0), ui4(1)}, false},
        {"third field is ignored (tap)", {any, ui4(1), field(SensorValueType::I4, 0)}, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decode_tap(c.fields), c.tap) << c.name;
    }
}

TEST(SensorStateConversion, OnlyZeroToFiveConvert) {
    struct Case {
        std::int32_t platform;
        std::optional<SensorState> state;
    };
    const Case cases[] = {
        {0, SensorState::SensorStateReady},
        {1, SensorState::SensorStateNotAvailable},
        {2, SensorState::SensorStateNoData},
        {3, SensorState::SensorStateInitializing},
        {4, SensorState::SensorStateAccessDenied},
        {5, SensorState::SensorStateError},
        {6, std::nullopt},
        {-1, std::nullopt},
        {256, std::nullopt},  // would read as 0 if narrowed to a byte first
        {std::numeric_limits<std::int32_t>::min(), std::nullopt},
        {std::numeric_limits<std::int32_t>::max(), std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sensor_state_from_platform(c.platform), c.state) << c.platform;
    }
}

TEST(SensorStateText, IsThePlatformName) {
    EXPECT_EQ(fmt::format("{}", SensorState::SensorStateReady), "SensorStateReady");
    EXPECT_EQ(fmt::format("{}", SensorState::SensorStateNotAvailable), "SensorStateNotAvailable");
    EXPECT_EQ(fmt::format("{}", SensorState::SensorStateNoData), "SensorStateNoData");
    EXPECT_EQ(fmt::format("{}", SensorState::SensorStateInitializing), "SensorStateInitializing");
    EXPECT_EQ(fmt::format("{}", SensorState::SensorStateAccessDenied), "SensorStateAccessDenied");
    EXPECT_EQ(fmt::format("{}", SensorState::SensorStateError), "SensorStateError");
}

TEST(ValueTypeMapping, KeepsListedCodesApartAndMapsTheRestToNull) {
    struct Case {
        std::uint16_t code;
        SensorValueType type;
        std::string_view name;
    };
    const Case cases[] = {
        {0, SensorValueType::Empty, "Empty"},
        {1, SensorValueType::Null, "Null"},
        {2, SensorValueType::I2, "I2"},
        {3, SensorValueType::I4, "I4"},
        {4, SensorValueType::R4, "R4"},
        {5, SensorValueType::R8, "R8"},
        {11, SensorValueType::Null, "Null"},  // VT_BOOL
        {17, SensorValueType::Null, "Null"},  // VT_UI1
        {18, SensorValueType::UI2, "UI2"},
        {19, SensorValueType::UI4, "UI4"},
        {21, SensorValueType::Null, "Null"},  // VT_UI8
        {31, SensorValueType::Null, "Null"},  // VT_LPWSTR
        {64, SensorValueType::Null, "Null"},  // VT_FILETIME
        {19 + 256, SensorValueType::Null, "Null"},
        {0x1013, SensorValueType::Null, "Null"},  // vector of UI4
        {0x4013, SensorValueType::Null, "Null"},  // UI4 by reference
        {0xFFFF, SensorValueType::Null, "Null"},
    };
    for (const auto& c : cases) {
        const SensorValueType type = value_type_from_platform(c.code);
        EXPECT_EQ(type, c.type) << c.code;
        EXPECT_EQ(value_type_name(type), c.name) << c.code;
    }
}

TEST(SensorErrorText, IsTheVariantNameWithThePlatformErrorForWin32) {
    const auto win32 = [](std::uint32_t code, std::string message) {
        return SensorError{SensorError::Kind::Win32,
                           PlatformError{static_cast<std::int32_t>(code), std::move(message)}};
    };
    struct Case {
        SensorError error;
        std::string text;
    };
    const Case cases[] = {
        {win32(0x80004005, "Unspecified error"),
         "Win32(Error { code: HRESULT(0x80004005), message: \"Unspecified error\" })"},
        {win32(0x8000FFFF, "Catastrophic \"failure\"\r\n"),
         "Win32(Error { code: HRESULT(0x8000FFFF), "
         "message: \"Catastrophic \\\"failure\\\"\\r\\n\" })"},
        {win32(0x1, ""), "Win32(Error { code: HRESULT(0x00000001), message: \"\" })"},
        {SensorError{SensorError::Kind::SensorNotFound, PlatformError{0, {}}}, "SensorNotFound"},
        {SensorError{SensorError::Kind::InvalidSensorState, PlatformError{0, {}}},
         "InvalidSensorState"},
        {SensorError{SensorError::Kind::SensorNotReady, PlatformError{0, {}}}, "SensorNotReady"},
        {SensorError{SensorError::Kind::FailedToGetSensorFields, PlatformError{0, {}}},
         "FailedToGetSensorFields"},
        {SensorError{SensorError::Kind::AlreadySubscribed, PlatformError{0, {}}},
         "AlreadySubscribed"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fmt::format("{}", c.error), c.text);
    }
    EXPECT_EQ(fmt::format("{}", PlatformError{0, "The operation completed successfully."}),
              "Error { code: HRESULT(0x00000000), "
              "message: \"The operation completed successfully.\" }");
}

TEST(PropertyKeyText, ShowsGuidAndDecimalPid) {
    EXPECT_EQ(fmt::format("{}", tap_sensor::kPersistentUniqueId),
              "PROPERTYKEY { fmtid: 7F8383EC-D3EC-495C-A8CF-B8BBE85C2920, pid: 5 }");
    EXPECT_EQ(fmt::format("{}", PropertyKey{tap_sensor::kSensorId, 4294967295u}),
              "PROPERTYKEY { fmtid: 9B4AA91F-AEBD-4CF2-9565-672E4F0586CB, pid: 4294967295 }");
}

}  // namespace
