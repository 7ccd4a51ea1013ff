#include "sd_bus_peer.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <cstdint>
#include <cstring>

namespace norvo::bench {
namespace {

constexpr const char* kPath = "/norvo/bench";
constexpr const char* kInterface = "norvo.Bench";
constexpr const char* kMethod = "QueryProperty";

std::string failure(std::string_view what, int r) {
    return std::string(what) + ": " + std::strerror(-r);
}

int query_property(sd_bus_message* call, void*, sd_bus_error*) {
    std::uint32_t key = 0;
    const void* buffer = nullptr;
    std::size_t size = 0;
    if (const int r = sd_bus_message_read(call, "u", &key); r < 0)
        return r;
    if (const int r = sd_bus_message_read_array(call, 'y', &buffer, &size); r < 0)
        return r;
    return sd_bus_reply_method_return(call, "uay", std::uint32_t{4}, 4, 0, 0, 0, 0);
}

const sd_bus_vtable kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD(kMethod, "uay", "uay", query_property, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

// Both ends: a private connection on a duplicate of `fd`, which the bus owns; anonymous
// authentication, no Hello.
int open_bus(int fd, bool server, sd_bus** out) {
    sd_bus* bus = nullptr;
    int r = sd_bus_new(&bus);
    if (r < 0)
        return r;
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (r = own < 0 ? -errno : sd_bus_set_fd(bus, own, own); r >= 0)
        r = sd_bus_set_anonymous(bus, 1);
    if (server && r >= 0) {
        sd_id128_t id;
        r = sd_id128_randomize(&id);
        if (r >= 0)
            r = sd_bus_set_server(bus, 1, id);
        if (r >= 0)
            r = sd_bus_set_trusted(bus, 1);
    }
    if (r >= 0)
        r = sd_bus_start(bus);
    if (r < 0) {
        sd_bus_flush_close_unref(bus);
        return r;
    }
    *out = bus;
    return 0;
}

// In the child: serves until the bench hangs up.
void serve(int fd) {
    sd_bus* bus = nullptr;
    if (open_bus(fd, true, &bus) < 0)
        return;
    if (sd_bus_add_object_vtable(bus, nullptr, kPath, kInterface, kVtable, nullptr) >= 0) {
        for (;;) {
            const int r = sd_bus_process(bus, nullptr);
            if (r < 0)
                break;
            if (r == 0 && sd_bus_wait(bus, UINT64_MAX) < 0)
                break;
        }
    }
    sd_bus_flush_close_unref(bus);
}

}  // namespace

std::expected<SdBusPeer, std::string> SdBusPeer::fork() {
    auto peer = PeerProcess::fork(serve);
    if (!peer)
        return std::unexpected(peer.error());
    sd_bus* bus = nullptr;
    if (const int r = open_bus(peer->socket(), false, &bus); r < 0)
        return std::unexpected(failure("sd-bus client", r));
    return SdBusPeer(std::move(*peer), Bus(bus));
}

SdBusPeer::SdBusPeer(PeerProcess peer, Bus bus) : peer_(std::move(peer)), bus_(std::move(bus)) {}

bool SdBusPeer::call() {
    sd_bus_message* reply = nullptr;
    const int r = sd_bus_call_method(bus_.get(), nullptr, kPath, kInterface, kMethod, nullptr,
                                     &reply, "uay", std::uint32_t{3}, 4, 0, 0, 0, 0);
    if (r < 0)
        return false;
    std::uint32_t size = 0;
    const bool answered = sd_bus_message_read(reply, "u", &size) >= 0 && size == 4;
    sd_bus_message_unref(reply);
    return answered;
}

}  // namespace norvo::bench
