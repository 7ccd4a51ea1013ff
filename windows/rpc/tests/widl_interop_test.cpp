// widl's client stubs, generated from the IDL, against the service's hand-written server
// stubs: the IDL and the format strings must describe the same procedures.

#include "client_session.hpp"
#include "norvo/windows/rpc/rpc_guard.h"
#include "test_service.hpp"
#include "widl_client.h"

#include <gtest/gtest.h>

#include <array>

namespace norvo::windows::rpc::test {
namespace {

// A call through widl's stub, its exception (if any) turned into a failed assertion.
template <class Stub>
long through_widl(Stub stub) {
    long result = -1;
    const auto done = guarded([&] { result = stub(); });
    EXPECT_TRUE(done) << "RPC exception " << done.error();
    return result;
}

TEST(WidlClientStubs, CallTheSameProceduresAsTheTestClient) {
    auto& log = *test_service().log;
    log.clear();
    test_service().sensors->simulated_manager = false;
    auto binding = Binding::local();
    ASSERT_TRUE(binding);
    auto session = Session::open(*binding);
    ASSERT_TRUE(session);
    void* context = session->release();

    // PROPERTY_BUFFERs: a 16-bit size, then the bytes.
    std::array<std::uint8_t, 6> range = {4, 0, 0x2c, 0x01, 0, 0};  // 300
    EXPECT_EQ(
        through_widl([&] { return widl_set(context, key::confirmation_range, range.data()); }),
        result::ok);
    long size = 0;
    EXPECT_EQ(through_widl([&] {
                  return widl_query(context, key::confirmation_range, &size, nullptr, nullptr);
              }),
              result::ok);
    EXPECT_EQ(size, 4);
    std::array<std::uint8_t, 6> room = {4, 0};
    EXPECT_EQ(through_widl([&] {
                  return widl_query(context, key::confirmation_range, &size, room.data(),
                                    range.data());
              }),
              result::ok);
    EXPECT_EQ(room, range);

    signed char packet[] = {1, 2, 3};
    through_widl([&] { return widl_receive(context, 3, packet); });
    EXPECT_TRUE(log.logged("Raw Data received: [1, 2, 3]"));
    EXPECT_EQ(through_widl([&] { return widl_stop(context); }), result::abort);
    EXPECT_EQ(through_widl([&] { return widl_start(context, 9); }), result::unexpected);

    EXPECT_TRUE(guarded([&] { widl_close(&context); }));
    EXPECT_EQ(context, nullptr);
    EXPECT_TRUE(log.logged("RemoteClose() finished"));
}

}  // namespace
}  // namespace norvo::windows::rpc::test
