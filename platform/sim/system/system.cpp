// The system room: what the simulated Windows says about itself (RtlGetVersion, GetProductInfo,
// the system info pair, Wow64 and its per-thread redirection), the modules and exports that
// GetModuleHandleW and GetProcAddress find, the environment behind ExpandEnvironmentStringsW and
// the Windows folder of GetSystemWindowsDirectoryW; and the "os" and "environment" members of
// machine.json.
#include "system/system.h"

#include <algorithm>
#include <cstring>

#include <utf/codec.h>
#include <win/files.h>
#include <win/kernel.h>
#include <win/security.h>
#include <win/system_info.h>

#include "core/json.h"
#include "core/paths.h"
#include "shell/shell.h"

namespace {

using namespace winsim::core;
using winsim::detail::json::Value;
using winsim::system::Environment;
using winsim::system::EnvironmentVariable;
using winsim::system::MissingExports;
using winsim::system::OsVersion;

constexpr std::u16string_view kProgramFiles = u"C:\\Program Files";

struct SystemState {
    OsVersion os;
    Environment environment;
    MissingExports missing;
};

SystemState& State() {
    static auto* state = new SystemState;
    return *state;
}

Environment DefaultEnvironment() {
    return {
        {u"ProgramFiles", std::u16string(kProgramFiles), false},
        {u"ProgramW6432", std::u16string(kProgramFiles), false},
        {u"SystemRoot", u"", true},
        {u"windir", u"", true},
    };
}

void ResetSystem() {
    State() = SystemState{OsVersion{}, DefaultEnvironment(), MissingExports{}};
}

// After the shell room, whose Windows folder SystemRoot follows.
QORVEX_SIM_ROOM(system, 2, ResetSystem);

struct ThreadSystemState {
    bool redirectionDisabled = false;
};

ThreadSystemState FreshThread() {
    return {};
}

thread_local PerThread<ThreadSystemState> t_thread(&FreshThread);

// ---- Modules and exports -----------------------------------------------------------------

// Module handles are the modules' load addresses; these are where 64-bit Windows 10 tends to
// put them, which keeps journal entries readable.
const auto kNtdll = reinterpret_cast<win::HMODULE>(std::uintptr_t{0x7FFB10000000});
const auto kKernel32 = reinterpret_cast<win::HMODULE>(std::uintptr_t{0x7FFB0F000000});
const auto kProcessModule = reinterpret_cast<win::HMODULE>(std::uintptr_t{0x140000000});

template <class F>
win::FARPROC AsProc(F* function) {
    return reinterpret_cast<win::FARPROC>(reinterpret_cast<void (*)()>(function));
}

struct Export {
    const char* name;
    win::FARPROC function;
};

struct Module {
    std::u16string_view key;  // folded file name
    win::HMODULE handle;
    std::vector<Export> exports;
};

const std::vector<Module>& Modules() {
    static const auto* modules = new std::vector<Module>{
        {u"ntdll.dll", kNtdll, {{"RtlGetVersion", AsProc(&win::RtlGetVersion)}}},
        {u"kernel32.dll",
         kKernel32,
         {
             {"CloseHandle", AsProc(&win::CloseHandle)},
             {"ExpandEnvironmentStringsW", AsProc(&win::ExpandEnvironmentStringsW)},
             {"GetCurrentProcess", AsProc(&win::GetCurrentProcess)},
             {"GetCurrentThread", AsProc(&win::GetCurrentThread)},
             {"GetFileAttributesW", AsProc(&win::GetFileAttributesW)},
             {"GetModuleHandleW", AsProc(&win::GetModuleHandleW)},
             {"GetNativeSystemInfo", AsProc(&win::GetNativeSystemInfo)},
             {"GetProcAddress", AsProc(&win::GetProcAddress)},
             {"GetProductInfo", AsProc(&win::GetProductInfo)},
             {"GetSystemInfo", AsProc(&win::GetSystemInfo)},
             {"GetSystemWindowsDirectoryW", AsProc(&win::GetSystemWindowsDirectoryW)},
             {"IsWow64Process", AsProc(&win::IsWow64Process)},
             {"Wow64DisableWow64FsRedirection", AsProc(&win::Wow64DisableWow64FsRedirection)},
             {"Wow64RevertWow64FsRedirection", AsProc(&win::Wow64RevertWow64FsRedirection)},
         }},
    };
    return *modules;
}

bool ModuleMissing(std::u16string_view key) {
    const auto& missing = State().missing.modules;
    return std::any_of(missing.begin(), missing.end(), [&](const std::u16string& m) {
        return winsim::system::ModuleKey(m) == key;
    });
}

bool FunctionMissing(std::u16string_view key, std::string_view function) {
    const auto& missing = State().missing.functions;
    return std::any_of(missing.begin(), missing.end(), [&](const auto& m) {
        return winsim::system::ModuleKey(m.first) == key && m.second == function;
    });
}

const Module* FindModule(win::HMODULE handle) {
    for (const Module& module : Modules())
        if (module.handle == handle && !ModuleMissing(module.key)) return &module;
    return nullptr;
}

// ---- Version and architecture ------------------------------------------------------------

void FillSystemInfo(win::SYSTEM_INFO* info, win::WORD architecture) {
    std::memset(info, 0, sizeof *info);
    info->wProcessorArchitecture = architecture;
    info->dwPageSize = 4096;
    info->dwAllocationGranularity = 65536;
    info->lpMinimumApplicationAddress = reinterpret_cast<void*>(std::uintptr_t{0x10000});
    const bool wide = architecture != win::PROCESSOR_ARCHITECTURE_INTEL &&
                      architecture != win::PROCESSOR_ARCHITECTURE_ARM;
    info->lpMaximumApplicationAddress =
        reinterpret_cast<void*>(wide ? std::uintptr_t{0x7FFFFFFEFFFF} : std::uintptr_t{0x7FFEFFFF});
    info->dwNumberOfProcessors = 4;
    info->dwActiveProcessorMask = 0xF;
    switch (architecture) {
        case win::PROCESSOR_ARCHITECTURE_INTEL:
            info->dwProcessorType = 586;
            break;
        case win::PROCESSOR_ARCHITECTURE_IA64:
            info->dwProcessorType = 2200;
            break;
        case win::PROCESSOR_ARCHITECTURE_AMD64:
            info->dwProcessorType = 8664;
            break;
        default:
            info->dwProcessorType = 0;
            break;
    }
    info->wProcessorLevel = 6;
    info->wProcessorRevision = 0x9E0A;
}

// The journal text of a result, from a function of the result and whether the call failed.
template <class F>
struct ResultTextOf {
    F text;
    std::string operator()() const { return {}; }
    template <class R>
    std::string operator()(const CallDescriptor&, const R& result, bool failed) const {
        return text(result, failed);
    }
};
template <class F>
ResultTextOf(F) -> ResultTextOf<F>;

// ---- Environment -------------------------------------------------------------------------

EnvironmentVariable* FindVariable(Environment& environment, std::u16string_view name) {
    const std::u16string key = Fold(name);
    for (EnvironmentVariable& variable : environment)
        if (Fold(variable.name) == key) return &variable;
    return nullptr;
}

std::u16string ValueOf(const EnvironmentVariable& variable) {
    return variable.followsWindowsDirectory ? winsim::shell::WindowsDirectory() : variable.value;
}

// Each %NAME% of a defined variable becomes its value. An undefined name, an empty one ("%%")
// and a '%' without a partner stay as written; scanning goes on after a reference's closing '%'
// whether or not it was defined, as Windows does.
std::u16string ExpandText(std::u16string_view text) {
    std::u16string out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t open = text.find(u'%', pos);
        if (open == std::u16string_view::npos) break;
        const std::size_t close = text.find(u'%', open + 1);
        if (close == std::u16string_view::npos) break;
        out.append(text.substr(pos, open - pos));
        const std::u16string_view name = text.substr(open + 1, close - open - 1);
        const EnvironmentVariable* variable =
            name.empty() ? nullptr : FindVariable(State().environment, name);
        if (variable != nullptr)
            out += ValueOf(*variable);
        else
            out.append(text.substr(open, close - open + 1));
        pos = close + 1;
    }
    out.append(text.substr(std::min(pos, text.size())));
    return out;
}

