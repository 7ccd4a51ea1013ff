#pragma once
// The user's request to stop a monitor (Ctrl-C; SIGTERM too on Linux), watched on a thread of
// its own.

#include <functional>
#include <memory>

namespace norvo::vtapctl {

// Linux: blocks SIGINT and SIGTERM so that the watch takes them; call before any thread starts.
void block_stop_signals();

class StopSignalWatch {
  public:
    // Calls `on_stop` once, on the watch's thread, when a stop is requested.
    explicit StopSignalWatch(std::function<void()> on_stop);
    // Ends the watch without calling `on_stop`.
    ~StopSignalWatch();
    StopSignalWatch(const StopSignalWatch&) = delete;
    StopSignalWatch& operator=(const StopSignalWatch&) = delete;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace norvo::vtapctl
