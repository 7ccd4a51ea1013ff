#include "norvo/linux/iio_tap_sensor.hpp"

#include <fcntl.h>
#include <fmt/format.h>
#include <linux/iio/events.h>
#include <linux/iio/types.h>
#include <sys/ioctl.h>
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
constexpr std::uint16_t kUi4 = 19;  // VT_UI4

std::string reason(int code) {
    if (code == EBUSY)
        return "its events are held by another reader";
    return std::strerror(code);
}

// The same report as the simulated device's tap: the chip gives no strength, so the first
// field is always 0; the second is the tap flag.
sensor_device::Report tap_report() {
    return sensor_device::Report{{{kUi4, {0}}, {kUi4, {1}}}};
}

}  // namespace

std::expected<posix::UniqueFd, int> open_iio_events(const std::string& name) {
    const posix::UniqueFd device(::open(("/dev/" + name).c_str(), O_RDONLY | O_CLOEXEC));
    if (!device.valid())
        return std::unexpected(errno);
    int events = -1;
    if (::ioctl(device.get(), IIO_GET_EVENT_FD_IOCTL, &events) != 0)
        return std::unexpected(errno);
    posix::UniqueFd owned(events);
    if (::fcntl(owned.get(), F_SETFL, O_NONBLOCK) != 0)
        return std::unexpected(errno);
    return owned;
}

// One device whose events are read: its descriptor and the part of a record read so far.
class IioTapSensor::Device {
  public:
    Device(std::string name, posix::UniqueFd fd, clockid_t clock, const posix::EpollLoop& loop)
        : name_(std::move(name)), fd_(std::move(fd)), clock_(clock), loop_(loop) {}
    ~Device() {
        loop_.unwatch(fd_.get());
        if (!pending_.empty())
            kLog.warn("IIO device {}: {} bytes of an incomplete event dropped", name_,
                      pending_.size());
    }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    const std::string& name() const { return name_; }
    int fd() const { return fd_.get(); }

    // False once the device has gone (ENODEV, or the end of a stream) or cannot be read.
    bool read() {
        unsigned char chunk[16 * sizeof(iio_event_data)];
        const ssize_t n = ::read(fd_.get(), chunk, sizeof chunk);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return true;
        if (n < 0 && errno != ENODEV) {
            kLog.error("Reading the events of IIO device {} failed: {}", name_,
                       std::strerror(errno));
        }
        if (n <= 0)
            return false;
        pending_.insert(pending_.end(), chunk, chunk + n);
        std::size_t used = 0;
        for (; pending_.size() - used >= sizeof(iio_event_data); used += sizeof(iio_event_data)) {
            iio_event_data event{};
            std::memcpy(&event, pending_.data() + used, sizeof event);
            handle(event);
        }
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(used));
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
        DeviceHub::instance().report(tap_report());
    }

    std::string name_;
    posix::UniqueFd fd_;
    clockid_t clock_;
    const posix::EpollLoop& loop_;
    std::vector<unsigned char> pending_;
};

std::expected<std::unique_ptr<IioTapSensor>, std::string> IioTapSensor::open(IioSource source) {
    auto loop = posix::EpollLoop::create();
    if (!loop)
        return std::unexpected(fmt::format("{}", loop.error()));
    if (source.watch) {
        if (auto watched = loop->watch(source.watch->fd()); !watched)
            return std::unexpected(fmt::format("{}", watched.error()));
    }
    return std::unique_ptr<IioTapSensor>(new IioTapSensor(std::move(source), std::move(*loop)));
}

IioTapSensor::IioTapSensor(IioSource source, posix::EpollLoop loop)
    : source_(std::move(source)), loop_(std::move(loop)) {
    scan(false);
    thread_ = std::thread([this] { run(); });
}

IioTapSensor::~IioTapSensor() {
    loop_.wake();
    thread_.join();
    drop_device();
}

// The Sensor API's own thread for the device: its events and the sink calls they make.
void IioTapSensor::run() {
    const auto ran = loop_.run([this](int fd) {
        if (source_.watch && fd == source_.watch->fd())
            take_changes();
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
        return;
    }
    for (const auto& change : *changes) {
        if (!change.added && device_ && change.name == device_->name())
            drop_device();
        else if (change.added && !device_)
            scan(true);
    }
}

void IioTapSensor::scan(bool quiet) {
    const auto names = source_.device.empty() ? iio::tap_devices(source_.sysfs_root)
                                              : std::vector<std::string>{source_.device};
    bool found = false;
    for (const auto& name : names) {
        const auto folder = source_.sysfs_root / name;
        if (!std::filesystem::exists(folder))
            continue;
        found = true;
        auto prepared = iio::prepare(folder);
        if (!prepared) {
            kLog.error("IIO device {} not used: {}", name, prepared.error());
            continue;
        }
        auto fd = source_.open_events(name);
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
        kLog.info("IIO tap device {} ({}) entered, its events timed on the {} clock", name,
                  prepared->model, prepared->clock_name);
        DeviceHub::instance().enter(
            sensor_device::Enter{0, 2, prepared->model, std::string(kManufacturer)});
        return;
    }
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
}

}  // namespace norvo::linux_platform
