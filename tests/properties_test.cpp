#include "norvo/log_capture.hpp"
#include "norvo/service/procedures.hpp"
#include "norvo/service/utf8.hpp"
#include "norvo/text.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace norvo::service;
using norvo::log::CaptureSink;
using norvo::log::Level;
using Bytes = std::vector<std::uint8_t>;

constexpr PropertyKey kDebugMode = property_key::debug_mode;
constexpr std::uint8_t kFill = 0xAA;
constexpr std::int32_t kUnwritten = -1;

struct Reply {
    HRESULT result;
    std::int32_t size = kUnwritten;
    Bytes buffer;  // all of the room offered, so untouched bytes show
};

Reply query(ClientContext& context, PropertyKey key, std::optional<std::size_t> room) {
    Reply reply{hr::ok, kUnwritten, Bytes(room.value_or(0), kFill)};
    std::optional<std::span<std::uint8_t>> buffer;
    if (room)
        buffer = std::span(reply.buffer);
    reply.result = NorvoQueryProperty(context, key, reply.size, buffer);
    return reply;
}

// The two-call read a client does.
Bytes read(ClientContext& context, PropertyKey key) {
    const auto dry = query(context, key, std::nullopt);
    EXPECT_EQ(dry.result, hr::ok) << "key " << key;
    const auto full = query(context, key, static_cast<std::size_t>(std::max(dry.size, 0)));
    EXPECT_EQ(full.result, hr::ok) << "key " << key;
    EXPECT_EQ(full.size, dry.size) << "key " << key;
    return full.buffer;
}

[[nodiscard]] HRESULT set(ClientContext& context, PropertyKey key, const Bytes& value) {
    return NorvoSetProperty(context, key, value);
}

