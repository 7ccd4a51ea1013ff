// From an IIO single-tap record written to the device's event descriptor (a pipe here) to
// the Confirmed callback: IIO tap sensor, stand-in Sensor API, sensor library and sensor
// loop, on the real clock. A phone tap waits in the loop first, so the record completes a pair.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <fmt/format.h>
#include <linux/iio/events.h>
#include <linux/iio/types.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "loop_pairs.hpp"
#include "norvo/linux/iio_tap_sensor.hpp"
#include "norvo/linux/steady_clock.hpp"
#include "norvo/log.hpp"
#include "norvo/sensorlib/sensor_library.hpp"
#include "norvo/service/procedures.hpp"

namespace {

using namespace norvo;

void BM_IioTapToConfirmation(benchmark::State& state) {
    log::set_sink(nullptr);
    if (!service::RUNTIME_HANDLE.get()) {  // the library runs this function more than once
        service::RUNTIME_HANDLE.publish(std::make_shared<service::Runtime>(
            service::Runtime{std::make_shared<linux_platform::SteadyClock>(),
                             std::make_shared<sensorlib::MtaApartment>(),
                             std::make_shared<sensorlib::ComSensorLibrary>()}));
    }
    const auto root =
        std::filesystem::temp_directory_path() / ("norvo-iio-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(root / "iio:device0" / "events");
    std::ofstream(root / "iio:device0" / "events" / "in_accel_gesture_singletap_en") << "0\n";
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        state.SkipWithError("pipe2 failed");
        return;
    }
    const posix::UniqueFd writer(fds[1]);
    auto reader = std::make_shared<posix::UniqueFd>(fds[0]);
    auto sensor = linux_platform::IioTapSensor::open(linux_platform::IioSource{
        root, "",
        [reader](
            const std::string&) -> std::expected<posix::UniqueFd, linux_platform::IioOpenError> {
            if (!reader->valid())
                return std::unexpected(
                    linux_platform::IioOpenError{linux_platform::IioOpenError::Step::node, ENODEV});
            return std::move(*reader);
        }});
    if (!sensor) {
        state.SkipWithError(fmt::format("{}", sensor.error()).c_str());
        return;
    }
    service::ContextHandle context;
    service::RemoteOpen(context);
    const std::uint8_t range[] = {0x60, 0xEA, 0x00, 0x00};  // 60 s: no pair times out
    (void)service::NorvoSetProperty(*context, 3, range);
    bench::ConfirmedCounter counter;
    std::thread run([&] {
        service::CurrentCallScope scope(counter);
        (void)service::NorvoStartSensor(*context, 1);
    });
    counter.wait_until_started();

    const std::uint8_t phone_tap[] = {0x01, 0x00, 0x01, 0x00, 0x00, 0x00};
    const iio_event_data tap{
        std::uint64_t{IIO_EV_TYPE_GESTURE} << 56 | std::uint64_t{IIO_EV_DIR_SINGLETAP} << 48, 0};
    std::uint64_t pairs = 0;
    for (auto _ : state) {
        (void)service::NorvoReceiveClientEvent(*context, phone_tap);
        const auto start = std::chrono::steady_clock::now();
        if (::write(writer.get(), &tap, sizeof tap) != static_cast<ssize_t>(sizeof tap)) {
            state.SkipWithError("write failed");
            break;
        }
        counter.wait_for(++pairs);
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    (void)service::NorvoStopSensor(*context);
    run.join();
    service::RemoteClose(context);
    sensor->reset();
    std::filesystem::remove_all(root);
}
BENCHMARK(BM_IioTapToConfirmation)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
