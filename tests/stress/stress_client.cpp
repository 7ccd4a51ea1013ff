#include "stress_client.hpp"

#include <fmt/format.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "norvo/posix/unix_socket.hpp"

namespace norvo::stress {
namespace {

// Rounded up: a call is never given up before its deadline.
int millis_left(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

std::expected<StressClient, std::string> StressClient::connect(const std::filesystem::path& socket,
                                                               std::chrono::milliseconds limit) {
    auto fd = posix::connect_unix(socket);
    if (!fd)
        return std::unexpected(fmt::format("cannot connect to {}", socket.string()));
    StressClient client(std::move(*fd));
    std::string why;
    if (!client.take_frame(Clock::now() + limit, why))
        return std::unexpected("no Hello: " + why);
    return client;
}

void StressClient::send_frame(const std::vector<std::uint8_t>& frame) {
    // A service that hung up shows when the answer does not come.
    wire::write_all(socket_.get(), frame);
}

std::expected<Answer, std::string> StressClient::await(std::uint32_t call_id,
                                                       std::chrono::milliseconds limit) {
    std::string why;
    if (!pump_until([&] { return answers_.contains(call_id); }, Clock::now() + limit, why))
        return std::unexpected(fmt::format("call {}: {}", call_id, why));
    auto answer = std::move(answers_.at(call_id));
    answers_.erase(call_id);
    return answer;
}

std::optional<wire::ContextToken> StressClient::open(std::chrono::milliseconds limit) {
    const auto answer = await(send(wire::call::RemoteOpen{}), limit);
    const auto opened =
        answer ? wire::decode<wire::result::RemoteOpen>(answer->payload) : std::nullopt;
    return opened ? std::optional(opened->context) : std::nullopt;
}

bool StressClient::pump_until(const std::function<bool()>& done, Clock::time_point deadline,
                              std::string& why) {
    while (!done()) {
        if (!take_frame(deadline, why))
            return false;
    }
    return true;
}

bool StressClient::take_frame(Clock::time_point deadline, std::string& why) {
    pollfd ready{socket_.get(), POLLIN, 0};
    int n = 0;
    do {
        n = ::poll(&ready, 1, millis_left(deadline));
    } while (n < 0 && errno == EINTR);
    if (n == 0) {
        why = "no answer within the deadline";
        return false;
    }
    auto frame = wire::read_frame(socket_.get());
    if (!frame) {
        why = frame.error() == wire::ReadFailure::Closed ? "the service hung up"
                                                         : "the service sent a bad frame";
        return false;
    }
    switch (static_cast<wire::FrameKind>(frame->header.kind)) {
        case wire::FrameKind::Hello:
            return true;
        case wire::FrameKind::Callback:
            answer_callback(*frame);
            return true;
        case wire::FrameKind::Result:
            answers_[frame->header.call_id] = Answer{.payload = std::move(frame->payload)};
            return true;
        case wire::FrameKind::Fault: {
            const auto fault = wire::decode<wire::Fault>(frame->payload);
            answers_[frame->header.call_id] =
                Answer{.fault = true, .status = fault ? fault->status : -1, .payload = {}};
            return true;
        }
        default:
            why = fmt::format("the service sent frame kind {}", frame->header.kind);
            return false;
    }
}

void StressClient::answer_callback(const wire::ReceivedFrame& frame) {
    const auto call = wire::decode_callback(frame.header.opnum, frame.payload);
    if (!call)
        return;  // never answered: the start's loop then waits, and its stop is late
    auto& tally = runs_[frame.header.call_id];
    ++tally.callbacks;
    if (const auto* tap = std::get_if<wire::callback::TapEvent>(&call->callback);
        tap && tap->kind == 3) {
        ++tally.phone_taps;
    }
    if (const auto* signal = std::get_if<wire::callback::SignalReturn>(&call->callback))
        tally.signals.push_back(signal->status);
    const wire::CallbackReply reply{call->sequence, reply_status_ ? reply_status_() : 0};
    send_frame(wire::make_frame(wire::FrameKind::CallbackReply, frame.header.opnum,
                                frame.header.call_id, *wire::encode(reply)));
}

}  // namespace norvo::stress
