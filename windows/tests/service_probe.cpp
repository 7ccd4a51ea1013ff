// Looks at the installed service from outside, for the Wine integration test:
//   service_probe serving          waits until the run loop serves, then prints the state,
//                                  the process id and whether the RPC endpoint listens
//   service_probe pause|continue   sends the control, waits until the run loop has handled it,
//                                  then prints as `serving`
//   service_probe failure-actions  prints the failure actions the service control manager holds
//   service_probe wait-exit PID    waits for the service process to end, then prints the state
//                                  and the process's exit code (unknown if it ended before)
//   service_probe stop PID         stops the service, then does as wait-exit
//   service_probe event-source     loads the event-log source's message file as Event Viewer
//                                  does and prints event 42 formatted with three lines
//   service_probe resources FILE   prints FILE's product version, its file version and the
//                                  version its manifest names

#include "norvo/windows/event_log.hpp"
#include "norvo/windows/win32.hpp"

#include <windows.h>

#include <rpc.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

using norvo::windows::ServiceHandle;
using norvo::windows::to_utf8;

constexpr DWORD kExitTimeoutMs = 30'000;

int fail(std::string_view what) {
    std::printf("%.*s failed: %s\n", static_cast<int>(what.size()), what.data(),
                fmt::format("{}", norvo::windows::last_platform_error()).c_str());
    return 1;
}

ServiceHandle open_service(DWORD access) {
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return nullptr;
    return ServiceHandle(OpenServiceW(manager.get(), norvo::windows::kServiceName, access));
}

const char* state_name(DWORD state) {
    switch (state) {
        case SERVICE_STOPPED:
            return "STOPPED";
        case SERVICE_RUNNING:
            return "RUNNING";
        case SERVICE_PAUSED:
            return "PAUSED";
        default:
            return "PENDING";
    }
}

bool endpoint_listening() {
    RPC_WSTR text = nullptr;
    wchar_t protseq[] = L"ncalrpc";
    wchar_t endpoint[] = L"NorvoVxtRpcEndpoint";
    if (RpcStringBindingComposeW(nullptr, reinterpret_cast<RPC_WSTR>(protseq), nullptr,
                                 reinterpret_cast<RPC_WSTR>(endpoint), nullptr,
                                 &text) != RPC_S_OK) {
        return false;
    }
    RPC_BINDING_HANDLE binding = nullptr;
    const bool bound = RpcBindingFromStringBindingW(text, &binding) == RPC_S_OK;
    RpcStringFreeW(&text);
    if (!bound)
        return false;
    const bool listening = RpcMgmtIsServerListening(binding) == RPC_S_OK;
    RpcBindingFree(&binding);
    return listening;
}

// The control handler holds one event until the run loop takes it, and the loop takes
// events only once its RPC server listens: the second of two controls returns only after
// the loop has taken the first, so everything sent before has been handled.
int serving(DWORD control = 0) {
    auto service =
        open_service(SERVICE_INTERROGATE | SERVICE_QUERY_STATUS | SERVICE_PAUSE_CONTINUE);
    if (!service)
        return fail("OpenServiceW");
    SERVICE_STATUS status;
    if (control != 0 && !ControlService(service.get(), control, &status))
        return fail("ControlService");
    for (int i = 0; i < 2; ++i) {
        if (!ControlService(service.get(), SERVICE_CONTROL_INTERROGATE, &status))
            return fail("ControlService");
    }
    SERVICE_STATUS_PROCESS process{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<BYTE*>(&process), sizeof process, &needed)) {
        return fail("QueryServiceStatusEx");
    }
    std::printf("state=%s accepted=0x%lX pid=%lu endpoint=%s\n", state_name(process.dwCurrentState),
                process.dwControlsAccepted, process.dwProcessId,
                endpoint_listening() ? "listening" : "not-listening");
    return 0;
}

std::string text_or_none(const wchar_t* text) {
    return text ? '"' + to_utf8(text) + '"' : "none";
}

int failure_actions() {
    auto service = open_service(SERVICE_QUERY_CONFIG);
    if (!service)
        return fail("OpenServiceW");
    std::vector<std::uint64_t> buffer(1024);
    DWORD needed = 0;
    if (!QueryServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS,
                              reinterpret_cast<BYTE*>(buffer.data()),
                              static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t)), &needed)) {
        return fail("QueryServiceConfig2W");
    }
    const auto& record = *reinterpret_cast<const SERVICE_FAILURE_ACTIONSW*>(buffer.data());
    std::string actions;
    for (DWORD i = 0; record.lpsaActions && i < record.cActions; ++i) {
        constexpr const char* kNames[] = {"none", "restart", "reboot", "run"};
        const auto type = static_cast<unsigned>(record.lpsaActions[i].Type);
        actions += fmt::format("{}{}/{}", i ? "," : "", type < 4 ? kNames[type] : "?",
                               record.lpsaActions[i].Delay);
    }
    std::printf("reset=%lu reboot=%s command=%s actions=%s\n", record.dwResetPeriod,
                text_or_none(record.lpRebootMsg).c_str(), text_or_none(record.lpCommand).c_str(),
                actions.c_str());
    return 0;
}

