// The files room: the simulated file system (drives, folders, files), the process's current
// folder, open files, and how a file call's name leads to a place in it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/core.h"
#include "core/paths.h"

namespace winsim::files {

// Lock held. Throws std::invalid_argument for a path that is not absolute with a drive letter.
QORVEX_SIM_SHARED void PutFile(std::u16string_view path, std::vector<std::uint8_t> bytes,
                               std::uint64_t size);
// Lock held. A file whose contents are those of a file of the host, read at each ReadFile; an
// empty string, or why the host file cannot be used (it stays unchanged then). Throws like
// PutFile for a path that is not absolute.
QORVEX_SIM_SHARED std::string PutHostFile(std::u16string_view path, const std::string& hostPath);
QORVEX_SIM_SHARED void PutDirectory(std::u16string_view path);
QORVEX_SIM_SHARED bool RemoveFile(std::u16string_view path);
QORVEX_SIM_SHARED bool FileExists(std::u16string_view path);
QORVEX_SIM_SHARED bool DirectoryExists(std::u16string_view path);
// Gives the file at `existing` the further name `name` (a hard link): both show one file.
// Throws std::invalid_argument when `existing` is no file or `name` already names something.
QORVEX_SIM_SHARED void AddFileName(std::u16string_view existing, std::u16string_view name);
// A canonical path spelled as the file system stores its folders and file: each part in the
// case it was created with. A path that names nothing keeps its own spelling.
QORVEX_SIM_SHARED std::u16string StoredSpelling(std::u16string_view canonical);

// Lock held. The process's current folder (canonical); setting it makes the folder come into
// being. Throws std::invalid_argument for a path that is not absolute.
QORVEX_SIM_SHARED std::u16string CurrentDirectory();
QORVEX_SIM_SHARED void SetCurrentDirectory(std::u16string_view path);

// Lock held. What a file call's name leads to once Windows' path rules have read it: either
// the error the call fails with before it reaches a file (an empty or too long name, a
// malformed one, a network path, a device, a missing drive or folder on the way), or the place
// it names, which may not exist yet. The name must not be null.
struct Place {
    win::DWORD error = 0;
    core::Win32Name name;
    std::u16string canonical;  // "X:\a\b" as written (no trailing separator)
    bool exists = false;
    bool directory = false;
    bool trailingSeparator = false;  // the name ended with a separator
};
Place FindPlace(const char16_t* name);

// The one length rule of every call that takes a path: a name of 32,767 characters or more
// fits no counted string of the system, and a name not in the \\?\ form is limited to
// MAX_PATH (260) characters with its terminator, as written and as a full path. Windows without
// long-path support refuses both as a path it cannot find.
win::DWORD PathLengthError(std::u16string_view text, const core::Win32Name& name);
inline constexpr std::size_t kLongestName = 32767;

// Lock held (volumes.cpp). The volume path of a canonical path: the innermost mounted folder or
// the drive root holding it, with its trailing backslash ("D:\Mnt\Vol\", "C:\").
QORVEX_SIM_SHARED std::u16string VolumeRootOf(std::u16string_view canonical);
QORVEX_SIM_SHARED bool IsMountFolder(std::u16string_view canonical);
QORVEX_SIM_SHARED void MountVolume(std::u16string_view folder);
QORVEX_SIM_SHARED void LinkNames(const std::vector<std::u16string>& names);

}  // namespace winsim::files
