// The system-information, environment and thread-token calls as the module relies on them (the
// file and volume calls are file_calls_test.cpp's). These tests use nothing but the win headers
// and the machine as every Windows has it (a Windows folder, SystemRoot, a 64-bit process that
// impersonates nobody), so the same file runs against the simulated machine and, cross built,
// against the real system under Wine: a simulation that is consistently wrong cannot pass both.
#include <win/kernel.h>
#include <win/security.h>
#include <win/system_info.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

std::u16string WindowsFolder() {
    const win::UINT needed = win::GetSystemWindowsDirectoryW(nullptr, 0);
    std::u16string folder(needed, u'\0');
    const win::UINT length = win::GetSystemWindowsDirectoryW(folder.data(), needed);
    folder.resize(length);
    return folder;
}

// ExpandEnvironmentStringsW with a buffer of the size it asks for.
std::u16string Expand(const std::u16string& text) {
    const win::DWORD needed = win::ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    std::u16string out(needed, u'\0');
    const win::DWORD written = win::ExpandEnvironmentStringsW(text.c_str(), out.data(), needed);
    EXPECT_EQ(needed, written) << "for " << std::string(text.begin(), text.end());
    out.resize(written > 0 ? written - 1 : 0);
    return out;
}

std::u16string Upper(std::u16string text) {
    for (char16_t& c : text)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 0x20);
    return text;
}

TEST(SystemCallsTest, WindowsFolderAnswersWithItsLengthOrTheSizeItNeeds) {
    const std::u16string folder = WindowsFolder();
    ASSERT_GE(folder.size(), 3u);
    EXPECT_EQ(u":\\", folder.substr(1, 2));

    const auto length = static_cast<win::UINT>(folder.size());
    std::u16string buffer(folder.size() + 4, u'#');
    // Too small by one (no room for the terminator): the size needed, terminator included.
    EXPECT_EQ(length + 1, win::GetSystemWindowsDirectoryW(buffer.data(), length));
    EXPECT_EQ(length + 1, win::GetSystemWindowsDirectoryW(nullptr, 0));
    // Exactly enough: the length without the terminator, and the text terminated.
    EXPECT_EQ(length, win::GetSystemWindowsDirectoryW(buffer.data(), length + 1));
    EXPECT_EQ(folder, buffer.substr(0, folder.size()));
    EXPECT_EQ(u'\0', buffer[folder.size()]);
}

TEST(SystemCallsTest, CriticalSectionIsReentrantAndExcludesOtherThreads) {
    win::CRITICAL_SECTION section;
    win::InitializeCriticalSection(&section);
    int counter = 0;
    win::EnterCriticalSection(&section);
    win::EnterCriticalSection(&section);
    std::thread other([&] {
        for (int i = 0; i < 1000; ++i) {
            win::EnterCriticalSection(&section);
            ++counter;
            win::LeaveCriticalSection(&section);
        }
    });
    for (int i = 0; i < 1000; ++i) ++counter;  // the other thread waits until both leaves
    win::LeaveCriticalSection(&section);
    win::LeaveCriticalSection(&section);
    other.join();
    EXPECT_EQ(2000, counter);
    win::DeleteCriticalSection(&section);
}

