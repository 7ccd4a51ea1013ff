// One local user cannot lock the daemon up: its idle connections and its
// sensor runs stop at its own limits while another user is served, a close never
// waits behind runs, and running out of descriptors turns clients away without
// spinning. Other users are played by forked children under login uids.

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <sstream>

#include "daemon.hpp"
#include "daemon_fixture.hpp"
#include "memory.hpp"
#include "norvo/client/connection.hpp"
#include "norvo/wire/interface.hpp"
#include "norvo/wire/socket_io.hpp"
#include "support/caller_burst.hpp"
#include "support/thread_time.hpp"
#include "transport/support/raw_client.hpp"

namespace {

using namespace norvo;
using namespace norvo::testing;

constexpr uid_t kFlooder = 4242;
constexpr uid_t kOther = 4243;
constexpr std::size_t kConnectionsPerUser = 128;  // the daemon's defaults
constexpr std::size_t kStartsPerUser = 32;
constexpr std::size_t kContextsPerUser = 4096;
// What the contexts of one user may cost the daemon; ThreadSanitizer's shadow of
// every page the daemon touches counts as resident too.
#ifdef __SANITIZE_THREAD__
constexpr long kContextsCostKib = 3 * 16 * 1024;
#else
constexpr long kContextsCostKib = 16 * 1024;
#endif

// A child's peer that stays until the child exits.
RawClient& lasting_peer(const std::string& path) {
    static std::optional<RawClient> peer;
    return peer.emplace(path);
}

// A user's every connection, each past the handshake so that the first-frame deadline
// does not end it: 0 once the next is refused for the user's share.
int hold_every_connection(const std::string& path) {
    static std::vector<std::unique_ptr<RawClient>> held;
    for (std::size_t i = 0; i < kConnectionsPerUser; ++i) {
        auto& peer = *held.emplace_back(std::make_unique<RawClient>(path));
        if (peer.admission() != 0 || !peer.send(wire::FrameKind::Hello, 0, 0, wire::Hello{}))
            return 1;
    }
    return RawClient(path).admission() == wire::status::server_too_busy ? 0 : 2;
}

// Starts on as many contexts as the user may run and one more, whose start is refused
// with 1723: that context. The runs wait for callback replies that never come, so they stay.
std::optional<wire::ContextToken> hold_every_start(RawClient& peer) {
    std::vector<wire::ContextToken> contexts;
    for (std::uint32_t i = 0; i <= kStartsPerUser; ++i) {
        const auto context = peer.open(1000 + i);
        if (!context)
            return std::nullopt;
        contexts.push_back(*context);
    }
    for (std::uint32_t i = 0; i <= kStartsPerUser; ++i)
        peer.call(1 + i, wire::call::NorvoStartSensor{contexts[i], i});
    const auto refused = peer.reply(1 + kStartsPerUser, /*answer=*/false);
    if (fault_of(refused) != wire::status::server_too_busy)
        return std::nullopt;
    return contexts.back();
}

// Calls `count` times, a window of calls in one write before their replies: a client
// that sends without reading would find the daemon no longer reading it, and each
// reply takes a buffer of its own in the socket. True when `answered` holds for every
// reply.
template <class Call>
bool pipelined(RawClient& peer, std::uint32_t& id, std::uint32_t count, const Call& call,
               const std::function<bool(const std::optional<wire::ReceivedFrame>&)>& answered) {
    constexpr std::uint32_t kWindow = 128;
    const auto payload = *wire::encode(call);
    for (std::uint32_t sent = 0; sent < count; sent += kWindow) {
        const std::uint32_t first = id + 1, n = std::min(kWindow, count - sent);
        std::vector<std::uint8_t> frames;
        for (std::uint32_t i = 0; i < n; ++i) {
            const auto frame =
                wire::make_frame(wire::FrameKind::Call, wire::kOpnum<Call>, ++id, payload);
            frames.insert(frames.end(), frame.begin(), frame.end());
        }
        if (!wire::write_all(peer.socket(), frames))
            return false;
        for (std::uint32_t i = 0; i < n; ++i) {
            if (!answered(peer.reply(first + i, /*answer=*/false)))
                return false;
        }
    }
    return true;
}

// A number field of a process's /proc status ("VmRSS" in KiB, "Threads").
long status_field(pid_t pid, std::string_view name) {
    return stress::parse_status_field(stress::read_status(pid), name).value_or(0);
}

class UserLimits : public DaemonTest {
  protected:
    UserLimits() {
        // Other users may pass through the folder, not change it.
        ::chmod(path("").c_str(), 0711);
        daemon_options_ = {"--thread-idle", "1"};
        daemon_ = start_daemon();
    }
    ~UserLimits() override { stop_daemon(); }

