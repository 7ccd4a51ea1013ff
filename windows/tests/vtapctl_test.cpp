// vtapctl.exe's callbacks: each routine the client stubs dispatch to prints the callback's line.

#include "norvo/windows/rpc/norvo_vtap.h"
#include "printer.hpp"
#include "session.hpp"
#include "windows_connection.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

namespace norvo::vtapctl {
namespace {

std::string written(std::FILE* file) {
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
    return text;
}

TEST(VtapctlCallbacks, TheStubsCallbacksPrintTheirLines) {
    const std::unique_ptr<std::FILE, decltype(&std::fclose)> file(std::tmpfile(), &std::fclose);
    ASSERT_TRUE(file);
    Printer out(file.get());
    const auto callbacks = printing_callbacks(out);

    signed char packet[] = {2, 0, 2, 0, -1, 0};
    {
        CallbackScope scope(*callbacks);
        vtap_client_TapEvent(1, 412, 7);
        vtap_client_SendClientEvent(sizeof packet, packet, 7);
        vtap_client_SensorStateChanged(5000000000, NorvoSensorStateNotAvailable, -1);
        vtap_client_SignalReturn(static_cast<long>(0x8000FFFF), 7);
    }
    vtap_client_TapEvent(2, 1, 1);  // no start in progress on this thread: nobody to tell
    EXPECT_EQ(written(file.get()),
              "TapEvent Confirmed ts=412 cookie=7\n"
              "SendClientEvent 02 00 02 00 FF 00 cookie=7\n"
              "SensorStateChanged ts=5000000000 state=SensorStateNotAvailable "
              "cookie=18446744073709551615\n"
              "SignalReturn 0x8000ffff cookie=7\n");
}

}  // namespace
}  // namespace norvo::vtapctl
