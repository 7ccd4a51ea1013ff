// Writes the seed files of the binary corpora, built with the real encoders:
//   fuzz_seeds DIR   (DIR/<target>/<seed>, usually fuzz/corpus)

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "norvo/little_endian.hpp"
#include "norvo/service/properties.hpp"
#include "norvo/wire/interface.hpp"

namespace {

namespace wire = norvo::wire;
using Bytes = std::vector<std::uint8_t>;

class Corpus {
  public:
    Corpus(std::filesystem::path root, const std::string& target) : dir_(root / target) {
        std::filesystem::create_directories(dir_);
    }

    void add(const std::string& name, const Bytes& bytes) const {
        std::ofstream(dir_ / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }

  private:
    std::filesystem::path dir_;
};

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes le32(std::uint32_t value) {
    return norvo::le_bytes(value);
}

wire::ContextToken token(std::uint8_t seed) {
    wire::ContextToken t;
    for (std::size_t i = 0; i < t.bytes.size(); ++i)
        t.bytes[i] = static_cast<std::uint8_t>(seed + i);
    return t;
}

Bytes frame(wire::FrameKind kind, std::uint8_t opnum, std::uint32_t call_id, const Bytes& payload) {
    return wire::make_frame(kind, opnum, call_id, payload);
}

Bytes call(std::uint32_t id, const wire::Call& c) {
    return frame(wire::FrameKind::Call, wire::opnum_of(c), id, *wire::encode_call(c));
}

template <class Result>
Bytes result(std::uint8_t opnum, std::uint32_t id, const Result& r) {
    return frame(wire::FrameKind::Result, opnum, id, *wire::encode(r));
}

Bytes callback(std::uint32_t call_id, std::uint32_t sequence, const wire::Callback& c) {
    return frame(wire::FrameKind::Callback, wire::opnum_of(c), call_id,
                 *wire::encode_callback({sequence, c}));
}

void client_events(const Corpus& corpus) {
    corpus.add("phone_v1", {1, 0, 1, 0, 0, 0});
    corpus.add("phone_pulse_1", {2, 0, 1, 0, 4, 0, 0x00, 0x00, 0x80, 0x3F});
    corpus.add("phone_trailing_bytes", {1, 0, 1, 0, 0, 0, 0xFF, 0xFF});
    corpus.add("v1_with_payload", {1, 0, 1, 0, 4, 0, 0x00, 0x00, 0x80, 0x3F});
    corpus.add("v2_without_payload", {2, 0, 1, 0, 0, 0});
    corpus.add("v3", {3, 0, 1, 0, 0, 0});
    corpus.add("confirmed_tap", {2, 0, 2, 0, 0, 0});
    corpus.add("confirmed_tap_v2_payload", {2, 0, 2, 0, 4, 0, 0, 0, 0, 0});
    corpus.add("unknown_type", {1, 0, 7, 0, 0, 0});
    corpus.add("short_header", {1, 0, 1});
    corpus.add("truncated_pulse", {2, 0, 1, 0, 4, 0, 0x00, 0x00});
}

// Operations as property_fuzz.cpp reads them.
Bytes set(std::uint8_t context, std::int32_t key, const Bytes& value) {
    return cat({{static_cast<std::uint8_t>(context << 7)},
                le32(static_cast<std::uint32_t>(key)),
                {static_cast<std::uint8_t>(value.size())},
                value});
}
Bytes query(std::uint8_t context, std::int32_t key, std::uint8_t room) {
    return cat({{static_cast<std::uint8_t>((context << 7) | 1)},
                le32(static_cast<std::uint32_t>(key)),
                {room}});
}
Bytes dry_query(std::uint8_t context, std::int32_t key) {
    return cat(
        {{static_cast<std::uint8_t>((context << 7) | 2)}, le32(static_cast<std::uint32_t>(key))});
}

void properties(const Corpus& corpus) {
    using namespace norvo::service::property_key;
    corpus.add("version", cat({dry_query(0, version), query(0, version, 8), query(0, version, 7)}));
    corpus.add("switches", cat({set(0, simulation_mode, {7}), set(0, forward_confirm_tap, {1}),
                                set(0, enable_unconfirmed_taps, {0}), set(1, debug_mode, {1}),
                                query(0, simulation_mode, 1), query(1, debug_mode, 4)}));
    corpus.add("shared_switch", cat({set(0, ignore_unidentified_clients, {1}),
                                     query(1, ignore_unidentified_clients, 1),
                                     set(1, ignore_unidentified_clients, {0})}));
    corpus.add("range", cat({set(0, confirmation_range, {0x2C, 0x01, 0, 0}),
                             query(0, confirmation_range, 2), query(0, confirmation_range, 4)}));
    corpus.add("client_id", cat({set(0, client_id, {'a', 'b', 'c'}), dry_query(0, client_id),
                                 query(0, client_id, 4)}));
    corpus.add("client_id_invalid_utf8",
               cat({set(0, client_id, {0xFF, 'A'}),
                    set(1, client_id, {0xE0, 0x80, 0xF4, 0x90, 0xED, 0xA0, 0x80})}));
    corpus.add("client_id_limits",
               cat({set(0, client_id, Bytes(128, 'x')), set(0, client_id, Bytes(129, 'y')),
                    set(0, client_id, {})}));
    corpus.add("wrong_sizes", cat({set(0, simulation_mode, {}), set(0, confirmation_range, {1, 2}),
                                   set(0, forward_confirm_tap, {1, 1})}));
    corpus.add("read_only_and_unknown",
               cat({set(0, version, {0}), set(0, connected_user, {0, 0, 0, 0}),
                    set(0, tap_strength, {0}), set(0, 0, {1}), query(0, tap_strength, 4),
                    query(0, dropped_sensor_reports, 8), dry_query(0, -1)}));
}

void server_frames(const Corpus& corpus) {
    const auto t = token(1);
    corpus.add("open_close",
               cat({call(1, wire::call::RemoteOpen{}), call(2, wire::call::RemoteClose{t})}));
    corpus.add("start_stop", cat({call(3, wire::call::NorvoStartSensor{t, 7}),
                                  call(4, wire::call::NorvoStopSensor{t})}));
    corpus.add("client_event",
               call(5, wire::call::NorvoReceiveClientEvent{t, {{1, 0, 1, 0, 0, 0}}}));
    corpus.add("set_property", call(6, wire::call::NorvoSetProperty{t, 7, {{'a', 'b', 'c'}}}));
    corpus.add("query_property",
               cat({call(7, wire::call::NorvoQueryProperty{t, 1, std::nullopt, std::nullopt}),
                    call(8, wire::call::NorvoQueryProperty{t, 1, wire::PropertyBuffer{Bytes(8)},
                                                           wire::PropertyBuffer{{1}}})}));
    corpus.add("callback_reply", frame(wire::FrameKind::CallbackReply, 0, 3,
                                       *wire::encode(wire::CallbackReply{1, 0})));
    corpus.add("unknown_opnum", frame(wire::FrameKind::Call, 9, 1, {}));
    corpus.add("bad_conformance",
               frame(wire::FrameKind::Call, wire::kOpnum<wire::call::NorvoReceiveClientEvent>, 1,
                     cat({Bytes(t.bytes.begin(), t.bytes.end()), {2, 0, 3, 0, 0, 0, 1, 2}})));
    auto reserved = call(1, wire::call::RemoteOpen{});
    reserved[6] = 1;
    corpus.add("reserved_set_then_open", cat({reserved, call(2, wire::call::RemoteOpen{})}));
    corpus.add("oversized_length", cat({le32(256 * 1024 + 1), Bytes(8)}));
    auto truncated = call(1, wire::call::NorvoStopSensor{t});
    truncated.resize(truncated.size() - 3);
    corpus.add("truncated", truncated);
}

void client_frames(const Corpus& corpus) {
    using wire::FrameKind;
    const auto t = token(9);
    corpus.add("hello", frame(FrameKind::Hello, 0, 0, *wire::encode(wire::Hello{})));
    corpus.add("hello_refused", frame(FrameKind::Hello, 0, 0,
                                      *wire::encode(wire::Hello{1, wire::status::access_denied})));
    corpus.add(
        "results",
        cat({result(0, 1, wire::result::RemoteOpen{t}), result(1, 2, wire::result::RemoteClose{}),
             result(2, 3, wire::result::Status{0}),
             result(4, 4, wire::result::Status{static_cast<std::int32_t>(0x80070057)})}));
    corpus.add(
        "query_result",
        cat({result(6, 1, wire::result::NorvoQueryProperty{8, std::nullopt, 0}),
             result(6, 2,
                    wire::result::NorvoQueryProperty{
                        8, wire::PropertyBuffer{{0xE8, 3, 0x71, 0, 0x72, 0, 0x79, 0x25}}, 0})}));
    corpus.add("fault", frame(FrameKind::Fault, 3, 5,
                              *wire::encode(wire::Fault{wire::status::context_mismatch})));
    corpus.add("callbacks",
               cat({callback(3, 1, wire::callback::SignalReturn{0, 7}),
                    callback(3, 2, wire::callback::TapEvent{1, 400, 7}),
                    callback(3, 3, wire::callback::SendClientEvent{{{2, 0, 2, 0, 0, 0}}, 7}),
                    callback(3, 4, wire::callback::SensorStateChanged{300, 4, 7})}));
    corpus.add("unknown_callback", frame(FrameKind::Callback, 4, 3, le32(1)));
}

// Operations of fuzz_server_session: opcode, client slot, then the operation's bytes.
namespace session {
Bytes connect(std::uint8_t slot, std::uint8_t user) {
    return {0, slot, user};
}
Bytes hello(std::uint8_t slot) {
    return {1, slot};
}
Bytes join(std::uint8_t slot, std::uint8_t key) {
    return {2, slot, key};
}
// A context of any client, in the order the service gave them out.
Bytes call(std::uint8_t slot, std::uint8_t opnum, std::uint8_t id, std::uint8_t context,
           const Bytes& tail = {}) {
    return cat({{3, slot, opnum}, le32(id), {context, 0}, tail});
}
Bytes reply(std::uint8_t slot) {
    return cat({{4, slot}, le32(0), le32(0), {0, 1}});
}
Bytes raw(std::uint8_t slot, const Bytes& bytes) {
    return cat({{5, slot, static_cast<std::uint8_t>(bytes.size())}, bytes});
}
Bytes hang_up(std::uint8_t slot) {
    return {6, slot, 0};
}
Bytes read(std::uint8_t slot) {
    return {7, slot};
}
}  // namespace session

void sessions(const Corpus& corpus) {
    using namespace session;
    const Bytes start_cookie = le32(7);
    corpus.add(
        "open_start_reply_stop",
        cat({connect(0, 0), hello(0), call(0, 0, 1, 255), read(0), call(0, 2, 2, 0, start_cookie),
             read(0), reply(0), call(0, 3, 3, 0), read(0), call(0, 1, 4, 0), read(0), hang_up(0)}));
    corpus.add(
        "join_live_dead_and_stranger",
        cat({connect(0, 0), hello(0), connect(1, 0), join(1, 0), read(1), connect(2, 1), join(2, 0),
             read(2), hang_up(0), hang_up(1), connect(3, 0), join(3, 0), read(3)}));
    corpus.add(
        "start_whose_socket_ends",
        cat({connect(0, 0), hello(0), call(0, 0, 1, 255), read(0), connect(1, 0), join(1, 0),
             call(1, 2, 2, 0, start_cookie), read(1), hang_up(1), call(0, 6, 3, 0, {4}), read(0)}));
    corpus.add("context_of_another_user",
               cat({connect(0, 0), hello(0), call(0, 0, 1, 255), read(0), connect(1, 1), hello(1),
                    call(1, 3, 2, 0), call(1, 1, 3, 0), read(1)}));
    corpus.add("hang_up_mid_frame", cat({connect(0, 0), hello(0),
                                         raw(0, Bytes{20, 0, 0, 0, 2, 0, 0, 0, 1}), hang_up(0)}));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path root = argv[1];
    client_events(Corpus(root, "client_event"));
    properties(Corpus(root, "property"));
    server_frames(Corpus(root, "server_frames"));
    client_frames(Corpus(root, "client_frames"));
    sessions(Corpus(root, "server_session"));
    return 0;
}
