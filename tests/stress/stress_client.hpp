#pragma once
// One stress client's connection, spoken frame by frame so that every call has
// a deadline of its own: waiting for an answer blocks on the socket with the time
// left, and answers the callbacks of its outstanding starts meanwhile.

#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "norvo/posix/unique_fd.hpp"
#include "norvo/wire/interface.hpp"
#include "norvo/wire/socket_io.hpp"

namespace norvo::stress {

using Clock = std::chrono::steady_clock;

// What came back for a call: its Result payload, or the RPC status of a Fault.
struct Answer {
    bool fault = false;
    wire::RpcStatus status = 0;
    std::vector<std::uint8_t> payload;
};

// What one outstanding start has received.
struct RunTally {
    std::uint64_t phone_taps = 0;
    std::vector<std::int32_t> signals;  // SignalReturn statuses
    std::uint64_t callbacks = 0;
};

class StressClient {
  public:
    // Connects and takes the service's Hello within `limit`.
    [[nodiscard]] static std::expected<StressClient, std::string> connect(
        const std::filesystem::path& socket, std::chrono::milliseconds limit);

    template <class Call>
    std::uint32_t send(const Call& call) {
        const auto id = ++next_call_id_;
        send_frame(
            wire::make_frame(wire::FrameKind::Call, wire::kOpnum<Call>, id, *wire::encode(call)));
        return id;
    }
    void send_frame(const std::vector<std::uint8_t>& frame);

    // The answer to `call_id`, or why none came within `limit`.
    [[nodiscard]] std::expected<Answer, std::string> await(std::uint32_t call_id,
                                                           std::chrono::milliseconds limit);
    // RemoteOpen's handle; none when no result came in time.
    std::optional<wire::ContextToken> open(std::chrono::milliseconds limit);
    // Reads (answering callbacks) until `done` holds; false with `why` set when the
    // deadline passes or the connection ends first.
    bool pump_until(const std::function<bool()>& done, Clock::time_point deadline,
                    std::string& why);

    const RunTally& run(std::uint32_t start_id) { return runs_[start_id]; }
    void forget_run(std::uint32_t start_id) { runs_.erase(start_id); }
    // The status to reply to a callback with; 0 unless set.
    void set_reply_status(std::function<wire::RpcStatus()> status) {
        reply_status_ = std::move(status);
    }

  private:
    explicit StressClient(posix::UniqueFd socket) : socket_(std::move(socket)) {}
    // One frame within the deadline; false with `why` set otherwise.
    bool take_frame(Clock::time_point deadline, std::string& why);
    void answer_callback(const wire::ReceivedFrame& frame);

    posix::UniqueFd socket_;
    std::uint32_t next_call_id_ = 0;
    std::map<std::uint32_t, Answer> answers_;
    std::map<std::uint32_t, RunTally> runs_;
    std::function<wire::RpcStatus()> reply_status_;
};

}  // namespace norvo::stress
