#include "norvo/posix/error.hpp"

#include <cerrno>
#include <cstring>

namespace norvo::posix {

PosixError last_error(std::string what) {
    const int code = errno;
    return PosixError{std::move(what), code};
}

}  // namespace norvo::posix

fmt::format_context::iterator fmt::formatter<norvo::posix::PosixError>::format(
    const norvo::posix::PosixError& e, format_context& ctx) const {
    if (e.code == 0)
        return fmt::format_to(ctx.out(), "{}", e.what);
    return fmt::format_to(ctx.out(), "{}: {}", e.what, std::strerror(e.code));
}
