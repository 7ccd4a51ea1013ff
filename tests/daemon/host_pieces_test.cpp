// The daemon's own pieces: log lines for journald, systemd notifications, options,
// signals as controls, IIO device events, and fatal reports.

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "norvo/detect/tap_options.hpp"
#include "norvo/linux_host/fatal_reporting.hpp"
#include "norvo/linux_host/iio_watch.hpp"
#include "norvo/linux_host/journal_sink.hpp"
#include "norvo/linux_host/notify_status.hpp"
#include "norvo/linux_host/options.hpp"
#include "norvo/linux_host/output_queue.hpp"
#include "norvo/linux_host/signal_dispatcher.hpp"
#include "norvo/posix/unique_fd.hpp"
#include "norvo/posix/unix_socket.hpp"

#include "daemon_fixture.hpp"

namespace {

using namespace norvo;
using namespace norvo::linux_host;
using norvo::testing::host_count;

TEST(JournalLine, CarriesThePriorityOfEachLevel) {
    const struct {
        log::Level level;
        const char* line;
    } cases[] = {
        {log::Level::Error, "<3>rpc_server: m\n"}, {log::Level::Warn, "<4>rpc_server: m\n"},
        {log::Level::Info, "<6>rpc_server: m\n"},  {log::Level::Debug, "<7>rpc_server: m\n"},
        {log::Level::Trace, "<7>rpc_server: m\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(journal_line({c.level, "rpc_server", "f.cpp", 1, "m"}), c.line);
    }
}

TEST(JournalLine, KeepsARecordOnOneLine) {
    EXPECT_EQ(journal_line({log::Level::Error, "t", "", 0, "a\r\nb\n"}), "<3>t: a\\r\\nb\\n\n");
}

TEST(JournalSink, WritesOneLinePerRecord) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const norvo::posix::UniqueFd reading(fds[0]);
    norvo::posix::UniqueFd writing(fds[1]);
    {
        JournalSink sink(writing.get());
        sink.write({log::Level::Info, "QuelVextoraService", "", 0, "Application start"});
        sink.write({log::Level::Warn, "x", "", 0, "y"});
    }
    EXPECT_TRUE(JournalSink(2, log::Level::Info).accepts(log::Level::Info));
    EXPECT_FALSE(JournalSink(2, log::Level::Info).accepts(log::Level::Debug));
    writing = {};
    char text[128];
    const auto n = ::read(reading.get(), text, sizeof text);
    EXPECT_EQ(std::string(text, n > 0 ? n : 0),
              "<6>QuelVextoraService: Application start\n<4>x: y\n");
}

// Reads what comes into `text`; false when nothing came for seconds.
bool read_more(int fd, std::string& text) {
    pollfd readable{fd, POLLIN, 0};
    char chunk[65536];
    const auto n = ::poll(&readable, 1, 5'000) == 1 ? ::read(fd, chunk, sizeof chunk) : -1;
    if (n > 0)
        text.append(chunk, static_cast<std::size_t>(n));
    return n > 0;
}

// A queue in front of a pipe, the journal's or standard output's: line i of a flood,
// and a Warn where the queue takes one. Its writer ends with the last copy.
struct Queue {
    std::function<void(int)> line;
    std::function<void()> warning;
};

const struct Flooded {
    const char* name;
    Queue (*make)(int fd);
    const char* line;    // line i as read
    const char* notice;  // what follows the count in a notice of lost lines
    const char* warning;
} kFlooded[] = {
    {"log",
     [](int fd) {
         auto sink = std::make_shared<JournalSink>(fd, log::Level::Trace, 4096);
         return Queue{[sink](int i) {
                          const auto message = fmt::format("record {}", i);
                          sink->write({log::Level::Info, "t", "", 0, message});
                      },
                      [sink] { sink->write({log::Level::Warn, "t", "", 0, "warned"}); }};
     },
     "<6>t: record {}", " log records dropped", "<4>t: warned"},
    {"standard output",
     [](int fd) {
         auto queue = std::make_shared<OutputQueue>(fd, 4096);
         return Queue{[queue](int i) { queue->write_line(fmt::format("record {}", i)); }, {}};
     },
     "record {}", " standard output lines dropped", nullptr},
};

// The lines that the complete lines of `text` account for: written in order, or
// reported lost by a notice; `wrong` is the first line that is neither.
struct Accounted {
    int lines = 0;
    int notices = 0;
    bool ends_with_notice = false;
    bool warned = false;  // the Warn written into the full queue came through
    std::string wrong;
};
Accounted account(std::string_view text, const Flooded& queue) {
    Accounted a;
    std::istringstream lines{std::string(text.substr(0, text.rfind('\n') + 1))};
    for (std::string line; std::getline(lines, line);) {
        const auto dropped = host_count(line, queue.notice);
        a.ends_with_notice = dropped.has_value();
        if (dropped) {
            a.lines += static_cast<int>(*dropped);
            ++a.notices;
        } else if (queue.warning != nullptr && line == queue.warning) {
            a.warned = true;
        } else if (line == fmt::format(fmt::runtime(queue.line), a.lines)) {
            ++a.lines;
        } else {
            a.wrong = line;
            break;
        }
    }
    return a;
}

// A pipe nobody reads while a flood comes: the calls return all the same. Nothing
// comes after the flood, whose last lines are lost: once the reader drains, every
// line kept comes in order, a Warn stands for each run of lost ones, the last run
// too, and a warning written into the full queue is kept.
TEST(BackgroundWriter, NeverWaitsForItsReaderAndCountsWhatItDrops) {
    constexpr int kLines = 20'000;  // far more than the pipe and the queue hold
    for (const auto& c : kFlooded) {
        SCOPED_TRACE(c.name);
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const norvo::posix::UniqueFd reading(fds[0]), writing(fds[1]);
        std::string text;
        {
            const auto queue = c.make(writing.get());
            auto flood = std::async(std::launch::async, [&] {
                for (int i = 0; i < kLines; ++i) {
                    if (i == kLines / 2 && queue.warning)
                        queue.warning();
                    queue.line(i);
                }
            });
            ASSERT_EQ(flood.wait_for(std::chrono::seconds(10)), std::future_status::ready)
                << "a call waited for the reader";
            for (auto a = account(text, c); a.lines < kLines && a.wrong.empty();
                 a = account(text, c)) {
                ASSERT_TRUE(read_more(reading.get(), text))
                    << "nothing more after " << a.lines << " of " << kLines
                    << " lines: the last ones lost were never reported";
            }
        }
        const auto a = account(text, c);
        EXPECT_EQ(a.wrong, "");
        EXPECT_EQ(a.lines, kLines) << "kept and reported lost";
        EXPECT_TRUE(a.ends_with_notice) << "the flood's last lines were kept, not lost";
        EXPECT_EQ(a.warned, c.warning != nullptr) << "a flood of lines crowded out a warning";
    }
}

// The exit would wait for ever on a writer that ignores its linger: an alarm ends
// the child then, saying so.
TEST(JournalSinkDeathTest, ExitsInBoundedTimeWhenItsReaderHasStopped) {
    EXPECT_EXIT(
        {
            int fds[2];
            if (::pipe(fds) != 0)
                ::_exit(2);
            auto sink = std::make_unique<JournalSink>(fds[1]);
            for (int i = 0; i < 100'000; ++i) sink->write({log::Level::Info, "t", "", 0, "line"});
            std::signal(SIGALRM, [](int) {
                constexpr std::string_view kHeld = "the writer held the exit past its linger\n";
                [[maybe_unused]] const auto n = ::write(2, kHeld.data(), kHeld.size());
                ::_exit(3);
            });
            ::alarm(3);
            const auto start = std::chrono::steady_clock::now();
            sink.reset();
            const auto took = std::chrono::steady_clock::now() - start;
            ::_exit(took < BackgroundWriter::kExitLinger + std::chrono::seconds(1) ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

class Datagrams {
  public:
    explicit Datagrams(const std::string& name)
        : fd_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        const auto address = norvo::posix::UnixAddress::of("@" + name);
        EXPECT_TRUE(address && ::bind(fd_.get(), address->get(), address->size()) == 0);
    }
    std::string next() const {
        char message[128];
        const auto n = ::recv(fd_.get(), message, sizeof message, MSG_DONTWAIT);
        return n < 0 ? "(none)" : std::string(message, static_cast<std::size_t>(n));
    }

  private:
    norvo::posix::UniqueFd fd_;
};

TEST(NotifyStatus, ReadyOnceThenStatusesThenStopping) {
    const auto name = fmt::format("norvo-notify-test-{}", ::getpid());
    Datagrams received(name);
    NotifyStatusReporter status("@" + name);
    for (const auto& s :
         {host::kStatusRunning, host::kStatusPaused, host::kStatusRunning, host::kStatusStopped}) {
        ASSERT_TRUE(status.set_status(s));
    }
    for (const auto* expected :
         {"READY=1\nSTATUS=Running", "STATUS=Paused", "STATUS=Running", "STOPPING=1"}) {
        EXPECT_EQ(received.next(), expected);
    }
}

TEST(NotifyStatus, WithoutASocketEveryStatusGoesNowhere) {
    NotifyStatusReporter status(std::nullopt);
    EXPECT_TRUE(status.set_status(host::kStatusRunning));
}

TEST(NotifyStatus, ASocketNobodyListensOnFailsTheStatus) {
    NotifyStatusReporter status("/nonexistent/notify");
    const auto set = status.set_status(host::kStatusRunning);
    ASSERT_FALSE(set);
    EXPECT_EQ(set.error().message(), "Failed to set service status");
    ASSERT_NE(set.error().cause(), nullptr);
}

TEST(Options, DefaultsAndOverrides) {
    const std::filesystem::path folder = "/run/user/1000/norvo-vtap";
    using Args = std::vector<std::string_view>;
    const auto defaults = parse_options(Args{}, folder);
    ASSERT_TRUE(defaults);
    const auto& run = std::get<RunOptions>(*defaults);
    EXPECT_EQ(run.socket, folder / "NorvoVxtRpcEndpoint");
    EXPECT_EQ(run.sensor_socket, folder / "sensor");
    EXPECT_EQ(run.log_level, log::Level::Trace);

    const auto given = parse_options(Args{"--sensor-socket", "/s", "--socket", "/e"}, folder);
    ASSERT_TRUE(given);
    EXPECT_EQ(std::get<RunOptions>(*given).socket, "/e");
    EXPECT_EQ(std::get<RunOptions>(*given).sensor_socket, "/s");
    EXPECT_EQ(std::get<RunOptions>(*parse_options(Args{"--log-level", "info"}, folder)).log_level,
              log::Level::Info);
    EXPECT_EQ(parse_options(Args{"--log-level", "loud"}, folder).error(),
              "unknown log level 'loud'");
    // The tap detector's options, as vtap-detect takes them, among the daemon's own.
    const auto tuned = parse_options(
        Args{"--tap-threshold", "0.6", "--socket", "/e", "--tap-quiet-after=120ms"}, folder);
    ASSERT_TRUE(tuned) << tuned.error();
    EXPECT_EQ(std::get<RunOptions>(*tuned).tap_parameters.threshold, 0.6);
    EXPECT_EQ(std::get<RunOptions>(*tuned).tap_parameters.quiet_after,
              std::chrono::milliseconds(120));
    EXPECT_EQ(std::get<RunOptions>(*tuned).socket, "/e");
    EXPECT_EQ(parse_options(Args{"--tap-threshold", "80"}, folder).error(),
              "--tap-threshold 80 m/s² is out of range (0.05 to 50)");

    EXPECT_TRUE(std::holds_alternative<ShowHelp>(*parse_options(Args{"--help"}, folder)));
    EXPECT_TRUE(std::holds_alternative<ShowHelp>(*parse_options(Args{"-h"}, folder)));
    EXPECT_TRUE(std::holds_alternative<ShowVersion>(*parse_options(Args{"--version"}, folder)));
    EXPECT_EQ(parse_options(Args{"--socket"}, folder).error(), "--socket needs a PATH");
    EXPECT_EQ(parse_options(Args{"-x"}, folder).error(), "unknown argument '-x'");
}

// The packaged options file shows every tap option commented with its default: taken as they
// stand, they must set every parameter to its default, so that the file cannot drift.
TEST(Options, TheOptionsFileShowsEveryTapOptionWithItsDefault) {
    std::ifstream file(NORVO_SOURCE_DIR "/debian/norvo-vtap.default");
    ASSERT_TRUE(file);
    std::vector<std::string> words;
    for (std::string line; std::getline(file, line);) {
        std::istringstream option(line);
        std::string hash, name, value;
        if (option >> hash >> name >> value && hash == "#" && name.starts_with("--tap-")) {
            words.push_back(name);
            words.push_back(value);
        }
    }
    const std::vector<std::string_view> args(words.begin(), words.end());
    // Nothing at its default before: an option left out shows.
    detect::TapParameters shown{0.1, 1, std::chrono::milliseconds(1), {}, {}, {}, 0.1, {}};
    for (std::size_t i = 0; i < args.size(); i += 2) {
        const auto taken = detect::parse_tap_option(args, i, shown);
        ASSERT_EQ(taken, 2u) << args[i];
    }
    EXPECT_EQ(detect::describe(shown), detect::describe(detect::TapParameters{}));
}

TEST(Options, SensorChoice) {
    using Args = std::vector<std::string_view>;
    const struct {
        Args args;
        SensorKind sensor;
        std::filesystem::path sensor_socket, iio_device;
    } cases[] = {
        {{}, SensorKind::simulated, "/f/sensor", ""},
        {{"--sensor", "iio"}, SensorKind::iio, "/f/sensor", ""},
        {{"--sensor", "iio:/sys/bus/iio/devices/iio:device0/"},
         SensorKind::iio,
         "/f/sensor",
         "/sys/bus/iio/devices/iio:device0"},
        {{"--sensor", "simulated:/s"}, SensorKind::simulated, "/s", ""},
        {{"--sensor", "auto"}, SensorKind::automatic, "/f/sensor", ""},
        {{"--sensor", "iio", "--sensor", "simulated"}, SensorKind::simulated, "/f/sensor", ""},
        {{"--sensor-socket", "/s", "--sensor", "simulated"}, SensorKind::simulated, "/s", ""},
    };
    for (const auto& c : cases) {
        const auto parsed = parse_options(c.args, "/f");
        ASSERT_TRUE(parsed) << parsed.error();
        const auto& run = std::get<RunOptions>(*parsed);
        EXPECT_EQ(run.sensor, c.sensor);
        EXPECT_EQ(run.sensor_socket, c.sensor_socket);
        EXPECT_EQ(run.iio_device, c.iio_device);
    }
    for (const auto* bad : {"iio:", "usb", "simulatedx:/s", "auto:/s"}) {
        EXPECT_EQ(parse_options(Args{"--sensor", bad}, "/f").error(),
                  fmt::format("unknown sensor '{}'", bad));
    }
    EXPECT_EQ(parse_options(Args{"--sensor"}, "/f").error(), "--sensor needs a SENSOR");
}

// Both of the daemon's device watches tell the sensor the same: which iio device came or went.
TEST(IioDeviceEvents, NameTheDeviceThatCameOrWent) {
    using Change = linux_platform::IioDeviceWatch::Change;
    using namespace std::string_view_literals;
    const struct {
        std::string_view kernel_message;
        std::optional<Change> change;
    } cases[] = {
        {"remove@/devices/iio:device0\0ACTION=remove\0DEVPATH=/devices/iio:device0\0"
         "SUBSYSTEM=iio\0SEQNUM=1041\0MAJOR=241\0MINOR=0\0DEVNAME=iio:device0\0"sv,
         Change{false, "iio:device0"}},
        {"add@/devices/platform/i2c/iio:device2\0ACTION=add\0"
         "DEVPATH=/devices/platform/i2c/iio:device2\0SUBSYSTEM=iio\0SEQNUM=7\0"sv,
         Change{true, "iio:device2"}},
        {"change@/devices/iio:device0\0ACTION=change\0DEVPATH=/devices/iio:device0\0"
         "SUBSYSTEM=iio\0"sv,
         Change{true, "iio:device0"}},  // udev's rule may have made it usable
        {"remove@/devices/virtual/input/input3\0ACTION=remove\0"
         "DEVPATH=/devices/virtual/input/input3\0SUBSYSTEM=input\0"sv,
         std::nullopt},
        {"remove@/devices/iio:device0"sv, std::nullopt},  // a header without its entries
        {""sv, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_uevent(c.kernel_message), c.change) << c.kernel_message;
    }
    // udev's events carry the same ACTION and DEVPATH.
    EXPECT_EQ(iio_change("remove", "/devices/platform/i2c/iio:device1"),
              (Change{false, "iio:device1"}));
    EXPECT_EQ(iio_change("add", "/devices/iio:device0"), (Change{true, "iio:device0"}));
    EXPECT_EQ(iio_change("unbind", "/devices/iio:device0"), std::nullopt);
}

TEST(Options, DefaultFolderFollowsTheUser) {
    EXPECT_EQ(default_folder(true, "/run/user/0"), "/run/norvo-vtap");
    EXPECT_EQ(default_folder(false, "/run/user/1000"), "/run/user/1000/norvo-vtap");
    EXPECT_EQ(default_folder(false, nullptr), "/run/norvo-vtap");
    using Folders = std::vector<std::filesystem::path>;
    EXPECT_EQ(posix::search_folders("/run/norvo-vtap", "/run/user/1000"),
              (Folders{"/run/norvo-vtap", "/run/user/1000/norvo-vtap"}));
    EXPECT_EQ(posix::search_folders("/run/norvo-vtap", ""), Folders{"/run/norvo-vtap"});
    EXPECT_EQ(posix::search_folders("/run/user/0/norvo-vtap", "/run/user/0"),
              Folders{"/run/user/0/norvo-vtap"});
}

TEST(Signals, BecomeTheControlsOfTheServiceControlManager) {
    const struct {
        int signal;
        std::optional<std::uint32_t> control;
    } cases[] = {{SIGTERM, 1}, {SIGINT, 1}, {SIGTSTP, 2},           {SIGCONT, 3},
                 {SIGPWR, 5},  {SIGHUP, 6}, {SIGUSR1, std::nullopt}};
    for (const auto& c : cases) EXPECT_EQ(control_for_signal(c.signal), c.control) << c.signal;
}

TEST(FatalReportingDeathTest, ReportsTheThreadTheLocationAndAFixedMessage) {
    EXPECT_DEATH(
        {
            install_fatal_reporting("norvo-daemon-tests");
            std::thread([] { fatal("RUNTIME_HANDLE must be initialized"); }).join();
        },
        "<3>thread '<unnamed>' panicked at .*host_pieces_test.cpp:[0-9]+:[0-9]+:\n"
        "<3>RUNTIME_HANDLE must be initialized\n");
}

TEST(FatalReportingDeathTest, AComposedMessageLeavesTheLocationOnly) {
    EXPECT_DEATH(
        {
            install_fatal_reporting("norvo-daemon-tests");
            fatal({});
        },
        "<3>thread 'main' panicked at .*host_pieces_test.cpp:[0-9]+:[0-9]+\n");
}

TEST(FatalReportingDeathTest, UncaughtExceptionsReportTheirTypeAndWhat) {
    const struct {
        void (*raise)();
        const char* expected;
    } cases[] = {
        {[] { (void)std::vector<int>{}.at(3); }, "<3>std::out_of_range: vector::_M_range_check"},
        {[] {
             throw std::system_error(
                 std::make_error_code(std::errc::resource_unavailable_try_again), "thread");
         },
         "<3>std::system_error: thread: Resource temporarily unavailable\n"},
        {[] { throw 42; }, "<3>int\n"},
    };
    for (const auto& c : cases) {
        EXPECT_DEATH(
            {
                install_fatal_reporting("norvo-daemon-tests");
                std::thread(c.raise).join();
            },
            std::string("<3>thread '<unnamed>' panicked at .*fatal.cpp:[0-9]+:[0-9]+:\n"
                        "<3>uncaught exception\n") +
                c.expected)
            << c.expected;
    }
}

}  // namespace