// kernel32/tests/environ.c test_ExpandEnvironmentStringsA: a defined reference is replaced,
// SystemRoot is the Windows folder, an undefined reference stays as written, plain text comes
// back as it is; ntdll/tests/env.c testExpand (the call underneath): an unterminated reference
// stays, and so does an undefined one between other text. Microsoft's documentation of
// ExpandEnvironmentStrings: "%variableName%" of a variable that is not found is left
// unexpanded, and variable names ignore case. The edge rows ("%%", a lone last '%', the scan
// going on after an undefined reference's closing '%') have no source beyond this: they run
// under Wine on every cross-built test run, which answers as the rows say.
TEST(SystemCallsTest, ExpandEnvironmentStringsReplacesDefinedReferencesOnly) {
    const std::u16string root = Expand(u"%SystemRoot%");
    // SystemRoot is the Windows folder (the letters' case may differ).
    EXPECT_EQ(Upper(WindowsFolder()), Upper(root));
    struct Case {
        const char* what;
        std::u16string text;
        std::u16string expanded;
    };
    const Case cases[] = {
        {"plain text", u"no references", u"no references"},
        {"empty", u"", u""},
        {"defined", u"%SystemRoot%\\System32", root + u"\\System32"},
        {"names ignore case", u"%SYSTEMROOT%|%systemroot%", root + u"|" + root},
        {"undefined stays", u"%QORVEX_UNDEFINED%\\x", u"%QORVEX_UNDEFINED%\\x"},
        {"unterminated stays", u"a%SystemRoot", u"a%SystemRoot"},
        {"a lone last '%'", u"100%", u"100%"},
        {"an empty name", u"%%", u"%%"},
        {"two in a row", u"%SystemRoot%%SystemRoot%", root + root},
        // The closing '%' of an undefined reference opens no new one.
        {"undefined, then text", u"%QORVEX_UNDEFINED%SystemRoot%",
         u"%QORVEX_UNDEFINED%SystemRoot%"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expanded, Expand(c.text)) << c.what;
}

TEST(SystemCallsTest, ExpandEnvironmentStringsCountsTheTerminatorAndReportsTheNeededSize) {
    const std::u16string root = Expand(u"%SystemRoot%");
    const std::u16string text = u"%SystemRoot%\\x";
    const auto needed = static_cast<win::DWORD>(root.size() + 3);
    EXPECT_EQ(needed, win::ExpandEnvironmentStringsW(text.c_str(), nullptr, 0));
    std::vector<win::WCHAR> small(4, u'#');
    EXPECT_EQ(needed, win::ExpandEnvironmentStringsW(text.c_str(), small.data(), 4));
    std::vector<win::WCHAR> exact(needed, u'#');
    EXPECT_EQ(needed, win::ExpandEnvironmentStringsW(text.c_str(), exact.data(), needed));
    EXPECT_EQ(root + u"\\x", std::u16string(exact.data()));
}

TEST(SystemCallsTest, ModulesAndFunctionsAreFoundByName) {
    for (const char16_t* name : {u"ntdll.dll", u"kernel32.dll", u"kernel32", u"KERNEL32.DLL"}) {
        EXPECT_NE(nullptr, win::GetModuleHandleW(name))
            << std::string(name, name + std::char_traits<char16_t>::length(name));
    }
    EXPECT_EQ(win::GetModuleHandleW(u"kernel32"), win::GetModuleHandleW(u"kernel32.dll"));

    win::SetLastError(0);
    EXPECT_EQ(nullptr, win::GetModuleHandleW(u"qorvex-no-such-module.dll"));
    EXPECT_EQ(win::ERROR_MOD_NOT_FOUND, win::GetLastError());

    const win::HMODULE kernel32 = win::GetModuleHandleW(u"kernel32.dll");
    for (const char* function :
         {"GetProductInfo", "GetNativeSystemInfo", "GetSystemInfo", "IsWow64Process",
          "Wow64DisableWow64FsRedirection", "Wow64RevertWow64FsRedirection"})
        EXPECT_NE(nullptr, win::GetProcAddress(kernel32, function)) << function;
    win::SetLastError(0);
    EXPECT_EQ(nullptr, win::GetProcAddress(kernel32, "QorvexNoSuchFunction"));
    EXPECT_EQ(win::ERROR_PROC_NOT_FOUND, win::GetLastError());
}

TEST(SystemCallsTest, VersionRecordThroughTheLookedUpFunction) {
    const win::FARPROC proc =
        win::GetProcAddress(win::GetModuleHandleW(u"ntdll.dll"), "RtlGetVersion");
    ASSERT_NE(nullptr, proc);
    win::RTL_OSVERSIONINFOEXW info;
    std::memset(&info, 0xCC, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_EQ(win::STATUS_SUCCESS, win::ProcAs<win::RtlGetVersionFunction>(proc)(&info));
    EXPECT_EQ(sizeof info, info.dwOSVersionInfoSize);
    EXPECT_GE(info.dwMajorVersion, 6u);
    EXPECT_LT(info.dwMinorVersion, 10u);
    EXPECT_GT(info.dwBuildNumber, 0u);
    EXPECT_EQ(win::VER_PLATFORM_WIN32_NT, info.dwPlatformId);
    EXPECT_GE(info.wProductType, win::VER_NT_WORKSTATION);
    EXPECT_LE(info.wProductType, win::VER_NT_SERVER);
    // The service pack text is terminated inside its field.
    EXPECT_LT(std::char_traits<char16_t>::length(info.szCSDVersion), 128u);

    win::DWORD product = 0xCCCCCCCC;
    const win::FARPROC productInfo =
        win::GetProcAddress(win::GetModuleHandleW(u"kernel32.dll"), "GetProductInfo");
    ASSERT_NE(nullptr, productInfo);
    EXPECT_TRUE(win::ProcAs<win::GetProductInfoFunction>(productInfo)(
        info.dwMajorVersion, info.dwMinorVersion, info.wServicePackMajor, info.wServicePackMinor,
        &product));
    EXPECT_NE(0xCCCCCCCCu, product);
}

TEST(SystemCallsTest, SystemInfoOfA64BitProcess) {
    win::SYSTEM_INFO native;
    std::memset(&native, 0xCC, sizeof native);
    win::GetNativeSystemInfo(&native);
    EXPECT_EQ(win::PROCESSOR_ARCHITECTURE_AMD64, native.wProcessorArchitecture);
    EXPECT_EQ(4096u, native.dwPageSize);
    EXPECT_EQ(65536u, native.dwAllocationGranularity);
    EXPECT_GE(native.dwNumberOfProcessors, 1u);
    EXPECT_NE(0u, native.dwActiveProcessorMask);
    EXPECT_LT(native.lpMinimumApplicationAddress, native.lpMaximumApplicationAddress);

    // A 64-bit process sees the native architecture in GetSystemInfo too.
    win::SYSTEM_INFO own;
    std::memset(&own, 0xCC, sizeof own);
    win::GetSystemInfo(&own);
    EXPECT_EQ(native.wProcessorArchitecture, own.wProcessorArchitecture);
    EXPECT_EQ(native.dwNumberOfProcessors, own.dwNumberOfProcessors);
}

TEST(SystemCallsTest, A64BitProcessIsNotUnderWow64) {
    EXPECT_EQ(reinterpret_cast<win::HANDLE>(static_cast<std::intptr_t>(-1)),
              win::GetCurrentProcess());
    win::BOOL wow64 = 12345;
    ASSERT_TRUE(win::IsWow64Process(win::GetCurrentProcess(), &wow64));
    EXPECT_EQ(win::FALSE, wow64);
}

TEST(SystemCallsTest, AThreadThatImpersonatesNobodyHasNoToken) {
    auto check = [] {
        EXPECT_EQ(reinterpret_cast<win::HANDLE>(static_cast<std::intptr_t>(-2)),
                  win::GetCurrentThread());
        for (const win::BOOL openAsSelf : {win::TRUE, win::FALSE}) {
            win::HANDLE token = nullptr;
            win::SetLastError(0);
            EXPECT_FALSE(win::OpenThreadToken(
                win::GetCurrentThread(),
                win::TOKEN_DUPLICATE | win::TOKEN_IMPERSONATE | win::TOKEN_QUERY, openAsSelf,
                &token));
            EXPECT_EQ(win::ERROR_NO_TOKEN, win::GetLastError());
            EXPECT_EQ(nullptr, token);
        }
        // Reverting a thread that runs as its process is no error, and changes nothing.
        EXPECT_TRUE(win::RevertToSelf());
        win::HANDLE token = nullptr;
        EXPECT_FALSE(
            win::OpenThreadToken(win::GetCurrentThread(), win::TOKEN_QUERY, win::TRUE, &token));
        EXPECT_EQ(win::ERROR_NO_TOKEN, win::GetLastError());
    };
    check();
    std::thread other(check);
    other.join();
}

}  // namespace