// ---- machine.json ------------------------------------------------------------------------

std::uint32_t Number(const Value& value, const Loading& loading, const std::string& what,
                     std::uint32_t max) {
    loading.Expect(value, Value::Kind::Number, what);
    const std::uint32_t number = loading.Dword(value);
    if (number > max)
        loading.Fail(value, what + " must be a whole number from 0 to " + std::to_string(max));
    return number;
}

// "10.0.19045" (major.minor.build) or "0.0" (major.minor) with numbers of up to 9 digits.
std::vector<std::uint32_t> VersionParts(const Value& value, const Loading& loading,
                                        const std::string& what, std::size_t count) {
    loading.Expect(value, Value::Kind::String, what);
    std::vector<std::uint32_t> parts;
    std::size_t pos = 0;
    const std::string& text = value.text;
    while (true) {
        std::size_t end = pos;
        while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
        if (end == pos || end - pos > 9) break;
        parts.push_back(static_cast<std::uint32_t>(std::stoul(text.substr(pos, end - pos))));
        if (end == text.size() || text[end] != '.') {
            pos = end;
            break;
        }
        pos = end + 1;
    }
    if (parts.size() != count || pos != text.size())
        loading.Fail(value, what + (count == 3 ? " must read major.minor.build, like \"10.0.19045\""
                                               : " must read major.minor, like \"0.0\""));
    return parts;
}

