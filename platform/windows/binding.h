// What every source of the Windows binding shares. The binding forwards each win:: function to
// the operating system or its C runtime; it is the only code that includes <windows.h>. UTF-16
// text is cast between char16_t and wchar_t (the same 16-bit units on Windows) here and
// nowhere else.
//
// win.h comes first on purpose: <windows.h> defines macros (TRUE, S_OK, ERROR_*, FAILED ...)
// that would rewrite the constants win.h declares. Below the includes, only Windows' own names
// are used for those constants, and parameter types that are macros there (REFKNOWNFOLDERID)
// are spelled out.
#pragma once

#include <win/win.h>

#include <cstring>

#include <windows.h>

static_assert(sizeof(wchar_t) == sizeof(char16_t));
static_assert(sizeof(::GUID) == sizeof(win::GUID));
static_assert(sizeof(::DWORD) == sizeof(win::DWORD));

namespace win::binding {

inline const wchar_t* Wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

inline ::GUID NativeGuid(const win::GUID& id) {
    ::GUID native;
    std::memcpy(&native, &id, sizeof native);
    return native;
}

}  // namespace win::binding