    // Another daemon instead, with these options besides the fixture's.
    void restart_daemon(std::vector<std::string> options, std::vector<std::string> env = {}) {
        stop_daemon();
        daemon_options_.insert(daemon_options_.end(), options.begin(), options.end());
        daemon_ = start_daemon(std::move(env));
    }

    void stop_daemon() {
        if (!daemon_)
            return;
        daemon_->signal(SIGTERM);
        daemon_errors_ = daemon_->errors();
        daemon_->wait();
        EXPECT_NE(daemon_errors_.find(host_line('6', "Application stop")), std::string::npos)
            << daemon_errors_;
        daemon_.reset();
    }

    // Another login user opens a context, starts, is called back, and closes.
    int served_while_flooded() const {
        return run_as(kOther, [path = endpoint()] {
            RawClient peer(path);
            if (peer.admission() != 0)
                return 1;
            const auto context = peer.open(1);
            if (!context)
                return 2;
            peer.call(2, wire::call::NorvoStartSensor{*context, 7});
            auto signal = wire::read_frame(peer.socket());  // SignalReturn: the run is on
            if (!signal ||
                signal->header.kind != static_cast<std::uint8_t>(wire::FrameKind::Callback))
                return 3;
            const auto c = wire::decode_callback(signal->header.opnum, signal->payload);
            peer.send(wire::FrameKind::CallbackReply, signal->header.opnum, 2,
                      wire::CallbackReply{.sequence = c ? c->sequence : 0});
            peer.call(3, wire::call::RemoteClose{*context});
            return is_result(peer.reply(3)) ? 0 : 4;
        });
    }

