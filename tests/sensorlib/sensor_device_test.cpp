// The whole road on Linux: vtap-sensor (or an IIO device's events) → stand-in Sensor
// API → sensor library → sensor loop → client callbacks, on the real clock.

#include "norvo/linux/sensor_device.hpp"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/iio/events.h>
#include <linux/iio/types.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "detect/knocks.hpp"
#include "device_process.hpp"
#include "norvo/linux/iio_buffer.hpp"
#include "norvo/linux/iio_tap_sensor.hpp"
#include "norvo/linux/steady_clock.hpp"
#include "norvo/linux_host/sensor_source.hpp"
#include "norvo/log_capture.hpp"
#include "norvo/posix/unix_socket.hpp"
#include "norvo/sensorlib/com_object.hpp"
#include "norvo/sensorlib/com_ptr.hpp"
#include "norvo/sensorlib/sensor_library.hpp"
#include "norvo/service/procedures.hpp"
#include "support/start_harness.hpp"

namespace norvo::testing {
namespace {

using sensorlib::ComPtr;
using ::testing::Contains;
using ::testing::ElementsAre;
namespace hr = service::hr;

const std::string kId = "9B4AA91F-AEBD-4CF2-9565-672E4F0586CB";
const std::uint8_t kPhoneTap[] = {0x01, 0x00, 0x01, 0x00, 0x00, 0x00};

// The callback lines without their loop timestamps, which the real clock makes vary.
std::vector<std::string> without_timestamps(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const auto& line : lines)
        out.push_back(std::regex_replace(line, std::regex(" ts=\\d+"), ""));
    return out;
}

// Sees the sensor enter through a manager of its own, as any client of the Sensor API would.
class EnterWatcher final
    : public sensorlib::ComObject<ISensorManagerEvents, IID_ISensorManagerEvents> {
  public:
    [[nodiscard]] HRESULT STDMETHODCALLTYPE OnSensorEnter(ISensor*, SensorState) override {
        std::lock_guard lock(mutex_);
        ++enters_;
        cv_.notify_all();
        return S_OK;
    }
    void wait_for_enters(int count) {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return enters_ >= count; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    int enters_ = 0;
};

class SensorDeviceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        static const bool published = [] {
            service::RUNTIME_HANDLE.publish(std::make_shared<service::Runtime>(
                service::Runtime{std::make_shared<linux_platform::SteadyClock>(),
                                 std::make_shared<sensorlib::MtaApartment>(),
                                 std::make_shared<sensorlib::ComSensorLibrary>()}));
            return true;
        }();
        (void)published;
        log_ = log::CaptureSink::install();
        directory_ = std::filesystem::temp_directory_path() /
                     ("norvo-sensor-" + std::to_string(::getpid()) + "-" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(directory_);
        auto socket = linux_platform::SensorDeviceSocket::open(socket_path());
        ASSERT_TRUE(socket) << socket.error();
        socket_ = std::move(*socket);
        service::RemoteOpen(context_);
        // Wide enough that the real clock never runs a phone tap out while a test waits.
        const std::uint8_t range[] = {0x60, 0xEA, 0x00, 0x00};  // 60000 ms
        ASSERT_EQ(service::NorvoSetProperty(*context_, 3, range), hr::ok);
    }

    void TearDown() override {
        if (context_)
            service::RemoteClose(context_);
        socket_.reset();
        std::filesystem::remove_all(directory_);
    }

    std::string socket_path() const { return (directory_ / "sensor.sock").string(); }

    void start(std::uint64_t cookie) {
        run_ = std::thread([this, cookie] {
            service::CurrentCallScope scope(callbacks_);
            result_ = service::NorvoStartSensor(*context_, cookie);
        });
    }
    [[nodiscard]] service::HRESULT stop() {
        EXPECT_EQ(service::NorvoStopSensor(*context_), hr::ok);
        run_.join();
        return result_;
    }
    void phone_tap() { ASSERT_EQ(service::NorvoReceiveClientEvent(*context_, kPhoneTap), hr::ok); }

    std::size_t count_logged(const std::string& prefix) const {
        const auto lines = log_->messages();
        return std::count_if(lines.begin(), lines.end(),
                             [&](const auto& l) { return l.starts_with(prefix); });
    }

    std::shared_ptr<log::CaptureSink> log_;
    std::filesystem::path directory_;
    std::unique_ptr<linux_platform::SensorDeviceSocket> socket_;
    service::ContextHandle context_;
    RecordingCallbacks callbacks_;
    std::thread run_;
    service::HRESULT result_ = -1;
};

// Out of descriptors, a device waiting in the queue would wake the socket's thread
// for ever: it is refused (it reads the end of its stream) and that is logged once.
TEST_F(SensorDeviceTest, DevicesQueuedWhileDescriptorsRunOutAreRefused) {
    const auto address = posix::UnixAddress::of(socket_path());
    ASSERT_TRUE(address);
    std::vector<posix::UniqueFd> devices;
    for (int i = 0; i < 2; ++i) {
        auto device = posix::unix_stream_socket();
        ASSERT_TRUE(device);
        devices.push_back(std::move(*device));
    }
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
    rlimit tight = before;
    tight.rlim_cur = static_cast<rlim_t>(devices.back().get() + 16);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    std::vector<posix::UniqueFd> holes;
    for (posix::UniqueFd fd(::open("/dev/null", O_RDONLY)); fd.valid();
         fd = posix::UniqueFd(::open("/dev/null", O_RDONLY))) {
        holes.push_back(std::move(fd));
    }
    for (const auto& device : devices) {
        ASSERT_EQ(::connect(device.get(), address->get(), address->size()), 0);
        char byte = 0;
        EXPECT_EQ(::read(device.get(), &byte, 1), 0) << "the device was not taken off the queue";
    }
    holes.clear();
    ::setrlimit(RLIMIT_NOFILE, &before);
    EXPECT_EQ(count_logged("Sensor device refused: out of file descriptors"), 1u);
}

TEST_F(SensorDeviceTest, AWaitingRunFollowsTheDeviceInAndOut) {
    start(7);
    callbacks_.wait_for_calls(1);
    DeviceProcess device(socket_path());
    device.send("enter\n");
    callbacks_.wait_for_calls(2);
    phone_tap();
    device.send("tap\n");
    callbacks_.wait_for_calls(3);
    device.send("leave\n");
    callbacks_.wait_for_calls(4);
    device.send("enter 3\ntap\nstate 0\n");  // initialising: that tap is not passed on
    callbacks_.wait_for_calls(6);
    phone_tap();
    device.send("tap\n");
    callbacks_.wait_for_calls(7);
    EXPECT_EQ(device.finish(), 0);  // its input ended: the device leaves
    callbacks_.wait_for_calls(8);
    EXPECT_EQ(stop(), hr::ok);

    EXPECT_THAT(
        without_timestamps(callbacks_.lines()),
        ElementsAre("SignalReturn 0x0 cookie=7", "SensorStateChanged state=0 cookie=7",
                    "TapEvent 1 cookie=7", "SensorStateChanged state=5 cookie=7",
                    "SensorStateChanged state=3 cookie=7", "SensorStateChanged state=0 cookie=7",
                    "TapEvent 1 cookie=7", "SensorStateChanged state=5 cookie=7"));
    const auto lines = log_->messages();
    EXPECT_THAT(lines, Contains("Sensor " + kId +
                                " not immediately available. Waiting for OnSensorEnter."));
    EXPECT_THAT(lines, Contains("Reconnecting sensor: " + kId));
    EXPECT_THAT(lines, Contains("OnLeave event received for sensor: " + kId));
    EXPECT_THAT(lines, Contains("Received data but sensor not ready"));
    EXPECT_EQ(count_logged("Laptop tap detected at: "), 2u);
    EXPECT_EQ(count_logged("Sensor device connected"), 1u);
    EXPECT_EQ(count_logged("Sensor device disconnected"), 1u);
}

class PresentSensorTest : public SensorDeviceTest {
  protected:
    // The device enters before the run starts; a manager of the test's own sees it happen.
    void enter_before_start(DeviceProcess& device, std::string_view commands) {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        ComPtr<ISensorManager> manager;
        ASSERT_EQ(CoCreateInstance(CLSID_SensorManager, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ISensorManager, reinterpret_cast<void**>(manager.put())),
                  S_OK);
        auto watcher = ComPtr<EnterWatcher>::adopt(new EnterWatcher);
        manager->SetEventSink(watcher.get());
        device.send(commands);
        watcher->wait_for_enters(1);
        manager->SetEventSink(nullptr);
        manager.reset();
        CoUninitialize();
    }
};

TEST_F(PresentSensorTest, APresentDeviceIsActivatedAtStartAndASecondDeviceIsRefused) {
    DeviceProcess device(socket_path());
    enter_before_start(device, "fields 3\nenter 0 Model-X Maker-Y\n");
    start(9);
    callbacks_.wait_for_calls(1);
    EXPECT_EQ(DeviceProcess(socket_path()).wait(), 1);

    phone_tap();
    device.send("report UI4:0 UI4:1 FILETIME:5\n");
    callbacks_.wait_for_calls(2);
    device.send(
        "report UI4:0 UI4:1\nstate 9\nstate 2\n");  // a value short, then a state out of range
    callbacks_.wait_for_calls(3);
    EXPECT_EQ(device.finish(), 0);
    callbacks_.wait_for_calls(4);
    EXPECT_EQ(stop(), hr::ok);

    EXPECT_THAT(
        without_timestamps(callbacks_.lines()),
        ElementsAre("SignalReturn 0x0 cookie=9", "TapEvent 1 cookie=9",
                    "SensorStateChanged state=2 cookie=9", "SensorStateChanged state=5 cookie=9"));
    const auto lines = log_->messages();
    EXPECT_THAT(lines, Contains("Sensor " + kId + " found immediately, activating."));
    EXPECT_EQ(count_logged("Sensor field type: "), 3u);
    EXPECT_EQ(count_logged("Laptop tap detected at: "), 1u);
    EXPECT_THAT(lines, Contains("Failed to convert sensor state: SensorState(9)"));
    EXPECT_THAT(lines, Contains("Sensor device refused: another device is connected"));
}

TEST_F(PresentSensorTest, AStartFailsWhenThePresentDeviceIsInAnInvalidState) {
    DeviceProcess device(socket_path());
    enter_before_start(device, "enter 7\n");
    {
        service::CurrentCallScope scope(callbacks_);
        EXPECT_EQ(service::NorvoStartSensor(*context_, 4), hr::unexpected);
    }
    EXPECT_THAT(callbacks_.lines(), ElementsAre("SignalReturn 0x8000ffff cookie=4"));
    EXPECT_THAT(log_->messages(), Contains("Failed to find Vextora sensor: InvalidSensorState"));
    EXPECT_EQ(device.finish(), 0);
}

// Hot-plug by hand: each change posted wakes the sensor's thread through a pipe.
class FakeDeviceWatch final : public linux_platform::IioDeviceWatch {
  public:
    FakeDeviceWatch() {
        int fds[2];
        EXPECT_EQ(::pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
        read_ = posix::UniqueFd(fds[0]);
        write_ = posix::UniqueFd(fds[1]);
    }
    int fd() const override { return read_.get(); }
    std::expected<std::vector<Change>, posix::PosixError> take() override {
        char drained[64];
        while (::read(read_.get(), drained, sizeof drained) > 0) {
        }
        std::lock_guard lock(mutex_);
        taken_ += changes_.size();
        cv_.notify_all();
        return std::exchange(changes_, {});
    }
    void post(Change change) {
        std::lock_guard lock(mutex_);
        changes_.push_back(std::move(change));
        ++posted_;
        EXPECT_EQ(::write(write_.get(), "+", 1), 1);
    }
    // Until the sensor has taken every change posted: what it does with them comes before
    // anything else it is woken for afterwards.
    void wait_until_taken() {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return taken_ == posted_; });
    }

