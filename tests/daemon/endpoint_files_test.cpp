// The daemon's endpoint files: a folder that is not the daemon's alone is
// refused by name, a link at the lock is never followed, and the endpoint's
// mode does not follow the umask.

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "daemon_fixture.hpp"

namespace {

using namespace norvo::testing;

using EndpointFiles = DaemonTest;

// The daemon gives up at the RpcServer's start and says which folder it refused.
void expect_refused(ChildProcess& daemon, const std::filesystem::path& folder) {
    EXPECT_TRUE(
        daemon.take_error(fmt::format("<3>rpc_server: Socket folder {} refused", folder.string())))
        << daemon.error_text();
    EXPECT_TRUE(daemon.take_error(host_line('3', "Application exited with an error")));
    daemon.wait();
}

TEST_F(EndpointFiles, FoldersOthersCanChangeAreRefused) {
    const struct {
        const char* name;
        mode_t mode;
        uid_t owner;
    } cases[] = {
        {"group-writable", 0770, 0},
        {"world-writable", 0777, 0},
        {"sticky-world-writable", 01777, 0},
        {"a-users", 0755, 1234},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto folder = path(c.name);
        ASSERT_TRUE(std::filesystem::create_directory(folder));
        ASSERT_EQ(::chmod(folder.c_str(), c.mode), 0);
        ASSERT_EQ(::chown(folder.c_str(), c.owner, 0), 0);
        auto daemon = run_daemon((folder / "endpoint").string(), sensor_socket());
        expect_refused(*daemon, folder);
        EXPECT_FALSE(std::filesystem::exists(folder / "endpoint.lock"));
    }
}

TEST_F(EndpointFiles, ALinkAtTheLockIsNotFollowed) {
    const auto target = path("root-only");
    std::filesystem::create_symlink(target, endpoint() + ".lock");
    auto daemon = run_daemon(endpoint(), sensor_socket());
    EXPECT_TRUE(daemon->take_error(host_line('3', "Application exited with an error")))
        << daemon->error_text();
    daemon->wait();
    EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(EndpointFiles, EndpointIsOpenToEveryoneWhateverTheUmask) {
    for (const mode_t mask : {0000, 0077}) {
        SCOPED_TRACE(mask);
        const mode_t before = ::umask(mask);
        auto daemon = start_daemon();
        ::umask(before);
        struct stat info{};
        ASSERT_EQ(::lstat(endpoint().c_str(), &info), 0);
        EXPECT_TRUE(S_ISSOCK(info.st_mode));
        EXPECT_EQ(info.st_mode & 07777, 0666u);
        daemon->signal(SIGTERM);
        EXPECT_TRUE(daemon->take_error(host_line('6', "Application stop")));
        daemon->wait();
    }
}

}  // namespace
