#include "norvo/host/etw.hpp"

#include <algorithm>

namespace norvo::host::etw {
namespace {

constexpr std::uint8_t kInUint32 = 0x08;
constexpr std::uint8_t kInCountedAnsiStringWithOutType = 0x97;
constexpr std::uint8_t kOutUtf8 = 0x23;

template <std::size_t N>
struct Blob {
    std::array<std::uint8_t, N> bytes{};
    std::size_t used = 0;

    constexpr void byte(std::uint8_t b) { bytes[used++] = b; }
    constexpr void text(std::string_view s) {
        for (char c : s) byte(static_cast<std::uint8_t>(c));
        byte(0);
    }
    // The blob's 16-bit little-endian total size, in its first two bytes.
    constexpr std::array<std::uint8_t, N> finish() {
        bytes[0] = static_cast<std::uint8_t>(used & 0xFF);
        bytes[1] = static_cast<std::uint8_t>(used >> 8);
        return bytes;
    }
};

constexpr auto kTraits = [] {
    Blob<26> blob;
    blob.used = 2;
    blob.text(kProviderName);
    return blob.finish();
}();

constexpr auto kMetadata = [] {
    Blob<55> blob;
    blob.used = 2;
    blob.byte(0);
    blob.text("TraceEvent");
    for (std::string_view name : {"Message", "Line#", "File", "Component Name"}) {
        blob.text(name);
        if (name == "Line#") {
            blob.byte(kInUint32);
        } else {
            blob.byte(kInCountedAnsiStringWithOutType);
            blob.byte(kOutUtf8);
        }
    }
    return blob.finish();
}();

std::uint16_t counted_size(std::string_view text) {
    return static_cast<std::uint16_t>(std::min(text.size(), kMaxTextBytes));
}

}  // namespace

std::span<const std::uint8_t> provider_traits() {
    return kTraits;
}
std::span<const std::uint8_t> event_metadata() {
    return kMetadata;
}

EventDescriptor descriptor_for(log::Level level) {
    switch (level) {
        case log::Level::Error:
            return {.level = 2};
        case log::Level::Warn:
            return {.level = 3};
        case log::Level::Info:
            return {.level = 4};
        case log::Level::Debug:
        case log::Level::Trace:
            return {.level = 5};
    }
    return {.level = 5};
}

void EnableState::on_enable_callback(std::uint32_t control_code, std::uint8_t level,
                                     std::uint64_t any_keyword, std::uint64_t all_keyword) {
    if (control_code == kDisable) {
        level_.store(-1, std::memory_order_relaxed);
    } else if (control_code == kEnable) {
        any_keyword_.store(any_keyword, std::memory_order_relaxed);
        all_keyword_.store(all_keyword, std::memory_order_relaxed);
        level_.store(level, std::memory_order_relaxed);
    }
}

bool EnableState::is_enabled(const EventDescriptor& descriptor) const {
    const auto level = level_.load(std::memory_order_relaxed);
    if (level <= 0 || level < descriptor.level)
        return false;
    const auto any = any_keyword_.load(std::memory_order_relaxed);
    const auto all = all_keyword_.load(std::memory_order_relaxed);
    return (any & descriptor.keyword) != 0 && (all & ~descriptor.keyword) == 0;
}

EventData::EventData(const log::Record& record)
    : message_size_(counted_size(record.message)),
      line_(record.line),
      file_size_(counted_size(record.file)),
      target_size_(counted_size(record.target)),
      descriptors_{{
          {kTraits.data(), static_cast<std::uint32_t>(kTraits.size()), kProviderTraits},
          {kMetadata.data(), static_cast<std::uint32_t>(kMetadata.size()), kEventMetadata},
          {&message_size_, sizeof message_size_, kUserData},
          {record.message.data(), message_size_, kUserData},
          {&line_, sizeof line_, kUserData},
          {&file_size_, sizeof file_size_, kUserData},
          {record.file.data(), file_size_, kUserData},
          {&target_size_, sizeof target_size_, kUserData},
          {record.target.data(), target_size_, kUserData},
      }} {}

bool EtwLogger::accepts(log::Level level) const {
    return writer_->enable_state().is_enabled(descriptor_for(level));
}

void EtwLogger::write(const log::Record& record) {
    const auto descriptor = descriptor_for(record.level);
    if (!writer_->enable_state().is_enabled(descriptor))
        return;
    const EventData data(record);
    writer_->write(descriptor, data.descriptors());
}

}  // namespace norvo::host::etw
