#include "norvo/transport/endpoint.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "norvo/posix/private_folder.hpp"
#include "norvo/posix/unix_socket.hpp"
#include "norvo/rpc/log_target.hpp"

namespace norvo::transport {
namespace {

using posix::UniqueFd;
namespace status = wire::status;

// Every name in the folder is then the service's alone: nobody else can put a
// link where the lock goes or swap the socket file between bind and chmod.
[[nodiscard]] std::expected<UniqueFd, wire::RpcStatus> open_folder(
    const std::filesystem::path& folder) {
    auto fd = posix::check_private_folder(folder);
    if (fd)
        return std::move(*fd);
    const auto code = fd.error().code;
    if (code == EMFILE || code == ENFILE)
        return std::unexpected(status::out_of_resources);
    if (code == 0)  // somebody else's, or open to others
        rpc::kLog.error("{}", fd.error());
    return std::unexpected(status::cant_create_endpoint);
}

[[nodiscard]] std::expected<UniqueFd, wire::RpcStatus> take_lock(int folder,
                                                                 const std::string& name) {
    UniqueFd lock(::openat(folder, (name + ".lock").c_str(),
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

Endpoint::Endpoint(std::filesystem::path path, UniqueFd folder, UniqueFd lock, UniqueFd socket)
    : path_(std::move(path)),
      folder_(std::move(folder)),
      lock_(std::move(lock)),
      socket_(std::move(socket)) {}

std::expected<Endpoint, wire::RpcStatus> Endpoint::bind(const std::filesystem::path& path) {
    const auto address = posix::UnixAddress::of(path);
    if (!address || !path.has_filename())
        return std::unexpected(status::invalid_endpoint_format);
    const auto name = path.filename().native();

    auto folder = open_folder(path.parent_path().empty() ? "." : path.parent_path());
    if (!folder)
        return std::unexpected(folder.error());
    auto lock = take_lock(folder->get(), name);
    if (!lock)
        return std::unexpected(lock.error());
    if (!clear_stale_socket(folder->get(), name))
        return std::unexpected(status::cant_create_endpoint);

    auto socket = posix::unix_stream_socket();
    if (!socket)
        return std::unexpected(status::out_of_resources);
    if (::bind(socket->get(), address->get(), address->size()) != 0) {
        return std::unexpected(errno == EADDRINUSE ? status::duplicate_endpoint
                                                   : status::cant_create_endpoint);
    }
    return Endpoint(path, std::move(*folder), std::move(*lock), std::move(*socket));
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
