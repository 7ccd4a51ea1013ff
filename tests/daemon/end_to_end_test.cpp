// norvo-vtapd end to end: the real daemon in a temporary folder, driven by
// vtap-sensor and vtapctl session, stopped and paused by signals.

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fcntl.h>
#include <linux/iio/events.h>
#include <linux/iio/types.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>

#include "norvo/posix/unique_fd.hpp"
#include "norvo/posix/unix_socket.hpp"

#include "daemon_fixture.hpp"

namespace {

using namespace norvo::testing;
using ::testing::ElementsAre;

using EndToEnd = DaemonTest;

// The client has started a run; the sensor enters and reports Ready to it.
void start_and_enter(ChildProcess& client, ChildProcess& sensor) {
    ASSERT_TRUE(client.take_output("SignalReturn 0x0 cookie=7"));
    sensor.write("enter\n");
    EXPECT_EQ(without_timestamp(client.take_output("SensorStateChanged")),
              "SensorStateChanged state=SensorStateReady cookie=7");
}

void stop_and_close(ChildProcess& client) {
    client.write("stop\nwait\nclose\n");
    EXPECT_TRUE(client.take_output("start -> 0x0"));
    EXPECT_TRUE(client.take_output("close -> ok"));
    client.close_input();
    EXPECT_EQ(client.wait(), 0);
}

void stop_daemon(ChildProcess& daemon) {
    daemon.signal(SIGTERM);
    EXPECT_TRUE(daemon.take_error(host_line('6', "Service stop")));
    EXPECT_TRUE(daemon.take_error(host_line('6', "RpcServer stopped")));
    EXPECT_TRUE(daemon.take_error(host_line('6', "Application stop")));
    EXPECT_EQ(daemon.wait(), 0) << daemon.error_text();
}

TEST_F(EndToEnd, PhoneAndLaptopTapAreConfirmed) {
    auto daemon = start_daemon();
    auto client = session();
    auto device = sensor();
    client->write("open\nset 3 5000\nstart 7\n");  // a wide range: slow sanitized builds
    start_and_enter(*client, *device);
    client->write("phone\n");
    ASSERT_TRUE(client->take_output("phone -> 0x0"));
    device->write("tap\n");
    EXPECT_EQ(without_timestamp(client->take_output("TapEvent")), "TapEvent Confirmed cookie=7");
    device->close_input();
    EXPECT_THAT(device->rest_of_output(),
                ElementsAre("connected to " + sensor_socket(), "sent enter 0 2 NorvoSimTap Norvo",
                            "sent report 19:0000000000000000 19:0100000000000000"));
    stop_and_close(*client);
    stop_daemon(*daemon);
}

// The packaged path: the service's account cannot write /sys, where udev has set the switch.
// A switch already on is used: a single tap, fed through the test setting's FIFO in place of
// the device's event descriptor, is confirmed with a phone tap. A switch left off is named.
TEST_F(EndToEnd, AnIioSwitchTheDaemonCannotWriteIsUsedWhenOn) {
    constexpr int kAccount = 4243;
    const auto device = path("sys") / "iio:device0";
    const auto enable = device / "events" / "in_accel_gesture_singletap_en";
    std::filesystem::create_directories(device / "events");
    std::filesystem::create_directories(path("dev"));
    ASSERT_EQ(::mkfifo(path("dev/iio:device0").c_str(), 0600), 0);
    std::vector<std::string> argv{NORVO_VTAPD_PATH, "--socket", endpoint(), "--sensor",
                                  "iio:" + device.string()};
    if (::geteuid() == 0) {  // root writes anything: the daemon runs as another account
        ASSERT_EQ(::chown(path("dev").parent_path().c_str(), kAccount, kAccount), 0);
        ASSERT_EQ(::chown(path("dev/iio:device0").c_str(), kAccount, kAccount), 0);
        argv.insert(argv.begin(), {"/usr/bin/setpriv", fmt::format("--reuid={}", kAccount),
                                   fmt::format("--regid={}", kAccount), "--clear-groups"});
    }
    for (const char* state : {"0", "1"}) {
        SCOPED_TRACE(state);
        std::filesystem::remove(enable);
        std::ofstream(enable) << state << "\n";
        ASSERT_EQ(::chmod(enable.c_str(), 0444), 0);
        ChildProcess daemon(
            argv, ChildOptions{.env = {"NORVO_VTAPD_TEST_IIO_EVENTS=" + path("dev").string()}});
        if (*state == '0') {
            EXPECT_TRUE(daemon.take_error(
                "<3>norvo_linux::iio_tap_sensor: IIO device iio:device0 not used: cannot write " +
                enable.string() + ": Permission denied"))
                << daemon.error_text();
            stop_daemon(daemon);
            continue;
        }
        ASSERT_TRUE(daemon.take_error("<6>norvo_linux::iio_tap_sensor: IIO tap device iio:device0"))
            << daemon.error_text();
        ASSERT_TRUE(daemon.take_error(host_line('6', "RpcServer created")));
        auto client = session();
        client->write("open\nset 3 5000\nstart 7\n");
        ASSERT_TRUE(client->take_output("SignalReturn 0x0 cookie=7"));
        client->write("phone\n");
        ASSERT_TRUE(client->take_output("phone -> 0x0"));
        const norvo::posix::UniqueFd events(::open(path("dev/iio:device0").c_str(), O_WRONLY));
        const iio_event_data tap{
            std::uint64_t{IIO_EV_TYPE_GESTURE} << 56 | std::uint64_t{IIO_EV_DIR_SINGLETAP} << 48,
            0};
        ASSERT_EQ(::write(events.get(), &tap, sizeof tap), static_cast<ssize_t>(sizeof tap));
        EXPECT_EQ(without_timestamp(client->take_output("TapEvent")),
                  "TapEvent Confirmed cookie=7");
        stop_and_close(*client);
        stop_daemon(daemon);
    }
}

TEST_F(EndToEnd, LoneLaptopTapIsUnconfirmed) {
    auto daemon = start_daemon();
    auto client = session();
    auto device = sensor({"-q"});
    client->write("open\nset 9 1\nstart 7\n");
    start_and_enter(*client, *device);
    device->write("tap\n");
    EXPECT_EQ(without_timestamp(client->take_output("TapEvent")),
              "TapEvent UnconfirmedTap cookie=7");
    EXPECT_TRUE(daemon->take_error(core_line('6', "Timeout reached, unconfirmed tap")));
    device->close_input();
    EXPECT_TRUE(device->rest_of_output().empty()) << "-q";
    stop_and_close(*client);
    stop_daemon(*daemon);
}

TEST_F(EndToEnd, SensorAbsentAtStartEntersLeavesAndComesBack) {
    auto daemon = start_daemon();
    auto client = session();
    client->write("open\nstart 7\n");
    ASSERT_TRUE(client->take_output("SignalReturn 0x0 cookie=7"));
    auto device = sensor();
    ASSERT_TRUE(daemon->take_error("<6>norvo_linux::sensor_device: Sensor device connected"));
    device->write("enter\nleave\nenter 2\n");
    for (const auto* state : {"SensorStateReady", "SensorStateError", "SensorStateNoData"}) {
        EXPECT_EQ(without_timestamp(client->take_output("SensorStateChanged")),
                  fmt::format("SensorStateChanged state={} cookie=7", state));
    }
    stop_and_close(*client);
    stop_daemon(*daemon);
}

TEST_F(EndToEnd, KilledClientIsRunDownAndTheNextOneIsServed) {
    auto daemon = start_daemon();
    auto killed = session();
    killed->write("open\nstart 1\n");
    ASSERT_TRUE(killed->take_output("SignalReturn 0x0 cookie=1"));
    killed->signal(SIGKILL);
    EXPECT_EQ(killed->wait(), 128 + SIGKILL);
    EXPECT_TRUE(daemon->take_error(core_line('7', "PCONTEXT_HANDLE_TYPE_rundown() called")));
    EXPECT_TRUE(daemon->take_error(core_line('6', "Data processing finished")));

    auto client = session();
    client->write("open\nstart 7\n");
    ASSERT_TRUE(client->take_output("SignalReturn 0x0 cookie=7"));
    client->write("query 4\nstop\nwait\nquery 4\nclose\n");
    EXPECT_TRUE(client->take_output("query 4 -> 0x0 len=4 01 00 00 00"));
    EXPECT_TRUE(client->take_output("start -> 0x0"));
    EXPECT_TRUE(client->take_output("query 4 -> 0x0 len=4 00 00 00 00"));
    EXPECT_TRUE(client->take_output("close -> ok"));
    client->close_input();
    EXPECT_EQ(client->wait(), 0);
    stop_daemon(*daemon);
}

TEST_F(EndToEnd, StopWhileAStartIsOutstandingEndsTheClientsConnection) {
    auto daemon = start_daemon();
    auto client = session();
    client->write("open\nstart 7\n");
    ASSERT_TRUE(client->take_output("SignalReturn 0x0 cookie=7"));
    daemon->signal(SIGTERM);
    for (const auto& line :
         {host_line('7', "Service control event: Stop"), host_line('6', "Service stop"),
          host_line('6', "RpcServer stopped"), host_line('6', "Application stop")}) {
        EXPECT_TRUE(daemon->take_error(line)) << line << " in\n" << daemon->error_text();
    }
    EXPECT_EQ(daemon->wait(), 0);
    EXPECT_TRUE(client->take_output("start -> rpc error 1726"));
    client->close_input();
    EXPECT_EQ(client->wait(), 0);
}

// Receives systemd's notifications the way the service manager does.
class NotifySocket {
  public:
    explicit NotifySocket(const std::string& path)
        : fd_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        const auto address = norvo::posix::UnixAddress::of(path);
        EXPECT_TRUE(address && ::bind(fd_.get(), address->get(), address->size()) == 0);
    }

