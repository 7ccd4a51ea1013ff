#include "daemon.hpp"

#include <fmt/format.h>

#include <csignal>

namespace norvo::stress {

std::vector<std::string> sanitizer_env() {
    const auto exit = std::to_string(kSanitizerExit);
    return {
        "ASAN_OPTIONS=halt_on_error=1:exitcode=" + exit +
            ":quarantine_size_mb=16:thread_local_quarantine_size_kb=16:allocator_release_to_os_"
            "interval_ms=100:detect_leaks=1",
        "UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1",
        "LSAN_OPTIONS=exitcode=" + exit,
        "TSAN_OPTIONS=halt_on_error=1:exitcode=" + exit + ":second_deadlock_stack=1",
    };
}

Daemon::Daemon(const std::filesystem::path& program, const std::filesystem::path& folder)
    : folder_(folder),
      process_(std::make_unique<testing::ChildProcess>(
          std::vector<std::string>{program.string(), "--socket", endpoint().string(),
                                   "--sensor-socket", sensor_socket().string()},
          testing::ChildOptions{
              .env = sanitizer_env(), .discard_output = true, .keep_error_lines = false})) {}

std::unique_ptr<Daemon> Daemon::start(const std::filesystem::path& program,
                                      const std::filesystem::path& folder, std::string& why) {
    std::unique_ptr<Daemon> daemon(new Daemon(program, folder));
    if (!daemon->process_->take_error("<6>QuelVextoraService: RpcServer created")) {
        why = "the daemon did not start:\n" + daemon->process_->error_text();
        return nullptr;
    }
    daemon->reader_ = std::thread([d = daemon.get()] { d->read_log(); });
    return daemon;
}

Daemon::~Daemon() {
    if (reader_.joinable()) {
        process_->signal(SIGKILL);
        reader_.join();
    }
}

void Daemon::read_log() {
    // A quiet minute only renews the guard; the stream's end is the daemon's.
    while (!process_->error_ended()) {
        if (auto line = process_->take_error("")) {
            log_.take(*line);
        } else if (stopping_) {
            break;  // a daemon that will not end: wait() kills it
        }
    }
    log_.end();
}

int Daemon::stop() {
    stopping_ = true;
    process_->signal(SIGTERM);
    reader_.join();
    return process_->wait();
}

}  // namespace norvo::stress
