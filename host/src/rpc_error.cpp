#include "norvo/host/rpc_error.hpp"

namespace norvo::host {

std::int32_t hresult_from_win32(std::int32_t code) {
    if (code <= 0)
        return code;
    return static_cast<std::int32_t>(0x80070000u | (static_cast<std::uint32_t>(code) & 0xFFFFu));
}

}  // namespace norvo::host
