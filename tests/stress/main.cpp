// vtap-stress: many clients at once against a real norvo-vtapd of the same build,
// in rounds. Each round runs its clients as processes of their own (this program
// again, with --worker), waits until the daemon has closed every context and ended
// every start, then checks the connected-user count and reads the daemon's memory.

#include <fmt/format.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <csignal>
#include <random>

#include "daemon.hpp"
#include "memory.hpp"
#include "stress_client.hpp"
#include "tally.hpp"
#include "worker.hpp"

namespace {

using namespace norvo;
using namespace norvo::stress;
namespace fs = std::filesystem;

constexpr std::string_view kUsage =
    "usage: vtap-stress --daemon PATH --sensor PATH [--clients N] [--rounds N] [--seconds S]\n"
    "                   [--steps N] [--seed N] [--deadline-ms N] [--rss-bound-kib N]\n"
    "Runs rounds until both N rounds (default 3) and S seconds (default 0) are done.\n";

// How far VmRSS may rise above round 2. The sanitizers' allocators settle slowly (see
// docs/stress.md for the figures these come from).
#if defined(__SANITIZE_ADDRESS__)
constexpr long kRssBoundKib = 64 * 1024;
#elif defined(__SANITIZE_THREAD__)
constexpr long kRssBoundKib = 192 * 1024;
#else
constexpr long kRssBoundKib = 4 * 1024;
#endif

struct Options {
    fs::path daemon;
    fs::path sensor;
    int clients = 64;
    int rounds = 3;
    int seconds = 0;
    int steps = 12;
    std::uint64_t seed = std::random_device{}();
    std::chrono::milliseconds deadline{10000};
    long rss_bound_kib = kRssBoundKib;
};

template <class T>
bool number(std::string_view text, T& out) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return error == std::errc{} && end == text.data() + text.size();
}

std::optional<Options> parse(std::span<char*> args) {
    Options o;
    long deadline = o.deadline.count();
    for (std::size_t i = 0; i + 1 < args.size(); i += 2) {
        const std::string_view name = args[i];
        const std::string_view value = args[i + 1];
        const bool ok = name == "--daemon"          ? (o.daemon = value, true)
                        : name == "--sensor"        ? (o.sensor = value, true)
                        : name == "--clients"       ? number(value, o.clients)
                        : name == "--rounds"        ? number(value, o.rounds)
                        : name == "--seconds"       ? number(value, o.seconds)
                        : name == "--steps"         ? number(value, o.steps)
                        : name == "--seed"          ? number(value, o.seed)
                        : name == "--deadline-ms"   ? number(value, deadline)
                        : name == "--rss-bound-kib" ? number(value, o.rss_bound_kib)
                                                    : false;
        if (!ok)
            return std::nullopt;
    }
    o.deadline = std::chrono::milliseconds(deadline);
    if (args.size() % 2 != 0 || o.daemon.empty() || o.sensor.empty() || o.clients < 1)
        return std::nullopt;
    return o;
}

std::uint64_t mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

class Driver {
  public:
    Driver(Options options, Daemon& daemon) : o_(std::move(options)), daemon_(daemon) {}

    // The failures of one round, with its figures printed.
    std::vector<std::string> round(int number, testing::ChildProcess& sensor) {
        // Laptop taps and state changes land wherever the clients happen to be.
        sensor.write("state 2\nstate 0\n");
        for (int i = 0; i < 8; ++i) sensor.write("tap\nsleep 30\nnotap\n");
        std::vector<std::unique_ptr<testing::ChildProcess>> workers;
        for (int i = 0; i < o_.clients; ++i) {
            const auto seed = mix(o_.seed ^ mix(static_cast<std::uint64_t>(number) << 32 | i));
            workers.push_back(std::make_unique<testing::ChildProcess>(
                std::vector<std::string>{self_, "--worker", daemon_.endpoint().string(),
                                         std::to_string(seed), std::to_string(o_.steps),
                                         std::to_string(o_.deadline.count())},
                testing::ChildOptions{.env = sanitizer_env()}));
        }
        Tally tally;
        std::vector<std::string> failures;
        for (auto& worker : workers) collect(*worker, tally, failures);
        failures_of_settling(failures);
        const auto status = read_status(daemon_.pid());
        const auto rss = parse_status_field(status, "VmRSS").value_or(0);
        rss_.push_back(rss);
        total_ += tally;
        fmt::print("round {}: {} rss_kib={} threads={}\n", number, format_tally(tally), rss,
                   parse_status_field(status, "Threads").value_or(0));
        std::fflush(stdout);
        return failures;
    }

    const std::vector<long>& rss() const { return rss_; }
    const Tally& total() const { return total_; }

  private:
    void collect(testing::ChildProcess& worker, Tally& tally, std::vector<std::string>& failures) {
        const auto line = worker.take_output("tally ");
        const auto counted = line ? parse_tally(*line) : std::nullopt;
        for (auto& rest : worker.rest_of_output()) {
            if (rest.starts_with("failure "))
                failures.push_back(fmt::format("worker {}: {}", worker.pid(), rest.substr(8)));
        }
        const auto errors = worker.errors();
        const int status = worker.wait();
        if (!counted) {
            failures.push_back(fmt::format("worker {} gave no tally (status {}): {}", worker.pid(),
                                           status, errors));
            return;
        }
        tally += *counted;
        const bool killed_on_purpose = counted->kills == 1 && status == 128 + SIGKILL;
        if (status != 0 && !killed_on_purpose && failures.empty())
            failures.push_back(
                fmt::format("worker {} ended with {}: {}", worker.pid(), status, errors));
    }

