// NorvoSetProperty and NorvoQueryProperty in any order on two contexts, checked
// against a model of every property: an accepted set reads back, a rejected
// one changes nothing, the process-wide switch shows on both contexts, and a
// query fills exactly the value's bytes of the buffer or leaves it alone.
//
// Input: operations until the bytes run out, each
//   op (u8: bit 7 picks the context, the rest modulo 3: set, query, dry query),
//   key (i32 little-endian), then for a set a length (u8) and that many bytes,
//   for a query the room offered (u8).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <span>
#include <vector>

#include "norvo/log.hpp"
#include "norvo/service/procedures.hpp"
#include "support/byte_reader.hpp"
#include "support/check.hpp"

namespace {

using norvo::fuzz::check;
namespace service = norvo::service;
namespace hr = service::hr;
using service::PropertyKey;
using Bytes = std::vector<std::uint8_t>;
using Model = std::map<PropertyKey, Bytes>;  // every key a query answers with a value

namespace named = service::property_key;
constexpr PropertyKey kRangeKey = named::confirmation_range;
constexpr PropertyKey kTapStrengthKey = named::tap_strength;
constexpr PropertyKey kClientIdKey = named::client_id;
constexpr PropertyKey kSharedSwitchKey = named::ignore_unidentified_clients;
constexpr PropertyKey kSwitchKeys[] = {named::simulation_mode, named::forward_confirm_tap,
                                       kSharedSwitchKey, named::enable_unconfirmed_taps,
                                       named::debug_mode};
constexpr std::uint8_t kFill = 0xA5;
constexpr std::int32_t kUnwritten = -7;

// Formats every message, as a real sink would, and keeps none.
class DroppingSink final : public norvo::log::Sink {
  public:
    void write(const norvo::log::Record&) override {}
};

Model fresh_model() {
    Model model{{named::version, {0xE8, 0x03, 0x71, 0x00, 0x72, 0x00, 0x79, 0x25}},
                {kRangeKey, {0xF4, 0x01, 0x00, 0x00}},
                {named::connected_user, {0, 0, 0, 0}},  // no start runs in this process
                {named::dropped_sensor_reports, {0, 0, 0, 0, 0, 0, 0, 0}},
                {kClientIdKey, {0}}};
    for (auto key : kSwitchKeys) model[key] = {0};
    return model;
}

bool is_switch(PropertyKey key) {
    return std::ranges::find(kSwitchKeys, key) != std::end(kSwitchKeys);
}

bool set_accepted(PropertyKey key, std::size_t size) {
    if (is_switch(key))
        return size == 1;
    if (key == kRangeKey)
        return size == 4;
    if (key == kClientIdKey)
        return size >= 1 && size <= 128;
    return false;
}

// Length of the well-formed UTF-8 sequence at the front of `bytes`, 0 when there is none.
std::size_t utf8_sequence(std::span<const std::uint8_t> bytes) {
    const auto lead = bytes[0];
    std::size_t length = lead < 0x80 ? 1 : lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (lead > 0xF4 || length == 0 || bytes.size() < length)
        return 0;
    std::uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((bytes[i] & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (bytes[i] & 0x3F);
    }
    constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return code < kSmallest[length] || surrogate || code > 0x10FFFF ? 0 : length;
}

bool valid_utf8(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const auto length = utf8_sequence(bytes);
        if (length == 0)
            return false;
        bytes = bytes.subspan(length);
    }
    return true;
}

class Run {
  public:
    Run() {
        service::RemoteOpen(contexts_[0]);
        service::RemoteOpen(contexts_[1]);
        for (auto& model : models_) model = fresh_model();
        // The switch is process-wide: an earlier input may have left it on.
        const std::uint8_t off = 0;
        check(service::NorvoSetProperty(*contexts_[0], kSharedSwitchKey, {&off, 1}) == hr::ok,
              "the shared switch can be reset");
    }

    void step(norvo::fuzz::ByteReader& input) {
        const auto op = input.u8();
        const std::size_t which = op >> 7;
        const auto key = static_cast<PropertyKey>(input.u32());
        switch ((op & 0x7F) % 3) {
            case 0: {
                const auto value = input.take(input.u8());
                set(which, key, value);
                check_all();
                return;
            }
            case 1:
                return query(which, key, input.u8());
            default:
                return dry_query(which, key);
        }
    }