  private:
    posix::UniqueFd read_, write_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<Change> changes_;
    std::size_t posted_ = 0, taken_ = 0;
};

std::uint64_t event_code(iio_event_type type, iio_event_direction direction) {
    return std::uint64_t{type} << 56 | std::uint64_t{direction} << 48 |
           std::uint64_t{IIO_ACCEL} << 32;
}

using OpenStep = linux_platform::IioOpenError::Step;

// A sysfs tree of the test's own, and a pipe for each opening of a device's events. As the
// kernel's event descriptor, the pipe gives whole records only and neither wakes its reader
// nor ends when the device goes: the test keeps its writing end.
class IioTapSensorTest : public SensorDeviceTest {
  protected:
    std::filesystem::path folder(const std::string& name = "iio:device0") const {
        return directory_ / "sys" / name;
    }
    static void put(const std::filesystem::path& file, std::string_view text) {
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << text;
    }
    static std::string read(const std::filesystem::path& file) {
        std::string text;
        std::getline(std::ifstream(file), text);
        return text;
    }
    void add_device(const std::string& name = "iio:device0") {
        put(folder(name) / "name", "fxls8962af\n");
        put(folder(name) / "current_timestamp_clock", "realtime\n");
        put(folder(name) / "events" / "in_accel_gesture_singletap_en", "0\n");
        put(folder(name) / "events" / "in_accel_gesture_doubletap_en", "0\n");
    }
    // A sample accelerometer as a sensor hub's driver shows one: 16-bit values stored in 32, a
    // timestamp, and a channel another program left on.
    void add_accelerometer(const std::string& name = "iio:device0") {
        const auto device = folder(name);
        put(device / "name", "accel_3d\n");
        put(device / "current_timestamp_clock", "realtime\n");
        put(device / "in_accel_scale", "0.009806650\n");
        put(device / "in_accel_offset", "-2\n");
        put(device / "sampling_frequency", "10\n");
        put(device / "sampling_frequency_available", "10 50 100 200 400\n");
        put(device / "buffer" / "enable", "0\n");
        put(device / "buffer" / "length", "2\n");
        put(device / "buffer" / "watermark", "1\n");
        const struct {
            const char* channel;
            const char* type;
            const char* on;
        } channels[] = {{"in_accel_x", "le:s16/32>>0", "0"},
                        {"in_accel_y", "le:s16/32>>0", "0"},
                        {"in_accel_z", "le:s16/32>>0", "0"},
                        {"in_timestamp", "le:s64/64>>0", "0"},
                        {"in_intensity", "le:u16/16>>0", "1"}};
        for (std::size_t i = 0; i < std::size(channels); ++i) {
            const std::string channel = channels[i].channel;
            put(device / "scan_elements" / (channel + "_en"), std::string(channels[i].on) + "\n");
            put(device / "scan_elements" / (channel + "_index"), std::to_string(i) + "\n");
            put(device / "scan_elements" / (channel + "_type"),
                std::string(channels[i].type) + "\n");
        }
    }
    // The accelerometer's records as its buffer gives them, for samples on the monotonic clock.
    static std::string records(const std::vector<detect::AccelSample>& samples) {
        std::string out;
        for (const auto& sample : samples) {
            char record[24] = {};
            const double values[] = {sample.x, sample.y, sample.z};
            for (std::size_t i = 0; i < 3; ++i) {
                const auto raw = static_cast<std::int32_t>(std::lround(values[i] / 0.00980665) + 2);
                std::memcpy(record + 4 * i, &raw, 4);
            }
            const std::int64_t time = sample.time.count();
            std::memcpy(record + 16, &time, 8);
            out.append(record, sizeof record);
        }
        return out;
    }
    // Until the sensor has let the accelerometer's node go: only the closing of the reading end
    // raises POLLERR at the writing end.
    void wait_until_node_released() const {
        pollfd writer{node_.get(), 0, 0};
        while (::poll(&writer, 1, -1) < 0 && errno == EINTR) {
        }
    }
    void wait_for_node_opens(int count) {
        std::unique_lock lock(node_mutex_);
        node_opened_.wait(lock, [&] { return node_opens_ >= count; });
    }

