#pragma once
// The host's error values: a message and an optional cause. Logging one shows
// only its outermost message.

#include <fmt/format.h>

#include <memory>
#include <string>

namespace norvo::host {

class HostError {
  public:
    explicit HostError(std::string message) : message_(std::move(message)) {}

    // A new error with `message`, caused by this one.
    HostError context(std::string message) &&;

    const std::string& message() const { return message_; }
    // Null for a root error.
    const HostError* cause() const { return cause_.get(); }

  private:
    std::string message_;
    std::shared_ptr<const HostError> cause_;
};

// The message with every cause after it: "Failed to run service: RPC status: 1740".
std::string error_chain(const HostError& error);

// A failed platform call; `detail` is the platform's own text for its error.
HostError platform_call_error(std::string detail);

}  // namespace norvo::host

template <>
struct fmt::formatter<norvo::host::HostError> : fmt::formatter<std::string_view> {
    auto format(const norvo::host::HostError& e, format_context& ctx) const {
        return fmt::formatter<std::string_view>::format(e.message(), ctx);
    }
};
