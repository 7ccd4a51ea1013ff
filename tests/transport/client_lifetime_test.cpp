// Clients that go away or may not come in: a client killed during its start is
// run down like RemoteClose, and one that hangs up right after a call still has
// it served; an account outside the policy is refused at connect; many clients
// at once, several calls on one connection; the client library's bounded
// sockets, its deadlines, and a service that restarts.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <mutex>
#include <thread>

#include "norvo/posix/unix_socket.hpp"
#include "norvo/service/client_context.hpp"
#include "norvo/wire/interface.hpp"
#include "support/caller_burst.hpp"
#include "support/child_process.hpp"
#include "support/raw_client.hpp"
#include "support/service_harness.hpp"

namespace {

using namespace norvo;
using norvo::testing::CallbackRecorder;
using norvo::testing::ClientStart;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

class ClientLifetime : public ::testing::Test {
  protected:
    void SetUp() override { sink_ = norvo::testing::WaitingSink::install(); }

    norvo::testing::TestService service_;
    std::shared_ptr<norvo::testing::WaitingSink> sink_;
};

TEST_F(ClientLifetime, ClientKilledDuringItsStartIsRunDownAndItsLoopEnds) {
    norvo::testing::ChildProcess client(
        {VTAPCTL_PATH, "--socket", service_.socket().string(), "session"});
    client.write("open\nset 2 1\nstart 7\n");
    ASSERT_TRUE(client.take_output("SignalReturn 0x0 cookie=7"));
    EXPECT_EQ(service::connected_user_count.load(), 1);

    client.signal(SIGKILL);
    EXPECT_EQ(client.wait(), 128 + SIGKILL);
    sink_->wait_for("RemoteClose() finished");
    // The run's own socket may end before the rundown's: either stops the run.
    const auto messages = sink_->messages();
    EXPECT_TRUE(norvo::testing::appear_in_order(
        messages, {"NorvoStopSensor() called", "Stop message receive, exiting sensor loop",
                   "Sensor loop ended", "End of the NorvoStartSensor() called, result: 0x0",
                   "Data processing finished", "RemoteClose() finished"}));
    EXPECT_TRUE(norvo::testing::appear_in_order(
        messages, {"PCONTEXT_HANDLE_TYPE_rundown() called", "RemoteClose() called",
                   "Data processing finished", "RemoteClose() finished"}));
    EXPECT_EQ(service::connected_user_count.load(), 0);

    auto next = service_.connect();
    const auto context = next->RemoteOpen();
    ASSERT_TRUE(context);
    EXPECT_EQ(next->read_property(*context, 4)->bytes, (Bytes{0, 0, 0, 0}));
}

// Run in a child that is nobody: a raw connect and the service's first frame.
int connect_as_nobody(const std::filesystem::path& socket) {
    const auto fd = norvo::posix::connect_unix(socket);
    if (!fd)
        return 101;
    std::uint8_t bytes[64];
    std::size_t got = 0;
    for (ssize_t n; (n = ::read(fd->get(), bytes + got, sizeof(bytes) - got)) > 0;)
        got += static_cast<std::size_t>(n);
    if (got < wire::kLengthSize + wire::kHeaderSize)
        return 102;
    const auto frame = wire::parse_frame(std::span(bytes, got).subspan(wire::kLengthSize));
    const auto hello = frame ? wire::decode<wire::Hello>(frame->payload) : std::nullopt;
    return hello ? hello->status : 103;
}

TEST_F(ClientLifetime, AnAccountOutsideThePolicyIsRefusedAtConnect) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "becoming nobody needs root";
    auto admitted = service_.connect();
    const auto before = sink_->messages().size();

    EXPECT_EQ(norvo::testing::run_as(norvo::transport::kNobody,
                                     [&] { return connect_as_nobody(service_.socket()); }),
              wire::status::access_denied);
    EXPECT_EQ(sink_->messages().size(), before) << "a refusal is not logged";

    EXPECT_TRUE(admitted->RemoteOpen());
}

