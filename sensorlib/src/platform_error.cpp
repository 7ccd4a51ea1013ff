#include "norvo/sensorlib/platform_error.hpp"

#include <array>

#include "convert.hpp"

namespace norvo::sensorlib {

sensors::PlatformError platform_error(HRESULT code) {
    std::array<WCHAR, 512> buffer{};
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, static_cast<DWORD>(code), 0, buffer.data(),
                                        static_cast<DWORD>(buffer.size()), nullptr);
    std::string message = utf16_to_utf8(buffer.data(), length).value_or(std::string{});
    // System messages end in a line break.
    while (!message.empty() &&
           (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
        message.pop_back();
    }
    return sensors::PlatformError{static_cast<std::int32_t>(code), std::move(message)};
}

}  // namespace norvo::sensorlib

fmt::format_context::iterator fmt::formatter<norvo::sensorlib::Displayed>::format(
    const norvo::sensorlib::Displayed& d, format_context& ctx) const {
    const auto code = static_cast<std::uint32_t>(d.error.code);
    if (d.error.message.empty())
        return fmt::format_to(ctx.out(), "0x{:08X}", code);
    return fmt::format_to(ctx.out(), "{} (0x{:08X})", d.error.message, code);
}
