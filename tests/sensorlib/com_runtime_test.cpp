// What the library relies on from the COM runtime, the same on the Linux stand-in and on
// Windows: joining the multithreaded apartment, and the system's messages for errors.

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <thread>

#include "fakes.hpp"
#include "norvo/sensorlib/platform_error.hpp"
#include "norvo/sensorlib/sensor_library.hpp"

namespace norvo::testing {
namespace {

// Apartments belong to threads: each case runs on a fresh one.
template <class F>
void on_new_thread(F f) {
    std::thread(f).join();
}

TEST(MtaApartment, JoiningAgainSucceedsAndIsUndoneOnItsOwn) {
    on_new_thread([] {
        sensorlib::MtaApartment com;
        ASSERT_TRUE(com.initialize());
        ASSERT_TRUE(com.initialize());
        com.uninitialize();
        // Still in the apartment: a thread in it cannot switch to a single-threaded one.
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
        com.uninitialize();
        // Left: now it can.
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        CoUninitialize();
    });
}

TEST(MtaApartment, AThreadInAnotherApartmentCannotJoin) {
    on_new_thread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        auto joined = sensorlib::MtaApartment().initialize();
        ASSERT_FALSE(joined);
        EXPECT_EQ(joined.error().code, static_cast<std::int32_t>(0x80010106));
        EXPECT_EQ(fmt::format("{}", joined.error()), error_text(RPC_E_CHANGED_MODE));
        CoUninitialize();
    });
}

TEST(PlatformError, CarriesTheSystemMessageWithoutItsLineBreak) {
    // The text is the system's own: Windows and the stand-in say "Unspecified error", Wine not.
    const auto known = sensorlib::platform_error(E_FAIL);
    EXPECT_EQ(known.code, E_FAIL);
    ASSERT_FALSE(known.message.empty());
    EXPECT_EQ(known.message.find_first_of("\r\n"), std::string::npos);
    EXPECT_NE(known.message.back(), ' ');
    EXPECT_EQ(fmt::format("{}", sensorlib::Displayed{known}), known.message + " (0x80004005)");
    const auto unknown = sensorlib::platform_error(static_cast<HRESULT>(0x8000DEAD));
    EXPECT_EQ(unknown.message, "");
    EXPECT_EQ(fmt::format("{}", sensorlib::Displayed{unknown}), "0x8000DEAD");
}

}  // namespace
}  // namespace norvo::testing
