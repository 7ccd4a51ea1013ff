#pragma once
// A descriptor held back for a listener. Once the process has run out of
// descriptors, a connection waiting in the listener's queue keeps a
// level-triggered wait reporting the listener ready for ever: spending the
// reserve takes it off the queue instead of spinning on it.

#include <functional>

#include "norvo/posix/unique_fd.hpp"

namespace norvo::posix {

class DescriptorReserve {
  public:
    DescriptorReserve();

    // After an accept failed with EMFILE or ENFILE: accepts the queued connection in
    // the reserve's place, hands it to `refuse` (which may tell it why) and closes it,
    // then takes the reserve back. False when no connection could be taken or the
    // reserve could not be had back: stop waiting on the listener for a while.
    [[nodiscard]] bool shed(int listening, const std::function<void(const UniqueFd&)>& refuse);
    // Takes the reserve back if it was lost; false while it cannot be had.
    [[nodiscard]] bool refill();

  private:
    UniqueFd spare_;
};

}  // namespace norvo::posix
