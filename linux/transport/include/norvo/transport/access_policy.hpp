#pragma once
// Who may call: the Linux counterpart of the endpoint's security descriptor,
// which admits interactive users, LocalSystem and LocalService. Here that is
// root, the service's own account and regular login users; system accounts
// and nobody are refused when they connect.

#include <sys/types.h>

#include <filesystem>
#include <string_view>

namespace norvo::transport {

inline constexpr uid_t kNobody = 65534;

struct AccessPolicy {
    uid_t service_uid;
    // The login users' range, UID_MIN and UID_MAX of login.defs.
    uid_t first_login_uid = 1000;
    uid_t last_login_uid = 60000;

    bool admits(uid_t uid) const;
    // Root and the service's own account: always admitted, and held to no user's share.
    bool trusted(uid_t uid) const { return uid == 0 || uid == service_uid; }

    // The range from login.defs text; the defaults for values it lacks or garbles.
    static AccessPolicy from_login_defs(std::string_view text, uid_t service_uid);
    // For this process's effective user and the system's login.defs, if readable.
    static AccessPolicy for_this_system(
        const std::filesystem::path& login_defs = "/etc/login.defs");
};

}  // namespace norvo::transport
