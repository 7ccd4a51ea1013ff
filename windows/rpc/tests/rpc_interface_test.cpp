// The interface end to end on Wine's RPC runtime: the service side in this process (see
// test_service.hpp), clients through the test client's stubs, here and in a second process.

#include "client_process.hpp"
#include "client_session.hpp"
#include "norvo/text.hpp"
#include "norvo/windows/rpc/caller_quotas.hpp"
#include "test_service.hpp"

#include <gtest/gtest.h>

namespace norvo::windows::rpc::test {
namespace {

constexpr long kUnknownKey = 77;

using RpcInterface = ServiceClientTest;

std::vector<std::uint8_t> u32_le(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

TEST_F(RpcInterface, PropertiesTravelBothWaysInTheConformantBuffer) {
    auto session = open();
    struct Case {
        long key;
        std::vector<std::uint8_t> value;
    };
    for (const auto& [key, value] :
         {Case{key::confirmation_range, u32_le(750)}, Case{key::simulation_mode, {1}},
          Case{key::forward_confirm_tap, {1}}}) {
        SCOPED_TRACE(key);
        EXPECT_EQ(session.set(key, value), 0);

        const auto dry = session.query(key, std::nullopt);
        ASSERT_TRUE(dry) << dry.error();
        EXPECT_EQ(dry->result, 0);
        EXPECT_EQ(dry->size, static_cast<long>(value.size()));

        // An input buffer is carried and not read.
        const auto full = session.query(key, static_cast<std::uint16_t>(value.size()),
                                        std::vector<std::uint8_t>{9, 9});
        ASSERT_TRUE(full) << full.error();
        EXPECT_EQ(full->result, 0);
        EXPECT_EQ(full->size, static_cast<long>(value.size()));
        EXPECT_EQ(full->buffer, value);
    }
    // Results other than success come back unchanged.
    EXPECT_EQ(session.set(key::confirmation_range, std::vector<std::uint8_t>{1, 2}),
              result::invalid_arg);
    EXPECT_EQ(session.set(kUnknownKey, std::vector<std::uint8_t>{1}), result::invalid_arg);
    EXPECT_TRUE(log().wait_for("NorvoSetProperty() Called key: 3, input size: 2"));
}

TEST_F(RpcInterface, ClientEventBytesArriveIntact) {
    auto session = open();
    for (const auto& packet :
         {std::vector<std::uint8_t>{}, std::vector<std::uint8_t>{1, 0x80, 0xff, 7}}) {
        log().clear();
        // No start is running: nothing takes the event.
        EXPECT_TRUE(session.receive(packet).has_value());
        EXPECT_TRUE(log().wait_for(fmt::format("Raw Data received: {}", ByteList{packet})));
    }
}

// Its Error line is the caller's, counted against its account's share of the log.
TEST_F(RpcInterface, StopWithoutStartIsAborted) {
    auto session = open();
    EXPECT_EQ(session.stop(), result::abort);
    EXPECT_EQ(log().caller_of("Stop channel not initialized"), own_account());
}

TEST_F(RpcInterface, CloseNullsTheHandleWhichTheClientThenRefuses) {
    auto session = open();
    ASSERT_TRUE(session.close().has_value());
    EXPECT_EQ(session.handle(), nullptr);
    EXPECT_TRUE(log().logged("RemoteClose() finished"));

    // The client stub refuses a null handle before anything is sent. With the header's context
    // flags as MIDL emits them (no "cannot be null" there) Wine's engine says bad stub data.
    log().clear();
    EXPECT_EQ(session.stop(), std::unexpected(std::uint32_t{RPC_X_BAD_STUB_DATA}));
    EXPECT_FALSE(log().logged("NorvoStopSensor() called"));
}

// Without the Sensor API the manager cannot be made: the client gets E_UNEXPECTED, and the
// service's SignalReturn callback either reaches the client or fails inside its guard.
TEST_F(RpcInterface, FailedStartReturnsUnexpectedAndItsCallbackFailureStaysInTheGuard) {
    auto session = open();
    const auto before = received_callbacks().size();
    EXPECT_EQ(session.start(0x1234567890), result::unexpected);
    EXPECT_TRUE(log().logged("End of the NorvoStartSensor() called, result: 0x8000ffff"));
    const auto received = received_callbacks();
    if (received.size() == before) {
        EXPECT_TRUE(log().logged("Rpc call SafeNorvoSignalReturn failed"));
    } else {
        EXPECT_EQ(received.back(), (CallbackRecord{3, result::unexpected, 0, {}, 0x1234567890}));
        EXPECT_FALSE(log().logged("Rpc call SafeNorvoSignalReturn failed"));
    }
}

// A client that goes away holding its context: the service runs it down, with no call in
// progress; the rundown's lines are those of the client that opened it.
TEST_F(RpcInterface, ContextOfAClientGoneWithoutClosingIsRunDown) {
    ClientProcess client(L"open");
    ASSERT_EQ(client.line(), "ready");
    client.finish();
    EXPECT_TRUE(log().wait_for("PCONTEXT_HANDLE_TYPE_rundown() called"));
    EXPECT_TRUE(log().wait_for("RemoteClose() finished"));
    EXPECT_EQ(log().caller_of("Data processing finished"), own_account());
}

// One user's contexts across their bindings stop at the quota: the next open fails with 1723,
// and a close makes room again.
TEST_F(RpcInterface, ContextsOfOneUserStopAtItsQuotaAndAClosedOneMakesRoom) {
    auto other = Binding::local();
    ASSERT_TRUE(other) << other.error();
    const auto account = own_account();
    ASSERT_TRUE(account) << account.error();
    std::vector<Session> held;
    std::optional<std::uint32_t> refused;
    while (!refused && held.size() <= kTestContextsPerUser) {
        auto opened = Session::open(held.size() % 2 == 0 ? *binding_ : *other);
        if (opened)
            held.push_back(std::move(*opened));
        else
            refused = opened.error();
    }
    EXPECT_EQ(held.size(), kTestContextsPerUser);
    EXPECT_EQ(refused, std::uint32_t{RPC_S_SERVER_TOO_BUSY});
    EXPECT_TRUE(log().logged(
        fmt::format("Account {} holds its {} contexts, the most one user may: more are refused",
                    *account, kTestContextsPerUser)));

    held.pop_back();
    auto again = Session::open(*other);
    ASSERT_TRUE(again) << again.error();
    const auto over = Session::open(*binding_);
    ASSERT_FALSE(over);
    EXPECT_EQ(over.error(), std::uint32_t{RPC_S_SERVER_TOO_BUSY});
}

// Another client's start stays in progress while this one opens, sets, queries, sends an
// event and closes on handles of its own.
TEST_F(RpcInterface, CallsOnOtherHandlesRunWhileAStartIsInProgress) {
    test_service().sensors->simulated_manager = true;
    ClientProcess starter(L"start");
    ASSERT_EQ(starter.line(), "ready");
    ASSERT_TRUE(log().wait_for("Sensor loop started"));

    auto session = open();
    EXPECT_EQ(session.set(key::confirmation_range, u32_le(120)), 0);
    const auto range = session.query(key::confirmation_range, 4);
    ASSERT_TRUE(range) << range.error();
    EXPECT_EQ(range->buffer, u32_le(120));
    const std::uint8_t packet[] = {1, 2, 3};
    EXPECT_TRUE(session.receive(packet).has_value());
    // This handle runs no start of its own.
    EXPECT_EQ(session.stop(), result::abort);
    EXPECT_TRUE(session.close().has_value());
    EXPECT_FALSE(log().logged("Stop message receive, exiting sensor loop"));
    // Wine runs down no context whose call is in progress: the start ends with this process.
    starter.kill();
}

}  // namespace
}  // namespace norvo::windows::rpc::test
