// Controls of the files room's reparse points.
#include <winsim/file_attributes.h>

#include "files/file_attributes.h"
#include "files/files.h"

namespace winsim {

void SetReparsePoint(std::u16string_view path, bool reparsePoint) {
    core::Lock lock(core::MachineLock());
    files::SetReparsePoint(path, reparsePoint);
}

bool IsReparsePoint(std::u16string_view path) {
    core::Lock lock(core::MachineLock());
    return files::IsReparsePoint(path);
}

}  // namespace winsim