void LoadOs(const Value& value, const Loading& loading) {
    loading.Expect(value, Value::Kind::Object, "\"os\"");
    OsVersion os = State().os;
    if (const Value* version = value.Find("version")) {
        const auto parts = VersionParts(*version, loading, "\"os\" \"version\"", 3);
        os.major = parts[0];
        os.minor = parts[1];
        os.build = parts[2];
    }
    if (const Value* servicePack = value.Find("servicePack")) {
        const auto parts = VersionParts(*servicePack, loading, "\"os\" \"servicePack\"", 2);
        if (parts[0] > 0xFFFF || parts[1] > 0xFFFF)
            loading.Fail(*servicePack, "a service pack number must be below 65536");
        os.servicePackMajor = static_cast<std::uint16_t>(parts[0]);
        os.servicePackMinor = static_cast<std::uint16_t>(parts[1]);
    }
    if (const Value* productType = value.Find("productType")) {
        if (productType->kind == Value::Kind::String && productType->text == "workstation")
            os.productType = win::VER_NT_WORKSTATION;
        else if (productType->kind == Value::Kind::String && productType->text == "server")
            os.productType = win::VER_NT_SERVER;
        else if (productType->kind == Value::Kind::Number)
            os.productType =
                static_cast<std::uint8_t>(Number(*productType, loading, "\"productType\"", 255));
        else
            loading.Fail(*productType,
                         "\"productType\" must be \"workstation\", \"server\" or a number");
    }
    if (const Value* edition = value.Find("edition"))
        os.edition = Number(*edition, loading, "\"edition\"", 0xFFFFFFFFu);
    if (const Value* architecture = value.Find("architecture")) {
        static constexpr struct {
            const char* name;
            win::WORD value;
        } kArchitectures[] = {{"x64", win::PROCESSOR_ARCHITECTURE_AMD64},
                              {"x86", win::PROCESSOR_ARCHITECTURE_INTEL},
                              {"arm64", win::PROCESSOR_ARCHITECTURE_ARM64},
                              {"ia64", win::PROCESSOR_ARCHITECTURE_IA64}};
        bool found = false;
        for (const auto& known : kArchitectures) {
            if (architecture->kind == Value::Kind::String && architecture->text == known.name) {
                os.architecture = known.value;
                found = true;
            }
        }
        if (!found)
            loading.Fail(*architecture,
                         "\"architecture\" must be \"x64\", \"x86\", \"arm64\" or \"ia64\"");
    }
    if (const Value* wow64 = value.Find("wow64")) {
        loading.Expect(*wow64, Value::Kind::Bool, "\"wow64\"");
        os.wow64 = wow64->boolean;
    }
    winsim::system::SetOs(os);
}

