#include <windows.h>

#include <atomic>
#include <thread>

#include "stop_signals.hpp"

namespace norvo::vtapctl {
namespace {

// The console control handler has no context argument: the watch's event, while one runs.
std::atomic<HANDLE> g_stop_event{nullptr};

BOOL WINAPI on_console_control(DWORD control) {
    if (control != CTRL_C_EVENT && control != CTRL_BREAK_EVENT && control != CTRL_CLOSE_EVENT)
        return FALSE;
    const HANDLE stop = g_stop_event.load();
    if (!stop)
        return FALSE;
    SetEvent(stop);
    return TRUE;
}

struct EventHandle {
    HANDLE handle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EventHandle() = default;
    EventHandle(const EventHandle&) = delete;
    EventHandle& operator=(const EventHandle&) = delete;
    ~EventHandle() {
        if (handle)
            CloseHandle(handle);
    }
};

}  // namespace

void block_stop_signals() {}

struct StopSignalWatch::State {
    explicit State(std::function<void()> stop) : on_stop(std::move(stop)) {
        g_stop_event.store(requested.handle);
        SetConsoleCtrlHandler(&on_console_control, TRUE);
        thread = std::thread([this] { watch(); });
    }
    ~State() {
        SetConsoleCtrlHandler(&on_console_control, FALSE);
        g_stop_event.store(nullptr);
    }

    void watch() {
        const HANDLE events[] = {ended.handle, requested.handle};
        if (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1)
            on_stop();
    }

    std::function<void()> on_stop;
    EventHandle ended;
    EventHandle requested;
    std::thread thread;
};

StopSignalWatch::StopSignalWatch(std::function<void()> on_stop)
    : state_(std::make_unique<State>(std::move(on_stop))) {}

StopSignalWatch::~StopSignalWatch() {
    SetEvent(state_->ended.handle);
    state_->thread.join();
}

}  // namespace norvo::vtapctl
