// Files: opening, sizing and reading, and the attributes of files and folders.
//
// Every call that takes a path reads it by Windows' rules (tests/unit/file_calls_test.cpp holds
// them as facts): names not in the \\?\ form take '/' for '\', resolve "." and "..", lose the
// trailing dots and spaces of their last part, are relative to the process's current folder
// unless absolute, and are limited to MAX_PATH (260) characters with their terminator; names in
// the \\?\ form are handed to the system as written.
#pragma once

#include <win/types.h>

namespace win {

constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFFu;

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD GENERIC_EXECUTE = 0x20000000u;
constexpr DWORD GENERIC_ALL = 0x10000000u;
constexpr DWORD FILE_READ_DATA = 0x1;
constexpr DWORD FILE_WRITE_DATA = 0x2;
constexpr DWORD FILE_READ_ATTRIBUTES = 0x80;
constexpr DWORD DELETE = 0x10000;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD FILE_SHARE_DELETE = 0x4;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x400;
constexpr DWORD FILE_FLAG_BACKUP_SEMANTICS = 0x02000000u;
constexpr DWORD FILE_FLAG_DELETE_ON_CLOSE = 0x04000000u;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;

constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;

// Opens a file, or a folder with FILE_FLAG_BACKUP_SEMANTICS. The last error is 0 on success,
// or ERROR_ALREADY_EXISTS when OPEN_ALWAYS or CREATE_ALWAYS found the file.
QORVEX_WIN_API HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD shareMode, void* security,
                                  DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile);
QORVEX_WIN_API DWORD GetFileSize(HANDLE file, DWORD* high);
// A read at the end of a file succeeds with 0 bytes and leaves the last error alone.
QORVEX_WIN_API BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read,
                             void* overlapped);
// INVALID_FILE_ATTRIBUTES on failure: ERROR_FILE_NOT_FOUND for a missing name in a folder that
// exists, ERROR_PATH_NOT_FOUND when a folder on the way is missing, ERROR_INVALID_NAME for a
// name no file system takes.
QORVEX_WIN_API DWORD GetFileAttributesW(LPCWSTR name);
// The root of the volume that holds fileName ("C:\" for anything on drive C: when no folder of
// it is a mount point; "\\server\share\" for a share), with its trailing separator; a buffer
// one character too short for it gets it without that separator. The file need not exist.
// A buffer too short for that fails with ERROR_FILENAME_EXCED_RANGE; an empty name fails with
// the last error 0.
QORVEX_WIN_API BOOL GetVolumePathNameW(LPCWSTR fileName, LPWSTR volumePathName, DWORD bufferLength);

constexpr DWORD ERROR_HANDLE_EOF = 38;
constexpr DWORD ERROR_BUFFER_OVERFLOW = 111;
constexpr DWORD ERROR_OUTOFMEMORY = 14;

// The names of one file (its hard links), each volume-relative with a leading backslash
// (\Dir\File.txt), spelled as stored. A buffer too short fails with ERROR_MORE_DATA and
// *stringLength set to the characters needed, terminator included; the end of the names is
// ERROR_HANDLE_EOF. The handle is closed with FindClose, not CloseHandle.
// Windows before Vista, and Wine, lack both: their calls fail with ERROR_CALL_NOT_IMPLEMENTED.
QORVEX_WIN_API HANDLE FindFirstFileNameW(LPCWSTR fileName, DWORD flags, DWORD* stringLength,
                                         PWSTR linkName);
QORVEX_WIN_API BOOL FindNextFileNameW(HANDLE findStream, DWORD* stringLength, PWSTR linkName);
QORVEX_WIN_API BOOL FindClose(HANDLE findFile);

}  // namespace win
