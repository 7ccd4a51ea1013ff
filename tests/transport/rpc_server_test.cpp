// The RpcServer stand-in: its steps and log lines, idempotent stop, endpoint
// ownership, and what stop and release do to clients still connected.

#include "norvo/rpc/rpc_server.hpp"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <fstream>

#include "norvo/posix/unix_socket.hpp"
#include "norvo/service/client_context.hpp"
#include "support/service_harness.hpp"

namespace {

using namespace norvo;

constexpr std::string_view kTarget = "rpc_server";

const std::vector<std::string> kStartLines{
    "Rpc Server requested", "Rpc Server registered", "Rpc Server bindings inquired",
    "Rpc Server endpoint registered", "Rpc Server listening"};
const std::vector<std::string> kStopLines{
    "Rpc Server unregistered", "Rpc Server endpoint unregistered", "Rpc Server bindings freed"};

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class RpcServerLifecycle : public ::testing::Test {
  protected:
    void SetUp() override {
        norvo::testing::SocketRuntime::get();
        sink_ = norvo::testing::WaitingSink::install();
    }

    std::filesystem::path endpoint() const { return dir_.path() / "NorvoVxtRpcEndpoint"; }

    std::shared_ptr<norvo::testing::WaitingSink> sink_;
    norvo::testing::TempDir dir_;
};

TEST_F(RpcServerLifecycle, StartAndStopLogTheirStepsAndStopTwiceDoesNothingMore) {
    auto server = rpc::RpcServer::start(endpoint());
    ASSERT_TRUE(server);
    EXPECT_EQ(sink_->messages_of(kTarget), kStartLines);
    EXPECT_TRUE(std::filesystem::exists(endpoint()));

    EXPECT_TRUE(server->stop());
    EXPECT_EQ(sink_->messages_of(kTarget), concat(kStartLines, kStopLines));
    EXPECT_FALSE(std::filesystem::exists(endpoint()));

    EXPECT_TRUE(server->stop());
    EXPECT_EQ(sink_->messages_of(kTarget), concat(kStartLines, kStopLines));
}

TEST_F(RpcServerLifecycle, ReleaseWithoutStopRunsTheStopSteps) {
    {
        auto server = rpc::RpcServer::start(endpoint());
    }
    EXPECT_EQ(sink_->messages_of(kTarget), concat(kStartLines, kStopLines));
}

TEST_F(RpcServerLifecycle, StoppedServerTakesNoNewClients) {
    auto server = rpc::RpcServer::start(endpoint());
    ASSERT_TRUE(server);
    ASSERT_TRUE(server->stop());
    const auto connection = client::Connection::connect(endpoint());
    ASSERT_FALSE(connection);
    EXPECT_EQ(connection.error().status, wire::status::server_unavailable);
}

TEST_F(RpcServerLifecycle, SecondServerOnTheSameEndpointFailsAndTheFirstServesOn) {
    auto first = rpc::RpcServer::start(endpoint());
    ASSERT_TRUE(first);
    sink_->wait_for("Rpc Server listening");

    const auto second = rpc::RpcServer::start(endpoint());
    ASSERT_FALSE(second);
    EXPECT_EQ(fmt::format("{}", second.error()), "Windows RPC error: RPC status: 1740");
    EXPECT_EQ(sink_->messages_of(kTarget), kStartLines);

    EXPECT_TRUE(client::Connection::connect(endpoint()));
}

TEST_F(RpcServerLifecycle, StaleSocketFileIsReclaimed) {
    {
        const auto stale = posix::unix_stream_socket();
        const auto address = posix::UnixAddress::of(endpoint());
        ASSERT_TRUE(stale && address);
        ASSERT_EQ(::bind(stale->get(), address->get(), address->size()), 0);
    }
    ASSERT_TRUE(std::filesystem::exists(endpoint()));
    auto server = rpc::RpcServer::start(endpoint());
    ASSERT_TRUE(server);
    EXPECT_TRUE(client::Connection::connect(endpoint()));
}

TEST_F(RpcServerLifecycle, EndpointsThatCannotBeMadeFailBeforeAnyStep) {
    std::ofstream(endpoint()) << "somebody's file";
    const struct {
        std::filesystem::path path;
        wire::RpcStatus status;
    } cases[] = {
        {endpoint(), wire::status::cant_create_endpoint},
        {dir_.path() / "missing" / "endpoint", wire::status::cant_create_endpoint},
        {dir_.path() / std::string(120, 'x'), wire::status::invalid_endpoint_format},
    };
    for (const auto& c : cases) {
        const auto server = rpc::RpcServer::start(c.path);
        ASSERT_FALSE(server) << c.path;
        EXPECT_EQ(std::get<rpc::RpcStatusWrapper>(server.error().value).status, c.status) << c.path;
    }
    EXPECT_TRUE(sink_->messages_of(kTarget).empty());
    EXPECT_TRUE(std::filesystem::is_regular_file(endpoint()));
}

// Descriptors run out after the endpoint is bound: the start fails at its last
// step and releases what it made, with the stop steps' lines.
TEST_F(RpcServerLifecycle, StartFailingAfterTheBindingReleasesIt) {
    const auto path = endpoint();
    // Once through every step first: the sanitizers' first checks of a type need descriptors.
    {
        auto warm_up = rpc::RpcServer::start(dir_.path() / "warm-up");
    }
    sink_ = norvo::testing::WaitingSink::install();
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
    int highest = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        highest = std::max(highest, std::stoi(entry.path().filename().string()));
    }
    // Filled up to `highest` itself, which may be the listing's own, now closed,
    // descriptor: the next descriptors then come after `highest`.
    std::vector<posix::UniqueFd> holes;
    for (posix::UniqueFd fd(::open("/dev/null", O_RDONLY)); fd.valid() && fd.get() <= highest;
         fd = posix::UniqueFd(::open("/dev/null", O_RDONLY))) {
        holes.push_back(std::move(fd));
    }
    // Room for the folder, the lock file, the socket and the mode change's own
    // descriptor; none for the acceptor's.
    rlimit tight = before;
    tight.rlim_cur = static_cast<rlim_t>(highest + 1 + 4);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    const auto failed = rpc::RpcServer::start(path, transport::AccessPolicy{.service_uid = 0});
    ::setrlimit(RLIMIT_NOFILE, &before);

