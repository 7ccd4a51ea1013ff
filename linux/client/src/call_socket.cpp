#include "call_socket.hpp"

namespace norvo::client {

namespace status = wire::status;

Result<std::unique_ptr<CallSocket>> CallSocket::dial(const std::filesystem::path& path,
                                                     Clock::time_point by) {
    auto fd = connect_by(path, by);
    if (!fd)
        return failure(fd.error());
    auto socket = std::make_unique<CallSocket>(std::move(*fd));
    if (auto hello = socket->await_hello(by); !hello)
        return std::unexpected(hello.error());
    return socket;
}

Result<std::unique_ptr<CallSocket>> CallSocket::open_association(const std::filesystem::path& path,
                                                                 Clock::time_point by) {
    auto socket = dial(path, by);
    if (!socket)
        return socket;
    if (auto said = (*socket)->send(wire::FrameKind::Hello, wire::Hello{}, by); !said)
        return std::unexpected(said.error());
    return socket;
}

Result<void> CallSocket::await_hello(wire::Deadline by) {
    const auto frame = reader_.next(by);
    if (!frame)
        return failure(status::server_unavailable);
    const auto hello = wire::decode<wire::Hello>(frame->payload);
    if (frame->header.kind != static_cast<std::uint8_t>(wire::FrameKind::Hello) || !hello ||
        hello->version != wire::kProtocolVersion) {
        return failure(status::protocol_error);
    }
    if (hello->status != status::ok)
        return failure(hello->status);
    association_ = hello->association;
    return {};
}

}  // namespace norvo::client