Bytes bytes_of(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

class Properties : public testing::Test {
  protected:
    void SetUp() override { RemoteOpen(handle_); }
    void TearDown() override { RemoteClose(handle_); }
    ClientContext& context() { return *handle_; }

    ContextHandle handle_;
};

// Leaves the process-wide flag as a fresh process has it, also when a check fails.
struct ResetIgnoreFlag {
    ~ResetIgnoreFlag() { process_ignore_unidentified_clients()->set(false); }
};

TEST_F(Properties, FreshContextValues) {
    const std::pair<PropertyKey, Bytes> cases[] = {
        {1, {0xE8, 0x03, 0x71, 0x00, 0x72, 0x00, 0x79, 0x25}},
        {2, {0}},
        {3, {0xF4, 0x01, 0, 0}},
        {4, {0, 0, 0, 0}},
        {6, {0}},
        {7, {0}},
        {8, {0}},
        {9, {0}},
        {kDebugMode, {0}},
    };
    for (const auto& [key, expected] : cases) EXPECT_EQ(read(context(), key), expected) << key;
}

TEST_F(Properties, DryRunGivesOnlyTheLength) {
    context().tap_strength->set(0.5f);
    ASSERT_EQ(set(context(), 7, bytes_of("abc")), hr::ok);
    const std::pair<PropertyKey, std::int32_t> cases[] = {
        {1, 8}, {2, 1}, {3, 4}, {4, 4}, {5, 4}, {6, 1}, {7, 4}, {8, 1}, {9, 1}, {kDebugMode, 1},
    };
    for (const auto& [key, length] : cases) {
        const auto reply = query(context(), key, std::nullopt);
        EXPECT_EQ(reply.result, hr::ok) << key;
        EXPECT_EQ(reply.size, length) << key;
    }
}

TEST_F(Properties, SwitchesStoreAnyNonZeroByteAsOneAndRejectOtherSizes) {
    ResetIgnoreFlag reset;
    struct Case {
        PropertyKey key;
        bool (*stored)(ClientContext&);
    };
    const Case cases[] = {
        {2, [](ClientContext& c) { return c.settings->get().simulation_mode; }},
        {6, [](ClientContext& c) { return c.settings->get().forward_confirm_tap; }},
        {9, [](ClientContext& c) { return c.settings->get().enable_unconfirmed_taps; }},
        {kDebugMode, [](ClientContext& c) { return c.settings->get().debug_mode; }},
        {8, [](ClientContext& c) { return c.ignore_unidentified_clients->get(); }},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(set(context(), c.key, {7}), hr::ok) << c.key;
        EXPECT_TRUE(c.stored(context())) << c.key;
        EXPECT_EQ(read(context(), c.key), Bytes{1}) << c.key;
        // Exactly one switch is on: each key writes its own field.
        int on = 0;
        for (const auto& other : cases) on += other.stored(context()) ? 1 : 0;
        EXPECT_EQ(on, 1) << c.key;

        EXPECT_EQ(set(context(), c.key, {}), hr::invalid_arg) << c.key;
        EXPECT_EQ(set(context(), c.key, {0, 0}), hr::invalid_arg) << c.key;
        EXPECT_TRUE(c.stored(context())) << c.key;
        ASSERT_EQ(set(context(), c.key, {0}), hr::ok) << c.key;
        EXPECT_EQ(read(context(), c.key), Bytes{0}) << c.key;
    }
}

TEST_F(Properties, ConfirmationRangeIsUnsignedLittleEndian) {
    ASSERT_EQ(set(context(), 3, {0x2C, 0x01, 0x00, 0x00}), hr::ok);
    EXPECT_EQ(context().settings->get().confirmation_range, 300u);
    EXPECT_EQ(read(context(), 3), (Bytes{0x2C, 0x01, 0x00, 0x00}));
    ASSERT_EQ(set(context(), 3, {0xFF, 0xFF, 0xFF, 0xFF}), hr::ok);
    EXPECT_EQ(context().settings->get().confirmation_range, 0xFFFFFFFFu);

    EXPECT_EQ(set(context(), 3, {1, 0, 0}), hr::invalid_arg);
    EXPECT_EQ(set(context(), 3, {1, 0, 0, 0, 0}), hr::invalid_arg);
    EXPECT_EQ(context().settings->get().confirmation_range, 0xFFFFFFFFu);
}

TEST(Utf8, EachMaximalInvalidSubpartBecomesOneReplacement) {
    const std::string r = "\xEF\xBF\xBD";
    const std::pair<Bytes, std::string> cases[] = {
        {bytes_of("plain"), "plain"},
        {{0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80},
         "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {{0x61, 0x00, 0x62}, std::string("a\0b", 3)},
        {{0xFF, 0x41}, r + "A"},
        {{0xE2, 0x82, 0x41}, r + "A"},
        {{0xF0, 0x9F, 0x98, 0x41}, r + "A"},
        {{0xF0, 0x9F, 0x98}, r},
        {{0xC0, 0x80}, r + r},
        {{0xE0, 0x80, 0x80}, r + r + r},
        {{0xED, 0xA0, 0x80}, r + r + r},
        {{0xF4, 0x90, 0x80, 0x80}, r + r + r + r},
        {{0xF5, 0x80}, r + r},
        {{0x80, 0xBF, 0x41}, r + r + "A"},
        {{0xC2, 0xC2, 0xA9}, r + "\xC2\xA9"},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(decode_utf8_lossy(in), out) << fmt::format("{}", norvo::ByteList{in});
    }
}

TEST_F(Properties, ClientIdIsDecodedStoredAndReadBackWithATrailingZero) {
    ASSERT_EQ(set(context(), 7, {0x61, 0x62, 0x63}), hr::ok);
    EXPECT_EQ(read(context(), 7), (Bytes{0x61, 0x62, 0x63, 0x00}));
    ASSERT_EQ(set(context(), 7, {0xFF, 0x41}), hr::ok);
    EXPECT_EQ(read(context(), 7), (Bytes{0xEF, 0xBF, 0xBD, 0x41, 0x00}));
    ASSERT_EQ(set(context(), 7, {0x61, 0x00}), hr::ok);
    EXPECT_EQ(read(context(), 7), (Bytes{0x61, 0x00, 0x00}));
}

TEST_F(Properties, ClientIdTakesOneTo128Bytes) {
    ASSERT_EQ(set(context(), 7, Bytes(128, 'x')), hr::ok);
    EXPECT_EQ(query(context(), 7, std::nullopt).size, 129);

    auto sink = CaptureSink::install();
    EXPECT_EQ(set(context(), 7, Bytes(129, 'y')), hr::invalid_arg);
    EXPECT_EQ(set(context(), 7, {}), hr::invalid_arg);
    EXPECT_EQ(context().client_id->get(), std::string(128, 'x'));
    EXPECT_EQ(sink->messages(), (std::vector<std::string>{
                                    "NorvoSetProperty() Called key: 7, input size: 129",
                                    "client user agent got size: 129",
                                    "NorvoSetProperty() Called key: 7, input size: 0",
                                    "client user agent got size: 0",
                                }));
}

TEST_F(Properties, BufferTooSmallSetsSizeAndLeavesTheBufferAlone) {
    auto sink = CaptureSink::install();
    const auto reply = query(context(), 3, 2);
    EXPECT_EQ(reply.result, hr::invalid_arg);
    EXPECT_EQ(reply.size, 4);
    EXPECT_EQ(reply.buffer, (Bytes{kFill, kFill}));
    EXPECT_EQ(sink->messages(), (std::vector<std::string>{
                                    "NorvoQueryProperty() called",
                                    "confirmation range property querried",
                                    "Output buffer too small 2 < 4",
                                }));
    EXPECT_EQ(sink->records().back().level, Level::Error);

    // Room beyond the value keeps its bytes.
    EXPECT_EQ(query(context(), 3, 6).buffer, (Bytes{0xF4, 0x01, 0, 0, kFill, kFill}));
}

TEST_F(Properties, TapStrengthOnlyOnceATapWasSeen) {
    auto sink = CaptureSink::install();
    const auto absent = query(context(), 5, 4);
    EXPECT_EQ(absent.result, hr::unexpected);
    EXPECT_EQ(absent.size, kUnwritten);
    EXPECT_EQ(sink->messages().back(), "No tap strength available");

    context().tap_strength->set(0.75f);  // 0x3F400000
    EXPECT_EQ(read(context(), 5), (Bytes{0x00, 0x00, 0x40, 0x3F}));
}

TEST_F(Properties, ConnectedUserCountIsReported) {
    connected_user_count += 3;
    const auto bytes = read(context(), 4);
    connected_user_count -= 3;
    EXPECT_EQ(bytes, (Bytes{3, 0, 0, 0}));
}

TEST_F(Properties, ReadOnlyAndUnknownKeysCannotBeSet) {
    for (PropertyKey key : {1, 4, 5, 10, 0, 11, -1, kDebugMode + 1}) {
        auto sink = CaptureSink::install();
        EXPECT_EQ(set(context(), key, {1}), hr::invalid_arg) << key;
        EXPECT_EQ(sink->messages().back(), "unknown property set") << key;
    }
    EXPECT_EQ(context().settings->get().version, "1000.113.114.9593");
}

TEST_F(Properties, UnknownQueryKeyPrintsUnknownAndWritesNothing) {
    for (PropertyKey key : {0, 11, -1, kDebugMode - 1}) {
        auto sink = CaptureSink::install();
        testing::internal::CaptureStdout();
        const auto reply = query(context(), key, 4);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "unknown\n") << key;
        EXPECT_EQ(reply.result, hr::invalid_arg) << key;
        EXPECT_EQ(reply.size, kUnwritten) << key;
        EXPECT_EQ(reply.buffer, Bytes(4, kFill)) << key;
        EXPECT_EQ(sink->messages().back(), "unknown property querried") << key;
    }
}

TEST_F(Properties, VersionMustGiveExactlyFourSixteenBitNumbers) {
    struct Case {
        std::string version;
        std::string failure;  // empty when the version parses
    };
    const Case cases[] = {
        {" 1.2.3.65535\t\n", ""},
        {"1.2.3", "Did parsing fail: false, version_arr length: 3"},
        {"1.2.3.4.5", "Did parsing fail: false, version_arr length: 5"},
        {"1.x.3.4", "Did parsing fail: true, version_arr length: 1"},
        {"1.2.3.65536", "Did parsing fail: true, version_arr length: 3"},
        {"1..3.4", "Did parsing fail: true, version_arr length: 1"},
        {"1.2.3.4.", "Did parsing fail: true, version_arr length: 4"},
        {"+1.2.3.4", "Did parsing fail: true, version_arr length: 0"},
        {"", "Did parsing fail: true, version_arr length: 0"},
    };
    for (const auto& c : cases) {
        context().settings->with([&](TapSettings& s) { s.version = c.version; });
        auto sink = CaptureSink::install();
        const auto reply = query(context(), 1, 8);
        if (c.failure.empty()) {
            EXPECT_EQ(reply.result, hr::ok) << c.version;
            EXPECT_EQ(reply.buffer, (Bytes{1, 0, 2, 0, 3, 0, 0xFF, 0xFF}));
            continue;
        }
        EXPECT_EQ(reply.result, hr::unexpected) << c.version;
        EXPECT_EQ(reply.size, kUnwritten) << c.version;
        const auto records = sink->records();
        ASSERT_EQ(records.size(), 5u) << c.version;
        EXPECT_EQ(records[2].message, "Version string: " + c.version);
        EXPECT_EQ(records[3].message, c.failure);
        EXPECT_EQ(records[4].message, "Failed to parse version");
        EXPECT_EQ(records[3].level, Level::Error);
        EXPECT_EQ(records[4].level, Level::Error);
    }
}

TEST(PropertiesAcrossContexts, IgnoreUnidentifiedClientsIsProcessWide) {
    ResetIgnoreFlag reset;
    ContextHandle setter, earlier, later;
    RemoteOpen(earlier);
    RemoteOpen(setter);
    ASSERT_EQ(set(*setter, 8, {1}), hr::ok);
    RemoteOpen(later);
    EXPECT_EQ(read(*earlier, 8), Bytes{1});
    EXPECT_EQ(read(*later, 8), Bytes{1});
    RemoteClose(setter);
    EXPECT_EQ(read(*later, 8), Bytes{1});
    ContextHandle after_close;
    RemoteOpen(after_close);
    EXPECT_EQ(read(*after_close, 8), Bytes{1});
    // Per-context settings stay apart.
    ASSERT_EQ(set(*earlier, 2, {1}), hr::ok);
    EXPECT_EQ(read(*later, 2), Bytes{0});
    for (auto* h : {&earlier, &later, &after_close}) RemoteClose(*h);
}

TEST_F(Properties, LogLinesOfASetAndADryRun) {
    auto sink = CaptureSink::install();
    ASSERT_EQ(set(context(), 7, bytes_of("a\"b\n")), hr::ok);
    ASSERT_EQ(set(context(), kDebugMode, {1}), hr::ok);
    ASSERT_EQ(query(context(), 1, std::nullopt).result, hr::ok);
    const std::vector<std::pair<Level, std::string>> expected = {
        {Level::Debug, "NorvoSetProperty() Called key: 7, input size: 4"},
        {Level::Trace, "client user agent got size: 4"},
        {Level::Trace, "client user agent preconvert"},
        {Level::Trace, R"(client user agent got id: "a\"b\n")"},
        {Level::Trace, R"(client user agent set to "a\"b\n")"},
        {Level::Debug, "NorvoSetProperty() Called key: 1012534929, input size: 1"},
        {Level::Trace, "debug mode property set to true"},
        {Level::Debug, "NorvoQueryProperty() called"},
        {Level::Trace, "dry run"},
        {Level::Trace, "version property querried"},
        {Level::Trace, "Version string: 1000.113.114.9593"},
    };
    std::vector<std::pair<Level, std::string>> logged;
    for (const auto& r : sink->records()) {
        EXPECT_EQ(r.target, "vxt_impl::rpc_server");
        logged.emplace_back(r.level, r.message);
    }
    EXPECT_EQ(logged, expected);
}

}  // namespace
