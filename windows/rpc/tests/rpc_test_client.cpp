// rpc_test_client.exe open|start: opens a context on the service's endpoint (with `start`,
// also starts the sensor in simulation mode on a second thread), says "ready" on stdout, and
// holds the context until it is killed or its stdin closes; then it ends without closing.

#include "client_session.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

int main(int argc, char** argv) {
    using namespace norvo::windows::rpc::test;
    const bool start = argc == 2 && std::strcmp(argv[1], "start") == 0;
    if (argc != 2 || (!start && std::strcmp(argv[1], "open") != 0)) {
        std::fputs("usage: rpc_test_client open|start\n", stderr);
        return 2;
    }
    auto binding = Binding::local();
    if (!binding)
        return 3;
    auto session = Session::open(*binding);
    if (!session)
        return 4;
    if (start) {
        const std::uint8_t on[] = {1};
        if (auto set = session->set(2, on); !set || *set != 0)
            return 5;
    }
    std::optional<std::thread> running;
    if (start)
        running.emplace([&] { (void)session->start(7); });
    std::puts("ready");
    std::fflush(stdout);
    (void)std::getchar();
    // Gone without closing: the service runs the context down.
    std::_Exit(0);
}
