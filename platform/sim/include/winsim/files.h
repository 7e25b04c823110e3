// The simulated file system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <winsim/scoped.h>

namespace winsim {

// Creates or replaces a file (its folders come into being with it). Replacing keeps the file's
// identity: handles already open read the new contents, as handles on Windows see a file that
// another writer changed. PutFile, PutSparseFile and PutDirectory throw std::invalid_argument
// for a path that is not absolute with a drive letter.
void PutFile(std::u16string_view path, std::vector<std::uint8_t> bytes);
// A file whose size is `size` but whose stored bytes are only `bytes`; the rest reads as zeros.
// For files larger than anything worth allocating (sizes of 4 GiB and more included).
void PutSparseFile(std::u16string_view path, std::vector<std::uint8_t> bytes, std::uint64_t size);
// A file that shows a file of the host: its size is the host file's when put, and every read
// reads the host file there (a host file that became shorter reads as zeros past its end, a
// host read error fails ReadFile with ERROR_READ_FAULT). Large logs are so read once, straight
// into the reader's buffer. Returns an empty string, or why the host file cannot be opened
// (nothing changes then); throws like PutFile for a path that is not absolute.
std::string PutHostFile(std::u16string_view path, const std::string& hostPath);
// Creates an (empty) folder and its parents.
void PutDirectory(std::u16string_view path);
// Returns whether the file existed. Handles already open keep reading the removed file.
bool RemoveFile(std::u16string_view path);
bool FileExists(std::u16string_view path);
bool DirectoryExists(std::u16string_view path);
// The process's current folder, against which relative names (x, \x, C:x) resolve. The default
// machine's is C:\Windows\System32. Setting it makes the folder come into being; it throws
// std::invalid_argument for a path that is not absolute with a drive letter.
std::u16string GetCurrentDirectory();
void SetCurrentDirectory(std::u16string_view path);

// Another current folder for a scope; the previous one is back at its end.
class ScopedCurrentDirectory : public ScopedOverride<std::u16string> {
public:
    explicit ScopedCurrentDirectory(std::u16string_view path)
        : ScopedOverride(&GetCurrentDirectory, &SetCurrentDirectory, std::u16string(path)) {}
};

// Number of handles (CreateFileW's and every other call's) not closed yet.
std::size_t OpenHandleCount();
// Critical sections the calling thread has entered and not yet left.
std::size_t OwnedCriticalSections();

// Makes a folder the mount point of a further volume (every drive root already is one):
// GetVolumePathNameW answers it, with a trailing backslash, for every path inside it. The folder
// comes into being. Throws std::invalid_argument for a path that is not absolute.
void MountVolume(std::u16string_view folder);
// Gives one file all of `names`, in the order FindFirstFileNameW / FindNextFileNameW report
// them. The file keeps its contents under the first name (created empty when missing); every
// further name shows the same file. Throws std::invalid_argument for fewer than one name, a
// path that is not absolute, a name already linked, or names on different volumes.
void LinkNames(const std::vector<std::u16string>& names);

}  // namespace winsim
