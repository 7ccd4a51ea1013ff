#include "client_process.hpp"

#include <gtest/gtest.h>

namespace norvo::windows::rpc::test {
namespace {

// A pipe whose `parent` end this process keeps; the other end is inherited.
UniqueHandle pipe(HANDLE& child, bool parent_writes) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    EXPECT_TRUE(CreatePipe(&read, &write, &inherit, 0));
    HANDLE parent = parent_writes ? write : read;
    child = parent_writes ? read : write;
    SetHandleInformation(parent, HANDLE_FLAG_INHERIT, 0);
    return UniqueHandle(parent);
}

std::wstring client_command(const wchar_t* mode) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    folder.resize(folder.find_last_of(L"\\/") + 1);
    return L"\"" + folder + L"rpc_test_client.exe\" " + mode;
}

}  // namespace

ClientProcess::ClientProcess(const wchar_t* mode) {
    HANDLE child_input = nullptr;
    HANDLE child_output = nullptr;
    input_ = pipe(child_input, true);
    output_ = pipe(child_output, false);
    UniqueHandle child_input_owner(child_input);
    UniqueHandle child_output_owner(child_output);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = child_input;
    startup.hStdOutput = child_output;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    auto command = client_command(mode);
    EXPECT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                               &startup, &info));
    process_.reset(info.hProcess);
    UniqueHandle thread(info.hThread);
}

std::string ClientProcess::line() {
    std::string text;
    char c = 0;
    DWORD got = 0;
    while (ReadFile(output_.get(), &c, 1, &got, nullptr) && got == 1 && c != '\n') text += c;
    if (text.ends_with('\r'))  // the client's stdout is in text mode
        text.pop_back();
    return text;
}

void ClientProcess::finish() {
    input_.reset();
    ASSERT_EQ(WaitForSingleObject(process_.get(), INFINITE), WAIT_OBJECT_0);
}

void ClientProcess::kill() {
    ASSERT_TRUE(TerminateProcess(process_.get(), 9));
    ASSERT_EQ(WaitForSingleObject(process_.get(), INFINITE), WAIT_OBJECT_0);
}

}  // namespace norvo::windows::rpc::test
