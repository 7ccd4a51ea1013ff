// Who may connect, and how the login users' range is read from login.defs.

#include "norvo/transport/access_policy.hpp"

#include <gtest/gtest.h>

namespace {

using norvo::transport::AccessPolicy;

TEST(AccessPolicy, AdmitsRootItsOwnAccountAndLoginUsersOnly) {
    const AccessPolicy policy{.service_uid = 998, .first_login_uid = 1000, .last_login_uid = 60000};
    const struct {
        uid_t uid;
        bool admitted;
    } cases[] = {
        {0, true},    {998, true},    {1000, true},   {60000, true},        {1, false},
        {999, false}, {60001, false}, {65534, false}, {4294967294u, false},
    };
    for (const auto& c : cases) EXPECT_EQ(policy.admits(c.uid), c.admitted) << "uid " << c.uid;
}

TEST(AccessPolicy, NobodyStaysOutEvenInsideAWideLoginRange) {
    const AccessPolicy policy{.service_uid = 0, .first_login_uid = 500, .last_login_uid = 70000};
    EXPECT_FALSE(policy.admits(65534));
    EXPECT_TRUE(policy.admits(65533));
}

TEST(AccessPolicy, ReadsTheLoginRangeFromLoginDefs) {
    const struct {
        const char* text;
        uid_t first;
        uid_t last;
    } cases[] = {
        {"", 1000, 60000},
        {"UID_MIN 500\nUID_MAX 30000\n", 500, 30000},
        {"# UID_MIN 1\n\tUID_MIN\t\t2000 # local\r\n", 2000, 60000},
        {"UID_MINIMUM 7\nSYS_UID_MIN 100\n", 1000, 60000},
        {"UID_MIN\nUID_MAX abc\nUID_MIN 12x\n", 1000, 60000},
        {"UID_MIN 1500\nUID_MIN 1600\n", 1600, 60000},
    };
    for (const auto& c : cases) {
        const auto policy = AccessPolicy::from_login_defs(c.text, 42);
        EXPECT_EQ(policy.first_login_uid, c.first) << c.text;
        EXPECT_EQ(policy.last_login_uid, c.last) << c.text;
        EXPECT_EQ(policy.service_uid, 42u);
    }
}

}  // namespace
