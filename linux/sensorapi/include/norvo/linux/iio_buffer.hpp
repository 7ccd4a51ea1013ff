#pragma once
// A sample accelerometer's IIO buffer while it is read: the device's node held (one program
// at a time may hold /dev/iio:deviceN), x, y, z and the timestamp enabled and every other
// channel off, at least `least_rate` asked for where the device offers it, the buffer sized
// for its reader, and enabled. Closing disables the buffer and lets the node go, so that
// another program (a desktop's orientation service) can use the device. Used by one thread.

#include <time.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "norvo/detect/sample.hpp"
#include "norvo/linux/iio_scan.hpp"
#include "norvo/posix/error.hpp"
#include "norvo/posix/unique_fd.hpp"

namespace norvo::linux_platform {

// The node /dev/NAME of a device (by folder name), non-blocking; the errno when it cannot be
// opened (EBUSY: another program holds it).
using IioNodeOpener = std::function<std::expected<posix::UniqueFd, int>(const std::string& name)>;

[[nodiscard]] std::expected<posix::UniqueFd, int> open_iio_node(const std::string& name);

struct IioBufferError {
    bool busy = false;  // another program holds the node: worth trying again later
    posix::PosixError error;
};

class IioBuffer {
  public:
    struct Settings {
        double least_rate = 100;  // Hz
        // How much the reader takes at a time: the buffer holds ten times as much, and a
        // device that gathers samples in a FIFO of its own hands them over at least twice as
        // often.
        std::chrono::milliseconds read_period{100};
        IioNodeOpener open_node = open_iio_node;
    };

    // The device at `folder` (/sys/bus/iio/devices/iio:deviceN).
    [[nodiscard]] static std::expected<std::unique_ptr<IioBuffer>, IioBufferError> open(
        const std::filesystem::path& folder, const Settings& settings);
    // Disables the buffer, then closes the node.
    ~IioBuffer();
    IioBuffer(const IioBuffer&) = delete;
    IioBuffer& operator=(const IioBuffer&) = delete;

    const std::string& model() const { return model_; }
    double rate_hz() const { return rate_hz_; }
    // The rate asked for, when the device refused it (and kept rate_hz()).
    const std::optional<posix::PosixError>& refused_rate() const { return refused_rate_; }
    // How long the device may hold samples in a FIFO of its own before handing them over
    // (a watermark's worth); 0 for one without.
    std::chrono::nanoseconds batch() const;
    clockid_t clock() const { return clock_; }
    const std::string& clock_name() const { return clock_name_; }
    int fd() const { return node_.get(); }

    struct Read {
        std::vector<detect::AccelSample> samples;  // m/s², timed on clock()
        // A read ended inside a record this many bytes long (the kernel never does that); the
        // rest of it is taken from the next read.
        std::optional<std::size_t> split_record;
    };
    // Every whole record queued now, never waiting; the error once the device has gone
    // (ENODEV) or cannot be read.
    [[nodiscard]] std::expected<Read, posix::PosixError> read();

  private:
    // Where a channel lies in a record, and how its value becomes m/s².
    struct Field {
        std::size_t at = 0;
        iio::ChannelType type;
        double scale = 1;
        double offset = 0;
    };
    IioBuffer() = default;
    [[nodiscard]] std::expected<void, posix::PosixError> configure(
        const std::filesystem::path& folder, const Settings& settings);
    [[nodiscard]] std::expected<void, posix::PosixError> choose_rate(
        const std::filesystem::path& rate, const std::filesystem::path& available, double least);
    [[nodiscard]] std::expected<void, posix::PosixError> read_layout(
        const std::filesystem::path& folder);
    void decode(const std::uint8_t* record, std::vector<detect::AccelSample>& out) const;

    std::filesystem::path enable_;  // buffer/enable, set once the buffer runs
    std::string node_name_;         // /dev/iio:deviceN
    posix::UniqueFd node_;
    std::string model_;
    double rate_hz_ = 0;
    std::optional<posix::PosixError> refused_rate_;
    unsigned watermark_ = 1;
    bool device_fifo_ = false;
    clockid_t clock_ = CLOCK_REALTIME;
    std::string clock_name_;
    std::size_t record_size_ = 0;
    std::array<Field, 3> axes_{};
    Field timestamp_;
    std::vector<std::uint8_t> pending_;  // bytes read and not yet decoded
};

}  // namespace norvo::linux_platform
