// Many clients at once: open, set, query, start, phone, stop and close on
// shared and separate contexts. Run under ThreadSanitizer to catch races.

#include "norvo/log_capture.hpp"
#include "norvo/service/procedures.hpp"
#include "support/fake_runtime.hpp"
#include "support/start_harness.hpp"

#include <gtest/gtest.h>

#include <array>
#include <thread>

namespace {

using namespace norvo::service;

constexpr std::array<std::uint8_t, 6> kPhonePacket{1, 0, 1, 0, 0, 0};

bool is_result_code(HRESULT r) {
    return r == hr::ok || r == hr::invalid_arg || r == hr::unexpected || r == hr::abort;
}

void set_byte(ClientContext& c, PropertyKey key, std::uint8_t value) {
    const std::uint8_t bytes[] = {value};
    EXPECT_EQ(NorvoSetProperty(c, key, bytes), hr::ok);
}

// One client's session: a sensor run in simulation mode with calls on the same
// handle from this thread while the start call is outstanding on another.
void client_session(norvo::testing::FakeRuntime& runtime, int id, int rounds) {
    for (int round = 0; round < rounds; ++round) {
        ContextHandle handle;
        RemoteOpen(handle);
        set_byte(*handle, 2, 1);
        set_byte(*handle, 8, static_cast<std::uint8_t>(round % 2));
        const std::uint8_t range[] = {static_cast<std::uint8_t>(id), 1, 0, 0};
        EXPECT_EQ(NorvoSetProperty(*handle, 3, range), hr::ok);
        const std::uint8_t agent[] = {'c', static_cast<std::uint8_t>('0' + id)};
        EXPECT_EQ(NorvoSetProperty(*handle, 7, agent), hr::ok);

        norvo::testing::RecordingCallbacks callbacks;
        norvo::testing::RunningStart run(*handle, static_cast<std::uint64_t>(id), callbacks,
                                         *runtime.clock);
        callbacks.wait_for_calls(1);  // the loop is running
        for (int i = 0; i < 5; ++i) {
            EXPECT_TRUE(is_result_code(NorvoReceiveClientEvent(*handle, kPhonePacket)));
            std::int32_t size = 0;
            std::array<std::uint8_t, 8> buffer{};
            EXPECT_EQ(NorvoQueryProperty(*handle, 3, size, std::span<std::uint8_t>(buffer)),
                      hr::ok);
            EXPECT_EQ(size, 4);
            EXPECT_TRUE(is_result_code(NorvoQueryProperty(*handle, 4, size, std::nullopt)));
            EXPECT_TRUE(is_result_code(NorvoQueryProperty(*handle, 5, size, std::nullopt)));
        }
        if (round % 2 == 0) {
            EXPECT_TRUE(is_result_code(NorvoStopSensor(*handle)));
        }
        RemoteClose(handle);
        EXPECT_FALSE(handle);
        EXPECT_EQ(run.join(), hr::ok);
    }
}

TEST(Concurrency, ManyClientsOpenSetQueryStartStopAndCloseAtOnce) {
    auto& runtime = norvo::testing::FakeRuntime::get();
    norvo::log::set_sink(nullptr);  // keep the run about the procedures, not the sink
    const auto users_before = connected_user_count.load();
    std::vector<std::thread> clients;
    for (int id = 0; id < 8; ++id) clients.emplace_back(client_session, std::ref(runtime), id, 10);
    for (auto& t : clients) t.join();
    EXPECT_EQ(connected_user_count.load(), users_before);
    process_ignore_unidentified_clients()->set(false);
}

}  // namespace
