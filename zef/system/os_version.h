// What the running Windows is: its version record, the product type of its edition, and the
// summary the components decide by (OsInfo).
//
// Threading: every function may be called from any thread. The answers are read once per
// process, on first use and without a lock: threads that arrive together may each read the
// system, and the first to publish its answer wins; every caller then sees that one answer for
// the rest of the process, failures included.
#pragma once

#include <win/system_info.h>

#include <cstdint>

#include "zef/result_code.h"

namespace zef::system {

// The system's version record (RtlGetVersion from ntdll). 0 with *record set to the
// process-wide record, which stays valid and unchanged for the life of the process; otherwise
// the failure, and *record is left alone. A failure is kept: it is answered again on every
// later call without another attempt.
ResultCode OsVersionInfo(const win::RTL_OSVERSIONINFOEXW** record) noexcept;

// The product type of the running edition (GetProductInfo from kernel32) for the given
// version record: 0 with *productType set, or the failure (0x8000004B when the call refuses).
ResultCode GetProductType(const win::RTL_OSVERSIONINFOEXW& version,
                          std::uint32_t* productType) noexcept;

// The processor architecture as the components sort it.
enum class ArchitectureClass : std::uint32_t {
    kX86 = 0,
    kAmd64 = 1,
    kIa64 = 2,
    kOther = 3,
};

// The summary of the running system, built once per process.
struct OsInfoRecord {
    std::uint32_t majorVersion;
    std::uint32_t minorVersion;
    std::uint32_t buildNumber;
    std::uint32_t servicePackMajor;
    std::uint32_t architectureClass;  // an ArchitectureClass value
    std::uint32_t isServer;           // 1 unless the product type is VER_NT_WORKSTATION
    std::uint32_t productType;        // GetProductType's answer, 0 when it could not be had
};

// 0 with *record set to the process-wide record (valid for the life of the process), or the
// failure of OsVersionInfo. The native processor architecture comes from GetNativeSystemInfo,
// or GetSystemInfo where kernel32 lacks it.
ResultCode OsInfo(const OsInfoRecord** record) noexcept;

}  // namespace zef::system