    // Without a watch the device is looked for on the timer.
    void open_sensor(bool with_watch = true) {
        auto sensor = linux_platform::IioTapSensor::open(source(with_watch));
        ASSERT_TRUE(sensor) << fmt::format("{}", sensor.error());
        sensor_ = std::move(*sensor);
    }
    linux_platform::IioSource source(bool with_watch = true) {
        auto watch = with_watch ? std::make_unique<FakeDeviceWatch>() : nullptr;
        watch_ = watch.get();
        return linux_platform::IioSource{
            .sysfs_root = directory_ / "sys",
            .device = {},
            .open_events = [this](const std::string&)
                -> std::expected<posix::UniqueFd, linux_platform::IioOpenError> {
                ++opens_;
                if (held_opens_ > 0) {
                    --held_opens_;
                    return std::unexpected(linux_platform::IioOpenError{OpenStep::node, EBUSY});
                }
                if (open_error_)
                    return std::unexpected(*open_error_);
                int fds[2];
                if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
                    return std::unexpected(linux_platform::IioOpenError{OpenStep::node, errno});
                events_ = posix::UniqueFd(fds[1]);
                return posix::UniqueFd(fds[0]);
            },
            .open_node = [this](const std::string&) -> std::expected<posix::UniqueFd, int> {
                std::lock_guard lock(node_mutex_);
                ++node_opens_;
                node_opened_.notify_all();
                if (held_opens_ > 0) {
                    --held_opens_;
                    return std::unexpected(EBUSY);
                }
                int fds[2];
                if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
                    return std::unexpected(errno);
                node_ = posix::UniqueFd(fds[1]);
                return posix::UniqueFd(fds[0]);
            },
            .read_period = std::chrono::milliseconds(10),
            .watch = std::move(watch),
            .check_interval = std::chrono::milliseconds(10),
            .retry_interval = std::chrono::milliseconds(10),
        };
    }
    void send(iio_event_type type, iio_event_direction direction) {
        const iio_event_data event{event_code(type, direction), 0};
        ASSERT_EQ(::write(events_.get(), &event, sizeof event), static_cast<ssize_t>(sizeof event));
    }
    // What the kernel shows of an unplug: the folder goes, the descriptor stays open.
    void remove_device(const std::string& name = "iio:device0") {
        std::filesystem::remove_all(folder(name));
        if (watch_)
            watch_->post({false, name});
    }

