#include "proc_info.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

namespace norvo::bench {
namespace {

TEST(ProcInfo, StatusFieldsAndTheSumOfBothSwitchKinds) {
    const auto status = parse_status(
        "Name:\tnorvo-vtapd\n"
        "VmPeak:\t  99999 kB\n"
        "VmRSS:\t   31744 kB\n"
        "Threads:\t2004\n"
        "voluntary_ctxt_switches:\t120\n"
        "nonvoluntary_ctxt_switches:\t7\n");
    EXPECT_EQ(status.rss_kib, 31744u);
    EXPECT_EQ(status.threads, 2004u);
    EXPECT_EQ(status.context_switches, 127u);
}

TEST(ProcInfo, MissingFieldsStayZero) {
    const auto status = parse_status("Name:\tx\nState:\tS (sleeping)");
    EXPECT_EQ(status.rss_kib, 0u);
    EXPECT_EQ(status.threads, 0u);
    EXPECT_EQ(status.context_switches, 0u);
}

TEST(ProcInfo, MachineCountsProcessorsAndTakesTheFirstModel) {
    const auto machine = machine_from(
        "processor\t: 0\nmodel name\t: Fast CPU @ 3.0GHz\ncache size\t: 1 KB\n\n"
        "processor\t: 1\nmodel name\t: Fast CPU @ 3.0GHz\n\n"
        "processor\t: 2\nmodel name\t: Other\n",
        "6.1.0-18-amd64\n");
    EXPECT_EQ(machine.cpu_model, "Fast CPU @ 3.0GHz");
    EXPECT_EQ(machine.cores, 3u);
    EXPECT_EQ(machine.kernel, "6.1.0-18-amd64");
    EXPECT_EQ(machine_from("", "").cpu_model, "unknown");
}

TEST(ProcInfo, LoadAverageKeepsTheThreeAverages) {
    EXPECT_EQ(load_average_from("38.06 32.60 24.99 5/1203 40177\n"), "38.06 32.60 24.99");
    EXPECT_EQ(load_average_from("0.52 0.58 0.59\n"), "0.52 0.58 0.59");
}

TEST(ProcInfo, ThisProcessSeenThroughProc) {
    const auto status = read_process(::getpid());
    ASSERT_TRUE(status);
    EXPECT_GE(status->threads, 1u);
    EXPECT_GT(status->rss_kib, 0u);
    const auto before = context_switches(::getpid());
    ASSERT_TRUE(before);
    // Blocking is what is counted here, not a way to wait for something.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const auto after = context_switches(::getpid());
    ASSERT_TRUE(after);
    EXPECT_GT(*after, *before);
}

TEST(ProcInfo, AProcessThatIsGoneReadsAsNone) {
    EXPECT_FALSE(read_process(-1));
    EXPECT_FALSE(context_switches(-1));
}

}  // namespace
}  // namespace norvo::bench
