#pragma once
// The peer a Linux client would otherwise pick: sd-bus peer-to-peer, no bus daemon. A
// forked child serves one method over a socket pair that has the QueryProperty call's
// shape (a 32-bit key and a 4-byte array in, a 32-bit size and a 4-byte array back).

#include <systemd/sd-bus.h>

#include <expected>
#include <memory>
#include <string>

#include "raw_ping_pong.hpp"

namespace norvo::bench {

class SdBusPeer {
  public:
    // Forks the server and connects to it; call it before the bench starts threads.
    [[nodiscard]] static std::expected<SdBusPeer, std::string> fork();

    // One method call and its reply; false when the peer is gone or answered wrongly.
    bool call();

  private:
    struct Unref {
        void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
    };
    using Bus = std::unique_ptr<sd_bus, Unref>;

    SdBusPeer(PeerProcess peer, Bus bus);

    // Declared last, so the connection closes before the server is reaped.
    PeerProcess peer_;
    Bus bus_;
};

}  // namespace norvo::bench
