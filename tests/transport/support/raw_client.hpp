#pragma once
// A client that writes whatever frames it is given and reads what comes back. Its reads
// give up after its patience, so a service that never answers fails a test, or the child
// process of one, instead of hanging it.

#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <vector>

#include "norvo/posix/unique_fd.hpp"
#include "norvo/wire/interface.hpp"
#include "norvo/wire/socket_io.hpp"

namespace norvo::testing {

class RawClient {
  public:
    static constexpr std::chrono::seconds kPatience{20};
    // Connects only: admission() reads the Hello, for a client that waits to be accepted.
    struct NotYetAdmitted {};

    // Connects and reads the service's Hello.
    explicit RawClient(const std::filesystem::path& path,
                       std::chrono::seconds patience = kPatience);
    RawClient(const std::filesystem::path& path, NotYetAdmitted,
              std::chrono::seconds patience = kPatience);

    // The status of the service's first Hello; -1 when none came.
    wire::RpcStatus admission();
    // Admitted, then joined to `association` instead of a new one.
    bool join(const wire::AssociationKey& association);

    bool send(const std::vector<std::uint8_t>& bytes);
    template <class Message>
    bool send(wire::FrameKind kind, std::uint8_t opnum, std::uint32_t id, const Message& m) {
        return send(wire::make_frame(kind, opnum, id, *wire::encode(m)));
    }
    template <class Call>
    bool call(std::uint32_t call_id, const Call& c) {
        return send(wire::FrameKind::Call, wire::kOpnum<Call>, call_id, c);
    }
    [[nodiscard]] std::expected<wire::ReceivedFrame, wire::ReadFailure> next();
    // The frame that answers `call_id`, passing over the others; the callbacks on the way
    // are answered when `answer` is set.
    std::optional<wire::ReceivedFrame> reply(std::uint32_t call_id, bool answer = true);
    template <class Call>
    bool answered(std::uint32_t call_id, const Call& c);
    // The status of the next frame when it is a Fault for `call_id`.
    std::optional<wire::RpcStatus> fault_for(std::uint32_t call_id);
    // A new context; none when the open was not answered with one.
    std::optional<wire::ContextToken> open(std::uint32_t call_id);
    // A new context in simulation mode: its runs need no sensor.
    std::optional<wire::ContextToken> open_simulated(std::uint32_t call_id);
    // Whether the service has closed its end: a read that fails on its patience
    // looks like an end too.
    bool hung_up() const;
    // The next frame as a Hello: how the service answers a Join.
    std::optional<wire::Hello> hello();
    // The association the service's first Hello named.
    const wire::AssociationKey& association() const { return association_; }
    int socket() const { return socket_.get(); }

  private:
    posix::UniqueFd socket_;
    std::optional<wire::RpcStatus> admission_;
    wire::AssociationKey association_;
};

[[nodiscard]] bool is_result(const std::optional<wire::ReceivedFrame>& frame);
// The status of a Fault; -1 for any other frame or none.
[[nodiscard]] wire::RpcStatus fault_of(const std::optional<wire::ReceivedFrame>& frame);

template <class Call>
bool RawClient::answered(std::uint32_t call_id, const Call& c) {
    return call(call_id, c) && is_result(reply(call_id));
}

}  // namespace norvo::testing