    void SetUp() override {
        SensorDeviceTest::SetUp();
        std::signal(SIGPIPE, SIG_IGN);  // a record sent to a device dropped fails its write
    }
    void TearDown() override {
        sensor_.reset();
        SensorDeviceTest::TearDown();
    }

    std::atomic<int> opens_ = 0;
    std::atomic<int> held_opens_ = 0;  // this many opens find the node held by another program
    std::optional<linux_platform::IioOpenError> open_error_;
    posix::UniqueFd events_;
    posix::UniqueFd node_;  // the writing end of the accelerometer's node
    std::mutex node_mutex_;
    std::condition_variable node_opened_;
    int node_opens_ = 0;
    FakeDeviceWatch* watch_ = nullptr;
    std::unique_ptr<linux_platform::IioTapSensor> sensor_;
};

TEST_F(IioTapSensorTest, FollowsTheDeviceInTapsAndOut) {
    open_sensor();
    start(7);
    callbacks_.wait_for_calls(1);
    add_device();
    watch_->post({true, "iio:device0"});
    callbacks_.wait_for_calls(2);
    EXPECT_EQ(read(folder() / "events" / "in_accel_gesture_singletap_en"), "1");
    EXPECT_EQ(read(folder() / "events" / "in_accel_gesture_doubletap_en"), "0");
    EXPECT_EQ(read(folder() / "current_timestamp_clock"), "monotonic");

    phone_tap();
    send(IIO_EV_TYPE_GESTURE, IIO_EV_DIR_SINGLETAP);
    callbacks_.wait_for_calls(3);
    send(IIO_EV_TYPE_GESTURE, IIO_EV_DIR_DOUBLETAP);
    send(IIO_EV_TYPE_THRESH, IIO_EV_DIR_SINGLETAP);
    add_device("iio:device1");  // another device goes: the tap device stays
    remove_device("iio:device1");
    watch_->wait_until_taken();
    phone_tap();
    send(IIO_EV_TYPE_GESTURE, IIO_EV_DIR_SINGLETAP);
    callbacks_.wait_for_calls(4);
    remove_device();
    callbacks_.wait_for_calls(5);
    add_device();  // back with the same number, its descriptor closed
    watch_->post({true, "iio:device0"});
    callbacks_.wait_for_calls(6);
    EXPECT_EQ(stop(), hr::ok);

    EXPECT_THAT(
        without_timestamps(callbacks_.lines()),
        ElementsAre("SignalReturn 0x0 cookie=7", "SensorStateChanged state=0 cookie=7",
                    "TapEvent 1 cookie=7", "TapEvent 1 cookie=7",
                    "SensorStateChanged state=5 cookie=7", "SensorStateChanged state=0 cookie=7"));
    const auto lines = log_->messages();
    EXPECT_THAT(lines, Contains("No IIO tap device or accelerometer " +
                                (directory_ / "sys").string() + ": the tap sensor is absent"));
    EXPECT_THAT(lines, Contains("IIO tap device iio:device0 (fxls8962af) entered, its events "
                                "timed on the monotonic clock"));
    EXPECT_EQ(count_logged("Ignored IIO event "), 2u);
    EXPECT_EQ(count_logged("Laptop tap detected at: "), 2u);
    EXPECT_EQ(count_logged("IIO tap device iio:device0 left"), 1u);
}

