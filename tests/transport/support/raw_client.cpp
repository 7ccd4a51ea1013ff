#include "raw_client.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include "norvo/posix/unix_socket.hpp"

namespace norvo::testing {

RawClient::RawClient(const std::filesystem::path& path) {
    auto socket = posix::connect_unix(path);
    EXPECT_TRUE(socket) << fmt::format("{}", socket.error());
    if (socket)
        socket_ = std::move(*socket);
    // A service that never answers fails the read instead of hanging the test.
    const timeval patience{.tv_sec = 20, .tv_usec = 0};
    ::setsockopt(socket_.get(), SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof(patience));
    const auto first = hello();
    EXPECT_TRUE(first);
    if (first)
        association_ = first->association;
}

std::optional<wire::Hello> RawClient::hello() {
    const auto frame = next();
    if (!frame || frame->header.kind != static_cast<std::uint8_t>(wire::FrameKind::Hello))
        return std::nullopt;
    return wire::decode<wire::Hello>(frame->payload);
}

void RawClient::send(const std::vector<std::uint8_t>& bytes) {
    EXPECT_TRUE(wire::write_all(socket_.get(), bytes));
}

std::expected<wire::ReceivedFrame, wire::ReadFailure> RawClient::next() {
    return wire::read_frame(socket_.get());
}

std::optional<wire::ContextToken> RawClient::open_context() {
    call(1, wire::call::RemoteOpen{});
    const auto opened = next();
    const auto result =
        opened ? wire::decode<wire::result::RemoteOpen>(opened->payload) : std::nullopt;
    if (!result)
        return std::nullopt;
    return result->context;
}

bool RawClient::hung_up() const {
    char byte = 0;
    return ::recv(socket_.get(), &byte, 1, MSG_DONTWAIT | MSG_PEEK) == 0;
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