  private:
    void set(std::size_t which, PropertyKey key, std::span<const std::uint8_t> value) {
        const auto result = service::NorvoSetProperty(*contexts_[which], key, value);
        const bool accepted = set_accepted(key, value.size());
        check(result == (accepted ? hr::ok : hr::invalid_arg),
              "a set is accepted by the key's rule");
        if (!accepted)
            return;
        if (key == kClientIdKey)
            return take_client_id(which, value);
        const Bytes stored =
            is_switch(key) ? Bytes{value[0] != 0} : Bytes(value.begin(), value.end());
        models_[which][key] = stored;
        if (key == kSharedSwitchKey)
            models_[1 - which][key] = stored;
    }

    // The text is checked for what lossy decoding promises rather than recomputed.
    void take_client_id(std::size_t which, std::span<const std::uint8_t> sent) {
        auto stored = read(which, kClientIdKey);
        check(!stored.empty() && stored.back() == 0, "the client id ends in one added zero byte");
        const std::span text(stored.data(), stored.size() - 1);
        check(valid_utf8(text), "the stored client id is UTF-8");
        if (valid_utf8(sent))
            check(std::ranges::equal(text, sent), "UTF-8 is stored unchanged");
        else
            check(std::ranges::search(text, Bytes{0xEF, 0xBF, 0xBD}).size() == 3,
                  "invalid bytes leave a replacement character");
        check(text.size() <= 3 * sent.size(), "each byte becomes at most one replacement");
        models_[which][kClientIdKey] = std::move(stored);
    }

    void query(std::size_t which, PropertyKey key, std::size_t room) {
        std::int32_t size = kUnwritten;
        Bytes buffer(room, kFill);
        const auto result =
            service::NorvoQueryProperty(*contexts_[which], key, size, std::span(buffer));
        const auto known = models_[which].find(key);
        if (known == models_[which].end()) {
            check_failed_query(key, result, size);
            check(std::ranges::count(buffer, kFill) == static_cast<long>(room),
                  "a failed query leaves the buffer alone");
            return;
        }
        const auto& value = known->second;
        check(size == static_cast<std::int32_t>(value.size()),
              "a query reports the value's length");
        const bool fits = room >= value.size();
        check(result == (fits ? hr::ok : hr::invalid_arg), "a query fails only for want of room");
        const auto copied = fits ? value.size() : 0;
        check(std::equal(value.begin(), value.begin() + static_cast<long>(copied), buffer.begin()),
              "a query copies the value");
        check(std::all_of(buffer.begin() + static_cast<long>(copied), buffer.end(),
                          [](std::uint8_t b) { return b == kFill; }),
              "a query leaves the bytes behind the value alone");
    }

    void dry_query(std::size_t which, PropertyKey key) {
        std::int32_t size = kUnwritten;
        const auto result = service::NorvoQueryProperty(*contexts_[which], key, size, std::nullopt);
        const auto known = models_[which].find(key);
        if (known == models_[which].end())
            return check_failed_query(key, result, size);
        check(result == hr::ok && size == static_cast<std::int32_t>(known->second.size()),
              "a dry run reports the value's length");
    }

    static void check_failed_query(PropertyKey key, service::HRESULT result, std::int32_t size) {
        check(result == (key == kTapStrengthKey ? hr::unexpected : hr::invalid_arg),
              "a query without a value fails by its key");
        check(size == kUnwritten, "a failed query writes no size");
    }

    // In the two calls a client makes: the length, then the value.
    Bytes read(std::size_t which, PropertyKey key) {
        std::int32_t size = kUnwritten;
        check(service::NorvoQueryProperty(*contexts_[which], key, size, std::nullopt) == hr::ok &&
                  size >= 0,
              "a known property has a length");
        Bytes buffer(static_cast<std::size_t>(size));
        check(service::NorvoQueryProperty(*contexts_[which], key, size, std::span(buffer)) ==
                      hr::ok &&
                  buffer.size() == static_cast<std::size_t>(size),
              "a known property reads into a buffer of its length");
        return buffer;
    }

    // Everything the model holds, on both contexts: a set touches nothing else.
    void check_all() {
        for (std::size_t which = 0; which < 2; ++which) {
            for (const auto& [key, value] : models_[which])
                check(read(which, key) == value, "every property reads as the model says");
        }
    }

    service::ContextHandle contexts_[2];
    Model models_[2];
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    norvo::log::set_sink(std::make_shared<DroppingSink>());
    norvo::log::set_max_level(norvo::log::Level::Trace);
    // A query of an unknown key prints to standard output; libFuzzer reports on standard error.
    check(std::freopen("/dev/null", "w", stdout) != nullptr, "standard output to /dev/null");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    norvo::fuzz::ByteReader input({data, size});
    Run run;
    while (!input.empty()) run.step(input);
    return 0;
}
