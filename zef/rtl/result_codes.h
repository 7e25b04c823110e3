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

// The result of a call that failed, from the error it reported: the conversions above, but never
// a success. Windows fails some calls without setting a last error (GetVolumePathNameW of ""
// leaves 0), and the conversions read 0, and the values that carry a success HRESULT (0x10000,
// 0x70005, 0x7FFF0000) or wrap error 0 (HRESULT 0x80070000), as "No error"; such a failure is
// 0x80010100 ("Unspecified platform error") instead. Every site that turns a failed call's last
// error or HRESULT into a result goes through these.
ResultCode FailureFromWin32Error(std::uint32_t error) noexcept;
ResultCode FailureFromLastError() noexcept;
// hr must be a failure (negative) HRESULT.
ResultCode FailureFromHResult(std::int32_t hr) noexcept;

}  // namespace zef
