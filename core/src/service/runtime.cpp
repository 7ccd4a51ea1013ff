#include "norvo/service/runtime.hpp"

#include "norvo/fatal.hpp"

#include <atomic>

namespace norvo::service {
namespace {

// Written once and never freed, so readers need no lock and no reference count race.
std::atomic<const std::shared_ptr<const Runtime>*> g_runtime{nullptr};

}  // namespace

RuntimeSlot RUNTIME_HANDLE;

void RuntimeSlot::publish(std::shared_ptr<const Runtime> runtime) {
    auto* stored = new std::shared_ptr<const Runtime>(std::move(runtime));
    const std::shared_ptr<const Runtime>* expected = nullptr;
    if (!g_runtime.compare_exchange_strong(expected, stored, std::memory_order_acq_rel)) {
        delete stored;
        fatal("RUNTIME_HANDLE is already initialized");
    }
}

std::shared_ptr<const Runtime> RuntimeSlot::get() const {
    const auto* stored = g_runtime.load(std::memory_order_acquire);
    return stored ? *stored : nullptr;
}

}  // namespace norvo::service
