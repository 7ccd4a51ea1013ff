#include "norvo/linux_host/iio_watch.hpp"

#include <linux/netlink.h>
#include <sys/socket.h>
#include <systemd/sd-device.h>
#include <systemd/sd-event.h>

#include <cerrno>
#include <cstring>

#include "norvo/host/log_targets.hpp"
#include "norvo/posix/error.hpp"

namespace norvo::linux_host {
namespace {

using Change = IioDeviceWatch::Change;

constexpr unsigned kKernelGroup = 1;        // the kernel's uevents; udevd's own go to group 2
constexpr int kReceiveBuffer = 256 * 1024;  // a burst of hot-plug events of every subsystem

struct EventUnref {
    void operator()(sd_event* e) const { sd_event_unref(e); }
};
struct MonitorUnref {
    void operator()(sd_device_monitor* m) const { sd_device_monitor_unref(m); }
};

std::unexpected<posix::PosixError> failed(std::string call, int r) {
    return std::unexpected(posix::PosixError{std::move(call), -r});
}

// The monitor runs on an sd-event loop of its own, whose descriptor the sensor waits on;
// each turn of it hands over the changes queued since.
class UdevEvents final : public IioDeviceWatch {
  public:
    [[nodiscard]] static std::expected<std::unique_ptr<IioDeviceWatch>, posix::PosixError> open() {
        auto watch = std::unique_ptr<UdevEvents>(new UdevEvents);
        sd_event* event = nullptr;
        if (int r = sd_event_new(&event); r < 0)
            return failed("sd_event_new", r);
        watch->event_.reset(event);
        sd_device_monitor* monitor = nullptr;
        if (int r = sd_device_monitor_new(&monitor); r < 0)
            return failed("sd_device_monitor_new", r);
        watch->monitor_.reset(monitor);
        if (int r = sd_device_monitor_filter_add_match_subsystem_devtype(monitor, "iio", nullptr);
            r < 0) {
            return failed("sd_device_monitor_filter_add_match_subsystem_devtype", r);
        }
        if (int r = sd_device_monitor_attach_event(monitor, event); r < 0)
            return failed("sd_device_monitor_attach_event", r);
        if (int r = sd_device_monitor_start(monitor, &UdevEvents::on_device, watch.get()); r < 0)
            return failed("sd_device_monitor_start", r);
        return watch;
    }
    ~UdevEvents() override {
        if (monitor_)
            sd_device_monitor_detach_event(monitor_.get());
    }

    int fd() const override { return sd_event_get_fd(event_.get()); }

    std::expected<std::vector<Change>, posix::PosixError> take() override {
        changes_.clear();
        for (int r; (r = sd_event_run(event_.get(), 0)) != 0;) {
            if (r < 0)
                return failed("sd_event_run", r);
        }
        return std::move(changes_);
    }

  private:
    UdevEvents() = default;

    static int on_device(sd_device_monitor*, sd_device* device, void* self) {
        const char* action = nullptr;
        const char* devpath = nullptr;
        if (sd_device_get_property_value(device, "ACTION", &action) < 0 ||
            sd_device_get_devpath(device, &devpath) < 0) {
            return 0;
        }
        if (auto change = iio_change(action, devpath))
            static_cast<UdevEvents*>(self)->changes_.push_back(std::move(*change));
        return 0;
    }

    std::unique_ptr<sd_event, EventUnref> event_;
    std::unique_ptr<sd_device_monitor, MonitorUnref> monitor_;
    std::vector<Change> changes_;
};

// The kernel's uevents, sent whether udevd runs or not.
class KernelEvents final : public IioDeviceWatch {
  public:
    explicit KernelEvents(posix::UniqueFd socket) : socket_(std::move(socket)) {}

    int fd() const override { return socket_.get(); }

    std::expected<std::vector<Change>, posix::PosixError> take() override {
        std::vector<Change> changes;
        for (;;) {
            sockaddr_nl sender{};
            iovec part{buffer_, sizeof buffer_};
            msghdr message{&sender, sizeof sender, &part, 1, nullptr, 0, 0};
            const ssize_t n = ::recvmsg(socket_.get(), &message, MSG_DONTWAIT);
            if (n < 0 && errno == EAGAIN)
                return changes;
            if (n < 0 && errno == ENOBUFS) {
                host::kHostLog.warn("IIO device events lost: the kernel sent more than was read");
                continue;
            }
            if (n < 0 && errno != EINTR)
                return std::unexpected(posix::last_error("recvmsg"));
            // Only the kernel's own (port 0): any program may send to its own port.
            if (n > 0 && sender.nl_pid == 0 && (message.msg_flags & MSG_TRUNC) == 0) {
                if (auto change = parse_uevent({buffer_, static_cast<std::size_t>(n)}))
                    changes.push_back(std::move(*change));
            }
        }
    }

  private:
    posix::UniqueFd socket_;
    char buffer_[8192];  // a uevent is at most 2 KiB of environment and its header
};

}  // namespace

std::optional<Change> iio_change(std::string_view action, std::string_view devpath) {
    const auto slash = devpath.rfind('/');
    const auto name = slash == std::string_view::npos ? devpath : devpath.substr(slash + 1);
    // A change may have made a device usable (udev's rule run again: its switches, its node).
    if (name.empty() || (action != "add" && action != "change" && action != "remove"))
        return std::nullopt;
    return Change{action != "remove", std::string(name)};
}

std::optional<Change> parse_uevent(std::span<const char> message) {
    std::string_view action, devpath, subsystem;
    std::string_view rest(message.data(), message.size());
    // The header ("add@/devices/...") is followed by the same values as entries.
    rest = rest.substr(std::min(rest.find('\0'), rest.size()));
    while (!rest.empty()) {
        rest.remove_prefix(1);
        const auto entry = rest.substr(0, rest.find('\0'));
        rest.remove_prefix(entry.size());
        const auto equals = entry.find('=');
        if (equals == std::string_view::npos)
            continue;
        const auto key = entry.substr(0, equals);
        const auto value = entry.substr(equals + 1);
        if (key == "ACTION")
            action = value;
        else if (key == "DEVPATH")
            devpath = value;
        else if (key == "SUBSYSTEM")
            subsystem = value;
    }
    if (subsystem != "iio")
        return std::nullopt;
    return iio_change(action, devpath);
}

std::expected<std::unique_ptr<IioDeviceWatch>, posix::PosixError> udev_device_events() {
    return UdevEvents::open();
}

std::expected<std::unique_ptr<IioDeviceWatch>, posix::PosixError> kernel_device_events() {
    posix::UniqueFd socket(
        ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT));
    if (!socket.valid())
        return std::unexpected(posix::last_error("socket(NETLINK_KOBJECT_UEVENT)"));
    ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer);
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = kKernelGroup;
    if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return std::unexpected(posix::last_error("bind(NETLINK_KOBJECT_UEVENT)"));
    return std::make_unique<KernelEvents>(std::move(socket));
}

}  // namespace norvo::linux_host