// Four connections, four threads on each, every thread with its own context
// and sensor run: calls of one connection run at once.
TEST_F(ClientLifetime, ManyClientsAtOnce) {
    constexpr int kConnections = 4;
    constexpr int kThreadsEach = 4;
    constexpr int kRounds = 3;
    std::vector<std::unique_ptr<client::Connection>> connections;
    for (int i = 0; i < kConnections; ++i) connections.push_back(service_.connect());

    auto session = [](client::Connection& connection, std::uint64_t cookie) {
        for (int round = 0; round < kRounds; ++round) {
            auto context = connection.RemoteOpen();
            ASSERT_TRUE(context);
            ASSERT_EQ(connection.NorvoSetProperty(*context, 2, Bytes{1}), 0);
            CallbackRecorder callbacks;
            ClientStart start(connection, *context, cookie, callbacks);
            callbacks.wait_for_lines(1);
            for (std::size_t taps = 1; taps <= 3; ++taps) {
                EXPECT_EQ(connection.NorvoReceiveClientEvent(*context, Bytes{1, 0, 1, 0, 0, 0}), 0);
                callbacks.wait_for_lines(1 + taps);
                EXPECT_EQ(connection.read_property(*context, 2)->bytes, Bytes{1});
            }
            if (round % 2 == 0) {
                EXPECT_EQ(connection.NorvoStopSensor(*context), 0);
            }
            EXPECT_TRUE(connection.RemoteClose(*context));  // stops the run when still going
            EXPECT_EQ(start.join(), 0);
            const auto lines = norvo::testing::without_timestamps(callbacks.lines());
            ASSERT_EQ(lines.size(), 4u);
            EXPECT_EQ(lines[0], fmt::format("SignalReturn 0x0 cookie={}", cookie));
            for (std::size_t i = 1; i < lines.size(); ++i) {
                EXPECT_EQ(lines[i], fmt::format("TapEvent Confirmed ts=* cookie={}", cookie));
            }
        }
    };
    std::vector<std::thread> threads;
    for (int c = 0; c < kConnections; ++c) {
        for (int t = 0; t < kThreadsEach; ++t) {
            threads.emplace_back(session, std::ref(*connections[c]), c * kThreadsEach + t);
        }
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(service::connected_user_count.load(), 0);
}

// The sockets of one client: a Join names the association, a context serves on
// every socket of it, and only the last socket to end runs it down.
TEST_F(ClientLifetime, JoinedSocketsShareContextsAndTheLastToEndRunsThemDown) {
    using norvo::testing::RawClient;
    const auto join = [](const wire::AssociationKey& key) {
        return wire::make_frame(wire::FrameKind::Join, 0, 0, *wire::encode(wire::Join{key}));
    };
    auto first = std::make_unique<RawClient>(service_.socket());
    const auto opened = first->open(1);
    ASSERT_TRUE(opened);
    const auto context = *opened;

    RawClient second(service_.socket());
    second.send(join(first->association()));
    const auto joined = second.hello();
    ASSERT_TRUE(joined && joined->status == wire::status::ok);
    EXPECT_EQ(joined->association, first->association());

    RawClient stranger(service_.socket());
    stranger.send(join(wire::AssociationKey{{1}}));
    RawClient late(service_.socket());
    late.send(wire::make_frame(wire::FrameKind::Hello, 0, 0, *wire::encode(wire::Hello{})));
    late.send(join(first->association()));
    for (auto* refused : {&stranger, &late}) {
        const auto answer = refused->hello();
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->status, wire::status::access_denied);
        EXPECT_FALSE(refused->next());
        EXPECT_TRUE(refused->hung_up());
    }

    const auto key = first->association();
    first.reset();
    RawClient third(service_.socket());
    third.send(join(key));
    ASSERT_EQ(third.hello()->status, wire::status::ok)
        << "the association outlives its first socket";
    third.call(2, wire::call::NorvoQueryProperty{.context = context, .key = 4});
    const auto queried = third.next();
    ASSERT_TRUE(queried);
    EXPECT_EQ(queried->header.kind, static_cast<std::uint8_t>(wire::FrameKind::Result));
    ::shutdown(second.socket(), SHUT_RDWR);
    ::shutdown(third.socket(), SHUT_RDWR);
    sink_->wait_for("PCONTEXT_HANDLE_TYPE_rundown() called");
    RawClient after_the_end(service_.socket());
    after_the_end.send(join(key));
    const auto refused = after_the_end.hello();
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, wire::status::access_denied) << "the association has ended";
}

