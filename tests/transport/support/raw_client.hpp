#pragma once
// A client that writes whatever frames it is given and reads what comes back.

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
    // Connects and reads the service's Hello.
    explicit RawClient(const std::filesystem::path& path);

    void send(const std::vector<std::uint8_t>& bytes);
    template <class Call>
    void call(std::uint32_t call_id, const Call& c) {
        send(
            wire::make_frame(wire::FrameKind::Call, wire::kOpnum<Call>, call_id, *wire::encode(c)));
    }
    [[nodiscard]] std::expected<wire::ReceivedFrame, wire::ReadFailure> next();
    // RemoteOpen as call 1, and the handle of its answer.
    [[nodiscard]] std::optional<wire::ContextToken> open_context();
    // The status of the next frame when it is a Fault for `call_id`.
    std::optional<wire::RpcStatus> fault_for(std::uint32_t call_id);
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
    wire::AssociationKey association_;
};

}  // namespace norvo::testing
