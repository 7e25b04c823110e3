// Files: opening, sizing and reading, and the attributes of files and folders.
#pragma once

#include <win/types.h>

namespace win {

constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFFu;

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x400;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;

QORVEX_WIN_API HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD shareMode, void* security,
                                  DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile);
QORVEX_WIN_API DWORD GetFileSize(HANDLE file, DWORD* high);
QORVEX_WIN_API BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read,
                             void* overlapped);
// INVALID_FILE_ATTRIBUTES on failure: ERROR_FILE_NOT_FOUND for a missing name in a folder that
// exists, ERROR_PATH_NOT_FOUND when a folder on the way is missing. Without the "\\?\" prefix a
// path is limited to MAX_PATH (260) characters with its terminator.
QORVEX_WIN_API DWORD GetFileAttributesW(LPCWSTR name);
// The root of the volume that holds fileName ("C:\\" for anything on drive C: when no folder of
// it is a mount point), with its trailing separator. The file need not exist. A buffer that
// cannot hold the root and its terminator fails with ERROR_FILENAME_EXCED_RANGE.
QORVEX_WIN_API BOOL GetVolumePathNameW(LPCWSTR fileName, LPWSTR volumePathName, DWORD bufferLength);

constexpr DWORD ERROR_HANDLE_EOF = 38;
constexpr DWORD ERROR_BUFFER_OVERFLOW = 111;
constexpr DWORD ERROR_OUTOFMEMORY = 14;

// The names of one file (its hard links), each volume-relative with a leading backslash
// (\Dir\File.txt). A buffer too short fails with ERROR_MORE_DATA and *stringLength set
// to the characters needed, terminator included; the end of the names is ERROR_HANDLE_EOF.
// Windows before Vista, and Wine, lack both: their calls fail with ERROR_CALL_NOT_IMPLEMENTED.
QORVEX_WIN_API HANDLE FindFirstFileNameW(LPCWSTR fileName, DWORD flags, DWORD* stringLength,
                                         PWSTR linkName);
QORVEX_WIN_API BOOL FindNextFileNameW(HANDLE findStream, DWORD* stringLength, PWSTR linkName);
QORVEX_WIN_API BOOL FindClose(HANDLE findFile);

}  // namespace win