// Without device events the timer finds the removal and the return, the descriptor silent.
TEST_F(IioTapSensorTest, WithoutDeviceEventsTheDeviceIsLookedForOnATimer) {
    open_sensor(false);
    start(7);
    callbacks_.wait_for_calls(1);
    add_device();
    callbacks_.wait_for_calls(2);
    remove_device();
    callbacks_.wait_for_calls(3);
    add_device();
    callbacks_.wait_for_calls(4);
    phone_tap();
    send(IIO_EV_TYPE_GESTURE, IIO_EV_DIR_SINGLETAP);
    callbacks_.wait_for_calls(5);
    EXPECT_EQ(stop(), hr::ok);
    EXPECT_THAT(without_timestamps(callbacks_.lines()),
                ElementsAre("SignalReturn 0x0 cookie=7", "SensorStateChanged state=0 cookie=7",
                            "SensorStateChanged state=5 cookie=7",
                            "SensorStateChanged state=0 cookie=7", "TapEvent 1 cookie=7"));
}

// Another program holding the node is an outage: one line, then tries on the timer until free.
TEST_F(IioTapSensorTest, ANodeHeldByAnotherProgramIsTriedAgainUntilFree) {
    open_sensor();
    start(7);
    callbacks_.wait_for_calls(1);
    held_opens_ = 3;
    add_device();
    watch_->post({true, "iio:device0"});
    callbacks_.wait_for_calls(2);
    EXPECT_EQ(stop(), hr::ok);
    EXPECT_EQ(opens_, 4);
    EXPECT_EQ(count_logged("IIO device iio:device0 not used yet: /dev/iio:device0 is held by "
                           "another program; trying again every 0.01 s"),
              1u);
    EXPECT_EQ(count_logged("IIO tap device iio:device0 (fxls8962af) entered"), 1u);
}

