#include "norvo/service/processing_gate.hpp"

namespace norvo::service {

void ProcessingGate::enter() {
    MutexLock lock(mutex_);
    ++running_;
}

// Notifies under the lock: a waiter may destroy the gate as soon as it sees no start running.
void ProcessingGate::leave() {
    MutexLock lock(mutex_);
    if (running_ > 0)
        --running_;
    if (running_ == 0)
        cv_.notify_all();
}

bool ProcessingGate::processing() const {
    MutexLock lock(mutex_);
    return running_ > 0;
}

}  // namespace norvo::service
