#include "norvo/host/host_error.hpp"

namespace norvo::host {

HostError HostError::context(std::string message) && {
    HostError wrapped(std::move(message));
    wrapped.cause_ = std::make_shared<const HostError>(std::move(*this));
    return wrapped;
}

std::string error_chain(const HostError& error) {
    std::string chain = error.message();
    for (const HostError* cause = error.cause(); cause != nullptr; cause = cause->cause())
        chain += ": " + cause->message();
    return chain;
}

HostError platform_call_error(std::string detail) {
    return HostError(std::move(detail)).context("IO error in winapi call");
}

}  // namespace norvo::host
