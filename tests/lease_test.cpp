#include "norvo/service/lease.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <type_traits>
#include <vector>

#include "norvo/log_capture.hpp"
#include "norvo/service/user_quota.hpp"

namespace norvo::service {
namespace {

TEST(Lease, ClosingRefusesNewLeasesAndClosesOnce) {
    LeaseCounter counter;
    Lease held = counter.acquire();
    EXPECT_TRUE(held);
    Lease moved(std::move(held));
    EXPECT_FALSE(held);
    moved.release();
    EXPECT_FALSE(moved);

    EXPECT_TRUE(counter.close());
    EXPECT_FALSE(counter.acquire());
    // A second close (or a rundown after the close) must not destroy it again.
    EXPECT_FALSE(counter.close());
}

// The close runs while the releaser is still starting, so one that does not wait sees 0.
TEST(Lease, CloseWaitsForTheLastLease) {
    LeaseCounter counter;
    Lease first = counter.acquire();
    Lease second = counter.acquire();
    std::atomic<int> released = 0;
    std::thread releaser([&] {
        released = 1;
        first.release();
        first.release();  // a second release of one lease changes nothing
        released = 2;
        Lease gone = std::move(second);  // released once, by the lease it moved into
    });
    EXPECT_TRUE(counter.close());
    EXPECT_EQ(released.load(), 2);
    releaser.join();
}

// A permit made anywhere but in the quota would give back a count never taken.
static_assert(!std::is_constructible_v<UserQuota::Permit, UserQuota&, AccountKey>);
static_assert(std::is_move_constructible_v<UserQuota::Permit>);

using Held = std::vector<std::optional<UserQuota::Permit>>;

void take(UserQuota& quota, Held& held, const char* account) {
    held.push_back(quota.try_enter(account));
    EXPECT_TRUE(held.back()) << account;
}

// Every permit must come back: a count kept after a refusal locks its user out for good.
TEST(UserQuota, RefusalsKeepNoCountAndEveryPermitComesBack) {
    UserQuota quota("contexts", 4, 2, {"0", "service"});
    Held held;
    for (const char* account : {"1000", "0", "1001", "service"}) take(quota, held, account);
    // The total is full: a refusal for everybody, root and users with room alike.
    EXPECT_FALSE(quota.try_enter("1000"));
    EXPECT_FALSE(quota.try_enter("1000"));
    EXPECT_FALSE(quota.try_enter("0"));
    held.pop_back();
    held.pop_back();
    take(quota, held, "1000");              // its share of 2, had a refusal counted
    EXPECT_FALSE(quota.try_enter("1000"));  // past its share, with room in all
    held.clear();
    for (const char* account : {"1000", "1000", "1001"}) take(quota, held, account);
    held.clear();
    // The service's own account and root count only towards the total.
    for (const char* account : {"service", "0", "service", "service"}) take(quota, held, account);
    EXPECT_FALSE(quota.try_enter("service"));
}

// One Warn per burst, naming the account: a user held at its share cannot flood the log.
TEST(UserQuota, OneWarnPerBurstNamesTheAccount) {
    auto sink = log::CaptureSink::install();
    UserQuota quota("contexts", 10, 2, {});
    Held held;
    take(quota, held, "S-1-5-21-7");
    take(quota, held, "S-1-5-21-7");
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(quota.try_enter("S-1-5-21-7"));
        held.pop_back();  // one closed, one more opened: the same burst
        take(quota, held, "S-1-5-21-7");
    }
    held.clear();
    take(quota, held, "S-1-5-21-7");
    take(quota, held, "S-1-5-21-7");
    EXPECT_FALSE(quota.try_enter("S-1-5-21-7"));  // a new burst
    const std::string line =
        "Account S-1-5-21-7 holds its 2 contexts, the most one user may: more are refused";
    EXPECT_THAT(sink->messages(), testing::ElementsAre(line, line));
}

}  // namespace
}  // namespace norvo::service
