#include "norvo/linux/iio_tap_sensor.hpp"

#include <fcntl.h>
#include <fmt/format.h>
#include <linux/iio/events.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "device_hub.hpp"
#include "iio_event_device.hpp"
#include "iio_sample_device.hpp"
#include "iio_sysfs.hpp"
#include "norvo/log.hpp"
#include "timer_fd.hpp"

namespace norvo::linux_platform {
namespace {

constexpr log::Target kLog{"norvo_linux::iio_tap_sensor"};
constexpr std::string_view kManufacturer = "Linux IIO";

std::string reason(const IioOpenError& error) {
    if (error.step == IioOpenError::Step::events && error.code == EBUSY)
        return "its events are held by another reader";
    return std::strerror(error.code);
}

double seconds(std::chrono::milliseconds interval) {
    return std::chrono::duration<double>(interval).count();
}

constexpr auto kReady = static_cast<std::int32_t>(SENSOR_STATE_READY);
constexpr auto kNotAvailable = static_cast<std::int32_t>(SENSOR_STATE_NOT_AVAILABLE);

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

std::expected<std::unique_ptr<IioTapSensor>, posix::PosixError> IioTapSensor::open(
    IioSource source) {
    auto loop = posix::EpollLoop::create();
    if (!loop)
        return std::unexpected(loop.error());
    auto timer = monotonic_timer();
    if (!timer.valid())
        return std::unexpected(posix::last_error("timerfd_create"));
    const int demand = DeviceHub::instance().demand_fd();
    if (demand < 0)
        return std::unexpected(posix::PosixError{"the sensor hub has no eventfd", EMFILE});
    for (int fd : {timer.get(), demand, source.watch ? source.watch->fd() : -1}) {
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
        source_.on_presence("", IioKind::taps);
    thread_ = std::thread([this] { run(); });
}

IioTapSensor::~IioTapSensor() {
    loop_.wake();
    thread_.join();
    source_.on_presence = nullptr;  // the owner is going too: nothing to switch to
    drop_device();
}

// The Sensor API's own thread for the device: its events or samples and the sink calls they make.
void IioTapSensor::run() {
    const int demand = DeviceHub::instance().demand_fd();
    const auto ran = loop_.run([&](int fd) {
        if (source_.watch && fd == source_.watch->fd())
            take_changes();
        else if (fd == timer_.get())
            on_timer();
        else if (fd == demand)
            follow_demand();
        else if (device_ && !device_->ready(fd))
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
        if (!change.added && device_ && change.name == device_->name()) {
            drop_device();
            scan(true);  // another present may take its place: an accelerometer after a tap device
        } else if (change.added && !device_) {
            scan(true);
        }
    }
}

void IioTapSensor::on_timer() {
    drain(timer_.get());
    if (device_ && !iio::exists(source_.sysfs_root / device_->name()))
        drop_device();
    if (!device_)
        scan(true);
    else if (held_elsewhere_ == device_->name())
        follow_demand();
}

void IioTapSensor::follow_demand() {
    // Read first: a change after this read signals again.
    drain(DeviceHub::instance().demand_fd());
    if (!device_)
        return;
    const bool wanted = DeviceHub::instance().has_sinks();
    const auto demand = device_->want(wanted);
    if (demand == IioDevice::Demand::busy)
        held_by_another(device_->name(), device_->title() + " not read yet");
    else if (held_elsewhere_ == device_->name())
        held_elsewhere_.clear();
    arm_timer();
    // The runs hear whether taps can come; with none running, the next finds it ready.
    const bool unavailable = wanted && demand != IioDevice::Demand::met;
    if (unavailable != unavailable_) {
        unavailable_ = unavailable;
        DeviceHub::instance().change_state(unavailable ? kNotAvailable : kReady);
    }
}

void IioTapSensor::held_by_another(const std::string& name, std::string_view what) {
    // One line per outage: the retries are silent.
    if (held_elsewhere_ != name) {
        kLog.warn("{}: /dev/{} is held by another program; trying again every {} s", what, name,
                  seconds(source_.retry_interval));
    }
    held_elsewhere_ = name;
}

void IioTapSensor::arm_timer() {
    const bool needed = !source_.watch || !held_elsewhere_.empty();
    const auto interval = source_.watch ? source_.retry_interval : source_.check_interval;
    run_every(timer_.get(), needed ? interval : std::chrono::nanoseconds{});
}

void IioTapSensor::scan(bool quiet) {
    std::vector<std::pair<std::string, IioKind>> candidates;
    if (source_.device.empty()) {
        candidates = iio::tap_sensors(source_.sysfs_root);
    } else if (const auto kind = iio::kind_of(source_.sysfs_root / source_.device)) {
        candidates.emplace_back(source_.device, *kind);
    }
    std::string busy;
    for (const auto& [name, kind] : candidates) {
        const auto entry = try_enter(name, kind);
        if (entry == Entry::busy && busy.empty())
            busy = name;
        if (entry != Entry::entered)
            continue;
        for (const auto& other : candidates) {
            if (other.second != kind)
                kLog.info("IIO accelerometer {} not used: {} reports taps itself", other.first,
                          name);
        }
        break;
    }
    if (!device_ && !busy.empty())
        held_by_another(busy, "IIO device " + busy + " not used yet");
    else
        held_elsewhere_.clear();
    arm_timer();
    if (candidates.empty() && !quiet) {
        const auto where =
            source_.device.empty() ? source_.sysfs_root : source_.sysfs_root / source_.device;
        kLog.warn("No IIO tap device or accelerometer {}: the tap sensor is absent",
                  where.native());
    }
}

IioTapSensor::Entry IioTapSensor::try_enter(const std::string& name, IioKind kind) {
    const auto folder = source_.sysfs_root / name;
    std::string model;
    if (kind == IioKind::samples) {
        auto accelerometer = iio::accelerometer(folder);
        if (!accelerometer) {
            kLog.error("IIO device {} not used: {}", name, accelerometer.error());
            return Entry::unusable;
        }
        model = accelerometer->model;
        device_ = std::make_unique<IioSampleDevice>(
            name,
            IioSampleDevice::Settings{
                folder,
                {.read_period = source_.read_period, .open_node = source_.open_node},
                source_.tap_parameters},
            loop_);
        kLog.info(
            "IIO accelerometer {} ({}) entered: taps are found in its samples, read while "
            "a client waits for taps",
            name, model);
    } else {
        auto prepared = iio::prepare(folder);
        if (!prepared) {
            kLog.error("IIO device {} not used: {}", name, prepared.error());
            return Entry::unusable;
        }
        auto fd = source_.open_events(name);
        if (!fd && fd.error().step == IioOpenError::Step::node && fd.error().code == EBUSY)
            return Entry::busy;
        if (!fd) {
            kLog.error("IIO device {} not used: cannot open its events: {}", name,
                       reason(fd.error()));
            return Entry::unusable;
        }
        if (auto watched = loop_.watch(fd->get()); !watched) {
            kLog.error("IIO device {} not used: {}", name, watched.error());
            return Entry::unusable;
        }
        model = prepared->model;
        device_ = std::make_unique<IioEventDevice>(name, std::move(*fd), prepared->clock.id, loop_);
        kLog.info("IIO tap device {} ({}) entered, its events timed on the {} clock", name, model,
                  prepared->clock.name);
    }
    held_elsewhere_.clear();
    if (source_.on_presence)
        source_.on_presence(name, kind);
    DeviceHub::instance().enter(sensor_device::Enter{kReady, 2, model, std::string(kManufacturer)});
    return Entry::entered;
}

void IioTapSensor::drop_device() {
    if (!device_)
        return;
    // Logged first: the leave wakes runs, and what they report must not precede its cause.
    kLog.info("{} left", device_->title());
    if (held_elsewhere_ == device_->name())
        held_elsewhere_.clear();
    unavailable_ = false;
    device_.reset();
    DeviceHub::instance().leave();
    arm_timer();
    if (source_.on_presence)
        source_.on_presence("", IioKind::taps);
}

}  // namespace norvo::linux_platform
