// The files room's reparse points, behind GetFileAttributesW.
#pragma once

#include <string_view>

#include "core/core.h"

namespace winsim::files {

// Lock held. Throws std::invalid_argument for a path that is not absolute with a drive letter.
QORVEX_SIM_SHARED void SetReparsePoint(std::u16string_view path, bool reparsePoint);
QORVEX_SIM_SHARED bool IsReparsePoint(std::u16string_view path);

}  // namespace winsim::files
