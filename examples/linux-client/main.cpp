// A companion application in miniature: open a context, read the service's version,
// start a sensor run with the four callbacks, forward one phone tap, stop, close.
// Usage: norvo-vtap-sample [ENDPOINT]   (default /run/norvo-vtap/NorvoVxtRpcEndpoint)
#include <norvo/client/connection.hpp>

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using norvo::client::Connection;

// Callbacks run on the thread that called NorvoStartSensor, one at a time.
class Printer final : public norvo::client::Callbacks {
  public:
    void tap_event(std::int32_t kind, std::uint64_t ts, std::uint64_t cookie) override {
        std::printf("tap event: kind %d at %llu ms, cookie %llu\n", kind,
                    static_cast<unsigned long long>(ts), static_cast<unsigned long long>(cookie));
    }
    void send_client_event(std::span<const std::uint8_t> packet, std::uint64_t) override {
        std::printf("client event: %zu bytes for the phone\n", packet.size());
    }
    void sensor_state_changed(std::uint64_t ts, std::uint16_t state, std::uint64_t) override {
        std::printf("sensor state %u at %llu ms\n", state, static_cast<unsigned long long>(ts));
    }
    // The run has begun (status 0) or could not begin.
    void signal_return(std::int32_t status, std::uint64_t) override {
        std::printf("run started: 0x%x\n", static_cast<unsigned>(status));
        release();
    }
    // Also when the start returned without a callback (the call itself failed).
    void release() {
        const std::lock_guard lock(mutex_);
        started_ = true;
        ready_.notify_all();
    }
    void wait_until_started() {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return started_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable ready_;
    bool started_ = false;
};

int fail(const char* what, const norvo::client::RpcFailure& failure) {
    std::fprintf(stderr, "%s: rpc error %u (%.*s)\n", what, static_cast<unsigned>(failure.status),
                 static_cast<int>(failure.describe().size()), failure.describe().data());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const char* endpoint = argc > 1 ? argv[1] : "/run/norvo-vtap/NorvoVxtRpcEndpoint";
    auto connected = Connection::connect(endpoint);
    if (!connected)
        return fail("connect", connected.error());
    Connection& service = **connected;

    auto context = service.RemoteOpen();
    if (!context)
        return fail("open", context.error());

    // Property 1: four 16-bit little-endian numbers.
    const auto version = service.read_property(*context, 1);
    if (!version)
        return fail("query 1", version.error());
    if (version->value != 0 || version->bytes.size() != 8) {
        std::fprintf(stderr, "query 1: 0x%x\n", static_cast<unsigned>(version->value));
        return 1;
    }
    const auto& b = version->bytes;
    std::printf("service version %u.%u.%u.%u\n", b[0] | b[1] << 8, b[2] | b[3] << 8,
                b[4] | b[5] << 8, b[6] | b[7] << 8);

    Printer callbacks;
    norvo::client::Result<norvo::client::HRESULT> run;
    std::thread runner([&] {
        run = service.NorvoStartSensor(*context, 7, callbacks);
        callbacks.release();
    });
    callbacks.wait_until_started();

    const std::vector<std::uint8_t> phone_tap{1, 0, 1, 0, 0, 0};
    const auto forwarded = service.NorvoReceiveClientEvent(*context, phone_tap);
    const auto stopped = service.NorvoStopSensor(*context);
    runner.join();
    const auto closed = service.RemoteClose(*context);
    if (!forwarded || !stopped || !run || !closed) {
        std::fprintf(stderr, "a call failed\n");
        return 1;
    }
    std::printf("phone tap: 0x%x, stop: 0x%x, run: 0x%x, closed\n",
                static_cast<unsigned>(*forwarded), static_cast<unsigned>(*stopped),
                static_cast<unsigned>(*run));
    return *forwarded == 0 && *stopped == 0 && *run == 0 ? 0 : 1;
}
