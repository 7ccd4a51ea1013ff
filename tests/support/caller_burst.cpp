#include "support/caller_burst.hpp"

#include <latch>
#include <mutex>
#include <thread>

namespace norvo::testing {

std::vector<wire::RpcStatus> burst_of_callers(client::Connection& connection,
                                              const client::ContextHandle& context, int callers) {
    std::latch together(callers);
    std::mutex mutex;
    std::vector<wire::RpcStatus> failures;
    std::vector<std::thread> threads;
    for (int i = 0; i < callers; ++i) {
        threads.emplace_back([&] {
            together.arrive_and_wait();
            const auto value = connection.read_property(context, 1);
            std::lock_guard lock(mutex);
            if (!value)
                failures.push_back(value.error().status);
            else if (value->bytes.size() != 8)
                failures.push_back(-1);
        });
    }
    for (auto& thread : threads) thread.join();
    return failures;
}

}  // namespace norvo::testing
