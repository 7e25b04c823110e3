// Looking up the system functions that not every Windows (or Wine) exports, and turning a
// thread's last error into a failure code.
#pragma once

#include <win/system_info.h>

#include "zef/result_code.h"

namespace zef::system::detail {

// The failure that the thread's last error stands for. A last error of 0 after a failed call
// still is a failure: it gives 0x80010100 (unspecified platform error) rather than success.
ResultCode FailureFromLastError() noexcept;
ResultCode FailureFromWin32Error(win::DWORD error) noexcept;

// GetModuleHandleW(moduleName) and GetProcAddress(module, functionName). Always-loaded modules
// only, so the module handle is not released. On failure returns FailureFromLastError() and
// leaves *function null.
ResultCode LookUpFunction(const char16_t* moduleName, const char* functionName,
                          win::FARPROC* function) noexcept;

}  // namespace zef::system::detail