    std::string next() const {
        pollfd ready{fd_.get(), POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(kGuard.count() * 1000)) != 1)
            return "(none)";
        char message[256];
        const auto n = ::recv(fd_.get(), message, sizeof message, 0);
        return n < 0 ? "(error)" : std::string(message, static_cast<std::size_t>(n));
    }

  private:
    norvo::posix::UniqueFd fd_;
};

TEST_F(EndToEnd, PauseContinueAndStopWhilePausedAreNotified) {
    NotifySocket notify(path("notify").string());
    auto daemon = start_daemon({"NOTIFY_SOCKET=" + path("notify").string()});
    EXPECT_EQ(notify.next(), "READY=1\nSTATUS=Running");
    daemon->signal(SIGTSTP);
    EXPECT_TRUE(daemon->take_error(host_line('6', "Service pause")));
    EXPECT_EQ(notify.next(), "STATUS=Paused");
    daemon->signal(SIGCONT);
    EXPECT_TRUE(daemon->take_error(host_line('6', "Service continue")));
    EXPECT_EQ(notify.next(), "STATUS=Running");
    daemon->signal(SIGTSTP);
    EXPECT_TRUE(daemon->take_error(host_line('6', "Service pause")));
    EXPECT_EQ(notify.next(), "STATUS=Paused");

    auto served = vtapctl({"query", "1"});  // paused still serves
    EXPECT_TRUE(served->take_output("query 1 -> 0x0"));
    EXPECT_EQ(served->wait(), 0);

    // Paused, only stop and continue are accepted controls.
    for (const auto& [signal, control] : {std::pair{SIGHUP, 6}, std::pair{SIGPWR, 5}}) {
        daemon->signal(signal);
        const auto ignored =
            fmt::format("Signal {} ignored: control {} is not accepted now", signal, control);
        EXPECT_TRUE(daemon->take_error(host_line('7', ignored)));
    }

    stop_daemon(*daemon);
    EXPECT_EQ(notify.next(), "STOPPING=1");
    EXPECT_EQ(daemon->error_text().find("Service control event: ParamChange"), std::string::npos);
    EXPECT_EQ(daemon->error_text().find("Service control event: Shutdown"), std::string::npos);
}

