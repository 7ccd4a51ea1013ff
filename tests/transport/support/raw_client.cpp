#include "raw_client.hpp"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

namespace norvo::testing {

RawClient::RawClient(const std::filesystem::path& path)
    : socket_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    path.native().copy(address.sun_path, sizeof(address.sun_path) - 1);
    EXPECT_EQ(::connect(socket_.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    const auto hello = next();
    EXPECT_TRUE(hello && hello->header.kind == static_cast<std::uint8_t>(wire::FrameKind::Hello));
}

void RawClient::send(const std::vector<std::uint8_t>& bytes) {
    EXPECT_TRUE(wire::write_all(socket_.get(), bytes));
}

std::expected<wire::ReceivedFrame, wire::ReadFailure> RawClient::next() {
    return wire::read_frame(socket_.get());
}

std::optional<wire::RpcStatus> RawClient::fault_for(std::uint32_t call_id) {
    const auto frame = next();
    if (!frame || frame->header.kind != static_cast<std::uint8_t>(wire::FrameKind::Fault) ||
        frame->header.call_id != call_id) {
        return std::nullopt;
    }
    const auto fault = wire::decode<wire::Fault>(frame->payload);
    return fault ? std::optional(fault->status) : std::nullopt;
}

}  // namespace norvo::testing