// auto: the simulated device plays the sensor until an IIO tap device arrives, which takes its
// place (the simulated one leaves); when that goes, the device socket is opened again.
TEST_F(IioTapSensorTest, AutoHearsTheIioDeviceWhilePresentAndTheSimulatedOneOtherwise) {
    socket_.reset();  // the daemon's source opens the device socket itself
    linux_host::RunOptions options{.socket = directory_ / "endpoint",
                                   .sensor_socket = socket_path(),
                                   .sensor = linux_host::SensorKind::automatic};
    auto opened = linux_host::SensorSource::open(options, source());
    ASSERT_TRUE(opened) << opened.error();
    auto auto_source = std::move(*opened);
    start(7);
    callbacks_.wait_for_calls(1);
    DeviceProcess simulated(socket_path());
    simulated.send("enter\n");
    callbacks_.wait_for_calls(2);
    add_device();
    watch_->post({true, "iio:device0"});
    callbacks_.wait_for_calls(4);
    EXPECT_EQ(simulated.wait(), 1);  // the service closed its connection
    phone_tap();
    send(IIO_EV_TYPE_GESTURE, IIO_EV_DIR_SINGLETAP);
    callbacks_.wait_for_calls(5);
    remove_device();
    callbacks_.wait_for_calls(6);
    EXPECT_EQ(stop(), hr::ok);
    auto_source.reset();  // its thread has handled the removal: the socket was opened again

    EXPECT_THAT(
        without_timestamps(callbacks_.lines()),
        ElementsAre("SignalReturn 0x0 cookie=7", "SensorStateChanged state=0 cookie=7",
                    "SensorStateChanged state=5 cookie=7", "SensorStateChanged state=0 cookie=7",
                    "TapEvent 1 cookie=7", "SensorStateChanged state=5 cookie=7"));
    const auto socket = socket_path();
    EXPECT_THAT(log_->messages(),
                ::testing::IsSupersetOf(
                    {"Sensor source: the simulated device socket " + socket +
                         " (auto: no IIO tap device or accelerometer present)",
                     std::string("Sensor source: IIO tap device iio:device0 (auto: it arrived)"),
                     "Sensor source: the simulated device socket " + socket +
                         " (auto: the IIO device left)"}));
}

// A device that cannot be used is logged and leaves the sensor absent: a run waits for it.
TEST_F(IioTapSensorTest, AnUnusableDeviceLeavesTheSensorAbsent) {
    const auto enable = folder() / "events" / "in_accel_gesture_singletap_en";
    const struct {
        const char* what;
        std::function<void()> set_up;
        std::optional<linux_platform::IioOpenError> open_error;
        std::string logged;
    } cases[] = {
        {"no permission", [] {}, linux_platform::IioOpenError{OpenStep::node, EACCES},
         "IIO device iio:device0 not used: cannot open its events: Permission denied"},
        {"events held", [] {}, linux_platform::IioOpenError{OpenStep::events, EBUSY},
         "IIO device iio:device0 not used: cannot open its events: its events are held by "
         "another reader"},
        {"enable not writable",
         [&] {
             std::filesystem::remove(enable);
             std::filesystem::create_directory(enable);
         },
         std::nullopt,
         "IIO device iio:device0 not used: cannot write " + enable.string() + ": Is a directory"},
        {"no single taps", [&] { std::filesystem::remove(enable); }, std::nullopt,
         "No IIO tap device or accelerometer " + (directory_ / "sys").string() +
             ": the tap sensor is absent"},
    };
    std::uint64_t cookie = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(directory_ / "sys");
        add_device();
        c.set_up();
        open_error_ = c.open_error;
        log_->clear();
        open_sensor();
        EXPECT_THAT(log_->messages(), Contains(c.logged));
        start(cookie);
        callbacks_.wait_for_calls(cookie);
        EXPECT_EQ(stop(), hr::ok);
        EXPECT_EQ(count_logged("Sensor " + kId + " not immediately available."), 1u);
        sensor_.reset();
        ++cookie;
    }
}

