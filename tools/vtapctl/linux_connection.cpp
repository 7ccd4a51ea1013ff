// vtapctl's connection on Linux: the client library over the service's Unix socket.

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "connection.hpp"
#include "norvo/client/connection.hpp"
#include "norvo/posix/service_folders.hpp"
#include "results.hpp"

namespace norvo::vtapctl {
namespace {

CallFailure failure(const client::RpcFailure& f) {
    return CallFailure{f.status, std::string(f.describe())};
}

client::ContextHandle native(const ContextHandle& context) {
    return client::ContextHandle{context.bytes};
}

class ClientCallbacks final : public client::Callbacks {
  public:
    explicit ClientCallbacks(vtapctl::Callbacks& to) : to_(to) {}
    void tap_event(std::int32_t kind, std::uint64_t timestamp, std::uint64_t cookie) override {
        to_.tap_event(kind, timestamp, cookie);
    }
    void send_client_event(std::span<const std::uint8_t> packet, std::uint64_t cookie) override {
        to_.send_client_event(packet, cookie);
    }
    void sensor_state_changed(std::uint64_t timestamp, std::uint16_t state,
                              std::uint64_t cookie) override {
        to_.sensor_state_changed(timestamp, state, cookie);
    }
    void signal_return(std::int32_t status, std::uint64_t cookie) override {
        to_.signal_return(status, cookie);
    }

  private:
    vtapctl::Callbacks& to_;
};

class SocketConnection final : public Connection {
  public:
    explicit SocketConnection(std::unique_ptr<client::Connection> connection)
        : connection_(std::move(connection)) {}

    void disconnect() override { connection_->disconnect(); }

    [[nodiscard]] Result<ContextHandle> RemoteOpen() override {
        auto opened = connection_->RemoteOpen();
        if (!opened)
            return std::unexpected(failure(opened.error()));
        return ContextHandle{opened->bytes};
    }
    [[nodiscard]] Result<void> RemoteClose(ContextHandle& context) override {
        auto handle = native(context);
        auto closed = described(connection_->RemoteClose(handle), failure);
        context.bytes = handle.bytes;
        return closed;
    }
    [[nodiscard]] Result<HRESULT> NorvoStartSensor(const ContextHandle& context,
                                                   std::uint64_t cookie,
                                                   Callbacks& callbacks) override {
        ClientCallbacks forwarded(callbacks);
        return described(connection_->NorvoStartSensor(native(context), cookie, forwarded),
                         failure);
    }
    [[nodiscard]] Result<HRESULT> NorvoStopSensor(const ContextHandle& context) override {
        return described(connection_->NorvoStopSensor(native(context)), failure);
    }
    [[nodiscard]] Result<HRESULT> NorvoReceiveClientEvent(
        const ContextHandle& context, std::span<const std::uint8_t> packet) override {
        return described(connection_->NorvoReceiveClientEvent(native(context), packet), failure);
    }
    [[nodiscard]] Result<HRESULT> NorvoSetProperty(const ContextHandle& context, PropertyKey key,
                                                   std::span<const std::uint8_t> value) override {
        return described(connection_->NorvoSetProperty(native(context), key, value), failure);
    }
    [[nodiscard]] Result<QueryResult> NorvoQueryProperty(
        const ContextHandle& context, PropertyKey key, std::optional<std::uint16_t> room) override {
        std::optional<std::vector<std::uint8_t>> buffer;
        if (room)
            buffer.emplace(*room);
        auto out = connection_->NorvoQueryProperty(native(context), key, std::move(buffer));
        if (!out)
            return std::unexpected(failure(out.error()));
        return QueryResult{out->value, out->size, std::move(out->buffer)};
    }

  private:
    std::unique_ptr<client::Connection> connection_;
};

// Why the service at `socket` could not be reached, as one line on stderr.
void report(const std::filesystem::path& socket, const client::RpcFailure& f) {
    if (f.status == wire::status::server_unavailable) {
        std::fprintf(stderr, "vtapctl: no service at %s\n", socket.c_str());
    } else if (f.status == wire::status::access_denied) {
        std::fprintf(stderr, "vtapctl: the service at %s refused this user (uid %u)\n",
                     socket.c_str(), static_cast<unsigned>(::geteuid()));
    } else {
        std::fprintf(stderr, "vtapctl: cannot connect to %s: %s\n", socket.c_str(),
                     rpc_error_text(failure(f)).c_str());
    }
}

}  // namespace

std::unique_ptr<Connection> connect(const std::optional<std::string>& endpoint) {
    const auto sockets = posix::client_socket_paths(endpoint, "NorvoVxtRpcEndpoint");
    std::vector<client::RpcFailure> failures;
    for (const auto& socket : sockets) {
        auto connection = client::Connection::connect(socket);
        if (connection)
            return std::make_unique<SocketConnection>(std::move(*connection));
        failures.push_back(connection.error());
    }
    // Only now: a service found at the second place makes the first one's absence no news.
    for (std::size_t i = 0; i < sockets.size(); ++i) report(sockets[i], failures[i]);
    if (!endpoint)
        std::fprintf(stderr, "vtapctl: is norvo-vtapd running? --socket PATH names its endpoint\n");
    return nullptr;
}

}  // namespace norvo::vtapctl
