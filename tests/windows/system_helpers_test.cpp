// The system helpers end to end on a real Windows binding (run under Wine): what they answer
// must agree with what the system itself reports through the raw calls.
#include <win/security.h>
#include <win/system_info.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "zef/rtl/error_handling/exception.h"
#include "zef/system/detail/windows/wow64_tools.h"
#include "zef/system/environment.h"
#include "zef/system/os_version.h"
#include "zef/system/path_tools.h"
#include "zef/system/security/scoped_revert_impersonation.h"

namespace {

using zef::wstring_t;

std::u16string WindowsFolder() {
    char16_t buffer[300] = {};
    const win::UINT length = win::GetSystemWindowsDirectoryW(buffer, 300);
    return std::u16string(buffer, length);
}

TEST(SystemHelpersWineTest, VersionRecordAndOsInfoAgreeWithTheSystem) {
    win::RTL_OSVERSIONINFOEXW raw{};
    raw.dwOSVersionInfoSize = sizeof raw;
    const win::FARPROC proc =
        win::GetProcAddress(win::GetModuleHandleW(u"ntdll.dll"), "RtlGetVersion");
    ASSERT_NE(nullptr, proc);
    ASSERT_EQ(win::STATUS_SUCCESS, win::ProcAs<win::RtlGetVersionFunction>(proc)(&raw));

    const win::RTL_OSVERSIONINFOEXW* record = nullptr;
    ASSERT_EQ(0, zef::system::OsVersionInfo(&record));
    ASSERT_NE(nullptr, record);
    EXPECT_EQ(raw.dwMajorVersion, record->dwMajorVersion);
    EXPECT_EQ(raw.dwMinorVersion, record->dwMinorVersion);
    EXPECT_EQ(raw.dwBuildNumber, record->dwBuildNumber);
    EXPECT_EQ(raw.wProductType, record->wProductType);
    // Wine's default prefix plays Windows 7 SP1 (6.1.7601), one set to win10 plays 10.0; the
    // test that sets up such a prefix says which it expects.
    if (const char* expected = std::getenv("QORVEX_EXPECT_WINDOWS_MAJOR")) {
        EXPECT_EQ(std::strtoul(expected, nullptr, 10), raw.dwMajorVersion);
    }
    if (raw.dwMajorVersion == 6) {
        EXPECT_EQ(1u, raw.dwMinorVersion);
        EXPECT_EQ(7601u, raw.dwBuildNumber);
    } else {
        EXPECT_EQ(10u, raw.dwMajorVersion);
    }

    const zef::system::OsInfoRecord* info = nullptr;
    ASSERT_EQ(0, zef::system::OsInfo(&info));
    EXPECT_EQ(raw.dwMajorVersion, info->majorVersion);
    EXPECT_EQ(raw.dwMinorVersion, info->minorVersion);
    EXPECT_EQ(raw.dwBuildNumber, info->buildNumber);
    EXPECT_EQ(raw.wServicePackMajor, info->servicePackMajor);
    EXPECT_EQ(1u, info->architectureClass);  // x64
    EXPECT_EQ(raw.wProductType == win::VER_NT_WORKSTATION ? 0u : 1u, info->isServer);
    std::uint32_t product = 0;
    ASSERT_EQ(0, zef::system::GetProductType(raw, &product));
    EXPECT_EQ(product, info->productType);
    // Built once: a second call hands out the same record.
    const zef::system::OsInfoRecord* again = nullptr;
    ASSERT_EQ(0, zef::system::OsInfo(&again));
    EXPECT_EQ(info, again);
}

TEST(SystemHelpersWineTest, A64BitProcessIsNotUnderWow64AndTheGuardChangesNothing) {
    EXPECT_EQ(1, zef::system::IsWow64());
    const zef::system::wow64_fs_redirection_guard guard;
    EXPECT_EQ(0, zef::system::IsPlainDirectory(wstring_t(WindowsFolder().c_str())));
}

TEST(SystemHelpersWineTest, PlainDirectoryOnThePrefixFolders) {
    const std::u16string windows = WindowsFolder();
    struct Case {
        const char* what;
        std::u16string path;
        zef::ResultCode expected;
    };
    const Case cases[] = {
        {"the Windows folder", windows, 0},
        {"System32", windows + u"\\system32", 0},
        {"the drive root", windows.substr(0, 3), 0},
        {"a file", windows + u"\\system32\\kernel32.dll", 1},
        {"a missing file", windows + u"\\qorvex-missing.txt",
         static_cast<zef::ResultCode>(0x80010102u)},
        {"a missing folder", windows + u"\\qorvex-missing\\x",
         static_cast<zef::ResultCode>(0x80010103u)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, zef::system::IsPlainDirectory(wstring_t(c.path.c_str()))) << c.what;

    // A long path through "." and ".." segments reaches the same folder.
    std::u16string longPath = windows;
    while (longPath.size() < 300) longPath += u"\\.\\system32\\..";
    longPath += u"\\system32";
    EXPECT_EQ(0, zef::system::IsPlainDirectory(wstring_t(longPath.c_str())));
}

TEST(SystemHelpersWineTest, EnvironmentExpansion) {
    wstring_t out;
    ASSERT_EQ(0, zef::system::ExpandEnvironmentVariables(u"%SystemRoot%\\x", &out));
    std::u16string upperOut(out.view());
    std::u16string upperWindows = WindowsFolder() + u"\\x";
    for (auto* s : {&upperOut, &upperWindows})
        for (char16_t& c : *s)
            if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 0x20);
    EXPECT_EQ(upperWindows, upperOut);

    ASSERT_EQ(1, zef::system::ExpandEnvironmentVariables(u"%QORVEX_UNDEFINED%\\x", &out));
    EXPECT_EQ(u"%QORVEX_UNDEFINED%\\x", out.view());
    ASSERT_EQ(1, zef::system::ExpandEnvironmentVariables(u"50%", &out));
    EXPECT_EQ(u"50%", out.view());
}

TEST(SystemHelpersWineTest, ImpersonationScopeOnAThreadThatImpersonatesNobody) {
    auto scope = [] {
        const zef::system::scoped_revert_impersonation revert;
        EXPECT_FALSE(revert.reverted());
    };
    scope();
    std::thread other(scope);
    other.join();
}

}  // namespace