TEST_F(EndToEnd, AStatusThatCannotBeReportedEndsTheRunBeforeServing) {
    auto daemon =
        run_daemon(endpoint(), sensor_socket(), {"NOTIFY_SOCKET=" + path("nobody").string()});
    EXPECT_TRUE(daemon->take_error(
        host_line('3', "Application exited with an error: Failed to set service status")));
    EXPECT_TRUE(daemon->take_error(host_line('6', "Application stop")));
    EXPECT_EQ(daemon->wait(), 1);
    EXPECT_EQ(daemon->error_text().find("RpcServer created"), std::string::npos);
}

TEST_F(EndToEnd, ShutdownAndOtherSignalsAreControls) {
    auto daemon = start_daemon();
    daemon->signal(SIGHUP);
    EXPECT_TRUE(daemon->take_error(host_line('7', "Service control event: ParamChange")));
    daemon->signal(SIGPWR);
    EXPECT_TRUE(daemon->take_error(host_line('7', "Service control event: Shutdown")));
    EXPECT_TRUE(daemon->take_error(host_line('6', "RpcServer stopped")));
    EXPECT_TRUE(daemon->take_error(host_line('6', "Application stop")));
    EXPECT_EQ(daemon->wait(), 0);
    EXPECT_EQ(daemon->error_text().find("Service stop"), std::string::npos);
}

struct Occupied {
    const char* name;
    bool same_endpoint;
    const char* error;
    friend void PrintTo(const Occupied& o, std::ostream* os) { *os << o.name; }
};

class SecondDaemon : public DaemonTest, public ::testing::WithParamInterface<Occupied> {};

