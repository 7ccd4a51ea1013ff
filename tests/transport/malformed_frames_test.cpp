// Whatever one client sends, it is answered with a fault or hung up on, the
// service logs nothing for it, and another client's sensor run goes on.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <variant>

#include "norvo/wire/interface.hpp"
#include "norvo/wire/socket_io.hpp"
#include "support/raw_client.hpp"
#include "support/service_harness.hpp"

namespace {

using namespace norvo;
using norvo::testing::CallbackRecorder;
using norvo::testing::ClientStart;
using norvo::testing::RawClient;
using Bytes = std::vector<std::uint8_t>;

constexpr auto kOpen = wire::kOpnum<wire::call::RemoteOpen>;
constexpr auto kClose = wire::kOpnum<wire::call::RemoteClose>;
constexpr auto kStart = wire::kOpnum<wire::call::NorvoStartSensor>;
constexpr auto kStop = wire::kOpnum<wire::call::NorvoStopSensor>;
constexpr auto kClientEvent = wire::kOpnum<wire::call::NorvoReceiveClientEvent>;
constexpr auto kSetProperty = wire::kOpnum<wire::call::NorvoSetProperty>;
constexpr auto kQueryProperty = wire::kOpnum<wire::call::NorvoQueryProperty>;

Bytes call_frame(std::uint8_t opnum, std::uint32_t call_id, const Bytes& payload,
                 wire::FrameKind kind = wire::FrameKind::Call) {
    return wire::make_frame(kind, opnum, call_id, payload);
}

Bytes token_then(std::initializer_list<std::uint8_t> rest, std::uint8_t fill = 0x5A) {
    Bytes bytes(16, fill);
    for (const auto byte : rest) bytes.push_back(byte);
    return bytes;
}

class MalformedFrames : public ::testing::Test {
  protected:
    void SetUp() override {
        sink_ = norvo::testing::WaitingSink::install();
        // A bystander with a sensor run that must not notice anything.
        bystander_ = service_.connect();
        context_ = *bystander_->RemoteOpen();
        ASSERT_EQ(bystander_->NorvoSetProperty(context_, 2, Bytes{1}), 0);
        start_.emplace(*bystander_, context_, 9, callbacks_);
        callbacks_.wait_for_lines(1);
        logged_before_ = sink_->messages().size();
    }

    void TearDown() override {
        EXPECT_EQ(sink_->messages().size(), logged_before_)
            << "the service logged a rejected frame";
        EXPECT_EQ(bystander_->NorvoReceiveClientEvent(context_, Bytes{1, 0, 1, 0, 0, 0}), 0);
        callbacks_.wait_for_lines(2);
        EXPECT_EQ(bystander_->NorvoStopSensor(context_), 0);
        EXPECT_EQ(start_->join(), 0);
    }

