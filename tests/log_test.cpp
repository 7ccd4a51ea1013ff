#include "norvo/caller_limit.hpp"
#include "norvo/guid.hpp"
#include "norvo/log_capture.hpp"
#include "norvo/text.hpp"
#include "norvo/virtual_clock.hpp"

#include <gtest/gtest.h>

namespace {

using norvo::log::CaptureSink;
using norvo::log::Level;

constexpr norvo::log::Target kTest{"test_target"};

struct CountsFormatting {
    int* count;
};

}  // namespace

template <>
struct fmt::formatter<CountsFormatting> : fmt::formatter<std::string_view> {
    auto format(const CountsFormatting& c, format_context& ctx) const {
        ++*c.count;
        return fmt::formatter<std::string_view>::format("x", ctx);
    }
};

TEST(Log, RecordCarriesLevelTargetFileAndLineOfTheCall) {
    auto sink = CaptureSink::install();
    const int line = __LINE__ + 1;
    kTest.warn("value {} and {}", 7, true);
    const auto records = sink->records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, Level::Warn);
    EXPECT_EQ(records[0].target, "test_target");
    EXPECT_EQ(records[0].message, "value 7 and true");
    EXPECT_EQ(records[0].line, static_cast<std::uint32_t>(line));
    // Relative to the checkout, as __FILE__ is: no build machine's folder.
    EXPECT_EQ(records[0].file, "tests/log_test.cpp");
    EXPECT_STREQ(__FILE__, "tests/log_test.cpp");
}

TEST(Log, MessagesAboveTheMaximumAreNeitherFormattedNorWritten) {
    auto sink = CaptureSink::install();
    norvo::log::set_max_level(Level::Info);
    int formatted = 0;
    kTest.debug("{}", CountsFormatting{&formatted});
    kTest.trace("{}", CountsFormatting{&formatted});
    kTest.info("{}", CountsFormatting{&formatted});
    norvo::log::set_max_level(Level::Trace);
    EXPECT_EQ(formatted, 1);
    EXPECT_EQ(sink->messages(), std::vector<std::string>{"x"});
}

TEST(Log, NoSinkInstalledDropsRecords) {
    norvo::log::set_sink(nullptr);
    kTest.error("nobody listens");  // must not crash
    auto sink = CaptureSink::install();
    EXPECT_TRUE(sink->messages().empty());
}

TEST(TextForms, QuotedEscapesQuotesBackslashesAndControls) {
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"abc", "\"abc\""},
        {"a\"b", "\"a\\\"b\""},
        {"back\\slash", "\"back\\\\slash\""},
        {"line\nfeed\ttab\rret", "\"line\\nfeed\\ttab\\rret\""},
        {std::string("nul\0x", 5), "\"nul\\0x\""},
        {"\x01\x7f", "\"\\u{1}\\u{7f}\""},
        {"\xEF\xBF\xBD"
         "A",
         "\"\xEF\xBF\xBD"
         "A\""},
        // U+0080 to U+009F are controls too; U+00A0 and a lone C2 are not.
        {"\xC2\x85id\xC2\x80\xC2\x9F", "\"\\u{85}id\\u{80}\\u{9f}\""},
        {"\xC2\xA0\xC3\xA9\xC2", "\"\xC2\xA0\xC3\xA9\xC2\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fmt::format("{}", norvo::Quoted{c.in}), c.out) << c.in;
    }
}

TEST(TextForms, GuidIsUpperCaseWithoutBraces) {
    const norvo::Guid guid{
        0x9B4AA91F, 0xAEBD, 0x4CF2, {0x95, 0x65, 0x67, 0x2E, 0x4F, 0x05, 0x86, 0xCB}};
    EXPECT_EQ(fmt::format("{}", guid), "9B4AA91F-AEBD-4CF2-9565-672E4F0586CB");
    const norvo::Guid small{0x1, 0x2, 0x3, {0, 0, 0, 0, 0, 0, 0, 0xa}};
    EXPECT_EQ(fmt::format("{}", small), "00000001-0002-0003-0000-00000000000A");
}