    std::unique_ptr<ChildProcess> daemon_;
    std::string daemon_errors_;
};

TEST_F(UserLimits, IdleConnectionsOfOneUserStopAtItsLimitAndOthersAreServed) {
    UserProcess flood(kFlooder, [path = endpoint()] { return hold_every_connection(path); });
    ASSERT_TRUE(flood.ready()) << "flood child: " << flood.finish();
    EXPECT_EQ(served_while_flooded(), 0);
    auto root = vtapctl({"query", "1"});
    EXPECT_TRUE(root->take_output("query 1 -> 0x0"));
    EXPECT_EQ(root->wait(), 0);
    EXPECT_EQ(flood.finish(), 0);
}

TEST_F(UserLimits, RunsOfOneUserStopAtItsLimitAndAnotherStartsAndCloses) {
    UserProcess flood(kFlooder, [path = endpoint()] {
        auto& peer = lasting_peer(path);
        if (peer.admission() != 0)
            return 1;
        return hold_every_start(peer) ? 0 : 2;
    });
    ASSERT_TRUE(flood.ready()) << "flood child: " << flood.finish();
    EXPECT_EQ(served_while_flooded(), 0);
    EXPECT_EQ(flood.finish(), 0);
}

// Starts past the user's share are each refused with 1723 and leave nothing behind:
// the daemon's memory stays flat through round after round of them.
TEST_F(UserLimits, RefusedStartsLeaveNothingBehind) {
    constexpr int kRounds = 5;
    constexpr std::uint32_t kPerRound = 10'000;
    // Well below what two rounds would hold if each refused start left its entry behind
    // (about 100 bytes each, several times that under AddressSanitizer).
    constexpr long kBoundKib = 1024;
    auto env = stress::sanitizer_env();
    // The freed memory that AddressSanitizer holds back fills within the first round.
    env.front() += ":quarantine_size_mb=1";
    restart_daemon({}, std::move(env));
    UserProcess flood(kFlooder, [path = endpoint(), daemon = daemon_->pid()] {
        auto& peer = lasting_peer(path);
        const auto spare = peer.admission() == 0 ? hold_every_start(peer) : std::nullopt;
        if (!spare)
            return 1;
        std::uint32_t id = 100'000;
        std::vector<long> rss;
        for (int round = 0; round < kRounds; ++round) {
            if (!pipelined(peer, id, kPerRound, wire::call::NorvoStartSensor{*spare, 7},
                           [&](const auto& reply) {
                               return fault_of(reply) == wire::status::server_too_busy;
                           }))
                return 2;
            rss.push_back(status_field(daemon, "VmRSS"));
        }
        std::string figures;
        for (const long kib : rss) figures += fmt::format(" {}", kib);
        fmt::print("{} refused starts of one user; VmRSS KiB per round:{}\n", kRounds * kPerRound,
                   figures);
        std::fflush(stdout);  // the child ends with _exit
        if (const auto why = stress::judge_rss(rss, kBoundKib)) {
            fmt::print(stderr, "memory not flat: {}\n", *why);
            return 3;
        }
        return 0;
    });
    ASSERT_TRUE(flood.ready()) << "flood child: " << flood.finish();
    EXPECT_EQ(flood.finish(), 0);
}

// Four associations' worth of contexts, the user's share across its connections:
// the next is refused, at a cost the daemon carries, another user is served, and
// a context closed gives the share back at once.
TEST_F(UserLimits, ContextsOfOneUserStopAtItsShareInBoundedMemory) {
    constexpr std::uint32_t kPerAssociation = 1024;
    const auto before = status_field(daemon_->pid(), "VmRSS");
    UserProcess flood(kFlooder, [path = endpoint()] {
        static std::vector<std::unique_ptr<RawClient>> held;
        std::uint32_t id = 0;
        std::optional<wire::ContextToken> last;
        for (std::size_t i = 0; i < kContextsPerUser / kPerAssociation; ++i) {
            auto& peer = *held.emplace_back(std::make_unique<RawClient>(path));
            if (peer.admission() != 0)
                return 1;
            for (std::uint32_t c = 0; c < kPerAssociation; ++c) {
                if (!(last = peer.open(++id)))
                    return 2;
            }
        }
        auto& more = *held.emplace_back(std::make_unique<RawClient>(path));
        if (more.admission() != 0 || !more.call(++id, wire::call::RemoteOpen{}) ||
            fault_of(more.reply(id)) != wire::status::server_too_busy)
            return 3;
        if (!held[held.size() - 2]->answered(++id, wire::call::RemoteClose{*last}))
            return 4;
        return more.open(++id) ? 0 : 5;
    });
    ASSERT_TRUE(flood.ready()) << "flood child: " << flood.finish();
    const auto grown = status_field(daemon_->pid(), "VmRSS") - before;
    EXPECT_LT(grown, kContextsCostKib) << "KiB for " << kContextsPerUser << " contexts";
    fmt::print("{} contexts of one user: VmRSS +{} KiB\n", kContextsPerUser, grown);
    EXPECT_EQ(served_while_flooded(), 0);
    EXPECT_EQ(flood.finish(), 0);
    EXPECT_TRUE(daemon_->take_error(core_line(
        '4', "Account 4242 holds its 4096 contexts, the most one user may: more are refused")))
        << daemon_->error_text();
}

// The daemon's standard error and output are pipes that this test leaves unread
// while one user floods both; another user's new connection is served all the same.
TEST_F(UserLimits, ALogReaderThatStoppedHoldsUpNoOtherUser) {
    UserProcess flood(kFlooder, [path = endpoint()] {
        RawClient peer(path, std::chrono::seconds(10));
        const auto context = peer.admission() == 0 ? peer.open(1) : std::nullopt;
        if (!context)
            return 1;
        constexpr std::uint8_t kPhoneTap[] = {1, 0, 1, 0, 0, 0};
        std::vector<std::uint8_t> event(wire::kMaxArraySize, 7);
        std::ranges::copy(kPhoneTap, event.begin());
        std::uint32_t id = 2;
        for (int i = 0; i < 16; ++i) {
            if (!peer.answered(id++, wire::call::NorvoReceiveClientEvent{*context, {event}}))
                return 2;
        }
        for (int i = 0; i < 2000; ++i) {
            if (!peer.answered(id++, wire::call::NorvoStopSensor{*context}))
                return 3;
        }
        for (int i = 0; i < 10'000; ++i) {  // "unknown" on standard output
            if (!peer.answered(id++, wire::call::NorvoQueryProperty{*context, 4, {}}))
                return 4;
        }
        return 0;
    });
    ASSERT_TRUE(flood.ready()) << "flood child: " << flood.finish();
    // Served at all: the daemon's log is stalled until the end of the test, and a daemon
    // whose calls waited for it would never answer.
    const int served = run_as(kOther, [path = endpoint()] {
        RawClient peer(path);
        const auto context = peer.admission() == 0 ? peer.open(1) : std::nullopt;
        const wire::call::NorvoQueryProperty version{
            context.value_or(wire::ContextToken{}), 1,
            wire::PropertyBuffer{std::vector<std::uint8_t>(64)}};
        return context && peer.answered(2, version) ? 0 : 1;
    });
    EXPECT_EQ(served, 0);
    EXPECT_EQ(flood.finish(), 0);
    // Read at last: what did not fit is counted where it was lost.
    const auto dropped = daemon_->take_error(host_line('4', ""));
    EXPECT_TRUE(dropped && dropped->ends_with(" log records dropped")) << dropped.value_or("none");
}

// One user pipelines calls that each log an Error at the packaged level, from four
// connections, while nobody reads the journal. Another user's Warn still comes, the
// flooder's lines stop at its share, and the summaries count every one held back.
TEST_F(UserLimits, OneUsersFloodOfErrorsCrowdsOutNobodysWarning) {
    constexpr std::uint32_t kConnections = 4;
    constexpr std::uint32_t kCallsEach = 16'000;  // lines enough to fill the queue and its reserve
    restart_daemon({"--log-level", "info"});
    UserProcess flood(kFlooder, [path = endpoint()] {
        std::vector<std::unique_ptr<RawClient>> peers;
        std::vector<wire::ContextToken> contexts;
        for (std::uint32_t i = 0; i < kConnections; ++i) {
            auto& peer = *peers.emplace_back(std::make_unique<RawClient>(path));
            const auto context = peer.admission() == 0 ? peer.open(1) : std::nullopt;
            if (!context)
                return 1;
            contexts.push_back(*context);
        }
        // "Stop channel not initialized" each, by turns on the four.
        constexpr std::uint32_t kTurn = 4000;
        std::vector<std::uint32_t> ids(kConnections, 1);
        for (std::uint32_t sent = 0; sent < kCallsEach; sent += kTurn) {
            for (std::uint32_t i = 0; i < kConnections; ++i) {
                if (!pipelined(*peers[i], ids[i], kTurn, wire::call::NorvoStopSensor{contexts[i]},
                               [&](const auto& reply) { return is_result(reply); }))
                    return 2;
            }
        }
        return 0;  // the contexts are run down as the connections end here
    });
    ASSERT_TRUE(flood.ready()) << "flood child: " << flood.finish();
    UserProcess other(kOther, [path = endpoint()] { return hold_every_connection(path); });
    ASSERT_TRUE(other.ready()) << "other child: " << other.finish();
    EXPECT_TRUE(daemon_->take_error(
        core_line('4', "Account 4243 holds its 128 connections, the most one user may"),
        std::chrono::seconds(20)))
        << "another user's warning was lost";
    EXPECT_EQ(other.finish(), 0);
    EXPECT_EQ(flood.finish(), 0);
    stop_daemon();  // writes the last summaries

    // The flooder's lines: each call's Error, and for each context run down an Error and
    // an Info; nobody else's call logs at Info or Error.
    long written = 0, held = 0, dropped = 0;
    std::istringstream lines(daemon_errors_);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(core_line('3', "")) || line.starts_with(core_line('6', "")))
            ++written;
        held += host_count(line, " lines caused by account 4242 held back").value_or(0);
        dropped += host_count(line, " log records dropped").value_or(0);
    }
    fmt::print("{} Error lines caused by one user: {} written, {} held back, {} dropped\n",
               kConnections * kCallsEach, written, held, dropped);
    EXPECT_EQ(written + held, kConnections * (kCallsEach + 2));
    EXPECT_LT(written, 1000);
    EXPECT_EQ(dropped, 0);
}

