#include "iio_sample_device.hpp"

#include <fmt/format.h>

#include "device_hub.hpp"
#include "norvo/detect/tap_options.hpp"
#include "norvo/linux/tap_delivery.hpp"
#include "norvo/log.hpp"
#include "timer_fd.hpp"

namespace norvo::linux_platform {
namespace {

constexpr log::Target kLog{"norvo_linux::iio_tap_sensor"};
// A device that sends nothing for this long while it runs is said to.
constexpr std::chrono::seconds kSilence{2};

double seconds(std::chrono::nanoseconds t) {
    return std::chrono::duration<double>(t).count();
}

// Adding this to a time on `clock` gives the monotonic clock's.
std::chrono::nanoseconds to_monotonic(clockid_t clock) {
    if (clock == CLOCK_MONOTONIC)
        return {};
    return now_on(CLOCK_MONOTONIC) - now_on(clock);
}

std::expected<posix::UniqueFd, posix::PosixError> watched_timer(const posix::EpollLoop& loop) {
    auto timer = monotonic_timer();
    if (!timer.valid())
        return std::unexpected(posix::last_error("timerfd_create"));
    if (auto watched = loop.watch(timer.get()); !watched)
        return std::unexpected(watched.error());
    return timer;
}

}  // namespace

class IioSampleDevice::Run {
  public:
    Run(const std::string& name, std::unique_ptr<IioBuffer> buffer, posix::UniqueFd read_timer,
        posix::UniqueFd delivery_timer, const detect::TapParameters& taps,
        std::chrono::milliseconds read_period, const posix::EpollLoop& loop)
        : name_(name),
          buffer_(std::move(buffer)),
          read_timer_(std::move(read_timer)),
          delivery_timer_(std::move(delivery_timer)),
          taps_(taps, delivery_delay(taps, buffer_->rate_hz(), read_period, buffer_->batch())),
          loop_(loop),
          last_samples_(now_on(CLOCK_MONOTONIC)) {
        run_every(read_timer_.get(), read_period);
    }
    ~Run() {
        loop_.unwatch(read_timer_.get());
        loop_.unwatch(delivery_timer_.get());
    }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    const IioBuffer& buffer() const { return *buffer_; }
    std::chrono::nanoseconds delay() const { return taps_.delay(); }

    // False once the device has gone or cannot be read.
    bool ready(int fd) {
        if (fd == read_timer_.get()) {
            drain(fd);
            if (!read())
                return false;
        } else if (fd == delivery_timer_.get()) {
            drain(fd);
        } else {
            return true;
        }
        deliver();
        return true;
    }

  private:
    bool read() {
        auto read = buffer_->read();
        if (!read) {
            if (read.error().code != ENODEV)
                kLog.error("Reading IIO accelerometer {} failed: {}", name_, read.error());
            return false;
        }
        if (read->split_record && !told_split_) {
            told_split_ = true;
            kLog.warn(
                "IIO accelerometer {} gave part of a {}-byte record: the rest is taken from "
                "the next read",
                name_, *read->split_record);
        }
        const auto now = now_on(CLOCK_MONOTONIC);
        if (read->samples.empty()) {
            if (!silent_ && now - last_samples_ >= kSilence) {
                silent_ = true;
                kLog.warn("IIO accelerometer {} sends no samples", name_);
            }
            return true;
        }
        if (std::exchange(silent_, false))
            kLog.info("IIO accelerometer {} sends samples again", name_);
        last_samples_ = now;
        const auto offset = to_monotonic(buffer_->clock());
        for (const auto& sample : read->samples) taps_.push(sample, offset);
        return true;
    }

    void deliver() {
        for (const auto& due : taps_.take_due(now_on(CLOCK_MONOTONIC))) {
            const auto handed = now_on(CLOCK_MONOTONIC) - due.tap.onset;
            kLog.debug(
                "Tap found in the samples of {}: {} mm/s², handed on {:.3f} s after its "
                "onset{}",
                name_, due.tap.strength, seconds(handed),
                handed > taps_.delay() + std::chrono::milliseconds(5) ? " (late)" : "");
            DeviceHub::instance().report(sensor_device::tap_report(due.tap.strength));
        }
        run_at(delivery_timer_.get(), taps_.next_due());
    }

    const std::string& name_;
    std::unique_ptr<IioBuffer> buffer_;
    posix::UniqueFd read_timer_;
    posix::UniqueFd delivery_timer_;
    TapDelivery taps_;
    const posix::EpollLoop& loop_;
    std::chrono::nanoseconds last_samples_;
    bool silent_ = false;
    bool told_split_ = false;
};

IioSampleDevice::IioSampleDevice(std::string name, Settings settings, const posix::EpollLoop& loop)
    : IioDevice(std::move(name), IioKind::samples), settings_(std::move(settings)), loop_(loop) {}

IioSampleDevice::~IioSampleDevice() = default;

bool IioSampleDevice::ready(int fd) {
    return !run_ || run_->ready(fd);
}

IioDevice::Demand IioSampleDevice::want(bool taps) {
    if (!taps) {
        if (run_) {
            // Said first: whoever sees the node free may look for the line.
            kLog.info("IIO accelerometer {} released: no start wants taps", name());
            run_.reset();
        }
        return Demand::met;
    }
    if (run_)
        return Demand::met;
    const auto failed = [&](const posix::PosixError& error) {
        kLog.error("IIO accelerometer {} not read: {}", name(), error);
        return Demand::failed;
    };
    auto buffer = IioBuffer::open(settings_.folder, settings_.buffer);
    if (!buffer)
        return buffer.error().busy ? Demand::busy : failed(buffer.error().error);
    // A descriptor closed leaves the loop's set with it.
    auto read_timer = watched_timer(loop_);
    if (!read_timer)
        return failed(read_timer.error());
    auto delivery_timer = watched_timer(loop_);
    if (!delivery_timer)
        return failed(delivery_timer.error());
    run_ = std::make_unique<Run>(name(), std::move(*buffer), std::move(*read_timer),
                                 std::move(*delivery_timer), settings_.taps,
                                 settings_.buffer.read_period, loop_);
    const auto& opened = run_->buffer();
    if (opened.refused_rate())
        kLog.warn("IIO accelerometer {} kept {} Hz: {}", name(), opened.rate_hz(),
                  *opened.refused_rate());
    // Below it the detector misses more of the weaker taps (docs/sensor-device.md).
    if (opened.rate_hz() < settings_.buffer.least_rate)
        kLog.warn(
            "IIO accelerometer {} runs at {} Hz, below {} Hz: it misses more of the weaker "
            "taps",
            name(), opened.rate_hz(), settings_.buffer.least_rate);
    kLog.info(
        "IIO accelerometer {} read at {} Hz, its samples timed on the {} clock; taps reach "
        "the service {:.3f} s after their onset",
        name(), opened.rate_hz(), opened.clock_name(), seconds(run_->delay()));
    kLog.debug("Tap detector on {}: {}", name(), detect::describe(settings_.taps));
    return Demand::met;
}

}  // namespace norvo::linux_platform
