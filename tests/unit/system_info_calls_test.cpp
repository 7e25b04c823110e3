// The system-information, module and environment calls as Windows answers them, as tables of
// facts: GetProductInfo (dlls/kernel32/tests/version.c), RtlGetVersion (Microsoft's
// documentation: the size field chooses the record), GetModuleHandleW / GetProcAddress
// (dlls/kernel32/tests/module.c), IsWow64Process and the Wow64 redirection pair on a 64-bit
// process, ExpandEnvironmentStringsW (dlls/kernel32/tests/environ.c, dlls/ntdll/tests/env.c and
// the documentation). Every row runs on the simulated machine and, cross built, against the real
// system under Wine; rows marked simulatedOnly hold on Windows but not under Wine.
#include <win/kernel.h>
#include <win/system_info.h>

#include <gtest/gtest.h>

#include <cstring>
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

// ---- RtlGetVersion ----------------------------------------------------------------------------

TEST(SystemInfoCallsTest, VersionRecordSizeFieldChoosesThePlainOrTheExtendedRecord) {
    const auto rtlGetVersion =
        Lookup<win::RtlGetVersionFunction>(win::GetModuleHandleW(u"ntdll.dll"), "RtlGetVersion");
    ASSERT_NE(nullptr, rtlGetVersion);

    win::RTL_OSVERSIONINFOEXW extended;
    std::memset(&extended, 0xCC, sizeof extended);
    extended.dwOSVersionInfoSize = sizeof extended;
    ASSERT_EQ(win::STATUS_SUCCESS, rtlGetVersion(&extended));
    EXPECT_EQ(sizeof extended, extended.dwOSVersionInfoSize);
    // The service pack's text and number agree: "Service Pack N", or empty without one.
    const std::u16string csd(extended.szCSDVersion);
    if (extended.wServicePackMajor == 0)
        EXPECT_EQ(u"", csd);
    else
        EXPECT_EQ("Service Pack " + std::to_string(extended.wServicePackMajor), Narrow(csd));
    EXPECT_NE(0xCCCC, extended.wSuiteMask);

    // The plain record (the size without the service pack numbers, suite and product type):
    // the same version, and nothing written past it.
    win::RTL_OSVERSIONINFOEXW plain;
    std::memset(&plain, 0xCC, sizeof plain);
    plain.dwOSVersionInfoSize = offsetof(win::RTL_OSVERSIONINFOEXW, wServicePackMajor);
    ASSERT_EQ(win::STATUS_SUCCESS, rtlGetVersion(&plain));
    EXPECT_EQ(offsetof(win::RTL_OSVERSIONINFOEXW, wServicePackMajor), plain.dwOSVersionInfoSize);
    EXPECT_EQ(extended.dwMajorVersion, plain.dwMajorVersion);
    EXPECT_EQ(extended.dwMinorVersion, plain.dwMinorVersion);
    EXPECT_EQ(extended.dwBuildNumber, plain.dwBuildNumber);
    EXPECT_EQ(win::VER_PLATFORM_WIN32_NT, plain.dwPlatformId);
    EXPECT_EQ(csd, std::u16string(plain.szCSDVersion));
    EXPECT_EQ(0xCCCC, plain.wServicePackMajor);
    EXPECT_EQ(0xCCCC, plain.wServicePackMinor);
    EXPECT_EQ(0xCCCC, plain.wSuiteMask);
    EXPECT_EQ(0xCC, plain.wProductType);
    EXPECT_EQ(0xCC, plain.wReserved);
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

TEST(SystemInfoCallsTest, Wow64QueriesOfA64BitProcess) {
    win::BOOL wow64 = 12345;
    win::SetLastError(kUntouched);
    EXPECT_FALSE(win::IsWow64Process(nullptr, &wow64));
    EXPECT_EQ(win::ERROR_INVALID_HANDLE, win::GetLastError());

    // A 64-bit process has no redirection to turn off.
    const auto disable = Lookup<win::Wow64DisableWow64FsRedirectionFunction>(
        Kernel32(), "Wow64DisableWow64FsRedirection");
    const auto revert = Lookup<win::Wow64RevertWow64FsRedirectionFunction>(
        Kernel32(), "Wow64RevertWow64FsRedirection");
    ASSERT_NE(nullptr, disable);
    ASSERT_NE(nullptr, revert);
    const auto sentinel = reinterpret_cast<win::PVOID>(std::uintptr_t{0x1234});
    win::PVOID old = sentinel;
    win::SetLastError(kUntouched);
    EXPECT_FALSE(disable(&old));
    EXPECT_EQ(win::ERROR_INVALID_FUNCTION, win::GetLastError());
    EXPECT_EQ(sentinel, old);
    win::SetLastError(kUntouched);
    EXPECT_FALSE(revert(nullptr));
    EXPECT_EQ(win::ERROR_INVALID_FUNCTION, win::GetLastError());
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
