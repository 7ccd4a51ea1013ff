#pragma once
// The tap sensor the daemon hears, as --sensor chose it: the simulated device socket, an
// IIO device (one that reports taps, or else an accelerometer whose samples the tap detector
// reads), or (auto) the IIO device while one is present and the socket otherwise. Each choice
// is logged with its reason ("Sensor source: ...").

#include <expected>
#include <memory>
#include <string>

#include "norvo/linux/iio_tap_sensor.hpp"
#include "norvo/linux/sensor_device.hpp"
#include "norvo/linux_host/options.hpp"

namespace norvo::linux_host {

class SensorSource {
  public:
    // `iio` is where IIO devices are looked for (iio_source()), unused for the simulated one.
    [[nodiscard]] static std::expected<std::unique_ptr<SensorSource>, std::string> open(
        const RunOptions& options, linux_platform::IioSource iio);
    ~SensorSource();
    SensorSource(const SensorSource&) = delete;
    SensorSource& operator=(const SensorSource&) = delete;

  private:
    explicit SensorSource(std::filesystem::path socket) : socket_path_(std::move(socket)) {}
    // auto: on the IIO sensor's thread, or in its open() before that thread starts.
    void follow(const std::string& device, linux_platform::IioKind kind);

    std::filesystem::path socket_path_;
    bool first_choice_ = true;
    // auto: only while no IIO device is present. Its owner is the IIO sensor's thread
    // while that runs.
    std::unique_ptr<linux_platform::SensorDeviceSocket> socket_;
    std::unique_ptr<linux_platform::IioTapSensor> iio_;
};

}  // namespace norvo::linux_host
