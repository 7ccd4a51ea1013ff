#include "norvo/linux_host/iio_source.hpp"

#include <fcntl.h>
#include <systemd/sd-device.h>
#include <systemd/sd-event.h>

#include <cerrno>
#include <cstring>

#include "norvo/host/log_targets.hpp"

namespace norvo::linux_host {
namespace {

struct EventUnref {
    void operator()(sd_event* e) const { sd_event_unref(e); }
};
struct MonitorUnref {
    void operator()(sd_device_monitor* m) const { sd_device_monitor_unref(m); }
};

// The monitor runs on an sd-event loop of its own, whose descriptor the sensor waits on;
// each turn of it hands over the changes queued since.
class DeviceEvents final : public linux_platform::IioDeviceWatch {
  public:
    [[nodiscard]] static std::expected<std::unique_ptr<DeviceEvents>, std::string> open() {
        auto watch = std::unique_ptr<DeviceEvents>(new DeviceEvents);
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
        if (int r = sd_device_monitor_start(monitor, &DeviceEvents::on_device, watch.get()); r < 0)
            return failed("sd_device_monitor_start", r);
        return watch;
    }
    ~DeviceEvents() override {
        if (monitor_)
            sd_device_monitor_detach_event(monitor_.get());
    }

    int fd() const override { return sd_event_get_fd(event_.get()); }

    std::expected<std::vector<Change>, std::string> take() override {
        changes_.clear();
        for (int r; (r = sd_event_run(event_.get(), 0)) != 0;) {
            if (r < 0)
                return std::unexpected(fmt::format("sd_event_run: {}", std::strerror(-r)));
        }
        return std::move(changes_);
    }

  private:
    DeviceEvents() = default;

    static std::unexpected<std::string> failed(std::string_view call, int r) {
        return std::unexpected(fmt::format("{}: {}", call, std::strerror(-r)));
    }

    static int on_device(sd_device_monitor*, sd_device* device, void* self) {
        sd_device_action_t action{};
        const char* name = nullptr;
        if (sd_device_get_action(device, &action) < 0 || sd_device_get_sysname(device, &name) < 0)
            return 0;
        if (action == SD_DEVICE_ADD || action == SD_DEVICE_REMOVE)
            static_cast<DeviceEvents*>(self)->changes_.push_back({action == SD_DEVICE_ADD, name});
        return 0;
    }

    std::unique_ptr<sd_event, EventUnref> event_;
    std::unique_ptr<sd_device_monitor, MonitorUnref> monitor_;
    std::vector<Change> changes_;
};

}  // namespace

linux_platform::IioSource iio_source(const RunOptions& options, const char* test_events) {
    linux_platform::IioSource source;
    if (!options.iio_device.empty()) {
        source.sysfs_root = options.iio_device.parent_path();
        source.device = options.iio_device.filename();
    }
    if (test_events != nullptr) {
        source.open_events = [folder = std::filesystem::path(test_events)](
                                 const std::string& name) -> std::expected<posix::UniqueFd, int> {
            posix::UniqueFd fifo(
                ::open((folder / name).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
            if (!fifo.valid())
                return std::unexpected(errno);
            return fifo;
        };
    }
    if (auto watch = DeviceEvents::open())
        source.watch = std::move(*watch);
    else
        host::kHostLog.warn("No IIO hot-plug, only devices present now are seen: {}",
                            watch.error());
    return source;
}

}  // namespace norvo::linux_host
