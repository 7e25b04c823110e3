// The texts of result codes, as constant tables a host can compile against without linking
// module code: the framework table (family 0 and every code outside family 1) and the platform
// table (code & 0x7FFF0000 == 0x00010000, whatever bit 31 holds). A code is matched on its exact
// 32-bit value; a code without an entry reads as its table's default text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zef/result_code.h"

namespace zef::result_code_texts {

struct CodeText {
    std::uint32_t code;
    const char16_t* text;
};

// Texts are matched on the exact 32-bit value; neighbouring codes without an entry read as the
// table's default text.
constexpr CodeText kFrameworkTexts[] = {
    {0x00000000u, u"No error"},
    {0x00000001u, u"False"},
    {0x80000001u, u"Interface not supported"},
    {0x80000040u, u"Unexpected"},
    {0x80000041u, u"Out of memory"},
    {0x80000042u, u"Not supported"},
    {0x80000043u, u"Not implemented"},
    {0x80000044u, u"Buffer too small"},
    {0x80000045u, u"Access denied"},
    {0x80000046u, u"Invalid argument"},
    {0x8000004Au, u"Not matched"},
    {0x8000004Bu, u"Unspecified error"},
    {0x8000004Cu, u"Not found"},
    {0x8000004Du, u"Found"},
    {0x8000004Fu, u"Locked"},
    {0x80000050u, u"Not locked"},
    {0x80000051u, u"Operation cancelled"},
    {0x80000057u, u"Method not found"},
    {0x80000058u, u"Stack is empty"},
    {0x80000059u, u"Media error"},
    {0x8000005Au, u"Invalid signature"},
    {0x8000005Bu, u"Invalid version"},
    {0x8000005Cu, u"Invalid size"},
    {0x8000005Du, u"Invalid type"},
    {0x8000005Eu, u"Invalid index"},
    {0x80000062u, u"Out of space"},
    {0x80000063u, u"Not ready"},
    {0x80000064u, u"Less than"},
    {0x80000065u, u"More than"},
    {0x80000066u, u"Prohibited"},
    {0x80000067u, u"Already done"},
    {0x80000068u, u"Need reboot"},
    {0x80000069u, u"Bases corrupted"},
    {0x8000006Au, u"Invalid state"},
    {0x8000006Bu, u"Not initialized"},
    {0x8000006Cu, u"Insufficient resources"},
    {0x80000071u, u"Invalid result"},
    {0x80000072u, u"Unknown exception"},
    {0x80000076u, u"Meta information not found"},
    {0x80000100u, u"Class not found"},
    {0x80000180u, u"Property not found"},
    {0x80000221u, u"Operation timeout"},
};

constexpr CodeText kPlatformTexts[] = {
    {0x80010100u, u"Unspecified platform error"},
    {0x80010101u, u"Invalid handle"},
    {0x80010102u, u"File not found"},
    {0x80010103u, u"Path not found"},
    {0x80010104u, u"Sharing violation"},
    {0x80010105u, u"Already exists"},
    {0x80010106u, u"Wait abandoned"},
    {0x80010107u, u"Symbol not found"},
    {0x80010108u, u"Sxs is incorrect"},
    {0x80010109u, u"Invalid path name"},
    {0x80010110u, u"Cannot open an anonymous level security token"},
    {0x80010111u, u"Password is invalid"},
    {0x80010112u, u"Module not found"},
    {0x80010113u, u"System image bad signature"},
};

template <std::size_t N>
constexpr const char16_t* Lookup(const CodeText (&table)[N], ResultCode code,
                                 const char16_t* fallback) noexcept {
    const auto value = static_cast<std::uint32_t>(code);
    for (const CodeText& entry : table) {
        if (entry.code == value) return entry.text;
    }
    return fallback;
}

constexpr bool IsPlatformFamily(ResultCode code) noexcept {
    return (static_cast<std::uint32_t>(code) & 0x7FFF0000u) == 0x00010000u;
}

constexpr const char16_t* Framework(ResultCode code) noexcept {
    return Lookup(kFrameworkTexts, code, u"Unknown result code");
}

constexpr const char16_t* Platform(ResultCode code) noexcept {
    return Lookup(kPlatformTexts, code, u"Unknown platform result code");
}

// The text of any code: the platform table for family 1, the framework table otherwise.
constexpr const char16_t* Any(ResultCode code) noexcept {
    return IsPlatformFamily(code) ? Platform(code) : Framework(code);
}

}  // namespace zef::result_code_texts
