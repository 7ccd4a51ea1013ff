#include "norvo/log_capture.hpp"
#include "norvo/service/procedures.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <numbers>
#include <thread>
#include <utility>
#include <vector>

namespace {

using norvo::channel::Receiver;
using norvo::log::CaptureSink;
using norvo::log::Level;
using norvo::service::ClientContext;
using norvo::service::HRESULT;
using norvo::service::NorvoReceiveClientEvent;
using norvo::service::PhoneEvent;
namespace hr = norvo::service::hr;

using Bytes = std::vector<std::uint8_t>;
using Line = std::pair<Level, std::string>;

Line debug(std::string m) {
    return {Level::Debug, std::move(m)};
}
Line error(std::string m) {
    return {Level::Error, std::move(m)};
}

const Bytes kPhoneTap{1, 0, 1, 0, 0, 0};

// Every line, after checking that each went to the service's target.
std::vector<Line> lines(const CaptureSink& sink) {
    std::vector<Line> out;
    for (const auto& r : sink.records()) {
        EXPECT_EQ(r.target, "vxt_impl::rpc_server") << r.message;
        out.emplace_back(r.level, r.message);
    }
    return out;
}

std::vector<Line> expected_lines(const std::string& raw, std::vector<Line> tail) {
    std::vector<Line> out{debug("NorvoReceiveClientEvent() called"),
                          debug("Raw Data received: " + raw)};
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

Receiver<PhoneEvent> start_phone_channel(ClientContext& context) {
    auto [sender, receiver] = norvo::channel::bounded<PhoneEvent>(10);
    context.phone_event_sender.set(std::move(sender));
    return std::move(receiver);
}

Bytes pulse_packet(float pulse) {
    Bytes packet{2, 0, 1, 0, 4, 0};
    const auto bits = std::bit_cast<std::uint32_t>(pulse);
    for (int shift = 0; shift < 32; shift += 8) {
        packet.push_back(static_cast<std::uint8_t>(bits >> shift));
    }
    return packet;
}

struct Case {
    const char* name;
    Bytes packet;
    std::string raw;
    HRESULT result;
    std::vector<Line> tail;
    std::optional<std::optional<float>> queued_pulse;  // outer empty: nothing queued
};

std::vector<Line> accepted(std::string payload) {
    return {debug("Phone event received"), debug("Data received: " + payload)};
}
const std::vector<Line> kParseFailure{error("Failed to parse payload")};
const std::vector<Line> kUnknown{error("Unknown event received")};
const std::optional<float> kNoPulse;

TEST(ReceiveClientEvent, ParsesValidatesAndQueuesEachPacketForm) {
    // clang-format off
    const Case cases[] = {
        {"v1", {1, 0, 1, 0, 0, 0}, "[1, 0, 1, 0, 0, 0]", hr::ok, accepted("[]"), kNoPulse},
        {"v2 pulse 1.0", {2, 0, 1, 0, 4, 0, 0, 0, 0x80, 0x3F}, "[2, 0, 1, 0, 4, 0, 0, 0, 128, 63]",
         hr::ok, accepted("[0, 0, 128, 63]"), 1.0f},
        {"v2 pulse pi", {2, 0, 1, 0, 4, 0, 0xDB, 0x0F, 0x49, 0x40},
         "[2, 0, 1, 0, 4, 0, 219, 15, 73, 64]", hr::ok, accepted("[219, 15, 73, 64]"),
         std::numbers::pi_v<float>},
        {"v1 trailing bytes", {1, 0, 1, 0, 0, 0, 0xFF, 7}, "[1, 0, 1, 0, 0, 0, 255, 7]", hr::ok,
         accepted("[]"), kNoPulse},
        {"v2 trailing bytes", {2, 0, 1, 0, 4, 0, 0, 0, 0x80, 0x3F, 42},
         "[2, 0, 1, 0, 4, 0, 0, 0, 128, 63, 42]", hr::ok, accepted("[0, 0, 128, 63]"), 1.0f},

        {"v1 with payload", {1, 0, 1, 0, 4, 0, 0, 0, 0x80, 0x3F},
         "[1, 0, 1, 0, 4, 0, 0, 0, 128, 63]", hr::invalid_arg, kParseFailure, {}},
        {"v2 without payload", {2, 0, 1, 0, 0, 0}, "[2, 0, 1, 0, 0, 0]", hr::invalid_arg,
         kParseFailure, {}},
        {"v2 two-byte payload", {2, 0, 1, 0, 2, 0, 0, 0x80}, "[2, 0, 1, 0, 2, 0, 0, 128]",
         hr::invalid_arg, kParseFailure, {}},
        {"v3", {3, 0, 1, 0, 0, 0}, "[3, 0, 1, 0, 0, 0]", hr::invalid_arg, kParseFailure, {}},
        {"v0", {0, 0, 1, 0, 0, 0}, "[0, 0, 1, 0, 0, 0]", hr::invalid_arg, kParseFailure, {}},
        {"v257", {1, 1, 1, 0, 0, 0}, "[1, 1, 1, 0, 0, 0]", hr::invalid_arg, kParseFailure, {}},
        // The header is judged before the type: this is the packet the service sends itself.
        {"confirmed-tap packet", {2, 0, 2, 0, 0, 0}, "[2, 0, 2, 0, 0, 0]", hr::invalid_arg,
         kParseFailure, {}},

        {"0 bytes", {}, "[]", hr::invalid_arg, kParseFailure, {}},
        {"1 byte", {1}, "[1]", hr::invalid_arg, kParseFailure, {}},
        {"2 bytes", {1, 0}, "[1, 0]", hr::invalid_arg, kParseFailure, {}},
        {"3 bytes", {1, 0, 1}, "[1, 0, 1]", hr::invalid_arg, kParseFailure, {}},
        {"4 bytes", {1, 0, 1, 0}, "[1, 0, 1, 0]", hr::invalid_arg, kParseFailure, {}},
        {"5 bytes", {1, 0, 1, 0, 0}, "[1, 0, 1, 0, 0]", hr::invalid_arg, kParseFailure, {}},
        {"v2 with 2 of 4 payload bytes", {2, 0, 1, 0, 4, 0, 0, 0}, "[2, 0, 1, 0, 4, 0, 0, 0]",
         hr::invalid_arg, kParseFailure, {}},
        {"v2 with 3 of 4 payload bytes", {2, 0, 1, 0, 4, 0, 0, 0, 0x80},
         "[2, 0, 1, 0, 4, 0, 0, 0, 128]", hr::invalid_arg, kParseFailure, {}},

        {"v1 type 2", {1, 0, 2, 0, 0, 0}, "[1, 0, 2, 0, 0, 0]", hr::invalid_arg, kUnknown, {}},
        {"v2 type 2", {2, 0, 2, 0, 4, 0, 0, 0, 0, 0}, "[2, 0, 2, 0, 4, 0, 0, 0, 0, 0]",
         hr::invalid_arg, kUnknown, {}},
        {"type 7", {1, 0, 7, 0, 0, 0}, "[1, 0, 7, 0, 0, 0]", hr::invalid_arg, kUnknown, {}},
        {"type 0", {1, 0, 0, 0, 0, 0}, "[1, 0, 0, 0, 0, 0]", hr::invalid_arg, kUnknown, {}},
        {"type 257", {1, 0, 1, 1, 0, 0}, "[1, 0, 1, 1, 0, 0]", hr::invalid_arg, kUnknown, {}},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClientContext context;
        auto receiver = start_phone_channel(context);
        auto sink = CaptureSink::install();

        EXPECT_EQ(NorvoReceiveClientEvent(context, c.packet), c.result);
        EXPECT_EQ(lines(*sink), expected_lines(c.raw, c.tail));
        auto queued = receiver.try_recv();
        ASSERT_EQ(queued.has_value(), c.queued_pulse.has_value());
        if (queued) {
            EXPECT_EQ(queued->pulse, *c.queued_pulse);
        }
        EXPECT_FALSE(receiver.try_recv().has_value());
    }
}

TEST(ReceiveClientEvent, PhoneTapBeforeAnyStartIsAborted) {
    ClientContext context;
    auto sink = CaptureSink::install();
    EXPECT_EQ(NorvoReceiveClientEvent(context, kPhoneTap), hr::abort);
    EXPECT_EQ(lines(*sink),
              expected_lines("[1, 0, 1, 0, 0, 0]", {debug("Phone event received"),
                                                    error("Phone event channel not initialized")}));
}

// A phone tap with trailing bytes up to `size`: the list shows the first 256 bytes only.
TEST(ReceiveClientEvent, RawDataOfALargePacketShowsItsHeadAndSize) {
    const struct {
        std::size_t size;
        const char* tail;
    } cases[] = {{256, ""}, {257, " … (257 bytes)"}, {65536, " … (65536 bytes)"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        Bytes packet = kPhoneTap;
        packet.resize(c.size, 7);
        std::string shown = "[1, 0, 1, 0, 0, 0";
        for (std::size_t i = kPhoneTap.size(); i < 256; ++i) shown += ", 7";
        ClientContext context;
        auto receiver = start_phone_channel(context);
        auto sink = CaptureSink::install();
        EXPECT_EQ(NorvoReceiveClientEvent(context, packet), hr::ok);
        EXPECT_EQ(lines(*sink), expected_lines(shown + "]" + c.tail, accepted("[]")));
    }
}

TEST(ReceiveClientEvent, EleventhUnreadEventIsRejectedAsFull) {
    ClientContext context;
    auto receiver = start_phone_channel(context);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(NorvoReceiveClientEvent(context, pulse_packet(static_cast<float>(i))), hr::ok);
    }
    auto sink = CaptureSink::install();
    EXPECT_EQ(NorvoReceiveClientEvent(context, pulse_packet(10.0f)), hr::abort);
    EXPECT_EQ(lines(*sink), expected_lines("[2, 0, 1, 0, 4, 0, 0, 0, 32, 65]",
                                           {debug("Phone event received"),
                                            error("Failed to send phone event: Full(..)")}));
    for (int i = 0; i < 10; ++i) {
        auto event = receiver.try_recv();
        ASSERT_TRUE(event.has_value());
        EXPECT_EQ(event->pulse, static_cast<float>(i));
    }
    EXPECT_FALSE(receiver.try_recv().has_value());
}

TEST(ReceiveClientEvent, EndedLoopIsReportedAsClosed) {
    ClientContext context;
    start_phone_channel(context);  // the receiver is dropped at once
    auto sink = CaptureSink::install();
    EXPECT_EQ(NorvoReceiveClientEvent(context, kPhoneTap), hr::abort);
    EXPECT_EQ(lines(*sink), expected_lines("[1, 0, 1, 0, 0, 0]",
                                           {debug("Phone event received"),
                                            error("Failed to send phone event: Closed(..)")}));
}

// Concurrent calls while starts keep replacing the sender: every accepted event
// lands in one of the channels.
TEST(ReceiveClientEvent, ConcurrentCallsAndSenderReplacementLoseNoEvent) {
    auto sink = CaptureSink::install();
    ClientContext context;
    std::vector<Receiver<PhoneEvent>> receivers;
    receivers.push_back(start_phone_channel(context));
    std::atomic<int> accepted{0};
    {
        std::vector<std::jthread> clients;
        for (int t = 0; t < 4; ++t) {
            clients.emplace_back([&] {
                for (int i = 0; i < 10; ++i) {
                    if (NorvoReceiveClientEvent(context, kPhoneTap) == hr::ok)
                        ++accepted;
                }
            });
        }
        for (int i = 0; i < 5; ++i) receivers.push_back(start_phone_channel(context));
    }
    int received = 0;
    for (auto& receiver : receivers) {
        while (receiver.try_recv()) ++received;
    }
    EXPECT_EQ(received, accepted.load());
    EXPECT_GE(accepted.load(), 10);  // a call is refused only by a full channel
}

}  // namespace
