// The simulated machine's system, environment, security and file-attribute rooms: what their
// calls answer where the contract tests cannot reach (other versions, Wow64, impersonating
// threads, long paths, bad arguments), their scoped overrides and their machine.json members.
// How each call's fault reaches its caller is in the fault table of platform_sim_test.cpp.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <winsim/sim.h>

#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using ::testing::HasSubstr;

class SimSystemRoomsTest : public ::testing::Test {
protected:
    winsim::ScopedMachine m_machine;
};

win::RTL_OSVERSIONINFOEXW Version() {
    win::RTL_OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    EXPECT_EQ(win::STATUS_SUCCESS, win::RtlGetVersion(&info));
    return info;
}

std::u16string Expand(const char16_t* text) {
    char16_t buffer[512] = {};
    const win::DWORD n = win::ExpandEnvironmentStringsW(text, buffer, 512);
    return n == 0 ? u"<failed>" : std::u16string(buffer);
}

TEST_F(SimSystemRoomsTest, OsSliceReachesEveryCallAndScopesRestoreThePreviousOne) {
    winsim::OsVersion os;
    os.major = 6;
    os.minor = 1;
    os.build = 7601;
    os.servicePackMajor = 1;
    os.productType = 3;
    os.edition = 0x07;
    os.architecture = win::PROCESSOR_ARCHITECTURE_AMD64;
    os.wow64 = true;
    {
        const winsim::ScopedOs outer(os);
        const win::RTL_OSVERSIONINFOEXW info = Version();
        EXPECT_EQ(6u, info.dwMajorVersion);
        EXPECT_EQ(7601u, info.dwBuildNumber);
        EXPECT_EQ(3u, info.wProductType);
        EXPECT_EQ(u"Service Pack 1", std::u16string(info.szCSDVersion));
        win::DWORD product = 0;
        EXPECT_TRUE(win::GetProductInfo(6, 1, 1, 0, &product));
        EXPECT_EQ(0x07u, product);
        // Before Vista there are no editions: FALSE, and PRODUCT_UNDEFINED.
        EXPECT_FALSE(win::GetProductInfo(5, 1, 3, 0, &product));
        EXPECT_EQ(win::PRODUCT_UNDEFINED, product);

        win::SYSTEM_INFO native{}, own{};
        win::GetNativeSystemInfo(&native);
        win::GetSystemInfo(&own);
        EXPECT_EQ(win::PROCESSOR_ARCHITECTURE_AMD64, native.wProcessorArchitecture);
        // A Wow64 process is a 32-bit process: its own view is x86.
        EXPECT_EQ(win::PROCESSOR_ARCHITECTURE_INTEL, own.wProcessorArchitecture);
        win::BOOL wow64 = win::FALSE;
        ASSERT_TRUE(win::IsWow64Process(win::GetCurrentProcess(), &wow64));
        EXPECT_EQ(win::TRUE, wow64);
        {
            winsim::OsVersion inner = os;
            inner.build = 9200;
            const winsim::ScopedOsVersion nested(inner);
            EXPECT_EQ(9200u, Version().dwBuildNumber);
        }
        EXPECT_EQ(7601u, Version().dwBuildNumber);
    }
    EXPECT_EQ(winsim::OsVersion{}, winsim::GetOs());
    EXPECT_EQ(19045u, Version().dwBuildNumber);
}