TEST(TextForms, ByteListIsDecimalInBrackets) {
    const std::uint8_t bytes[] = {1, 0, 255};
    EXPECT_EQ(fmt::format("{}", norvo::ByteList{bytes}), "[1, 0, 255]");
    EXPECT_EQ(fmt::format("{}", norvo::ByteList{}), "[]");
}

TEST(TextForms, PlainDecimalNeverUsesAnExponent) {
    struct Case {
        float in;
        const char* out;
    };
    const Case cases[] = {
        {1.0f, "1"},
        {0.5f, "0.5"},
        {-2.25f, "-2.25"},
        {1e20f, "100000000000000000000"},
        {1.5e-7f, "0.00000015"},
        {123456.7f, "123456.7"},
        {0.0f, "0"},
    };
    for (const auto& c : cases) EXPECT_EQ(norvo::plain_decimal(c.in), c.out) << c.out;
    EXPECT_EQ(norvo::plain_decimal(std::nanf("")), "NaN");
}

namespace {

using norvo::log::AccountBuckets;
using norvo::log::HeldBack;
using Verdict = AccountBuckets::Verdict;
using namespace std::chrono_literals;

constexpr norvo::log::LineLimitShape kSmallLimit{
    .burst = 3, .per_second = 2, .interval = 10s, .accounts = 2};

// Each account has a burst of its own, then one line per half second; the lines held
// are summed per account until the interval that the first of them began has ended.
TEST(LineLimit, ABurstThenASteadyRateForEachAccount) {
    AccountBuckets buckets(kSmallLimit);
    const norvo::Instant t0{};
    const struct {
        std::chrono::milliseconds at;
        const char* account;
        Verdict verdict;
    } steps[] = {
        {0ms, "a", Verdict::write},    {0ms, "a", Verdict::write},
        {0ms, "a", Verdict::write},    {0ms, "a", Verdict::hold_first},
        {0ms, "b", Verdict::write},    {499ms, "a", Verdict::hold},
        {500ms, "a", Verdict::write},  {500ms, "a", Verdict::hold},
        {9999ms, "a", Verdict::write}, {9999ms, "a", Verdict::write},
        {9999ms, "a", Verdict::write}, {9999ms, "a", Verdict::hold},
    };
    for (const auto& s : steps)
        EXPECT_EQ(buckets.admit(s.account, t0 + s.at), s.verdict) << s.account << " at " << s.at;
    EXPECT_EQ(buckets.next_due(), t0 + 10s);
    EXPECT_TRUE(buckets.take_due(t0 + 9999ms).empty());
    EXPECT_EQ(buckets.take_due(t0 + 10s), (std::vector<HeldBack>{{"a", 4}}));
    EXPECT_EQ(buckets.next_due(), std::nullopt);
    // A line held after the summary begins the next interval.
    EXPECT_EQ(buckets.admit("a", t0 + 10s), Verdict::hold_first);
    EXPECT_EQ(buckets.admit("b", t0 + 10s), Verdict::write);
    EXPECT_EQ(buckets.next_due(), t0 + 20s);
    EXPECT_EQ(buckets.take_all(), (std::vector<HeldBack>{{"a", 1}}));
}

// A flood of accounts, each past its burst: the table keeps its size, the accounts
// beyond it share one bucket, and an account gone quiet makes room for a new one.
TEST(LineLimit, AFloodOfAccountsStaysWithinTheTable) {
    AccountBuckets buckets(kSmallLimit);
    const norvo::Instant t0{};
    std::uint64_t written = 0;
    constexpr int kAccounts = 10'000;
    for (int i = 0; i < kAccounts; ++i) {
        for (int line = 0; line < 5; ++line)
            written += buckets.admit(std::to_string(i), t0) == Verdict::write ? 1 : 0;
    }
    EXPECT_EQ(buckets.tracked(), kSmallLimit.accounts);
    const auto held = buckets.take_all();
    std::uint64_t total = written;
    for (const auto& h : held) total += h.lines;
    EXPECT_EQ(total, 5u * kAccounts);
    EXPECT_EQ(held.back().account, "") << "the accounts beyond the table";
    EXPECT_EQ(buckets.admit("new", t0), Verdict::hold_first);
    EXPECT_EQ(buckets.admit("new", t0 + 2s), Verdict::write);
    EXPECT_EQ(buckets.tracked(), 1u) << "the first two, refilled, are forgotten";
}

class Outputs final : public norvo::standard_output::Writer {
  public:
    void write_line(std::string_view line) override { lines.emplace_back(line); }
    std::vector<std::string> lines;
};

// Through the facade: the lines of one account's calls stop at its burst while
// another account's, the service's own and Debug lines pass; standard output shares
// the account's share. The summary comes at the interval's end with nothing more
// logged, and the last one when the limit goes.
TEST(CallerLimit, HoldsBackOneAccountsLinesAndSumsThemUp) {
    auto clock = std::make_shared<norvo::VirtualClock>();
    auto journal = std::make_shared<CaptureSink>();
    auto outputs = std::make_shared<Outputs>();
    auto limit = std::make_shared<norvo::log::CallerLimit>(clock, journal, "host", kSmallLimit);
    norvo::log::set_sink(std::make_shared<norvo::log::CallerLimitedSink>(journal, limit));
    auto output = std::make_unique<norvo::log::CallerLimitedOutput>(outputs, limit);
    const auto summary_waits = [&] { clock->wait_until_idle(1, [] { return false; }); };
    {
        const norvo::log::CallerScope caller("4242");
        for (int i = 0; i < 10; ++i) kTest.error("flood {}", i);
        kTest.debug("detail");
        output->write_line("unknown");
        {
            const auto own = norvo::log::CallerScope::service_own();
            kTest.warn("own");
        }
        const norvo::log::CallerScope other("4243");
        kTest.warn("other");
        output->write_line("unknown");
    }
    kTest.error("outside");
    EXPECT_EQ(outputs->lines, std::vector<std::string>{"unknown"});
    EXPECT_EQ(journal->messages(), (std::vector<std::string>{"flood 0", "flood 1", "flood 2",
                                                             "detail", "own", "other", "outside"}));

    journal->clear();
    summary_waits();
    clock->advance(9s);
    summary_waits();
    EXPECT_TRUE(journal->messages().empty());
    clock->advance(1s);
    summary_waits();
    const auto records = journal->records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, Level::Warn);
    EXPECT_EQ(records[0].target, "host");
    EXPECT_EQ(records[0].message, "8 lines caused by account 4242 held back");

