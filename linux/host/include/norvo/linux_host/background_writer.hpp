#pragma once
// Lines for a descriptor whose reader may stall (a journal that reads slowly, a pipe
// nobody reads). Callers queue a line and return at once; a thread of the writer's own
// writes the lines in order, in batches gathered for up to kBatchWindow. A full queue drops lines
// and counts them; the count is reported in a line of its own where they were lost, once there is
// room again.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <thread>

#include "norvo/mutex.hpp"

namespace norvo::linux_host {

class BackgroundWriter {
  public:
    // The line that reports `dropped` lost lines; none: losses go unreported.
    using DropNotice = std::string (*)(std::uint64_t dropped);

    // `capacity` bounds the bytes queued; the writer holds at most as many again.
    BackgroundWriter(int fd, std::size_t capacity, DropNotice notice = nullptr);
    // Writes what is queued, giving up after `kExitLinger`: a reader that has stopped
    // must not keep the process from ending. The writer thread is then left to the
    // end of the process, blocked in its write.
    ~BackgroundWriter();
    BackgroundWriter(const BackgroundWriter&) = delete;
    BackgroundWriter& operator=(const BackgroundWriter&) = delete;

    static constexpr std::chrono::seconds kExitLinger{1};
    static constexpr std::chrono::milliseconds kBatchWindow{5};
    static constexpr std::size_t kUrgentReserve = 8;  // a part of the capacity

    // Never waits for the descriptor. `line` carries its own line feed. An urgent line
    // may also take a reserve of an eighth of the capacity, so that a flood of others
    // does not crowd it out.
    void write(std::string line, bool urgent = false);

  private:
    struct Entry {
        std::string line;
        std::uint64_t dropped = 0;  // a drop notice instead of a line
    };
    // Shared with the writer thread, which may outlive this object at exit.
    struct State {
        int fd;
        std::size_t capacity;
        DropNotice notice;
        Mutex mutex;
        std::condition_variable work;      // the writer waits for lines or the end
        std::condition_variable finished;  // the owner waits for the writer at exit
        std::deque<Entry> entries GUARDED_BY(mutex);
        std::size_t bytes GUARDED_BY(mutex) = 0;      // queued
        std::uint64_t dropped GUARDED_BY(mutex) = 0;  // since the last notice
        bool stopping GUARDED_BY(mutex) = false;
        bool done GUARDED_BY(mutex) = false;
    };

    // A quarter of the capacity is queued: the batch is written without waiting longer.
    static bool batch_full(const State& state) REQUIRES(state.mutex);
    // Queues the notice of what was dropped so far.
    static void note_drops(State& state) REQUIRES(state.mutex);
    static void run(const std::shared_ptr<State>& state);

    std::shared_ptr<State> state_;
    std::thread writer_;
};

}  // namespace norvo::linux_host
