// ResultCode: the signed 32-bit result of every operation that crosses a zef interface.
// 0 is success, 1 is success with the answer "no", negative values are failures.
#pragma once

#include <cstdint>

namespace zef {

using ResultCode = std::int32_t;

namespace rc {
constexpr ResultCode kOk = 0;
constexpr ResultCode kFalse = 1;
constexpr ResultCode kNoInterface = static_cast<ResultCode>(0x80000001u);
constexpr ResultCode kUnexpected = static_cast<ResultCode>(0x80000040u);
constexpr ResultCode kOutOfMemory = static_cast<ResultCode>(0x80000041u);
constexpr ResultCode kNotSupported = static_cast<ResultCode>(0x80000042u);
constexpr ResultCode kNotImplemented = static_cast<ResultCode>(0x80000043u);
constexpr ResultCode kBufferTooSmall = static_cast<ResultCode>(0x80000044u);
constexpr ResultCode kAccessDenied = static_cast<ResultCode>(0x80000045u);
constexpr ResultCode kInvalidArgument = static_cast<ResultCode>(0x80000046u);
constexpr ResultCode kNotFound = static_cast<ResultCode>(0x8000004Cu);
constexpr ResultCode kUnknownException = static_cast<ResultCode>(0x80000072u);
constexpr ResultCode kRequireViolation = static_cast<ResultCode>(0x80000073u);
constexpr ResultCode kInvariantViolation = static_cast<ResultCode>(0x80000074u);
constexpr ResultCode kEnsureViolation = static_cast<ResultCode>(0x80000075u);
constexpr ResultCode kUnspecifiedPlatformError = static_cast<ResultCode>(0x80010100u);
}  // namespace rc

constexpr bool Succeeded(ResultCode code) {
    return code >= 0;
}
constexpr bool Failed(ResultCode code) {
    return code < 0;
}

}  // namespace zef