void LoadEnvironment(const Value& value, const Loading& loading) {
    loading.Expect(value, Value::Kind::Object, "\"environment\"");
    for (const auto& [name, variable] : value.members) {
        if (name.empty() || name.find('=') != std::string::npos ||
            name.find('%') != std::string::npos)
            loading.Fail(variable,
                         "an environment variable name must be non-empty, without '=' or '%'");
        if (variable.kind == Value::Kind::Null) {
            winsim::system::SetVariable(utf::ToUtf16(name), std::nullopt);
            continue;
        }
        loading.Expect(variable, Value::Kind::String, "environment variable \"" + name + "\"");
        winsim::system::SetVariable(utf::ToUtf16(name), utf::ToUtf16(variable.text));
    }
}

// After "windowsDirectory" (phase 0), which SystemRoot follows until it is set here.
QORVEX_SIM_MACHINE_MEMBER("os", 0, LoadOs);
QORVEX_SIM_MACHINE_MEMBER("environment", 1, LoadEnvironment);

std::string StatusText(win::NTSTATUS status) {
    return Hex(static_cast<std::uint32_t>(status));
}

}  // namespace

QORVEX_SIM_CALL(GetModuleHandleW, Channel::LastError, nullptr);
QORVEX_SIM_CALL(GetProcAddress, Channel::LastError, nullptr);
QORVEX_SIM_CALL(GetCurrentProcess, Channel::None, nullptr);
QORVEX_SIM_CALL(RtlGetVersion, Channel::NtStatus, static_cast<NTSTATUS>(error));
QORVEX_SIM_CALL(GetProductInfo, Channel::LastError, FALSE);
QORVEX_SIM_CALL(GetNativeSystemInfo, Channel::None, 0);
QORVEX_SIM_CALL(GetSystemInfo, Channel::None, 0);
QORVEX_SIM_CALL(IsWow64Process, Channel::LastError, FALSE);
QORVEX_SIM_CALL(Wow64DisableWow64FsRedirection, Channel::LastError, FALSE);
QORVEX_SIM_CALL(Wow64RevertWow64FsRedirection, Channel::LastError, FALSE);
QORVEX_SIM_CALL(ExpandEnvironmentStringsW, Channel::LastError, 0);
QORVEX_SIM_CALL(GetSystemWindowsDirectoryW, Channel::LastError, 0);

