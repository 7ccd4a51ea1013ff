#include "norvo/transport/endpoint.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "norvo/rpc/log_target.hpp"

namespace norvo::transport {
namespace {

using wire::FileDescriptor;
namespace status = wire::status;

// Every name in the folder is then the service's alone: nobody else can put a
// link where the lock goes or swap the socket file between bind and chmod.
std::expected<FileDescriptor, wire::RpcStatus> open_private_folder(
    const std::filesystem::path& folder) {
    FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid())
        return std::unexpected(errno == EMFILE || errno == ENFILE ? status::out_of_resources
                                                                  : status::cant_create_endpoint);
    struct stat info{};
    if (::fstat(fd.get(), &info) != 0)
        return std::unexpected(status::cant_create_endpoint);
    if (info.st_uid != ::geteuid() || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        rpc::kLog.error(
            "Socket folder {} refused: it must belong to uid {} and be writable by no one else "
            "(owner uid {}, mode {:o})",
            folder.native(), ::geteuid(), info.st_uid, info.st_mode & 07777);
        return std::unexpected(status::cant_create_endpoint);
    }
    return fd;
}

std::expected<FileDescriptor, wire::RpcStatus> take_lock(int folder, const std::string& name) {
    FileDescriptor lock(::openat(folder, (name + ".lock").c_str(),
                                 O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
    if (!lock.valid())
        return std::unexpected(status::cant_create_endpoint);
    if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
        return std::unexpected(errno == EWOULDBLOCK ? status::duplicate_endpoint
                                                    : status::cant_create_endpoint);
    }
    return lock;
}

// Only a socket is removed: whatever else sits at the path is somebody's file.
bool clear_stale_socket(int folder, const std::string& name) {
    struct stat info{};
    if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    return S_ISSOCK(info.st_mode) && ::unlinkat(folder, name.c_str(), 0) == 0;
}

}  // namespace

Endpoint::Endpoint(std::filesystem::path path, FileDescriptor folder, FileDescriptor lock,
                   FileDescriptor socket)
    : path_(std::move(path)),
      folder_(std::move(folder)),
      lock_(std::move(lock)),
      socket_(std::move(socket)) {}

std::expected<Endpoint, wire::RpcStatus> Endpoint::bind(const std::filesystem::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || !path.has_filename() || path.native().size() >= sizeof(address.sun_path)) {
        return std::unexpected(status::invalid_endpoint_format);
    }
    std::memcpy(address.sun_path, path.c_str(), path.native().size());
    const auto name = path.filename().native();

    auto folder = open_private_folder(path.parent_path().empty() ? "." : path.parent_path());
    if (!folder)
        return std::unexpected(folder.error());
    auto lock = take_lock(folder->get(), name);
    if (!lock)
        return std::unexpected(lock.error());
    if (!clear_stale_socket(folder->get(), name))
        return std::unexpected(status::cant_create_endpoint);

    FileDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket.valid())
        return std::unexpected(status::out_of_resources);
    if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        return std::unexpected(errno == EADDRINUSE ? status::duplicate_endpoint
                                                   : status::cant_create_endpoint);
    }
    return Endpoint(path, std::move(*folder), std::move(*lock), std::move(socket));
}

Endpoint::~Endpoint() {
    if (socket_.valid())
        withdraw();
}

// The mode is set on the name in the service's own folder, never through a
// link, so it is 0666 whatever the umask made of it at bind.
std::expected<void, wire::RpcStatus> Endpoint::publish() {
    const auto name = path_.filename().native();
    if (::listen(socket_.get(), SOMAXCONN) != 0 ||
        ::fchmodat(folder_.get(), name.c_str(), 0666, AT_SYMLINK_NOFOLLOW) != 0) {
        return std::unexpected(status::cant_create_endpoint);
    }
    return {};
}

void Endpoint::withdraw() {
    if (!linked_)
        return;
    linked_ = false;
    ::unlinkat(folder_.get(), path_.filename().c_str(), 0);
}

}  // namespace norvo::transport