// A phone event sent fire-and-forget: connected, joined, the call written and the
// socket closed before the service has read a byte of it. The service still
// serves it, as it would had the client stayed: the run sees the phone tap.
TEST_F(ClientLifetime, ACallWrittenJustBeforeTheClientHangsUpIsServed) {
    norvo::testing::RawClient runner(service_.socket());
    const auto opened = runner.open_simulated(1);
    ASSERT_TRUE(opened);
    const auto context = *opened;
    runner.call(3, wire::call::NorvoStartSensor{context, 7});
    // The loop waits for each callback's answer.
    const auto answer_next_callback = [&]() -> std::optional<wire::Callback> {
        const auto frame = runner.next();
        if (!frame || frame->header.kind != static_cast<std::uint8_t>(wire::FrameKind::Callback))
            return std::nullopt;
        auto decoded = wire::decode_callback(frame->header.opnum, frame->payload);
        if (!decoded)
            return std::nullopt;
        runner.send(
            wire::make_frame(wire::FrameKind::CallbackReply, frame->header.opnum, 3,
                             *wire::encode(wire::CallbackReply{.sequence = decoded->sequence})));
        return std::move(decoded->callback);
    };
    const auto signal = answer_next_callback();
    ASSERT_TRUE(signal && std::holds_alternative<wire::callback::SignalReturn>(*signal));

    {
        const auto fd = norvo::posix::connect_unix(service_.socket());
        ASSERT_TRUE(fd);
        auto frames = wire::make_frame(wire::FrameKind::Join, 0, 0,
                                       *wire::encode(wire::Join{runner.association()}));
        const auto phone_event = wire::make_frame(
            wire::FrameKind::Call, wire::kOpnum<wire::call::NorvoReceiveClientEvent>, 1,
            *wire::encode(wire::call::NorvoReceiveClientEvent{context, {{1, 0, 1, 0, 0, 0}}}));
        frames.insert(frames.end(), phone_event.begin(), phone_event.end());
        ASSERT_TRUE(wire::write_all(fd->get(), frames));
    }
    const auto tap = answer_next_callback();
    ASSERT_TRUE(tap) << "the phone event was dropped with its connection";
    EXPECT_TRUE(std::holds_alternative<wire::callback::TapEvent>(*tap));
}

// Run in a child that is another login user: the status of the answer to its
// Join of `key`, or 101 and up for a step that failed.
int join_as_another_user(const std::filesystem::path& socket, const wire::AssociationKey& key) {
    const auto fd = norvo::posix::connect_unix(socket);
    if (!fd)
        return 101;
    const auto admitted = wire::read_frame(fd->get());
    const auto hello = admitted ? wire::decode<wire::Hello>(admitted->payload) : std::nullopt;
    if (!hello || hello->status != wire::status::ok)
        return 102;
    const auto joining =
        wire::make_frame(wire::FrameKind::Join, 0, 0, *wire::encode(wire::Join{key}));
    if (!wire::write_all(fd->get(), joining))
        return 103;
    const auto answer = wire::read_frame(fd->get());
    const auto joined = answer ? wire::decode<wire::Hello>(answer->payload) : std::nullopt;
    return joined ? joined->status : 104;
}

TEST_F(ClientLifetime, AnotherUserCannotJoinAnAssociation) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "becoming another user needs root";
    norvo::testing::RawClient owner(service_.socket());
    constexpr uid_t kAnother = 4244;
    EXPECT_EQ(
        norvo::testing::run_as(
            kAnother, [&] { return join_as_another_user(service_.socket(), owner.association()); }),
        wire::status::access_denied);
}

// The service here takes no ninth connection, so a socket past the cap shows
// as a refused call.
TEST(ClientSockets, ABurstOf200CallersSharesEightSocketsAndNoCallIsRefused) {
    norvo::testing::TestService service(transport::Limits{.connections = 8});
    const client::Options options{.idle_time = 1h};  // none closed mid-burst
    auto connection = client::Connection::connect(service.socket(), options);
    ASSERT_TRUE(connection) << connection.error().describe();
    const auto context = (*connection)->RemoteOpen();
    ASSERT_TRUE(context);

    EXPECT_THAT(norvo::testing::burst_of_callers(**connection, *context, 200),
                ::testing::IsEmpty());
    EXPECT_LE((*connection)->socket_count(), 8u);
}

