// Files: opening, sizing and reading.
#pragma once

#include <win/types.h>

namespace win {

constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFFu;

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

QORVEX_WIN_API HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD shareMode, void* security,
                                  DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile);
QORVEX_WIN_API DWORD GetFileSize(HANDLE file, DWORD* high);
QORVEX_WIN_API BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read,
                             void* overlapped);

}  // namespace win
