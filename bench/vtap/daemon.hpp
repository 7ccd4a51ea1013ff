#pragma once
// norvo-vtapd as a child of the bench, its sockets and log in a temporary folder.

#include <sys/types.h>

#include <chrono>
#include <expected>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "norvo/posix/unique_fd.hpp"

namespace norvo::bench {

// A folder of its own, removed with what is in it.
class TempFolder {
  public:
    [[nodiscard]] static std::expected<TempFolder, std::string> make();
    TempFolder(TempFolder&& other) noexcept : path_(std::exchange(other.path_, {})) {}
    TempFolder& operator=(TempFolder&&) = delete;
    ~TempFolder();
    const std::filesystem::path& path() const { return path_; }

  private:
    explicit TempFolder(std::filesystem::path path) : path_(std::move(path)) {}
    std::filesystem::path path_;
};

class Daemon {
  public:
    // Started and serving: its log, written to a file that nobody reads during the run,
    // holds "RpcServer created". `guard` only keeps a broken start from hanging.
    [[nodiscard]] static std::expected<std::unique_ptr<Daemon>, std::string> start(
        const std::filesystem::path& program, std::chrono::seconds guard,
        const std::vector<std::string>& arguments = {});
    // Stops the service (SIGTERM) and reaps it; kills it if it has not ended in time.
    ~Daemon();
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    pid_t pid() const { return pid_; }
    std::filesystem::path endpoint() const { return folder_.path() / "NorvoVxtRpcEndpoint"; }
    std::filesystem::path sensor_socket() const { return folder_.path() / "sensor"; }
    std::filesystem::path log_file() const { return folder_.path() / "daemon.log"; }

  private:
    explicit Daemon(TempFolder folder) : folder_(std::move(folder)) {}
    [[nodiscard]] std::expected<void, std::string> spawn(const std::filesystem::path& program,
                                                         const std::vector<std::string>& arguments);
    [[nodiscard]] std::expected<void, std::string> await_serving(std::chrono::seconds guard);

    TempFolder folder_;
    pid_t pid_ = -1;
    posix::UniqueFd pidfd_;
};

}  // namespace norvo::bench