// A listener that never accepts: one with room in its backlog leaves the
// client waiting for a Hello, one with a full backlog leaves connect() waiting.
TEST(ClientDeadlines, ConnectingToAServiceThatNeverAnswersGivesUp) {
    EXPECT_EQ(client::Options{}.connect_deadline, 5s);
    EXPECT_EQ(client::Options{}.call_deadline, 30s);
    norvo::testing::TempDir dir;
    for (const auto& [backlog, fillers] : {std::pair{8, 0}, std::pair{0, 1}}) {
        SCOPED_TRACE(fmt::format("backlog {}, {} waiting before", backlog, fillers));
        const auto path = dir.path() / fmt::format("silent-{}", backlog);
        auto listener = posix::unix_stream_socket();
        const auto address = posix::UnixAddress::of(path);
        ASSERT_TRUE(listener && address);
        ASSERT_EQ(::bind(listener->get(), address->get(), address->size()), 0);
        ASSERT_EQ(::listen(listener->get(), backlog), 0);
        std::vector<posix::UniqueFd> waiting;
        for (int i = 0; i < fillers; ++i) waiting.push_back(*posix::connect_unix(path));

        const auto began = std::chrono::steady_clock::now();
        const auto connection =
            client::Connection::connect(path, client::Options{.connect_deadline = 200ms});
        const auto took = std::chrono::steady_clock::now() - began;
        ASSERT_FALSE(connection);
        EXPECT_EQ(connection.error().status, wire::status::server_unavailable);
        EXPECT_GE(took, 200ms);
        EXPECT_LT(took, 10s);
    }
}

// A service that admits every socket and answers its Join, reads the first call
// on it, and from then on only sends that call callbacks, never reading again.
class FloodingService {
  public:
    FloodingService() {
        listener_ = *posix::unix_stream_socket();
        const auto address = posix::UnixAddress::of(socket());
        EXPECT_EQ(::bind(listener_.get(), address->get(), address->size()), 0);
        EXPECT_EQ(::listen(listener_.get(), 8), 0);
        accepting_ = std::thread([this] { accept_all(); });
    }
    ~FloodingService() {
        hang_up();
        accepting_.join();
        for (auto& serving : serving_) serving.join();
    }
    std::filesystem::path socket() const { return dir_.path() / "flood"; }
    // Every socket ends, which wakes a client blocked on one.
    void hang_up() {
        std::lock_guard lock(mutex_);
        ::shutdown(listener_.get(), SHUT_RDWR);
        for (const auto& fd : accepted_) ::shutdown(fd.get(), SHUT_RDWR);
    }

  private:
    void accept_all() {
        for (;;) {
            posix::UniqueFd fd(::accept(listener_.get(), nullptr, nullptr));
            if (!fd.valid())
                return;
            std::lock_guard lock(mutex_);
            serving_.emplace_back([this, socket = fd.get()] { flood(socket); });
            accepted_.push_back(std::move(fd));
        }
    }
    static void flood(int fd) {
        const auto hello =
            wire::make_frame(wire::FrameKind::Hello, 0, 0, *wire::encode(wire::Hello{}));
        if (!wire::write_all(fd, hello))
            return;
        const auto first = wire::read_frame(fd);
        if (!first || (first->header.kind == static_cast<std::uint8_t>(wire::FrameKind::Join) &&
                       !wire::write_all(fd, hello))) {
            return;
        }
        const auto call = wire::read_frame(fd);
        if (!call)
            return;  // a socket kept idle
        const auto callback = wire::make_frame(
            wire::FrameKind::Callback,
            wire::opnum_of(wire::Callback{wire::callback::SignalReturn{}}), call->header.call_id,
            *wire::encode_callback({.sequence = 1, .callback = wire::callback::SignalReturn{}}));
        while (wire::write_all(fd, callback)) {
        }
    }

    norvo::testing::TempDir dir_;
    posix::UniqueFd listener_;
    std::thread accepting_;
    std::mutex mutex_;
    std::vector<posix::UniqueFd> accepted_;
    std::vector<std::thread> serving_;
};

