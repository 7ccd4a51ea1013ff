#include "norvo/linux/sensor_device.hpp"

#include <fmt/format.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

#include "device_hub.hpp"
#include "norvo/log.hpp"
#include "norvo/posix/private_folder.hpp"
#include "norvo/posix/unix_socket.hpp"
#include "norvo/text.hpp"

namespace norvo::linux_platform {
namespace {

constexpr log::Target kLog{"norvo_linux::sensor_device"};

std::atomic<bool> g_open{false};

std::string errno_text(std::string_view what, const std::string& path) {
    const int code = errno;
    return fmt::format("{}", posix::PosixError{fmt::format("{} {}", what, path), code});
}

// A socket file nobody listens on is left over from an earlier run; anything else stays.
[[nodiscard]] std::expected<void, std::string> clear_stale(const std::string& path,
                                                           const posix::UnixAddress& address) {
    struct stat info{};
    if (::lstat(path.c_str(), &info) != 0)
        return {};
    if (!S_ISSOCK(info.st_mode))
        return std::unexpected(fmt::format("{} exists and is not a socket", path));
    auto probe = posix::unix_stream_socket();
    if (!probe)
        return std::unexpected(errno_text("cannot probe", path));
    if (::connect(probe->get(), address.get(), address.size()) == 0)
        return std::unexpected(fmt::format("{} is in use", path));
    ::unlink(path.c_str());
    return {};
}

// Only root's own tools may play the sensor: the mode is set on the descriptor before
// bind, so neither the umask nor a link swapped in at the path can widen it.
[[nodiscard]] std::expected<posix::UniqueFd, std::string> listen_on(
    const std::string& path, const posix::UnixAddress& address) {
    auto listener = posix::unix_stream_socket();
    if (!listener)
        return std::unexpected(errno_text("cannot create socket for", path));
    if (::fchmod(listener->get(), 0600) != 0)
        return std::unexpected(errno_text("cannot set the mode of", path));
    if (::bind(listener->get(), address.get(), address.size()) != 0)
        return std::unexpected(errno_text("cannot bind", path));
    if (::listen(listener->get(), 4) != 0)
        return std::unexpected(errno_text("cannot listen on", path));
    return std::move(*listener);
}

void apply(const sensor_device::Message& message) {
    auto& hub = DeviceHub::instance();
    struct Apply {
        DeviceHub& hub;
        void operator()(const sensor_device::Enter& m) const { hub.enter(m); }
        void operator()(const sensor_device::Leave&) const { hub.leave(); }
        void operator()(const sensor_device::State& m) const { hub.change_state(m.state); }
        void operator()(const sensor_device::Report& m) const { hub.report(m); }
    };
    std::visit(Apply{hub}, message);
}

// One connected device: its socket and the part of a line read so far.
class Device {
  public:
    Device(posix::UniqueFd fd, const posix::EpollLoop& loop) : fd_(std::move(fd)), loop_(loop) {}
    ~Device() {
        loop_.unwatch(fd_.get());
        // Logged first: the leave wakes runs, and what they report must not precede its cause.
        kLog.info("Sensor device disconnected");
        DeviceHub::instance().leave();
    }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    int fd() const { return fd_.get(); }

    // False once the device has gone or broke the protocol's line limit.
    bool read() {
        char chunk[4096];
        const ssize_t n = ::read(fd_.get(), chunk, sizeof chunk);
        if (n < 0)
            return errno == EINTR || errno == EAGAIN;
        if (n == 0)
            return false;
        pending_.append(chunk, static_cast<std::size_t>(n));
        std::size_t start = 0;
        for (std::size_t end; (end = pending_.find('\n', start)) != std::string::npos;
             start = end + 1) {
            handle(std::string_view(pending_).substr(start, end - start));
        }
        pending_.erase(0, start);
        if (pending_.size() > sensor_device::kMaxLine) {
            kLog.warn("Sensor device line too long, disconnecting");
            return false;
        }
        return true;
    }

  private:
    static void handle(std::string_view line) {
        auto message = sensor_device::decode(line);
        if (!message) {
            kLog.warn("Ignored sensor device message {}: {}", Quoted{line}, message.error());
            return;
        }
        apply(*message);
    }

