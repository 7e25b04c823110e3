// The files room: the simulated file system (drives, folders, files) and open files.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/core.h"

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

// Lock held (volumes.cpp). The volume path of a canonical path: the innermost mounted folder or
// the drive root holding it, with its trailing backslash ("D:\Mnt\Vol\", "C:\").
QORVEX_SIM_SHARED std::u16string VolumeRootOf(std::u16string_view canonical);
QORVEX_SIM_SHARED void MountVolume(std::u16string_view folder);
QORVEX_SIM_SHARED void LinkNames(const std::vector<std::u16string>& names);

}  // namespace winsim::files
