// The Windows binding of win/winrt/roapi.h: forwards to combase through the runtimeobject
// import library (api-ms-win-core-winrt-l1-1-0 and api-ms-win-core-winrt-string-l1-1-0), which
// both Windows and Wine resolve to combase.dll. mingw-w64 has no combase import library.
//
// Our interface declarations and the SDK's describe the same vtables, so pointers are passed
// through as they are.
#include "binding.h"

#include <roapi.h>
#include <winstring.h>

static_assert(sizeof(::HSTRING) == sizeof(win::HSTRING));
static_assert(sizeof(::boolean) == sizeof(win::boolean));

namespace {

::HSTRING Native(win::HSTRING string) {
    return reinterpret_cast<::HSTRING>(string);
}

}  // namespace

win::HRESULT win::RoInitialize(RO_INIT_TYPE initType) {
    return ::RoInitialize(static_cast<::RO_INIT_TYPE>(initType));
}

void win::RoUninitialize() {
    ::RoUninitialize();
}

win::HRESULT win::RoActivateInstance(HSTRING activatableClassId, IInspectable** instance) {
    return ::RoActivateInstance(Native(activatableClassId),
                                reinterpret_cast<::IInspectable**>(instance));
}

win::HRESULT win::WindowsCreateString(PCWSTR sourceString, UINT32 length, HSTRING* string) {
    return ::WindowsCreateString(reinterpret_cast<const wchar_t*>(sourceString), length,
                                 reinterpret_cast<::HSTRING*>(string));
}

win::HRESULT win::WindowsDuplicateString(HSTRING string, HSTRING* newString) {
    return ::WindowsDuplicateString(Native(string), reinterpret_cast<::HSTRING*>(newString));
}

win::HRESULT win::WindowsDeleteString(HSTRING string) {
    return ::WindowsDeleteString(Native(string));
}

win::PCWSTR win::WindowsGetStringRawBuffer(HSTRING string, UINT32* length) {
    return reinterpret_cast<PCWSTR>(::WindowsGetStringRawBuffer(Native(string), length));
}