    journal->clear();
    {
        const norvo::log::CallerScope caller("4242");
        for (int i = 0; i < 10; ++i) kTest.info("more {}", i);
    }
    norvo::log::set_sink(nullptr);
    output.reset();
    limit.reset();
    EXPECT_EQ(journal->messages(), (std::vector<std::string>{"more 0", "more 1", "more 2",
                                                             "7 lines caused by account 4242 "
                                                             "held back"}));
}

// A sink that takes errors only: the summary, a Warn, stands for errors it took.
class ErrorsOnly final : public norvo::log::Sink {
  public:
    bool accepts(Level level) const override { return level == Level::Error; }
    void write(const norvo::log::Record& record) override { captured.write(record); }
    CaptureSink captured;
};

TEST(CallerLimit, SumsUpWhateverTheLevelOfItsSink) {
    auto sink = std::make_shared<ErrorsOnly>();
    {
        const auto limit = std::make_shared<norvo::log::CallerLimit>(
            std::make_shared<norvo::VirtualClock>(), sink, "host", kSmallLimit);
        norvo::log::CallerLimitedSink limited(sink, limit);
        for (int i = 0; i < 5; ++i) limited.write({Level::Error, "t", "", 0, "flood", "4242"});
    }
    EXPECT_EQ(sink->captured.messages(),
              (std::vector<std::string>{"flood", "flood", "flood",
                                        "2 lines caused by account 4242 held back"}));
}

}  // namespace
