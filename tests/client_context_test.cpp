#include "norvo/log_capture.hpp"
#include "norvo/service/client_callbacks.hpp"
#include "norvo/service/procedures.hpp"
#include "norvo/virtual_clock.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

namespace {

using norvo::service::ContextHandle;
using norvo::service::StopMessage;
using testing::ElementsAre;
namespace hr = norvo::service::hr;

constexpr norvo::log::Target kMarker{"test"};

ContextHandle open_context() {
    ContextHandle handle;
    norvo::service::RemoteOpen(handle);
    return handle;
}

// Blocks (without polling) until the receiver yields a message.
template <class T>
T receive(norvo::channel::Receiver<T>& rx) {
    norvo::VirtualClock clock;
    auto wakeup = clock.make_wakeup();
    rx.set_wakeup(wakeup);
    for (;;) {
        if (auto v = rx.try_recv())
            return std::move(*v);
        wakeup->wait(std::nullopt);
    }
}

std::ptrdiff_t index_of(const std::vector<std::string>& lines, const std::string& line) {
    auto it = std::find(lines.begin(), lines.end(), line);
    return it == lines.end() ? -1 : it - lines.begin();
}

TEST(ClientContext, FreshContextsHaveDefaultsAndIndependentCells) {
    auto a = open_context();
    auto b = open_context();
    const auto settings = a->settings->get();
    EXPECT_EQ(settings.version, "1000.113.114.9593");
    EXPECT_EQ(settings.confirmation_range, 500u);
    EXPECT_FALSE(settings.debug_mode || settings.simulation_mode || settings.forward_confirm_tap ||
                 settings.enable_unconfirmed_taps);
    EXPECT_FALSE(a->tap_strength->get());
    EXPECT_FALSE(a->client_id->get());
    EXPECT_FALSE(a->callback_cookie.get());
    EXPECT_NE(a->settings, b->settings);
    EXPECT_EQ(a->ignore_unidentified_clients, b->ignore_unidentified_clients);
    norvo::service::RemoteClose(a);
    norvo::service::RemoteClose(b);
}

TEST(ClientContext, ProcessWideCellIsCreatedOnceEvenWhenFirstOpensRace) {
    std::vector<std::thread> threads;
    std::vector<ContextHandle> handles(8);
    for (auto& h : handles) threads.emplace_back([&h] { norvo::service::RemoteOpen(h); });
    for (auto& t : threads) t.join();
    for (auto& h : handles)
        EXPECT_EQ(h->ignore_unidentified_clients, handles[0]->ignore_unidentified_clients);
    for (auto& h : handles) norvo::service::RemoteClose(h);
}

TEST(RemoteClose, WithoutASensorRunLogsItsLinesInOrder) {
    auto handle = open_context();
    auto sink = norvo::log::CaptureSink::install();
    norvo::service::RemoteClose(handle);
    EXPECT_FALSE(handle);
    EXPECT_THAT(sink->messages(),
                ElementsAre("RemoteClose() called", "NorvoStopSensor() called",
                            "Stop channel not initialized", "Data processing finished",
                            "RemoteClose() finished"));
}

TEST(RemoteClose, NullHandleIsLoggedAndIgnored) {
    ContextHandle handle;
    auto sink = norvo::log::CaptureSink::install();
    norvo::service::RemoteClose(handle);
    EXPECT_THAT(sink->messages(),
                ElementsAre("RemoteClose() called", "RemoteClose() called with null context"));
}

TEST(RemoteClose, RundownReleasesLikeClose) {
    auto handle = open_context();
    std::weak_ptr<norvo::service::ProcessingGate> gate = handle->processing_gate;
    auto sink = norvo::log::CaptureSink::install();
    norvo::service::PCONTEXT_HANDLE_TYPE_rundown(std::move(handle));
    EXPECT_TRUE(gate.expired());
    EXPECT_THAT(sink->messages(),
                ElementsAre("PCONTEXT_HANDLE_TYPE_rundown() called", "RemoteClose() called",
                            "NorvoStopSensor() called", "Stop channel not initialized",
                            "Data processing finished", "RemoteClose() finished"));
}

// Close posts a stop and then waits at the gate until every running start has
// left, overlapping starts included; only then is the context destroyed.
TEST(RemoteClose, WaitsForEveryRunningStartBeforeDestroying) {
    auto handle = open_context();
    auto [stop_tx, stop_rx] = norvo::channel::bounded<StopMessage>(1);
    handle->stop_sender.set(std::move(stop_tx));
    auto gate = handle->processing_gate;
    std::weak_ptr<norvo::service::ProcessingGate> watched = gate;
    gate->enter();
    gate->enter();

    auto sink = norvo::log::CaptureSink::install();
    std::thread closer([&handle] { norvo::service::RemoteClose(handle); });
    receive(stop_rx);  // the close is past its stop, heading into the wait
    kMarker.info("first start leaves");
    gate->leave();
    kMarker.info("second start leaves");
    gate->leave();
    gate.reset();
    closer.join();

    const auto lines = sink->messages();
    EXPECT_LT(index_of(lines, "second start leaves"), index_of(lines, "Data processing finished"));
    EXPECT_LT(index_of(lines, "Data processing finished"),
              index_of(lines, "RemoteClose() finished"));
    EXPECT_LE(std::count(lines.begin(), lines.end(), "Waiting for data processing to finish"), 2);
    EXPECT_TRUE(watched.expired());
    EXPECT_FALSE(handle);
}

TEST(NorvoStopSensor, ResultsAndMessages) {
    auto handle = open_context();
    auto sink = norvo::log::CaptureSink::install();

    EXPECT_EQ(norvo::service::NorvoStopSensor(*handle), hr::abort);

    auto [tx, rx] = norvo::channel::bounded<StopMessage>(1);
    handle->stop_sender.set(std::move(tx));
    EXPECT_EQ(norvo::service::NorvoStopSensor(*handle), hr::ok);
    EXPECT_EQ(norvo::service::NorvoStopSensor(*handle), hr::abort);
    EXPECT_TRUE(rx.try_recv());
    {
        auto gone = std::move(rx);
    }
    EXPECT_EQ(norvo::service::NorvoStopSensor(*handle), hr::abort);

    EXPECT_THAT(sink->messages(),
                ElementsAre("NorvoStopSensor() called", "Stop channel not initialized",
                            "NorvoStopSensor() called", "NorvoStopSensor() called",
                            "Failed to send stop event: Full(..)", "NorvoStopSensor() called",
                            "Failed to send stop event: Closed(..)"));
    norvo::service::RemoteClose(handle);
}

TEST(GuardedCallbacks, FailWithoutACallInProgressOrWhenTheCallFails) {
    struct Throwing final : norvo::service::ClientCallbacks {
        norvo::service::CallbackResult tap_event(std::int32_t, std::uint64_t,
                                                 std::uint64_t) override {
            throw std::runtime_error("client gone");
        }
        norvo::service::CallbackResult send_client_event(std::span<const std::uint8_t>,
                                                         std::uint64_t) override {
            return std::unexpected(norvo::service::CallbackFailure{"gone"});
        }
        norvo::service::CallbackResult sensor_state_changed(std::uint64_t, std::uint16_t,
                                                            std::uint64_t) override {
            return {};
        }
        norvo::service::CallbackResult signal_return(std::int32_t, std::uint64_t) override {
            return {};
        }
    };
    using namespace norvo::service;
    EXPECT_EQ(SafeNorvoSignalReturn(0, 1), 1);  // no call bound to this thread
    Throwing callbacks;
    {
        CurrentCallScope scope(callbacks);
        EXPECT_EQ(SafeNorvoTapEvent(1, 2, 3), 1);
        EXPECT_EQ(SafeNorvoSendClientEvent(0, nullptr, 3), 1);
        EXPECT_EQ(SafeNorvoSensorStateChanged(2, 5, 3), 0);
        EXPECT_EQ(SafeNorvoSignalReturn(0, 3), 0);
    }
    EXPECT_EQ(SafeNorvoSensorStateChanged(2, 5, 3), 1);  // scope ended
}

}  // namespace
