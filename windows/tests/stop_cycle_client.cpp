// Keeps the service busy while it is stopped, for the stop cycles under Wine: two threads
// start the sensor again and again (Wine has no Sensor API, so each start fails at once), one
// sets and reads a property, one sends phone events and reads a property's length. Says "ready"
// once every thread has had an answer, then runs until every thread's call has failed (the service
// is gone), and prints how many calls were answered and the first failure's code.

#include "norvo/windows/rpc/client_session.hpp"

#include <atomic>
#include <cstdio>
#include <latch>
#include <thread>
#include <vector>

namespace {

using norvo::windows::rpc::Binding;
using norvo::windows::rpc::Rpc;
using norvo::windows::rpc::Session;

constexpr int kThreads = 4;

std::atomic<unsigned long> g_answered{0};
std::atomic<std::uint32_t> g_first_failure{0};

// One call; false once the service no longer answers.
template <class T>
bool answered(const Rpc<T>& result) {
    if (result) {
        g_answered.fetch_add(1);
        return true;
    }
    std::uint32_t none = 0;
    g_first_failure.compare_exchange_strong(none, result.error());
    return false;
}

void keep_calling(Session& session, int role, std::latch& ready) {
    const std::uint8_t range[] = {44, 1, 0, 0};
    const std::uint8_t phone[] = {2, 0, 1, 0, 0, 0, 0x80, 0x3f};
    bool counted = false;
    for (bool going = true; going;) {
        if (role == 0) {
            going = answered(session.start(7));
        } else if (role == 1) {
            going = answered(session.set(3, range)) && answered(session.query(3, 4));
        } else {
            going = answered(session.receive(phone)) && answered(session.query(1, std::nullopt));
        }
        if (!counted) {
            ready.count_down();
            counted = true;
        }
    }
}

}  // namespace

int main() {
    auto binding = Binding::local();
    if (!binding)
        return 3;
    auto session = Session::open(*binding);
    if (!session)
        return 4;
    std::latch ready(kThreads);
    std::vector<std::thread> threads;
    for (int role = 0; role < kThreads; ++role)
        threads.emplace_back([&, role] { keep_calling(*session, role % 3, ready); });
    ready.wait();
    std::puts("ready");
    std::fflush(stdout);
    for (auto& thread : threads) thread.join();
    std::printf("answered=%lu first-failure=%lu\n", g_answered.load(),
                static_cast<unsigned long>(g_first_failure.load()));
    // The context went with the service.
    (void)session->release();
    return 0;
}
