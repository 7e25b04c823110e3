// The measured-boot log provider's interfaces.
//
// ITcgLogProvider (class 0xfcbf1089, iid 0x0d736b7d) reads the TCG event logs that Windows
// archived for the current boot and returns an IRawTcgLog (iid 0xdacc1a00) holding the file
// paths of their file-path events and the last PCR 4 and PCR 8 compact-hash digests.
//
// Threading: any thread; an IRawTcgLog is read-only once returned.
#pragma once

#include <cstdint>

#include "zef/object.h"
#include "zef/string.h"
#include "zef/vector.h"

namespace qorvex {

constexpr zef::InterfaceId kIidTcgLogProvider = 0x0d736b7du;
constexpr zef::InterfaceId kIidRawTcgLog = 0xdacc1a00u;
constexpr std::size_t kCompactHashSize = 20;

class IRawTcgLog : public zef::IObject {
public:
    // Empties paths and copies every module path into it (0), or 0x8000004c ("Not found")
    // with paths untouched when the logs held none.
    virtual zef::ResultCode GetModulePaths(zef::vector<zef::wstring_t>& paths) = 0;
    // Copies the 20-byte digest of the last PCR 4 (PCR 8) EV_COMPACT_HASH event (0), or
    // 0x8000004c with the buffer untouched when there was none.
    virtual zef::ResultCode GetPcr4CompactHash(std::uint8_t* digest) = 0;
    virtual zef::ResultCode GetPcr8CompactHash(std::uint8_t* digest) = 0;

protected:
    virtual ~IRawTcgLog() = default;
};

class ITcgLogProvider : public zef::IObject {
public:
    // On success (0) *log holds one reference for the caller; on failure *log is not written.
    virtual zef::ResultCode GetRawTcgLog(IRawTcgLog** log) = 0;

protected:
    ~ITcgLogProvider() = default;
};

}  // namespace qorvex
