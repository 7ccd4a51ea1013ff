// Clients that do not keep up: one that stops reading is no longer read from
// (its calls wait in its own socket, not in the service), and one that never
// says a word is hung up on at the first-frame deadline.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "norvo/wire/interface.hpp"
#include "support/raw_client.hpp"
#include "support/service_harness.hpp"
#include "support/thread_time.hpp"

namespace {

using namespace norvo;
using namespace std::chrono_literals;

TEST(SlowClients, ACallerThatStopsReadingIsNoLongerReadAndLosesNothing) {
    norvo::testing::SocketRuntime::get();
    norvo::testing::TestService service;
    norvo::testing::RawClient raw(service.socket());
    const auto opened = raw.open(1);
    ASSERT_TRUE(opened);
    const auto context = *opened;

    // Queries whose results are as big as the calls, written until the service
    // stops taking them: far less than all of them.
    const auto call = [&](std::uint32_t id) {
        return wire::make_frame(
            wire::FrameKind::Call, wire::kOpnum<wire::call::NorvoQueryProperty>, id,
            *wire::encode(wire::call::NorvoQueryProperty{
                context, 1, wire::PropertyBuffer{std::vector<std::uint8_t>(16 * 1024)},
                std::nullopt}));
    };
    constexpr std::uint32_t kCalls = 4096;  // 64 MiB of calls, as much of results
    const int fd = raw.socket();
    // Room for far more calls than the service takes before its replies wait, so that
    // the writes stop because the service stopped, not because it is slow to start.
    const int room = 4 << 20;
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &room, sizeof(room)) != 0) {
        ASSERT_EQ(::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &room, sizeof(room)), 0);
    }
    ASSERT_EQ(::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK), 0);
    std::uint32_t sent = 0;
    std::size_t written = 0;
    for (std::vector<std::uint8_t> frame = call(1); sent < kCalls;) {
        const auto n = ::send(fd, frame.data() + written, frame.size() - written, MSG_NOSIGNAL);
        if (n < 0) {
            ASSERT_EQ(errno, EAGAIN);
            break;
        }
        written += static_cast<std::size_t>(n);
        if (written == frame.size()) {
            frame = call(++sent + 1);
            written = 0;
        }
    }
    EXPECT_LT(sent, kCalls / 8) << "the service kept reading a client that does not read";

    // The reactor reads one piece of each ready connection per turn, and the other
    // client's calls take a turn each: 64 turns are more than this one's replies take
    // to pile up. From then on it takes not one byte more of it while it serves the other.
    const auto unread = [fd] {
        int bytes = -1;
        EXPECT_EQ(::ioctl(fd, SIOCOUTQ, &bytes), 0);
        return bytes;
    };
    norvo::testing::RawClient other(service.socket());
    const auto serve_other = [&](std::uint32_t calls) {
        for (std::uint32_t id = 1; id <= calls; ++id) {
            other.call(id, wire::call::NorvoQueryProperty{.context = context, .key = 4});
            ASSERT_TRUE(other.next());
        }
    };
    serve_other(64);
    const auto waiting = unread();
    serve_other(200);
    EXPECT_EQ(unread(), waiting) << "bytes of a client the reactor no longer reads were taken";

    // Nor is it woken by them: a reactor that kept looking would be runnable all the while.
    const auto reactor = norvo::testing::thread_by_name(::getpid(), "vtap-transport");
    ASSERT_TRUE(reactor);
    const auto start = std::chrono::steady_clock::now();
    const auto runnable_before = norvo::testing::runnable_ns(::getpid(), *reactor);
    ASSERT_TRUE(norvo::testing::exchange_with_a_child(2000));
    const auto runnable = norvo::testing::runnable_ns(::getpid(), *reactor) - runnable_before;
    const auto wall = std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::steady_clock::now() - start)
                          .count();
    EXPECT_LT(runnable, static_cast<std::uint64_t>(wall) / 4) << "of " << wall << " ns";

    // Reading again, the client gets the answer to every whole call, in order.
    ASSERT_EQ(::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK), 0);
    if (written > 0) {
        const auto rest = call(sent + 1);
        ASSERT_TRUE(wire::write_all(fd, std::span(rest).subspan(written)));
        ++sent;
    }
    for (std::uint32_t id = 1; id <= sent; ++id) {
        const auto result = raw.next();
        ASSERT_TRUE(result);
        ASSERT_EQ(result->header.call_id, id);
        ASSERT_EQ(result->header.kind, static_cast<std::uint8_t>(wire::FrameKind::Result));
    }
}

// Replies that wait for a client that does not read are bounded: the first
// that passes the bound hangs the client up.
TEST(SlowClients, ACallerWhoseRepliesPassTheBoundIsHungUpOn) {
    norvo::testing::SocketRuntime::get();
    norvo::testing::TempDir dir;
    auto server =
        rpc::RpcServer::start(dir.path() / "endpoint", transport::AccessPolicy::for_this_system(),
                              transport::Limits{.outgoing_bytes = 4096});
    ASSERT_TRUE(server);
    norvo::testing::RawClient raw(dir.path() / "endpoint");
    const auto opened = raw.open(1);
    ASSERT_TRUE(opened);
    const auto context = *opened;

    // Writes wait for the service to read, but not for ever: a service that no
    // longer reads has kept the replies.
    const int fd = raw.socket();
    const timeval patience{.tv_sec = 5, .tv_usec = 0};
    ASSERT_EQ(::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof(patience)), 0);
    for (std::uint32_t id = 2; id < 66; ++id) {  // 1 MiB of results, far past the socket's room
        const auto frame = wire::make_frame(
            wire::FrameKind::Call, wire::kOpnum<wire::call::NorvoQueryProperty>, id,
            *wire::encode(wire::call::NorvoQueryProperty{
                context, 1, wire::PropertyBuffer{std::vector<std::uint8_t>(16 * 1024)},
                std::nullopt}));
        if (!wire::write_all(fd, frame))
            break;  // hung up on already, or the service no longer reads
    }
    while (raw.next()) {
    }
    EXPECT_TRUE(raw.hung_up()) << "the service held the replies";
}

TEST(SlowClients, ASilentConnectionIsEndedAtTheFirstFrameDeadlineAndATalkingOneStays) {
    norvo::testing::SocketRuntime::get();
    norvo::testing::TempDir dir;
    // Long enough that no busy scheduler delays the talking client's Hello past it.
    auto server =
        rpc::RpcServer::start(dir.path() / "endpoint", transport::AccessPolicy::for_this_system(),
                              transport::Limits{.first_frame_deadline = 2s});
    ASSERT_TRUE(server);
    auto talking = client::Connection::connect(dir.path() / "endpoint");
    ASSERT_TRUE(talking);
    ASSERT_TRUE((*talking)->RemoteOpen()) << "its Hello was read before this call";
    norvo::testing::RawClient silent(dir.path() / "endpoint");
    const auto end = silent.next();
    ASSERT_FALSE(end);
    EXPECT_TRUE(silent.hung_up()) << "the silent connection was not ended";
    // The library's connection is older, so its deadline has passed too.
    EXPECT_TRUE((*talking)->RemoteOpen());
}

}  // namespace
