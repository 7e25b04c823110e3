// Result code texts and the conversions from Win32 errors and HRESULTs.
#pragma once

#include <cstdint>

#include "zef/result_code.h"
#include "zef/string.h"

namespace zef {

// Static texts from the framework table (family 0 and anything not family 1) and the platform
// table (code & 0x7FFF0000 == 0x00010000). Never fail.
const char16_t* GetFrameworkResultCodeMessage(ResultCode code) noexcept;
const char16_t* GetPlatformResultCodeMessage(ResultCode code) noexcept;
// The text of any code as a string on the process heap; only std::bad_alloc can escape.
wstring_t GetResultCodeMessage(ResultCode code);

ResultCode ResultCodeFromWin32Error(std::uint32_t error) noexcept;
ResultCode ResultCodeFromHResult(std::int32_t hr) noexcept;

}  // namespace zef