int wait_exit(DWORD pid, bool stop) {
    // Opened before the stop, so that its exit code can be read.
    norvo::windows::UniqueHandle process(
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (stop) {
        auto service = open_service(SERVICE_STOP);
        SERVICE_STATUS status;
        if (!service || !ControlService(service.get(), SERVICE_CONTROL_STOP, &status))
            return fail("ControlService");
    }
    if (process && WaitForSingleObject(process.get(), kExitTimeoutMs) != WAIT_OBJECT_0) {
        std::printf("service process %lu still runs after %lu ms\n", pid, kExitTimeoutMs);
        return 1;
    }
    DWORD process_exit = 0;
    const bool known = process && GetExitCodeProcess(process.get(), &process_exit);
    auto service = open_service(SERVICE_QUERY_STATUS);
    if (!service)
        return fail("OpenServiceW");
    SERVICE_STATUS status;
    if (!QueryServiceStatus(service.get(), &status))
        return fail("QueryServiceStatus");
    std::printf("state=%s exit=%lu endpoint=%s process-exit=%s\n",
                state_name(status.dwCurrentState), status.dwWin32ExitCode,
                endpoint_listening() ? "listening" : "not-listening",
                known ? fmt::format("{:#x}", process_exit).c_str() : "unknown");
    return 0;
}

using Module =
    std::unique_ptr<std::remove_pointer_t<HMODULE>, norvo::windows::Releaser<&FreeLibrary>>;

// Its product version (a text) and its file version (numbers), or "none".
std::pair<std::wstring, std::string> file_versions(const wchar_t* file) {
    DWORD ignored = 0;
    std::vector<char> info(GetFileVersionInfoSizeW(file, &ignored));
    if (info.empty() || !GetFileVersionInfoW(file, 0, static_cast<DWORD>(info.size()), info.data()))
        return {L"none", "none"};
    void* value = nullptr;
    UINT length = 0;
    std::pair<std::wstring, std::string> versions{L"none", "none"};
    if (VerQueryValueW(info.data(), L"\\StringFileInfo\\040904B0\\ProductVersion", &value, &length))
        versions.first = static_cast<const wchar_t*>(value);
    if (VerQueryValueW(info.data(), L"\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
        versions.second = fmt::format(
            "{}.{}.{}.{}", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
            HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
    }
    return versions;
}

// The version of the assembly its manifest describes, or "none".
std::string manifest_version(HMODULE module) {
    const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    const HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const auto* bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (!bytes)
        return "none";
    const std::string_view text(bytes, SizeofResource(module, found));
    constexpr std::string_view kVersion = " version=\"";
    const auto identity = text.find("<assemblyIdentity");
    const auto version = text.find(kVersion, identity);
    if (identity == std::string_view::npos || version == std::string_view::npos)
        return "none";
    const auto begin = version + kVersion.size();
    return std::string(text.substr(begin, text.find('"', begin) - begin));
}

int resources(const char* name) {
    const auto file = norvo::windows::to_wide(name);
    const Module module(LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!module)
        return fail("LoadLibraryExW");
    const auto [product, fixed] = file_versions(file.c_str());
    std::printf("version=%s file-version=%s manifest=%s\n", to_utf8(product).c_str(), fixed.c_str(),
                manifest_version(module.get()).c_str());
    return 0;
}

int event_source() {
    wchar_t file[MAX_PATH];
    DWORD size = sizeof file;
    // RegGetValueW returns its error instead of setting the thread's.
    if (const LSTATUS status =
            RegGetValueW(HKEY_LOCAL_MACHINE,
                         L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\NorvoVTap",
                         L"EventMessageFile", RRF_RT_REG_SZ, nullptr, file, &size);
        status != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(status));
        return fail("RegGetValueW");
    }
    const Module module(LoadLibraryExW(file, nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!module)
        return fail("LoadLibraryExW");
    const wchar_t* lines[] = {L"thread 'main' panicked at a.cpp:1:2:", L"second", L"third"};
    wchar_t* text = nullptr;
    if (!FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                            FORMAT_MESSAGE_ARGUMENT_ARRAY,
                        module.get(), norvo::windows::kFatalEventId, 0,
                        reinterpret_cast<wchar_t*>(&text), 0,
                        reinterpret_cast<va_list*>(const_cast<wchar_t**>(lines))))
        return fail("FormatMessageW");
    const norvo::windows::LocalMemory owned(text);
    std::printf("message=[%s]\n", to_utf8(text).c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view command = argc > 1 ? argv[1] : "";
    if (command == "serving")
        return serving();
    if (command == "pause")
        return serving(SERVICE_CONTROL_PAUSE);
    if (command == "continue")
        return serving(SERVICE_CONTROL_CONTINUE);
    if (command == "failure-actions")
        return failure_actions();
    if (command == "event-source")
        return event_source();
    if (command == "resources" && argc > 2)
        return resources(argv[2]);
    if ((command == "wait-exit" || command == "stop") && argc > 2)
        return wait_exit(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)), command == "stop");
    std::printf(
        "usage: service_probe serving | pause | continue | failure-actions | wait-exit PID | stop "
        "PID | event-source | resources FILE\n");
    return 2;
}
