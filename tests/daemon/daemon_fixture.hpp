#pragma once
// The real norvo-vtapd in a temporary folder, and the tools that drive it.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.hpp"

namespace norvo::testing {

class DaemonTest : public ::testing::Test {
  protected:
    DaemonTest();
    ~DaemonTest() override;

    std::filesystem::path path(std::string_view name) const { return dir_ / name; }
    std::string endpoint() const { return path("NorvoVxtRpcEndpoint").string(); }
    std::string sensor_socket() const { return path("sensor").string(); }

    // Started and serving: "RpcServer created" has been logged.
    std::unique_ptr<ChildProcess> start_daemon(std::vector<std::string> env = {});
    // Another daemon, on the sockets given.
    std::unique_ptr<ChildProcess> run_daemon(const std::string& socket, const std::string& sensor,
                                             std::vector<std::string> env = {}) const;
    std::unique_ptr<ChildProcess> session() const;
    std::unique_ptr<ChildProcess> vtapctl(std::vector<std::string> args) const;
    std::unique_ptr<ChildProcess> sensor(std::vector<std::string> args = {}) const;

    std::vector<std::string> daemon_options_;  // given to every daemon after its sockets

  private:
    std::filesystem::path dir_;
};

// A line of the daemon's log: the priority prefix, the host's target, the message.
std::string host_line(char priority, std::string_view message);
std::string core_line(char priority, std::string_view message);

// N of a line "<4>QuelVextoraService: N SUFFIX" (" log records dropped"); none for any other.
std::optional<long> host_count(std::string_view line, std::string_view suffix);

// A callback line with its loop timestamp left out: "TapEvent Confirmed cookie=7".
std::string without_timestamp(const std::optional<std::string>& line);

}  // namespace norvo::testing
