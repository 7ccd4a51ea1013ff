// Sinks are called on platform threads, several at once, also on one sink: run
// under ThreadSanitizer, this shows they need no more than their own locks.

#include <thread>

#include "library_fixture.hpp"

namespace norvo::testing {
namespace {

using SinkConcurrencyTest = LibraryTest;

TEST_F(SinkConcurrencyTest, SinksTakeCallsFromManyThreadsAtOnce) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 200;
    manager_->set_present(sensor_.get());
    auto manager = make_manager();
    auto subscription = subscribe(*manager);
    // The threads' own references: enters replace the sink the sensor holds.
    auto sink = ComPtr<ISensorEvents>::share(sensor_->sink());
    auto manager_sink = ComPtr<ISensorManagerEvents>::share(manager_->sink());
    auto report = tap_report(1);
    const Guid other_id{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                void* agile = nullptr;
                ASSERT_EQ(sink->QueryInterface(IID_IAgileObject, &agile), S_OK);
                sink->OnDataUpdated(sensor_.get(), report.get());
                sink->OnStateChanged(sensor_.get(), SENSOR_STATE_READY);
                static_cast<IUnknown*>(agile)->Release();
            }
        });
    }
    // Enters reactivate under the registry mutex while another ID subscribes and unsubscribes.
    threads.emplace_back([&] {
        for (int i = 0; i < kRounds; ++i)
            manager_sink->OnSensorEnter(sensor_.get(), SENSOR_STATE_READY);
    });
    threads.emplace_back([&] {
        Messages other;
        for (int i = 0; i < kRounds; ++i)
            EXPECT_TRUE(manager->subscribe(other_id, other.callbacks()));
    });
    for (auto& t : threads) t.join();

    std::map<std::string, int> counts;
    for (const auto& line : messages_.take()) ++counts[line.substr(0, line.find(' '))];
    EXPECT_EQ(counts["DataUpdated"], kThreads * kRounds);
    EXPECT_EQ(counts["StateChanged"], kThreads * kRounds);
    EXPECT_EQ(counts["Entered"], kRounds);
}

}  // namespace
}  // namespace norvo::testing
