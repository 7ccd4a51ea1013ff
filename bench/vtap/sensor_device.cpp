#include "sensor_device.hpp"

#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>
#include <span>

#include "commands.hpp"

namespace norvo::bench {
namespace {

namespace device = linux_platform::sensor_device;

// The device messages of vtap-sensor's own commands.
device::Message command(std::string_view line) {
    return std::get<device::Message>(**vtap_sensor::parse_command(line));
}

}  // namespace

std::expected<SensorDevice, std::string> SensorDevice::enter(const std::filesystem::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.native().size() >= sizeof(address.sun_path))
        return std::unexpected("device socket path too long");
    std::memcpy(address.sun_path, path.c_str(), path.native().size());
    wire::FileDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket.valid() ||
        ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return std::unexpected(std::string("cannot reach the device socket: ") +
                               std::strerror(errno));
    auto enter = std::get<device::Enter>(command("enter"));
    enter.field_count = 2;  // the tap report's two fields
    SensorDevice sensor(std::move(socket));
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
