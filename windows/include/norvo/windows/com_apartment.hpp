#pragma once

#include "norvo/service/runtime.hpp"

namespace norvo::windows {

// The multithreaded COM apartment, joined and left per sensor run.
class MtaApartment final : public service::ComApartment {
  public:
    std::expected<void, sensors::PlatformError> initialize() override;
    void uninitialize() override;
};

}  // namespace norvo::windows
