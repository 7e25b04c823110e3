// The Windows binding of GetFileAttributesW (win/files.h).
#include <win/files.h>

#include <windows.h>

win::DWORD win::GetFileAttributesW(win::LPCWSTR name) {
    return ::GetFileAttributesW(reinterpret_cast<const wchar_t*>(name));
}
