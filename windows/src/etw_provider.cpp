#include "norvo/windows/etw_provider.hpp"

#include "norvo/fatal.hpp"

#include <atomic>
#include <bit>

namespace norvo::windows {
namespace {

constexpr auto kProviderTraitsClass = static_cast<EVENT_INFO_CLASS>(2);

// Serialises registering and unregistering across the process.
std::atomic<bool> g_busy{false};

class BusyFlag {
  public:
    explicit BusyFlag(std::string_view fixed_message_when_taken) {
        if (g_busy.exchange(true, std::memory_order_acquire))
            fatal(fixed_message_when_taken);
    }
    ~BusyFlag() { g_busy.store(false, std::memory_order_release); }
};

void NTAPI on_enable(LPCGUID, ULONG control_code, UCHAR level, ULONGLONG any_keyword,
                     ULONGLONG all_keyword, PEVENT_FILTER_DESCRIPTOR, PVOID context) {
    static_cast<host::etw::EnableState*>(context)->on_enable_callback(control_code, level,
                                                                      any_keyword, all_keyword);
}

GUID provider_guid() {
    const auto& id = host::etw::kProviderId;
    return GUID{id.data1,
                id.data2,
                id.data3,
                {id.data4[0], id.data4[1], id.data4[2], id.data4[3], id.data4[4], id.data4[5],
                 id.data4[6], id.data4[7]}};
}

}  // namespace

void EtwProvider::register_provider() {
    ULONG status;
    {
        BusyFlag busy(
            "provider.register called simultaneously with another call to register or unregister.");
        if (handle_ != 0)
            fatal("provider.register called when provider is already registered");
        const GUID id = provider_guid();
        status = EventRegister(&id, &on_enable, &state_, &handle_);
    }
    if (status != ERROR_SUCCESS)
        return;
    const auto traits = host::etw::provider_traits();
    EventSetInformation(handle_, kProviderTraitsClass, const_cast<std::uint8_t*>(traits.data()),
                        static_cast<ULONG>(traits.size()));
}

EtwProvider::~EtwProvider() {
    BusyFlag busy(
        "provider.unregister called simultaneously with another call to register or unregister.");
    if (handle_ != 0)
        EventUnregister(handle_);
    state_.on_enable_callback(host::etw::EnableState::kDisable, 0, 0, 0);
    handle_ = 0;
}

void EtwProvider::write(
    const host::etw::EventDescriptor& descriptor,
    std::span<const host::etw::DataDescriptor, host::etw::kDescriptorCount> data) {
    const EVENT_DESCRIPTOR platform_descriptor = to_platform(descriptor);
    auto platform_data = to_platform(data);
    EventWriteTransfer(handle_, &platform_descriptor, nullptr, nullptr,
                       static_cast<ULONG>(platform_data.size()), platform_data.data());
}

EVENT_DESCRIPTOR to_platform(const host::etw::EventDescriptor& d) {
    return EVENT_DESCRIPTOR{d.id, d.version, d.channel, d.level, d.opcode, d.task, d.keyword};
}

std::array<EVENT_DATA_DESCRIPTOR, host::etw::kDescriptorCount> to_platform(
    std::span<const host::etw::DataDescriptor, host::etw::kDescriptorCount> data) {
    std::array<EVENT_DATA_DESCRIPTOR, host::etw::kDescriptorCount> platform{};
    for (std::size_t i = 0; i < data.size(); ++i) {
        // The type is the low byte of the reserved word.
        platform[i] = EVENT_DATA_DESCRIPTOR{std::bit_cast<std::uintptr_t>(data[i].data),
                                            data[i].size, data[i].type};
    }
    return platform;
}

}  // namespace norvo::windows
