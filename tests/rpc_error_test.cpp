// The RPC server's error: display text and debug form of every variant.

#include "norvo/rpc/rpc_error.hpp"

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
        {{RpcError::Kind::WrongSidCapability}, "Wrong SID capability", "WrongSidCapability"},
        {{RpcError::Kind::SharedStateAccess}, "Could not acces shared state", "SharedStateAccess"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fmt::format("{}", c.error), c.display);
        EXPECT_EQ(norvo::rpc::debug_form(c.error), c.debug);
    }
}

}  // namespace