namespace winsim::system {

OsVersion Os() {
    return State().os;
}

void SetOs(const OsVersion& os) {
    State().os = os;
}

Environment CurrentEnvironment() {
    return State().environment;
}

void SetEnvironment(Environment environment) {
    State().environment = std::move(environment);
}

std::optional<std::u16string> Variable(std::u16string_view name) {
    const EnvironmentVariable* variable = FindVariable(State().environment, name);
    if (variable == nullptr) return std::nullopt;
    return ValueOf(*variable);
}

void SetVariable(std::u16string_view name, std::optional<std::u16string_view> value) {
    Environment& environment = State().environment;
    EnvironmentVariable* variable = FindVariable(environment, name);
    if (!value) {
        if (variable != nullptr)
            std::erase_if(environment, [key = Fold(name)](const EnvironmentVariable& v) {
                return Fold(v.name) == key;
            });
        return;
    }
    if (variable == nullptr) {
        environment.push_back({std::u16string(name), std::u16string(*value), false});
        return;
    }
    variable->value = *value;
    variable->followsWindowsDirectory = false;
}

MissingExports Missing() {
    return State().missing;
}

void SetMissing(MissingExports missing) {
    State().missing = std::move(missing);
}

bool RedirectionDisabled() {
    return t_thread.Get().redirectionDisabled;
}

std::u16string ExpandEnvironment(std::u16string_view text) {
    return ExpandText(text);
}

std::u16string ModuleKey(std::u16string_view name) {
    const std::size_t slash = name.find_last_of(u"\\/");
    if (slash != std::u16string_view::npos) name.remove_prefix(slash + 1);
    std::u16string key = Fold(name);
    // A name without an extension is a DLL; a trailing '.' says "no extension" on purpose.
    if (key.find(u'.') == std::u16string::npos)
        key += u".dll";
    else if (key.back() == u'.')
        key.pop_back();
    return key;
}

}  // namespace winsim::system

// ---- The calls -----------------------------------------------------------------------------

win::HMODULE win::GetModuleHandleW(win::LPCWSTR moduleName) {
    return Simulate<&win::GetModuleHandleW>(
        {moduleName}, [&] { return Quote(moduleName); },
        [&]() -> win::HMODULE {
            if (moduleName == nullptr) return kProcessModule;
            const std::u16string_view name(moduleName);
            const std::u16string key = winsim::system::ModuleKey(name);
            // A path names the module only where it lies: in the System32 folder.
            const std::size_t slash = name.find_last_of(u"\\/");
            if (slash != std::u16string_view::npos) {
                const auto folder = CanonicalPath(name.substr(0, slash));
                const auto system32 =
                    CanonicalPath(winsim::shell::WindowsDirectory() + u"\\System32");
                if (!folder || !system32 || Fold(*folder) != Fold(*system32))
                    return Fail(win::ERROR_MOD_NOT_FOUND, win::HMODULE{nullptr});
            }
            for (const Module& module : Modules())
                if (module.key == key && !ModuleMissing(module.key)) return module.handle;
            return Fail(win::ERROR_MOD_NOT_FOUND, win::HMODULE{nullptr});
        });
}

win::FARPROC win::GetProcAddress(win::HMODULE module, const char* procName) {
    // Values below 0x10000 are ordinals, not names; the simulated modules export none.
    const bool byName = reinterpret_cast<std::uintptr_t>(procName) >= 0x10000;
    return Simulate<&win::GetProcAddress>(
        {module, procName},
        [&] {
            // Appended piece by piece: g++ 12 at -O2 and above misreads `"\"" + std::string`
            // as an overlapping copy (-Wrestrict), as in the shell room's journal text.
            std::string text = Pointer(module);
            text += ", ";
            if (byName) {
                text += '"';
                text += procName;
                text += '"';
            } else {
                text += "ordinal ";
                text += std::to_string(reinterpret_cast<std::uintptr_t>(procName));
            }
            return text;
        },
        [&]() -> win::FARPROC {
            if (module == kProcessModule || module == nullptr)
                return Fail(win::ERROR_PROC_NOT_FOUND, win::FARPROC{nullptr});
            const Module* found = FindModule(module);
            if (found == nullptr) return Fail(win::ERROR_MOD_NOT_FOUND, win::FARPROC{nullptr});
            if (!byName) return Fail(win::ERROR_PROC_NOT_FOUND, win::FARPROC{nullptr});
            for (const Export& e : found->exports)
                if (std::strcmp(e.name, procName) == 0 && !FunctionMissing(found->key, e.name))
                    return e.function;
            return Fail(win::ERROR_PROC_NOT_FOUND, win::FARPROC{nullptr});
        },
        NoAction{}, ResultTextOf{[](win::FARPROC, bool failed) -> std::string {
            return failed ? "null (error " + std::to_string(LastError()) + ")" : "function";
        }});
}

