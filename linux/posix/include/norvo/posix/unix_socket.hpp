#pragma once
// Unix stream sockets by path.

#include <sys/socket.h>
#include <sys/un.h>

#include <expected>
#include <filesystem>

#include "norvo/posix/error.hpp"
#include "norvo/posix/unique_fd.hpp"

namespace norvo::posix {

class UnixAddress {
  public:
    // Refuses an empty path and one that does not fit sun_path with its terminator.
    // A leading '@' names the abstract namespace, as NOTIFY_SOCKET does.
    [[nodiscard]] static std::expected<UnixAddress, PosixError> of(
        const std::filesystem::path& path);

    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&address_); }
    socklen_t size() const { return size_; }

  private:
    sockaddr_un address_{};
    socklen_t size_ = sizeof address_;
};

// A new close-on-exec stream socket.
[[nodiscard]] std::expected<UniqueFd, PosixError> unix_stream_socket();

// A socket connected to `path`.
[[nodiscard]] std::expected<UniqueFd, PosixError> connect_unix(const std::filesystem::path& path);

}  // namespace norvo::posix
