// The real transport in this process, with clients at two login uids that send
// whatever the input makes of frames: Hellos, Joins with live, dead and made-up
// keys and of the other user's association, calls on their own and on others'
// contexts, callback replies in and out of turn, bytes cut off mid-frame,
// hang-ups. Every frame the service sends must be well-formed and answer
// something its client asked; once every client is gone, every run has ended
// and every user's shares are whole again.
//
// Input: operations, each an opcode byte and a client slot byte, then what the
// operation reads (see step()).

#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "norvo/log.hpp"
#include "norvo/posix/unique_fd.hpp"
#include "norvo/service/client_context.hpp"
#include "norvo/wire/interface.hpp"
#include "norvo/wire/socket_io.hpp"
#include "reactor.hpp"
#include "server_state.hpp"
#include "support/byte_reader.hpp"
#include "support/check.hpp"
#include "support/fake_runtime.hpp"

namespace {

using norvo::fuzz::ByteReader;
using norvo::fuzz::check;
namespace wire = norvo::wire;
namespace transport = norvo::transport;
using Bytes = std::vector<std::uint8_t>;

constexpr std::array<uid_t, 2> kUsers{1000, 1001};
constexpr std::size_t kSlots = 6;

// Small, so that inputs reach every limit.
constexpr transport::Limits kLimits{
    .connections = 8,
    .connections_per_user = 5,
    .starts = 3,
    .starts_per_user = 2,
    .closes = 3,
    .closes_per_user = 2,
    .contexts_per_client = 3,
    .first_frame_deadline = std::chrono::minutes(1),
    .outgoing_bytes = 64 * 1024,
    .thread_idle_time = std::chrono::minutes(1),
};

class DroppingSink final : public norvo::log::Sink {
  public:
    bool accepts(norvo::log::Level) const override { return false; }
    void write(const norvo::log::Record&) override {}
};

sockaddr_un abstract_address() {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const auto name = "norvo-session-fuzz-" + std::to_string(::getpid());
    name.copy(address.sun_path + 1, sizeof(address.sun_path) - 2);
    return address;
}

norvo::posix::UniqueFd listening_socket() {
    norvo::posix::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const auto address = abstract_address();
    check(fd.valid() &&
              ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 &&
              ::listen(fd.get(), 64) == 0,
          "the service listens");
    return fd;
}

// The peer credentials are the connecting thread's effective ids: this thread
// takes the user's for the connect only (the raw call changes no other thread).
norvo::posix::UniqueFd connect_as(uid_t uid) {
    check(::syscall(SYS_setresuid, -1, uid, -1) == 0, "the thread becomes the user");
    norvo::posix::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const auto address = abstract_address();
    const bool connected =
        fd.valid() &&
        ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    check(::syscall(SYS_setresuid, -1, 0, -1) == 0, "the thread is root again");
    check(connected, "a client connects");
    return fd;
}

bool is_known_fault(wire::RpcStatus status) {
    namespace s = wire::status;
    for (const auto known :
         {s::context_mismatch, s::unknown_interface, s::server_too_busy, s::out_of_resources,
          s::protocol_error, s::procnum_out_of_range, s::null_context, s::bad_stub_data}) {
        if (status == known)
            return true;
    }
    return false;
}

struct Client {
    norvo::posix::UniqueFd socket;
    wire::FrameAssembler incoming;
    std::optional<wire::AssociationKey> association;                       // from its first Hello
    std::multiset<std::pair<std::uint32_t, std::uint8_t>> asked;           // call id, opnum
    std::optional<std::pair<std::uint32_t, std::uint32_t>> last_callback;  // call id, sequence
    bool hello_read = false;
    bool refused = false;
};

class Session {
  public:
    Session() : state_(transport::AccessPolicy{.service_uid = 0}, kLimits) {
        reactor_ = transport::Reactor::start(state_, listening_.get());
        check(reactor_ != nullptr, "the reactor starts");
    }

    void step(ByteReader& input) {
        const auto op = input.u8() % 8;
        auto& slot = slots_[input.u8() % kSlots];
        if (op == 0)
            return connect(slot, kUsers[input.u8() & 1]);
        if (!slot)
            return;
        switch (op) {
            case 1:
                return send(*slot,
                            frame(wire::FrameKind::Hello, 0, 0, *wire::encode(wire::Hello{})));
            case 2:
                return send(*slot, frame(wire::FrameKind::Join, 0, 0,
                                         *wire::encode(wire::Join{pick_association(input)})));
            case 3:
                return call(*slot, input);
            case 4:
                return reply(*slot, input);
            case 5: {
                const auto bytes = input.take(input.u8() % 48);
                return send(*slot, Bytes(bytes.begin(), bytes.end()));
            }
            case 6:
                return hang_up(slot, input.u8() & 1);
            default:
                return read_all(*slot);
        }
    }

