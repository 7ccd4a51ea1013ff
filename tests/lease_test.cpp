#include "norvo/service/lease.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

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

}  // namespace
}  // namespace norvo::service
