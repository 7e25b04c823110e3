#include "zef/rtl/result_codes.h"

#include <cstddef>

namespace zef {
namespace {

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

template <std::size_t N>
const char16_t* Lookup(const CodeText (&table)[N], ResultCode code, const char16_t* fallback) {
    const auto value = static_cast<std::uint32_t>(code);
    for (const CodeText& entry : table) {
        if (entry.code == value) return entry.text;
    }
    return fallback;
}

bool IsPlatformFamily(ResultCode code) {
    return (static_cast<std::uint32_t>(code) & 0x7FFF0000u) == 0x00010000u;
}

}  // namespace

const char16_t* GetFrameworkResultCodeMessage(ResultCode code) noexcept {
    return Lookup(kFrameworkTexts, code, u"Unknown result code");
}

const char16_t* GetPlatformResultCodeMessage(ResultCode code) noexcept {
    return Lookup(kPlatformTexts, code, u"Unknown platform result code");
}

wstring_t GetResultCodeMessage(ResultCode code) {
    return wstring_t(IsPlatformFamily(code) ? GetPlatformResultCodeMessage(code)
                                            : GetFrameworkResultCodeMessage(code));
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

}  // namespace zef
