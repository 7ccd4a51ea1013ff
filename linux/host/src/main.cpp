// norvo-vtapd: the tap service as a Linux daemon. Prepares fatal-error reporting
// and logging, then runs service main on a thread of its own while this thread
// turns signals into service controls, until the service has stopped.

#include <fmt/format.h>
#include <malloc.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "norvo/caller_limit.hpp"
#include "norvo/host/control_handler.hpp"
#include "norvo/host/log_targets.hpp"
#include "norvo/linux/steady_clock.hpp"
#include "norvo/linux_host/fatal_reporting.hpp"
#include "norvo/linux_host/journal_sink.hpp"
#include "norvo/linux_host/options.hpp"
#include "norvo/linux_host/output_queue.hpp"
#include "norvo/linux_host/service_platform.hpp"
#include "norvo/linux_host/signal_dispatcher.hpp"
#include "norvo/posix/unique_fd.hpp"
#include "norvo/standard_output.hpp"

namespace {

using namespace norvo;

// Calls carry frames of up to 64 KiB. With glibc's default the serving threads' heaps hand such
// buffers back to the kernel as they are freed and fault them in again on the next call: the
// shootdowns interrupt the other cores, which stalls every other client while one floods.
constexpr int kHeapTrimThreshold = 1024 * 1024;

constexpr int kRunFailed = 1;  // systemd's restart policy and the caller see the failure
constexpr int kUsageError = 2;

// The journal and standard output, each behind a queue of its own, and in front of
// both the limit on the lines each client account's calls cause. The facade and the
// writer hold them alone, so that replacing them writes out what is queued.
void install_log(log::Level level) {
    auto journal = std::make_shared<linux_host::JournalSink>(2, level);
    auto limit = std::make_shared<log::CallerLimit>(std::make_shared<linux_platform::SteadyClock>(),
                                                    journal, host::kHostLog.name());
    log::set_sink(std::make_shared<log::CallerLimitedSink>(journal, limit));
    standard_output::set_writer(std::make_shared<log::CallerLimitedOutput>(
        std::make_shared<linux_host::OutputQueue>(), limit));
}

[[noreturn]] void failed_to_start(std::string_view reason) {
    // The report of a composed message holds the location only; the reason goes here.
    fmt::print(stderr, "<3>Failed to start service: {}\n", reason);
    fatal({});
}

std::optional<std::string> notify_socket() {
    const char* socket = std::getenv("NOTIFY_SOCKET");
    if (socket == nullptr || *socket == '\0')
        return std::nullopt;
    return socket;
}

// The default runtime folder may not exist yet; a folder given on the command
// line that cannot be made shows as the socket's own failure. The sockets' own
// folder is made 0755 at most, whatever the umask: a wider one is refused later.
void make_folders(const linux_host::RunOptions& options) {
    std::error_code ignored;
    std::vector<std::filesystem::path> sockets{options.socket};
    if (options.sensor != linux_host::SensorKind::iio)
        sockets.push_back(options.sensor_socket);
    for (const auto& socket : sockets) {
        const auto folder = socket.parent_path();
        std::filesystem::create_directories(folder.parent_path(), ignored);
        ::mkdir(folder.c_str(), 0755);
    }
}

[[nodiscard]] std::expected<void, host::HostError> run_dispatcher(
    const linux_host::SignalDispatcher& dispatcher, linux_host::RunOptions options) {
    auto [sender, receiver] =
        host::blocking_channel<host::ControlEvent>(host::kControlChannelCapacity);
    host::ControlHandler handler(std::move(sender));
    // Until the first status, as before it: every control goes through.
    linux_host::AcceptedControls accepted{host::accept::all};
    linux_host::LinuxServicePlatform platform(std::move(options), std::move(receiver),
                                              notify_socket(), accepted);
    const posix::UniqueFd done(::eventfd(0, EFD_CLOEXEC));
    if (!done.valid())
        failed_to_start("eventfd failed");
    std::expected<void, host::HostError> outcome;
    std::thread service_main([&] {
        outcome = host::run_service(platform);
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(done.get(), &one, sizeof one);
    });
    dispatcher.run(handler, accepted, done.get());
    service_main.join();
    return outcome;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const auto command = linux_host::parse_options(
        args, linux_host::default_folder(::geteuid() == 0, std::getenv("XDG_RUNTIME_DIR")));
    if (!command) {
        fmt::print(stderr, "norvo-vtapd: {}\n{}", command.error(), linux_host::usage());
        return kUsageError;
    }
    if (std::holds_alternative<linux_host::ShowHelp>(*command)) {
        fmt::print("{}", linux_host::usage());
        return 0;
    }
    if (std::holds_alternative<linux_host::ShowVersion>(*command)) {
        fmt::print("norvo-vtapd {}\n", NORVO_VERSION);
        return 0;
    }

    const auto& options = std::get<linux_host::RunOptions>(*command);
    ::mallopt(M_TRIM_THRESHOLD, kHeapTrimThreshold);
    linux_host::install_fatal_reporting("NorvoVTap");
    log::set_max_level(log::Level::Trace);
    install_log(options.log_level);

    std::signal(SIGPIPE, SIG_IGN);  // a client or a log reader that went away is not fatal
    const auto dispatcher = linux_host::SignalDispatcher::install();
    if (!dispatcher)
        failed_to_start(dispatcher.error());
    make_folders(options);
    const auto outcome = run_dispatcher(*dispatcher, options);
    if (!outcome)
        host::kHostLog.error("Exit status {}: {}", kRunFailed, host::error_chain(outcome.error()));
    // What is still queued, and the limit's last summaries, are written now, within each
    // writer's linger.
    log::set_sink(nullptr);
    standard_output::set_writer(nullptr);
    return outcome ? 0 : kRunFailed;
}
