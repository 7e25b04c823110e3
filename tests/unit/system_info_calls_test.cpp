// The system-information, module and environment calls as Windows answers them, as tables of
// facts: GetProductInfo (dlls/kernel32/tests/version.c), RtlGetVersion (version.c and Microsoft's
// documentation: the size field chooses the record), GetNativeSystemInfo / GetSystemInfo
// (dlls/kernel32/tests/process.c test_SystemInfo and the documentation of SYSTEM_INFO),
// IsWow64Process and the Wow64 redirection pair (process.c, dlls/kernel32/tests/loader.c),
// GetSystemWindowsDirectoryW (dlls/kernel32/tests/path.c test_GetWindowsDirectory, whose rules
// the documentation gives this call too), GetModuleHandleW / GetProcAddress
// (dlls/kernel32/tests/module.c), ExpandEnvironmentStringsW (dlls/kernel32/tests/environ.c,
// dlls/ntdll/tests/env.c and the documentation). Every table runs on the simulated machine and,
// cross built, against the real system under Wine. Where a simulated machine plays a Windows it
// was given (contract::GivenOs), the rows check what Windows guarantees of any machine and, on
// the simulated machine only, that the calls report what it was given; the tables also run over
// further machines there (a server with a service pack, a 32-bit process on 64-bit Windows, an
// ARM64 machine), which the real system cannot become: those machines are the simulated-only
// rows.
#include <win/kernel.h>
#include <win/system_info.h>

#include <gtest/gtest.h>

#include <bitset>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "contract/machine.h"

