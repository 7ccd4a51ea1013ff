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

TEST(Lease, CloseWaitsForTheLastLease) {
    LeaseCounter counter;
    Lease first = counter.acquire();
    Lease second = counter.acquire();
    std::atomic<int> released = 0;
    std::atomic<bool> closed = false;
    std::thread closer([&] {
        EXPECT_TRUE(counter.close());
        EXPECT_EQ(released.load(), 2);
        closed = true;
    });
    released = 1;
    first.release();
    first.release();  // a second release of one lease changes nothing
    EXPECT_FALSE(closed.load());
    released = 2;
    {
        Lease gone = std::move(second);  // released once, by the lease it moved into
    }
    closer.join();
    EXPECT_TRUE(closed.load());
}

}  // namespace
}  // namespace norvo::service
