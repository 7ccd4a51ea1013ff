#include "norvo/linux_host/sensor_source.hpp"

#include <fmt/format.h>

#include "norvo/host/log_targets.hpp"

namespace norvo::linux_host {

std::expected<std::unique_ptr<SensorSource>, std::string> SensorSource::open(
    const RunOptions& options, linux_platform::IioSource iio) {
    auto source = std::unique_ptr<SensorSource>(new SensorSource(options.sensor_socket));
    if (options.sensor == SensorKind::simulated) {
        auto socket = linux_platform::SensorDeviceSocket::open(options.sensor_socket);
        if (!socket) {
            // The run's error shows only its outermost message: say here what went wrong.
            host::kHostLog.error("Sensor device socket not opened: {}", socket.error());
            return std::unexpected(socket.error());
        }
        source->socket_ = std::move(*socket);
        host::kHostLog.info("Sensor source: the simulated device socket {} (--sensor simulated)",
                            options.sensor_socket.native());
        return source;
    }
    if (options.sensor == SensorKind::automatic)
        iio.on_presence = [self = source.get()](const std::string& device,
                                                linux_platform::IioKind kind) {
            self->follow(device, kind);
        };
    else
        host::kHostLog.info(
            "Sensor source: an IIO tap device, or else an IIO accelerometer's samples (--sensor "
            "iio)");
    auto sensor = linux_platform::IioTapSensor::open(std::move(iio));
    if (!sensor) {
        host::kHostLog.error("IIO tap sensor not opened: {}", sensor.error());
        return std::unexpected(fmt::format("{}", sensor.error()));
    }
    source->iio_ = std::move(*sensor);
    return source;
}

SensorSource::~SensorSource() {
    iio_.reset();  // first: its thread may open the socket until it ends
}

// A user with a real sensor expects it; without one, the simulated device may play it, and
// does so again when the real one goes (a USB sensor unplugged, a driver unbound).
void SensorSource::follow(const std::string& device, linux_platform::IioKind kind) {
    const auto why = [&](const char* at_start, const char* later) {
        return std::exchange(first_choice_, false) ? at_start : later;
    };
    if (!device.empty()) {
        socket_.reset();  // a connected simulated device leaves first
        if (kind == linux_platform::IioKind::taps)
            host::kHostLog.info("Sensor source: IIO tap device {} (auto: {})", device,
                                why("present at start", "it arrived"));
        else
            host::kHostLog.info(
                "Sensor source: IIO accelerometer {}, taps found in its samples (auto: {}, and "
                "no IIO tap device)",
                device, why("present at start", "it arrived"));
        return;
    }
    const auto reason = why("no IIO tap device or accelerometer present", "the IIO device left");
    auto socket = linux_platform::SensorDeviceSocket::open(socket_path_);
    if (!socket) {
        host::kHostLog.error("Sensor device socket not opened: {}", socket.error());
        return;
    }
    socket_ = std::move(*socket);
    host::kHostLog.info("Sensor source: the simulated device socket {} (auto: {})",
                        socket_path_.native(), reason);
}

}  // namespace norvo::linux_host
