#pragma once
// The COM shapes the sensor library is written against: the SDK's on Windows,
// the stand-in's elsewhere. Nothing else in the library differs between the two.

#ifdef _WIN32
// windows.h first: the others build on it.
#include <inspectable.h>
#include <objidl.h>
#include <portabledevicetypes.h>
#include <propidl.h>
#include <sensors.h>
#include <sensorsapi.h>
#include <windows.h>
#else
#include "norvo/linux/sensorapi.h"
#endif

namespace norvo::sensorlib {

// IID_IInspectable, spelled out: mingw-w64's import libraries lack it.
inline constexpr IID kIidInspectable{
    0xAF86E2E0, 0xB12D, 0x4C6A, {0x9C, 0x5A, 0xD7, 0xAA, 0x65, 0x10, 0x1E, 0x90}};

}  // namespace norvo::sensorlib