// The buffer as IioBuffer sets it up on the device's attributes: the four channels on and the
// one left on off, the least offered rate of at least 100 Hz, ten reads' worth of samples, a
// watermark of half a read, the monotonic clock; records decoded by their types with scale and
// offset, a record split between reads joined again; closed, the buffer is off and the node free.
TEST_F(IioTapSensorTest, AnAccelerometersBufferIsSetUpAndReadRecordByRecord) {
    add_accelerometer();
    const auto device = folder();
    const auto settings = source().open_node;
    auto buffer = linux_platform::IioBuffer::open(
        device, {.read_period = std::chrono::milliseconds(100), .open_node = settings});
    ASSERT_TRUE(buffer) << fmt::format("{}", buffer.error().error);
    EXPECT_EQ((*buffer)->rate_hz(), 100);
    EXPECT_EQ((*buffer)->clock_name(), "monotonic");
    EXPECT_EQ((*buffer)->batch(), std::chrono::nanoseconds(0));  // no FIFO of its own
    for (const auto& [file, value] :
         std::vector<std::pair<std::string, std::string>>{{"buffer/enable", "1"},
                                                          {"buffer/length", "100"},
                                                          {"buffer/watermark", "5"},
                                                          {"sampling_frequency", "100"},
                                                          {"current_timestamp_clock", "monotonic"},
                                                          {"scan_elements/in_accel_x_en", "1"},
                                                          {"scan_elements/in_accel_z_en", "1"},
                                                          {"scan_elements/in_timestamp_en", "1"},
                                                          {"scan_elements/in_intensity_en", "0"}}) {
        EXPECT_EQ(read(device / file), value) << file;
    }
    const auto two =
        records({{std::chrono::seconds(5), 0.5, -9.81, 0.02}, {std::chrono::seconds(6), -1, 3, 7}});
    ASSERT_EQ(::write(node_.get(), two.data(), 36), 36);
    auto first = (*buffer)->read();
    ASSERT_TRUE(first);
    ASSERT_EQ(first->samples.size(), 1u);
    EXPECT_EQ(first->samples[0].time, std::chrono::seconds(5));
    EXPECT_NEAR(first->samples[0].x, 0.5, 0.005);
    EXPECT_NEAR(first->samples[0].y, -9.81, 0.005);
    EXPECT_EQ(first->split_record, 24u);
    ASSERT_EQ(::write(node_.get(), two.data() + 36, 12), 12);
    auto second = (*buffer)->read();
    ASSERT_TRUE(second);
    ASSERT_EQ(second->samples.size(), 1u);
    EXPECT_EQ(second->samples[0].time, std::chrono::seconds(6));
    EXPECT_NEAR(second->samples[0].z, 7, 0.005);
    EXPECT_FALSE(second->split_record);
    buffer->reset();
    EXPECT_EQ(read(device / "buffer/enable"), "0");
    wait_until_node_released();

    // What keeps a buffer from running is said: a node another program holds (worth trying
    // again), a type no one can read, a missing scale.
    const struct {
        const char* what;
        std::function<void()> set_up;
        bool busy;
        std::string error;
    } cases[] = {
        {"held", [&] { held_opens_ = 1; }, true,
         "cannot open /dev/iio:device0: Device or resource busy"},
        {"type", [&] { put(device / "scan_elements" / "in_accel_y_type", "le:f16/16>>0\n"); },
         false,
         (device / "scan_elements" / "in_accel_y_type").string() +
             ": channel type 'le:f16/16>>0' is neither signed (s) nor unsigned (u)"},
        {"scale", [&] { std::filesystem::remove(device / "in_accel_scale"); }, false,
         "it has no readable scale for in_accel_x (in_accel_x_scale or in_accel_scale)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        add_accelerometer();
        c.set_up();
        auto refused = linux_platform::IioBuffer::open(device, {.open_node = settings});
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error().busy, c.busy);
        EXPECT_EQ(fmt::format("{}", refused.error().error), c.error);
    }
}

