// The library over the stand-in's COM runtime: the manager class it serves, in the apartment only.

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "fakes.hpp"
#include "norvo/log_capture.hpp"
#include "norvo/sensorlib/sensor_library.hpp"

namespace norvo::testing {
namespace {

using ::testing::Contains;

// Apartments belong to threads: each case runs on a fresh one.
template <class F>
void on_new_thread(F f) {
    std::thread(f).join();
}

TEST(StandInCom, ManagersNeedTheMultithreadedApartment) {
    auto log = log::CaptureSink::install();
    on_new_thread([] {
        sensorlib::ComSensorLibrary library;
        sensorlib::MtaApartment apartment;
        auto before = library.create_manager();
        ASSERT_FALSE(before);
        EXPECT_EQ(fmt::format("{}", before.error()),
                  "Win32(Error { code: HRESULT(0x800401F0), message: \"CoInitialize has not been "
                  "called.\" })");
        ASSERT_TRUE(apartment.initialize());
        ASSERT_TRUE(
            apartment.initialize());  // joining again is no failure, and is undone on its own
        EXPECT_TRUE(library.create_manager());
        apartment.uninitialize();
        EXPECT_TRUE(library.create_manager());
        apartment.uninitialize();
        EXPECT_FALSE(library.create_manager());
    });
    EXPECT_THAT(log->messages(),
                Contains("Failed to create SensorManager instance: Error { code: "
                         "HRESULT(0x800401F0), message: \"CoInitialize has not been called.\" }"));
}

TEST(StandInCom, CoCreateInstanceServesTheSensorManagerAlone) {
    on_new_thread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        auto outer = make_fake<FakeKeys>(std::vector<PROPERTYKEY>{});
        struct Case {
            const char* name;
            const CLSID& clsid;
            IUnknown* outer;
            DWORD context;
            const IID& iid;
            HRESULT expected;
        };
        const Case cases[] = {
            {"manager", CLSID_SensorManager, nullptr, CLSCTX_INPROC_SERVER, IID_ISensorManager,
             S_OK},
            {"as IUnknown", CLSID_SensorManager, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, S_OK},
            {"another class", IID_ISensor, nullptr, CLSCTX_INPROC_SERVER, IID_ISensorManager,
             REGDB_E_CLASSNOTREG},
            {"out of process", CLSID_SensorManager, nullptr, 0x4, IID_ISensorManager,
             REGDB_E_CLASSNOTREG},
            {"aggregated", CLSID_SensorManager, outer.get(), CLSCTX_INPROC_SERVER,
             IID_ISensorManager, CLASS_E_NOAGGREGATION},
            {"another interface", CLSID_SensorManager, nullptr, CLSCTX_INPROC_SERVER, IID_ISensor,
             E_NOINTERFACE},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            void* out = &out;
            EXPECT_EQ(CoCreateInstance(c.clsid, c.outer, c.context, c.iid, &out), c.expected);
            EXPECT_EQ(out != nullptr, SUCCEEDED(c.expected));
            if (out)
                static_cast<IUnknown*>(out)->Release();
        }
        EXPECT_EQ(CoCreateInstance(CLSID_SensorManager, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ISensorManager, nullptr),
                  E_POINTER);
        CoUninitialize();
    });
}

TEST(StandInCom, SystemMessagesAreWindowsOwn) {
    EXPECT_EQ(error_text(E_FAIL),
              "Error { code: HRESULT(0x80004005), message: \"Unspecified error\" }");
    EXPECT_EQ(error_text(RPC_E_CHANGED_MODE),
              "Error { code: HRESULT(0x80010106), message: \"Cannot change thread mode after it "
              "is set.\" }");
}

}  // namespace
}  // namespace norvo::testing
