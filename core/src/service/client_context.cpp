#include "norvo/service/client_context.hpp"

namespace norvo::service {

std::atomic<std::int32_t> connected_user_count{0};

SharedCell<bool> process_ignore_unidentified_clients() {
    // Leaked on purpose: the cell outlives every context and every static destructor.
    static const auto* cell = new SharedCell<bool>(make_shared_cell(false));
    return *cell;
}

}  // namespace norvo::service
