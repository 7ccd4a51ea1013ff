#include "norvo/transport/endpoint.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace norvo::transport {
namespace {

using wire::FileDescriptor;
namespace status = wire::status;

std::expected<FileDescriptor, wire::RpcStatus> take_lock(const std::filesystem::path& path) {
    FileDescriptor lock(
        ::open((path.native() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!lock.valid())
        return std::unexpected(status::cant_create_endpoint);
    if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
        return std::unexpected(errno == EWOULDBLOCK ? status::duplicate_endpoint
                                                    : status::cant_create_endpoint);
    }
    return lock;
}

// Only a socket is removed: whatever else sits at the path is somebody's file.
bool clear_stale_socket(const std::filesystem::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return errno == ENOENT;
    return S_ISSOCK(info.st_mode) && ::unlink(path.c_str()) == 0;
}

}  // namespace

Endpoint::Endpoint(std::filesystem::path path, FileDescriptor lock, FileDescriptor socket)
    : path_(std::move(path)), lock_(std::move(lock)), socket_(std::move(socket)) {}

std::expected<Endpoint, wire::RpcStatus> Endpoint::bind(const std::filesystem::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.native().size() >= sizeof(address.sun_path)) {
        return std::unexpected(status::invalid_endpoint_format);
    }
    std::memcpy(address.sun_path, path.c_str(), path.native().size());

    auto lock = take_lock(path);
    if (!lock)
        return std::unexpected(lock.error());
    if (!clear_stale_socket(path))
        return std::unexpected(status::cant_create_endpoint);

    FileDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket.valid())
        return std::unexpected(status::out_of_resources);
    if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        return std::unexpected(errno == EADDRINUSE ? status::duplicate_endpoint
                                                   : status::cant_create_endpoint);
    }
    return Endpoint(path, std::move(*lock), std::move(socket));
}

Endpoint::~Endpoint() {
    if (socket_.valid())
        withdraw();
}

std::expected<void, wire::RpcStatus> Endpoint::publish() {
    if (::listen(socket_.get(), SOMAXCONN) != 0 || ::chmod(path_.c_str(), 0666) != 0) {
        return std::unexpected(status::cant_create_endpoint);
    }
    return {};
}

void Endpoint::withdraw() {
    if (!linked_)
        return;
    linked_ = false;
    ::unlink(path_.c_str());
}

}  // namespace norvo::transport
