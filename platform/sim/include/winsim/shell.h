// The simulated shell: the Windows folder and the known folders.
#pragma once

#include <string>
#include <string_view>

#include <win/types.h>

namespace winsim {

// An empty path removes the folder (SHGetKnownFolderPath then fails with 0x80070002).
void SetKnownFolder(const win::GUID& id, std::u16string_view path);
// Sets the Windows directory and FOLDERID_Windows together; the folder comes into being.
void SetWindowsDirectory(std::u16string_view path);
std::u16string GetWindowsDirectory();

}  // namespace winsim
