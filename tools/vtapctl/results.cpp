#include "results.hpp"

#include <fmt/format.h>

#include "norvo/tools/callback_text.hpp"

namespace norvo::vtapctl {

std::string rpc_error_text(const CallFailure& failure) {
    return fmt::format("rpc error {} ({})", failure.status, failure.description);
}

std::string result_line(std::string_view what, const Result<HRESULT>& result) {
    if (!result)
        return fmt::format("{} -> {}", what, rpc_error_text(result.error()));
    return fmt::format("{} -> {}", what, tools::result_code(*result));
}

std::string result_line(std::string_view what, const Result<void>& result) {
    if (!result)
        return fmt::format("{} -> {}", what, rpc_error_text(result.error()));
    return fmt::format("{} -> ok", what);
}

std::string query_line(std::string_view key, const Result<PropertyValue>& result) {
    if (!result)
        return fmt::format("query {} -> {}", key, rpc_error_text(result.error()));
    auto line = fmt::format("query {} -> {}", key, tools::result_code(result->value));
    if (result->value != 0)
        return line;
    line += fmt::format(" len={}", result->bytes.size());
    if (!result->bytes.empty())
        line += fmt::format(" {}", tools::hex_bytes(result->bytes));
    return line;
}

}  // namespace norvo::vtapctl