TEST_F(SimSystemRoomsTest, ArgumentsWindowsWouldRefuse) {
    win::RTL_OSVERSIONINFOEXW info{};
    EXPECT_EQ(win::STATUS_INVALID_PARAMETER, win::RtlGetVersion(nullptr));
    info.dwOSVersionInfoSize = 100;
    EXPECT_EQ(win::STATUS_INVALID_PARAMETER, win::RtlGetVersion(&info));
    // The plain record: the extended members stay untouched.
    std::memset(&info, 0xCC, sizeof info);
    info.dwOSVersionInfoSize = 276;
    EXPECT_EQ(win::STATUS_SUCCESS, win::RtlGetVersion(&info));
    EXPECT_EQ(10u, info.dwMajorVersion);
    EXPECT_EQ(0xCCu, info.wProductType);

    struct Case {
        const char* what;
        std::function<bool()> call;
        win::DWORD error;
    };
    const Case cases[] = {
        {"IsWow64Process of another process",
         [] {
             win::BOOL b;
             return win::IsWow64Process(reinterpret_cast<win::HANDLE>(0x44), &b) != 0;
         },
         win::ERROR_INVALID_HANDLE},
        {"IsWow64Process without an answer",
         [] { return win::IsWow64Process(win::GetCurrentProcess(), nullptr) != 0; },
         win::ERROR_NOACCESS},
        // GetProductInfo fails without setting the last error.
        {"GetProductInfo without an answer",
         [] { return win::GetProductInfo(10, 0, 0, 0, nullptr) != 0; }, 0},
        {"disabling redirection of a 64-bit process",
         [] {
             void* old = nullptr;
             return win::Wow64DisableWow64FsRedirection(&old) != 0;
         },
         win::ERROR_INVALID_FUNCTION},
        {"disabling without an old value",
         [] {
             winsim::OsVersion os;
             os.wow64 = true;
             const winsim::ScopedOs wow64(os);
             return win::Wow64DisableWow64FsRedirection(nullptr) != 0;
         },
         win::ERROR_NOACCESS},
        {"reverting to a value never handed out",
         [] {
             winsim::OsVersion os;
             os.wow64 = true;
             const winsim::ScopedOs wow64(os);
             return win::Wow64RevertWow64FsRedirection(reinterpret_cast<void*>(7)) != 0;
         },
         win::ERROR_INVALID_PARAMETER},
        {"a token of another thread",
         [] {
             win::HANDLE t;
             return win::OpenThreadToken(reinterpret_cast<win::HANDLE>(0x48), win::TOKEN_QUERY,
                                         win::TRUE, &t) != 0;
         },
         win::ERROR_INVALID_HANDLE},
        {"impersonating what is no token",
         [] { return win::ImpersonateLoggedOnUser(reinterpret_cast<win::HANDLE>(0x48)) != 0; },
         win::ERROR_INVALID_HANDLE},
        {"a name by ordinal",
         [] {
             return win::GetProcAddress(win::GetModuleHandleW(u"kernel32"),
                                        reinterpret_cast<const char*>(std::uintptr_t{5})) !=
                    nullptr;
         },
         win::ERROR_PROC_NOT_FOUND},
        {"a function of the process's own module",
         [] {
             return win::GetProcAddress(win::GetModuleHandleW(nullptr), "RtlGetVersion") != nullptr;
         },
         win::ERROR_PROC_NOT_FOUND},
        {"a module handle that is none",
         [] {
             return win::GetProcAddress(reinterpret_cast<win::HMODULE>(0x1000), "RtlGetVersion") !=
                    nullptr;
         },
         win::ERROR_MOD_NOT_FOUND},
        {"a module outside System32",
         [] { return win::GetModuleHandleW(u"C:\\Temp\\kernel32.dll") != nullptr; },
         win::ERROR_MOD_NOT_FOUND},
    };
    for (const Case& c : cases) {
        win::SetLastError(0);
        EXPECT_FALSE(c.call()) << c.what;
        EXPECT_EQ(c.error, win::GetLastError()) << c.what;
    }
    EXPECT_EQ(win::GetModuleHandleW(u"kernel32"),
              win::GetModuleHandleW(u"c:\\windows\\system32\\KERNEL32.DLL"));
}

TEST_F(SimSystemRoomsTest, EnvironmentNamesIgnoreCaseAndFollowTheWindowsFolder) {
    EXPECT_EQ(u"C:\\Windows|C:\\Windows", Expand(u"%SystemRoot%|%WINDIR%"));
    winsim::SetWindowsDirectory(u"D:\\WinNT");
    EXPECT_EQ(u"D:\\WinNT", Expand(u"%systemroot%"));
    {
        const winsim::ScopedEnvironment own(u"SYSTEMROOT", u"E:\\Own");
        EXPECT_EQ(u"E:\\Own|D:\\WinNT", Expand(u"%SystemRoot%|%windir%"));
        const winsim::ScopedEnvironment gone(u"ProgramFiles", std::nullopt);
        EXPECT_EQ(u"%ProgramFiles%", Expand(u"%ProgramFiles%"));
    }
    EXPECT_EQ(u"D:\\WinNT|C:\\Program Files", Expand(u"%SystemRoot%|%ProgramFiles%"));
    winsim::SetEnvironmentVariable(u"Mixed", u"1");
    EXPECT_EQ(u"1", winsim::GetEnvironmentVariable(u"MIXED"));
    EXPECT_EQ(std::nullopt, winsim::GetEnvironmentVariable(u"Undefined"));
    // Too small a buffer is told the size it needs and gets what fits, terminated.
    char16_t small[5] = {u'#', u'#', u'#', u'#', u'#'};
    EXPECT_EQ(9u, win::ExpandEnvironmentStringsW(u"%windir%", small, 4));
    EXPECT_EQ(u"D:\\", std::u16string(small));
    EXPECT_EQ(u'#', small[4]);
}

