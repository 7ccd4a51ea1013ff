#include "norvo/linux/steady_clock.hpp"

#include <condition_variable>
#include <mutex>

namespace norvo::linux_platform {
namespace {

class CvWakeup final : public Wakeup {
  public:
    void notify() override {
        {
            std::lock_guard lock(mutex_);
            notified_ = true;
        }
        cv_.notify_one();
    }

    void wait(std::optional<Instant> deadline) override {
        std::unique_lock lock(mutex_);
        if (deadline) {
            cv_.wait_until(lock, *deadline, [&] { return notified_; });
        } else {
            cv_.wait(lock, [&] { return notified_; });
        }
        notified_ = false;
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool notified_ = false;
};

}  // namespace

Instant SteadyClock::now() const {
    return std::chrono::steady_clock::now();
}

std::shared_ptr<Wakeup> SteadyClock::make_wakeup() {
    return std::make_shared<CvWakeup>();
}

}  // namespace norvo::linux_platform
