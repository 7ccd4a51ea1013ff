#include "client_session.hpp"

#include <mutex>
#include <utility>

namespace norvo::windows::rpc::test {
namespace {

std::mutex g_received_mutex;
std::vector<CallbackRecord> g_received;

void record(CallbackRecord r) {
    std::lock_guard lock(g_received_mutex);
    g_received.push_back(std::move(r));
}

}  // namespace

std::vector<CallbackRecord> received_callbacks() {
    std::lock_guard lock(g_received_mutex);
    return g_received;
}

}  // namespace norvo::windows::rpc::test

using norvo::windows::rpc::test::record;

extern "C" {

void vtap_client_TapEvent(long kind, hyper timestamp, hyper cookie) {
    record({0, kind, timestamp, {}, cookie});
}

void vtap_client_SendClientEvent(short size, signed char* data, hyper cookie) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
    const auto count = size < 0 ? 0 : size;  // never widened into 65535 bytes
    record({1, size, 0, {bytes, bytes + count}, cookie});
}

void vtap_client_SensorStateChanged(hyper timestamp, NORVO_SENSOR_STATE state, hyper cookie) {
    record({2, timestamp, state, {}, cookie});
}

void vtap_client_SignalReturn(long status, hyper cookie) {
    record({3, status, 0, {}, cookie});
}

}  // extern "C"
