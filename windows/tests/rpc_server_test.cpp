// The RPC server's lifecycle on the real runtime, in this process.

#include "norvo/windows/rpc_server.hpp"
#include "norvo/log_capture.hpp"
#include "norvo/windows/rpc_interface.hpp"

#include <gtest/gtest.h>

namespace norvo::windows {
namespace {

bool endpoint_listening() {
    RPC_WSTR text = nullptr;
    wchar_t protseq[] = L"ncalrpc";
    wchar_t endpoint[] = L"NorvoVxtRpcEndpoint";
    RpcStringBindingComposeW(nullptr, reinterpret_cast<RPC_WSTR>(protseq), nullptr,
                             reinterpret_cast<RPC_WSTR>(endpoint), nullptr, &text);
    RPC_BINDING_HANDLE binding = nullptr;
    const bool bound = RpcBindingFromStringBindingW(text, &binding) == RPC_S_OK;
    RpcStringFreeW(&text);
    if (!bound)
        return false;
    const bool listening = RpcMgmtIsServerListening(binding) == RPC_S_OK;
    RpcBindingFree(&binding);
    return listening;
}

TEST(RpcServer, StartsListeningStopsOnceAndStopsAgainSilently) {
    auto sink = log::CaptureSink::install();
    auto server = RpcServer::start(tap_interface());
    ASSERT_TRUE(server) << fmt::format("{}", server.error());
    EXPECT_TRUE(endpoint_listening());
    EXPECT_EQ(sink->messages(),
              (std::vector<std::string>{"Rpc Server requested", "Rpc Server registered",
                                        "Rpc Server bindings inquired",
                                        "Rpc Server endpoint registered", "Rpc Server listening"}));
    for (const auto& r : sink->records()) {
        EXPECT_EQ(r.level, log::Level::Trace);
        EXPECT_EQ(r.target, "rpc_server");
    }

    sink->clear();
    ASSERT_TRUE((*server)->stop());
    EXPECT_EQ(sink->messages(), (std::vector<std::string>{"Rpc Server unregistered",
                                                          "Rpc Server endpoint unregistered",
                                                          "Rpc Server bindings freed"}));
    sink->clear();
    ASSERT_TRUE((*server)->stop());
    server->reset();
    EXPECT_TRUE(sink->messages().empty());
}

}  // namespace
}  // namespace norvo::windows
