#include "norvo/guid.hpp"
#include "norvo/log_capture.hpp"
#include "norvo/text.hpp"

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
