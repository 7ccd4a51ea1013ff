// vtapctl against the service: session lines, one-shot commands, the monitor,
// errors; and the monitor's pairing of single taps.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "norvo/service/client_context.hpp"
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
    EXPECT_THAT(read_lines(session, 6),
                ElementsAre("open -> ok", "set 2 -> 0x0",
                            "query 1 -> 0x0 len=8 E8 03 71 00 72 00 79 25", "query 5 -> 0x8000ffff",
                            "query 0x3C5A0E91 -> 0x0 len=1 00", "SignalReturn 0x0 cookie=7"));
    session.write("phone 1.5\n");
    EXPECT_THAT(read_lines(session, 2),
                UnorderedElementsAre("phone -> 0x0", "TapEvent Confirmed ts=* cookie=7"));
    session.write("packet 01 00 01 00 00 00\n");
    EXPECT_THAT(read_lines(session, 2),
                UnorderedElementsAre("packet -> 0x0", "TapEvent Confirmed ts=* cookie=7"));
    session.write("query 5\nstop\nwait\nclose\nstop\n");
    const auto tail = read_lines(session, 5);
    ASSERT_EQ(tail.size(), 5u);
    EXPECT_EQ(tail[0], "query 5 -> 0x0 len=4 00 00 C0 3F");
    EXPECT_THAT(std::vector(tail.begin() + 1, tail.begin() + 3),
                UnorderedElementsAre("stop -> 0x0", "start -> 0x0"));
    EXPECT_EQ(tail[3], "close -> ok");
    EXPECT_EQ(tail[4], "stop -> rpc error 1775 (null context handle)");
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
    EXPECT_THAT(session.rest_of_output(), ElementsAre("start -> rpc error 1726 (the call failed)"));
    EXPECT_EQ(session.wait(), 0);
    sink_->wait_for("RemoteClose() finished");
    sink_->wait_for("PCONTEXT_HANDLE_TYPE_rundown() called");
}

TEST_F(Vtapctl, OneShotCommandsUseAFreshContextAndExitWithTheOutcome) {
    const struct {
        std::initializer_list<std::string> args;
        int status;
        const char* line;
    } cases[] = {
        {{"query", "1"}, 0, "query 1 -> 0x0 len=8 E8 03 71 00 72 00 79 25"},
        {{"query", "7"}, 0, "query 7 -> 0x0 len=1 00"},
        {{"query", "5"}, 1, "query 5 -> 0x8000ffff"},
        {{"set", "3", "300"}, 0, "set 3 -> 0x0"},
        {{"set", "7", "my", "phone"}, 0, "set 7 -> 0x0"},
        {{"set", "1", "hex:00"}, 1, "set 1 -> 0x80070057"},
    };
    for (const auto& c : cases) {
        const auto [status, lines] = run(c.args);
        EXPECT_EQ(status, c.status) << c.line;
        EXPECT_THAT(lines, ElementsAre(c.line));
    }
    EXPECT_EQ(std::ranges::count(sink_->messages(), "RemoteOpen() called"), 6);
    EXPECT_EQ(std::ranges::count(sink_->messages(), "RemoteClose() finished"), 6);
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