    posix::UniqueFd fd_;
    const posix::EpollLoop& loop_;
    std::string pending_;
};

}  // namespace

std::expected<std::unique_ptr<SensorDeviceSocket>, std::string> SensorDeviceSocket::open(
    const std::string& path) {
    auto address = posix::UnixAddress::of(path);
    if (!address)
        return std::unexpected(fmt::format("unusable sensor device socket path: {}", path));
    if (auto folder = posix::check_private_folder(std::filesystem::path(path).parent_path());
        !folder) {
        return std::unexpected(fmt::format("{}", folder.error()));
    }
    if (g_open.exchange(true))
        return std::unexpected(std::string("a sensor device socket is already open"));
    auto fail = [](std::string error) {
        g_open = false;
        return std::unexpected(std::move(error));
    };
    if (auto cleared = clear_stale(path, *address); !cleared)
        return fail(cleared.error());
    auto listener = listen_on(path, *address);
    if (!listener)
        return fail(listener.error());
    posix::UniqueFd backoff(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK));
    if (!backoff.valid())
        return fail(fmt::format("{}", posix::last_error("timerfd_create")));
    auto loop = posix::EpollLoop::create();
    if (!loop)
        return fail(fmt::format("{}", loop.error()));
    for (int fd : {listener->get(), backoff.get()}) {
        if (auto watched = loop->watch(fd); !watched)
            return fail(fmt::format("{}", watched.error()));
    }
    return std::unique_ptr<SensorDeviceSocket>(
        new SensorDeviceSocket(path, std::move(*listener), std::move(backoff), std::move(*loop)));
}

SensorDeviceSocket::SensorDeviceSocket(std::string path, posix::UniqueFd listen_fd,
                                       posix::UniqueFd backoff_fd, posix::EpollLoop loop)
    : path_(std::move(path)),
      listen_fd_(std::move(listen_fd)),
      backoff_fd_(std::move(backoff_fd)),
      loop_(std::move(loop)) {
    thread_ = std::thread([this] { run(); });
}

SensorDeviceSocket::~SensorDeviceSocket() {
    loop_.wake();
    thread_.join();
    ::unlink(path_.c_str());
    g_open = false;
}

// The Sensor API's own thread: device events and the sink calls they make.
void SensorDeviceSocket::run() {
    std::unique_ptr<Device> device;
    const auto ran = loop_.run([&](int fd) {
        if (fd == listen_fd_.get()) {
            posix::UniqueFd accepted(::accept4(listen_fd_.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (!accepted.valid()) {
                if (errno == EMFILE || errno == ENFILE)
                    shed_queued();
                return;
            }
            out_of_descriptors_ = false;
            if (device) {
                kLog.warn("Sensor device refused: another device is connected");
                return;
            }
            const int accepted_fd = accepted.get();
            device = std::make_unique<Device>(std::move(accepted), loop_);
            if (!loop_.watch(accepted_fd)) {
                device.reset();
                return;
            }
            kLog.info("Sensor device connected");
        } else if (fd == backoff_fd_.get()) {
            listen_again();
        } else if (device && fd == device->fd() && !device->read()) {
            device.reset();
        }
    });
    if (!ran)
        kLog.error("Sensor device socket failed: {}", std::strerror(ran.error().code));
}

void SensorDeviceSocket::shed_queued() {
    if (!std::exchange(out_of_descriptors_, true))
        kLog.warn("Sensor device refused: out of file descriptors");
    if (reserve_.shed(listen_fd_.get(), [](const posix::UniqueFd&) {}))
        return;
    (void)loop_.watch(listen_fd_.get(), 0, EPOLL_CTL_MOD);  // rest until the timer
    const itimerspec rest{.it_interval = {}, .it_value = {.tv_sec = 1, .tv_nsec = 0}};
    ::timerfd_settime(backoff_fd_.get(), 0, &rest, nullptr);
}

void SensorDeviceSocket::listen_again() {
    std::uint64_t expirations = 0;
    [[maybe_unused]] const auto drained =
        ::read(backoff_fd_.get(), &expirations, sizeof expirations);
    // Changing a watched descriptor's events cannot fail but for a broken epoll set.
    (void)loop_.watch(listen_fd_.get(), EPOLLIN, EPOLL_CTL_MOD);
}

}  // namespace norvo::linux_platform