// The node of a sample accelerometer is opened, and its buffer run, only while a start wants
// taps; the taps found in its samples are the sensor's reports. While another program holds the
// node, the run hears that the sensor is not available, until the node is free.
TEST_F(IioTapSensorTest, ASampleAccelerometerIsHeldOnlyWhileAStartWantsTaps) {
    add_accelerometer();
    open_sensor();
    EXPECT_EQ(node_opens_, 0);
    EXPECT_EQ(count_logged("IIO accelerometer iio:device0 (accel_3d) entered"), 1u);

    start(7);
    wait_for_node_opens(1);
    phone_tap();
    // Three seconds just past, a knock at 1.5 s.
    const auto now = std::chrono::steady_clock::now().time_since_epoch();  // CLOCK_MONOTONIC
    auto samples = test::stream(100, 3, {{1.5, 3}});
    for (auto& sample : samples) sample.time += now - std::chrono::seconds(3);
    const auto bytes = records(samples);
    ASSERT_EQ(::write(node_.get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    callbacks_.wait_for_calls(2);
    EXPECT_EQ(read(folder() / "buffer/enable"), "1");
    EXPECT_EQ(stop(), hr::ok);
    wait_until_node_released();
    EXPECT_EQ(read(folder() / "buffer/enable"), "0");

    held_opens_ = 2;
    start(8);
    wait_for_node_opens(4);
    callbacks_.wait_for_calls(5);
    EXPECT_EQ(stop(), hr::ok);
    wait_until_node_released();

    EXPECT_THAT(
        without_timestamps(callbacks_.lines()),
        ElementsAre("SignalReturn 0x0 cookie=7", "TapEvent 1 cookie=7", "SignalReturn 0x0 cookie=8",
                    "SensorStateChanged state=1 cookie=8", "SensorStateChanged state=0 cookie=8"));
    EXPECT_EQ(count_logged("Tap found in the samples of iio:device0: "), 1u);
    EXPECT_EQ(count_logged("IIO accelerometer iio:device0 not read yet: /dev/iio:device0 is held "
                           "by another program; trying again every 0.01 s"),
              1u);
    EXPECT_EQ(count_logged("IIO accelerometer iio:device0 released: no start wants taps"), 2u);
    EXPECT_EQ(node_opens_, 4);
}

// A chip that reports taps is taken before an accelerometer whose samples would have to be read,
// and the other is named; when it goes, the accelerometer takes its place.
TEST_F(IioTapSensorTest, ATapDeviceGoesBeforeAnAccelerometer) {
    add_accelerometer("iio:device0");
    add_device("iio:device1");
    open_sensor();
    start(7);
    callbacks_.wait_for_calls(1);
    remove_device("iio:device1");
    callbacks_.wait_for_calls(3);
    EXPECT_EQ(stop(), hr::ok);
    EXPECT_THAT(without_timestamps(callbacks_.lines()),
                ElementsAre("SignalReturn 0x0 cookie=7", "SensorStateChanged state=5 cookie=7",
                            "SensorStateChanged state=0 cookie=7"));
    EXPECT_EQ(count_logged("IIO tap device iio:device1 (fxls8962af) entered"), 1u);
    EXPECT_EQ(count_logged("IIO accelerometer iio:device0 not used: iio:device1 reports taps "
                           "itself"),
              1u);
    EXPECT_EQ(count_logged("IIO accelerometer iio:device0 (accel_3d) entered"), 1u);
}

// A name the file system refuses to look up (longer than a file name may be) is no device: the
// look-up's error must not escape as an exception, which on the sensor's thread would end the
// process.
TEST_F(IioTapSensorTest, ANameTheFileSystemRefusesIsNoDevice) {
    std::filesystem::create_directories(directory_ / "sys");
    auto source = this->source(false);
    source.device = std::string(300, 'x');
    auto sensor = linux_platform::IioTapSensor::open(std::move(source));
    ASSERT_TRUE(sensor);
    EXPECT_EQ(count_logged("No IIO tap device or accelerometer " +
                           (directory_ / "sys" / std::string(300, 'x')).string()),
              1u);
}

}  // namespace
}  // namespace norvo::testing
