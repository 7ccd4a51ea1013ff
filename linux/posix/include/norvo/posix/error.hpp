#pragma once
// A failed system call as a value: what was attempted and the errno it left.

#include <fmt/format.h>

#include <string>

namespace norvo::posix {

struct PosixError {
    std::string what;  // e.g. "cannot bind /run/norvo-vtap/sensor"
    int code = 0;      // errno; 0 when the failure was found without a call
};

// The error of the call that has just failed, from errno.
PosixError last_error(std::string what);

}  // namespace norvo::posix

// "cannot bind /x: Address already in use", or only `what` without a code.
template <>
struct fmt::formatter<norvo::posix::PosixError> : fmt::formatter<std::string_view> {
    format_context::iterator format(const norvo::posix::PosixError& e, format_context& ctx) const;
};
