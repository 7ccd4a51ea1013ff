#pragma once
// The transport's one event thread: accepts and admits clients, reads every
// connection's frames and serves the calls that never wait, flushes what waits
// to be written, ends connections that send nothing in time, and hands each
// ended connection's rundown to a worker. An idle connection costs no thread.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <thread>
#include <unordered_map>
#include "norvo/mutex.hpp"

#include "norvo/posix/descriptor_reserve.hpp"
#include "norvo/posix/unique_fd.hpp"

namespace norvo::transport {

struct ServerState;
class Connection;

class Reactor {
  public:
    // None when its descriptors or its thread cannot be had.
    static std::unique_ptr<Reactor> start(ServerState& state, int listening_socket);
    // Ends every connection (their rundowns go to the workers) and joins.
    ~Reactor();
    Reactor(const Reactor&) = delete;
    Reactor& operator=(const Reactor&) = delete;

    // Returns once no further client will be accepted.
    void stop_accepting();

  private:
    using Clock = std::chrono::steady_clock;
    using Connections = std::unordered_map<std::uint64_t, std::shared_ptr<Connection>>;

    Reactor(ServerState& state, int listening_socket);
    bool watch(int fd, std::uint64_t key);
    void run();
    bool take_requests();  // false once told to end
    void accept_one();
    void admit(posix::UniqueFd socket);
    void out_of_descriptors();
    void pause_accepting();
    void resume_accepting();
    void serve(std::uint64_t key, std::uint32_t events);
    void end(Connections::iterator connection);
    void end_silent_connections();
    void forget_answered_deadlines();
    void arm(int timer, Clock::time_point at);

    ServerState& state_;
    int listening_;
    posix::UniqueFd epoll_;
    posix::UniqueFd wake_;
    posix::UniqueFd deadline_timer_;
    posix::UniqueFd backoff_timer_;
    // Given up to take a client off the queue when descriptors have run out.
    posix::DescriptorReserve reserve_;

    // The reactor thread's alone.
    Connections connections_;
    std::deque<std::pair<Clock::time_point, std::uint64_t>> deadlines_;
    std::uint64_t next_key_;
    bool accepting_paused_ = false;
    bool out_of_descriptors_ = false;

    Mutex requests_mutex_;
    std::condition_variable requests_done_;
    bool stop_accepting_ GUARDED_BY(requests_mutex_) = false;
    bool accepting_stopped_ GUARDED_BY(requests_mutex_) = false;
    bool ending_ GUARDED_BY(requests_mutex_) = false;

    std::thread thread_;  // last: it uses everything above
};

}  // namespace norvo::transport