win::HANDLE win::GetCurrentProcess() {
    return Simulate<&win::GetCurrentProcess>(
        {}, [] { return std::string(); },
        []() -> win::HANDLE { return win::kCurrentProcessPseudoHandle; });
}

win::NTSTATUS win::RtlGetVersion(win::RTL_OSVERSIONINFOEXW* info) {
    return Simulate<&win::RtlGetVersion>(
        {info},
        [&] {
            return info == nullptr ? std::string("null")
                                   : "size " + std::to_string(info->dwOSVersionInfoSize);
        },
        [&]() -> win::NTSTATUS {
            // The size field says how much of the record the caller has: the plain record (276
            // bytes) or the extended one. Anything smaller is refused rather than overrun.
            constexpr win::ULONG kPlainSize =
                offsetof(win::RTL_OSVERSIONINFOEXW, wServicePackMajor);
            if (info == nullptr || info->dwOSVersionInfoSize < kPlainSize)
                return win::STATUS_INVALID_PARAMETER;
            const OsVersion& os = State().os;
            info->dwMajorVersion = os.major;
            info->dwMinorVersion = os.minor;
            info->dwBuildNumber = os.build;
            info->dwPlatformId = win::VER_PLATFORM_WIN32_NT;
            std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
            if (os.servicePackMajor > 0) {
                const std::string text = "Service Pack " + std::to_string(os.servicePackMajor);
                std::copy(text.begin(), text.end(), info->szCSDVersion);
            }
            if (info->dwOSVersionInfoSize >= sizeof(win::RTL_OSVERSIONINFOEXW)) {
                info->wServicePackMajor = os.servicePackMajor;
                info->wServicePackMinor = os.servicePackMinor;
                // VER_SUITE_SINGLEUSERTS, as a workstation without terminal services reports.
                info->wSuiteMask = 0x0100;
                info->wProductType = os.productType;
                info->wReserved = 0;
            }
            return win::STATUS_SUCCESS;
        },
        NoAction{}, ResultTextOf{[](win::NTSTATUS status, bool) { return StatusText(status); }});
}

win::BOOL win::GetProductInfo(win::DWORD osMajor, win::DWORD osMinor, win::DWORD spMajor,
                              win::DWORD spMinor, win::DWORD* productType) {
    return Simulate<&win::GetProductInfo>(
        {osMajor, osMinor, spMajor, spMinor, productType},
        [&] {
            return std::to_string(osMajor) + "." + std::to_string(osMinor) + ", SP " +
                   std::to_string(spMajor) + "." + std::to_string(spMinor);
        },
        [&]() -> win::BOOL {
            // Windows answers FALSE without a last error both for a missing out pointer and for
            // versions before Vista (6.0), which have no editions; those get PRODUCT_UNDEFINED.
            if (productType == nullptr) return win::FALSE;
            if (osMajor < 6) {
                *productType = win::PRODUCT_UNDEFINED;
                return win::FALSE;
            }
            *productType = State().os.edition;
            return win::TRUE;
        });
}

void win::GetNativeSystemInfo(win::SYSTEM_INFO* info) {
    Simulate<&win::GetNativeSystemInfo>(
        {info}, [&] { return Pointer(info); },
        [&] {
            if (info != nullptr) FillSystemInfo(info, State().os.architecture);
        });
}

void win::GetSystemInfo(win::SYSTEM_INFO* info) {
    Simulate<&win::GetSystemInfo>(
        {info}, [&] { return Pointer(info); },
        [&] {
            // A Wow64 process is a 32-bit process: it sees an x86 machine.
            const OsVersion& os = State().os;
            if (info != nullptr)
                FillSystemInfo(info,
                               os.wow64 ? win::PROCESSOR_ARCHITECTURE_INTEL : os.architecture);
        });
}

