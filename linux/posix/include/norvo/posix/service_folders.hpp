#pragma once
// Where the daemon puts its sockets and where its clients look for them: the
// system folder serves every user, a user's own daemon uses their runtime folder.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norvo::posix {

// /run/norvo-vtap.
std::filesystem::path system_folder();

// /run/norvo-vtap for root, $XDG_RUNTIME_DIR/norvo-vtap for other users that have one.
std::filesystem::path default_folder(bool root, const char* xdg_runtime_dir);

// The folders a client tries, in order: `system`, then the user's own (when
// $XDG_RUNTIME_DIR is set and names another folder).
std::vector<std::filesystem::path> search_folders(const std::filesystem::path& system,
                                                  const char* xdg_runtime_dir);

// The system folder as clients see it. For tests only: NORVO_VTAP_TEST_SYSTEM_FOLDER
// stands in for /run/norvo-vtap, so that a test need not own /run.
std::filesystem::path client_system_folder();

// The paths a client tries for the daemon's socket `name`: the one it was given,
// or `name` in each of the search folders of the client's system folder.
std::vector<std::filesystem::path> client_socket_paths(const std::optional<std::string>& given,
                                                       std::string_view name);

}  // namespace norvo::posix
