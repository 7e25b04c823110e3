// The Windows binding of win/system_info.h. RtlGetVersion, GetProductInfo, GetNativeSystemInfo,
// IsWow64Process and the Wow64 redirection pair are not imported: the binary must load on
// systems (and Wine versions) that lack some of them, so they are found at run time, and a
// missing one fails with ERROR_CALL_NOT_IMPLEMENTED (120), or STATUS_NOT_IMPLEMENTED for the
// ntdll call, as the caller's channel has it.
#include <win/system_info.h>

#include <atomic>
#include <cstddef>

namespace {
// Taken before <windows.h>, which defines STATUS_* names as macros.
constexpr win::NTSTATUS kStatusNotImplemented = win::STATUS_NOT_IMPLEMENTED;
}  // namespace

#include <windows.h>

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

namespace {

// One late-bound function: looked up on first use and kept once found. Both modules are loaded
// in every process, so their handles are never released.
template <class F>
F LateBound(std::atomic<F>& slot, const wchar_t* module, const char* name) noexcept {
    if (F cached = slot.load(std::memory_order_acquire)) return cached;
    const ::HMODULE handle = ::GetModuleHandleW(module);
    if (handle == nullptr) return nullptr;
    const ::FARPROC proc = ::GetProcAddress(handle, name);
    if (proc == nullptr) return nullptr;
    const F function = reinterpret_cast<F>(reinterpret_cast<void (*)()>(proc));
    slot.store(function, std::memory_order_release);
    return function;
}

using RtlGetVersionPtr = LONG(WINAPI*)(::RTL_OSVERSIONINFOEXW*);
using GetProductInfoPtr = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, PDWORD);
using GetNativeSystemInfoPtr = void(WINAPI*)(LPSYSTEM_INFO);
using IsWow64ProcessPtr = BOOL(WINAPI*)(HANDLE, PBOOL);
using Wow64DisablePtr = BOOL(WINAPI*)(PVOID*);
using Wow64RevertPtr = BOOL(WINAPI*)(PVOID);

std::atomic<RtlGetVersionPtr> g_rtlGetVersion{nullptr};
std::atomic<GetProductInfoPtr> g_getProductInfo{nullptr};
std::atomic<GetNativeSystemInfoPtr> g_getNativeSystemInfo{nullptr};
std::atomic<IsWow64ProcessPtr> g_isWow64Process{nullptr};
std::atomic<Wow64DisablePtr> g_wow64Disable{nullptr};
std::atomic<Wow64RevertPtr> g_wow64Revert{nullptr};

}  // namespace

win::HMODULE win::GetModuleHandleW(win::LPCWSTR moduleName) {
    return ::GetModuleHandleW(reinterpret_cast<const wchar_t*>(moduleName));
}

win::FARPROC win::GetProcAddress(win::HMODULE module, const char* procName) {
    return reinterpret_cast<win::FARPROC>(
        reinterpret_cast<void (*)()>(::GetProcAddress(static_cast<::HMODULE>(module), procName)));
}

win::HANDLE win::GetCurrentProcess() {
    return ::GetCurrentProcess();
}

win::NTSTATUS win::RtlGetVersion(win::RTL_OSVERSIONINFOEXW* info) {
    const auto function = LateBound(g_rtlGetVersion, L"ntdll.dll", "RtlGetVersion");
    if (function == nullptr) return kStatusNotImplemented;
    return function(reinterpret_cast<::RTL_OSVERSIONINFOEXW*>(info));
}

win::BOOL win::GetProductInfo(win::DWORD osMajor, win::DWORD osMinor, win::DWORD spMajor,
                              win::DWORD spMinor, win::DWORD* productType) {
    const auto function = LateBound(g_getProductInfo, L"kernel32.dll", "GetProductInfo");
    if (function == nullptr) {
        ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    ::DWORD type = productType != nullptr ? *productType : 0;
    const ::BOOL ok =
        function(osMajor, osMinor, spMajor, spMinor, productType != nullptr ? &type : nullptr);
    if (productType != nullptr) *productType = type;
    return ok;
}

void win::GetNativeSystemInfo(win::SYSTEM_INFO* info) {
    const auto function = LateBound(g_getNativeSystemInfo, L"kernel32.dll", "GetNativeSystemInfo");
    // Systems without it have no other architecture than the process's own.
    if (function == nullptr) {
        ::GetSystemInfo(reinterpret_cast<::SYSTEM_INFO*>(info));
        return;
    }
    function(reinterpret_cast<::SYSTEM_INFO*>(info));
}

void win::GetSystemInfo(win::SYSTEM_INFO* info) {
    ::GetSystemInfo(reinterpret_cast<::SYSTEM_INFO*>(info));
}

win::BOOL win::IsWow64Process(win::HANDLE process, win::BOOL* wow64) {
    const auto function = LateBound(g_isWow64Process, L"kernel32.dll", "IsWow64Process");
    if (function == nullptr) {
        ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    ::BOOL answer = wow64 != nullptr ? *wow64 : FALSE;
    const ::BOOL ok = function(process, wow64 != nullptr ? &answer : nullptr);
    if (wow64 != nullptr) *wow64 = answer;
    return ok;
}

win::BOOL win::Wow64DisableWow64FsRedirection(win::PVOID* oldValue) {
    const auto function =
        LateBound(g_wow64Disable, L"kernel32.dll", "Wow64DisableWow64FsRedirection");
    if (function == nullptr) {
        ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    return function(oldValue);
}

win::BOOL win::Wow64RevertWow64FsRedirection(win::PVOID oldValue) {
    const auto function =
        LateBound(g_wow64Revert, L"kernel32.dll", "Wow64RevertWow64FsRedirection");
    if (function == nullptr) {
        ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    return function(oldValue);
}

win::DWORD win::ExpandEnvironmentStringsW(win::LPCWSTR source, win::LPWSTR destination,
                                          win::DWORD size) {
    return ::ExpandEnvironmentStringsW(reinterpret_cast<const wchar_t*>(source),
                                       reinterpret_cast<wchar_t*>(destination), size);
}

win::UINT win::GetSystemWindowsDirectoryW(win::LPWSTR buffer, win::UINT size) {
    return ::GetSystemWindowsDirectoryW(reinterpret_cast<wchar_t*>(buffer), size);
}
