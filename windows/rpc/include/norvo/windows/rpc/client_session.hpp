#pragma once
// The client's side of the interface: each call goes through the guard, so a failure of the
// RPC runtime comes back as its exception code. The program implements the vtap_client_*
// callbacks.

#include "norvo/windows/rpc/norvo_vtap.h"

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace norvo::windows::rpc {

template <class T>
using Rpc = std::expected<T, std::uint32_t>;

// A binding to the service's local endpoint.
class Binding {
  public:
    [[nodiscard]] static Rpc<Binding> local(const std::wstring& endpoint = L"NorvoVxtRpcEndpoint");
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
    [[nodiscard]] static Rpc<Session> open(const Binding& binding);
    // A handle opened before, for calls from another thread; it is not closed by this session.
    static Session borrow(PCONTEXT_HANDLE_TYPE context) { return Session(context, false); }
    Session(Session&& other) noexcept
        : context_(std::exchange(other.context_, nullptr)), owned_(other.owned_) {}
    Session& operator=(Session&&) = delete;
    ~Session();

    PCONTEXT_HANDLE_TYPE handle() const { return context_; }
    // The handle, for stubs of another make; this session forgets it.
    PCONTEXT_HANDLE_TYPE release() { return std::exchange(context_, nullptr); }
    [[nodiscard]] Rpc<void> close();
    [[nodiscard]] Rpc<long> start(std::int64_t cookie);
    [[nodiscard]] Rpc<long> stop();
    [[nodiscard]] Rpc<long> receive(std::span<const std::uint8_t> packet);
    [[nodiscard]] Rpc<long> set(long key, std::span<const std::uint8_t> value);
    // `room`: the size of the buffer offered, none for a null buffer; `input` likewise.
    [[nodiscard]] Rpc<QueryResult> query(
        long key, std::optional<std::uint16_t> room,
        std::optional<std::vector<std::uint8_t>> input = std::nullopt);

  private:
    Session(PCONTEXT_HANDLE_TYPE context, bool owned) : context_(context), owned_(owned) {}
    PCONTEXT_HANDLE_TYPE context_;
    bool owned_;
};

}  // namespace norvo::windows::rpc
