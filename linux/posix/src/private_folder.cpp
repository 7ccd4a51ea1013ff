#include "norvo/posix/private_folder.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norvo::posix {

std::expected<UniqueFd, PosixError> check_private_folder(const std::filesystem::path& folder) {
    const auto& name = folder.native();
    UniqueFd fd(::open(name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid())
        return std::unexpected(last_error(fmt::format("Socket folder {} refused", name)));
    struct stat info{};
    if (::fstat(fd.get(), &info) != 0)
        return std::unexpected(last_error(fmt::format("Socket folder {} refused", name)));
    if (info.st_uid != ::geteuid()) {
        return std::unexpected(PosixError{fmt::format(
            "Socket folder {} refused: owned by uid {}, not {}", name, info.st_uid, ::geteuid())});
    }
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return std::unexpected(
            PosixError{fmt::format("Socket folder {} refused: writable by others (mode {:o})", name,
                                   info.st_mode & 07777)});
    }
    return fd;
}

}  // namespace norvo::posix
