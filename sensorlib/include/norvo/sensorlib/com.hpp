#pragma once
// The COM shapes the sensor library is written against: the SDK's on Windows,
// the stand-in's elsewhere. Nothing else in the library differs between the two.

#ifdef _WIN32
// windows.h first: the others build on it.
#include <windows.h>

#include <inspectable.h>
#include <objidl.h>
#include <portabledevicetypes.h>
#include <propidl.h>
#include <sensorsapi.h>
#else
#include "norvo/linux/sensorapi.h"
#endif
