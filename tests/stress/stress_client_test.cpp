// The stress client against a scripted service on a real socket: answers
// are matched by call id, callbacks answered and counted, and a call nobody answers
// is reported once its deadline has passed.

#include "stress_client.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>

#include <filesystem>
#include <thread>

#include "norvo/posix/unix_socket.hpp"

namespace {

using namespace norvo;
using namespace norvo::stress;
using namespace std::chrono_literals;

class ScriptedService : public ::testing::Test {
  protected:
    ScriptedService() {
        std::string dir = (std::filesystem::temp_directory_path() / "norvo-sc-XXXXXX").string();
        EXPECT_NE(::mkdtemp(dir.data()), nullptr);
        path_ = std::filesystem::path(dir) / "socket";
        auto socket = posix::unix_stream_socket();
        const auto address = posix::UnixAddress::of(path_);
        EXPECT_TRUE(socket && address);
        if (socket && address) {
            listening_ = std::move(*socket);
            EXPECT_EQ(::bind(listening_.get(), address->get(), address->size()), 0);
        }
        EXPECT_EQ(::listen(listening_.get(), 1), 0);
    }
    ~ScriptedService() override { std::filesystem::remove_all(path_.parent_path()); }

    // Connects the client while the service side accepts and says Hello.
    StressClient connect() {
        std::thread service([this] {
            service_ = posix::UniqueFd(::accept4(listening_.get(), nullptr, nullptr, SOCK_CLOEXEC));
            reply(wire::FrameKind::Hello, 0, 0, *wire::encode(wire::Hello{}));
        });
        auto client = StressClient::connect(path_, 5s);
        service.join();
        EXPECT_TRUE(client) << client.error();
        return std::move(*client);
    }
    void reply(wire::FrameKind kind, std::uint8_t opnum, std::uint32_t id,
               const std::vector<std::uint8_t>& payload) {
        EXPECT_TRUE(wire::write_all(service_.get(), wire::make_frame(kind, opnum, id, payload)));
    }

    std::filesystem::path path_;
    posix::UniqueFd listening_;
    posix::UniqueFd service_;
};

TEST_F(ScriptedService, AnswersMatchByCallIdAndCallbacksAreAnsweredAndCounted) {
    auto client = connect();

    const auto start = client.send(wire::call::NorvoStartSensor{{}, 1});
    const auto query = client.send(wire::call::NorvoStopSensor{});
    const wire::CallbackCall phone_tap{7, wire::callback::TapEvent{3, 10, 1}};
    reply(wire::FrameKind::Callback, wire::opnum_of(phone_tap.callback), start,
          *wire::encode_callback(phone_tap));
    reply(wire::FrameKind::Fault, wire::kOpnum<wire::call::NorvoStopSensor>, query,
          *wire::encode(wire::Fault{1775}));

    const auto answer = client.await(query, 5s);
    ASSERT_TRUE(answer) << answer.error();
    EXPECT_TRUE(answer->fault);
    EXPECT_EQ(answer->status, 1775);
    EXPECT_EQ(client.run(start).phone_taps, 1u);

    // Two calls went out, then the reply to the callback with its sequence.
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(wire::read_frame(service_.get()));
    const auto callback_reply = wire::read_frame(service_.get());
    ASSERT_TRUE(callback_reply);
    EXPECT_EQ(callback_reply->header.kind,
              static_cast<std::uint8_t>(wire::FrameKind::CallbackReply));
    EXPECT_EQ(callback_reply->header.call_id, start);
    EXPECT_EQ(wire::decode<wire::CallbackReply>(callback_reply->payload)->sequence, 7u);
}

TEST_F(ScriptedService, ACallNobodyAnswersFailsAtItsDeadline) {
    auto client = connect();
    const auto id = client.send(wire::call::RemoteOpen{});
    const auto before = Clock::now();
    const auto answer = client.await(id, 200ms);
    ASSERT_FALSE(answer);
    EXPECT_NE(answer.error().find("no answer within the deadline"), std::string::npos);
    EXPECT_GE(Clock::now() - before, 200ms);

    service_ = {};  // the service hangs up
    const auto gone = client.await(client.send(wire::call::RemoteOpen{}), 5s);
    ASSERT_FALSE(gone);
    EXPECT_NE(gone.error().find("hung up"), std::string::npos);
}

}  // namespace
