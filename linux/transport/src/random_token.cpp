#include "random_token.hpp"

#include <sys/random.h>

#include <cerrno>

#include "norvo/fatal.hpp"

namespace norvo::transport {

void fill_random(std::span<std::uint8_t> bytes) {
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const auto n = ::getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (n > 0) {
            filled += static_cast<std::size_t>(n);
        } else if (errno != EINTR) {
            fatal("no random bytes for a token");
        }
    }
}

}  // namespace norvo::transport
