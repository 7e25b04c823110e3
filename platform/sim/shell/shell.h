// The shell room: the Windows folder, the known folders and the COM task memory that
// SHGetKnownFolderPath hands out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <win/shell.h>

#include "core/core.h"

namespace winsim::shell {

// Lock held. An empty path removes the folder.
QORVEX_SIM_SHARED void SetKnownFolder(const win::GUID& id, std::u16string_view path);
// The Windows directory and FOLDERID_Windows together; the folder comes into being.
QORVEX_SIM_SHARED void SetWindowsDirectory(std::u16string_view path);
QORVEX_SIM_SHARED std::u16string WindowsDirectory();

struct TaskMemoryCounters {
    std::uint64_t liveBlocks = 0;
    std::uint64_t invalidFrees = 0;
};
QORVEX_SIM_SHARED TaskMemoryCounters GetTaskMemoryCounters();

}  // namespace winsim::shell
