// The seven procedures and four callbacks over the real socket: results as the
// service gives them, handles per client, calls on a handle while its start
// is outstanding, callbacks in order, and a slow client keeping only itself waiting.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "norvo/service/client_context.hpp"
#include "norvo/service/properties.hpp"
#include "support/raw_client.hpp"
#include "support/service_harness.hpp"

namespace {

using namespace norvo;
using norvo::testing::CallbackRecorder;
using norvo::testing::ClientStart;
using ::testing::ElementsAre;
using Bytes = std::vector<std::uint8_t>;

constexpr client::HRESULT kInvalidArg = static_cast<client::HRESULT>(0x80070057);
constexpr client::HRESULT kUnexpected = static_cast<client::HRESULT>(0x8000FFFF);
constexpr client::HRESULT kAbort = static_cast<client::HRESULT>(0x80004004);
const Bytes kPhone{1, 0, 1, 0, 0, 0};

class OverSocket : public ::testing::Test {
  protected:
    void SetUp() override {
        sink_ = norvo::testing::WaitingSink::install();
        client_ = service_.connect();
        ASSERT_TRUE(client_);
    }

    void TearDown() override { service::process_ignore_unidentified_clients()->set(false); }

    client::ContextHandle open(client::Connection& connection) {
        auto context = connection.RemoteOpen();
        EXPECT_TRUE(context);
        return context.value_or(client::ContextHandle{});
    }

    void set(client::Connection& connection, const client::ContextHandle& context, std::int32_t key,
             const Bytes& value) {
        EXPECT_EQ(connection.NorvoSetProperty(context, key, value), 0) << "key " << key;
    }

