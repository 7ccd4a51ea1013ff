#include "norvo/service/sensor_callbacks.hpp"

namespace norvo::service {

using namespace sensors;

SensorCallbacks make_sensor_callbacks(const channel::Sender<SensorMessage>& sender) {
    return SensorCallbacks{
        .on_state_changed = [sender](SensorState s) { (void)sender.try_send(message::StateChanged{s}); },
        .on_data_updated =
            [sender](std::vector<SensorField> fields) {
                (void)sender.try_send(message::DataUpdated{std::move(fields)});
            },
        .on_left = [sender] { (void)sender.try_send(message::Left{}); },
        .on_entered = [sender](SensorState s) { (void)sender.try_send(message::Entered{s}); },
    };
}

}  // namespace norvo::service
