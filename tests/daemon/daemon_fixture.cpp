#include "daemon_fixture.hpp"

#include <fmt/format.h>
#include <sys/stat.h>

#include <charconv>
#include <regex>

namespace norvo::testing {

DaemonTest::DaemonTest() {
    std::string pattern = (std::filesystem::temp_directory_path() / "norvo-e2e-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        ADD_FAILURE() << "mkdtemp failed";
    dir_ = pattern;
}

DaemonTest::~DaemonTest() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::unique_ptr<ChildProcess> DaemonTest::start_daemon(std::vector<std::string> env) {
    auto daemon = run_daemon(endpoint(), sensor_socket(), std::move(env));
    EXPECT_TRUE(daemon->take_error(host_line('6', "RpcServer created"))) << daemon->error_text();
    return daemon;
}

std::unique_ptr<ChildProcess> DaemonTest::run_daemon(const std::string& socket,
                                                     const std::string& sensor,
                                                     std::vector<std::string> env) const {
    std::vector<std::string> argv{NORVO_VTAPD_PATH, "--socket", socket, "--sensor-socket", sensor};
    argv.insert(argv.end(), daemon_options_.begin(), daemon_options_.end());
    return std::make_unique<ChildProcess>(std::move(argv), ChildOptions{.env = std::move(env)});
}

std::unique_ptr<ChildProcess> DaemonTest::session() const {
    return vtapctl({"session"});
}

std::unique_ptr<ChildProcess> DaemonTest::vtapctl(std::vector<std::string> args) const {
    std::vector<std::string> argv{VTAPCTL_PATH, "--socket", endpoint()};
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<ChildProcess>(std::move(argv));
}

// Without --socket: it finds the daemon's sensor socket as in the system folder.
std::unique_ptr<ChildProcess> DaemonTest::sensor(std::vector<std::string> args) const {
    args.insert(args.begin(), VTAP_SENSOR_PATH);
    return std::make_unique<ChildProcess>(
        std::move(args), ChildOptions{.env = {"NORVO_VTAP_TEST_SYSTEM_FOLDER=" + dir_.string(),
                                              "XDG_RUNTIME_DIR="}});
}

std::string host_line(char priority, std::string_view message) {
    return fmt::format("<{}>QuelVextoraService: {}", priority, message);
}

std::string core_line(char priority, std::string_view message) {
    return fmt::format("<{}>vxt_impl::rpc_server: {}", priority, message);
}

std::optional<long> host_count(std::string_view line, std::string_view suffix) {
    const auto prefix = host_line('4', "");
    if (!line.starts_with(prefix) || !line.ends_with(suffix))
        return std::nullopt;
    const auto digits = line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
    long count = 0;
    const auto [end, error] = std::from_chars(digits.begin(), digits.end(), count);
    if (digits.empty() || error != std::errc{} || end != digits.end())
        return std::nullopt;
    return count;
}

std::string without_timestamp(const std::optional<std::string>& line) {
    static const std::regex timestamp(" ts=[0-9]+");
    return line ? std::regex_replace(*line, timestamp, "") : "(none)";
}

}  // namespace norvo::testing
