// Controls of the shell room.
#include <winsim/shell.h>

#include "shell/shell.h"

namespace winsim {

using core::Lock;
using core::MachineLock;

void SetKnownFolder(const win::GUID& id, std::u16string_view path) {
    Lock lock(MachineLock());
    shell::SetKnownFolder(id, path);
}

void SetWindowsDirectory(std::u16string_view path) {
    Lock lock(MachineLock());
    shell::SetWindowsDirectory(path);
}

std::u16string GetWindowsDirectory() {
    Lock lock(MachineLock());
    return shell::WindowsDirectory();
}

}  // namespace winsim
