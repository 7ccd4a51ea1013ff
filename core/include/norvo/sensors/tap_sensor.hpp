#pragma once
// What the system relies on from the tap sensor, gathered in one place.

#include "norvo/guid.hpp"
#include "norvo/sensors/types.hpp"

namespace norvo::sensors::tap_sensor {

// Found by this ID; its persistent unique ID is the same GUID.
inline constexpr Guid kSensorId{
    0x9B4AA91F, 0xAEBD, 0x4CF2, {0x95, 0x65, 0x67, 0x2E, 0x4F, 0x05, 0x86, 0xCB}};

// The platform's common sensor property set.
inline constexpr Guid kSensorPropertyCommon{
    0x7F8383EC, 0xD3EC, 0x495C, {0xA8, 0xCF, 0xB8, 0xBB, 0xE8, 0x5C, 0x29, 0x20}};
inline constexpr PropertyKey kPersistentUniqueId{kSensorPropertyCommon, 5};
inline constexpr PropertyKey kManufacturer{kSensorPropertyCommon, 6};
inline constexpr PropertyKey kModel{kSensorPropertyCommon, 7};

// The second data field (index 1) carries the tap flag as a UI4.
inline constexpr std::size_t kTapFieldIndex = 1;
inline constexpr std::size_t kMinimumFieldCount = 2;

}  // namespace norvo::sensors::tap_sensor
