#include "norvo/linux/steady_clock.hpp"

#include <condition_variable>

#include "norvo/mutex.hpp"

namespace norvo::linux_platform {
namespace {

class CvWakeup final : public Wakeup {
  public:
    void notify() override {
        {
            MutexLock lock(mutex_);
            notified_ = true;
        }
        cv_.notify_one();
    }

    void wait(std::optional<Instant> deadline) override {
        MutexLock lock(mutex_);
        if (deadline) {
            cv_.wait_until(lock.native(), *deadline, [&]() REQUIRES(mutex_) { return notified_; });
        } else {
            cv_.wait(lock.native(), [&]() REQUIRES(mutex_) { return notified_; });
        }
        notified_ = false;
    }

  private:
    Mutex mutex_;
    std::condition_variable cv_;
    bool notified_ GUARDED_BY(mutex_) = false;
};

}  // namespace

Instant SteadyClock::now() const {
    return std::chrono::steady_clock::now();
}

std::shared_ptr<Wakeup> SteadyClock::make_wakeup() {
    return std::make_shared<CvWakeup>();
}

}  // namespace norvo::linux_platform
