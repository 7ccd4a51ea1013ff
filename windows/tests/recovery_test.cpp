// The failure-actions record as the service control manager hands it over and takes it back.

#include "norvo/windows/recovery.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <vector>

namespace norvo::windows {
namespace {

struct WrittenActions {
    DWORD reset_period;
    std::optional<std::wstring> reboot_message, command;
    std::vector<std::pair<SC_ACTION_TYPE, DWORD>> actions;
    friend bool operator==(const WrittenActions&, const WrittenActions&) = default;
};

// Answers the query as QueryServiceConfig2W does: the record first, its texts and actions
// after it in the same buffer; records what is written.
class FakeAccess final : public FailureActionsAccess {
  public:
    DWORD reset_period = 30;
    const wchar_t* reboot_message = nullptr;
    const wchar_t* command = nullptr;
    std::vector<SC_ACTION> actions;
    bool actions_pointer = true;
    DWORD fail_query = 0, fail_change = 0;  // last error to fail with

    std::vector<WrittenActions> written;
    DWORD offered = 0;

    bool query(BYTE* buffer, DWORD size, DWORD*) override {
        offered = size;
        if (fail_query) {
            SetLastError(fail_query);
            return false;
        }
        auto* record = reinterpret_cast<SERVICE_FAILURE_ACTIONSW*>(buffer);
        BYTE* free = buffer + sizeof(SERVICE_FAILURE_ACTIONSW);
        *record = {reset_period, place(reboot_message, free), place(command, free),
                   static_cast<DWORD>(actions.size()), nullptr};
        if (actions_pointer) {
            record->lpsaActions = reinterpret_cast<SC_ACTION*>(free);
            std::memcpy(free, actions.data(), actions.size() * sizeof(SC_ACTION));
        }
        return true;
    }

    bool change(SERVICE_FAILURE_ACTIONSW& a) override {
        if (fail_change) {
            SetLastError(fail_change);
            return false;
        }
        WrittenActions copy{a.dwResetPeriod, text(a.lpRebootMsg), text(a.lpCommand), {}};
        for (DWORD i = 0; i < a.cActions; ++i)
            copy.actions.emplace_back(a.lpsaActions[i].Type, a.lpsaActions[i].Delay);
        written.push_back(copy);
        return true;
    }

  private:
    static wchar_t* place(const wchar_t* text, BYTE*& free) {
        if (!text)
            return nullptr;
        const std::size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
        auto* at = reinterpret_cast<wchar_t*>(free);
        std::memcpy(at, text, bytes);
        free += (bytes + 7) / 8 * 8;
        return at;
    }
    static std::optional<std::wstring> text(const wchar_t* t) {
        return t ? std::optional<std::wstring>(t) : std::nullopt;
    }
};

const std::vector<std::pair<SC_ACTION_TYPE, DWORD>> kRecoveryActions = {
    {SC_ACTION_RESTART, 60000}, {SC_ACTION_RESTART, 60000}, {SC_ACTION_NONE, 60000}};

TEST(Recovery, RewritesTheActionsAndKeepsTheRebootMessageAndCommand) {
    FakeAccess access;
    access.reboot_message = L"Rebooting for NorvoVTap";
    access.command = L"C:\\repair.cmd";
    access.actions = {{SC_ACTION_REBOOT, 5000}, {SC_ACTION_RUN_COMMAND, 0}};
    ASSERT_TRUE(rewrite_failure_actions(access));
    EXPECT_EQ(access.offered, 8192u);
    EXPECT_EQ(access.written, (std::vector<WrittenActions>{{120, L"Rebooting for NorvoVTap",
                                                            L"C:\\repair.cmd", kRecoveryActions}}));
    // A second start writes the same record.
    ASSERT_TRUE(rewrite_failure_actions(access));
    EXPECT_EQ(access.written[1], access.written[0]);
}

TEST(Recovery, AnEntryWithoutActionsOrTextsGetsTheThreeActions) {
    FakeAccess access;
    access.reset_period = INFINITE;
    access.actions_pointer = false;
    ASSERT_TRUE(rewrite_failure_actions(access));
    EXPECT_EQ(access.written,
              (std::vector<WrittenActions>{{120, std::nullopt, std::nullopt, kRecoveryActions}}));
}

TEST(Recovery, FailuresWriteNothingAndSayWhy) {
    FakeAccess refused_query;
    refused_query.fail_query = ERROR_INVALID_LEVEL;
    const auto query = rewrite_failure_actions(refused_query);
    ASSERT_FALSE(query);
    EXPECT_EQ(fmt::format("{}", query.error()), "IO error in winapi call");
    EXPECT_NE(query.error().cause()->message().find("0x8007007C"), std::string::npos);
    EXPECT_TRUE(refused_query.written.empty());

    FakeAccess unknown_type;
    unknown_type.actions = {{static_cast<SC_ACTION_TYPE>(9), 0}};
    const auto decoded = rewrite_failure_actions(unknown_type);
    ASSERT_FALSE(decoded);
    EXPECT_EQ(fmt::format("{}", decoded.error()), "Invalid failure action type: 9");
    EXPECT_TRUE(unknown_type.written.empty());

    FakeAccess refused_change;
    refused_change.fail_change = ERROR_ACCESS_DENIED;
    const auto changed = rewrite_failure_actions(refused_change);
    ASSERT_FALSE(changed);
    EXPECT_EQ(fmt::format("{}", changed.error()), "IO error in winapi call");
}

}  // namespace
}  // namespace norvo::windows
