#include "reactor.hpp"

#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "connection.hpp"
#include "norvo/rpc/log_target.hpp"
#include "server_state.hpp"

namespace norvo::transport {
namespace {

enum Key : std::uint64_t { kWake, kListening, kDeadline, kBackoff, kFirstConnection };

// How long the acceptor rests when descriptors ran out and none of its own
// connection's ending told it that one is free again.
constexpr std::chrono::seconds kRest{1};

void turn_away(const posix::UniqueFd& socket, wire::RpcStatus status) {
    const auto hello = wire::encode(wire::Hello{.status = status});
    // A fresh socket's buffer takes these few bytes without blocking.
    wire::write_all(socket.get(), wire::make_frame(wire::FrameKind::Hello, 0, 0, *hello));
}

std::optional<uid_t> peer_uid(int socket) {
    ucred credentials{};
    socklen_t size = sizeof(credentials);
    if (::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return std::nullopt;
    return credentials.uid;
}

// An eventfd's count or a timer's expiries: read to clear the readiness.
void drain(int fd) {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto n = ::read(fd, &count, sizeof(count));
}

}  // namespace

Reactor::Reactor(ServerState& state, int listening_socket)
    : state_(state),
      listening_(listening_socket),
      epoll_(::epoll_create1(EPOLL_CLOEXEC)),
      wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      deadline_timer_(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK)),
      backoff_timer_(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK)),
      next_key_(kFirstConnection) {}

std::unique_ptr<Reactor> Reactor::start(ServerState& state, int listening_socket) {
    std::unique_ptr<Reactor> reactor(new Reactor(state, listening_socket));
    auto& r = *reactor;
    if (!r.epoll_.valid() || !r.wake_.valid() || !r.deadline_timer_.valid() ||
        !r.backoff_timer_.valid() || !r.reserve_.refill() || !state.rundowns.start_floor() ||
        !r.watch(r.wake_.get(), kWake) || !r.watch(listening_socket, kListening) ||
        !r.watch(r.deadline_timer_.get(), kDeadline) ||
        !r.watch(r.backoff_timer_.get(), kBackoff)) {
        return nullptr;
    }
    try {
        r.thread_ = std::thread([&r] { r.run(); });
    } catch (const std::system_error&) {
        return nullptr;
    }
    ::pthread_setname_np(r.thread_.native_handle(), "vtap-transport");
    return reactor;
}

Reactor::~Reactor() {
    {
        MutexLock lock(requests_mutex_);
        ending_ = true;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wake_.get(), &one, sizeof(one));
    if (thread_.joinable())
        thread_.join();
}

void Reactor::stop_accepting() {
    MutexLock lock(requests_mutex_);
    stop_accepting_ = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wake_.get(), &one, sizeof(one));
    requests_done_.wait(lock.native(),
                        [&]() REQUIRES(requests_mutex_) { return accepting_stopped_; });
}

bool Reactor::watch(int fd, std::uint64_t key) {
    epoll_event event{.events = EPOLLIN, .data = {.u64 = key}};
    return ::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &event) == 0;
}

void Reactor::run() {
    for (bool running = true; running;) {
        epoll_event events[64];
        const int n = ::epoll_wait(epoll_.get(), events, 64, -1);
        if (n < 0 && errno != EINTR) {
            rpc::kLog.error("Transport stopped: epoll_wait failed with errno {}", errno);
            break;
        }
        for (int i = 0; i < n && running; ++i) {
            const auto key = events[i].data.u64;
            if (key == kWake) {
                drain(wake_.get());
                running = take_requests();
            } else if (key == kListening) {
                accept_one();
            } else if (key == kDeadline) {
                drain(deadline_timer_.get());
                end_silent_connections();
            } else if (key == kBackoff) {
                drain(backoff_timer_.get());
                resume_accepting();
            } else {
                serve(key, events[i].events);
            }
        }
    }
    while (!connections_.empty()) end(connections_.begin());
    MutexLock lock(requests_mutex_);
    accepting_stopped_ = true;  // nobody waits for a reactor that has ended
    requests_done_.notify_all();
}

bool Reactor::take_requests() {
    MutexLock lock(requests_mutex_);
    if (stop_accepting_ && !accepting_stopped_) {
        if (listening_ >= 0)
            ::epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, listening_, nullptr);
        listening_ = -1;
        accepting_stopped_ = true;
        requests_done_.notify_all();
    }
    return !ending_;
}

