// The stress run's bad inputs against the transport hosted here: every kind of
// bad or cut frame gets the answer the stress run demands, and vanishing clients
// are run down, so a stress failure points at the daemon, not at its own inputs.

#include <gtest/gtest.h>

#include "bad_frames.hpp"
#include "norvo/service/client_context.hpp"
#include "support/service_harness.hpp"

namespace {

using namespace std::chrono_literals;

TEST(BadInput, EveryKindOfBadFrameGetsItsAnswer) {
    norvo::testing::TestService service;
    for (std::uint64_t seed = 0; seed < 64; ++seed) {
        const auto failure = norvo::stress::feed_bad_frames(service.socket(), seed, 10s);
        EXPECT_FALSE(failure) << "seed " << seed << ": " << *failure;
    }
}

TEST(BadInput, VanishingClientsAreRunDown) {
    norvo::testing::TestService service;
    const auto sink = norvo::testing::WaitingSink::install();
    for (std::uint64_t seed = 0; seed < 8; ++seed) {
        const auto failure = norvo::stress::vanish(service.socket(), seed, 10s);
        EXPECT_FALSE(failure) << "seed " << seed << ": " << *failure;
    }
    sink->wait_for("RemoteClose() finished", 4);  // the odd seeds leave a running start behind
    auto client = service.connect();
    auto context = client->RemoteOpen();
    ASSERT_TRUE(context);
    EXPECT_EQ(client->read_property(*context, 4)->bytes, (std::vector<std::uint8_t>{0, 0, 0, 0}));
}

}  // namespace
