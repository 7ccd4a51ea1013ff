#pragma once
// The test client's side of the interface: each call goes through the guard, so a failure
// of the RPC runtime comes back as its exception code.

#include "norvo/windows/rpc/norvo_vtap.h"

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace norvo::windows::rpc::test {

// Property keys and result codes the tests use.
namespace key {
constexpr long simulation_mode = 2;
constexpr long confirmation_range = 3;
constexpr long forward_confirm_tap = 6;
}  // namespace key
namespace result {
constexpr long ok = 0;
constexpr long invalid_arg = static_cast<long>(0x80070057);
constexpr long unexpected = static_cast<long>(0x8000FFFF);
constexpr long abort = static_cast<long>(0x80004004);
}  // namespace result

template <class T>
using Rpc = std::expected<T, std::uint32_t>;

// A binding to the service's local endpoint.
class Binding {
  public:
    static Rpc<Binding> local();
    Binding(Binding&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    Binding& operator=(Binding&&) = delete;
    ~Binding();
    handle_t get() const { return handle_; }

  private:
    explicit Binding(handle_t handle) : handle_(handle) {}
    handle_t handle_;
};

struct QueryResult {
    long result = 0;
    long size = 0;
    std::vector<std::uint8_t> buffer;  // as returned, when one was offered
};

// One context handle; closed when it goes, unless it was closed (or lost) before.
class Session {
  public:
    static Rpc<Session> open(const Binding& binding);
    Session(Session&& other) noexcept : context_(std::exchange(other.context_, nullptr)) {}
    Session& operator=(Session&&) = delete;
    ~Session();

    PCONTEXT_HANDLE_TYPE handle() const { return context_; }
    // The handle, for stubs of another make; this session forgets it.
    PCONTEXT_HANDLE_TYPE release() { return std::exchange(context_, nullptr); }
    Rpc<void> close();
    Rpc<long> start(std::int64_t cookie);
    Rpc<long> stop();
    Rpc<long> receive(std::span<const std::uint8_t> packet);
    Rpc<long> set(long key, std::span<const std::uint8_t> value);
    // `room`: the size of the buffer offered, none for a null buffer; `input` likewise.
    Rpc<QueryResult> query(long key, std::optional<std::uint16_t> room,
                           std::optional<std::vector<std::uint8_t>> input = std::nullopt);

  private:
    explicit Session(PCONTEXT_HANDLE_TYPE context) : context_(context) {}
    PCONTEXT_HANDLE_TYPE context_;
};

// The callbacks this process received, in order.
struct CallbackRecord {
    int callback;        // callback opnum
    std::int64_t first;  // parameters in wire order, the packet of callback 1 apart
    std::int64_t second;
    std::vector<std::uint8_t> bytes;
    std::int64_t cookie;
    bool operator==(const CallbackRecord&) const = default;
};
std::vector<CallbackRecord> received_callbacks();

}  // namespace norvo::windows::rpc::test