    // Every client goes; then every run ends and every share is whole.
    void finish() {
        for (auto& slot : slots_) {
            if (slot)
                read_all(*slot);
            slot.reset();
        }
        reactor_.reset();
        state_.workers.wait_until_idle();
        state_.rundowns.wait_until_idle();
        state_.workers.wait_until_idle();
        check(norvo::service::connected_user_count.load() == 0, "every sensor run has ended");
        for (const auto uid : kUsers) {
            check(whole(state_.connections, uid, kLimits.connections_per_user),
                  "a user's connections are all given back");
            check(whole(state_.starts, uid, kLimits.starts_per_user),
                  "a user's sensor runs are all given back");
            check(whole(state_.closes, uid, kLimits.closes_per_user),
                  "a user's closes are all given back");
        }
    }

  private:
    static bool whole(norvo::service::UserQuota& quota, uid_t uid, std::size_t share) {
        std::vector<norvo::service::UserQuota::Permit> held;
        for (std::size_t i = 0; i < share; ++i) {
            auto permit = quota.try_enter(transport::account_of(uid));
            if (!permit)
                return false;
            held.push_back(std::move(*permit));
        }
        return true;
    }

    static Bytes frame(wire::FrameKind kind, std::uint8_t opnum, std::uint32_t call_id,
                       const Bytes& payload) {
        return wire::make_frame(kind, opnum, call_id, payload);
    }

    void connect(std::unique_ptr<Client>& slot, uid_t uid) {
        slot = std::make_unique<Client>();
        slot->socket = connect_as(uid);
        // The service speaks first: its Hello says whether the client stays.
        while (!slot->hello_read && !slot->refused && receive(*slot, /*wait=*/true)) {
        }
        if (!slot->refused && slot->association)
            keys_.push_back(*slot->association);
    }

    wire::AssociationKey pick_association(ByteReader& input) {
        const auto choice = input.u8();
        if (choice < 200 && !keys_.empty())
            return keys_[choice % keys_.size()];  // live, dead, or the other user's
        wire::AssociationKey made_up;
        const auto bytes = input.take(made_up.bytes.size());
        std::copy(bytes.begin(), bytes.end(), made_up.bytes.begin());
        return made_up;
    }

    wire::ContextToken pick_context(ByteReader& input) {
        const auto choice = input.u8();
        if (choice < 200 && !contexts_.empty())
            return contexts_[choice % contexts_.size()];  // of any client, open or closed
        wire::ContextToken token;
        if (choice & 1)
            token.bytes.fill(choice);
        return token;
    }

    void call(Client& client, ByteReader& input) {
        const auto opnum = input.u8() % 8;
        const auto call_id = input.u32();
        const auto context = pick_context(input);
        const auto bytes = input.take(input.u8() % 24);
        const Bytes value(bytes.begin(), bytes.end());
        std::optional<wire::Call> made;
        switch (opnum) {
            case 0:
                made = wire::call::RemoteOpen{};
                break;
            case 1:
                made = wire::call::RemoteClose{context};
                break;
            case 2:
                made = wire::call::NorvoStartSensor{context, input.u32()};
                break;
            case 3:
                made = wire::call::NorvoStopSensor{context};
                break;
            case 4:
                made = wire::call::NorvoReceiveClientEvent{context, {value}};
                break;
            case 5:
                made = wire::call::NorvoSetProperty{context, input.u8() % 12, {value}};
                break;
            case 6:
                made = wire::call::NorvoQueryProperty{context, input.u8() % 12,
                                                      wire::PropertyBuffer{value}, std::nullopt};
                break;
            default:
                break;  // an opnum outside the table, with raw parameters
        }
        const auto payload = made ? *wire::encode_call(*made) : value;
        client.asked.emplace(call_id, static_cast<std::uint8_t>(opnum));
        send(client,
             frame(wire::FrameKind::Call, static_cast<std::uint8_t>(opnum), call_id, payload));
    }

    void reply(Client& client, ByteReader& input) {
        auto [call_id, sequence] =
            client.last_callback.value_or(std::pair{input.u32(), input.u32()});
        if (input.u8() & 1)
            sequence += 1;  // out of turn
        const wire::RpcStatus status = (input.u8() & 1) ? wire::status::ok : 1;
        send(client, frame(wire::FrameKind::CallbackReply, 0, call_id,
                           *wire::encode(wire::CallbackReply{sequence, status})));
    }

