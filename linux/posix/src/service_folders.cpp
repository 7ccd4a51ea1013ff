#include "norvo/posix/service_folders.hpp"

#include <cstdlib>

namespace norvo::posix {
namespace {

bool is_set(const char* value) {
    return value != nullptr && *value != '\0';
}

}  // namespace

std::filesystem::path system_folder() {
    return "/run/norvo-vtap";
}

std::filesystem::path default_folder(bool root, const char* xdg_runtime_dir) {
    if (!root && is_set(xdg_runtime_dir))
        return std::filesystem::path(xdg_runtime_dir) / "norvo-vtap";
    return system_folder();
}

std::vector<std::filesystem::path> search_folders(const std::filesystem::path& system,
                                                  const char* xdg_runtime_dir) {
    std::vector<std::filesystem::path> folders{system};
    if (is_set(xdg_runtime_dir)) {
        auto own = std::filesystem::path(xdg_runtime_dir) / "norvo-vtap";
        if (own != system)
            folders.push_back(std::move(own));
    }
    return folders;
}

std::filesystem::path client_system_folder() {
    const char* stand_in = std::getenv("NORVO_VTAP_TEST_SYSTEM_FOLDER");
    return is_set(stand_in) ? std::filesystem::path(stand_in) : system_folder();
}

std::vector<std::filesystem::path> client_socket_paths(const std::optional<std::string>& given,
                                                       std::string_view name) {
    if (given)
        return {*given};
    std::vector<std::filesystem::path> paths;
    for (const auto& folder :
         search_folders(client_system_folder(), std::getenv("XDG_RUNTIME_DIR")))
        paths.push_back(folder / name);
    return paths;
}

}  // namespace norvo::posix
