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
QORVEX_SIM_SHARED void PutDirectory(std::u16string_view path);
QORVEX_SIM_SHARED bool RemoveFile(std::u16string_view path);
QORVEX_SIM_SHARED bool FileExists(std::u16string_view path);
QORVEX_SIM_SHARED bool DirectoryExists(std::u16string_view path);

}  // namespace winsim::files