TEST_F(SimSystemRoomsTest, TokensFollowEachThreadsImpersonation) {
    EXPECT_FALSE(winsim::ThreadImpersonates());
    {
        const winsim::ScopedThreadToken token;
        EXPECT_TRUE(winsim::ThreadImpersonates());
        // Threads start impersonating too, each with a state of its own.
        bool otherStarts = false, otherAfterRevert = true, mineAfterOthersRevert = false;
        std::thread([&] {
            otherStarts = winsim::ThreadImpersonates();
            win::RevertToSelf();
            otherAfterRevert = winsim::ThreadImpersonates();
        }).join();
        mineAfterOthersRevert = winsim::ThreadImpersonates();
        EXPECT_TRUE(otherStarts);
        EXPECT_FALSE(otherAfterRevert);
        EXPECT_TRUE(mineAfterOthersRevert);

        win::HANDLE handle = nullptr;
        ASSERT_TRUE(
            win::OpenThreadToken(win::GetCurrentThread(), win::TOKEN_QUERY, win::TRUE, &handle));
        EXPECT_EQ(1u, winsim::OpenTokenCount());
        ASSERT_TRUE(win::RevertToSelf());
        EXPECT_FALSE(winsim::ThreadImpersonates());
        ASSERT_TRUE(win::ImpersonateLoggedOnUser(handle));
        EXPECT_TRUE(winsim::ThreadImpersonates());
        ASSERT_TRUE(win::CloseHandle(handle));
        EXPECT_EQ(0u, winsim::OpenTokenCount());
        // A closed token is no token.
        EXPECT_FALSE(win::ImpersonateLoggedOnUser(handle));
        EXPECT_EQ(win::ERROR_INVALID_HANDLE, win::GetLastError());
    }
    EXPECT_FALSE(winsim::ThreadImpersonates());
    EXPECT_FALSE(winsim::GetThreadsStartImpersonating());
}

TEST_F(SimSystemRoomsTest, FileAttributesBeyondWhatEveryWindowsHas) {
    winsim::PutFile(u"C:\\Data\\file.bin", {1});
    winsim::SetReparsePoint(u"C:\\Data\\Junction", true);
    std::u16string deep = u"C:\\Data";
    while (deep.size() < 280) deep += u"\\0123456789";
    winsim::PutDirectory(deep);
    struct Case {
        const char* what;
        std::u16string path;
        win::DWORD attributes;  // or the error, when INVALID_FILE_ATTRIBUTES
        win::DWORD error;
    };
    constexpr win::DWORD kInvalid = win::INVALID_FILE_ATTRIBUTES;
    const Case cases[] = {
        {"a file", u"C:\\Data\\file.bin", win::FILE_ATTRIBUTE_ARCHIVE, 0},
        {"a junction", u"C:\\Data\\junction",
         win::FILE_ATTRIBUTE_DIRECTORY | win::FILE_ATTRIBUTE_REPARSE_POINT, 0},
        {"a long path in the \\\\?\\ form", u"\\\\?\\" + deep, win::FILE_ATTRIBUTE_DIRECTORY, 0},
        {"a long path without it", deep, kInvalid, win::ERROR_PATH_NOT_FOUND},
        {"a name below a file", u"C:\\Data\\file.bin\\x", kInvalid, win::ERROR_PATH_NOT_FOUND},
        // The machine has no network and no devices: no server answers, and a device name
        // names one that does not exist.
        {"a network path", u"\\\\server\\share\\x", kInvalid, win::ERROR_BAD_NETPATH},
        {"a network path in the \\\\?\\UNC form", u"\\\\?\\UNC\\server\\share\\x", kInvalid,
         win::ERROR_BAD_NETPATH},
        {"a device name", u"C:\\Data\\NUL.txt", kInvalid, win::ERROR_FILE_NOT_FOUND},
        {"a device", u"\\\\.\\COM1", kInvalid, win::ERROR_FILE_NOT_FOUND},
        {"the volume itself", u"\\\\.\\C:", kInvalid, win::ERROR_ACCESS_DENIED},
        {"a name relative to the current folder, C:\\Windows\\System32", u"..\\..\\Data\\file.bin",
         win::FILE_ATTRIBUTE_ARCHIVE, 0},
        {"an empty path", u"", kInvalid, win::ERROR_PATH_NOT_FOUND},
    };
    for (const Case& c : cases) {
        win::SetLastError(0);
        EXPECT_EQ(c.attributes, win::GetFileAttributesW(c.path.c_str())) << c.what;
        if (c.attributes == kInvalid) {
            EXPECT_EQ(c.error, win::GetLastError()) << c.what;
        }
    }
    win::SetLastError(0);
    EXPECT_EQ(kInvalid, win::GetFileAttributesW(nullptr));
    EXPECT_EQ(win::ERROR_INVALID_PARAMETER, win::GetLastError());
    winsim::SetReparsePoint(u"C:\\Data\\Junction", false);
    EXPECT_EQ(win::FILE_ATTRIBUTE_DIRECTORY, win::GetFileAttributesW(u"C:\\Data\\Junction"));
    EXPECT_THROW(winsim::SetReparsePoint(u"relative", true), std::invalid_argument);
}