TEST_P(SecondDaemon, FailsAndLeavesTheFirstServing) {
    auto first = start_daemon();
    const auto& occupied = GetParam();
    auto second =
        run_daemon(occupied.same_endpoint ? endpoint() : path("other").string(),
                   occupied.same_endpoint ? path("other-sensor").string() : sensor_socket());
    EXPECT_TRUE(second->take_error(host_line('6', "Application start")));
    EXPECT_TRUE(second->take_error(
        host_line('3', fmt::format("Application exited with an error: {}", occupied.error))))
        << second->error_text();
    EXPECT_TRUE(second->take_error(host_line('6', "Application stop")));
    EXPECT_EQ(second->wait(), 1);

    auto served = vtapctl({"query", "1"});
    EXPECT_TRUE(served->take_output("query 1 -> 0x0"));
    EXPECT_EQ(served->wait(), 0);
    stop_daemon(*first);
}

INSTANTIATE_TEST_SUITE_P(Sockets, SecondDaemon,
                         ::testing::Values(Occupied{"Endpoint", true, "Failed to run service"},
                                           Occupied{"SensorSocket", false,
                                                    "Failed to build async runtime"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EndToEnd, SensorSocketIsTheOwnersAloneWhateverTheUmask) {
    const mode_t before = ::umask(0);
    auto daemon = start_daemon();
    ::umask(before);
    struct stat info{};
    ASSERT_EQ(::lstat(sensor_socket().c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    // Another user finds it in the system folder and is told whose it is.
    ::chmod(path("").c_str(), 0711);
    ChildProcess other(
        {"/usr/bin/setpriv", "--reuid=4243", "--regid=4243", "--clear-groups", VTAP_SENSOR_PATH},
        {.env = {"NORVO_VTAP_TEST_SYSTEM_FOLDER=" + path("").string(), "XDG_RUNTIME_DIR="}});
    other.close_input();
    EXPECT_EQ(other.wait(), 1);
    const auto hint = " is the service's own: root or the service's account may use it";
    EXPECT_THAT(other.error_text(),
                ::testing::EndsWith(sensor_socket() + hint + " (sudo vtap-sensor)\n"));
    stop_daemon(*daemon);
}

// Each way a start can fail ends the process with status 1 and says why at Error.
TEST_F(EndToEnd, AFailedStartExitsNonZeroWithItsCause) {
    struct Case {
        const char* name;
        std::function<std::vector<std::string>()> prepare;  // makes the trouble; the daemon's argv
        const char* cause;
    };
    std::unique_ptr<ChildProcess> first;
    norvo::posix::UniqueFd lock;
    const auto sockets = [&](const std::string& socket, const std::string& sensor) {
        return std::vector<std::string>{NORVO_VTAPD_PATH, "--socket", socket, "--sensor-socket",
                                        sensor};
    };
    const Case cases[] = {
        {"endpoint in use",
         [&] {
             first = start_daemon();
             return sockets(endpoint(), path("other-sensor").string());
         },
         "Failed to run service: Windows RPC error: RPC status: 1740"},
        {"endpoint a folder",
         [&] {
             std::filesystem::create_directory(path("folder"));
             return sockets(path("folder").string(), sensor_socket());
         },
         "Failed to run service: Windows RPC error: RPC status: 1720"},
        {"endpoint a symlink",
         [&] {
             std::filesystem::create_symlink(path("elsewhere"), path("link"));
             return sockets(path("link").string(), sensor_socket());
         },
         "Failed to run service: Windows RPC error: RPC status: 1720"},
        {"lock held",
         [&] {
             lock = norvo::posix::UniqueFd(
                 ::open(path("held.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
             EXPECT_EQ(::flock(lock.get(), LOCK_EX | LOCK_NB), 0);
             return sockets(path("held").string(), sensor_socket());
         },
         "Failed to run service: Windows RPC error: RPC status: 1740"},
        {"sensor folder writable by others",
         [&] {
             std::filesystem::create_directory(path("open"));
             ::chmod(path("open").c_str(), 0777);
             return sockets(endpoint(), path("open/sensor").string());
         },
         "Failed to build async runtime: Socket folder"},
        {"no XDG_RUNTIME_DIR",
         [&] {
             // Root always has /run/norvo-vtap: run as nobody, whose default that is not.
             if (::geteuid() == 0) {
                 return std::vector<std::string>{"/usr/bin/setpriv", "--reuid=65534",
                                                 "--regid=65534", "--clear-groups",
                                                 NORVO_VTAPD_PATH};
             }
             return std::vector<std::string>{NORVO_VTAPD_PATH};
         },
         "Failed to build async runtime: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ChildProcess daemon(c.prepare(), ChildOptions{.env = {"XDG_RUNTIME_DIR="}});
        const auto line = daemon.take_error(host_line('3', "Exit status 1: "));
        ASSERT_TRUE(line) << daemon.error_text();
        EXPECT_NE(line->find(c.cause), std::string::npos) << *line;
        EXPECT_EQ(daemon.wait(), 1);
        if (first)
            stop_daemon(*std::exchange(first, nullptr));
    }
}

}  // namespace
