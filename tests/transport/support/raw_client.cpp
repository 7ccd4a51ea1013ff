#include "raw_client.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include "norvo/posix/unix_socket.hpp"
#include "norvo/service/properties.hpp"

namespace norvo::testing {

RawClient::RawClient(const std::filesystem::path& path, NotYetAdmitted,
                     std::chrono::seconds patience) {
    auto socket = posix::connect_unix(path);
    EXPECT_TRUE(socket) << fmt::format("{}", socket.error());
    if (socket)
        socket_ = std::move(*socket);
    const timeval wait{.tv_sec = patience.count(), .tv_usec = 0};
    ::setsockopt(socket_.get(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait));
}

RawClient::RawClient(const std::filesystem::path& path, std::chrono::seconds patience)
    : RawClient(path, NotYetAdmitted{}, patience) {
    EXPECT_NE(admission(), -1) << "no Hello";
}

wire::RpcStatus RawClient::admission() {
    if (!admission_) {
        const auto first = hello();
        admission_ = first ? first->status : -1;
        if (first)
            association_ = first->association;
    }
    return *admission_;
}

bool RawClient::join(const wire::AssociationKey& association) {
    if (admission() != 0 || !send(wire::FrameKind::Join, 0, 0, wire::Join{association}))
        return false;
    const auto joined = hello();
    return joined && joined->status == wire::status::ok;
}

std::optional<wire::Hello> RawClient::hello() {
    const auto frame = next();
    if (!frame || frame->header.kind != static_cast<std::uint8_t>(wire::FrameKind::Hello))
        return std::nullopt;
    return wire::decode<wire::Hello>(frame->payload);
}

bool RawClient::send(const std::vector<std::uint8_t>& bytes) {
    const auto written = wire::write_all(socket_.get(), bytes);
    EXPECT_TRUE(written);
    return static_cast<bool>(written);
}

std::expected<wire::ReceivedFrame, wire::ReadFailure> RawClient::next() {
    return wire::read_frame(socket_.get());
}

std::optional<wire::ReceivedFrame> RawClient::reply(std::uint32_t call_id, bool answer) {
    for (;;) {
        auto frame = next();
        if (!frame)
            return std::nullopt;
        if (frame->header.kind == static_cast<std::uint8_t>(wire::FrameKind::Callback)) {
            const auto c = wire::decode_callback(frame->header.opnum, frame->payload);
            if (answer && c)
                send(wire::FrameKind::CallbackReply, frame->header.opnum, frame->header.call_id,
                     wire::CallbackReply{.sequence = c->sequence});
        } else if (frame->header.call_id == call_id) {
            return std::move(*frame);
        }
    }
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
    return fault_of(*frame);
}

std::optional<wire::ContextToken> RawClient::open(std::uint32_t call_id) {
    const auto frame = call(call_id, wire::call::RemoteOpen{}) ? reply(call_id) : std::nullopt;
    const auto opened =
        is_result(frame) ? wire::decode<wire::result::RemoteOpen>(frame->payload) : std::nullopt;
    return opened ? std::optional(opened->context) : std::nullopt;
}

std::optional<wire::ContextToken> RawClient::open_simulated(std::uint32_t call_id) {
    const auto context = open(call_id);
    const wire::call::NorvoSetProperty on{
        context.value_or(wire::ContextToken{}), service::property_key::simulation_mode, {{1}}};
    if (!context || !answered(call_id, on))
        return std::nullopt;
    return context;
}

bool is_result(const std::optional<wire::ReceivedFrame>& frame) {
    return frame && frame->header.kind == static_cast<std::uint8_t>(wire::FrameKind::Result);
}

wire::RpcStatus fault_of(const std::optional<wire::ReceivedFrame>& frame) {
    if (!frame || frame->header.kind != static_cast<std::uint8_t>(wire::FrameKind::Fault))
        return -1;
    const auto fault = wire::decode<wire::Fault>(frame->payload);
    return fault ? fault->status : -1;
}

}  // namespace norvo::testing