TEST_F(SimSystemRoomsTest, VolumePathsOnlyOnDrivesTheMachineHas) {
    winsim::PutDirectory(u"D:\\Data");
    struct Case {
        const char* what;
        std::u16string path;
        std::u16string volume;  // empty: fails with error
        win::DWORD error;
    };
    const Case cases[] = {
        {"another drive", u"d:\\data\\x", u"D:\\", 0},
        {"a junction mounts nothing", u"C:\\Junction\\x", u"C:\\", 0},
        {"a drive the machine lacks", u"Q:\\x", u"", win::ERROR_FILE_NOT_FOUND},
        // Every well-formed share is a volume of its own; the machine has no network to ask.
        {"a network path", u"\\\\server\\share\\x", u"\\\\server\\share\\", 0},
        {"a network path without a share", u"\\\\server", u"", win::ERROR_INVALID_NAME},
        {"a device that does not exist", u"C:\\Data\\COM3", u"", win::ERROR_INVALID_NAME},
        // Relative names answer the volume of the current folder.
        {"a relative path", u"x\\y", u"C:\\", 0},
        {"an NT namespace path", u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\x", u"C:\\", 0},
    };
    winsim::SetReparsePoint(u"C:\\Junction", true);
    for (const Case& c : cases) {
        char16_t volume[24] = {u'#'};
        win::SetLastError(0);
        const win::BOOL ok = win::GetVolumePathNameW(c.path.c_str(), volume, 24);
        EXPECT_EQ(!c.volume.empty(), ok != 0) << c.what;
        if (ok) {
            EXPECT_EQ(c.volume, std::u16string(volume)) << c.what;
        } else {
            EXPECT_EQ(c.error, win::GetLastError()) << c.what;
            EXPECT_EQ(u'#', volume[0]) << c.what;
        }
    }
}

TEST_F(SimSystemRoomsTest, TheCurrentFolderIsWhereRelativeNamesStart) {
    EXPECT_EQ(u"C:\\Windows\\System32", winsim::GetCurrentDirectory());
    EXPECT_TRUE(winsim::DirectoryExists(u"C:\\Windows\\System32"));
    winsim::MountVolume(u"D:\\Mnt\\Vol");
    winsim::PutFile(u"D:\\Mnt\\Vol\\Data\\file.bin", {1, 2});
    {
        winsim::ScopedCurrentDirectory current(u"d:\\mnt\\vol\\data");
        // The folder keeps the spelling it was created with.
        EXPECT_EQ(u"D:\\Mnt\\Vol\\Data", winsim::GetCurrentDirectory());
        EXPECT_EQ(win::FILE_ATTRIBUTE_ARCHIVE, win::GetFileAttributesW(u"file.bin"));
        EXPECT_EQ(win::FILE_ATTRIBUTE_ARCHIVE, win::GetFileAttributesW(u"D:file.bin"));
        EXPECT_EQ(win::FILE_ATTRIBUTE_DIRECTORY, win::GetFileAttributesW(u"\\Mnt"));
        // Another drive's current folder is its root.
        EXPECT_EQ(win::FILE_ATTRIBUTE_DIRECTORY, win::GetFileAttributesW(u"C:Windows"));
        char16_t volume[32] = {};
        ASSERT_TRUE(win::GetVolumePathNameW(u"x", volume, 32));
        EXPECT_EQ(std::u16string(u"D:\\Mnt\\Vol\\"), volume);
        ASSERT_TRUE(win::GetVolumePathNameW(u"C:x", volume, 32));
        EXPECT_EQ(std::u16string(u"C:\\"), volume);
    }
    EXPECT_EQ(u"C:\\Windows\\System32", winsim::GetCurrentDirectory());
    // A new folder comes into being; a relative one is refused.
    winsim::SetCurrentDirectory(u"E:\\New");
    EXPECT_TRUE(winsim::DirectoryExists(u"E:\\New"));
    EXPECT_THROW(winsim::SetCurrentDirectory(u"relative"), std::invalid_argument);
}

TEST_F(SimSystemRoomsTest, MissingModulesAndFunctionsComeBackAtScopeEnd) {
    {
        const winsim::ScopedMissingModule ntdll(u"NTDLL");
        EXPECT_EQ(nullptr, win::GetModuleHandleW(u"ntdll.dll"));
        EXPECT_EQ(win::ERROR_MOD_NOT_FOUND, win::GetLastError());
        const winsim::ScopedMissingFunction wow64(u"kernel32.dll", "IsWow64Process");
        const win::HMODULE kernel32 = win::GetModuleHandleW(u"kernel32");
        EXPECT_EQ(nullptr, win::GetProcAddress(kernel32, "IsWow64Process"));
        EXPECT_EQ(win::ERROR_PROC_NOT_FOUND, win::GetLastError());
        EXPECT_NE(nullptr, win::GetProcAddress(kernel32, "GetSystemInfo"));
    }
    EXPECT_NE(nullptr, win::GetModuleHandleW(u"ntdll.dll"));
    const win::FARPROC proc =
        win::GetProcAddress(win::GetModuleHandleW(u"kernel32"), "IsWow64Process");
    ASSERT_NE(nullptr, proc);
    // What GetProcAddress hands out is the simulated call itself.
    EXPECT_EQ(reinterpret_cast<void (*)()>(&win::IsWow64Process),
              reinterpret_cast<void (*)()>(proc));
}

// ---- machine.json ------------------------------------------------------------------------------

class SimSystemMachineTest : public SimSystemRoomsTest {
protected:
    SimSystemMachineTest() {
        static std::atomic<int> counter{0};
        m_dir = std::filesystem::temp_directory_path() /
                ("qorvex-system-machine-" + std::to_string(::getpid()) + "-" +
                 std::to_string(counter++));
        std::filesystem::create_directories(m_dir);
    }
    ~SimSystemMachineTest() override {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    std::string Load(const std::string& json) {
        std::ofstream(m_dir / "machine.json") << json;
        return winsim::LoadMachineDirectory(m_dir.string());
    }
    std::filesystem::path m_dir;
};

TEST_F(SimSystemMachineTest, MembersDescribeTheSystem) {
    ASSERT_EQ("", Load(R"({
  "windowsDirectory": "D:\\WinNT",
  "os": {"version": "6.3.9600", "servicePack": "2.1", "productType": "server",
         "edition": 8, "architecture": "arm64", "wow64": true},
  "environment": {"ProgramFiles": "D:\\Apps", "ProgramW6432": null, "Extra": "x"},
  "reparsePoints": ["D:\\Links\\Junction"],
  "threadToken": true
})"));
    const winsim::OsVersion os = winsim::GetOs();
    EXPECT_EQ(6u, os.major);
    EXPECT_EQ(3u, os.minor);
    EXPECT_EQ(9600u, os.build);
    EXPECT_EQ(2u, os.servicePackMajor);
    EXPECT_EQ(1u, os.servicePackMinor);
    EXPECT_EQ(3u, os.productType);
    EXPECT_EQ(8u, os.edition);
    EXPECT_EQ(win::PROCESSOR_ARCHITECTURE_ARM64, os.architecture);
    EXPECT_TRUE(os.wow64);
    EXPECT_EQ(u"D:\\Apps|%ProgramW6432%|x|D:\\WinNT",
              Expand(u"%ProgramFiles%|%ProgramW6432%|%extra%|%SystemRoot%"));
    EXPECT_EQ(win::FILE_ATTRIBUTE_DIRECTORY | win::FILE_ATTRIBUTE_REPARSE_POINT,
              win::GetFileAttributesW(u"D:\\Links\\Junction"));
    EXPECT_TRUE(winsim::ThreadImpersonates());

    // Each member is optional; one that is there may say only part.
    ASSERT_EQ("", Load(R"({"os": {"productType": 2}})"));
    EXPECT_EQ(2u, winsim::GetOs().productType);
    EXPECT_EQ(19045u, winsim::GetOs().build);
    EXPECT_FALSE(winsim::ThreadImpersonates());
}

TEST_F(SimSystemMachineTest, BadMembersArePointedAt) {
    struct Case {
        std::string json;
        std::string message;
    };
    const Case cases[] = {
        {R"({"os": 1})", "\"os\" must be a"},
        {R"({"os": {"version": "10.0"}})", "must read major.minor.build"},
        {R"({"os": {"version": "10.0.x"}})", "must read major.minor.build"},
        {R"({"os": {"servicePack": "70000.0"}})", "below 65536"},
        {R"({"os": {"productType": "desktop"}})", "\"workstation\", \"server\" or a number"},
        {R"({"os": {"productType": 256}})", "from 0 to 255"},
        {R"({"os": {"architecture": "mips"}})", "\"x64\", \"x86\", \"arm64\" or \"ia64\""},
        {R"({"os": {"wow64": "yes"}})", "\"wow64\" must be a"},
        {R"({"environment": {"A": 1}})", "environment variable \"A\" must be a"},
        {R"({"environment": {"A=B": "x"}})", "without '=' or '%'"},
        {R"({"reparsePoints": "C:\\x"})", "\"reparsePoints\" must be a"},
        {R"({"reparsePoints": ["relative"]})", "a reparse point"},
        {R"({"threadToken": 1})", "\"threadToken\" must be a"},
    };
    for (const Case& c : cases) {
        const std::string error = Load(c.json);
        EXPECT_THAT(error, HasSubstr(c.message)) << c.json;
        EXPECT_THAT(error, HasSubstr("machine.json:1:")) << c.json;
        EXPECT_EQ(winsim::OsVersion{}, winsim::GetOs()) << c.json;
    }
}

// Every name FindFirstFileNameW / FindNextFileNameW report for a file, through a buffer of
// `size` characters that grows to what a short one is told it needs.
std::vector<std::u16string> FileNames(const std::u16string& path, win::DWORD size = 260) {
    std::vector<std::u16string> names;
    std::u16string buffer(size, u'#');
    win::DWORD length = size;
    win::HANDLE find = win::FindFirstFileNameW(path.c_str(), 0, &length, buffer.data());
    if (find == win::INVALID_HANDLE_VALUE && win::GetLastError() == win::ERROR_MORE_DATA) {
        buffer.resize(length);
        find = win::FindFirstFileNameW(path.c_str(), 0, &length, buffer.data());
    }
    if (find == win::INVALID_HANDLE_VALUE) return {u"<failed>"};
    names.emplace_back(buffer.c_str());
    for (;;) {
        length = static_cast<win::DWORD>(buffer.size());
        if (!win::FindNextFileNameW(find, &length, buffer.data())) {
            if (win::GetLastError() != win::ERROR_MORE_DATA) break;
            buffer.resize(length);
            continue;
        }
        names.emplace_back(buffer.c_str());
    }
    EXPECT_EQ(win::ERROR_HANDLE_EOF, win::GetLastError()) << "after the last name";
    EXPECT_TRUE(win::FindClose(find));
    return names;
}

TEST_F(SimSystemRoomsTest, VolumesMountedInFoldersAnswerForWhatTheyHold) {
    winsim::MountVolume(u"D:\\Mnt\\Vol");
    winsim::MountVolume(u"D:\\Mnt\\Vol\\Inner");
    struct Case {
        std::u16string path;
        std::u16string volume;
    };
    const Case cases[] = {
        {u"D:\\Mnt\\Vol\\a\\b.txt", u"D:\\Mnt\\Vol\\"},
        {u"d:\\mnt\\vol", u"D:\\Mnt\\Vol\\"},
        {u"D:\\Mnt\\Vol\\Inner\\x", u"D:\\Mnt\\Vol\\Inner\\"},
        {u"D:\\Mnt\\Volume\\x", u"D:\\"},
        {u"D:\\Mnt\\x", u"D:\\"},
        {u"\\\\?\\D:\\Mnt\\Vol\\x", u"\\\\?\\D:\\Mnt\\Vol\\"},
    };
    for (const Case& c : cases) {
        char16_t volume[32] = {u'#'};
        ASSERT_TRUE(win::GetVolumePathNameW(c.path.c_str(), volume, 32));
        EXPECT_EQ(c.volume, std::u16string(volume));
    }
    // The mount folder and its terminator need their room; one character short, the folder is
    // answered without its separator.
    char16_t volume[12] = {u'#'};
    EXPECT_TRUE(win::GetVolumePathNameW(u"D:\\Mnt\\Vol\\x", volume, 12));
    EXPECT_EQ(std::u16string(u"D:\\Mnt\\Vol\\"), volume);
    EXPECT_TRUE(win::GetVolumePathNameW(u"D:\\Mnt\\Vol\\x", volume, 11));
    EXPECT_EQ(std::u16string(u"D:\\Mnt\\Vol"), volume);
    EXPECT_FALSE(win::GetVolumePathNameW(u"D:\\Mnt\\Vol\\x", volume, 10));
    EXPECT_EQ(win::ERROR_FILENAME_EXCED_RANGE, win::GetLastError());
    // The mount folder is a reparse point, the folder holding it is not.
    EXPECT_EQ(win::FILE_ATTRIBUTE_DIRECTORY | win::FILE_ATTRIBUTE_REPARSE_POINT,
              win::GetFileAttributesW(u"D:\\Mnt\\Vol"));
    EXPECT_EQ(win::FILE_ATTRIBUTE_DIRECTORY, win::GetFileAttributesW(u"D:\\Mnt"));
}

TEST_F(SimSystemRoomsTest, HardLinksAreReportedVolumeRelativeInTheirOrder) {
    winsim::MountVolume(u"D:\\Mnt\\Vol");
    winsim::PutFile(u"C:\\Data\\One.txt", {'1'});
    winsim::LinkNames({u"C:\\Users\\ann\\a.exe", u"C:\\Apps\\Pkg\\A.exe", u"c:\\x\\y\\z.exe"});
    winsim::LinkNames({u"D:\\Mnt\\Vol\\f.txt", u"D:\\Mnt\\Vol\\Sub\\g.txt"});
    struct Case {
        std::u16string path;
        std::vector<std::u16string> names;
    };
    const Case cases[] = {
        {u"C:\\Data\\One.txt", {u"\\Data\\One.txt"}},
        {u"\\\\?\\C:\\Data\\One.txt", {u"\\Data\\One.txt"}},
        {u"C:\\Apps\\Pkg\\A.exe",
         {u"\\Users\\ann\\a.exe", u"\\Apps\\Pkg\\A.exe", u"\\x\\y\\z.exe"}},
        {u"D:\\Mnt\\Vol\\Sub\\g.txt", {u"\\f.txt", u"\\Sub\\g.txt"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.names, FileNames(c.path));
        EXPECT_EQ(c.names, FileNames(c.path, 4)) << "through a short buffer";
    }
    // Every name shows the one file.
    EXPECT_TRUE(winsim::FileExists(u"C:\\x\\y\\z.exe"));
    // A short buffer is told the need, terminator included, and keeps its place in the names.
    char16_t name[32] = {u'#'};
    win::DWORD length = 3;
    EXPECT_EQ(win::INVALID_HANDLE_VALUE,
              win::FindFirstFileNameW(u"C:\\Data\\One.txt", 0, &length, name));
    EXPECT_EQ(win::ERROR_MORE_DATA, win::GetLastError());
    EXPECT_EQ(14u, length);
    EXPECT_EQ(u'#', name[0]);
    length = 32;
    const win::HANDLE find = win::FindFirstFileNameW(u"C:\\Apps\\Pkg\\A.exe", 0, &length, name);
    ASSERT_NE(win::INVALID_HANDLE_VALUE, find);
    length = 4;
    EXPECT_FALSE(win::FindNextFileNameW(find, &length, name));
    EXPECT_EQ(win::ERROR_MORE_DATA, win::GetLastError());
    EXPECT_EQ(16u, length);
    EXPECT_TRUE(win::FindNextFileNameW(find, &length, name));
    EXPECT_EQ(std::u16string(u"\\Apps\\Pkg\\A.exe"), name);
    EXPECT_TRUE(win::FindClose(find));
    EXPECT_FALSE(win::FindClose(find));
    EXPECT_EQ(win::ERROR_INVALID_HANDLE, win::GetLastError());
    EXPECT_EQ(0u, winsim::OpenHandleCount());

    struct Missing {
        std::u16string path;
        win::DWORD error;
    };
    const Missing missing[] = {
        {u"C:\\Data\\None.txt", win::ERROR_FILE_NOT_FOUND},
        {u"C:\\NoFolder\\None.txt", win::ERROR_PATH_NOT_FOUND},
        {u"relative.txt", win::ERROR_FILE_NOT_FOUND},  // in the current folder, System32
    };
    for (const Missing& m : missing) {
        length = 32;
        EXPECT_EQ(win::INVALID_HANDLE_VALUE,
                  win::FindFirstFileNameW(m.path.c_str(), 0, &length, name));
        EXPECT_EQ(m.error, win::GetLastError());
    }
}

TEST_F(SimSystemRoomsTest, HardLinksThatCannotExistAreRefused) {
    winsim::MountVolume(u"C:\\Mnt");
    const std::vector<std::u16string> cases[] = {
        {},
        {u"C:\\a.txt", u"D:\\a.txt"},
        {u"C:\\a.txt", u"C:\\Mnt\\a.txt"},
        {u"C:\\a.txt", u"relative.txt"},
    };
    for (const auto& names : cases) EXPECT_THROW(winsim::LinkNames(names), std::invalid_argument);
    winsim::LinkNames({u"C:\\b.txt", u"C:\\c.txt"});
    EXPECT_THROW(winsim::LinkNames({u"C:\\c.txt", u"C:\\d.txt"}), std::invalid_argument);
}

TEST_F(SimSystemMachineTest, VolumesAndHardLinksFromTheMachineDirectory) {
    std::filesystem::create_directories(m_dir / "C" / "Users" / "ann");
    std::ofstream(m_dir / "C" / "Users" / "ann" / "notes.exe") << "MZ";
    ASSERT_EQ("", Load(R"({
  "volumes": ["D:\\Mnt\\Vol"],
  "hardLinks": [["C:\\Users\\ann\\notes.exe", "C:\\Apps\\Notes\\notes.exe"],
                ["D:\\Mnt\\Vol\\new.txt", "D:\\Mnt\\Vol\\b\\new.txt"]]
})"));
    EXPECT_EQ(
        (std::vector<std::u16string>{u"\\Users\\ann\\notes.exe", u"\\Apps\\Notes\\notes.exe"}),
        FileNames(u"C:\\Apps\\Notes\\notes.exe"));
    EXPECT_EQ((std::vector<std::u16string>{u"\\new.txt", u"\\b\\new.txt"}),
              FileNames(u"D:\\Mnt\\Vol\\new.txt"));
    // The drive folder's contents show under every name.
    const win::HANDLE file =
        win::CreateFileW(u"C:\\Apps\\Notes\\notes.exe", win::GENERIC_READ, win::FILE_SHARE_READ,
                         nullptr, win::OPEN_EXISTING, win::FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(win::INVALID_HANDLE_VALUE, file);
    EXPECT_EQ(2u, win::GetFileSize(file, nullptr));
    win::CloseHandle(file);

    const std::string error = Load(R"({"hardLinks": [["C:\\a.txt", "D:\\b.txt"]]})");
    EXPECT_THAT(error, HasSubstr("machine.json:1:"));
    EXPECT_THAT(error, HasSubstr("cannot cross volumes: C:\\a.txt and D:\\b.txt"));
    EXPECT_THAT(Load(R"({"volumes": [1]})"), HasSubstr("a volume mount folder"));
    EXPECT_THAT(Load(R"({"hardLinks": [[]]})"), HasSubstr("at least one name"));
}

TEST_F(SimSystemMachineTest, TheCurrentFolderFromTheMachineDirectory) {
    std::filesystem::create_directories(m_dir / "D" / "Work");
    std::ofstream(m_dir / "D" / "Work" / "notes.txt") << "n";
    ASSERT_EQ("", Load(R"({"currentDirectory": "d:\\work"})"));
    EXPECT_EQ(u"D:\\Work", winsim::GetCurrentDirectory());
    EXPECT_EQ(win::FILE_ATTRIBUTE_ARCHIVE, win::GetFileAttributesW(u"notes.txt"));
    ASSERT_EQ("", Load(R"({"currentDirectory": "E:\\New"})"));
    EXPECT_TRUE(winsim::DirectoryExists(u"E:\\New"));
    ASSERT_EQ("", Load("{}"));
    EXPECT_EQ(u"C:\\Windows\\System32", winsim::GetCurrentDirectory());

    EXPECT_THAT(Load(R"({"currentDirectory": "Work"})"),
                HasSubstr("\"currentDirectory\" must be an absolute path"));
    EXPECT_THAT(Load(R"({"currentDirectory": 1})"), HasSubstr("must be a string"));
    EXPECT_EQ(u"C:\\Windows\\System32", winsim::GetCurrentDirectory());
}

}  // namespace
