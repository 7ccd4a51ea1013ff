#pragma once
// The log sink that writes every record as one TraceLogging event: the provider's
// traits, the event's metadata, the descriptors per level, the sessions' filter and
// the event's data, in the byte layouts the platform expects. Only the registration
// and the write call itself are platform code.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "norvo/guid.hpp"
#include "norvo/log.hpp"

namespace norvo::host::etw {

inline constexpr Guid kProviderId{
    0xD3779752, 0xBCF0, 0x479A, {0x9F, 0x4B, 0xFB, 0x2C, 0x54, 0x41, 0xFF, 0x3D}};
inline constexpr std::string_view kProviderName = "Corvane.Service.Vextora";
inline constexpr std::uint64_t kKeyword = 0x23;
inline constexpr std::uint8_t kTraceLoggingChannel = 11;
// Texts longer than this are cut to it: a counted string's size is 16-bit.
inline constexpr std::size_t kMaxTextBytes = 65535;

// Total size (16-bit, counting itself), then the provider name with its NUL.
std::span<const std::uint8_t> provider_traits();
// Size, tag 0, "TraceEvent", then the fields Message, Line#, File and Component Name.
std::span<const std::uint8_t> event_metadata();

struct EventDescriptor {
    std::uint16_t id = 0;
    std::uint8_t version = 0;
    std::uint8_t channel = kTraceLoggingChannel;
    std::uint8_t level;
    std::uint8_t opcode = 0;
    std::uint16_t task = 0;
    std::uint64_t keyword = kKeyword;
    friend bool operator==(const EventDescriptor&, const EventDescriptor&) = default;
};

EventDescriptor descriptor_for(log::Level level);

// What the sessions listening to the provider asked for. Written by the platform's
// enable callback, read by every logging thread without a lock.
class EnableState {
  public:
    static constexpr std::uint32_t kDisable = 0;
    static constexpr std::uint32_t kEnable = 1;

    void on_enable_callback(std::uint32_t control_code, std::uint8_t level,
                            std::uint64_t any_keyword, std::uint64_t all_keyword);
    bool is_enabled(const EventDescriptor& descriptor) const;
    std::int32_t level() const { return level_.load(std::memory_order_relaxed); }

  private:
    std::atomic<std::int32_t> level_{-1};  // -1: no session listens
    std::atomic<std::uint64_t> any_keyword_{0};
    std::atomic<std::uint64_t> all_keyword_{0};
};

// Data-descriptor types.
inline constexpr std::uint8_t kUserData = 0;
inline constexpr std::uint8_t kEventMetadata = 1;
inline constexpr std::uint8_t kProviderTraits = 2;

struct DataDescriptor {
    const void* data;
    std::uint32_t size;
    std::uint8_t type;
};

inline constexpr std::size_t kDescriptorCount = 9;

// The nine data descriptors of one record: traits, metadata, then message, line, file
// and target. It points into the record's texts and into itself, so it is neither
// copied nor kept past the record.
class EventData {
  public:
    explicit EventData(const log::Record& record);
    EventData(const EventData&) = delete;
    EventData& operator=(const EventData&) = delete;

    std::span<const DataDescriptor, kDescriptorCount> descriptors() const { return descriptors_; }

  private:
    std::uint16_t message_size_;
    std::uint32_t line_;
    std::uint16_t file_size_;
    std::uint16_t target_size_;
    std::array<DataDescriptor, kDescriptorCount> descriptors_;
};

// The provider registration as the logger uses it.
class EventWriter {
  public:
    virtual ~EventWriter() = default;
    virtual const EnableState& enable_state() const = 0;
    virtual void write(const EventDescriptor& descriptor,
                       std::span<const DataDescriptor, kDescriptorCount> data) = 0;
};

// Owns the registration: destroying the logger unregisters the provider.
class EtwLogger final : public log::Sink {
  public:
    explicit EtwLogger(std::unique_ptr<EventWriter> writer) : writer_(std::move(writer)) {}

    bool accepts(log::Level level) const override;
    void write(const log::Record& record) override;

  private:
    std::unique_ptr<EventWriter> writer_;
};

}  // namespace norvo::host::etw
