#include "norvo/linux/sensor_device.hpp"

#include <fmt/format.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

#include "device_hub.hpp"
#include "norvo/log.hpp"
#include "norvo/text.hpp"

namespace norvo::linux_platform {
namespace {

constexpr log::Target kLog{"norvo_linux::sensor_device"};

std::atomic<bool> g_open{false};

std::string errno_text(std::string_view what, const std::string& path) {
    return fmt::format("{} {}: {}", what, path, std::strerror(errno));
}

std::expected<sockaddr_un, std::string> socket_address(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path)) {
        return std::unexpected(fmt::format("unusable sensor device socket path: {}", path));
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

// A socket file nobody listens on is left over from an earlier run; anything else stays.
std::expected<void, std::string> clear_stale(const std::string& path, const sockaddr_un& address) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return {};
    if (!S_ISSOCK(info.st_mode))
        return std::unexpected(fmt::format("{} exists and is not a socket", path));
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return std::unexpected(errno_text("cannot probe", path));
    const bool listening =
        ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::close(probe);
    if (listening)
        return std::unexpected(fmt::format("{} is in use", path));
    ::unlink(path.c_str());
    return {};
}

class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

std::expected<void, std::string> watch(int epoll_fd, int fd) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    if (::epoll_ctl(epoll_fd, EPOLL_CTL_ADD, fd, &event) != 0) {
        return std::unexpected(fmt::format("epoll_ctl: {}", std::strerror(errno)));
    }
    return {};
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
    Device(int fd, int epoll_fd) : fd_(fd), epoll_fd_(epoll_fd) {}
    ~Device() {
        ::epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, fd_.get(), nullptr);
        DeviceHub::instance().leave();
        kLog.info("Sensor device disconnected");
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

    Fd fd_;
    int epoll_fd_;
    std::string pending_;
};

}  // namespace

std::expected<std::unique_ptr<SensorDeviceSocket>, std::string> SensorDeviceSocket::open(
    const std::string& path) {
    auto address = socket_address(path);
    if (!address)
        return std::unexpected(address.error());
    if (g_open.exchange(true))
        return std::unexpected(std::string("a sensor device socket is already open"));
    auto fail = [](std::string error) {
        g_open = false;
        return std::unexpected(std::move(error));
    };
    if (auto cleared = clear_stale(path, *address); !cleared)
        return fail(cleared.error());

    Fd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (listener.get() < 0)
        return fail(errno_text("cannot create socket for", path));
    if (::bind(listener.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof(*address)) !=
        0) {
        return fail(errno_text("cannot bind", path));
    }
    if (::listen(listener.get(), 4) != 0)
        return fail(errno_text("cannot listen on", path));
    Fd wake(::eventfd(0, EFD_CLOEXEC));
    Fd epoll(::epoll_create1(EPOLL_CLOEXEC));
    if (wake.get() < 0 || epoll.get() < 0)
        return fail(fmt::format("eventfd/epoll: {}", std::strerror(errno)));
    for (int fd : {listener.get(), wake.get()}) {
        if (auto watched = watch(epoll.get(), fd); !watched)
            return fail(watched.error());
    }
    return std::unique_ptr<SensorDeviceSocket>(
        new SensorDeviceSocket(path, listener.release(), wake.release(), epoll.release()));
}

SensorDeviceSocket::SensorDeviceSocket(std::string path, int listen_fd, int wake_fd, int epoll_fd)
    : path_(std::move(path)), listen_fd_(listen_fd), wake_fd_(wake_fd), epoll_fd_(epoll_fd) {
    thread_ = std::thread([this] { run(); });
}

SensorDeviceSocket::~SensorDeviceSocket() {
    const std::uint64_t one = 1;
    (void)::write(wake_fd_, &one, sizeof one);
    thread_.join();
    ::close(epoll_fd_);
    ::close(wake_fd_);
    ::close(listen_fd_);
    ::unlink(path_.c_str());
    g_open = false;
}

// The Sensor API's own thread: device events and the sink calls they make.
void SensorDeviceSocket::run() {
    std::unique_ptr<Device> device;
    for (;;) {
        epoll_event events[4];
        const int n = ::epoll_wait(epoll_fd_, events, 4, -1);
        if (n < 0 && errno != EINTR) {
            kLog.error("Sensor device socket failed: {}", std::strerror(errno));
            return;
        }
        for (int i = 0; i < n; ++i) {
            const int fd = events[i].data.fd;
            if (fd == wake_fd_)
                return;
            if (fd == listen_fd_) {
                const int accepted = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
                if (accepted < 0)
                    continue;
                if (device) {
                    kLog.warn("Sensor device refused: another device is connected");
                    ::close(accepted);
                    continue;
                }
                device = std::make_unique<Device>(accepted, epoll_fd_);
                if (!watch(epoll_fd_, accepted)) {
                    device.reset();
                    continue;
                }
                kLog.info("Sensor device connected");
            } else if (device && fd == device->fd() && !device->read()) {
                device.reset();
            }
        }
    }
}

}  // namespace norvo::linux_platform
