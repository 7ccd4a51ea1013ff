#include "results.hpp"

#include <fmt/format.h>

#include "norvo/tools/callback_text.hpp"
#include "norvo/tools/meaning_text.hpp"

namespace norvo::vtapctl {
namespace {

template <class Text>
std::string with_meaning(std::string line, const std::optional<Text>& meaning) {
    if (meaning)
        line += fmt::format("\n  {}", *meaning);
    return line;
}

std::string failed_line(std::string_view what, const CallFailure& failure) {
    return with_meaning(fmt::format("{} -> {}", what, rpc_error_text(failure)),
                        tools::rpc_status_name(failure.status));
}

}  // namespace

std::string rpc_error_text(const CallFailure& failure) {
    return fmt::format("rpc error {} ({})", failure.status, failure.description);
}

std::string result_line(std::string_view what, const Result<HRESULT>& result) {
    if (!result)
        return failed_line(what, result.error());
    const auto line = fmt::format("{} -> {}", what, tools::result_code(*result));
    return *result == 0 ? line : with_meaning(line, tools::hresult_name(*result));
}

std::string result_line(std::string_view what, const Result<void>& result) {
    if (!result)
        return failed_line(what, result.error());
    return fmt::format("{} -> ok", what);
}

std::string query_line(std::string_view key_text, PropertyKey key,
                       const Result<PropertyValue>& result) {
    const auto what = fmt::format("query {}", key_text);
    if (!result)
        return failed_line(what, result.error());
    if (result->value != 0)
        return result_line(what, result->value);
    auto line = fmt::format("{} -> 0x0 len={}", what, result->bytes.size());
    if (!result->bytes.empty())
        line += fmt::format(" {}", tools::hex_bytes(result->bytes));
    return with_meaning(std::move(line), tools::property_meaning(key, result->bytes));
}

}  // namespace norvo::vtapctl
