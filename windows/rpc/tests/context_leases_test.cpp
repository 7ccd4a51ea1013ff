#include "norvo/windows/rpc/context_leases.hpp"

#include <gtest/gtest.h>

namespace norvo::windows::rpc {
namespace {

int g_a;
int g_b;

TEST(ContextLeases, OnlyHeldContextsNotBeingClosedCanBeLeased) {
    service::UserQuota quota("contexts", 10, 1, {});
    ContextLeases leases;
    EXPECT_FALSE(Lease(leases, &g_a));
    leases.add(&g_a, *quota.try_enter("S-1-5-21-1"), "S-1-5-21-1");
    EXPECT_FALSE(quota.try_enter("S-1-5-21-1"));
    EXPECT_EQ(Lease(leases, &g_a).caller(), "S-1-5-21-1");
    EXPECT_FALSE(Lease(leases, &g_b));

    EXPECT_EQ(leases.close(&g_a), "S-1-5-21-1");
    EXPECT_FALSE(Lease(leases, &g_a));
    // Closed once: a second close (or a rundown after the close) must not destroy it again.
    EXPECT_FALSE(leases.close(&g_a));
    EXPECT_FALSE(leases.close(&g_b));
    // The user's share came back with the close.
    EXPECT_TRUE(quota.try_enter("S-1-5-21-1"));
}

}  // namespace
}  // namespace norvo::windows::rpc
