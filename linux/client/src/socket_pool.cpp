#include "socket_pool.hpp"

#include <sys/socket.h>

#include <algorithm>

namespace norvo::client {

namespace status = wire::status;

namespace {

Clock::time_point earliest(wire::Deadline a, Clock::time_point b) {
    return a ? std::min(*a, b) : b;
}

}  // namespace

SocketPool::Lease::Lease(Lease&& other) noexcept
    : pool_(std::exchange(other.pool_, nullptr)), slot_(other.slot_), clean_(other.clean_) {}

// However the call ended, a throwing callback included.
SocketPool::Lease::~Lease() {
    if (pool_)
        pool_->give_back(*slot_, clean_);
}

CallSocket& SocketPool::Lease::socket() const {
    return *slot_->socket;
}

SocketPool::SocketPool(std::filesystem::path endpoint, const Options& options,
                       std::unique_ptr<CallSocket> first)
    : endpoint_(std::move(endpoint)), options_(options), association_(first->association()) {
    slots_.push_back(
        {.socket = std::move(first), .busy = false, .start = false, .idle_since = Clock::now()});
}

void SocketPool::close_all() {
    {
        MutexLock lock(mutex_);
        gone_ = true;
        for (const auto& slot : slots_) {
            if (slot.socket)
                ::shutdown(slot.socket->fd(), SHUT_RDWR);
        }
    }
    returned_.notify_all();
    renewed_.notify_all();
}

std::size_t SocketPool::size() {
    MutexLock lock(mutex_);
    return static_cast<std::size_t>(
        std::ranges::count_if(slots_, [](const Slot& s) { return s.socket != nullptr; }));
}

std::size_t SocketPool::capped() const {
    return static_cast<std::size_t>(
        std::ranges::count_if(slots_, [](const Slot& s) { return !s.start; }));
}

SocketPool::Slot* SocketPool::latest_idle() {
    Slot* latest = nullptr;
    for (auto& slot : slots_) {
        if (!slot.busy && (!latest || slot.idle_since > latest->idle_since))
            latest = &slot;
    }
    return latest;
}

SocketPool::Slot& SocketPool::reserve(bool start) {
    auto& slot = slots_.emplace_back();
    slot.start = start;
    return slot;
}

void SocketPool::erase(const Slot& slot) {
    std::erase_if(slots_, [&](const Slot& held) { return &held == &slot; });
}

void SocketPool::trim_idle(Clock::time_point now) {
    const Slot* kept = latest_idle();
    std::erase_if(slots_, [&](const Slot& s) {
        return !s.busy && &s != kept && now - s.idle_since >= options_.idle_time;
    });
}

Result<SocketPool::Lease> SocketPool::take(bool start, wire::Deadline deadline) {
    auto lease = take_one(start, deadline);
    if (lease && start)
        keep_one_idle();
    return lease;
}

Result<SocketPool::Lease> SocketPool::take_one(bool start, wire::Deadline deadline) {
    MutexLock lock(mutex_);
    for (;;) {
        if (gone_)
            return failure(status::call_failed);
        // An idle socket the service hung up (it restarted, say) is no use.
        std::erase_if(slots_, [](const Slot& s) { return !s.busy && !quiet(s.socket->fd()); });
        if (auto* idle = latest_idle()) {
            idle->busy = true;
            idle->start = start;
            if (start)
                returned_.notify_one();  // room under the cap
            return Lease(*this, *idle);
        }
        if (start || capped() < options_.max_sockets) {
            auto& slot = reserve(start);
            lock.unlock();
            return fill(slot, deadline);
        }
        if (Clock::now() >= *deadline)
            return failure(status::call_cancelled);
        returned_.wait_until(lock.native(), *deadline);
    }
}

Result<SocketPool::Lease> SocketPool::fill(Slot& slot, wire::Deadline deadline) {
    auto opened = open(deadline);
    MutexLock lock(mutex_);
    if (!opened || gone_) {
        erase(slot);
        returned_.notify_one();
        return opened ? failure(status::call_failed) : std::unexpected(opened.error());
    }
    slot.socket = std::move(*opened);
    return Lease(*this, slot);
}

Result<std::unique_ptr<CallSocket>> SocketPool::open(wire::Deadline deadline) {
    const auto by = earliest(deadline, Clock::now() + options_.connect_deadline);
    MutexLock lock(mutex_);
    for (;;) {
        if (!renewed_.wait_until(lock.native(), by,
                                 [&]() REQUIRES(mutex_) { return !renewing_ || gone_; }))
            return failure(status::server_unavailable);
        if (gone_)
            return failure(status::call_failed);
        const auto key = association_;
        lock.unlock();
        auto socket = CallSocket::dial(endpoint_, by);
        if (!socket)
            return socket;
        if (auto sent = (*socket)->send(wire::FrameKind::Join, wire::Join{key}, by); !sent)
            return std::unexpected(sent.error());
        auto joined = (*socket)->await_hello(by);
        if (joined)
            return socket;
        if (joined.error().status != status::access_denied)
            return std::unexpected(joined.error());

        // The service no longer knows the association: it restarted, or ran the
        // association down when its last socket ended. One caller makes a fresh
        // one; its contexts are gone with the old.
        lock.lock();
        if (association_ != key || renewing_)
            continue;
        renewing_ = true;
        lock.unlock();
        auto fresh = CallSocket::open_association(endpoint_, by);
        lock.lock();
        renewing_ = false;
        if (fresh) {
            association_ = (*fresh)->association();
            std::erase_if(slots_, [&](const Slot& s) REQUIRES(mutex_) {
                return !s.busy && s.socket->association() != association_;
            });
        }
        renewed_.notify_all();
        return fresh;
    }
}

void SocketPool::keep_one_idle() {
    Slot* slot = nullptr;
    {
        MutexLock lock(mutex_);
        const bool idle = std::ranges::any_of(slots_, [](const Slot& s) { return !s.busy; });
        if (gone_ || idle || capped() >= options_.max_sockets)
            return;
        slot = &reserve(/*start=*/false);
    }
    // When it fails, a later call tries again; the lease gives it back idle.
    if (auto lease = fill(*slot, Clock::now() + options_.connect_deadline))
        lease->ended_cleanly();
}

void SocketPool::give_back(Slot& slot, bool clean) {
    MutexLock lock(mutex_);
    slot.start = false;  // counted again
    if (!clean || slot.socket->association() != association_ || capped() > options_.max_sockets) {
        erase(slot);
    } else {
        slot.busy = false;
        slot.idle_since = Clock::now();
        trim_idle(slot.idle_since);
    }
    returned_.notify_one();
}

}  // namespace norvo::client
