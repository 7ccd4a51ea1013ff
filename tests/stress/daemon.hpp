#pragma once
// The real norvo-vtapd as a child, under the sanitizer options that make any
// report end it, its standard error scanned by a thread of its own.

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "log_scan.hpp"
#include "support/child_process.hpp"

namespace norvo::stress {

class Daemon {
  public:
    // Started and serving: "RpcServer created" has been logged. Null with `why` set otherwise.
    static std::unique_ptr<Daemon> start(const std::filesystem::path& program,
                                         const std::filesystem::path& folder, std::string& why);
    ~Daemon();

    std::filesystem::path endpoint() const { return folder_ / "NorvoVxtRpcEndpoint"; }
    std::filesystem::path sensor_socket() const { return folder_ / "sensor"; }
    pid_t pid() const { return process_->pid(); }
    LogScan& log() { return log_; }

    // SIGTERM, then its exit status once its standard error has ended.
    int stop();

  private:
    Daemon(const std::filesystem::path& program, const std::filesystem::path& folder);
    void read_log();

    std::filesystem::path folder_;
    std::unique_ptr<testing::ChildProcess> process_;
    LogScan log_;
    std::atomic<bool> stopping_{false};
    std::thread reader_;
};

// The options given to every sanitized child: the first report ends the process
// with kSanitizerExit. ASan's quarantine is kept small (16 MiB) so that freed
// memory it holds stops growing within the first round and VmRSS can show leaks.
std::vector<std::string> sanitizer_env();
inline constexpr int kSanitizerExit = 66;

}  // namespace norvo::stress
