// The stress driver's own judgements: the tally lines workers send, the daemon
// log lines it counts and the sanitizer lines it catches, and its memory verdict.

#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "log_scan.hpp"
#include "memory.hpp"
#include "tally.hpp"

namespace {

using namespace norvo::stress;
using namespace std::chrono_literals;

TEST(Tally, LineRoundTripsAndSums) {
    const Tally a{1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(format_tally(a),
              "tally calls=1 starts=2 phones=3 phone_taps=4 garbage=5 vanished=6 kills=7");
    EXPECT_EQ(parse_tally(format_tally(a)), a);
    Tally sum = a;
    sum += Tally{10, 20, 30, 40, 50, 60, 70};
    EXPECT_EQ(sum, (Tally{11, 22, 33, 44, 55, 66, 77}));
}

TEST(Tally, RejectsAnythingButAWholeLine) {
    for (const auto* line : {
             "tally calls=1 starts=2 phones=3 phone_taps=4 garbage=5 vanished=6",
             "tally calls=1 starts=2 phones=3 phone_taps=4 garbage=5 vanished=6 kills=7 more",
             "tally calls=x starts=2 phones=3 phone_taps=4 garbage=5 vanished=6 kills=7",
             "tally starts=2 calls=1 phones=3 phone_taps=4 garbage=5 vanished=6 kills=7",
             "failure calls=1",
         }) {
        EXPECT_FALSE(parse_tally(line)) << line;
    }
}

TEST(LogScan, CountsContextsAndStartsAndCatchesSanitizerLines) {
    struct Case {
        const char* line;
        LogCounts counts;
        bool report;
    };
    const Case cases[] = {
        {"<7>vxt_impl::rpc_server: RemoteOpen() called", {1, 0, 0, 0}, false},
        {"<7>vxt_impl::rpc_server: RemoteClose() finished", {0, 1, 0, 0}, false},
        {"<6>vxt_impl::rpc_server: NorvoStartSensor() called", {0, 0, 1, 0}, false},
        {"<6>vxt_impl::rpc_server: End of the NorvoStartSensor() called, result: 0x8000ffff",
         {0, 0, 0, 1},
         false},
        // Same words at another level or from another target are not the service's.
        {"<6>vxt_impl::rpc_server: RemoteOpen() called", {}, false},
        {"<7>rpc_server: RemoteOpen() called", {}, false},
        {"<7>vxt_impl::rpc_server: RemoteClose() called", {}, false},
        {"==123==ERROR: AddressSanitizer: heap-use-after-free on address", {}, true},
        {"WARNING: ThreadSanitizer: data race (pid=1)", {}, true},
        {"core/src/x.cpp:3:5: runtime error: signed integer overflow", {}, true},
        // A client's text logged by the service is never a report.
        {"<7>vxt_impl::rpc_server: client user agent set to \"ThreadSanitizer\"", {}, false},
    };
    for (const auto& c : cases) {
        LogScan scan;
        scan.take(c.line);
        const auto counts = scan.counts();
        EXPECT_EQ(counts.opens, c.counts.opens) << c.line;
        EXPECT_EQ(counts.closes, c.counts.closes) << c.line;
        EXPECT_EQ(counts.starts, c.counts.starts) << c.line;
        EXPECT_EQ(counts.ends, c.counts.ends) << c.line;
        EXPECT_EQ(scan.reports().size(), c.report ? 1u : 0u) << c.line;
    }
}

TEST(LogScan, WaitSettledWakesWhenTheLastStartEnds) {
    LogScan scan;
    scan.take("<7>vxt_impl::rpc_server: RemoteOpen() called");
    scan.take("<6>vxt_impl::rpc_server: NorvoStartSensor() called");
    EXPECT_FALSE(scan.wait_settled(std::chrono::steady_clock::now()));
    scan.take("<7>vxt_impl::rpc_server: RemoteClose() finished");
    std::thread ender([&] {
        scan.take("<6>vxt_impl::rpc_server: End of the NorvoStartSensor() called, result: 0x0");
    });
    EXPECT_TRUE(scan.wait_settled(std::chrono::steady_clock::now() + 60s));
    ender.join();
}

TEST(LogScan, WaitSettledGivesUpWhenTheDaemonsLogEnds) {
    LogScan scan;
    scan.take("<7>vxt_impl::rpc_server: RemoteOpen() called");
    std::thread ender([&] { scan.end(); });
    // Far beyond the test's own timeout: only the end can wake it in time.
    EXPECT_FALSE(scan.wait_settled(std::chrono::steady_clock::now() + 600s));
    ender.join();
}

TEST(Memory, ReadsNumberFieldsOfProcStatus) {
    const std::string status =
        "Name:\tnorvo-vtapd\nVmRSSmax:\t1 kB\nVmRSS:\t   51234 kB\nThreads:\t17\n";
    EXPECT_EQ(parse_status_field(status, "VmRSS"), 51234);
    EXPECT_EQ(parse_status_field(status, "Threads"), 17);
    EXPECT_EQ(parse_status_field(status, "VmSwap"), std::nullopt);
    EXPECT_EQ(parse_status_field("Name:\tx\n", "Name"), std::nullopt);
    EXPECT_EQ(parse_status_field(read_status(::getpid()), "Threads"), 1);
}

TEST(Memory, FlatMeansNoLaterRoundAboveTheSecondByMoreThanTheBound) {
    struct Case {
        std::vector<long> rounds;
        bool flat;
    };
    const Case cases[] = {
        {{100, 500, 500, 499}, true},                        // the first round may fill pools
        {{100, 500, 600, 508}, false},                       // one round over is enough
        {{100, 500, 510, 505}, true},                        // the bound itself is allowed
        {{100, 500, 511}, false},      {{100, 500}, false},  // too few rounds to tell
    };
    for (const auto& c : cases) {
        const auto verdict = judge_rss(c.rounds, 10);
        EXPECT_EQ(!verdict.has_value(), c.flat) << verdict.value_or("flat");
    }
}

}  // namespace
