#pragma once
// Feeds a byte stream to read_frame through a socket pair, as a connection's
// reader sees it, and checks every outcome against the length field and header
// the bytes hold: a frame read re-encodes to exactly the bytes it came from.
// Also the checks both sides make on the payloads they decode.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <variant>
#include <vector>

#include "check.hpp"
#include "norvo/wire/socket_io.hpp"
#include "norvo/wire/status.hpp"

namespace norvo::fuzz {

// False, and nothing read, for a stream too long to sit in the socket before it is read.
bool for_each_frame(std::span<const std::uint8_t> stream,
                    const std::function<void(const wire::ReceivedFrame&)>& visit);

// A refused payload names why: an opnum past the table of `Variant`, or parameters that do not
// decode.
template <class Variant>
void check_refusal(std::uint8_t opnum, wire::RpcStatus status) {
    const bool in_table = opnum < std::variant_size_v<Variant>;
    check(status == (in_table ? wire::status::bad_stub_data : wire::status::procnum_out_of_range),
          "a refusal names why");
}

// Whatever decoded encodes back to exactly the bytes it came from.
inline void check_reencodes(const std::optional<std::vector<std::uint8_t>>& encoded,
                            std::span<const std::uint8_t> payload) {
    check(encoded && std::ranges::equal(*encoded, payload), "a message re-encodes to its bytes");
}

}  // namespace norvo::fuzz
