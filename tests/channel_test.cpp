#include "norvo/channel.hpp"
#include "norvo/virtual_clock.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using norvo::channel::RecvFailure;
using norvo::channel::SendFailure;

TEST(Channel, BoundedRejectsWhenFullAndHandsTheValueBack) {
    auto [tx, rx] = norvo::channel::bounded<std::unique_ptr<int>>(2);
    ASSERT_TRUE(tx.try_send(std::make_unique<int>(1)));
    ASSERT_TRUE(tx.try_send(std::make_unique<int>(2)));
    auto full = tx.try_send(std::make_unique<int>(3));
    ASSERT_FALSE(full);
    EXPECT_EQ(full.error().kind, SendFailure::Full);
    EXPECT_EQ(*full.error().value, 3);
    EXPECT_EQ(fmt::format("{}", full.error()), "Full(..)");

    EXPECT_EQ(**rx.try_recv(), 1);
    EXPECT_TRUE(tx.try_send(std::make_unique<int>(4)));
    EXPECT_EQ(**rx.try_recv(), 2);
    EXPECT_EQ(**rx.try_recv(), 4);
    EXPECT_EQ(rx.try_recv().error(), RecvFailure::Empty);
}

TEST(Channel, SendAfterReceiverGoneIsClosed) {
    auto [tx, rx] = norvo::channel::bounded<int>(1);
    {
        auto gone = std::move(rx);
    }
    auto closed = tx.try_send(5);
    ASSERT_FALSE(closed);
    EXPECT_EQ(closed.error().kind, SendFailure::Closed);
    EXPECT_EQ(fmt::format("{}", closed.error()), "Closed(..)");
}

TEST(Channel, ReceiverSeesClosedOnlyAfterEverySenderIsGoneAndQueueDrained) {
    auto [tx, rx] = norvo::channel::unbounded<int>();
    auto copy = tx;
    ASSERT_TRUE(tx.try_send(1));
    {
        auto gone = std::move(tx);
    }
    EXPECT_EQ(*rx.try_recv(), 1);
    EXPECT_EQ(rx.try_recv().error(), RecvFailure::Empty);  // a copy still lives
    ASSERT_TRUE(copy.try_send(2));
    {
        auto gone = std::move(copy);
    }
    EXPECT_EQ(*rx.try_recv(), 2);
    EXPECT_EQ(rx.try_recv().error(), RecvFailure::Closed);
}

TEST(Channel, ReplacingASenderByAssignmentReleasesTheOldChannel) {
    auto [old_tx, old_rx] = norvo::channel::bounded<int>(1);
    auto [new_tx, new_rx] = norvo::channel::bounded<int>(1);
    std::optional<norvo::channel::Sender<int>> slot = std::move(old_tx);
    slot = new_tx;
    EXPECT_EQ(old_rx.try_recv().error(), RecvFailure::Closed);
    EXPECT_EQ(new_rx.try_recv().error(), RecvFailure::Empty);
}

// One consumer blocks on two channels and a deadline; each cause wakes it, and
// nothing else does: the consumer is seen idle in between.
TEST(Channel, OneWakeupServesSeveralChannelsAndADeadline) {
    norvo::VirtualClock clock;
    auto [a_tx, a_rx] = norvo::channel::bounded<int>(4);
    auto [b_tx, b_rx] = norvo::channel::unbounded<int>();
    auto wakeup = clock.make_wakeup();
    a_rx.set_wakeup(wakeup);
    b_rx.set_wakeup(wakeup);

    std::optional<norvo::Instant> deadline = clock.now() + 100ms;
    std::vector<std::string> seen;
    std::atomic<bool> done{false};
    std::thread consumer([&] {
        while (seen.size() < 4) {
            if (auto v = a_rx.try_recv()) {
                seen.push_back(fmt::format("a{}", *v));
            } else if (auto w = b_rx.try_recv()) {
                seen.push_back(fmt::format("b{}", *w));
            } else if (w.error() == RecvFailure::Closed) {
                seen.push_back("b closed");
            } else if (deadline && clock.now() >= *deadline) {
                seen.push_back("deadline");
                deadline.reset();
            } else {
                wakeup->wait(deadline);
            }
        }
        done = true;
        clock.poke();
    });
    auto settle = [&] { clock.wait_until_idle(1, [&] { return done.load(); }); };

    settle();
    ASSERT_TRUE(b_tx.try_send(7));
    settle();
    ASSERT_TRUE(a_tx.try_send(3));
    settle();
    clock.advance(99ms);  // before the deadline: stays asleep
    settle();
    EXPECT_EQ(seen, (std::vector<std::string>{"b7", "a3"}));
    clock.advance(1ms);
    settle();
    {
        auto gone = std::move(b_tx);
    }
    consumer.join();
    EXPECT_EQ(seen, (std::vector<std::string>{"b7", "a3", "deadline", "b closed"}));
}

TEST(Channel, ManyProducersLoseNothing) {
    norvo::VirtualClock clock;
    constexpr int kProducers = 8;
    constexpr int kEach = 2000;
    auto [tx, rx] = norvo::channel::unbounded<int>();
    auto wakeup = clock.make_wakeup();
    rx.set_wakeup(wakeup);

    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([sender = tx, p] {
            for (int i = 0; i < kEach; ++i) ASSERT_TRUE(sender.try_send(p * kEach + i));
        });
    }
    {
        auto gone = std::move(tx);
    }

    std::vector<int> last(kProducers, -1);
    long received = 0;
    for (;;) {
        auto v = rx.try_recv();
        if (!v) {
            if (v.error() == RecvFailure::Closed)
                break;
            wakeup->wait(std::nullopt);
            continue;
        }
        const int producer = *v / kEach;
        EXPECT_GT(*v, last[producer]);  // per-producer order kept
        last[producer] = *v;
        ++received;
    }
    for (auto& t : producers) t.join();
    EXPECT_EQ(received, long{kProducers} * kEach);
}

}  // namespace
