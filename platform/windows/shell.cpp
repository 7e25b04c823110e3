// The Windows binding of win/shell.h.
#include "binding.h"

#include <shlobj.h>

win::HRESULT win::SHGetKnownFolderPath(const win::GUID& id, win::DWORD flags, win::HANDLE token,
                                       win::PWSTR* path) {
    if (path == nullptr) return E_INVALIDARG;
    const ::GUID native = binding::NativeGuid(id);
    ::PWSTR result = nullptr;
    const ::HRESULT hr = ::SHGetKnownFolderPath(native, flags, token, &result);
    *path = reinterpret_cast<win::PWSTR>(result);
    return hr;
}

void win::CoTaskMemFree(win::LPVOID block) {
    ::CoTaskMemFree(block);
}
