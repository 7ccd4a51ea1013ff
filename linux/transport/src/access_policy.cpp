#include "norvo/transport/access_policy.hpp"

#include <unistd.h>

#include <charconv>
#include <fstream>
#include <optional>
#include <sstream>

namespace norvo::transport {
namespace {

// The number after `name` on a line "NAME value"; comments start with '#'.
std::optional<uid_t> setting(std::string_view text, std::string_view name) {
    std::optional<uid_t> found;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);

        line = line.substr(0, line.find('#'));
        const auto start = line.find_first_not_of(" \t");
        if (start == std::string_view::npos)
            continue;
        line.remove_prefix(start);
        if (!line.starts_with(name) || line.size() == name.size())
            continue;
        line.remove_prefix(name.size());
        const auto value_start = line.find_first_not_of(" \t");
        if (value_start == 0 || value_start == std::string_view::npos)
            continue;
        line.remove_prefix(value_start);
        line = line.substr(0, line.find_first_of(" \t\r"));
        uid_t value = 0;
        const auto [ptr, ec] = std::from_chars(line.data(), line.data() + line.size(), value);
        if (ec == std::errc{} && ptr == line.data() + line.size())
            found = value;
    }
    return found;
}

}  // namespace

bool AccessPolicy::admits(uid_t uid) const {
    if (trusted(uid))
        return true;
    return uid != kNobody && uid >= first_login_uid && uid <= last_login_uid;
}

AccessPolicy AccessPolicy::from_login_defs(std::string_view text, uid_t service_uid) {
    AccessPolicy policy{service_uid};
    if (auto min = setting(text, "UID_MIN"))
        policy.first_login_uid = *min;
    if (auto max = setting(text, "UID_MAX"))
        policy.last_login_uid = *max;
    return policy;
}

AccessPolicy AccessPolicy::for_this_system(const std::filesystem::path& login_defs) {
    std::ifstream file(login_defs);
    std::stringstream text;
    if (file)
        text << file.rdbuf();
    return from_login_defs(text.str(), ::geteuid());
}

}  // namespace norvo::transport
