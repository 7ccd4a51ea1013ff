#pragma once
// The ETW provider registration behind the ETW logger.

#include "norvo/host/etw.hpp"

#include <windows.h>

#include <evntprov.h>

#include <array>
#include <memory>
#include <span>

namespace norvo::windows {

class EtwProvider final : public host::etw::EventWriter {
  public:
    EtwProvider() = default;
    EtwProvider(const EtwProvider&) = delete;
    EtwProvider& operator=(const EtwProvider&) = delete;
    ~EtwProvider() override;

    // Registers with ETW and attaches the provider traits. A failed registration is
    // silent: the provider then never writes.
    void register_provider();

    const host::etw::EnableState& enable_state() const override { return state_; }
    void write(
        const host::etw::EventDescriptor& descriptor,
        std::span<const host::etw::DataDescriptor, host::etw::kDescriptorCount> data) override;

  private:
    host::etw::EnableState state_;  // the enable callback's context
    REGHANDLE handle_ = 0;
};

EVENT_DESCRIPTOR to_platform(const host::etw::EventDescriptor& descriptor);
std::array<EVENT_DATA_DESCRIPTOR, host::etw::kDescriptorCount> to_platform(
    std::span<const host::etw::DataDescriptor, host::etw::kDescriptorCount> data);

}  // namespace norvo::windows
