#pragma once
// Result codes at the RPC boundary. Named apart from the platform's S_OK/E_*
// macros so that this header can sit beside the Windows SDK headers.

#include <cstdint>

namespace norvo::service {

using HRESULT = std::int32_t;

namespace hr {
inline constexpr HRESULT ok = 0;                                          // S_OK
inline constexpr HRESULT invalid_arg = static_cast<HRESULT>(0x80070057);  // E_INVALIDARG
inline constexpr HRESULT unexpected = static_cast<HRESULT>(0x8000FFFF);   // E_UNEXPECTED
inline constexpr HRESULT abort = static_cast<HRESULT>(0x80004004);        // E_ABORT
}  // namespace hr

}  // namespace norvo::service
