#include "norvo/rpc/rpc_server.hpp"

#include "norvo/rpc/log_target.hpp"

namespace norvo::rpc {

std::expected<RpcServer, RpcError> RpcServer::start(const std::filesystem::path& endpoint,
                                                    transport::AccessPolicy access,
                                                    transport::Limits limits) {
    auto bound = transport::Endpoint::bind(endpoint);
    if (!bound)
        return std::unexpected(RpcError::from_status(bound.error()));
    kLog.trace("Rpc Server requested");

    RpcServer server;
    server.runtime_ = std::make_unique<transport::Server>(access, limits);
    kLog.trace("Rpc Server registered");

    server.bindings_ = std::make_unique<transport::Endpoint>(std::move(*bound));
    kLog.trace("Rpc Server bindings inquired");

    if (auto published = server.bindings_->publish(); !published) {
        return std::unexpected(RpcError::from_status(published.error()));
    }
    kLog.trace("Rpc Server endpoint registered");

    if (!server.runtime_->accept_on(server.bindings_->socket())) {
        return std::unexpected(RpcError::from_status(wire::status::out_of_resources));
    }
    kLog.trace("Rpc Server listening");
    return server;
}

std::expected<void, RpcError> RpcServer::stop() {
    if (!bindings_)
        return {};
    runtime_->unregister_interface();
    kLog.trace("Rpc Server unregistered");
    runtime_->stop_accepting();
    bindings_->withdraw();
    kLog.trace("Rpc Server endpoint unregistered");
    bindings_.reset();
    kLog.trace("Rpc Server bindings freed");
    return {};
}

RpcServer::~RpcServer() {
    (void)stop();
    bindings_.reset();
    runtime_.reset();
}

}  // namespace norvo::rpc