// A run holds a worker thread until its client goes; a second later (the
// daemon's --thread-idle here) the pool is back to its floor of four.
TEST_F(UserLimits, PoolThreadsAboveTheFloorEndAfterIdling) {
    constexpr std::uint32_t kRuns = 8;
    const pid_t pid = daemon_->pid();
    const auto before = status_field(pid, "Threads");
    UserProcess runs(kFlooder, [path = endpoint()] {
        auto& peer = lasting_peer(path);
        if (peer.admission() != 0)
            return 1;
        std::vector<wire::ContextToken> contexts;
        for (std::uint32_t i = 1; i <= kRuns; ++i) {
            const auto context = peer.open_simulated(100 + i);
            if (!context)
                return 2;
            contexts.push_back(*context);
        }
        for (std::uint32_t i = 1; i <= kRuns; ++i)
            peer.call(i, wire::call::NorvoStartSensor{contexts[i - 1], i});
        // Each run's first callback comes from its own thread; none is answered.
        for (std::uint32_t i = 1; i <= kRuns; ++i) {
            const auto frame = wire::read_frame(peer.socket());
            if (!frame ||
                frame->header.kind != static_cast<std::uint8_t>(wire::FrameKind::Callback))
                return 3;
        }
        return 0;
    });
    ASSERT_TRUE(runs.ready()) << "runs child: " << runs.finish();
    EXPECT_GE(status_field(pid, "Threads"), before + kRuns);
    EXPECT_EQ(runs.finish(), 0);
    ASSERT_TRUE(daemon_->take_error("<7>rpc_server: Idle worker thread ended, 4 left"))
        << daemon_->error_text();
    // A close goes to a worker, and the pool first joins the threads that ended.
    RawClient root(endpoint());
    ASSERT_EQ(root.admission(), 0);
    const auto context = root.open(1);
    ASSERT_TRUE(context);
    ASSERT_TRUE(root.call(2, wire::call::RemoteClose{*context}));
    ASSERT_TRUE(is_result(root.reply(2)));
    EXPECT_EQ(status_field(pid, "Threads"), before + 4);
}

