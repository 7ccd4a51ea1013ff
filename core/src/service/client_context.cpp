#include "norvo/service/client_context.hpp"

namespace norvo::service {

std::atomic<std::int32_t> connected_user_count{0};

ClientContext::ClientContext()
    : ignore_unidentified_clients(process_ignore_unidentified_clients()),
      settings(make_shared_cell(TapSettings{})),
      processing_gate(std::make_shared<ProcessingGate>()),
      tap_strength(make_shared_cell<std::optional<float>>()),
      client_id(make_shared_cell<std::optional<std::string>>()) {}

SharedCell<bool> process_ignore_unidentified_clients() {
    // Leaked on purpose: the cell outlives every context and every static destructor.
    static const auto* cell = new SharedCell<bool>(make_shared_cell(false));
    return *cell;
}

}  // namespace norvo::service
