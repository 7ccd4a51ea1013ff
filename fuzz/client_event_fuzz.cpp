// NorvoReceiveClientEvent with one packet per input, on a context whose loop
// takes phone events, one that never started, and one whose loop has ended.
// The verdict is checked against the packet rules, the queued pulse against the
// payload bits, and a rejected packet must queue nothing.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>

#include "norvo/log_capture.hpp"
#include "norvo/service/procedures.hpp"
#include "support/check.hpp"

namespace {

using norvo::fuzz::check;
namespace service = norvo::service;
namespace hr = service::hr;

enum class Verdict { BadHeader, NotPhone, Phone };

// The receive rules, written out independently of the parser.
struct Expectation {
    Verdict verdict;
    std::optional<std::uint32_t> pulse_bits{};
};

std::uint32_t le(std::span<const std::uint8_t> bytes, std::size_t offset, std::size_t width) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < width; ++i) value |= std::uint32_t{bytes[offset + i]} << (8 * i);
    return value;
}

Expectation expect(std::span<const std::uint8_t> packet) {
    if (packet.size() < 6)
        return {Verdict::BadHeader};
    const auto version = le(packet, 0, 2);
    const auto length = le(packet, 4, 2);
    const bool valid = (version == 1 && length == 0) || (version == 2 && length == 4);
    if (!valid || packet.size() < 6 + length)
        return {Verdict::BadHeader};
    if (le(packet, 2, 2) != 1)
        return {Verdict::NotPhone};
    if (version == 1)
        return {Verdict::Phone};
    return {Verdict::Phone, le(packet, 6, 4)};
}

std::string last_message(const norvo::log::CaptureSink& sink) {
    const auto records = sink.records();
    return records.empty() ? std::string() : records.back().message;
}

void check_rejection(Verdict verdict, service::HRESULT result,
                     const norvo::log::CaptureSink& sink) {
    check(result == hr::invalid_arg, "a packet that is not a phone tap is an invalid argument");
    check(last_message(sink) == (verdict == Verdict::BadHeader ? "Failed to parse payload"
                                                               : "Unknown event received"),
          "a rejection logs its reason");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto sink = norvo::log::CaptureSink::install();
    const std::span packet(data, size);
    const auto expected = expect(packet);

    service::ContextHandle running;
    service::RemoteOpen(running);
    auto [sender, receiver] = norvo::channel::bounded<service::PhoneEvent>(10);
    running->phone_event_sender.set(std::move(sender));

    sink->clear();
    const auto result = service::NorvoReceiveClientEvent(*running, packet);
    const auto queued = receiver.try_recv();
    if (expected.verdict == Verdict::Phone) {
        check(result == hr::ok, "a phone tap is taken");
        check(queued.has_value(), "a phone tap reaches the loop");
        check(queued->pulse.has_value() == expected.pulse_bits.has_value(),
              "a pulse exactly for version 2");
        if (queued->pulse) {
            std::uint32_t bits = 0;
            std::memcpy(&bits, &*queued->pulse, sizeof(bits));
            check(bits == *expected.pulse_bits, "the pulse is the payload's bits");
        }
    } else {
        check_rejection(expected.verdict, result, *sink);
        check(!queued.has_value(), "a rejected packet queues nothing");
    }
    check(!receiver.try_recv().has_value(), "one packet queues at most one event");

    service::ContextHandle never_started;
    service::RemoteOpen(never_started);
    sink->clear();
    const auto unstarted = service::NorvoReceiveClientEvent(*never_started, packet);
    if (expected.verdict == Verdict::Phone) {
        check(unstarted == hr::abort, "a phone tap without a loop is aborted");
        check(last_message(*sink) == "Phone event channel not initialized", "no channel is logged");
    } else {
        check_rejection(expected.verdict, unstarted, *sink);
    }

    {
        auto ended = std::move(receiver);
    }
    sink->clear();
    const auto after_end = service::NorvoReceiveClientEvent(*running, packet);
    if (expected.verdict == Verdict::Phone) {
        check(after_end == hr::abort, "a phone tap after the loop ended is aborted");
        check(last_message(*sink) == "Failed to send phone event: Closed(..)",
              "a closed channel is logged");
    } else {
        check_rejection(expected.verdict, after_end, *sink);
    }
    return 0;
}