// A run ends with the socket that started it, as if its client had gone, while
// the client's other socket, and the context with it, stays.
TEST_F(UserLimits, ARunEndsWithItsSocketWhileItsAssociationLives) {
    UserProcess client(kOther, [path = endpoint()] {
        auto& first = lasting_peer(path);
        if (first.admission() != 0)
            return 1;
        const auto context = first.open_simulated(1);
        if (!context)
            return 2;
        {
            RawClient starter(path);
            if (!starter.join(first.association()))
                return 4;
            starter.call(3, wire::call::NorvoStartSensor{*context, 7});
            const auto signal = wire::read_frame(starter.socket());
            if (!signal ||
                signal->header.kind != static_cast<std::uint8_t>(wire::FrameKind::Callback))
                return 5;
        }
        first.call(4, wire::call::NorvoQueryProperty{.context = *context, .key = 4});
        return is_result(first.reply(4)) ? 0 : 6;
    });
    ASSERT_TRUE(client.ready()) << "client child: " << client.finish();
    // Stopped at once, or not until the client's last socket ends, which it does not here.
    ASSERT_TRUE(daemon_->take_error(core_line('6', "Stop message receive, exiting sensor loop"),
                                    std::chrono::seconds(10)))
        << "the run did not end with its socket\n"
        << daemon_->error_text();
    EXPECT_TRUE(daemon_->take_error(core_line('6', "End of the NorvoStartSensor() called"),
                                    std::chrono::seconds(10)));
    EXPECT_EQ(daemon_->error_text().find("PCONTEXT_HANDLE_TYPE_rundown() called"),
              std::string::npos)
        << "the context stays while the client's first socket does";
    EXPECT_EQ(client.finish(), 0);
    EXPECT_TRUE(daemon_->take_error(core_line('7', "PCONTEXT_HANDLE_TYPE_rundown() called")));
}

