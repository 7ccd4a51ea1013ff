#pragma once
// A sample accelerometer: the tap detector finds taps in its samples. Its node, which one
// program at a time may hold, is opened and its buffer run only while a start wants taps, and
// both are let go when the last one ends, so that another program (a desktop's orientation
// service) can use the device the rest of the time. Owned and driven by the IIO sensor's thread.

#include <filesystem>
#include <memory>

#include "iio_device.hpp"
#include "norvo/detect/tap_parameters.hpp"
#include "norvo/linux/iio_buffer.hpp"
#include "norvo/posix/epoll_loop.hpp"

namespace norvo::linux_platform {

class IioSampleDevice final : public IioDevice {
  public:
    struct Settings {
        std::filesystem::path folder;
        IioBuffer::Settings buffer;
        detect::TapParameters taps;
    };
    IioSampleDevice(std::string name, Settings settings, const posix::EpollLoop& loop);
    ~IioSampleDevice() override;

    bool ready(int fd) override;
    Demand want(bool taps) override;

  private:
    class Run;  // the buffer read while a start wants taps

    Settings settings_;
    const posix::EpollLoop& loop_;
    std::unique_ptr<Run> run_;
};

}  // namespace norvo::linux_platform
