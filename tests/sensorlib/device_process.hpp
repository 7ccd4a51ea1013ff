#pragma once
// The built vtap-sensor as a child process whose standard input a test writes.

#include <sys/types.h>

#include <string>
#include <string_view>

#include "norvo/posix/unique_fd.hpp"

namespace norvo::testing {

class DeviceProcess {
  public:
    explicit DeviceProcess(const std::string& socket_path);
    ~DeviceProcess();
    DeviceProcess(const DeviceProcess&) = delete;
    DeviceProcess& operator=(const DeviceProcess&) = delete;

    void send(std::string_view lines);
    // Ends the tool's input and waits for it: its exit status.
    int finish();
    // Waits for the tool to end by itself, its input still open.
    int wait();

  private:
    pid_t pid_ = -1;
    posix::UniqueFd input_;
};

}  // namespace norvo::testing
