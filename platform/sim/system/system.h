// The system room: the version record, the architecture and Wow64 (with each thread's file
// system redirection), the loaded modules and their exports, and the process environment.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/core.h"

namespace winsim::system {

// The room's slices; the controls (winsim/system.h) hand out copies with the same members.
struct OsVersion {
    std::uint32_t major = 10;
    std::uint32_t minor = 0;
    std::uint32_t build = 19045;
    std::uint16_t servicePackMajor = 0;
    std::uint16_t servicePackMinor = 0;
    std::uint8_t productType = 1;
    std::uint32_t edition = 0x30;
    std::uint16_t architecture = 9;
    bool wow64 = false;
};

struct EnvironmentVariable {
    std::u16string name;
    std::u16string value;
    bool followsWindowsDirectory = false;
};
using Environment = std::vector<EnvironmentVariable>;

struct MissingExports {
    std::vector<std::u16string> modules;
    std::vector<std::pair<std::u16string, std::string>> functions;
};

// Lock held.
QORVEX_SIM_SHARED OsVersion Os();
QORVEX_SIM_SHARED void SetOs(const OsVersion& os);
QORVEX_SIM_SHARED Environment CurrentEnvironment();
QORVEX_SIM_SHARED void SetEnvironment(Environment environment);
QORVEX_SIM_SHARED std::optional<std::u16string> Variable(std::u16string_view name);
QORVEX_SIM_SHARED void SetVariable(std::u16string_view name,
                                   std::optional<std::u16string_view> value);
QORVEX_SIM_SHARED MissingExports Missing();
QORVEX_SIM_SHARED void SetMissing(MissingExports missing);
QORVEX_SIM_SHARED bool RedirectionDisabled();
// The text with each %NAME% of a defined variable replaced, as ExpandEnvironmentStringsW does.
QORVEX_SIM_SHARED std::u16string ExpandEnvironment(std::u16string_view text);

// "kernel32" -> "kernel32.dll", folded; the module name of a path.
QORVEX_SIM_SHARED std::u16string ModuleKey(std::u16string_view name);

}  // namespace winsim::system
