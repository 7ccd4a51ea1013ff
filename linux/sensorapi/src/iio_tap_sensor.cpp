#include "norvo/linux/iio_tap_sensor.hpp"

#include <fcntl.h>
#include <fmt/format.h>
#include <linux/iio/events.h>
#include <linux/iio/types.h>
#include <sys/ioctl.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "device_hub.hpp"
#include "iio_sysfs.hpp"
#include "norvo/log.hpp"
#include "norvo/posix/error.hpp"

namespace norvo::linux_platform {
namespace {

constexpr log::Target kLog{"norvo_linux::iio_tap_sensor"};
constexpr std::string_view kManufacturer = "Linux IIO";

std::string reason(const IioOpenError& error) {
    if (error.step == IioOpenError::Step::events && error.code == EBUSY)
        return "its events are held by another reader";
    return std::strerror(error.code);
}

bool held_elsewhere(const IioOpenError& error) {
    return error.step == IioOpenError::Step::node && error.code == EBUSY;
}

double seconds(std::chrono::milliseconds interval) {
    return std::chrono::duration<double>(interval).count();
}

}  // namespace

std::expected<posix::UniqueFd, IioOpenError> open_iio_events(const std::string& name) {
    // The node itself is exclusive: while another program holds it, this open is refused.
    const posix::UniqueFd device(::open(("/dev/" + name).c_str(), O_RDONLY | O_CLOEXEC));
    if (!device.valid())
        return std::unexpected(IioOpenError{IioOpenError::Step::node, errno});
    int events = -1;
    if (::ioctl(device.get(), IIO_GET_EVENT_FD_IOCTL, &events) != 0)
        return std::unexpected(IioOpenError{IioOpenError::Step::events, errno});
    posix::UniqueFd owned(events);
    if (::fcntl(owned.get(), F_SETFL, O_NONBLOCK) != 0)
        return std::unexpected(IioOpenError{IioOpenError::Step::events, errno});
    return owned;
}

// One device whose events are read: its descriptor. The kernel hands out whole records
// only, and a removed device neither wakes its reader nor ends the stream: only a read
// tells (ENODEV), so the removal comes from device events or the timed check.
class IioTapSensor::Device {
  public:
    Device(std::string name, posix::UniqueFd fd, clockid_t clock, const posix::EpollLoop& loop)
        : name_(std::move(name)), fd_(std::move(fd)), clock_(clock), loop_(loop) {}
    ~Device() { loop_.unwatch(fd_.get()); }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    const std::string& name() const { return name_; }
    int fd() const { return fd_.get(); }

    // False once the device has gone (ENODEV, or the end of a stream) or cannot be read.
    bool read() {
        iio_event_data events[16];
        const ssize_t n = ::read(fd_.get(), events, sizeof events);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return true;
        if (n < 0 && errno != ENODEV) {
            kLog.error("Reading the events of IIO device {} failed: {}", name_,
                       std::strerror(errno));
        }
        if (n <= 0)
            return false;
        for (std::size_t i = 0; i < static_cast<std::size_t>(n) / sizeof events[0]; ++i)
            handle(events[i]);
        return true;
    }

  private:
    void handle(const iio_event_data& event) const {
        if (IIO_EVENT_CODE_EXTRACT_TYPE(event.id) != IIO_EV_TYPE_GESTURE ||
            IIO_EVENT_CODE_EXTRACT_DIR(event.id) != IIO_EV_DIR_SINGLETAP) {
            kLog.debug("Ignored IIO event {:#018x} of {}: not a single tap", event.id, name_);
            return;
        }
        timespec now{};
        ::clock_gettime(clock_, &now);
        const auto age_ns =
            (static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec) - event.timestamp;
        kLog.debug("IIO single tap on {}, {} us after the event", name_, age_ns / 1000);
        DeviceHub::instance().report(sensor_device::tap_report(0));  // the chip measures none
    }

    std::string name_;
    posix::UniqueFd fd_;
    clockid_t clock_;
    const posix::EpollLoop& loop_;
};

std::expected<std::unique_ptr<IioTapSensor>, posix::PosixError> IioTapSensor::open(
    IioSource source) {
    auto loop = posix::EpollLoop::create();
    if (!loop)
        return std::unexpected(loop.error());
    posix::UniqueFd timer(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK));
    if (!timer.valid())
        return std::unexpected(posix::last_error("timerfd_create"));
    for (int fd : {timer.get(), source.watch ? source.watch->fd() : -1}) {
        if (fd < 0)
            continue;
        if (auto watched = loop->watch(fd); !watched)
            return std::unexpected(watched.error());
    }
    return std::unique_ptr<IioTapSensor>(
        new IioTapSensor(std::move(source), std::move(*loop), std::move(timer)));
}

