#include "norvo/posix/descriptor_reserve.hpp"

#include <fcntl.h>
#include <sys/socket.h>

namespace norvo::posix {
namespace {

UniqueFd open_spare() {
    return UniqueFd(::open("/dev/null", O_RDONLY | O_CLOEXEC));
}

}  // namespace

DescriptorReserve::DescriptorReserve() : spare_(open_spare()) {}

bool DescriptorReserve::shed(int listening, const std::function<void(const UniqueFd&)>& refuse) {
    spare_ = {};
    bool taken = false;
    {
        const UniqueFd queued(::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC));
        taken = queued.valid();
        if (taken)
            refuse(queued);
    }
    spare_ = open_spare();
    return taken && spare_.valid();
}

bool DescriptorReserve::refill() {
    if (!spare_.valid())
        spare_ = open_spare();
    return spare_.valid();
}

}  // namespace norvo::posix
