#pragma once
// The sockets of one client connection, shared by every thread that calls
// through it: a call takes a socket to itself and gives it back when it ends.
//
// The cap: at most Options::max_sockets sockets held or being opened for calls
// other than running starts, counted from the sockets themselves and nowhere
// else; a caller beyond it waits for one to come back. A start's socket is
// outside the cap while it runs, and a start makes sure another socket stays
// idle for the calls that stop it. Idle sockets beyond one are closed once idle
// for Options::idle_time. Every socket joins the service's record of this
// client (its association); once the service has forgotten it, one caller
// makes a fresh one.
//
// Any thread. One lock, mutex_, guards every member but the constants; it is
// held only to pick and count, never across a connect, a read or a write.
// Callers wait on returned_ for a socket or room under the cap, and on renewed_
// while another caller makes a fresh association.

#include <condition_variable>
#include <filesystem>
#include <list>
#include <memory>
#include "norvo/mutex.hpp"

#include "call_socket.hpp"

namespace norvo::client {

class SocketPool {
    struct Slot;

  public:
    // A socket taken for one call, given back as the lease ends. One whose call
    // did not end cleanly may still hold that call's frames: it is closed then.
    class Lease {
      public:
        Lease(Lease&& other) noexcept;
        Lease& operator=(Lease&&) = delete;
        ~Lease();

        CallSocket& socket() const;
        void ended_cleanly() { clean_ = true; }

      private:
        friend class SocketPool;
        Lease(SocketPool& pool, Slot& slot) : pool_(&pool), slot_(&slot) {}

        SocketPool* pool_;
        Slot* slot_;
        bool clean_ = false;
    };

    // `first` is the admitted socket of a new association.
    SocketPool(std::filesystem::path endpoint, const Options& options,
               std::unique_ptr<CallSocket> first);

    // An idle socket, the latest used so that the others age; a new one while
    // under the cap; or the first to come back by `deadline`. A start has none.
    [[nodiscard]] Result<Lease> take(bool start, wire::Deadline deadline);
    // Ends every socket now, waking the calls blocked on one; later takes fail
    // with call_failed.
    void close_all();
    // Sockets held now, busy and idle.
    [[nodiscard]] std::size_t size();

  private:
    struct Slot {
        std::unique_ptr<CallSocket> socket;  // none while being opened
        bool busy = true;
        bool start = false;  // running a start, outside the cap
        Clock::time_point idle_since;
    };

    std::size_t capped() const REQUIRES(mutex_);
    Slot* latest_idle() REQUIRES(mutex_);
    // A slot for a socket about to be opened, counted from now so that no
    // other caller passes the cap.
    Slot& reserve(bool start) REQUIRES(mutex_);
    void erase(const Slot& slot) REQUIRES(mutex_);
    void trim_idle(Clock::time_point now) REQUIRES(mutex_);

    Result<Lease> take_one(bool start, wire::Deadline deadline);
    // Opens the socket of `slot`, already counted; the slot goes when that fails.
    Result<Lease> fill(Slot& slot, wire::Deadline deadline);
    // A socket of the association; a fresh association once the service has
    // forgotten this one (it restarted, or every socket of it had ended).
    Result<std::unique_ptr<CallSocket>> open(wire::Deadline deadline);
    // A start holds its socket for the whole run: the calls that stop or close
    // it must find another, even once the service takes no new connections.
    void keep_one_idle() EXCLUDES(mutex_);
    void give_back(Slot& slot, bool clean) EXCLUDES(mutex_);

    const std::filesystem::path endpoint_;
    const Options options_;

    Mutex mutex_;
    std::condition_variable returned_;
    std::condition_variable renewed_;
    wire::AssociationKey association_ GUARDED_BY(mutex_);
    bool renewing_ GUARDED_BY(mutex_) = false;
    std::list<Slot> slots_
        GUARDED_BY(mutex_);  // busy, idle and being opened; a lease points into it
    bool gone_ GUARDED_BY(mutex_) = false;
};

}  // namespace norvo::client
