#pragma once
// The simulated tap sensor, driven by the bench itself over the daemon's device socket.

#include <expected>
#include <filesystem>
#include <string>

#include "norvo/posix/unique_fd.hpp"

namespace norvo::bench {

class SensorDevice {
  public:
    // Connects and makes the sensor present.
    [[nodiscard]] static std::expected<SensorDevice, std::string> enter(
        const std::filesystem::path& socket);

    // One data report with the tap flag set.
    bool tap() const;
    // One data report without it: the loop takes it and goes round once, so a
    // confirmation range set before it applies to the taps after it.
    bool no_tap() const;

  private:
    explicit SensorDevice(posix::UniqueFd socket) : socket_(std::move(socket)) {}
    bool send_line(const std::string& line) const;

    posix::UniqueFd socket_;
};

}  // namespace norvo::bench
