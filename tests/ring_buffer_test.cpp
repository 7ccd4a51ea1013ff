#include "norvo/ring_buffer.hpp"

#include <gtest/gtest.h>

#include <deque>
#include <memory>

namespace {

using norvo::RingBuffer;

TEST(RingBuffer, EmptyHasNoFrontAndPopsNothing) {
    RingBuffer<int> ring;
    EXPECT_TRUE(ring.empty());
    EXPECT_EQ(ring.front(), nullptr);
    EXPECT_EQ(ring.pop_front(), std::nullopt);
    ring.push_back(7);
    EXPECT_EQ(ring.pop_front(), 7);
    EXPECT_TRUE(ring.empty());
    EXPECT_EQ(ring.front(), nullptr);
    EXPECT_EQ(ring.pop_front(), std::nullopt);
}

TEST(RingBuffer, GrowingWhileWrappedKeepsOrder) {
    RingBuffer<int> ring;
    for (int i = 0; i < 4; ++i) ring.push_back(i);
    ASSERT_EQ(ring.capacity(), 4u);
    EXPECT_EQ(ring.pop_front(), 0);
    EXPECT_EQ(ring.pop_front(), 1);
    ring.push_back(4);  // these two wrap to the start of the storage
    ring.push_back(5);
    ring.push_back(6);  // full while wrapped: grows
    EXPECT_EQ(ring.capacity(), 8u);
    ASSERT_EQ(ring.size(), 5u);
    for (int expected = 2; expected <= 6; ++expected) {
        ASSERT_NE(ring.front(), nullptr);
        EXPECT_EQ(*ring.front(), expected);
        EXPECT_EQ(ring.pop_front(), expected);
    }
    EXPECT_TRUE(ring.empty());
}

// Each round pushes one more than it pops, in varying amounts, so the storage
// doubles several times with the head at varying places; a move-only type checks
// that no copy is made.
TEST(RingBuffer, InterleavedPushAndPopPastSeveralDoublingsIsFirstInFirstOut) {
    RingBuffer<std::unique_ptr<int>> ring;
    std::deque<int> model;
    int next = 0;
    for (int round = 0; round < 500; ++round) {
        for (int i = 0; i <= round % 3; ++i) {
            ring.push_back(std::make_unique<int>(next));
            model.push_back(next++);
        }
        for (int i = 0; i < round % 3; ++i) {
            ASSERT_NE(ring.front(), nullptr);
            ASSERT_EQ(**ring.front(), model.front());
            auto popped = ring.pop_front();
            ASSERT_TRUE(popped.has_value());
            ASSERT_EQ(**popped, model.front());
            model.pop_front();
        }
        ASSERT_EQ(ring.size(), model.size());
    }
    EXPECT_GE(ring.capacity(), 512u);
    while (!model.empty()) {
        auto popped = ring.pop_front();
        ASSERT_TRUE(popped.has_value());
        ASSERT_EQ(**popped, model.front());
        model.pop_front();
    }
    EXPECT_TRUE(ring.empty());
}

}  // namespace
