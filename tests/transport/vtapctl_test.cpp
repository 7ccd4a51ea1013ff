// vtapctl against the service: session lines, one-shot commands, the monitor,
// errors; and the monitor's pairing of single taps.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fmt/format.h>
#include <algorithm>
#include <filesystem>

#include "norvo/service/client_context.hpp"
#include "norvo/service/properties.hpp"
#include "results.hpp"
#include "support/child_process.hpp"
#include "support/service_harness.hpp"
#include "tap_pairing.hpp"

namespace {

using namespace norvo;
using norvo::testing::ChildProcess;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

class Vtapctl : public ::testing::Test {
  protected:
    void SetUp() override { sink_ = norvo::testing::WaitingSink::install(); }

    std::vector<std::string> command(std::initializer_list<std::string> args) const {
        std::vector<std::string> argv{VTAPCTL_PATH, "--socket", service_.socket().string()};
        argv.insert(argv.end(), args);
        return argv;
    }

    // Runs to the end; its exit status and standard output.
    std::pair<int, std::vector<std::string>> run(std::initializer_list<std::string> args) const {
        ChildProcess child(command(args));
        child.close_input();
        auto lines = child.rest_of_output();
        return {child.wait(), lines};
    }

    norvo::testing::TestService service_;
    std::shared_ptr<norvo::testing::WaitingSink> sink_;
};

std::vector<std::string> read_lines(ChildProcess& child, std::size_t count) {
    std::vector<std::string> lines;
    while (lines.size() < count) {
        auto line = child.read_line();
        if (!line)
            break;
        lines.push_back(*line);
    }
    return norvo::testing::without_timestamps(lines);
}

TEST_F(Vtapctl, SessionPrintsOneLinePerResultAndPerCallback) {
    ChildProcess session(command({"session"}));
    session.write("open\nset 2 1\nquery 1\nquery 5\nquery 0x3C5A0E91\nstart 7\n");
    EXPECT_THAT(
        read_lines(session, 9),
        ElementsAre("open -> ok", "set 2 -> 0x0", "query 1 -> 0x0 len=8 E8 03 71 00 72 00 79 25",
                    "  version: 1000.113.114.9593", "query 5 -> 0x8000ffff", "  E_UNEXPECTED",
                    "query 0x3C5A0E91 -> 0x0 len=1 00", "  debug mode: off",
                    "SignalReturn 0x0 cookie=7"));
    session.write("phone 1.5\n");
    EXPECT_THAT(read_lines(session, 2),
                UnorderedElementsAre("phone -> 0x0", "TapEvent Confirmed ts=* cookie=7"));
    session.write("packet 01 00 01 00 00 00\n");
    EXPECT_THAT(read_lines(session, 2),
                UnorderedElementsAre("packet -> 0x0", "TapEvent Confirmed ts=* cookie=7"));
    session.write("query 5\nstop\nwait\nclose\nstop\n");
    const auto tail = read_lines(session, 7);
    ASSERT_EQ(tail.size(), 7u);
    EXPECT_EQ(tail[0], "query 5 -> 0x0 len=4 00 00 C0 3F");
    EXPECT_EQ(tail[1], "  tap strength: 1.5");
    EXPECT_THAT(std::vector(tail.begin() + 2, tail.begin() + 4),
                UnorderedElementsAre("stop -> 0x0", "start -> 0x0"));
    EXPECT_EQ(tail[4], "close -> ok");
    EXPECT_EQ(tail[5], "stop -> rpc error 1775 (null context handle)");
    EXPECT_EQ(tail[6], "  RPC_X_SS_IN_NULL_CONTEXT");
    session.close_input();
    EXPECT_TRUE(session.rest_of_output().empty());
    EXPECT_EQ(session.wait(), 0);
}

TEST_F(Vtapctl, SessionReportsLinesItCannotRunAndGoesOn) {
    ChildProcess session(command({"session"}));
    session.write("# a comment\n\nfrobnicate\nset 2 maybe\nopen\nclose\n");
    session.close_input();
    EXPECT_THAT(session.rest_of_output(), ElementsAre("open -> ok", "close -> ok"));
    const auto errors = session.errors();
    EXPECT_THAT(errors, HasSubstr("unknown command 'frobnicate'"));
    EXPECT_THAT(errors, HasSubstr("switch value 'maybe' is not 0 or 1"));
    EXPECT_EQ(session.wait(), 2);
}

// At the end of input an outstanding start is left to the service's rundown.
TEST_F(Vtapctl, SessionEndingDuringAStartLeavesItToTheRundown) {
    ChildProcess session(command({"session"}));
    session.write("open\nset 2 1\nstart 7\n");
    ASSERT_TRUE(session.take_output("SignalReturn 0x0 cookie=7"));
    session.close_input();
    EXPECT_THAT(session.rest_of_output(),
                ElementsAre("start -> rpc error 1726 (the call failed)", "  RPC_S_CALL_FAILED"));
    EXPECT_EQ(session.wait(), 0);
    sink_->wait_for("RemoteClose() finished");
    sink_->wait_for("PCONTEXT_HANDLE_TYPE_rundown() called");
}

TEST_F(Vtapctl, OneShotCommandsUseAFreshContextAndExitWithTheOutcome) {
    const struct {
        std::initializer_list<std::string> args;
        int status;
        std::vector<std::string> lines;
    } cases[] = {
        {{"query", "1"},
         0,
         {"query 1 -> 0x0 len=8 E8 03 71 00 72 00 79 25", "  version: 1000.113.114.9593"}},
        {{"query", "3"}, 0, {"query 3 -> 0x0 len=4 F4 01 00 00", "  confirmation range: 500 ms"}},
        {{"query", "7"}, 0, {"query 7 -> 0x0 len=1 00", "  client user agent: \"\""}},
        {{"query", "5"}, 1, {"query 5 -> 0x8000ffff", "  E_UNEXPECTED"}},
        {{"set", "3", "300"}, 0, {"set 3 -> 0x0"}},
        {{"set", "7", "my", "phone"}, 0, {"set 7 -> 0x0"}},
        {{"set", "1", "hex:00"}, 1, {"set 1 -> 0x80070057", "  E_INVALIDARG"}},
    };
    for (const auto& c : cases) {
        const auto [status, lines] = run(c.args);
        EXPECT_EQ(status, c.status) << c.lines[0];
        EXPECT_EQ(lines, c.lines);
    }
    EXPECT_EQ(std::ranges::count(sink_->messages(), "RemoteOpen() called"), 7);
    EXPECT_EQ(std::ranges::count(sink_->messages(), "RemoteClose() finished"), 7);
}

TEST_F(Vtapctl, ErrorsAreOneLineAndANonZeroExit) {
    const struct {
        std::vector<std::string> argv;
        int status;
        const char* error;
    } cases[] = {
        {{VTAPCTL_PATH, "--socket", "/nonexistent/endpoint", "query", "1"},
         1,
         "vtapctl: no service at /nonexistent/endpoint\n"},
        {command({"query"}), 2, "vtapctl: query takes KEY\n"},
        {command({"set", "2", "7"}), 2, "vtapctl: switch value '7' is not 0 or 1\n"},
        {command({"fly"}), 2, "vtapctl: unknown command 'fly'\n"},
        {{VTAPCTL_PATH, "--verbose", "query", "1"}, 2, "vtapctl: unknown option '--verbose'\n"},
        {{VTAPCTL_PATH, "-v"}, 2, "vtapctl: unknown option '-v'\n"},
        {{VTAPCTL_PATH, "--socket"}, 2, "vtapctl: --socket needs a PATH\n"},
    };
    for (const auto& c : cases) {
        ChildProcess child(c.argv);
        child.close_input();
        EXPECT_TRUE(child.rest_of_output().empty());
        const auto errors = child.errors();
        EXPECT_EQ(errors.substr(0, errors.find('\n') + 1), c.error);
        EXPECT_EQ(child.wait(), c.status) << c.error;
    }
}

// The system folder first, then the user's own; a miss names every path tried.
TEST_F(Vtapctl, WithoutASocketTriesTheSystemEndpointThenTheUsersOwn) {
    const norvo::testing::TempDir empty;
    const norvo::testing::TempDir runtime;  // XDG_RUNTIME_DIR, its norvo-vtap the service's
    std::filesystem::create_directory_symlink(service_.socket().parent_path(),
                                              runtime.path() / "norvo-vtap");
    const auto system = service_.socket().parent_path().string();
    const auto none = (empty.path() / "none").string();
    const struct {
        std::string system_folder;
        std::string runtime_dir;
        int status;
        std::string errors;
    } cases[] = {
        {system, none, 0, ""},
        {empty.path().string(), runtime.path().string(), 0, ""},
        {empty.path().string(), none, 1,
         fmt::format("vtapctl: no service at {}/NorvoVxtRpcEndpoint\n"
                     "vtapctl: no service at {}/norvo-vtap/NorvoVxtRpcEndpoint\n"
                     "vtapctl: is norvo-vtapd running? --socket PATH names its endpoint\n",
                     empty.path().string(), none)},
    };
    for (const auto& c : cases) {
        ChildProcess child({VTAPCTL_PATH, "query", "1"},
                           {.env = {"NORVO_VTAP_TEST_SYSTEM_FOLDER=" + c.system_folder,
                                    "XDG_RUNTIME_DIR=" + c.runtime_dir}});
        child.close_input();
        const auto lines = child.rest_of_output();
        EXPECT_EQ(child.errors(), c.errors);
        EXPECT_EQ(child.wait(), c.status) << c.system_folder << " " << c.runtime_dir;
        EXPECT_EQ(lines.size(), c.status == 0 ? 2u : 0u);
    }
}

TEST_F(Vtapctl, HelpListsEveryPropertyKeyTapKindAndSensorState) {
    for (const char* option : {"-h", "--help"}) {
        ChildProcess child({VTAPCTL_PATH, option});
        child.close_input();
        const auto lines = child.rest_of_output();
        EXPECT_EQ(child.wait(), 0);
        const auto listed = [&](const std::string& key, std::string_view name) {
            return std::ranges::any_of(lines, [&](const std::string& line) {
                return line.starts_with(fmt::format("  {} ", key)) && line.contains(name);
            });
        };
        for (const auto& p : service::kProperties) {
            const auto key = p.key > 0xFFFF ? fmt::format("0x{:X}", p.key) : std::to_string(p.key);
            EXPECT_TRUE(listed(key, p.name)) << option << " " << p.name;
        }
        EXPECT_TRUE(listed("4", "UnconfirmedTap")) << option;
        EXPECT_TRUE(listed("5", "SensorStateError")) << option;
    }
}

// The meaning under a result line, for values and failures the service does not give
// these tests on demand.
TEST(ResultLines, FollowedByWhatTheyMean) {
    using vtapctl::PropertyValue;
    using Bytes = std::vector<std::uint8_t>;
    const struct {
        std::int32_t key;
        vtapctl::Result<PropertyValue> result;
        std::string text;
    } cases[] = {
        {2, PropertyValue{0, {1}}, "query K -> 0x0 len=1 01\n  simulation mode: on"},
        {3, PropertyValue{0, {0x10, 0x27, 0, 0}},
         "query K -> 0x0 len=4 10 27 00 00\n  confirmation range: 10000 ms"},
        {4, PropertyValue{0, {0xFF, 0xFF, 0xFF, 0xFF}},
         "query K -> 0x0 len=4 FF FF FF FF\n  connected user: -1"},
        {7, PropertyValue{0, {'a', '"', '\n', 0x7F, 0x80, 0}},
         "query K -> 0x0 len=6 61 22 0A 7F 80 00\n  client user agent: \"a\\x22\\x0A\\x7F\\x80\""},
        {10, PropertyValue{0, Bytes{3, 0, 0, 0, 0, 0, 0, 1}},
         "query K -> 0x0 len=8 03 00 00 00 00 00 00 01\n  dropped sensor reports: "
         "72057594037927939"},
        {3, PropertyValue{0, {0xF4, 1}}, "query K -> 0x0 len=2 F4 01"},  // the wrong size
        {7, PropertyValue{0, {'a'}}, "query K -> 0x0 len=1 61"},         // no zero byte
        {99, PropertyValue{0, {1}}, "query K -> 0x0 len=1 01"},
        {1, PropertyValue{static_cast<std::int32_t>(0x80004004), {}},
         "query K -> 0x80004004\n  E_ABORT"},
        {1, PropertyValue{static_cast<std::int32_t>(0x80004005), {}}, "query K -> 0x80004005"},
        {1, std::unexpected(vtapctl::CallFailure{1723, "too busy"}),
         "query K -> rpc error 1723 (too busy)\n  RPC_S_SERVER_TOO_BUSY"},
        {1, std::unexpected(vtapctl::CallFailure{4242, "odd"}), "query K -> rpc error 4242 (odd)"},
    };
    for (const auto& c : cases) EXPECT_EQ(vtapctl::query_line("K", c.key, c.result), c.text);
    EXPECT_EQ(vtapctl::result_line("open", vtapctl::Result<void>(
                                               std::unexpected(vtapctl::CallFailure{5, "denied"}))),
              "open -> rpc error 5 (denied)\n  ERROR_ACCESS_DENIED");
}

TEST_F(Vtapctl, MonitorShowsEventsUntilInterruptedThenStopsAndCloses) {
    auto& sensors = *norvo::testing::SocketRuntime::get().sensors;
    ChildProcess monitor(command({"monitor", "--ignore-unidentified"}));
    EXPECT_THAT(*monitor.read_line(), HasSubstr("ignore-unidentified-clients is now on"));
    EXPECT_THAT(*monitor.read_line(), HasSubstr("sensor run started"));
    sensors.callbacks()->on_data_updated(norvo::testing::tap_report(true));
    EXPECT_THAT(*monitor.read_line(), HasSubstr("laptop tap at"));
    sensors.callbacks()->on_state_changed(sensors::SensorState::SensorStateNoData);
    EXPECT_THAT(*monitor.read_line(), HasSubstr("sensor state SensorStateNoData at"));

    monitor.signal(SIGINT);
    auto rest = monitor.rest_of_output();
    // The laptop tap runs out after the default range if the stop is slow to come.
    std::erase_if(rest,
                  [](const std::string& line) { return line.contains("unconfirmed laptop tap"); });
    ASSERT_EQ(rest.size(), 4u);
    EXPECT_THAT(rest[0], HasSubstr("stopping"));
    EXPECT_THAT(rest[1], HasSubstr("sensor run ended -> 0x0"));
    EXPECT_EQ(rest[2], "note: ignore-unidentified-clients is off again");
    EXPECT_EQ(rest[3], "close -> ok");
    EXPECT_EQ(monitor.wait(), 0);
    EXPECT_FALSE(service::process_ignore_unidentified_clients()->get());
    EXPECT_EQ(std::ranges::count(sink_->messages(), "PCONTEXT_HANDLE_TYPE_rundown() called"), 0);
}

TEST(TapPairing, ConfirmationsPairTheTapsTheLoopPaired) {
    vtapctl::TapPairing pairing;
    pairing.laptop_tap(100);
    pairing.phone_tap(250);  // confirms the laptop tap at 100
    EXPECT_EQ(pairing.confirmed(), -150);

    pairing.phone_tap(1000);
    pairing.laptop_tap(1120);  // confirms the pending phone tap
    EXPECT_EQ(pairing.confirmed(), 120);

    pairing.laptop_tap(2000);
    pairing.laptop_tap(2100);
    pairing.phone_tap(2200);  // the oldest laptop tap goes first
    EXPECT_EQ(pairing.confirmed(), -200);
    pairing.laptop_tap_expired();  // 2100 ran out
    pairing.laptop_tap(3000);
    pairing.phone_tap(3040);
    EXPECT_EQ(pairing.confirmed(), -40);

    EXPECT_EQ(pairing.confirmed(), std::nullopt) << "a confirmation without a single tap before it";
}

TEST(TapPairing, WithoutSingleTapsThereIsNoOffset) {
    vtapctl::TapPairing pairing;
    EXPECT_EQ(pairing.confirmed(), std::nullopt);
    pairing.laptop_tap(10);
    EXPECT_EQ(pairing.confirmed(), std::nullopt) << "no phone tap seen";
}

}  // namespace
