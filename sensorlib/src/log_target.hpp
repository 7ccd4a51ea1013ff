#pragma once

#include "norvo/log.hpp"

namespace norvo::sensorlib {

inline constexpr log::Target kLog{"corvane_windows_sensors::manager"};

}  // namespace norvo::sensorlib