win::BOOL win::IsWow64Process(win::HANDLE process, win::BOOL* wow64) {
    return Simulate<&win::IsWow64Process>(
        {process, wow64}, [&] { return Pointer(process); },
        [&]() -> win::BOOL {
            if (process != win::kCurrentProcessPseudoHandle)
                return Fail(win::ERROR_INVALID_HANDLE, win::FALSE);
            if (wow64 == nullptr) return Fail(win::ERROR_NOACCESS, win::FALSE);
            *wow64 = State().os.wow64 ? win::TRUE : win::FALSE;
            return win::TRUE;
        });
}

win::BOOL win::Wow64DisableWow64FsRedirection(win::PVOID* oldValue) {
    return Simulate<&win::Wow64DisableWow64FsRedirection>(
        {oldValue}, [&] { return Pointer(oldValue); },
        [&]() -> win::BOOL {
            // A 64-bit process has no redirection: Windows answers ERROR_INVALID_FUNCTION
            // before it looks at the argument.
            if (!State().os.wow64) return Fail(win::ERROR_INVALID_FUNCTION, win::FALSE);
            if (oldValue == nullptr) return Fail(win::ERROR_NOACCESS, win::FALSE);
            bool& disabled = t_thread.Get().redirectionDisabled;
            // The old value is opaque to callers: here, whether redirection was already off.
            *oldValue = reinterpret_cast<win::PVOID>(std::uintptr_t{disabled ? 1u : 0u});
            disabled = true;
            return win::TRUE;
        });
}

win::BOOL win::Wow64RevertWow64FsRedirection(win::PVOID oldValue) {
    return Simulate<&win::Wow64RevertWow64FsRedirection>(
        {oldValue}, [&] { return Pointer(oldValue); },
        [&]() -> win::BOOL {
            if (!State().os.wow64) return Fail(win::ERROR_INVALID_FUNCTION, win::FALSE);
            const auto value = reinterpret_cast<std::uintptr_t>(oldValue);
            if (value > 1) return Fail(win::ERROR_INVALID_PARAMETER, win::FALSE);
            t_thread.Get().redirectionDisabled = value == 1;
            return win::TRUE;
        });
}

win::DWORD win::ExpandEnvironmentStringsW(win::LPCWSTR source, win::LPWSTR destination,
                                          win::DWORD size) {
    return Simulate<&win::ExpandEnvironmentStringsW>(
        {source, destination, size},
        [&] { return Quote(source) + ", " + Pointer(destination) + ", " + std::to_string(size); },
        [&]() -> win::DWORD {
            // A null source is the empty text, as Windows takes it.
            const std::u16string expanded = ExpandText(source != nullptr ? source : u"");
            const auto needed = static_cast<win::DWORD>(expanded.size() + 1);
            // A buffer too small gets as much of the expansion as fits before a terminator in
            // its last unit; the caller learns the size it needs either way.
            if (destination != nullptr && size > 0) {
                const win::DWORD copied = std::min(size, needed) - 1;
                std::memcpy(destination, expanded.data(), copied * sizeof(char16_t));
                destination[copied] = u'\0';
            }
            return needed;
        });
}

win::UINT win::GetSystemWindowsDirectoryW(win::LPWSTR buffer, win::UINT size) {
    return Simulate<&win::GetSystemWindowsDirectoryW>(
        {buffer, size}, [&] { return Pointer(buffer) + ", " + std::to_string(size); },
        [&]() -> win::UINT {
            const std::u16string folder = winsim::shell::WindowsDirectory();
            const auto length = static_cast<win::UINT>(folder.size());
            if (buffer == nullptr || size <= length) return length + 1;
            std::memcpy(buffer, folder.c_str(), (folder.size() + 1) * sizeof(char16_t));
            return length;
        });
}
