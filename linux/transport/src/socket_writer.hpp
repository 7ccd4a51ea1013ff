#pragma once
// The socket of one connection and everything written to it. Any thread may
// send: a frame goes straight to the socket, or waits in a bounded buffer that
// the reactor flushes while it reads nothing more from the client (the
// reactor watches for writing instead of reading while frames wait). A client
// that lets the buffer pass its bound is hung up on.
//
// One lock, mutex_, guards every member but the constants: the socket's
// writes, its closing, the buffer and the watched events. It is held for one
// write that never blocks and for epoll_ctl, never across anything else. The
// reactor thread alone reads the socket (through fd()) and closes it.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>
#include "norvo/mutex.hpp"

#include "norvo/posix/unique_fd.hpp"

namespace norvo::transport {

class SocketWriter {
  public:
    // `socket` is non-blocking; `key` tags its events in `epoll`; `bound` is the
    // most that may wait to be written.
    SocketWriter(posix::UniqueFd socket, int epoll, std::uint64_t key, std::size_t bound);

    // The reactor's, for its reads; valid until close().
    int fd() const { return fd_; }
    // The reactor: watches the socket for reading; false when epoll refuses it.
    bool watch();
    // The reactor: writes what waits; false when the socket failed.
    bool flush();
    // The reactor: stops watching, closes the socket and drops what waits.
    void close();
    // The reactor, when the socket hung up: true when the client left, so that
    // what it sent before is still to be served; false when the service had
    // hung up on it. Either way nothing more is written.
    bool client_left();

    // Any thread: false when the frame will not reach the client.
    bool send(std::span<const std::uint8_t> frame);
    // Whether frames wait to be written.
    bool waiting();
    // Any thread: ends the connection both ways; the reactor then sees the end.
    void hang_up();

  private:
    // Writes what the socket takes now; false when it failed.
    bool write_now(std::span<const std::uint8_t>& bytes) REQUIRES(mutex_);
    void end_writes() REQUIRES(mutex_);
    // Read while nothing waits to be written, else wait to write.
    void watch_for_what_waits() REQUIRES(mutex_);

    const int fd_;
    const int epoll_;
    const std::uint64_t key_;
    const std::size_t bound_;

    Mutex mutex_;
    posix::UniqueFd socket_ GUARDED_BY(mutex_);
    std::vector<std::uint8_t> outgoing_ GUARDED_BY(mutex_);
    std::size_t outgoing_begin_ GUARDED_BY(mutex_) = 0;
    std::uint32_t watched_ GUARDED_BY(mutex_) = 0;
    bool writes_ended_ GUARDED_BY(mutex_) =
        false;  // by a failed write, a hang-up or the client's leaving
    bool hung_up_ GUARDED_BY(mutex_) = false;  // by the service
};

}  // namespace norvo::transport