void Reactor::accept_one() {
    posix::UniqueFd socket(::accept4(listening_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!socket.valid()) {
        if (errno == EMFILE || errno == ENFILE)
            out_of_descriptors();
        return;
    }
    out_of_descriptors_ = false;
    admit(std::move(socket));
}

void Reactor::admit(posix::UniqueFd socket) {
    const auto uid = peer_uid(socket.get());
    if (!uid || !state_.policy.admits(*uid))
        return turn_away(socket, wire::status::access_denied);
    auto permit = state_.connections.try_enter(account_of(*uid));
    if (!permit)
        return turn_away(socket, wire::status::server_too_busy);
    const auto key = next_key_++;
    auto connection =
        std::make_shared<Connection>(std::move(socket), state_.associations.open(*uid),
                                     std::move(*permit), state_, epoll_.get(), key);
    if (!connection->greet()) {
        connection->close(state_.associations.leave(connection->association()));
        return;
    }
    connections_.emplace(key, std::move(connection));
    deadlines_.emplace_back(Clock::now() + state_.limits.first_frame_deadline, key);
    if (deadlines_.size() == 1)
        arm(deadline_timer_.get(), deadlines_.front().first);
}

// The queued client would make the listening socket ready at once for ever:
// the reserve takes it off the queue to tell it. Without a reserve the
// acceptor rests until a connection of its own ends, or the backoff.
void Reactor::out_of_descriptors() {
    if (!out_of_descriptors_) {
        out_of_descriptors_ = true;
        rpc::kLog.warn("Out of file descriptors: clients are turned away until some are free");
    }
    const auto refuse = [](const posix::UniqueFd& socket) {
        turn_away(socket, wire::status::out_of_resources);
    };
    if (!reserve_.shed(listening_, refuse))
        pause_accepting();
}

void Reactor::pause_accepting() {
    if (accepting_paused_ || listening_ < 0)
        return;
    epoll_event event{.events = 0, .data = {.u64 = kListening}};
    ::epoll_ctl(epoll_.get(), EPOLL_CTL_MOD, listening_, &event);
    accepting_paused_ = true;
    arm(backoff_timer_.get(), Clock::now() + kRest);
}

void Reactor::resume_accepting() {
    if (!accepting_paused_ || listening_ < 0)
        return;
    (void)reserve_.refill();  // without it the next shortage only rests again
    epoll_event event{.events = EPOLLIN, .data = {.u64 = kListening}};
    ::epoll_ctl(epoll_.get(), EPOLL_CTL_MOD, listening_, &event);
    accepting_paused_ = false;
}

void Reactor::serve(std::uint64_t key, std::uint32_t events) {
    const auto found = connections_.find(key);
    if (found == connections_.end())
        return;
    auto& connection = *found->second;
    bool alive = (events & (EPOLLHUP | EPOLLERR)) == 0;
    if (!alive)
        connection.on_hang_up();
    if (alive && (events & EPOLLIN) != 0)
        alive = connection.on_readable();
    if (alive && (events & EPOLLOUT) != 0)
        alive = connection.on_writable();
    if (!alive)
        end(found);
    forget_answered_deadlines();
}

// Keeps the deadline timer for connections that are still silent: once
// everybody has spoken, an idle service has no timer to wake it.
void Reactor::forget_answered_deadlines() {
    if (deadlines_.empty())
        return;  // the timer is off already: a busy connection pays no timer call
    const auto front = deadlines_.front().second;
    while (!deadlines_.empty()) {
        const auto found = connections_.find(deadlines_.front().second);
        if (found != connections_.end() && !found->second->heard_from())
            break;
        deadlines_.pop_front();
    }
    if (deadlines_.empty()) {
        const itimerspec off{};
        ::timerfd_settime(deadline_timer_.get(), 0, &off, nullptr);
    } else if (deadlines_.front().second != front) {
        arm(deadline_timer_.get(), deadlines_.front().first);
    }
}

// The rundown waits for runs to end, so it never runs here: a worker takes it,
// or the rundown thread when no worker can be had.
void Reactor::end(Connections::iterator found) {
    auto connection = std::move(found->second);
    connections_.erase(found);
    const bool last = state_.associations.leave(connection->association());
    connection->close(last);
    if (last && !state_.workers.submit([connection] { connection->run_down(); }))
        (void)state_.rundowns.submit([connection] { connection->run_down(); });
    resume_accepting();
}

void Reactor::end_silent_connections() {
    const auto now = Clock::now();
    while (!deadlines_.empty() && deadlines_.front().first <= now) {
        const auto key = deadlines_.front().second;
        deadlines_.pop_front();
        if (auto found = connections_.find(key);
            found != connections_.end() && !found->second->heard_from()) {
            end(found);
        }
    }
    if (!deadlines_.empty())
        arm(deadline_timer_.get(), deadlines_.front().first);
}

void Reactor::arm(int timer, Clock::time_point at) {
    const auto since = at.time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
    itimerspec due{};
    due.it_value.tv_sec = seconds.count();
    due.it_value.tv_nsec =
        std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds).count();
    if (due.it_value.tv_sec == 0 && due.it_value.tv_nsec == 0)
        due.it_value.tv_nsec = 1;  // zero would disarm
    ::timerfd_settime(timer, TFD_TIMER_ABSTIME, &due, nullptr);
}

}  // namespace norvo::transport
