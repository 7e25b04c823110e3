#include "zef/rtl/result_codes.h"

#include <win/kernel.h>

#include "zef/result_code_texts.h"

#include <cstddef>

namespace zef {
namespace {

// Win32 errors with a framework or platform equivalent. Error 393 maps to a platform code that
// has no text of its own; callers rely on the code, so it stays.
constexpr struct {
    std::uint32_t error;
    std::uint32_t code;
} kWin32Codes[] = {
    {0, 0x00000000u},    {1, 0x80000042u},    {2, 0x80010102u},     {3, 0x80010103u},
    {5, 0x80000045u},    {6, 0x80010101u},    {8, 0x80000041u},     {21, 0x80000063u},
    {24, 0x8000005Cu},   {31, 0x8000004Bu},   {32, 0x80010104u},    {33, 0x80010104u},
    {50, 0x80000042u},   {53, 0x80010103u},   {80, 0x80010105u},    {87, 0x80000046u},
    {111, 0x80000044u},  {112, 0x80000062u},  {122, 0x80000044u},   {123, 0x80010109u},
    {126, 0x80010112u},  {127, 0x80010107u},  {160, 0x80000046u},   {183, 0x80010105u},
    {234, 0x80000044u},  {267, 0x80010103u},  {393, 0x80010114u},   {637, 0x80010113u},
    {995, 0x80000051u},  {1168, 0x8000004Cu}, {1347, 0x80010110u},  {1413, 0x8000005Eu},
    {1450, 0x8000006Cu}, {1460, 0x80000221u}, {14001, 0x80010108u},
};

}  // namespace

const char16_t* GetFrameworkResultCodeMessage(ResultCode code) noexcept {
    return result_code_texts::Framework(code);
}

const char16_t* GetPlatformResultCodeMessage(ResultCode code) noexcept {
    return result_code_texts::Platform(code);
}

wstring_t GetResultCodeMessage(ResultCode code) {
    return wstring_t(result_code_texts::Any(code));
}

ResultCode ResultCodeFromWin32Error(std::uint32_t error) noexcept {
    for (const auto& entry : kWin32Codes) {
        if (entry.error == error) return static_cast<ResultCode>(entry.code);
    }
    // Callers sometimes hand an HRESULT to the Win32 path (a value from a COM call stored as a
    // "last error"); such a value has high bits that no Win32 error uses.
    if ((error & 0xFFFF0000u) != 0) return ResultCodeFromHResult(static_cast<std::int32_t>(error));
    return static_cast<ResultCode>(0x80070000u | error);
}

ResultCode ResultCodeFromHResult(std::int32_t hr) noexcept {
    if (hr >= 0) return rc::kOk;
    const auto value = static_cast<std::uint32_t>(hr);
    if ((value & 0x0FFF0000u) == 0x00070000u) return ResultCodeFromWin32Error(value & 0xFFFFu);
    return rc::kUnspecifiedPlatformError;
}

ResultCode FailureFromWin32Error(std::uint32_t error) noexcept {
    const ResultCode code = ResultCodeFromWin32Error(error);
    return Failed(code) ? code : rc::kUnspecifiedPlatformError;
}

ResultCode FailureFromLastError() noexcept {
    return FailureFromWin32Error(win::GetLastError());
}

ResultCode FailureFromHResult(std::int32_t hr) noexcept {
    const ResultCode code = ResultCodeFromHResult(hr);
    return Failed(code) ? code : rc::kUnspecifiedPlatformError;
}

}  // namespace zef
