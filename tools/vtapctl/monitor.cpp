#include "monitor.hpp"

#include <fmt/format.h>

#include <chrono>
#include <ctime>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

#include "norvo/service/properties.hpp"
#include "norvo/tools/callback_text.hpp"
#include "norvo/tools/property_text.hpp"
#include "results.hpp"
#include "stop_signals.hpp"
#include "tap_pairing.hpp"

namespace norvo::vtapctl {
namespace {

namespace key = service::property_key;

constexpr std::string_view kIdentity = "vtapctl monitor";

std::string local_time() {
    const auto now = std::chrono::system_clock::now();
    const auto seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    return fmt::format("{:02}:{:02}:{:02}.{:03}", local.tm_hour, local.tm_min, local.tm_sec,
                       ms.count());
}

std::string offset_text(std::int64_t laptop_minus_phone) {
    if (laptop_minus_phone >= 0)
        return fmt::format(", laptop {} ms after phone", laptop_minus_phone);
    return fmt::format(", laptop {} ms before phone", -laptop_minus_phone);
}

std::uint64_t process_id() {
#ifdef _WIN32
    return static_cast<std::uint64_t>(_getpid());
#else
    return static_cast<std::uint64_t>(::getpid());
#endif
}

// Sends the stop once a signal has come and the run has begun, in either order.
class StopOnSignal {
  public:
    StopOnSignal(Connection& connection, ContextHandle context, Printer& out)
        : connection_(connection), context_(context), out_(out), watch_([this] { requested(); }) {}

    void run_started() {
        decide([&]() REQUIRES(mutex_) { running_ = true; });
    }

  private:
    void requested() {
        out_.line(fmt::format("{} stopping", local_time()));
        decide([&]() REQUIRES(mutex_) { requested_ = true; });
    }

    template <class Change>
    void decide(Change change) {
        bool send = false;
        {
            MutexLock lock(mutex_);
            change();
            send = running_ && requested_ && !sent_;
            sent_ = sent_ || send;
        }
        if (send)
            (void)connection_.NorvoStopSensor(context_);
    }

    Connection& connection_;
    const ContextHandle context_;
    Printer& out_;
    Mutex mutex_;
    bool running_ GUARDED_BY(mutex_) = false;
    bool requested_ GUARDED_BY(mutex_) = false;
    bool sent_ GUARDED_BY(mutex_) = false;
    StopSignalWatch watch_;  // last: its thread uses everything above
};

class MonitorCallbacks final : public Callbacks {
  public:
    MonitorCallbacks(Printer& out, StopOnSignal& stopper) : out_(out), stopper_(stopper) {}

    void tap_event(std::int32_t kind, std::uint64_t timestamp, std::uint64_t) override {
        std::string offset;
        switch (kind) {
            case 1:
                if (auto apart = pairing_.confirmed())
                    offset = offset_text(*apart);
                return print(fmt::format("confirmed tap at {} ms{}", timestamp, offset));
            case 2:
                pairing_.laptop_tap(timestamp);
                return print(fmt::format("laptop tap at {} ms", timestamp));
            case 3:
                pairing_.phone_tap(timestamp);
                return print(fmt::format("phone tap at {} ms", timestamp));
            case 4:
                pairing_.laptop_tap_expired();
                return print(fmt::format("unconfirmed laptop tap at {} ms", timestamp));
            default:
                return print(fmt::format("tap event {} at {} ms", kind, timestamp));
        }
    }
    void send_client_event(std::span<const std::uint8_t> packet, std::uint64_t) override {
        print(fmt::format("packet for the phone: {}", tools::hex_bytes(packet)));
    }
    void sensor_state_changed(std::uint64_t timestamp, std::uint16_t state,
                              std::uint64_t) override {
        print(fmt::format("sensor state {} at {} ms", tools::sensor_state_text(state), timestamp));
    }
    void signal_return(std::int32_t status, std::uint64_t) override {
        if (status == 0) {
            print("sensor run started; Ctrl-C stops it");
        } else {
            print(fmt::format("sensor run failed: {}", tools::result_code(status)));
        }
        stopper_.run_started();
    }

  private:
    void print(std::string_view event) { out_.line(fmt::format("{} {}", local_time(), event)); }

    Printer& out_;
    StopOnSignal& stopper_;
    TapPairing pairing_;
};

bool set(Connection& connection, const ContextHandle& context, std::int32_t key,
         std::span<const std::uint8_t> value, Printer& out) {
    const auto result = connection.NorvoSetProperty(context, key, value);
    if (result && *result == 0)
        return true;
    out.line(result_line(fmt::format("set {}", key), result));
    return false;
}

}  // namespace

int run_monitor(Connection& connection, const MonitorOptions& options, Printer& out) {
    auto context = connection.RemoteOpen();
    if (!context) {
        out.line(result_line("open", Result<void>(std::unexpected(context.error()))));
        return 1;
    }
    const std::uint8_t on[] = {1};
    const std::vector<std::uint8_t> identity(kIdentity.begin(), kIdentity.end());
    bool ready = set(connection, *context, key::client_id, identity, out) &&
                 set(connection, *context, key::debug_mode, on, out) &&
                 set(connection, *context, key::enable_unconfirmed_taps, on, out);

    std::optional<PropertyValue> switch_before;
    if (ready && options.ignore_unidentified) {
        auto before = read_property(connection, *context, key::ignore_unidentified_clients);
        if (before && before->value == 0)
            switch_before = *before;
        ready = set(connection, *context, key::ignore_unidentified_clients, on, out);
        if (ready) {
            out.line(
                "note: ignore-unidentified-clients is now on for the whole service: clients that "
                "have not identified themselves (key 7) get no confirmed taps while it is on");
        }
    }

    int status = ready ? 0 : 1;
    if (ready) {
        StopOnSignal stopper(connection, *context, out);
        MonitorCallbacks callbacks(out, stopper);
        const auto run = connection.NorvoStartSensor(*context, process_id(), callbacks);
        out.line(fmt::format("{} {}", local_time(), result_line("sensor run ended", run)));
        if (!run || *run != 0)
            status = 1;
    }
    if (switch_before && switch_before->bytes == std::vector<std::uint8_t>{0}) {
        const std::uint8_t off[] = {0};
        if (set(connection, *context, key::ignore_unidentified_clients, off, out))
            out.line("note: ignore-unidentified-clients is off again");
    }
    const auto closed = connection.RemoteClose(*context);
    out.line(result_line("close", closed));
    return closed ? status : 1;
}

}  // namespace norvo::vtapctl
