#include <gtest/gtest.h>

#include "raw_ping_pong.hpp"
#if NORVO_BENCH_SD_BUS
#include "sd_bus_peer.hpp"
#endif

namespace norvo::bench {
namespace {

// Frames of different sizes each way, several times over: a peer that answered
// with the wrong size would leave bytes behind or block the next exchange.
TEST(RawPeer, AnswersEveryPingWithAPongOfItsSize) {
    for (const auto& [in, out] :
         {std::pair<std::size_t, std::size_t>{44, 31}, {1, 4096}, {9000, 1}}) {
        auto peer = RawPeer::fork(in, out);
        ASSERT_TRUE(peer) << peer.error();
        for (int i = 0; i < 50; ++i) ASSERT_TRUE(peer->exchange()) << in << " " << out;
    }
}

#if NORVO_BENCH_SD_BUS
// A peer that failed its handshake or answered with another signature fails the call.
TEST(SdBusPeer, AnswersEveryCall) {
    auto peer = SdBusPeer::fork();
    ASSERT_TRUE(peer) << peer.error();
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(peer->call()) << i;
}
#endif

}  // namespace
}  // namespace norvo::bench
