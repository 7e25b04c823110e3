// Looking up the system functions that not every Windows (or Wine) exports.
#pragma once

#include <win/system_info.h>

#include "zef/result_code.h"

namespace zef::system::detail {

// GetModuleHandleW(moduleName) and GetProcAddress(module, functionName). Always-loaded modules
// only, so the module handle is not released. On failure returns FailureFromLastError() and
// leaves *function null.
ResultCode LookUpFunction(const char16_t* moduleName, const char* functionName,
                          win::FARPROC* function) noexcept;

}  // namespace zef::system::detail
