// vtap-sensor: the simulated tap sensor. Reads commands from standard input, one per
// line, and sends them to the service's device socket. The device leaves when the
// input ends (or the tool goes away). `vtap-sensor record` records a real accelerometer.

#include <fmt/format.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "commands.hpp"
#include "norvo/posix/service_folders.hpp"
#include "norvo/posix/unix_socket.hpp"
#include "record.hpp"

namespace {

namespace device = norvo::linux_platform::sensor_device;
using norvo::vtap_sensor::Command;

constexpr std::string_view kUsage =
    "usage: vtap-sensor [-q] [--socket PATH]\n"
    "       vtap-sensor record --iio DEVICE --seconds N [-o FILE]\n"
    "       vtap-sensor -h | --help | --version\n"
    "Without --socket, tries /run/norvo-vtap/sensor (the system service's), then\n"
    "$XDG_RUNTIME_DIR/norvo-vtap/sensor (your own daemon's). Each message sent is\n"
    "shown on standard output as \"sent LINE\" (docs/sensor-device.md); -q shows nothing.\n"
    "Commands on standard input, one per line:\n"
    "  enter [STATE] [MODEL] [MANUFACTURER]   the device is present (STATE 0 by default)\n"
    "  leave                                  the device is absent\n"
    "  state N                                a state change to N\n"
    "  tap | notap                            a report of two UI4 fields: 0 then 1 | 0 then 0\n"
    "  report T:V ...                         a report with these fields (T: Empty Null I2 I4 R4 "
    "R8 UI2 UI4 FILETIME)\n"
    "  fields N                               the field count of the next enter (2 by default)\n"
    "  sleep MS                               wait\n"
    "record: a trace of the IIO accelerometer DEVICE (iio:device0) for vtap-detect;\n"
    "vtap-sensor record --help says more.\n";

// On stdout at once, so that whoever reads it sees each line as it happens.
template <class... Args>
void say(fmt::format_string<Args...> format, Args&&... args) {
    fmt::print(format, std::forward<Args>(args)...);
    std::fflush(stdout);
}

bool send_all(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

class Tool {
  public:
    Tool(int fd, bool quiet) : fd_(fd), quiet_(quiet) {}

    // False when the service has gone.
    bool line(std::string_view text) {
        ++line_number_;
        auto command = norvo::vtap_sensor::parse_command(text);
        if (command && *command)
            command = prepare(**command);
        if (!command) {
            fmt::print(stderr, "vtap-sensor: line {}: {}\n", line_number_, command.error());
            bad_lines_ = true;
            return true;
        }
        if (!*command)
            return true;
        return std::visit([this](auto& c) { return run(c); }, **command);
    }

    bool had_bad_lines() const { return bad_lines_; }

  private:
    // Adds the field count to an enter, and checks a message as the service will.
    [[nodiscard]] std::expected<std::optional<Command>, std::string> prepare(Command command) {
        if (auto* message = std::get_if<device::Message>(&command)) {
            if (auto* enter = std::get_if<device::Enter>(message))
                enter->field_count = fields_;
            auto line = device::encode(*message);
            line.pop_back();
            if (auto checked = device::decode(line); !checked)
                return std::unexpected(checked.error());
        }
        return command;
    }

    bool run(const device::Message& message) {
        const auto line = device::encode(message);
        if (!send_all(fd_, line))
            return false;
        if (!quiet_)
            say("sent {}", line);
        return true;
    }
    bool run(const norvo::vtap_sensor::SetFields& c) {
        fields_ = c.count;
        return true;
    }
    bool run(const norvo::vtap_sensor::Sleep& c) {
        std::this_thread::sleep_for(c.duration);
        return true;
    }

    int fd_;
    bool quiet_;
    std::uint32_t fields_ = 2;
    std::size_t line_number_ = 0;
    bool bad_lines_ = false;
};

// Until standard input ends (0 or 1 for bad lines), or the service closes the socket (1).
int pump(int fd, bool quiet) {
    Tool tool(fd, quiet);
    std::string pending;
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {fd, POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            fmt::print(stderr, "vtap-sensor: poll: {}\n", std::strerror(errno));
            return 1;
        }
        if (fds[1].revents != 0)
            break;  // the service never writes: this is its end
        if (fds[0].revents == 0)
            continue;
        char chunk[4096];
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n > 0)
            pending.append(chunk, static_cast<std::size_t>(n));
        std::size_t start = 0;
        for (std::size_t end; (end = pending.find('\n', start)) != std::string::npos;
             start = end + 1) {
            if (!tool.line(std::string_view(pending).substr(start, end - start))) {
                fmt::print(stderr, "vtap-sensor: the service closed the device socket\n");
                return 1;
            }
        }
        pending.erase(0, start);
        if (n <= 0) {
            if (!pending.empty() && !tool.line(pending))
                break;
            return tool.had_bad_lines() ? 1 : 0;
        }
    }
    fmt::print(stderr, "vtap-sensor: the service closed the device socket\n");
    return 1;
}

// The socket given, or the first of the default ones that answers; says on stderr
// why none did.
std::optional<norvo::posix::UniqueFd> connect(const std::optional<std::string>& given, bool quiet) {
    const auto paths = norvo::posix::client_socket_paths(given, "sensor");
    std::vector<norvo::posix::PosixError> failures;
    for (const auto& path : paths) {
        auto socket = norvo::posix::connect_unix(path);
        if (socket) {
            if (!quiet)
                say("connected to {}\n", path.native());
            return std::move(*socket);
        }
        failures.push_back(socket.error());
    }
    for (const auto& failure : failures) fmt::print(stderr, "vtap-sensor: {}\n", failure);
    // A service runs there, but its socket is not this user's to use.
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (failures[i].code == EACCES) {
            fmt::print(stderr,
                       "vtap-sensor: {} is the service's own: root or the service's account may "
                       "use it (sudo vtap-sensor)\n",
                       paths[i].native());
            return std::nullopt;
        }
    }
    if (!given)
        fmt::print(stderr,
                   "vtap-sensor: is norvo-vtapd running? --socket PATH names its sensor socket\n");
    return std::nullopt;
}

int usage_error(std::string_view reason) {
    fmt::print(stderr, "vtap-sensor: {}\n{}", reason, kUsage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string_view(argv[1]) == "record") {
        const std::vector<std::string_view> args(argv + 2, argv + argc);
        const auto options = norvo::vtap_sensor::parse_record(args);
        if (const auto* status = std::get_if<int>(&options))
            return *status;
        return norvo::vtap_sensor::record(std::get<norvo::vtap_sensor::RecordOptions>(options));
    }
    std::optional<std::string> path;
    bool quiet = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            fmt::print("{}", kUsage);
            return 0;
        }
        if (arg == "--version") {
            fmt::print("vtap-sensor {}\n", NORVO_VERSION);
            return 0;
        }
        if (arg == "-q") {
            quiet = true;
        } else if (arg == "--socket") {
            if (i + 1 == argc || *argv[i + 1] == '\0')
                return usage_error("--socket needs a PATH");
            path = argv[++i];
        } else if (arg.starts_with("--socket=") && arg.size() > 9) {
            path = arg.substr(9);
        } else {
            return usage_error(fmt::format("unknown option '{}'", arg));
        }
    }
    const auto socket = connect(path, quiet);
    if (!socket)
        return 1;
    return pump(socket->get(), quiet);
}
