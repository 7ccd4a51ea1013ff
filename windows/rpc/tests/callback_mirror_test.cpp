// The callbacks' format strings read by Wine's engine, which cannot deliver callbacks: the
// mirror interface carries them as ordinary procedures to the test client's callback routines.

#include "callback_mirror.h"
#include "client_session.hpp"
#include "norvo/windows/rpc/ndr_formats.h"
#include "norvo/windows/rpc/rpc_guard.h"
#include "test_service.hpp"

#include <gtest/gtest.h>

#include <ndrtypes.h>
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <limits>

namespace norvo::windows::rpc::test {
namespace {

class CallbackMirror : public ServiceClientTest {
  protected:
    void SetUp() override {
        ServiceClientTest::SetUp();
        ASSERT_EQ(RpcServerRegisterIf(norvo_mirror_server_interface, nullptr, nullptr), RPC_S_OK);
        norvo_mirror_binding = binding_->get();
    }
    void TearDown() override {
        norvo_mirror_binding = nullptr;
        RpcServerUnregisterIf(norvo_mirror_server_interface, nullptr, FALSE);
    }
};

// What a callback sends, as the test client records it.
void send(const CallbackRecord& r) {
    auto bytes = std::vector<signed char>(r.bytes.begin(), r.bytes.end());
    const auto done = guarded([&] {
        switch (r.callback) {
            case 0:
                return mirror_TapEvent(static_cast<long>(r.first), r.second, r.cookie);
            case 1:
                return mirror_SendClientEvent(static_cast<short>(r.first), bytes.data(), r.cookie);
            case 2:
                return mirror_SensorStateChanged(r.first, static_cast<NORVO_SENSOR_STATE>(r.second),
                                                 r.cookie);
            default:
                return mirror_SignalReturn(static_cast<long>(r.first), r.cookie);
        }
    });
    EXPECT_TRUE(done) << "callback " << r.callback << ": RPC exception " << done.error();
}

TEST_F(CallbackMirror, EveryByteOfEveryCallbackRoundTrips) {
    constexpr auto kMin64 = std::numeric_limits<std::int64_t>::min();
    constexpr auto kMax64 = std::numeric_limits<std::int64_t>::max();
    std::vector<std::uint8_t> largest(std::numeric_limits<short>::max());
    for (std::size_t i = 0; i < largest.size(); ++i)
        largest[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    std::vector<CallbackRecord> sent = {
        {0, std::numeric_limits<std::int32_t>::min(), kMin64, {}, -1},
        {0, 4, 0x0123456789abcdef, {}, kMax64},
        {1, 0, 0, {}, 0x1122334455667788},
        {1, 6, 0, {0x01, 0x80, 0xff, 0x00, 0x7f, 0x10}, -2},
        {1, static_cast<std::int64_t>(largest.size()), 0, largest, 42},
        {3, static_cast<std::int32_t>(0x8000FFFF), 0, {}, kMin64},
    };
    for (std::int64_t state = 0; state <= 5; ++state)
        sent.push_back({2, kMax64 - state, state, {}, 0x55aa55aa55aa55aa + state});

    const auto before = received_callbacks().size();
    for (const auto& r : sent) send(r);
    const auto received = received_callbacks();
    ASSERT_EQ(received.size(), before + sent.size());
    EXPECT_TRUE(std::equal(sent.begin(), sent.end(), received.begin() + before));
}

// One source for both: only the handle byte of each header may differ.
TEST_F(CallbackMirror, CarriesTheCallbacksDescriptorsVerbatim) {
    const auto* production = norvo_vtap_proc_format + norvo_vtap_callback_offsets[0];
    const std::size_t length = norvo_vtap_proc_format_size - 1 - norvo_vtap_callback_offsets[0];
    for (std::size_t i = 0; i < NORVO_VTAP_CALLBACKS; ++i) {
        const auto at = norvo_mirror_offsets[i];
        EXPECT_EQ(at, norvo_vtap_callback_offsets[i] - norvo_vtap_callback_offsets[0]);
        EXPECT_EQ(production[at], FC_CALLBACK_HANDLE);
        EXPECT_EQ(norvo_mirror_proc_format[at], FC_BIND_PRIMITIVE);
    }
    for (std::size_t at = 0; at < length; ++at) {
        if (std::ranges::find(norvo_mirror_offsets, at) == std::end(norvo_mirror_offsets)) {
            EXPECT_EQ(norvo_mirror_proc_format[at], production[at]) << "byte " << at;
        }
    }
}

}  // namespace
}  // namespace norvo::windows::rpc::test
