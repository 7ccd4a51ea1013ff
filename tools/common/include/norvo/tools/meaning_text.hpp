#pragma once
// What the numbers in the tools' lines mean, for people: the names of result codes,
// property values decoded, and the reference of keys, tap kinds and sensor states.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace norvo::tools {

// "E_INVALIDARG"; nothing for a code the service does not return.
std::optional<std::string_view> hresult_name(std::int32_t value);
// An RPC status as the Windows RPC runtime names it: "RPC_S_SERVER_TOO_BUSY".
std::optional<std::string_view> rpc_status_name(std::int32_t status);

// A queried value decoded, "confirmation range: 500 ms"; nothing for an unknown key
// or a value of the wrong size.
std::optional<std::string> property_meaning(std::int32_t key, std::span<const std::uint8_t> value);

// One line per key, tap kind and sensor state, for --help.
std::string reference_text();

}  // namespace norvo::tools