    norvo::testing::TestService service_;
    std::shared_ptr<norvo::testing::WaitingSink> sink_;
    std::unique_ptr<client::Connection> client_;
};

wire::RpcStatus status_of(const auto& result) {
    return result ? wire::status::ok : result.error().status;
}

TEST_F(OverSocket, PropertiesComeBackAsTheServiceGivesThem) {
    const auto context = open(*client_);
    ASSERT_FALSE(context.is_null());

    const auto version = client_->read_property(context, 1);
    ASSERT_TRUE(version);
    EXPECT_EQ(version->value, 0);
    EXPECT_EQ(version->bytes, (Bytes{0xE8, 0x03, 0x71, 0x00, 0x72, 0x00, 0x79, 0x25}));

    set(*client_, context, 3, {0x2C, 0x01, 0, 0});
    EXPECT_EQ(client_->read_property(context, 3)->bytes, (Bytes{0x2C, 0x01, 0, 0}));
    EXPECT_EQ(client_->read_property(context, 5)->value, kUnexpected);

    // Both buffers null: only the length.
    const auto length = client_->NorvoQueryProperty(context, 1, std::nullopt);
    ASSERT_TRUE(length);
    EXPECT_EQ(length->value, 0);
    EXPECT_EQ(length->size, 8);
    EXPECT_FALSE(length->buffer);

    // Too small a buffer comes back as it was sent, with the length needed.
    const auto small = client_->NorvoQueryProperty(context, 3, Bytes{0xAA, 0xBB}, Bytes{1, 2, 3});
    ASSERT_TRUE(small);
    EXPECT_EQ(small->value, kInvalidArg);
    EXPECT_EQ(small->size, 4);
    EXPECT_EQ(small->buffer, (Bytes{0xAA, 0xBB}));

    // Bytes behind the value are left as sent.
    const auto roomy = client_->NorvoQueryProperty(context, 7, Bytes{9, 9, 9});
    ASSERT_TRUE(roomy);
    EXPECT_EQ(roomy->size, 1);
    EXPECT_EQ(roomy->buffer, (Bytes{0, 9, 9}));

    EXPECT_EQ(client_->NorvoSetProperty(context, 7, Bytes(128, 'a')), 0);
    EXPECT_EQ(client_->NorvoSetProperty(context, 7, Bytes(129, 'a')), kInvalidArg);
    EXPECT_EQ(client_->NorvoSetProperty(context, 7, Bytes{}), kInvalidArg);
    EXPECT_EQ(client_->NorvoReceiveClientEvent(context, Bytes{}), kInvalidArg);
    EXPECT_EQ(client_->NorvoStopSensor(context), kAbort);
}

TEST_F(OverSocket, ClosedHandleIsNullAndNoLongerValid) {
    auto context = open(*client_);
    const auto closed_token = context;
    ASSERT_TRUE(client_->RemoteClose(context));
    EXPECT_TRUE(context.is_null());
    EXPECT_TRUE(norvo::testing::appear_in_order(
        sink_->messages(),
        {"RemoteClose() called", "NorvoStopSensor() called", "Stop channel not initialized",
         "Data processing finished", "RemoteClose() finished"}));

    auto again = closed_token;
    EXPECT_EQ(status_of(client_->RemoteClose(again)), wire::status::context_mismatch);
    EXPECT_EQ(status_of(client_->NorvoStopSensor(closed_token)), wire::status::context_mismatch);

    // A null [in, out] handle reaches RemoteClose, which logs it and changes nothing.
    client::ContextHandle null;
    EXPECT_TRUE(client_->RemoteClose(null));
    sink_->wait_for("RemoteClose() called with null context");
}

TEST_F(OverSocket, HandlesAreValidOnlyOnTheConnectionThatOpenedThem) {
    const auto mine = open(*client_);
    auto other = service_.connect();
    ASSERT_TRUE(other);
    const auto before = sink_->messages().size();

    CallbackRecorder callbacks;
    EXPECT_EQ(status_of(other->NorvoStopSensor(mine)), wire::status::context_mismatch);
    EXPECT_EQ(status_of(other->NorvoSetProperty(mine, 2, Bytes{1})),
              wire::status::context_mismatch);
    EXPECT_EQ(status_of(other->read_property(mine, 1)), wire::status::context_mismatch);
    EXPECT_EQ(status_of(other->NorvoReceiveClientEvent(mine, kPhone)),
              wire::status::context_mismatch);
    EXPECT_EQ(status_of(other->NorvoStartSensor(mine, 1, callbacks)),
              wire::status::context_mismatch);
    auto stolen = mine;
    EXPECT_EQ(status_of(other->RemoteClose(stolen)), wire::status::context_mismatch);
    EXPECT_EQ(sink_->messages().size(), before) << "the service logs nothing for rejected calls";

    EXPECT_EQ(client_->read_property(mine, 2)->bytes, Bytes{0});
}

TEST_F(OverSocket, NullHandlesNeverReachTheService) {
    const client::ContextHandle null;
    CallbackRecorder callbacks;
    EXPECT_EQ(status_of(client_->NorvoStopSensor(null)), wire::status::null_context);
    EXPECT_EQ(status_of(client_->NorvoSetProperty(null, 2, Bytes{1})), wire::status::null_context);
    EXPECT_EQ(status_of(client_->NorvoQueryProperty(null, 1, std::nullopt)),
              wire::status::null_context);
    EXPECT_EQ(status_of(client_->NorvoReceiveClientEvent(null, kPhone)),
              wire::status::null_context);
    EXPECT_EQ(status_of(client_->NorvoStartSensor(null, 1, callbacks)), wire::status::null_context);
    EXPECT_TRUE(sink_->messages_of("vxt_impl::rpc_server").empty());
}

// The client is held inside the first callback, so the start is surely outstanding.
TEST_F(OverSocket, CallsOnAHandleAreAnsweredWhileItsStartIsOutstanding) {
    const auto context = open(*client_);
    set(*client_, context, 2, {1});
    CallbackRecorder callbacks;
    callbacks.hold();
    ClientStart start(*client_, context, 7, callbacks);
    callbacks.wait_until_held();

    EXPECT_EQ(client_->read_property(context, 4)->bytes, (Bytes{1, 0, 0, 0}));
    set(*client_, context, 3, {0x2C, 0x01, 0, 0});
    EXPECT_EQ(client_->NorvoReceiveClientEvent(context, kPhone), 0);
    EXPECT_EQ(client_->NorvoStopSensor(context), 0);
    EXPECT_EQ(client_->NorvoStopSensor(context), kAbort);
    sink_->wait_for("Failed to send stop event: Full(..)");
    EXPECT_FALSE(start.returned());

    callbacks.release();
    EXPECT_EQ(start.join(), 0);
    EXPECT_THAT(callbacks.lines(), ElementsAre("SignalReturn 0x0 cookie=7"));
    EXPECT_EQ(client_->read_property(context, 4)->bytes, (Bytes{0, 0, 0, 0}));
}

TEST_F(OverSocket, CallbacksArriveInTheOrderTheLoopMakesThem) {
    auto& sensors = *norvo::testing::SocketRuntime::get().sensors;
    const auto context = open(*client_);
    const std::string agent = "tester";
    set(*client_, context, 7, Bytes(agent.begin(), agent.end()));
    set(*client_, context, service::property_key::debug_mode, {1});
    set(*client_, context, 8, {1});
    set(*client_, context, 6, {1});
    set(*client_, context, 3, {0x60, 0xEA, 0, 0});  // 60 s: the pair confirms however slow the run

    CallbackRecorder callbacks;
    ClientStart start(*client_, context, 7, callbacks);
    callbacks.wait_for_lines(1);
    sensors.callbacks()->on_state_changed(sensors::SensorState::SensorStateReady);
    callbacks.wait_for_lines(2);
    EXPECT_EQ(client_->NorvoReceiveClientEvent(context, kPhone), 0);
    callbacks.wait_for_lines(3);
    sensors.callbacks()->on_data_updated(norvo::testing::tap_report(true));
    callbacks.wait_for_lines(6);
    sensors.callbacks()->on_left();
    callbacks.wait_for_lines(7);
    EXPECT_EQ(client_->NorvoStopSensor(context), 0);
    EXPECT_EQ(start.join(), 0);

    EXPECT_THAT(norvo::testing::without_timestamps(callbacks.lines()),
                ElementsAre("SignalReturn 0x0 cookie=7",
                            "SensorStateChanged ts=* state=SensorStateReady cookie=7",
                            "TapEvent PhoneTap ts=* cookie=7", "TapEvent LaptopTap ts=* cookie=7",
                            "TapEvent Confirmed ts=* cookie=7",
                            "SendClientEvent 02 00 02 00 00 00 cookie=7",
                            "SensorStateChanged ts=* state=SensorStateError cookie=7"));
}

TEST_F(OverSocket, ASlowClientDelaysOnlyItsOwnLoop) {
    const auto slow_context = open(*client_);
    set(*client_, slow_context, 2, {1});
    CallbackRecorder slow;
    slow.hold();
    ClientStart slow_start(*client_, slow_context, 1, slow);
    slow.wait_until_held();

    auto other = service_.connect();
    const auto context = open(*other);
    set(*other, context, 2, {1});
    CallbackRecorder quick;
    ClientStart start(*other, context, 2, quick);
    quick.wait_for_lines(1);
    EXPECT_EQ(other->NorvoReceiveClientEvent(context, kPhone), 0);
    quick.wait_for_lines(2);
    EXPECT_EQ(other->NorvoStopSensor(context), 0);
    EXPECT_EQ(start.join(), 0);
    EXPECT_THAT(norvo::testing::without_timestamps(quick.lines()),
                ElementsAre("SignalReturn 0x0 cookie=2", "TapEvent Confirmed ts=* cookie=2"));

    EXPECT_FALSE(slow_start.returned());
    slow.release();
    EXPECT_EQ(client_->NorvoStopSensor(slow_context), 0);
    EXPECT_EQ(slow_start.join(), 0);
}

// The client goes while the loop waits for its answer: the guarded wrapper
// fails, the loop logs it and carries on, and the rundown ends the run.
TEST_F(OverSocket, ClientGoneDuringACallbackFailsTheWrapperAndTheRundownEndsTheRun) {
    const auto context = open(*client_);
    set(*client_, context, 2, {1});
    CallbackRecorder callbacks;
    ClientStart start(*client_, context, 3, callbacks);
    callbacks.wait_for_lines(1);
    callbacks.hold();
    EXPECT_EQ(client_->NorvoReceiveClientEvent(context, kPhone), 0);
    callbacks.wait_until_held();

    client_->disconnect();
    sink_->wait_for("RemoteClose() finished");
    sink_->wait_for("Rpc call SafeNorvoTapEvent failed");
    // The run's own socket may end before the rundown's: either stops the run.
    const auto messages = sink_->messages();
    EXPECT_TRUE(norvo::testing::appear_in_order(
        messages, {"NorvoStopSensor() called", "Stop message receive, exiting sensor loop",
                   "Sensor loop ended", "Data processing finished", "RemoteClose() finished"}));
    EXPECT_TRUE(norvo::testing::appear_in_order(
        messages, {"PCONTEXT_HANDLE_TYPE_rundown() called", "RemoteClose() called",
                   "Data processing finished", "RemoteClose() finished"}));
    EXPECT_EQ(service::connected_user_count.load(), 0);

    callbacks.release();
    EXPECT_EQ(status_of(start.join()), wire::status::call_failed);
}

// A close that comes while a start is dispatched but has neither entered its
// context's gate nor made its stop channel waits for the start to get that far:
// its stop then reaches the loop, and the context outlives the start.
TEST_F(OverSocket, CloseRightAfterAStartWaitsUntilTheStartCanBeStopped) {
    auto& com = *norvo::testing::SocketRuntime::get().com;
    norvo::testing::RawClient raw(service_.socket());
    const auto opened = raw.open_simulated(1);
    ASSERT_TRUE(opened);
    const auto context = *opened;

    com.hold();
    raw.call(3, wire::call::NorvoStartSensor{context, 5});
    com.wait_until_held();
    raw.call(4, wire::call::RemoteClose{context});
    // Answered only after the close was dispatched.
    raw.call(5, wire::call::NorvoQueryProperty{context, 2});
    ASSERT_TRUE(raw.next());
    com.release();

    std::optional<wire::result::Status> started;
    std::optional<wire::result::RemoteClose> closed;
    std::vector<wire::Callback> callbacks;
    while (!started || !closed) {
        const auto frame = raw.next();
        ASSERT_TRUE(frame);
        if (frame->header.kind == static_cast<std::uint8_t>(wire::FrameKind::Callback)) {
            const auto callback = wire::decode_callback(frame->header.opnum, frame->payload);
            ASSERT_TRUE(callback);
            callbacks.push_back(callback->callback);
            raw.send(wire::make_frame(wire::FrameKind::CallbackReply, frame->header.opnum, 3,
                                      *wire::encode(wire::CallbackReply{callback->sequence})));
        } else if (frame->header.call_id == 3) {
            started = wire::decode<wire::result::Status>(frame->payload);
        } else if (frame->header.call_id == 4) {
            closed = wire::decode<wire::result::RemoteClose>(frame->payload);
        }
    }
    EXPECT_EQ(started->value, 0);
    EXPECT_TRUE(closed->context.is_null());
    ASSERT_EQ(callbacks.size(), 1u);
    EXPECT_EQ(std::get<wire::callback::SignalReturn>(callbacks[0]).status, 0);
    const auto log = sink_->messages();
    EXPECT_TRUE(norvo::testing::appear_in_order(
        log, {"Sensor loop started", "RemoteClose() called", "NorvoStopSensor() called",
              "Stop message receive, exiting sensor loop", "Data processing finished",
              "RemoteClose() finished"}));
    EXPECT_EQ(std::ranges::count(log, "Stop channel not initialized"), 0);
}

}  // namespace