// A callback is answered only on a start; each answer goes within the call
// deadline or the start fails.
TEST(ClientDeadlines, CallbacksOfAServiceThatNeverReadsEndTheCallWithinItsDeadline) {
    const client::Options options{.call_deadline = 1s};
    const struct {
        std::string_view call;
        std::function<client::Result<client::HRESULT>(client::Connection&)> make;
        wire::RpcStatus status;
    } cases[] = {
        {"stop", [](client::Connection& c) { return c.NorvoStopSensor({}); },
         wire::status::protocol_error},
        {"start",
         [](client::Connection& c) {
             CallbackRecorder callbacks;
             return c.NorvoStartSensor({}, 7, callbacks);
         },
         wire::status::call_cancelled},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.call);
        FloodingService service;
        auto connection = client::Connection::connect(service.socket(), options);
        ASSERT_TRUE(connection) << connection.error().describe();
        const auto began = std::chrono::steady_clock::now();
        auto call = std::async(std::launch::async, [&] { return c.make(**connection); });
        if (call.wait_for(10s) != std::future_status::ready) {
            ADD_FAILURE() << "the call still waits 10 s past its start; hanging up";
            service.hang_up();
        }
        const auto result = call.get();
        const auto took = std::chrono::steady_clock::now() - began;
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().status, c.status);
        EXPECT_LT(took, 5s);
    }
}

// RemoteClose waits for the run it stops, whose callback is held here: past the
// call deadline it fails and its socket is dropped; the connect deadline does
// not bound it. The deadlines are long enough for the calls before the close.
TEST_F(ClientLifetime, ACloseWaitsForItsRunUntilTheCallDeadlineOnly) {
    const struct {
        client::Options options;
        bool cancelled;
    } cases[] = {{{.call_deadline = 2s}, true}, {{.connect_deadline = 2s}, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cancelled ? "past the call deadline" : "past the connect deadline");
        auto connection = client::Connection::connect(service_.socket(), c.options);
        ASSERT_TRUE(connection);
        auto& service = **connection;
        auto context = service.RemoteOpen();
        ASSERT_TRUE(context);
        CallbackRecorder callbacks;
        callbacks.hold();
        ClientStart start(service, *context, 7, callbacks);
        callbacks.wait_until_held();
        const auto sockets = service.socket_count();

        auto closed = std::async(std::launch::async, [&] { return service.RemoteClose(*context); });
        if (c.cancelled) {
            const auto result = closed.get();
            EXPECT_FALSE(result);
            EXPECT_EQ(result ? wire::status::ok : result.error().status,
                      wire::status::call_cancelled);
            EXPECT_EQ(service.socket_count(), sockets - 1);
        } else {
            EXPECT_EQ(closed.wait_for(c.options.connect_deadline + 1s), std::future_status::timeout)
                << "the close ended before its run";
        }
        callbacks.release();
        if (!c.cancelled) {
            const auto result = closed.get();
            EXPECT_TRUE(result) << result.error().describe();
        }
        EXPECT_TRUE(start.join());
        EXPECT_TRUE(service.RemoteOpen()) << "the connection serves on";
    }
}

TEST_F(ClientLifetime, AfterTheServiceRestartsTheNextCallMakesAFreshAssociation) {
    auto connection =
        client::Connection::connect(service_.socket(), client::Options{.idle_time = 0ms});
    ASSERT_TRUE(connection);
    auto& service = **connection;
    const auto old = service.RemoteOpen();
    ASSERT_TRUE(old);
    // A start keeps a second socket idle for the calls that stop it; once the
    // run has ended, idle sockets beyond one go.
    CallbackRecorder callbacks;
    ClientStart start(service, *old, 7, callbacks);
    callbacks.wait_for_lines(1);
    EXPECT_EQ(service.NorvoStopSensor(*old), 0);
    EXPECT_EQ(start.join(), 0);
    EXPECT_EQ(service.socket_count(), 1u);

    service_.restart();
    const auto context = service.RemoteOpen();
    ASSERT_TRUE(context) << context.error().describe();
    EXPECT_EQ(service.read_property(*context, 1)->bytes.size(), 8u);
    const auto forgotten = service.read_property(*old, 1);
    ASSERT_FALSE(forgotten);
    EXPECT_EQ(forgotten.error().status, wire::status::context_mismatch);
}

}  // namespace
