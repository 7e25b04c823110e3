// System information, loaded modules and the process environment, as the module sees them:
// the version record, the processor architecture, Wow64 and its file system redirection, module
// handles and exported functions, environment strings and the Windows folder.
//
// Several of these functions are missing on older systems or under Wine, so the module never
// calls RtlGetVersion, GetProductInfo, GetNativeSystemInfo, IsWow64Process or the Wow64
// redirection pair directly: it looks them up with GetModuleHandleW and GetProcAddress and calls
// the pointer it got, which may be missing. The declarations below still exist so that both
// bindings implement them (the simulated GetProcAddress hands out the simulated functions) and
// so that contract tests can call them.
//
// Threading: every function may be called from any thread. Wow64 redirection is a state of the
// calling thread.
#pragma once

#include <win/types.h>

namespace win {

using USHORT = std::uint16_t;
using UCHAR = std::uint8_t;
using NTSTATUS = std::int32_t;
using DWORD_PTR = std::uintptr_t;
using PVOID = void*;
// GetProcAddress's result. Cast it to the function's own type before calling (see ProcAs).
using FARPROC = std::intptr_t (*)();

constexpr NTSTATUS STATUS_SUCCESS = 0;
constexpr NTSTATUS STATUS_INVALID_PARAMETER = static_cast<NTSTATUS>(0xC000000Du);
constexpr NTSTATUS STATUS_NOT_IMPLEMENTED = static_cast<NTSTATUS>(0xC0000002u);

constexpr DWORD ERROR_INVALID_FUNCTION = 1;
constexpr DWORD ERROR_BAD_NETPATH = 53;
constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;

// RTL_OSVERSIONINFOEXW as ntdll fills it. dwOSVersionInfoSize must be set to its size (284)
// before the call.
struct RTL_OSVERSIONINFOEXW {
    ULONG dwOSVersionInfoSize;
    ULONG dwMajorVersion;
    ULONG dwMinorVersion;
    ULONG dwBuildNumber;
    ULONG dwPlatformId;
    WCHAR szCSDVersion[128];
    USHORT wServicePackMajor;
    USHORT wServicePackMinor;
    USHORT wSuiteMask;
    UCHAR wProductType;
    UCHAR wReserved;
};
static_assert(sizeof(RTL_OSVERSIONINFOEXW) == 284, "the size Windows checks in the size field");

constexpr UCHAR VER_NT_WORKSTATION = 1;
constexpr UCHAR VER_NT_DOMAIN_CONTROLLER = 2;
constexpr UCHAR VER_NT_SERVER = 3;
constexpr ULONG VER_PLATFORM_WIN32_NT = 2;

// GetProductInfo's answers used here; the others are plain numbers.
constexpr DWORD PRODUCT_UNDEFINED = 0;
constexpr DWORD PRODUCT_PROFESSIONAL = 0x30;

// SYSTEM_INFO. Windows declares the first member as a union of dwOemId with the architecture
// and a reserved word; only the architecture is ever read.
struct SYSTEM_INFO {
    WORD wProcessorArchitecture;
    WORD wReserved;
    DWORD dwPageSize;
    LPVOID lpMinimumApplicationAddress;
    LPVOID lpMaximumApplicationAddress;
    DWORD_PTR dwActiveProcessorMask;
    DWORD dwNumberOfProcessors;
    DWORD dwProcessorType;
    DWORD dwAllocationGranularity;
    WORD wProcessorLevel;
    WORD wProcessorRevision;
};
static_assert(sizeof(void*) != 8 || sizeof(SYSTEM_INFO) == 48, "SYSTEM_INFO's 64-bit layout");

constexpr WORD PROCESSOR_ARCHITECTURE_INTEL = 0;
constexpr WORD PROCESSOR_ARCHITECTURE_ARM = 5;
constexpr WORD PROCESSOR_ARCHITECTURE_IA64 = 6;
constexpr WORD PROCESSOR_ARCHITECTURE_AMD64 = 9;
constexpr WORD PROCESSOR_ARCHITECTURE_ARM64 = 12;
constexpr WORD PROCESSOR_ARCHITECTURE_UNKNOWN = 0xFFFF;

// The pseudo handle GetCurrentProcess returns.
inline HANDLE const kCurrentProcessPseudoHandle =
    reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

// Loaded modules. GetModuleHandleW does not load anything and takes no reference: a module
// name without an extension means "name.dll". Unknown modules give null with
// ERROR_MOD_NOT_FOUND; unknown functions give null with ERROR_PROC_NOT_FOUND.
QORVEX_WIN_API HMODULE GetModuleHandleW(LPCWSTR moduleName);
QORVEX_WIN_API FARPROC GetProcAddress(HMODULE module, const char* procName);
QORVEX_WIN_API HANDLE GetCurrentProcess();

// GetProcAddress's result as the function type F. Function pointers convert only through an
// explicit cast; the detour through void(*)() keeps -Wcast-function-type quiet about it.
template <class F>
F ProcAs(FARPROC proc) noexcept {
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(proc));
}

// Version and architecture (ntdll, kernel32).
QORVEX_WIN_API NTSTATUS RtlGetVersion(RTL_OSVERSIONINFOEXW* info);
QORVEX_WIN_API BOOL GetProductInfo(DWORD osMajor, DWORD osMinor, DWORD spMajor, DWORD spMinor,
                                   DWORD* productType);
QORVEX_WIN_API void GetNativeSystemInfo(SYSTEM_INFO* info);
QORVEX_WIN_API void GetSystemInfo(SYSTEM_INFO* info);
QORVEX_WIN_API BOOL IsWow64Process(HANDLE process, BOOL* wow64);
QORVEX_WIN_API BOOL Wow64DisableWow64FsRedirection(PVOID* oldValue);
QORVEX_WIN_API BOOL Wow64RevertWow64FsRedirection(PVOID oldValue);

using RtlGetVersionFunction = NTSTATUS (*)(RTL_OSVERSIONINFOEXW*);
using GetProductInfoFunction = BOOL (*)(DWORD, DWORD, DWORD, DWORD, DWORD*);
using GetSystemInfoFunction = void (*)(SYSTEM_INFO*);
using IsWow64ProcessFunction = BOOL (*)(HANDLE, BOOL*);
using Wow64DisableWow64FsRedirectionFunction = BOOL (*)(PVOID*);
using Wow64RevertWow64FsRedirectionFunction = BOOL (*)(PVOID);

// Environment and folders. ExpandEnvironmentStringsW returns the characters the expansion
// needs, its terminator included, whether or not they fit into destination (size characters);
// 0 on failure. An undefined %NAME% stays as written. GetSystemWindowsDirectoryW returns the
// length without the terminator when it fits, else the size needed with the terminator.
QORVEX_WIN_API DWORD ExpandEnvironmentStringsW(LPCWSTR source, LPWSTR destination, DWORD size);
QORVEX_WIN_API UINT GetSystemWindowsDirectoryW(LPWSTR buffer, UINT size);

}  // namespace win
