#pragma once
// One socket of a client's connection, carrying one call at a time: the thread
// that has taken it from the SocketPool alone reads and writes it.

#include <expected>
#include <filesystem>
#include <memory>

#include "norvo/client/connection.hpp"
#include "norvo/posix/unique_fd.hpp"
#include "norvo/wire/interface.hpp"
#include "norvo/wire/socket_io.hpp"
#include "socket_deadline.hpp"

namespace norvo::client {

inline std::unexpected<RpcFailure> failure(wire::RpcStatus code) {
    return std::unexpected(RpcFailure{code});
}

class CallSocket {
  public:
    // Connected, and admitted: the service's Hello names a new association.
    static Result<std::unique_ptr<CallSocket>> dial(const std::filesystem::path& path,
                                                    Clock::time_point by);
    // The first socket of a new association: dialled, and the Hello answered at
    // once, since the service ends a connection that stays silent.
    static Result<std::unique_ptr<CallSocket>> open_association(const std::filesystem::path& path,
                                                                Clock::time_point by);

    explicit CallSocket(posix::UniqueFd socket) : socket_(std::move(socket)), reader_(fd()) {}

    int fd() const { return socket_.get(); }
    wire::FrameReader& reader() { return reader_; }
    // The association the service admitted or joined it to.
    const wire::AssociationKey& association() const { return association_; }

    // The service speaks first: it admits this process or says why not. It
    // answers a Join the same way.
    Result<void> await_hello(wire::Deadline by);

    template <class Message>
    Result<void> send(wire::FrameKind kind, const Message& message, Clock::time_point by) {
        if (!write_by(fd(), wire::make_frame(kind, 0, 0, *wire::encode(message)), by))
            return failure(wire::status::server_unavailable);
        return {};
    }

  private:
    posix::UniqueFd socket_;
    wire::FrameReader reader_;
    wire::AssociationKey association_;  // set by await_hello, before the pool shares it
};

}  // namespace norvo::client
