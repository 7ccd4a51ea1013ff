#pragma once
// Result lines: "set 2 -> 0x0", "query 1 -> 0x0 len=8 E8 03 71 00 72 00 79 25",
// and for a call the transport could not carry out "stop -> rpc error 1775 (null context handle)".

#include <string>
#include <string_view>

#include "connection.hpp"

namespace norvo::vtapctl {

std::string rpc_error_text(const CallFailure& failure);
std::string result_line(std::string_view what, const Result<HRESULT>& result);
std::string result_line(std::string_view what, const Result<void>& result);
std::string query_line(std::string_view key, const Result<PropertyValue>& result);

}  // namespace norvo::vtapctl