namespace {

constexpr win::DWORD kUntouched = 0xDEADBEEF;

std::string Narrow(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

win::HMODULE Kernel32() {
    return win::GetModuleHandleW(u"kernel32.dll");
}

template <class F>
F Lookup(win::HMODULE module, const char* name) {
    const win::FARPROC proc = win::GetProcAddress(module, name);
    EXPECT_NE(nullptr, proc) << name;
    return win::ProcAs<F>(proc);
}

// ---- GetProductInfo ---------------------------------------------------------------------------

TEST(SystemInfoCallsTest, ProductInfoAnswersForVistaAndLaterOnlyAndNeverSetsTheLastError) {
    const auto getProductInfo = Lookup<win::GetProductInfoFunction>(Kernel32(), "GetProductInfo");
    ASSERT_NE(nullptr, getProductInfo);
    struct Row {
        win::DWORD major, minor, spMajor, spMinor;
        bool answers;
    };
    const Row rows[] = {
        {9, 8, 7, 6, true},  {7, 0, 0, 0, true},  {6, 2, 0, 0, true},  {6, 1, 2, 0, true},
        {6, 1, 1, 0, true},  {6, 1, 0, 2, true},  {6, 1, 0, 0, true},  {6, 0, 3, 0, true},
        {6, 0, 2, 0, true},  {6, 0, 1, 5, true},  {6, 0, 1, 0, true},  {6, 0, 0, 0, true},
        {5, 3, 0, 0, false}, {5, 2, 0, 0, false}, {5, 1, 0, 0, false}, {5, 0, 0, 0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.major) + "." + std::to_string(row.minor) + " SP " +
                     std::to_string(row.spMajor) + "." + std::to_string(row.spMinor));
        win::DWORD product = kUntouched;
        win::SetLastError(kUntouched);
        const win::BOOL answered =
            getProductInfo(row.major, row.minor, row.spMajor, row.spMinor, &product);
        EXPECT_EQ(kUntouched, win::GetLastError());
        if (row.answers) {
            EXPECT_TRUE(answered);
            // PRODUCT_UNDEFINED < product <= PRODUCT_ENTERPRISE_S_N_EVALUATION
            EXPECT_GT(product, win::PRODUCT_UNDEFINED);
            EXPECT_LE(product, 0x82u);
        } else {
            EXPECT_FALSE(answered);
            EXPECT_EQ(win::PRODUCT_UNDEFINED, product);
        }
    }
    // No place for the answer: FALSE, and still no last error.
    win::SetLastError(kUntouched);
    EXPECT_FALSE(getProductInfo(6, 1, 0, 0, nullptr));
    EXPECT_EQ(kUntouched, win::GetLastError());
}

// ---- The machines the tables run on ----------------------------------------------------------

struct Machine {
    const char* what;
    std::optional<contract::Os> os;  // nullopt: the machine as it is
};

contract::Os OsOf(win::DWORD major, win::DWORD minor, win::DWORD build, win::WORD spMajor,
                  std::uint8_t productType, win::WORD architecture, bool wow64) {
    contract::Os os;
    os.major = major;
    os.minor = minor;
    os.build = build;
    os.servicePackMajor = spMajor;
    os.productType = productType;
    os.architecture = architecture;
    os.wow64 = wow64;
    return os;
}

// Runs `check` on the machine as it is and, on the simulated machine, as each further Windows.
void ForEachMachine(const std::function<void(const std::optional<contract::Os>& given)>& check) {
    std::vector<Machine> machines{{"the machine as it is", std::nullopt}};
    if (contract::kSimulatedMachine) {
        machines.push_back(
            {"Windows 7 SP1, a server, x64",
             OsOf(6, 1, 7601, 1, win::VER_NT_SERVER, win::PROCESSOR_ARCHITECTURE_AMD64, false)});
        machines.push_back({"Windows 8.1, a 32-bit process on x64",
                            OsOf(6, 3, 9600, 0, win::VER_NT_WORKSTATION,
                                 win::PROCESSOR_ARCHITECTURE_AMD64, true)});
        machines.push_back({"Windows 11 on ARM64", OsOf(10, 0, 22631, 0, win::VER_NT_WORKSTATION,
                                                        win::PROCESSOR_ARCHITECTURE_ARM64, false)});
    }
    for (const Machine& machine : machines) {
        SCOPED_TRACE(machine.what);
        if (!machine.os) {
            check(contract::GivenOs());
            continue;
        }
        const contract::ScopedOs scoped(*machine.os);
        check(contract::GivenOs());
    }
}

// ---- RtlGetVersion ----------------------------------------------------------------------------

// The size field chooses the record (Microsoft's documentation of RtlGetVersion: the plain
// RTL_OSVERSIONINFOW or the extended RTL_OSVERSIONINFOEXW, and STATUS_SUCCESS); nothing is
// written past the record the caller has. Without a service pack its text is empty (version.c
// test_GetVersionEx), with one it is "Service Pack N" (the documentation of OSVERSIONINFOEXW).
// The version answers GetProductInfo's question for itself (version.c: from 6.0 on it is TRUE).
TEST(SystemInfoCallsTest, VersionRecordBySizeField) {
    const auto rtlGetVersion =
        Lookup<win::RtlGetVersionFunction>(win::GetModuleHandleW(u"ntdll.dll"), "RtlGetVersion");
    const auto getProductInfo = Lookup<win::GetProductInfoFunction>(Kernel32(), "GetProductInfo");
    ASSERT_NE(nullptr, rtlGetVersion);
    ASSERT_NE(nullptr, getProductInfo);
    constexpr auto kPlainSize =
        static_cast<win::ULONG>(offsetof(win::RTL_OSVERSIONINFOEXW, wServicePackMajor));
    struct Row {
        const char* what;
        win::ULONG size;
        bool extended;  // the service pack numbers, suite and product type are written
    };
    const Row rows[] = {
        {"the extended record", sizeof(win::RTL_OSVERSIONINFOEXW), true},
        {"the plain record", kPlainSize, false},
    };
    ForEachMachine([&](const std::optional<contract::Os>& given) {
        std::optional<win::RTL_OSVERSIONINFOEXW> first;
        for (const Row& row : rows) {
            SCOPED_TRACE(row.what);
            win::RTL_OSVERSIONINFOEXW info;
            std::memset(&info, 0xCC, sizeof info);
            info.dwOSVersionInfoSize = row.size;
            ASSERT_EQ(win::STATUS_SUCCESS, rtlGetVersion(&info));
            EXPECT_EQ(row.size, info.dwOSVersionInfoSize);
            EXPECT_EQ(win::VER_PLATFORM_WIN32_NT, info.dwPlatformId);
            EXPECT_LT(std::char_traits<char16_t>::length(info.szCSDVersion), 128u);
            if (row.extended) {
                EXPECT_GE(info.wProductType, win::VER_NT_WORKSTATION);
                EXPECT_LE(info.wProductType, win::VER_NT_SERVER);
                EXPECT_NE(0xCCCC, info.wSuiteMask);
                const std::u16string csd(info.szCSDVersion);
                if (info.wServicePackMajor == 0)
                    EXPECT_EQ(u"", csd);
                else
                    EXPECT_EQ("Service Pack " + std::to_string(info.wServicePackMajor),
                              Narrow(csd));
                if (given) {
                    EXPECT_EQ(given->servicePackMajor, info.wServicePackMajor);
                    EXPECT_EQ(given->servicePackMinor, info.wServicePackMinor);
                    EXPECT_EQ(given->productType, info.wProductType);
                }
            } else {
                const auto* tail = reinterpret_cast<const unsigned char*>(&info) + kPlainSize;
                for (std::size_t i = 0; i < sizeof info - kPlainSize; ++i)
                    EXPECT_EQ(0xCC, tail[i]) << "byte " << kPlainSize + i << " written";
            }
            if (given) {
                EXPECT_EQ(given->major, info.dwMajorVersion);
                EXPECT_EQ(given->minor, info.dwMinorVersion);
                EXPECT_EQ(given->build, info.dwBuildNumber);
            }
            if (!first) {
                first = info;
                win::DWORD product = 0;
                EXPECT_EQ(
                    info.dwMajorVersion >= 6,
                    getProductInfo(info.dwMajorVersion, info.dwMinorVersion, info.wServicePackMajor,
                                   info.wServicePackMinor, &product) != win::FALSE);
                continue;
            }
            // Both records tell the same version.
            EXPECT_EQ(first->dwMajorVersion, info.dwMajorVersion);
            EXPECT_EQ(first->dwMinorVersion, info.dwMinorVersion);
            EXPECT_EQ(first->dwBuildNumber, info.dwBuildNumber);
            EXPECT_EQ(std::u16string(first->szCSDVersion), std::u16string(info.szCSDVersion));
        }
    });
}

// ---- GetNativeSystemInfo, GetSystemInfo ---------------------------------------------------------

// Microsoft's documentation of SYSTEM_INFO: pages of 4 KiB and an allocation granularity of
// 64 KiB on x86, x64 and ARM64, the lowest address a process can use below the highest, a
// processor mask with a bit for each processor, and the processor type of the architecture
// (PROCESSOR_INTEL_386/486/PENTIUM, PROCESSOR_AMD_X8664, PROCESSOR_ARM...). process.c
// test_SystemInfo: outside Wow64 both calls tell the same architecture and processor type; a
// Wow64 process is told x86 by GetSystemInfo and x64 (PROCESSOR_AMD_X8664) by
// GetNativeSystemInfo.
TEST(SystemInfoCallsTest, SystemInfoOfTheProcessAndOfTheMachine) {
    struct Row {
        const char* what;
        void (*call)(win::SYSTEM_INFO*);
        bool native;
    };
    const Row rows[] = {
        {"GetNativeSystemInfo", &win::GetNativeSystemInfo, true},
        {"GetSystemInfo", &win::GetSystemInfo, false},
    };
    ForEachMachine([&](const std::optional<contract::Os>& given) {
        win::BOOL wow64 = win::FALSE;
        ASSERT_TRUE(win::IsWow64Process(win::GetCurrentProcess(), &wow64));
        win::SYSTEM_INFO infos[2];
        for (std::size_t i = 0; i < 2; ++i) {
            const Row& row = rows[i];
            SCOPED_TRACE(row.what);
            win::SYSTEM_INFO& info = infos[i];
            std::memset(&info, 0xCC, sizeof info);
            row.call(&info);
            EXPECT_EQ(4096u, info.dwPageSize);
            EXPECT_EQ(65536u, info.dwAllocationGranularity);
            EXPECT_EQ(reinterpret_cast<void*>(std::uintptr_t{0x10000}),
                      info.lpMinimumApplicationAddress);
            EXPECT_LT(info.lpMinimumApplicationAddress, info.lpMaximumApplicationAddress);
            EXPECT_GE(info.dwNumberOfProcessors, 1u);
            EXPECT_LE(info.dwNumberOfProcessors, 64u);
            EXPECT_EQ(
                info.dwNumberOfProcessors,
                std::bitset<64>(static_cast<std::uint64_t>(info.dwActiveProcessorMask)).count());
            switch (info.wProcessorArchitecture) {
                case win::PROCESSOR_ARCHITECTURE_INTEL:
                    EXPECT_TRUE(info.dwProcessorType == 386 || info.dwProcessorType == 486 ||
                                info.dwProcessorType == 586)
                        << info.dwProcessorType;
                    // A 32-bit process's addresses end below 4 GiB.
                    EXPECT_LE(reinterpret_cast<std::uintptr_t>(info.lpMaximumApplicationAddress),
                              std::uintptr_t{0xFFFEFFFF});
                    break;
                case win::PROCESSOR_ARCHITECTURE_AMD64:
                    EXPECT_EQ(8664u, info.dwProcessorType);
                    break;
                case win::PROCESSOR_ARCHITECTURE_ARM64:
                    break;
                default:
                    ADD_FAILURE() << "architecture " << info.wProcessorArchitecture;
            }
            if (given) {
                const win::WORD expected = !row.native && given->wow64
                                               ? win::PROCESSOR_ARCHITECTURE_INTEL
                                               : given->architecture;
                EXPECT_EQ(expected, info.wProcessorArchitecture);
            }
        }
        const win::SYSTEM_INFO& native = infos[0];
        const win::SYSTEM_INFO& own = infos[1];
        EXPECT_EQ(native.dwNumberOfProcessors, own.dwNumberOfProcessors);
        if (wow64) {
            EXPECT_EQ(win::PROCESSOR_ARCHITECTURE_INTEL, own.wProcessorArchitecture);
            EXPECT_EQ(win::PROCESSOR_ARCHITECTURE_AMD64, native.wProcessorArchitecture);
            EXPECT_EQ(8664u, native.dwProcessorType);
        } else {
            EXPECT_EQ(native.wProcessorArchitecture, own.wProcessorArchitecture);
            EXPECT_EQ(native.dwProcessorType, own.dwProcessorType);
        }
    });
}

// ---- GetSystemWindowsDirectoryW ---------------------------------------------------------------

// path.c test_GetWindowsDirectory, the same rules as Microsoft documents them for this call: a
// buffer too small (or none) is told the size it needs, terminator included; a buffer large
// enough gets the folder, terminated, and its length without the terminator.
TEST(SystemInfoCallsTest, SystemWindowsFolderByBufferSize) {
    const std::u16string given = contract::GivenWindowsFolder();
    win::SetLastError(kUntouched);
    const win::UINT total = win::GetSystemWindowsDirectoryW(nullptr, 0);
    ASSERT_GT(total, 3u);
    EXPECT_EQ(kUntouched, win::GetLastError());
    struct Row {
        const char* what;
        bool buffer;
        win::UINT size;
        win::UINT result;
        bool written;
    };
    const Row rows[] = {
        {"no buffer, no size", false, 0, total, false},
        {"no buffer, one short", false, total - 1, total, false},
        {"one short", true, total - 1, total, false},
        {"two short", true, total - 2, total, false},
        {"exactly enough", true, total, total - 1, true},
        {"one more", true, total + 1, total - 1, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::u16string buffer(total + 4, u'#');
        EXPECT_EQ(row.result,
                  win::GetSystemWindowsDirectoryW(row.buffer ? buffer.data() : nullptr, row.size));
        if (!row.written) continue;
        EXPECT_EQ(given, buffer.substr(0, total - 1));
        EXPECT_EQ(u'\0', buffer[total - 1]);
        EXPECT_EQ(u'#', buffer[total]) << "nothing past the terminator";
    }
    // The folder is absolute, on a drive, without a final separator but for a drive root.
    EXPECT_EQ(u":\\", given.substr(1, 2));
    EXPECT_TRUE(given.size() == 3 || given.back() != u'\\');
}

// ---- Modules and exports ----------------------------------------------------------------------

TEST(SystemInfoCallsTest, ModuleHandlesAndExportsByName) {
    EXPECT_NE(nullptr, win::GetModuleHandleW(nullptr)) << "the process's own module";
    EXPECT_EQ(win::GetModuleHandleW(u"ntdll"), win::GetModuleHandleW(u"ntdll.dll"));
    EXPECT_EQ(win::GetModuleHandleW(u"NTDLL.DLL"), win::GetModuleHandleW(u"ntdll.dll"));
    EXPECT_NE(win::GetModuleHandleW(u"ntdll.dll"), Kernel32());

    struct Row {
        const char* what;
        win::HMODULE module;
        const char* name;
        win::DWORD error;  // 0: found
    };
    const Row rows[] = {
        {"ntdll's RtlGetVersion", win::GetModuleHandleW(u"ntdll.dll"), "RtlGetVersion", 0},
        {"kernel32's GetProductInfo", Kernel32(), "GetProductInfo", 0},
        {"export names are exact: case matters", Kernel32(), "getproductinfo",
         win::ERROR_PROC_NOT_FOUND},
        {"a name kernel32 does not export", Kernel32(), "QorvexNoSuchFunction",
         win::ERROR_PROC_NOT_FOUND},
        {"a null module is the process's own, which exports nothing", nullptr, "non_ex_call",
         win::ERROR_PROC_NOT_FOUND},
        {"a handle that is no module", reinterpret_cast<win::HMODULE>(std::uintptr_t{0xdeadbeef}),
         "non_ex_call", win::ERROR_MOD_NOT_FOUND},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        win::SetLastError(kUntouched);
        const win::FARPROC proc = win::GetProcAddress(row.module, row.name);
        if (row.error == 0) {
            EXPECT_NE(nullptr, proc);
        } else {
            EXPECT_EQ(nullptr, proc);
            EXPECT_EQ(row.error, win::GetLastError());
        }
    }
}

// ---- Wow64 ------------------------------------------------------------------------------------

// process.c test_IsWow64Process: TRUE for a 32-bit process on 64-bit Windows, FALSE for a 64-bit
// one; no process handle is ERROR_INVALID_HANDLE (as for any call on a process handle; Wine
// agrees). loader.c: in a Wow64 process the redirection pair succeeds, and nested pairs undo in
// reverse. A 64-bit process has no redirection: both calls fail with ERROR_INVALID_FUNCTION
// and leave the old value alone (Microsoft documents only that a failure sets the last error;
// Wine answers this on every run).
TEST(SystemInfoCallsTest, Wow64QueriesAndRedirection) {
    const auto disable = Lookup<win::Wow64DisableWow64FsRedirectionFunction>(
        Kernel32(), "Wow64DisableWow64FsRedirection");
    const auto revert = Lookup<win::Wow64RevertWow64FsRedirectionFunction>(
        Kernel32(), "Wow64RevertWow64FsRedirection");
    ASSERT_NE(nullptr, disable);
    ASSERT_NE(nullptr, revert);
    struct Row {
        const char* what;
        win::HANDLE process;
        win::DWORD error;  // 0: answers
    };
    const Row rows[] = {
        {"the current process", win::GetCurrentProcess(), 0},
        {"no process", nullptr, win::ERROR_INVALID_HANDLE},
    };
    ForEachMachine([&](const std::optional<contract::Os>& given) {
        const bool wow64 = given && given->wow64;
        for (const Row& row : rows) {
            SCOPED_TRACE(row.what);
            win::BOOL answer = 12345;
            win::SetLastError(kUntouched);
            const win::BOOL ok = win::IsWow64Process(row.process, &answer);
            if (row.error == 0) {
                EXPECT_TRUE(ok);
                EXPECT_EQ(wow64 ? win::TRUE : win::FALSE, answer);
                EXPECT_EQ(kUntouched, win::GetLastError());
            } else {
                EXPECT_FALSE(ok);
                EXPECT_EQ(row.error, win::GetLastError());
            }
        }

        const auto sentinel = reinterpret_cast<win::PVOID>(std::uintptr_t{0x1234});
        if (!wow64) {
            win::PVOID old = sentinel;
            win::SetLastError(kUntouched);
            EXPECT_FALSE(disable(&old));
            EXPECT_EQ(win::ERROR_INVALID_FUNCTION, win::GetLastError());
            EXPECT_EQ(sentinel, old);
            win::SetLastError(kUntouched);
            EXPECT_FALSE(revert(nullptr));
            EXPECT_EQ(win::ERROR_INVALID_FUNCTION, win::GetLastError());
            return;
        }
        win::PVOID outer = sentinel;
        win::PVOID inner = sentinel;
        EXPECT_TRUE(disable(&outer));
        EXPECT_TRUE(disable(&inner));
        EXPECT_TRUE(revert(inner));
        EXPECT_TRUE(revert(outer));
    });
}

// ---- ExpandEnvironmentStringsW ----------------------------------------------------------------

std::u16string Expanded(const char16_t* text) {
    const win::DWORD needed = win::ExpandEnvironmentStringsW(text, nullptr, 0);
    std::u16string out(needed, u'\0');
    win::ExpandEnvironmentStringsW(text, out.data(), needed);
    out.resize(needed > 0 ? needed - 1 : 0);
    return out;
}

TEST(SystemInfoCallsTest, ExpandEnvironmentStringsBufferRules) {
    const std::u16string root = Expanded(u"%SystemRoot%");
    ASSERT_GE(root.size(), 3u);
    const std::u16string text = u"%SystemRoot%\\x";
    const std::u16string full = root + u"\\x";
    const auto needed = static_cast<win::DWORD>(full.size() + 1);
    std::vector<char16_t> buffer(needed + 8, u'#');

    // A null source is the empty text: one unit, the terminator.
    win::SetLastError(kUntouched);
    EXPECT_EQ(1u, win::ExpandEnvironmentStringsW(nullptr, buffer.data(), 8));
    EXPECT_EQ(u'\0', buffer[0]);
    EXPECT_EQ(u'#', buffer[1]);
    EXPECT_EQ(kUntouched, win::GetLastError());

    // No room at all: the size needed, nothing written.
    std::fill(buffer.begin(), buffer.end(), u'#');
    EXPECT_EQ(needed, win::ExpandEnvironmentStringsW(text.c_str(), buffer.data(), 0));
    EXPECT_EQ(u'#', buffer[0]);

    // Too little room: the size needed, and as much of the expansion as fits before a
    // terminator in the last unit; nothing past the buffer.
    for (win::DWORD size : {needed - 1, needed - 2, win::DWORD{4}, win::DWORD{1}}) {
        SCOPED_TRACE("size " + std::to_string(size));
        std::fill(buffer.begin(), buffer.end(), u'#');
        EXPECT_EQ(needed, win::ExpandEnvironmentStringsW(text.c_str(), buffer.data(), size));
        EXPECT_EQ(full.substr(0, size - 1), std::u16string(buffer.data(), size - 1));
        EXPECT_EQ(u'\0', buffer[size - 1]);
        EXPECT_EQ(u'#', buffer[size]);
    }
    // Exactly enough: the text, terminated, and the count with its terminator.
    std::fill(buffer.begin(), buffer.end(), u'#');
    EXPECT_EQ(needed, win::ExpandEnvironmentStringsW(text.c_str(), buffer.data(), needed));
    EXPECT_EQ(full, std::u16string(buffer.data()));
    EXPECT_EQ(u'#', buffer[needed]);
}

}  // namespace
