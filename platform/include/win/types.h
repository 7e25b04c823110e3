// Types, result codes and error values shared by every area of the OS as the module sees it.
//
// The types keep their Windows names and sizes on every platform (WCHAR is char16_t, DWORD is
// 32 bits, HANDLE is void*), so code written against them compiles and behaves alike on Windows
// and on the simulated machine.
#pragma once

#include <cstddef>
#include <cstdint>

// Every win:: function is exported from the simulated machine's shared library, so the module,
// the host and the tests loaded into one process all reach the same machine.
#if defined(_WIN32)
#define QORVEX_WIN_API
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

inline bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);

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

}  // namespace win
