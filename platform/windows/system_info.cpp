// The Windows binding of win/system_info.h. RtlGetVersion, GetProductInfo, GetNativeSystemInfo,
// IsWow64Process and the Wow64 redirection pair are late-bound (late_binding.h): a missing one
// fails with ERROR_CALL_NOT_IMPLEMENTED, or STATUS_NOT_IMPLEMENTED for the ntdll call, whose
// channel is its status.
#include <win/system_info.h>

#include <cstddef>

namespace {
// Taken before <windows.h>, which defines STATUS_* names as macros.
constexpr win::NTSTATUS kStatusNotImplemented = win::STATUS_NOT_IMPLEMENTED;
}  // namespace

#include "binding.h"
#include "late_binding.h"

static_assert(sizeof(::RTL_OSVERSIONINFOEXW) == sizeof(win::RTL_OSVERSIONINFOEXW));
static_assert(offsetof(::RTL_OSVERSIONINFOEXW, wServicePackMajor) ==
              offsetof(win::RTL_OSVERSIONINFOEXW, wServicePackMajor));
static_assert(offsetof(::RTL_OSVERSIONINFOEXW, wProductType) ==
              offsetof(win::RTL_OSVERSIONINFOEXW, wProductType));
static_assert(sizeof(::SYSTEM_INFO) == sizeof(win::SYSTEM_INFO));
static_assert(offsetof(::SYSTEM_INFO, dwNumberOfProcessors) ==
              offsetof(win::SYSTEM_INFO, dwNumberOfProcessors));
static_assert(offsetof(::SYSTEM_INFO, wProcessorRevision) ==
              offsetof(win::SYSTEM_INFO, wProcessorRevision));

using win::binding::LateBound;
using win::binding::Wide;

win::HMODULE win::GetModuleHandleW(win::LPCWSTR moduleName) {
    return ::GetModuleHandleW(Wide(moduleName));
}

win::FARPROC win::GetProcAddress(win::HMODULE module, const char* procName) {
    return reinterpret_cast<win::FARPROC>(
        reinterpret_cast<void (*)()>(::GetProcAddress(static_cast<::HMODULE>(module), procName)));
}

win::HANDLE win::GetCurrentProcess() {
    return ::GetCurrentProcess();
}

win::NTSTATUS win::RtlGetVersion(win::RTL_OSVERSIONINFOEXW* info) {
    static LateBound<LONG(WINAPI*)(::RTL_OSVERSIONINFOEXW*)> function(L"ntdll.dll",
                                                                      "RtlGetVersion");
    const auto rtlGetVersion = function.Get();
    if (rtlGetVersion == nullptr) return kStatusNotImplemented;
    return rtlGetVersion(reinterpret_cast<::RTL_OSVERSIONINFOEXW*>(info));
}

win::BOOL win::GetProductInfo(win::DWORD osMajor, win::DWORD osMinor, win::DWORD spMajor,
                              win::DWORD spMinor, win::DWORD* productType) {
    static LateBound<BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, PDWORD)> function(L"kernel32.dll",
                                                                                 "GetProductInfo");
    return function.Call(::BOOL{FALSE}, osMajor, osMinor, spMajor, spMinor,
                         reinterpret_cast<::DWORD*>(productType));
}

void win::GetNativeSystemInfo(win::SYSTEM_INFO* info) {
    static LateBound<void(WINAPI*)(LPSYSTEM_INFO)> function(L"kernel32.dll", "GetNativeSystemInfo");
    // Systems without it have no architecture but the process's own.
    const auto native = function.Get();
    (native != nullptr ? native : &::GetSystemInfo)(reinterpret_cast<::SYSTEM_INFO*>(info));
}

void win::GetSystemInfo(win::SYSTEM_INFO* info) {
    ::GetSystemInfo(reinterpret_cast<::SYSTEM_INFO*>(info));
}

win::BOOL win::IsWow64Process(win::HANDLE process, win::BOOL* wow64) {
    static LateBound<BOOL(WINAPI*)(HANDLE, PBOOL)> function(L"kernel32.dll", "IsWow64Process");
    return function.Call(::BOOL{FALSE}, process, reinterpret_cast<::BOOL*>(wow64));
}

win::BOOL win::Wow64DisableWow64FsRedirection(win::PVOID* oldValue) {
    static LateBound<BOOL(WINAPI*)(PVOID*)> function(L"kernel32.dll",
                                                     "Wow64DisableWow64FsRedirection");
    return function.Call(::BOOL{FALSE}, oldValue);
}

win::BOOL win::Wow64RevertWow64FsRedirection(win::PVOID oldValue) {
    static LateBound<BOOL(WINAPI*)(PVOID)> function(L"kernel32.dll",
                                                    "Wow64RevertWow64FsRedirection");
    return function.Call(::BOOL{FALSE}, oldValue);
}

win::DWORD win::ExpandEnvironmentStringsW(win::LPCWSTR source, win::LPWSTR destination,
                                          win::DWORD size) {
    return ::ExpandEnvironmentStringsW(Wide(source), reinterpret_cast<wchar_t*>(destination), size);
}

win::UINT win::GetSystemWindowsDirectoryW(win::LPWSTR buffer, win::UINT size) {
    return ::GetSystemWindowsDirectoryW(reinterpret_cast<wchar_t*>(buffer), size);
}
