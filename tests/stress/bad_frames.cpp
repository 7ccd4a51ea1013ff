#include "bad_frames.hpp"

#include <fmt/format.h>

#include <random>
#include <variant>
#include <vector>

#include "norvo/posix/unix_socket.hpp"
#include "stress_client.hpp"

namespace norvo::stress {
namespace {

namespace call = wire::call;
using Bytes = std::vector<std::uint8_t>;

// A frame whose answer is a fault with `status`, for the call id `answered_as`.
struct FaultCase {
    Bytes frame;
    std::uint32_t answered_as;
    wire::RpcStatus status;
};

constexpr auto kCall = wire::FrameKind::Call;
constexpr auto kStop = wire::kOpnum<call::NorvoStopSensor>;

Bytes frame_of(wire::FrameKind kind, std::uint8_t opnum, std::uint32_t id, const Bytes& payload) {
    return wire::make_frame(kind, opnum, id, payload);
}

FaultCase fault_case(std::mt19937_64& rng) {
    const wire::ContextToken stranger{{7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7}};
    switch (rng() % 6) {
        case 0:
            return {frame_of(static_cast<wire::FrameKind>(9), 0, 5, {}), 5,
                    wire::status::protocol_error};
        case 1: {
            auto frame = frame_of(kCall, kStop, 5, Bytes(16));
            frame[6] = 1;  // a reserved byte
            return {frame, 0, wire::status::protocol_error};
        }
        case 2:
            return {frame_of(kCall, std::variant_size_v<wire::Call>, 5, {}), 5,
                    wire::status::procnum_out_of_range};
        case 3:
            return {frame_of(kCall, wire::kOpnum<call::RemoteClose>, 5, {1, 2, 3}), 5,
                    wire::status::bad_stub_data};
        case 4:
            return {frame_of(kCall, kStop, 5, *wire::encode(call::NorvoStopSensor{stranger})), 5,
                    wire::status::context_mismatch};
        default:
            return {frame_of(kCall, kStop, 5, *wire::encode(call::NorvoStopSensor{})), 5,
                    wire::status::null_context};
    }
}

std::optional<std::string> expect_fault(StressClient& client, const FaultCase& c,
                                        std::chrono::milliseconds deadline) {
    client.send_frame(c.frame);
    const auto answer = client.await(c.answered_as, deadline);
    if (!answer)
        return "a bad frame got no fault: " + answer.error();
    if (!answer->fault || answer->status != c.status)
        return fmt::format("a bad frame got {} instead of fault {}",
                           answer->fault ? answer->status : 0, c.status);
    return std::nullopt;
}

}  // namespace

std::optional<std::string> feed_bad_frames(const std::filesystem::path& socket, std::uint64_t seed,
                                           std::chrono::milliseconds deadline) {
    std::mt19937_64 rng(seed);
    auto client = StressClient::connect(socket, deadline);
    if (!client)
        return client.error();
    switch (rng() % 4) {
        case 0: {  // noise, then gone
            Bytes noise(1 + rng() % 64);
            for (auto& byte : noise) byte = static_cast<std::uint8_t>(rng());
            client->send_frame(noise);
            return std::nullopt;
        }
        case 1: {  // a call cut short, then gone
            auto frame = wire::make_frame(
                wire::FrameKind::Call, wire::kOpnum<call::NorvoReceiveClientEvent>, 1,
                *wire::encode(call::NorvoReceiveClientEvent{{}, {{1, 0, 1, 0, 0, 0}}}));
            frame.resize(1 + rng() % (frame.size() - 1));
            client->send_frame(frame);
            return std::nullopt;
        }
        case 2: {  // a length out of range: a fault, then the service hangs up
            client->send_frame({0xFF, 0xFF, 0xFF, 0x7F, 2, 0, 0, 0});
            const auto fault = client->await(0, deadline);
            if (!fault || !fault->fault || fault->status != wire::status::protocol_error)
                return "an oversized length got no protocol fault";
            std::string why;
            if (client->pump_until([] { return false; }, Clock::now() + deadline, why) ||
                why != "the service hung up") {
                return "the service did not hang up after an oversized length: " + why;
            }
            return std::nullopt;
        }
        default:  // faults the connection survives: it still answers afterwards
            if (auto why = expect_fault(*client, fault_case(rng), deadline))
                return why;
            return expect_fault(*client, fault_case(rng), deadline);
    }
}

std::optional<std::string> vanish(const std::filesystem::path& socket, std::uint64_t seed,
                                  std::chrono::milliseconds deadline) {
    if (seed % 2 == 0) {
        (void)posix::connect_unix(socket);  // closed before the Hello is read
        return std::nullopt;
    }
    auto client = StressClient::connect(socket, deadline);
    if (!client)
        return client.error();
    const auto context = client->open(deadline);
    if (!context)
        return "open on a vanishing connection failed";
    const auto start = client->send(call::NorvoStartSensor{*context, 3});
    std::string why;
    if (!client->pump_until([&] { return !client->run(start).signals.empty(); },
                            Clock::now() + deadline, why)) {
        return "start on a vanishing connection did not signal: " + why;
    }
    return std::nullopt;  // the socket closes with the start outstanding
}

}  // namespace norvo::stress
