#pragma once
// The NorvoStartSensor calls running on one connection and the callbacks they
// wait on, which end with the connection as if their client had gone.
//
// One lock, mutex_, guards every member; it is held only to look up and
// change entries, never while a frame is sent or a reply awaited.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>
#include "norvo/mutex.hpp"

#include "norvo/wire/codec.hpp"
#include "norvo/wire/status.hpp"

namespace norvo::transport {

class CallbackWaiter;

class RunRegistry {
  public:
    // The reactor registers a run before it hands the start to a worker.
    std::uint64_t begin_run(const wire::ContextToken& context);
    // From the start's own thread once NorvoStartSensor has returned.
    void end_run(std::uint64_t run);
    // After a callback of `run` failed: true, once, when the run must stop
    // itself because the connection ended before the run reached its loop.
    bool must_stop_itself(std::uint64_t run);

    // A callback of `run`: `send` writes it with the sequence number its reply
    // will carry and says whether it went; then waits for that reply, or
    // call_failed once the connection has ended.
    wire::RpcStatus exchange(std::uint64_t run,
                             const std::function<wire::RpcStatus(std::uint32_t sequence)>& send);
    // The reactor: a reply nobody waits for (late or repeated) is dropped.
    void settle(std::uint32_t sequence, wire::RpcStatus status);

    // Fails every callback waiting for a reply; later ones fail at once.
    // Returns the contexts of the runs in their loop when they are to be
    // stopped by the caller; a run still starting stops itself at its first
    // callback.
    std::vector<wire::ContextToken> end(bool stop_runs);

  private:
    // A run's first callback shows that its stop channel exists.
    enum class RunState { Starting, Looping, Stopped };
    struct Run {
        wire::ContextToken context;
        RunState state = RunState::Starting;
    };

    Mutex mutex_;
    std::map<std::uint32_t, std::shared_ptr<CallbackWaiter>> waiting_ GUARDED_BY(mutex_);
    std::map<std::uint64_t, Run> runs_
        GUARDED_BY(mutex_);  // call ids are the client's: they may repeat
    std::uint64_t next_run_ GUARDED_BY(mutex_) = 0;
    std::uint32_t next_sequence_ GUARDED_BY(mutex_) = 0;
    bool ended_ GUARDED_BY(mutex_) = false;
};

}  // namespace norvo::transport
