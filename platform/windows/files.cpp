// The Windows binding of win/files.h.
#include "binding.h"

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
