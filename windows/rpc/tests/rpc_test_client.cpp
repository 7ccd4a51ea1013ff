// The test client, a process of its own:
//   rpc_test_client open|start   opens a context on the service's endpoint (with `start`, also
//                                starts the sensor in simulation mode on a second thread), says
//                                "ready" on stdout, and holds the context until it is killed or
//                                its stdin closes; then it ends without closing
//   rpc_test_client round-trip   sets and reads back the confirmation range, starts the sensor,
//                                closes, and prints what came back

#include "client_session.hpp"

#include <fmt/format.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <thread>

namespace {

using namespace norvo::windows::rpc::test;

int hold(Session& session, bool start) {
    if (start) {
        const std::uint8_t on[] = {1};
        if (auto set = session.set(key::simulation_mode, on); !set || *set != 0)
            return 5;
    }
    std::optional<std::thread> running;
    if (start)
        running.emplace([&] { (void)session.start(7); });
    std::puts("ready");
    std::fflush(stdout);
    (void)std::getchar();
    // Gone without closing: the service runs the context down.
    std::_Exit(0);
}

std::string shown(const auto& result) {
    if (!result)
        return fmt::format("rpc-exception-{}", result.error());
    return fmt::format("{:#x}", static_cast<std::uint32_t>(*result));
}

int round_trip(Session& session) {
    const std::uint8_t range[] = {250, 0, 0, 0};
    const auto set = session.set(key::confirmation_range, range);
    const auto query = session.query(key::confirmation_range, 4);
    std::string value = "none";
    if (query && query->buffer.size() == 4)
        value = std::to_string(query->buffer[0] | query->buffer[1] << 8);
    const auto start = session.start(7);
    const auto closed = session.close();
    std::printf("set=%s range=%s start=%s closed=%s\n", shown(set).c_str(), value.c_str(),
                shown(start).c_str(), closed && !session.handle() ? "null" : "failed");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view mode = argc == 2 ? argv[1] : "";
    if (mode != "open" && mode != "start" && mode != "round-trip") {
        std::fputs("usage: rpc_test_client open|start|round-trip\n", stderr);
        return 2;
    }
    auto binding = Binding::local();
    if (!binding)
        return 3;
    auto session = Session::open(*binding);
    if (!session)
        return 4;
    if (mode == "round-trip")
        return round_trip(*session);
    return hold(*session, mode == "start");
}
