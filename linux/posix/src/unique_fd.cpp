#include "norvo/posix/unique_fd.hpp"

#include <unistd.h>

namespace norvo::posix {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        UniqueFd old(std::exchange(fd_, other.release()));
    }
    return *this;
}

UniqueFd::~UniqueFd() {
    if (fd_ >= 0)
        ::close(fd_);
}

}  // namespace norvo::posix