    norvo::testing::TestService service_;
    std::shared_ptr<norvo::testing::WaitingSink> sink_;
    std::unique_ptr<client::Connection> bystander_;
    client::ContextHandle context_;
    CallbackRecorder callbacks_;
    std::optional<ClientStart> start_;
    std::size_t logged_before_ = 0;
};

TEST_F(MalformedFrames, EachIsAnsweredWithItsFaultAndTheConnectionGoesOn) {
    const struct {
        const char* what;
        Bytes frame;
        std::uint32_t answered_call;
        wire::RpcStatus status;
    } cases[] = {
        {"opnum past the table", call_frame(std::variant_size_v<wire::Call>, 1, {}), 1,
         wire::status::procnum_out_of_range},
        {"opnum 255", call_frame(255, 2, token_then({})), 2, wire::status::procnum_out_of_range},
        {"truncated handle", call_frame(kStop, 3, {1, 2, 3}), 3, wire::status::bad_stub_data},
        {"trailing bytes", call_frame(kStop, 4, token_then({0})), 4, wire::status::bad_stub_data},
        {"event count 2 conformance 3",
         call_frame(kClientEvent, 5, token_then({2, 0, 3, 0, 0, 0, 1, 0, 0})), 5,
         wire::status::bad_stub_data},
        {"event conformance past the frame",
         call_frame(kClientEvent, 6, token_then({0xFF, 0xFF, 0xFF, 0xFF, 0, 0})), 6,
         wire::status::bad_stub_data},
        {"buffer conformance 4 size 3",
         call_frame(kSetProperty, 7, token_then({2, 0, 0, 0, 4, 0, 0, 0, 3, 0, 1, 2, 3})), 7,
         wire::status::bad_stub_data},
        {"full pointer marker 7", call_frame(kQueryProperty, 8, token_then({1, 0, 0, 0, 7})), 8,
         wire::status::bad_stub_data},
        {"null handle", call_frame(kStop, 9, token_then({}, 0)), 9, wire::status::null_context},
        {"handle never issued", call_frame(kStop, 10, token_then({})), 10,
         wire::status::context_mismatch},
        {"close of a handle never issued", call_frame(kClose, 11, token_then({})), 11,
         wire::status::context_mismatch},
        {"start on a handle never issued",
         call_frame(kStart, 12, token_then({1, 0, 0, 0, 0, 0, 0, 0})), 12,
         wire::status::context_mismatch},
        {"unknown frame kind", call_frame(0, 13, {}, static_cast<wire::FrameKind>(9)), 13,
         wire::status::protocol_error},
        {"a service's frame kind", call_frame(0, 14, {}, wire::FrameKind::Result), 14,
         wire::status::protocol_error},
    };
    RawClient raw(service_.socket());
    for (const auto& c : cases) {
        raw.send(c.frame);
        EXPECT_EQ(raw.fault_for(c.answered_call), c.status) << c.what;
    }

    // Reserved header bytes set: the frame is answered without its call id.
    auto frame = call_frame(kOpen, 15, {});
    frame[wire::kLengthSize + 2] = 1;
    raw.send(frame);
    EXPECT_EQ(raw.fault_for(0), wire::status::protocol_error);

    // Stray callback replies are dropped; the next call is answered as usual.
    raw.send(call_frame(0, 16, {1, 2}, wire::FrameKind::CallbackReply));
    raw.send(call_frame(0, 17, {9, 0, 0, 0, 0, 0, 0, 0}, wire::FrameKind::CallbackReply));
    raw.send(call_frame(kStop, 18, token_then({})));
    EXPECT_EQ(raw.fault_for(18), wire::status::context_mismatch);
}

TEST_F(MalformedFrames, OversizedFrameIsAnsweredAndHungUpOn) {
    for (const std::uint32_t length :
         {0u, 3u, static_cast<std::uint32_t>(wire::kMaxFrameSize + 1), 0xFFFFFFFFu}) {
        RawClient raw(service_.socket());
        raw.send({static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
                  static_cast<std::uint8_t>(length >> 16),
                  static_cast<std::uint8_t>(length >> 24)});
        EXPECT_EQ(raw.fault_for(0), wire::status::protocol_error) << length;
        const auto after = raw.next();
        ASSERT_FALSE(after) << length;
        EXPECT_EQ(after.error(), wire::ReadFailure::Closed);
    }
}

TEST_F(MalformedFrames, HalfAFrameKeepsNobodyElseWaiting) {
    RawClient stalled(service_.socket());
    const auto whole = call_frame(kSetProperty, 1, token_then({2, 0, 0, 0, 1, 0, 0, 0, 1, 0, 1}));
    stalled.send(Bytes(whole.begin(), whole.begin() + 10));

    auto other = service_.connect();
    auto context = other->RemoteOpen();
    ASSERT_TRUE(context);
    EXPECT_TRUE(other->RemoteClose(*context));
    logged_before_ = sink_->messages().size();
}

}  // namespace
