// The RPC server's error: display text and debug form of every variant, and the
// Win32 codes it carries as HRESULTs.

#include "norvo/rpc/rpc_error.hpp"

#include "norvo/host/rpc_error.hpp"

#include <gtest/gtest.h>

namespace {

using norvo::rpc::RpcError;

TEST(RpcError, DisplayAndDebugFormsOfEveryVariant) {
    const struct {
        RpcError error;
        const char* display;
        const char* debug;
    } cases[] = {
        {RpcError::from_status(1740), "Windows RPC error: RPC status: 1740",
         "Rpc(RpcStatusWrapper { status: 1740 })"},
        {RpcError::from_status(-1), "Windows RPC error: RPC status: -1",
         "Rpc(RpcStatusWrapper { status: -1 })"},
        {RpcError::win32({static_cast<std::int32_t>(0x80070005), "Access is denied."}),
         "Windows Core error: Access is denied. (0x80070005)",
         "Win32(Error { code: HRESULT(0x80070005), message: \"Access is denied.\" })"},
        {{norvo::rpc::WrongSidCapability{}}, "Wrong SID capability", "WrongSidCapability"},
        {{norvo::rpc::SharedStateAccess{}}, "Could not acces shared state", "SharedStateAccess"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fmt::format("{}", c.error), c.display);
        EXPECT_EQ(norvo::rpc::debug_form(c.error), c.debug);
    }
}

TEST(RpcError, Win32CodesBecomeHresults) {
    using norvo::host::hresult_from_win32;
    EXPECT_EQ(hresult_from_win32(5), static_cast<std::int32_t>(0x80070005));
    EXPECT_EQ(hresult_from_win32(0x12345), static_cast<std::int32_t>(0x80072345));
    EXPECT_EQ(hresult_from_win32(0), 0);
    EXPECT_EQ(hresult_from_win32(-5), -5);
}

}  // namespace
