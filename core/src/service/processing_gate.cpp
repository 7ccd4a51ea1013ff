#include "norvo/service/processing_gate.hpp"

namespace norvo::service {

void ProcessingGate::enter() {
    std::lock_guard lock(mutex_);
    ++running_;
}

void ProcessingGate::leave() {
    {
        std::lock_guard lock(mutex_);
        if (running_ > 0) --running_;
        if (running_ > 0) return;
    }
    cv_.notify_all();
}

bool ProcessingGate::processing() const {
    std::lock_guard lock(mutex_);
    return running_ > 0;
}

}  // namespace norvo::service