IioTapSensor::IioTapSensor(IioSource source, posix::EpollLoop loop, posix::UniqueFd timer)
    : source_(std::move(source)), loop_(std::move(loop)), timer_(std::move(timer)) {
    scan(false);
    if (!device_ && source_.on_presence)
        source_.on_presence("");
    thread_ = std::thread([this] { run(); });
}

IioTapSensor::~IioTapSensor() {
    loop_.wake();
    thread_.join();
    source_.on_presence = nullptr;  // the owner is going too: nothing to switch to
    drop_device();
}

// The Sensor API's own thread for the device: its events and the sink calls they make.
void IioTapSensor::run() {
    const auto ran = loop_.run([this](int fd) {
        if (source_.watch && fd == source_.watch->fd())
            take_changes();
        else if (fd == timer_.get())
            on_timer();
        else if (device_ && fd == device_->fd() && !device_->read())
            drop_device();
    });
    if (!ran)
        kLog.error("IIO tap sensor failed: {}", std::strerror(ran.error().code));
}

void IioTapSensor::take_changes() {
    auto changes = source_.watch->take();
    if (!changes) {
        kLog.error("IIO hot-plug stopped: {}", changes.error());
        loop_.unwatch(source_.watch->fd());
        source_.watch.reset();
        arm_timer();
        return;
    }
    for (const auto& change : *changes) {
        if (!change.added && device_ && change.name == device_->name())
            drop_device();
        else if (change.added && !device_)
            scan(true);
    }
}

void IioTapSensor::on_timer() {
    std::uint64_t expirations = 0;
    [[maybe_unused]] const auto drained = ::read(timer_.get(), &expirations, sizeof expirations);
    if (device_ && !iio::exists(source_.sysfs_root / device_->name()))
        drop_device();
    if (!device_)
        scan(true);
}

void IioTapSensor::arm_timer() {
    const bool needed = !source_.watch || !held_elsewhere_.empty();
    const auto interval = source_.watch ? source_.retry_interval : source_.check_interval;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(interval).count();
    const timespec every{static_cast<time_t>(ns / 1'000'000'000),
                         static_cast<long>(ns % 1'000'000'000)};
    const itimerspec spec{needed ? every : timespec{}, needed ? every : timespec{}};
    ::timerfd_settime(timer_.get(), 0, &spec, nullptr);
}

void IioTapSensor::scan(bool quiet) {
    const auto names = source_.device.empty() ? iio::tap_devices(source_.sysfs_root)
                                              : std::vector<std::string>{source_.device};
    bool found = false;
    std::string busy;
    for (const auto& name : names) {
        const auto folder = source_.sysfs_root / name;
        if (!iio::exists(folder))
            continue;
        found = true;
        auto prepared = iio::prepare(folder);
        if (!prepared) {
            kLog.error("IIO device {} not used: {}", name, prepared.error());
            continue;
        }
        auto fd = source_.open_events(name);
        if (!fd && held_elsewhere(fd.error())) {
            // One line per outage: the retries are silent.
            if (held_elsewhere_ != name) {
                kLog.warn(
                    "IIO device {} not used yet: /dev/{} is held by another program; trying "
                    "again every {} s",
                    name, name, seconds(source_.retry_interval));
            }
            if (busy.empty())
                busy = name;
            continue;
        }
        if (!fd) {
            kLog.error("IIO device {} not used: cannot open its events: {}", name,
                       reason(fd.error()));
            continue;
        }
        if (auto watched = loop_.watch(fd->get()); !watched) {
            kLog.error("IIO device {} not used: {}", name, watched.error());
            continue;
        }
        device_ = std::make_unique<Device>(name, std::move(*fd), prepared->clock, loop_);
        held_elsewhere_.clear();
        arm_timer();
        kLog.info("IIO tap device {} ({}) entered, its events timed on the {} clock", name,
                  prepared->model, prepared->clock_name);
        if (source_.on_presence)
            source_.on_presence(name);
        DeviceHub::instance().enter(
            sensor_device::Enter{0, 2, prepared->model, std::string(kManufacturer)});
        return;
    }
    held_elsewhere_ = busy;
    arm_timer();
    if (!found && !quiet) {
        const auto where =
            source_.device.empty() ? source_.sysfs_root : source_.sysfs_root / source_.device;
        kLog.warn("No IIO tap device {}: the tap sensor is absent", where.native());
    }
}

void IioTapSensor::drop_device() {
    if (!device_)
        return;
    // Logged first: the leave wakes runs, and what they report must not precede its cause.
    kLog.info("IIO tap device {} left", device_->name());
    device_.reset();
    DeviceHub::instance().leave();
    arm_timer();
    if (source_.on_presence)
        source_.on_presence("");
}

}  // namespace norvo::linux_platform
