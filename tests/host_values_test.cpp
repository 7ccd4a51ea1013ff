// The host's value types: its error, fatal reports, failure actions.

#include <gtest/gtest.h>

#include "norvo/host/failure_actions.hpp"
#include "norvo/host/fatal_report.hpp"
#include "norvo/host/host_error.hpp"

namespace norvo::host {
namespace {

using namespace std::chrono_literals;

TEST(HostError, LogsOnlyTheOutermostMessageAndKeepsTheChain) {
    auto error = platform_call_error("Access is denied.").context("Failed to set service status");
    EXPECT_EQ(fmt::format("{}", error), "Failed to set service status");
    ASSERT_NE(error.cause(), nullptr);
    EXPECT_EQ(error.cause()->message(), "IO error in winapi call");
    ASSERT_NE(error.cause()->cause(), nullptr);
    EXPECT_EQ(error.cause()->cause()->message(), "Access is denied.");
    EXPECT_EQ(error.cause()->cause()->cause(), nullptr);
}

TEST(FatalReport, ComposesTheReportAndItsLines) {
    const auto where = std::source_location::current();
    const std::string location =
        fmt::format("{}:{}:{}", where.file_name(), where.line(), where.column());
    EXPECT_EQ(compose_fatal_report({where, {}}, "main"), "thread 'main' panicked at " + location);
    const auto report =
        compose_fatal_report({where, "RUNTIME_HANDLE must be initialized"}, "<unnamed>");
    EXPECT_EQ(report, "thread '<unnamed>' panicked at " + location +
                          ":\nRUNTIME_HANDLE must be initialized");
    EXPECT_EQ(compose_fatal_report({where, "uncaught exception", "std::bad_alloc: std::bad_alloc"},
                                   "worker"),
              "thread 'worker' panicked at " + location +
                  ":\nuncaught exception\nstd::bad_alloc: std::bad_alloc");
    EXPECT_EQ(report_lines(report),
              (std::vector<std::string_view>{"thread '<unnamed>' panicked at " + location + ":",
                                             "RUNTIME_HANDLE must be initialized"}));
}

TEST(FatalReport, SplitsLinesDroppingCarriageReturnsAndAFinalEmptyLine) {
    using V = std::vector<std::string_view>;
    EXPECT_EQ(report_lines("a\r\nb\n"), (V{"a", "b"}));
    EXPECT_EQ(report_lines("a\n\nb"), (V{"a", "", "b"}));
    EXPECT_EQ(report_lines("a\r"), (V{"a\r"}));
    EXPECT_EQ(report_lines(""), V{});
}

TEST(FailureActions, DecodesTheQueriedRecord) {
    const RawFailureAction actions[] = {{2, 5000}, {3, 0}};
    const auto decoded = decode_failure_actions({30, u"Rebooting", u"C:\\repair.cmd", 2, actions});
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded,
              (FailureActions{30s,
                              u"Rebooting",
                              u"C:\\repair.cmd",
                              {{ActionType::Reboot, 5000ms}, {ActionType::RunCommand, 0ms}}}));

    const auto never = decode_failure_actions({kResetNever, nullptr, nullptr, 3, nullptr});
    ASSERT_TRUE(never);
    EXPECT_EQ(*never, FailureActions{});  // a count without an action list is no list
}

TEST(FailureActions, RefusesAnUnknownActionType) {
    const RawFailureAction actions[] = {{1, 10}, {4, 10}};
    const auto decoded = decode_failure_actions({0, nullptr, nullptr, 2, actions});
    ASSERT_FALSE(decoded);
    EXPECT_EQ(decoded.error().message(), "Invalid failure action type: 4");
}

TEST(FailureActions, TheRecoveryRecordKeepsTheTextsAndEncodesInPlatformUnits) {
    const FailureActions current{
        std::nullopt, u"Rebooting", std::nullopt, {{ActionType::Reboot, 1ms}}};
    const auto encoded = encode_failure_actions(recovery_actions(current));
    ASSERT_TRUE(encoded);
    EXPECT_EQ(encoded->reset_period, 120u);
    EXPECT_EQ(encoded->reboot_message, u"Rebooting");
    EXPECT_EQ(encoded->command, std::nullopt);
    EXPECT_EQ(encoded->actions,
              (std::vector<RawFailureAction>{{1, 60000}, {1, 60000}, {0, 60000}}));
    // The same record again, whatever was there before: writing it twice is writing it once.
    EXPECT_EQ(recovery_actions(recovery_actions(current)), recovery_actions(current));
}

TEST(FailureActions, EncodingRefusesDelaysBeyond32Bits) {
    const FailureActions too_long{
        120s, {}, {}, {{ActionType::Restart, std::chrono::milliseconds(1LL << 32)}}};
    const auto encoded = encode_failure_actions(too_long);
    ASSERT_FALSE(encoded);
    EXPECT_EQ(encoded.error().message(), "action delay out of range: 4294967296");
    const auto never = encode_failure_actions(FailureActions{});
    ASSERT_TRUE(never);
    EXPECT_EQ(never->reset_period, kResetNever);
}

}  // namespace
}  // namespace norvo::host
