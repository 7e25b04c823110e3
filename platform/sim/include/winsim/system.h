// The simulated system information, loaded modules and environment: the version record and
// edition, the native architecture and Wow64, which modules and functions GetModuleHandleW and
// GetProcAddress find, and the variables ExpandEnvironmentStringsW expands.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <winsim/scoped.h>

namespace winsim {

// What the machine reports about its Windows. The default is Windows 10.0.19045 with service
// pack 0.0, a workstation (product type 1), edition 0x30 (Professional), x64, not Wow64.
struct OsVersion {
    std::uint32_t major = 10;
    std::uint32_t minor = 0;
    std::uint32_t build = 19045;
    std::uint16_t servicePackMajor = 0;
    std::uint16_t servicePackMinor = 0;
    std::uint8_t productType = 1;    // 1 workstation, 2 domain controller, 3 server
    std::uint32_t edition = 0x30;    // what GetProductInfo answers
    std::uint16_t architecture = 9;  // PROCESSOR_ARCHITECTURE_*: 0 x86, 6 IA64, 9 x64, 12 ARM64
    bool wow64 = false;              // the process is a 32-bit process on a 64-bit system
    bool operator==(const OsVersion&) const = default;
};

OsVersion GetOs();
void SetOs(const OsVersion& os);

// Another Windows for a scope; the previous one is back at its end.
class ScopedOs : public ScopedOverride<OsVersion> {
public:
    explicit ScopedOs(const OsVersion& os) : ScopedOverride(&GetOs, &SetOs, os) {}
};
using ScopedOsVersion = ScopedOs;

// One environment variable. SystemRoot and windir follow the Windows folder by default
// (followsWindowsDirectory) until they are given a value of their own.
struct EnvironmentVariable {
    std::u16string name;
    std::u16string value;
    bool followsWindowsDirectory = false;
    bool operator==(const EnvironmentVariable&) const = default;
};
using Environment = std::vector<EnvironmentVariable>;

// The whole environment (names ignore case). The default: ProgramFiles and ProgramW6432
// "C:\Program Files", SystemRoot and windir the Windows folder.
Environment GetEnvironment();
void SetEnvironment(Environment environment);
// The value ExpandEnvironmentStringsW would use, or nullopt for an undefined variable.
std::optional<std::u16string> GetEnvironmentVariable(std::u16string_view name);
// Sets a variable, or removes it for nullopt.
void SetEnvironmentVariable(std::u16string_view name, std::optional<std::u16string_view> value);

// One variable for a scope (nullopt: undefined); the whole previous environment is back at its
// end.
class ScopedEnvironment : public ScopedOverride<Environment> {
public:
    ScopedEnvironment(std::u16string_view name, std::optional<std::u16string_view> value)
        : ScopedOverride(&GetEnvironment, &SetEnvironment, With(name, value)) {}

private:
    static Environment With(std::u16string_view name, std::optional<std::u16string_view> value);
};

// The modules GetModuleHandleW knows are ntdll.dll and kernel32.dll (also as "kernel32");
// GetProcAddress hands out the simulated functions. A missing module is not found, and neither
// is a missing function of a module that is there (ERROR_MOD_NOT_FOUND, ERROR_PROC_NOT_FOUND).
struct MissingExports {
    std::vector<std::u16string> modules;  // "ntdll.dll"
    std::vector<std::pair<std::u16string, std::string>>
        functions;  // {"kernel32.dll", "IsWow64Process"}
    bool operator==(const MissingExports&) const = default;
};
MissingExports GetMissingExports();
void SetMissingExports(MissingExports missing);

// A module (by name, "kernel32" means "kernel32.dll") missing for a scope.
class ScopedMissingModule : public ScopedOverride<MissingExports> {
public:
    explicit ScopedMissingModule(std::u16string_view module)
        : ScopedOverride(&GetMissingExports, &SetMissingExports, WithModule(module)) {}

private:
    static MissingExports WithModule(std::u16string_view module);
};

// A function of a module missing for a scope.
class ScopedMissingFunction : public ScopedOverride<MissingExports> {
public:
    ScopedMissingFunction(std::u16string_view module, std::string_view function)
        : ScopedOverride(&GetMissingExports, &SetMissingExports, WithFunction(module, function)) {}

private:
    static MissingExports WithFunction(std::u16string_view module, std::string_view function);
};

// Whether Wow64 file system redirection is off on the calling thread.
bool ThreadRedirectionDisabled();

}  // namespace winsim