// The client library against the daemon itself: a burst of callers keeps within its
// sockets with no call refused, a daemon that stopped answering fails a connect by
// its deadline, and after a restart the next call makes a fresh association.
TEST_F(UserLimits, TheClientLibraryBurstsWithinItsSocketsAndOutlastsAStoppedDaemon) {
    auto connection = client::Connection::connect(endpoint());
    ASSERT_TRUE(connection) << connection.error().describe();
    const auto context = (*connection)->RemoteOpen();
    ASSERT_TRUE(context);
    EXPECT_THAT(burst_of_callers(**connection, *context, 200), ::testing::IsEmpty());
    EXPECT_LE((*connection)->socket_count(), client::Options{}.max_sockets);

    daemon_->signal(SIGSTOP);
    int stopped = 0;  // a stop signal takes effect after kill() returns
    ASSERT_EQ(::waitpid(daemon_->pid(), &stopped, WUNTRACED), daemon_->pid());
    ASSERT_TRUE(WIFSTOPPED(stopped));
    const auto began = std::chrono::steady_clock::now();
    const auto silent = client::Connection::connect(endpoint());
    const auto took = std::chrono::steady_clock::now() - began;
    daemon_->signal(SIGCONT);
    ASSERT_FALSE(silent);
    EXPECT_EQ(silent.error().status, wire::status::server_unavailable);
    EXPECT_LT(took, std::chrono::seconds(10));

    stop_daemon();
    daemon_ = start_daemon();
    const auto fresh = (*connection)->RemoteOpen();
    ASSERT_TRUE(fresh) << fresh.error().describe();
    EXPECT_EQ((*connection)->read_property(*fresh, 1)->bytes.size(), 8u);
}

TEST_F(UserLimits, OutOfDescriptorsClientsAreTurnedAwayOnceLoggedAndWithoutSpinning) {
    const pid_t pid = daemon_->pid();
    const auto reactor = thread_by_name(pid, "vtap-transport");
    ASSERT_TRUE(reactor);
    {
        // A connection that comes and goes leaves a worker thread for the rundowns
        // below: the sanitizers' first look at a new thread needs descriptors.
        RawClient warm_up(endpoint());
        ASSERT_EQ(warm_up.admission(), 0);
        ::shutdown(warm_up.socket(), SHUT_WR);
        ASSERT_FALSE(wire::read_frame(warm_up.socket()));
    }
    rlimit before{};
    ASSERT_EQ(::prlimit(pid, RLIMIT_NOFILE, nullptr, &before), 0);
    rlimit few = before;
    few.rlim_cur = 48;
    ASSERT_EQ(::prlimit(pid, RLIMIT_NOFILE, &few, nullptr), 0);

    std::vector<std::unique_ptr<RawClient>> held;
    for (wire::RpcStatus admitted = 0; admitted == 0;) {
        ASSERT_LT(held.size(), few.rlim_cur);
        auto& peer = *held.emplace_back(std::make_unique<RawClient>(endpoint()));
        admitted = peer.admission();
        if (admitted == 0)
            peer.send(wire::FrameKind::Hello, 0, 0, wire::Hello{});
        else
            EXPECT_EQ(admitted, wire::status::out_of_resources);
    }
    held.pop_back();

    // Clients that queue while no descriptor is free: a spinning acceptor would
    // be runnable all the while.
    std::vector<std::unique_ptr<RawClient>> queued;
    for (int i = 0; i < 3; ++i)
        queued.push_back(std::make_unique<RawClient>(endpoint(), RawClient::NotYetAdmitted{}));
    const auto start = std::chrono::steady_clock::now();
    const auto runnable_before = runnable_ns(pid, *reactor);
    ASSERT_TRUE(exchange_with_a_child(2000));
    const auto runnable = runnable_ns(pid, *reactor) - runnable_before;
    const auto wall = std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::steady_clock::now() - start)
                          .count();
    EXPECT_LT(runnable, static_cast<std::uint64_t>(wall) / 2) << "of " << wall << " ns";
    for (auto& peer : queued) EXPECT_EQ(peer->admission(), wire::status::out_of_resources);

    // A connection that ends gives its descriptor back: the next client is admitted.
    ::shutdown(held.back()->socket(), SHUT_WR);
    EXPECT_FALSE(wire::read_frame(held.back()->socket())) << "the service closes its end";
    held.pop_back();
    EXPECT_EQ(RawClient(endpoint()).admission(), 0);
    ::prlimit(pid, RLIMIT_NOFILE, &before, nullptr);
    held.clear();

    stop_daemon();
    const auto log = daemon_errors_;
    std::size_t warnings = 0;
    for (auto at = log.find("<4>rpc_server: Out of file descriptors"); at != std::string::npos;
         at = log.find("<4>rpc_server: Out of file descriptors", at + 1)) {
        ++warnings;
    }
    EXPECT_EQ(warnings, 1u) << log;
}

}  // namespace
