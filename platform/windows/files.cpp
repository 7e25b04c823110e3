// The Windows binding of win/files.h.
#include "binding.h"
#include "late_binding.h"

using win::binding::Wide;

win::HANDLE win::CreateFileW(win::LPCWSTR name, win::DWORD access, win::DWORD shareMode,
                             void* security, win::DWORD disposition, win::DWORD flagsAndAttributes,
                             win::HANDLE templateFile) {
    return ::CreateFileW(Wide(name), access, shareMode,
                         static_cast<LPSECURITY_ATTRIBUTES>(security), disposition,
                         flagsAndAttributes, templateFile);
}

win::DWORD win::GetFileSize(win::HANDLE file, win::DWORD* high) {
    ::DWORD nativeHigh = high != nullptr ? *high : 0;
    const ::DWORD low = ::GetFileSize(file, high != nullptr ? &nativeHigh : nullptr);
    if (high != nullptr) *high = nativeHigh;
    return low;
}

win::BOOL win::ReadFile(win::HANDLE file, void* buffer, win::DWORD toRead, win::DWORD* read,
                        void* overlapped) {
    ::DWORD nativeRead = read != nullptr ? *read : 0;
    const ::BOOL ok = ::ReadFile(file, buffer, toRead, read != nullptr ? &nativeRead : nullptr,
                                 static_cast<LPOVERLAPPED>(overlapped));
    if (read != nullptr) *read = nativeRead;
    return ok;
}

win::DWORD win::GetFileAttributesW(win::LPCWSTR name) {
    return ::GetFileAttributesW(Wide(name));
}

win::BOOL win::GetVolumePathNameW(win::LPCWSTR fileName, win::LPWSTR volumePathName,
                                  win::DWORD bufferLength) {
    return ::GetVolumePathNameW(Wide(fileName), reinterpret_cast<wchar_t*>(volumePathName),
                                bufferLength);
}

// Neither is exported by Wine's kernel32, and an import of either would keep qorvex.dll from
// loading there.
win::HANDLE win::FindFirstFileNameW(win::LPCWSTR fileName, win::DWORD flags,
                                    win::DWORD* stringLength, win::PWSTR linkName) {
    static binding::LateBound<decltype(&::FindFirstFileNameW)> first(L"kernel32.dll",
                                                                     "FindFirstFileNameW");
    ::DWORD nativeLength = stringLength != nullptr ? *stringLength : 0;
    const ::HANDLE handle = first.Call(
        INVALID_HANDLE_VALUE, Wide(fileName), static_cast<::DWORD>(flags),
        stringLength != nullptr ? &nativeLength : nullptr, reinterpret_cast<wchar_t*>(linkName));
    if (stringLength != nullptr) *stringLength = nativeLength;
    return handle;
}

win::BOOL win::FindNextFileNameW(win::HANDLE findStream, win::DWORD* stringLength,
                                 win::PWSTR linkName) {
    static binding::LateBound<decltype(&::FindNextFileNameW)> next(L"kernel32.dll",
                                                                   "FindNextFileNameW");
    ::DWORD nativeLength = stringLength != nullptr ? *stringLength : 0;
    const ::BOOL ok =
        next.Call(FALSE, findStream, stringLength != nullptr ? &nativeLength : nullptr,
                  reinterpret_cast<wchar_t*>(linkName));
    if (stringLength != nullptr) *stringLength = nativeLength;
    return ok;
}

win::BOOL win::FindClose(win::HANDLE findFile) {
    return ::FindClose(findFile);
}
