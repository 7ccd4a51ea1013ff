#include "norvo/host/host_error.hpp"

namespace norvo::host {

HostError HostError::context(std::string message) && {
    HostError wrapped(std::move(message));
    wrapped.cause_ = std::make_shared<const HostError>(std::move(*this));
    return wrapped;
}

HostError platform_call_error(std::string detail) {
    return HostError(std::move(detail)).context("IO error in winapi call");
}

}  // namespace norvo::host