    // Every context closed and every start returned; then nobody may be counted.
    void failures_of_settling(std::vector<std::string>& failures) {
        const auto deadline = std::chrono::steady_clock::now() + 3 * o_.deadline;
        if (!daemon_.log().wait_settled(deadline)) {
            const auto c = daemon_.log().counts();
            failures.push_back(
                fmt::format("the daemon did not settle: {} opens, {} closes, {} starts, {} ends",
                            c.opens, c.closes, c.starts, c.ends));
            return;
        }
        const auto users = connected_users();
        if (!users)
            failures.push_back(users.error());
        else if (*users != 0)
            failures.push_back(fmt::format("{} connected users after the round", *users));
    }

    // Key 4 on a fresh context.
    [[nodiscard]] std::expected<std::int32_t, std::string> connected_users() {
        auto client = StressClient::connect(daemon_.endpoint(), o_.deadline);
        if (!client)
            return std::unexpected(client.error());
        const auto context = client->open(o_.deadline);
        if (!context)
            return std::unexpected("the key 4 probe could not open a context");
        const auto query = client->await(client->send(wire::call::NorvoQueryProperty{
                                             *context, 4, wire::PropertyBuffer{{0, 0, 0, 0}}}),
                                         o_.deadline);
        const auto out =
            query ? wire::decode<wire::result::NorvoQueryProperty>(query->payload) : std::nullopt;
        // Unchecked: dropping the connection runs the context down on the daemon anyway.
        (void)client->await(client->send(wire::call::RemoteClose{*context}), o_.deadline);
        if (!out || out->value != 0 || !out->buffer || out->buffer->data.size() != 4)
            return std::unexpected("the key 4 query failed");
        const auto& b = out->buffer->data;
        return static_cast<std::int32_t>(b[0] | b[1] << 8 | b[2] << 16 | b[3] << 24);
    }

    Options o_;
    Daemon& daemon_;
    std::string self_ = fs::read_symlink("/proc/self/exe").string();
    std::vector<long> rss_;
    Tally total_;
};

// Key 8 on: identified clients get PhoneTap callbacks, which is how phone events are counted.
bool identify_clients(const fs::path& socket, std::chrono::milliseconds deadline) {
    auto client = StressClient::connect(socket, deadline);
    if (!client)
        return false;
    const auto context = client->open(deadline);
    if (!context)
        return false;
    const auto set =
        client->await(client->send(wire::call::NorvoSetProperty{*context, 8, {{1}}}), deadline);
    const auto status = set ? wire::decode<wire::result::Status>(set->payload) : std::nullopt;
    return status && status->value == 0;
}

int drive(const Options& o) {
    fmt::print("vtap-stress: seed {} clients {} steps {} deadline {} ms\n", o.seed, o.clients,
               o.steps, o.deadline.count());
    std::string folder = (fs::temp_directory_path() / "norvo-stress-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr)
        return fmt::print(stderr, "vtap-stress: mkdtemp failed\n"), 1;
    std::vector<std::string> failures;
    std::string why;
    auto daemon = Daemon::start(o.daemon, folder, why);
    if (!daemon)
        return fmt::print(stderr, "vtap-stress: {}\n", why), 1;
    testing::ChildProcess sensor(
        {o.sensor.string(), "-q", "--socket", daemon->sensor_socket().string()},
        {.env = sanitizer_env()});
    sensor.write("enter\n");
    if (!identify_clients(daemon->endpoint(), o.deadline))
        failures.push_back("could not turn on key 8");

    Driver driver(o, *daemon);
    const auto began = std::chrono::steady_clock::now();
    for (int n = 1; failures.empty(); ++n) {
        const auto elapsed = std::chrono::steady_clock::now() - began;
        if (n > o.rounds && elapsed >= std::chrono::seconds(o.seconds))
            break;
        failures = driver.round(n, sensor);
    }
    if (failures.empty()) {
        if (auto flat = judge_rss(driver.rss(), o.rss_bound_kib))
            failures.push_back(*flat);
    }
    sensor.close_input();
    if (const int status = sensor.wait(); status != 0)
        failures.push_back(fmt::format("vtap-sensor ended with {}: {}", status, sensor.errors()));
    if (const int status = daemon->stop(); status != 0)
        failures.push_back(fmt::format("the daemon ended with {}", status));
    for (const auto& report : daemon->log().reports()) failures.push_back("sanitizer: " + report);
    std::error_code ignored;
    fs::remove_all(folder, ignored);

    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began);
    fmt::print("total: {} rounds {} in {:.1f} s\n", driver.rss().size(),
               format_tally(driver.total()), seconds.count());
    if (driver.rss().size() >= 2) {
        fmt::print("rss_kib: round 2 {}, last {}, highest {}; bound {} above round 2\n",
                   driver.rss()[1], driver.rss().back(), std::ranges::max(driver.rss()),
                   o.rss_bound_kib);
    }
    for (const auto& failure : failures) fmt::print(stderr, "FAILED: {}\n", failure);
    fmt::print("{}\n", failures.empty() ? "stress passed" : "stress FAILED");
    return failures.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::span<char*> args(argv + 1, static_cast<std::size_t>(argc - 1));
    if (args.size() == 5 && std::string_view(args[0]) == "--worker") {
        WorkerPlan plan{.socket = args[1]};
        long deadline = 0;
        if (number(args[2], plan.seed) && number(args[3], plan.steps) &&
            number(args[4], deadline)) {
            plan.deadline = std::chrono::milliseconds(deadline);
            return run_worker(plan);
        }
    }
    const auto options = parse(args);
    if (!options) {
        fmt::print(stderr, "{}", kUsage);
        return 2;
    }
    return drive(*options);
}