    // A service that no longer reads this client takes none of the rest.
    static void send(Client& client, const Bytes& bytes) {
        (void)::send(client.socket.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    }

    void hang_up(std::unique_ptr<Client>& slot, bool half) {
        if (half) {
            ::shutdown(slot->socket.get(), SHUT_WR);
            return;
        }
        read_all(*slot);
        slot.reset();
    }

    void read_all(Client& client) {
        while (receive(client, /*wait=*/false)) {
        }
    }

    // False once nothing more is there (or, waiting, the socket ended).
    bool receive(Client& client, bool wait) {
        const auto room = client.incoming.space();
        const auto n =
            ::recv(client.socket.get(), room.data(), room.size(), wait ? 0 : MSG_DONTWAIT);
        if (n <= 0)
            return false;
        client.incoming.commit(static_cast<std::size_t>(n));
        while (auto next = client.incoming.next()) {
            check(next->has_value(), "the service sends whole, well-formed frames");
            take(client, **next);
        }
        return true;
    }

    void take(Client& client, const wire::ReceivedFrame& frame) {
        // Faults may answer frames of any kind, raw bytes included: only their status is checked.
        const auto asked = [&](std::uint8_t opnum) {
            return client.asked.contains({frame.header.call_id, opnum});
        };
        switch (static_cast<wire::FrameKind>(frame.header.kind)) {
            case wire::FrameKind::Hello: {
                const auto hello = wire::decode<wire::Hello>(frame.payload);
                check(
                    hello && hello->version == wire::kProtocolVersion && frame.header.call_id == 0,
                    "a Hello decodes");
                if (hello->status != wire::status::ok) {
                    client.refused = true;
                } else if (!client.hello_read) {
                    client.association = hello->association;
                }
                client.hello_read = true;
                return;
            }
            case wire::FrameKind::Result:
                check(asked(frame.header.opnum) &&
                          frame.header.opnum < std::variant_size_v<wire::Call>,
                      "a result answers a call of its client");
                return take_result(frame);
            case wire::FrameKind::Fault: {
                const auto fault = wire::decode<wire::Fault>(frame.payload);
                check(fault && is_known_fault(fault->status), "a fault names a known status");
                return;
            }
            case wire::FrameKind::Callback: {
                const auto callback = wire::decode_callback(frame.header.opnum, frame.payload);
                check(callback.has_value(), "a callback decodes");
                check(asked(wire::kOpnum<wire::call::NorvoStartSensor>),
                      "a callback comes inside a start of its client");
                client.last_callback = {frame.header.call_id, callback->sequence};
                return;
            }
            default:
                check(false, "the service sends only Hello, Result, Fault and Callback");
        }
    }

    void take_result(const wire::ReceivedFrame& frame) {
        switch (frame.header.opnum) {
            case wire::kOpnum<wire::call::RemoteOpen>: {
                const auto opened = wire::decode<wire::result::RemoteOpen>(frame.payload);
                check(opened && !opened->context.is_null(), "an open gives a handle");
                contexts_.push_back(opened->context);
                return;
            }
            case wire::kOpnum<wire::call::RemoteClose>: {
                const auto closed = wire::decode<wire::result::RemoteClose>(frame.payload);
                check(closed && closed->context.is_null(), "a close nulls the handle");
                return;
            }
            case wire::kOpnum<wire::call::NorvoQueryProperty>:
                check(wire::decode<wire::result::NorvoQueryProperty>(frame.payload).has_value(),
                      "a query's result decodes");
                return;
            default:
                check(wire::decode<wire::result::Status>(frame.payload).has_value(),
                      "a result is a status");
        }
    }

    norvo::posix::UniqueFd listening_ = listening_socket();
    transport::ServerState state_;
    std::unique_ptr<transport::Reactor> reactor_;
    std::array<std::unique_ptr<Client>, kSlots> slots_;
    std::vector<wire::AssociationKey> keys_;
    std::vector<wire::ContextToken> contexts_;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    norvo::log::set_sink(std::make_shared<DroppingSink>());
    // A query of an unknown key prints to standard output; libFuzzer reports on standard error.
    check(std::freopen("/dev/null", "w", stdout) != nullptr, "standard output to /dev/null");
    norvo::testing::FakeRuntime::get();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteReader input({data, size});
    Session session;
    for (std::size_t steps = 0; !input.empty() && steps < 64; ++steps) session.step(input);
    session.finish();
    return 0;
}
