#pragma once
// Result lines: "set 2 -> 0x0", "query 1 -> 0x0 len=8 E8 03 71 00 72 00 79 25",
// and for a call the transport could not carry out "stop -> rpc error 1775 (null context handle)".
// Scripts read these lines as they are; what one means follows on a line of its own,
// indented by two blanks: a queried value decoded, or the name of a failure's code.

#include <string>
#include <string_view>

#include "connection.hpp"

namespace norvo::vtapctl {

std::string rpc_error_text(const CallFailure& failure);
std::string result_line(std::string_view what, const Result<HRESULT>& result);
std::string result_line(std::string_view what, const Result<void>& result);
// `key_text` as the user wrote the key.
std::string query_line(std::string_view key_text, PropertyKey key,
                       const Result<PropertyValue>& result);

}  // namespace norvo::vtapctl
