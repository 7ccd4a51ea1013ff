#include "norvo/windows/rpc/context_leases.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace norvo::windows::rpc {
namespace {

int g_a;
int g_b;

TEST(ContextLeases, OnlyHeldContextsNotBeingClosedCanBeLeased) {
    ContextLeases leases;
    EXPECT_FALSE(Lease(leases, &g_a));
    leases.add(&g_a);
    EXPECT_TRUE(Lease(leases, &g_a));
    EXPECT_FALSE(Lease(leases, &g_b));

    EXPECT_TRUE(leases.close(&g_a));
    EXPECT_FALSE(Lease(leases, &g_a));
    // Closed once: a second close (or a rundown after the close) must not destroy it again.
    EXPECT_FALSE(leases.close(&g_a));
    EXPECT_FALSE(leases.close(&g_b));
}

TEST(ContextLeases, CloseWaitsForTheLastLease) {
    ContextLeases leases;
    leases.add(&g_a);
    Lease first(leases, &g_a);
    Lease second(leases, &g_a);
    std::atomic<int> released = 0;
    std::atomic<bool> closed = false;
    std::thread closer([&] {
        EXPECT_TRUE(leases.close(&g_a));
        EXPECT_EQ(released.load(), 2);
        closed = true;
    });
    released = 1;
    first.release();
    first.release();  // a second release of one lease changes nothing
    EXPECT_FALSE(closed.load());
    released = 2;
    second.release();
    closer.join();
    EXPECT_TRUE(closed.load());
}

}  // namespace
}  // namespace norvo::windows::rpc