    ASSERT_FALSE(failed);
    EXPECT_EQ(std::get<rpc::RpcStatusWrapper>(failed.error().value).status,
              wire::status::out_of_resources);
    EXPECT_EQ(sink_->messages_of(kTarget),
              concat({"Rpc Server requested", "Rpc Server registered",
                      "Rpc Server bindings inquired", "Rpc Server endpoint registered"},
                     kStopLines));
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_TRUE(rpc::RpcServer::start(path)) << "the endpoint's lock went with the release";
}

// Stop withdraws the interface without waiting for the sensor run in progress;
// release then ends the connection, and the rundown ends the run.
TEST_F(RpcServerLifecycle, StopLeavesARunningStartAloneAndReleaseRunsItDown) {
    auto started = rpc::RpcServer::start(endpoint());
    ASSERT_TRUE(started);
    std::optional<rpc::RpcServer> server(std::move(*started));
    auto connection = client::Connection::connect(endpoint());
    ASSERT_TRUE(connection);
    auto& client = **connection;
    const auto context = client.RemoteOpen();
    ASSERT_TRUE(context);
    ASSERT_EQ(client.NorvoSetProperty(*context, 2, std::vector<std::uint8_t>{1}), 0);
    norvo::testing::CallbackRecorder callbacks;
    norvo::testing::ClientStart start(client, *context, 7, callbacks);
    callbacks.wait_for_lines(1);

    ASSERT_TRUE(server->stop());
    const auto refused = client.NorvoStopSensor(*context);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().status, wire::status::unknown_interface);
    EXPECT_FALSE(start.returned());

    server.reset();
    const auto ended = start.join();
    ASSERT_FALSE(ended);
    EXPECT_EQ(ended.error().status, wire::status::call_failed);
    EXPECT_TRUE(norvo::testing::appear_in_order(
        sink_->messages(),
        {"PCONTEXT_HANDLE_TYPE_rundown() called", "Sensor loop ended", "RemoteClose() finished"}));
    EXPECT_EQ(service::connected_user_count.load(), 0);
}

}  // namespace
