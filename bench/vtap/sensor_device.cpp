#include "sensor_device.hpp"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <span>

#include "commands.hpp"
#include "norvo/posix/unix_socket.hpp"
#include "norvo/wire/socket_io.hpp"

namespace norvo::bench {
namespace {

namespace device = linux_platform::sensor_device;

// The device messages of vtap-sensor's own commands.
device::Message command(std::string_view line) {
    return std::get<device::Message>(**vtap_sensor::parse_command(line));
}

}  // namespace

std::expected<SensorDevice, std::string> SensorDevice::enter(const std::filesystem::path& path) {
    const auto address = posix::UnixAddress::of(path);
    if (!address)
        return std::unexpected("device socket path too long");
    auto socket = posix::unix_stream_socket();
    if (!socket || ::connect(socket->get(), address->get(), address->size()) != 0)
        return std::unexpected(std::string("cannot reach the device socket: ") +
                               std::strerror(errno));
    auto enter = std::get<device::Enter>(command("enter"));
    enter.field_count = 2;  // the tap report's two fields
    SensorDevice sensor(std::move(*socket));
    if (!sensor.send_line(device::encode(enter)))
        return std::unexpected("the daemon closed the device socket");
    return sensor;
}

bool SensorDevice::tap() const {
    return send_line(device::encode(command("tap")));
}

bool SensorDevice::no_tap() const {
    return send_line(device::encode(command("notap")));
}

bool SensorDevice::send_line(const std::string& line) const {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(line.data());
    return wire::write_all(socket_.get(), std::span(bytes, line.size()));
}

}  // namespace norvo::bench
