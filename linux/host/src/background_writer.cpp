#include "norvo/linux_host/background_writer.hpp"

#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <utility>

namespace norvo::linux_host {
namespace {

// Gives up on an error: there is nowhere else to write to.
void write_all(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

}  // namespace

BackgroundWriter::BackgroundWriter(int fd, std::size_t capacity, DropNotice notice)
    : state_(std::make_shared<State>(fd, capacity, notice)),
      writer_([state = state_] { run(state); }) {}

BackgroundWriter::~BackgroundWriter() {
    MutexLock lock(state_->mutex);
    state_->stopping = true;
    state_->work.notify_one();
    if (!state_->finished.wait_for(lock.native(), kExitLinger,
                                   [&]() REQUIRES(state_->mutex) { return state_->done; })) {
        lock.unlock();
        writer_.detach();
        return;
    }
    lock.unlock();
    writer_.join();
}

void BackgroundWriter::write(std::string line, bool urgent) {
    MutexLock lock(state_->mutex);
    const auto room = state_->capacity + (urgent ? state_->capacity / kUrgentReserve : 0);
    if (state_->bytes + line.size() > room) {
        ++state_->dropped;
        return;
    }
    const bool idle = state_->entries.empty();
    const bool was_below = !batch_full(*state_);
    if (state_->dropped > 0)
        note_drops(*state_);
    state_->bytes += line.size();
    state_->entries.push_back({std::move(line)});
    // One wake-up starts a batch, another ends it early when it grows large.
    if (idle || (was_below && batch_full(*state_)))
        state_->work.notify_one();
}

bool BackgroundWriter::batch_full(const State& state) {
    return state.bytes >= state.capacity / 4;
}

void BackgroundWriter::note_drops(State& state) {
    if (state.notice != nullptr)
        state.entries.push_back({{}, state.dropped});
    state.dropped = 0;
}

void BackgroundWriter::run(const std::shared_ptr<State>& state) {
    MutexLock lock(state->mutex);
    for (;;) {
        state->work.wait(lock.native(), [&]() REQUIRES(state->mutex) {
            return !state->entries.empty() || state->stopping;
        });
        if (state->entries.empty())
            break;
        // A thread woken per line would cost each logging call a switch on a busy CPU.
        state->work.wait_for(lock.native(), kBatchWindow, [&]() REQUIRES(state->mutex) {
            return state->stopping || batch_full(*state);
        });
        // The batch leaves the queue: room returns while it is written.
        const auto batch = std::exchange(state->entries, {});
        state->bytes = 0;
        lock.unlock();
        // One write per batch: the reader wakes once for many lines.
        std::string text;
        for (const auto& entry : batch)
            text += entry.dropped > 0 ? state->notice(entry.dropped) : entry.line;
        write_all(state->fd, text);
        lock.lock();
        // Lines were dropped while this batch was written and none came since.
        if (state->entries.empty() && state->dropped > 0)
            note_drops(*state);
    }
    state->done = true;
    state->finished.notify_all();
}

}  // namespace norvo::linux_host
