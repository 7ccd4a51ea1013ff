#include "norvo/wire/interface.hpp"

#include <utility>

namespace norvo::wire {
namespace {

template <class Variant, std::size_t... I>
std::optional<Variant> decode_alternative(std::size_t index, std::span<const std::uint8_t> payload,
                                          std::index_sequence<I...>) {
    std::optional<Variant> out;
    ((index == I ? (void)(out = decode<std::variant_alternative_t<I, Variant>>(payload)) : void()),
     ...);
    return out;
}

template <class Variant>
bool in_table(std::uint8_t opnum) {
    return opnum < std::variant_size_v<Variant>;
}

template <class Variant>
[[nodiscard]] std::expected<Variant, RpcStatus> decode_variant(
    std::uint8_t opnum, std::span<const std::uint8_t> payload) {
    constexpr auto count = std::variant_size_v<Variant>;
    if (!in_table<Variant>(opnum))
        return std::unexpected(status::procnum_out_of_range);
    auto decoded = decode_alternative<Variant>(opnum, payload, std::make_index_sequence<count>());
    if (!decoded)
        return std::unexpected(status::bad_stub_data);
    return std::move(*decoded);
}

}  // namespace

std::expected<Call, RpcStatus> decode_call(std::uint8_t opnum,
                                           std::span<const std::uint8_t> payload) {
    return decode_variant<Call>(opnum, payload);
}

std::expected<CallbackCall, RpcStatus> decode_callback(std::uint8_t opnum,
                                                       std::span<const std::uint8_t> payload) {
    // An unknown callback is named as such however short its payload.
    if (!in_table<Callback>(opnum))
        return std::unexpected(status::procnum_out_of_range);
    std::uint32_t sequence = 0;
    if (payload.size() < sizeof(sequence))
        return std::unexpected(status::bad_stub_data);
    Reader(payload.first(sizeof(sequence))).get(sequence);
    auto callback = decode_variant<Callback>(opnum, payload.subspan(sizeof(sequence)));
    if (!callback)
        return std::unexpected(callback.error());
    return CallbackCall{sequence, std::move(*callback)};
}

std::optional<std::vector<std::uint8_t>> encode_call(const Call& call) {
    return std::visit([](const auto& c) { return encode(c); }, call);
}

std::optional<std::vector<std::uint8_t>> encode_callback(const CallbackCall& call) {
    auto params = std::visit([](const auto& c) { return encode(c); }, call.callback);
    if (!params)
        return std::nullopt;
    Writer writer;
    writer.put(call.sequence);
    auto out = writer.take();
    out.insert(out.end(), params->begin(), params->end());
    return out;
}

}  // namespace norvo::wire
