// The operating system as the module sees it: the subset of Win32, the C runtime's text
// functions and (later) the Windows Runtime that qorvex calls, declared with portable types.
//
// Every function keeps its Windows name, arguments, results and last-error behaviour. Two
// bindings implement this header: platform/windows forwards to the real OS, platform/sim is a
// simulated machine for Linux builds and tests. Module code includes this header and never
// <windows.h>. Wide text is UTF-16 (char16_t) on every platform.
//
// Threading: every function may be called from any thread, as on Windows. Per-thread state
// (last error) is per thread in both bindings.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define QORVEX_WIN_API
#elif defined(QORVEX_WINSIM_BUILDING)
#define QORVEX_WIN_API __attribute__((visibility("default")))
#else
#define QORVEX_WIN_API __attribute__((visibility("default")))
#endif

namespace win {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using LSTATUS = std::int32_t;
using BOOL = std::int32_t;
using UINT = std::uint32_t;
using HRESULT = std::int32_t;
using SIZE_T = std::size_t;
using WCHAR = char16_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using PWSTR = WCHAR*;
using HANDLE = void*;
using HMODULE = void*;
using HINSTANCE = void*;
using HKEY = void*;
using LPVOID = void*;
using errno_t = int;
using wint_t = std::uint16_t;  // the Windows C runtime's wint_t is 16 bits wide

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
using KNOWNFOLDERID = GUID;
using REFKNOWNFOLDERID = const GUID&;

// The conversion state of mbrtowc / wcrtomb_s. Only its size matters to callers, which
// zero-initialise it; the bindings keep their own representation inside.
struct mbstate_t {
    std::uint64_t opaque[2];
};

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFFu;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT STRSAFE_E_INSUFFICIENT_BUFFER = static_cast<HRESULT>(0x8007007Au);
constexpr HRESULT STRSAFE_E_INVALID_PARAMETER = static_cast<HRESULT>(0x80070057u);

constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_CALL_NOT_IMPLEMENTED = 120;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_UNSUPPORTED_TYPE = 1630;
constexpr DWORD ERROR_IO_DEVICE = 1117;
constexpr DWORD ERROR_BAD_PATHNAME = 161;
constexpr DWORD ERROR_NOACCESS = 998;

constexpr DWORD DLL_PROCESS_DETACH = 0;
constexpr DWORD DLL_PROCESS_ATTACH = 1;
constexpr DWORD DLL_THREAD_ATTACH = 2;
constexpr DWORD DLL_THREAD_DETACH = 3;

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x400;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;

constexpr DWORD HEAP_ZERO_MEMORY = 0x8;

constexpr DWORD RRF_RT_REG_SZ = 0x2;
constexpr DWORD RRF_RT_REG_DWORD = 0x10;
constexpr DWORD RRF_RT_ANY = 0xFFFF;
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_DWORD = 4;
// The predefined key's value as Windows defines it (sign-extended on 64-bit).
inline HKEY const HKEY_CURRENT_USER =
    reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<std::int32_t>(0x80000001u)));
inline HKEY const HKEY_LOCAL_MACHINE =
    reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<std::int32_t>(0x80000002u)));

// {F38BF404-1D43-42F2-9305-67DE0B28FC23}
constexpr KNOWNFOLDERID FOLDERID_Windows = {
    0xF38BF404, 0x1D43, 0x42F2, {0x93, 0x05, 0x67, 0xDE, 0x0B, 0x28, 0xFC, 0x23}};

inline bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}

constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}
// HRESULT_FROM_WIN32 as the SDK's macro defines it.
constexpr HRESULT HRESULT_FROM_WIN32(std::uint32_t x) {
    return static_cast<HRESULT>(x) <= 0 ? static_cast<HRESULT>(x)
                                        : static_cast<HRESULT>((x & 0x0000FFFFu) | 0x80070000u);
}

// Last error (per thread).
QORVEX_WIN_API DWORD GetLastError();
QORVEX_WIN_API void SetLastError(DWORD error);

// Process heap.
QORVEX_WIN_API HANDLE GetProcessHeap();
QORVEX_WIN_API LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
QORVEX_WIN_API BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block);

// Library entry.
QORVEX_WIN_API BOOL DisableThreadLibraryCalls(HMODULE module);

// C runtime text functions, as the Windows C runtime behaves in its default "C" locale.
QORVEX_WIN_API std::size_t mbrtowc(WCHAR* out, const char* s, std::size_t n, mbstate_t* state);
QORVEX_WIN_API errno_t wcrtomb_s(std::size_t* written, char* out, std::size_t outSize, WCHAR wc,
                                 mbstate_t* state);
QORVEX_WIN_API wint_t towlower(wint_t c);

// Registry.
QORVEX_WIN_API LSTATUS RegGetValueW(HKEY key, LPCWSTR subKey, LPCWSTR value, DWORD flags,
                                    DWORD* type, void* data, DWORD* dataSize);

// Shell and COM memory.
QORVEX_WIN_API HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID id, DWORD flags, HANDLE token,
                                            PWSTR* path);
QORVEX_WIN_API void CoTaskMemFree(LPVOID block);

// Files.
QORVEX_WIN_API HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD shareMode, void* security,
                                  DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile);
QORVEX_WIN_API DWORD GetFileSize(HANDLE file, DWORD* high);
QORVEX_WIN_API BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read,
                             void* overlapped);
QORVEX_WIN_API BOOL CloseHandle(HANDLE handle);
// INVALID_FILE_ATTRIBUTES on failure: ERROR_FILE_NOT_FOUND for a missing name in a folder that
// exists, ERROR_PATH_NOT_FOUND when a folder on the way is missing. Without the "\\?\" prefix a
// path is limited to MAX_PATH (260) characters with its terminator.
QORVEX_WIN_API DWORD GetFileAttributesW(LPCWSTR name);

// strsafe's StringCchPrintfW: formats into dest (destUnits UTF-16 units, terminator
// included). S_OK when the whole text fits; STRSAFE_E_INSUFFICIENT_BUFFER (0x8007007A) with the
// output truncated and zero-terminated when it does not; STRSAFE_E_INVALID_PARAMETER for a
// zero-sized or oversized (> 2147483647 units) buffer, leaving dest alone. As in every Windows
// wide printf, %s takes a UTF-16 string (%hs a narrow one) and 'l' means 32 bits. The simulated
// binding implements %s %hs %S %c %d %i %u %x %X %o %% with the flags '-' '0' '+' ' ' '#', a width,
// a precision and the sizes h l ll I I32 I64 z; it refuses any other conversion with
// STRSAFE_E_INVALID_PARAMETER rather than guess.
QORVEX_WIN_API HRESULT StringCchPrintfW(WCHAR* dest, std::size_t destUnits, LPCWSTR format, ...);

}  // namespace win
