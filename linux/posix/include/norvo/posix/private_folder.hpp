#pragma once
// A folder that holds a service's sockets and locks must be the service's alone:
// whoever else can write there can swap a file for a link between our calls.

#include <expected>
#include <filesystem>

#include "norvo/posix/error.hpp"
#include "norvo/posix/unique_fd.hpp"

namespace norvo::posix {

// Refuses `folder` unless it is a real folder (not a link to one) owned by the
// effective uid and writable by neither its group nor others. The error names it.
// The folder comes back held: names made through it with the *at calls stay in
// the folder that was checked, whatever happens to its path meanwhile.
[[nodiscard]] std::expected<UniqueFd, PosixError> check_private_folder(
    const std::filesystem::path& folder);

}  // namespace norvo::posix
