// The system helpers on the simulated machine: version record and OsInfo, Wow64 and its
// redirection guard, the plain-directory test, long paths, the impersonation scope, normalized
// paths and environment expansion. The helpers' process-wide caches are emptied before and
// after every test (zef/system/detail/testing), so each case meets the machine it set up.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <winsim/security.h>
#include <winsim/sim.h>
#include <winsim/system.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "host/services/host_services.h"
#include "zef/rtl/error_handling/exception.h"
#include "zef/system/detail/testing/system_caches.h"
#include "zef/system/detail/windows/wow64_tools.h"
#include "zef/system/environment.h"
#include "zef/system/os_version.h"
#include "zef/system/path_tools.h"
#include "zef/system/security/scoped_revert_impersonation.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using zef::ResultCode;
using zef::wstring_t;
namespace sys = zef::system;

constexpr auto Code(std::uint32_t value) {
    return static_cast<ResultCode>(value);
}
constexpr ResultCode kUnspecifiedError = Code(0x8000004Bu);
constexpr ResultCode kModuleNotFound = Code(0x80010112u);    // ERROR_MOD_NOT_FOUND
constexpr ResultCode kFunctionNotFound = Code(0x80010107u);  // ERROR_PROC_NOT_FOUND
constexpr ResultCode kFileNotFound = Code(0x80010102u);      // ERROR_FILE_NOT_FOUND
constexpr ResultCode kPathNotFound = Code(0x80010103u);      // ERROR_PATH_NOT_FOUND
constexpr ResultCode kAccessDenied = Code(0x80000045u);      // ERROR_ACCESS_DENIED
constexpr ResultCode kUnspecifiedPlatform = Code(0x80010100u);

std::string Narrow(std::u16string_view text) {
    return winsim::Utf8FromUtf16(text);
}

class SystemHelpersTest : public ::testing::Test {
protected:
    SystemHelpersTest() { sys::testing::ResetSystemCaches(); }
    ~SystemHelpersTest() override { sys::testing::ResetSystemCaches(); }

    winsim::ScopedMachine m_machine;
};

// ---- Version record and OsInfo --------------------------------------------------------------

TEST_F(SystemHelpersTest, VersionRecordIsTheSystemsAndIsReadOnce) {
    winsim::OsVersion os;
    os.major = 6;
    os.minor = 3;
    os.build = 9600;
    os.servicePackMajor = 1;
    os.servicePackMinor = 2;
    os.productType = 3;
    const winsim::ScopedOs scopedOs(os);
    winsim::ScopedJournal journal;

    const win::RTL_OSVERSIONINFOEXW* record = nullptr;
    ASSERT_EQ(0, sys::OsVersionInfo(&record));
    ASSERT_NE(nullptr, record);
    EXPECT_EQ(6u, record->dwMajorVersion);
    EXPECT_EQ(3u, record->dwMinorVersion);
    EXPECT_EQ(9600u, record->dwBuildNumber);
    EXPECT_EQ(1u, record->wServicePackMajor);
    EXPECT_EQ(2u, record->wServicePackMinor);
    EXPECT_EQ(3u, record->wProductType);
    EXPECT_THAT(winsim::JournalCalls(),
                ElementsAre("GetModuleHandleW", "GetProcAddress", "RtlGetVersion"));
    EXPECT_EQ("\"ntdll.dll\"", winsim::Journal()[0].args);
    EXPECT_EQ("size 284", winsim::Journal()[2].args);

    winsim::ClearJournal();
    const win::RTL_OSVERSIONINFOEXW* again = nullptr;
    ASSERT_EQ(0, sys::OsVersionInfo(&again));
    EXPECT_EQ(record, again);
    EXPECT_THAT(winsim::JournalCalls(), IsEmpty());
}

TEST_F(SystemHelpersTest, VersionFailuresAreKeptForGood) {
    struct Case {
        const char* what;
        const char* faultCall;  // or null
        std::uint32_t faultError;
        bool ntdllMissing;
        bool functionMissing;
        ResultCode expected;
    };
    const Case cases[] = {
        {"ntdll missing", nullptr, 0, true, false, kModuleNotFound},
        {"RtlGetVersion missing", nullptr, 0, false, true, kFunctionNotFound},
        {"GetModuleHandleW fails", "GetModuleHandleW", 5, false, false, kAccessDenied},
        {"GetProcAddress fails without an error", "GetProcAddress", 0, false, false,
         kUnspecifiedPlatform},
        {"RtlGetVersion answers a status", "RtlGetVersion", 0xC0000001u, false, false,
         kUnspecifiedError},
    };
    for (const Case& c : cases) {
        sys::testing::ResetSystemCaches();
        {
            std::optional<winsim::ScopedMissingModule> missingModule;
            std::optional<winsim::ScopedMissingFunction> missingFunction;
            std::optional<winsim::ScopedFault> fault;
            if (c.ntdllMissing) missingModule.emplace(u"ntdll.dll");
            if (c.functionMissing) missingFunction.emplace(u"ntdll", "RtlGetVersion");
            if (c.faultCall != nullptr)
                fault.emplace(c.faultCall, winsim::FaultMode::Once, 1, c.faultError);
            const win::RTL_OSVERSIONINFOEXW* record = nullptr;
            EXPECT_EQ(c.expected, sys::OsVersionInfo(&record)) << c.what;
            EXPECT_EQ(nullptr, record) << c.what;
        }
        // The system is whole again, yet the failure stands and nothing is asked again.
        winsim::ScopedJournal journal;
        const win::RTL_OSVERSIONINFOEXW* record = nullptr;
        EXPECT_EQ(c.expected, sys::OsVersionInfo(&record)) << c.what;
        EXPECT_EQ(nullptr, record) << c.what;
        const sys::OsInfoRecord* info = nullptr;
        EXPECT_EQ(c.expected, sys::OsInfo(&info)) << c.what;
        EXPECT_THAT(winsim::JournalCalls(), IsEmpty()) << c.what;
    }
}

TEST_F(SystemHelpersTest, OsInfoClassesArchitecturesAndProducts) {
    struct Case {
        const char* what;
        std::uint16_t architecture;
        std::uint8_t productType;
        bool wow64;
        const char* missingFunction;  // of kernel32, or null
        std::uint32_t architectureClass;
        std::uint32_t isServer;
        std::uint32_t productTypeAnswer;
    };
    const Case cases[] = {
        {"x86 workstation", win::PROCESSOR_ARCHITECTURE_INTEL, 1, false, nullptr, 0, 0, 0x30},
        {"x64 workstation", win::PROCESSOR_ARCHITECTURE_AMD64, 1, false, nullptr, 1, 0, 0x30},
        {"IA64 server", win::PROCESSOR_ARCHITECTURE_IA64, 3, false, nullptr, 2, 1, 0x30},
        {"ARM64 domain controller", win::PROCESSOR_ARCHITECTURE_ARM64, 2, false, nullptr, 3, 1,
         0x30},
        {"no product info", win::PROCESSOR_ARCHITECTURE_AMD64, 1, false, "GetProductInfo", 1, 0, 0},
        // Without GetNativeSystemInfo a Wow64 process sees only its own (x86) architecture.
        {"Wow64 on x64", win::PROCESSOR_ARCHITECTURE_AMD64, 1, true, nullptr, 1, 0, 0x30},
        {"Wow64, no native info", win::PROCESSOR_ARCHITECTURE_AMD64, 1, true, "GetNativeSystemInfo",
         0, 0, 0x30},
    };
    for (const Case& c : cases) {
        sys::testing::ResetSystemCaches();
        winsim::OsVersion os;
        os.major = 10;
        os.minor = 0;
        os.build = 22631;
        os.servicePackMajor = 4;
        os.architecture = c.architecture;
        os.productType = c.productType;
        os.wow64 = c.wow64;
        const winsim::ScopedOs scopedOs(os);
        std::optional<winsim::ScopedMissingFunction> missing;
        if (c.missingFunction != nullptr) missing.emplace(u"kernel32.dll", c.missingFunction);

        const sys::OsInfoRecord* info = nullptr;
        ASSERT_EQ(0, sys::OsInfo(&info)) << c.what;
        EXPECT_EQ(10u, info->majorVersion) << c.what;
        EXPECT_EQ(0u, info->minorVersion) << c.what;
        EXPECT_EQ(22631u, info->buildNumber) << c.what;
        EXPECT_EQ(4u, info->servicePackMajor) << c.what;
        EXPECT_EQ(c.architectureClass, info->architectureClass) << c.what;
        EXPECT_EQ(c.isServer, info->isServer) << c.what;
        EXPECT_EQ(c.productTypeAnswer, info->productType) << c.what;
    }
}

TEST_F(SystemHelpersTest, ProductTypeFailures) {
    winsim::OsVersion os;
    os.edition = 0x65;
    const winsim::ScopedOs scopedOs(os);
    const win::RTL_OSVERSIONINFOEXW* record = nullptr;
    ASSERT_EQ(0, sys::OsVersionInfo(&record));

    std::uint32_t product = 7;
    ASSERT_EQ(0, sys::GetProductType(*record, &product));
    EXPECT_EQ(0x65u, product);
    {
        const winsim::ScopedFault refuses("GetProductInfo", winsim::FaultMode::Once, 1, 87);
        product = 7;
        EXPECT_EQ(kUnspecifiedError, sys::GetProductType(*record, &product));
        EXPECT_EQ(7u, product);
    }
    {
        const winsim::ScopedMissingModule missing(u"kernel32");
        EXPECT_EQ(kModuleNotFound, sys::GetProductType(*record, &product));
    }
    // Unlike the version record, product info is asked anew each time.
    EXPECT_EQ(0, sys::GetProductType(*record, &product));
}

// ---- Wow64 ------------------------------------------------------------------------------------

TEST_F(SystemHelpersTest, OutsideWow64TheGuardMakesNoCall) {
    EXPECT_EQ(1, sys::IsWow64());
    winsim::ScopedJournal journal;
    {
        const sys::wow64_fs_redirection_guard guard;
        EXPECT_FALSE(winsim::ThreadRedirectionDisabled());
    }
    EXPECT_THAT(winsim::JournalCalls(), IsEmpty());
}

TEST_F(SystemHelpersTest, UnderWow64TheGuardTurnsRedirectionOffForItsThreadOnly) {
    winsim::OsVersion os;
    os.wow64 = true;
    const winsim::ScopedOs scopedOs(os);
    EXPECT_EQ(0, sys::IsWow64());
    winsim::ScopedJournal journal;
    {
        const sys::wow64_fs_redirection_guard guard;
        EXPECT_TRUE(winsim::ThreadRedirectionDisabled());
        bool otherThread = true;
        std::thread([&] { otherThread = winsim::ThreadRedirectionDisabled(); }).join();
        EXPECT_FALSE(otherThread);
    }
    EXPECT_FALSE(winsim::ThreadRedirectionDisabled());
    const auto entries = winsim::Journal();
    ASSERT_THAT(winsim::JournalCalls(),
                ElementsAre("GetModuleHandleW", "GetProcAddress", "Wow64DisableWow64FsRedirection",
                            "GetModuleHandleW", "GetProcAddress", "Wow64RevertWow64FsRedirection"));
    EXPECT_EQ("\"kernel32\"", entries[0].args);
    // The revert gets the value the disable handed out (redirection was on: 0).
    EXPECT_EQ("null", entries[5].args);

    // Both functions are kept once found.
    winsim::ClearJournal();
    { const sys::wow64_fs_redirection_guard guard; }
    EXPECT_THAT(winsim::JournalCalls(),
                ElementsAre("Wow64DisableWow64FsRedirection", "Wow64RevertWow64FsRedirection"));
}

TEST_F(SystemHelpersTest, Wow64Failures) {
    winsim::OsVersion os;
    os.wow64 = true;
    const winsim::ScopedOs scopedOs(os);

    struct Case {
        const char* what;
        const char* faultCall;
        std::uint32_t error;
        const char* missingFunction;
        ResultCode isWow64;
        ResultCode thrown;  // 0: the guard does not throw
        bool offAfter;      // a revert that could not be made leaves redirection off
    };
    const Case cases[] = {
        {"IsWow64Process missing", nullptr, 0, "IsWow64Process", kFunctionNotFound, 0, false},
        {"IsWow64Process fails", "IsWow64Process", 5, nullptr, kAccessDenied, 0, false},
        {"disable missing", nullptr, 0, "Wow64DisableWow64FsRedirection", 0, kFunctionNotFound,
         false},
        {"disable fails", "Wow64DisableWow64FsRedirection", 5, nullptr, 0, kAccessDenied, false},
        {"revert missing", nullptr, 0, "Wow64RevertWow64FsRedirection", 0, 0, true},
        {"revert fails", "Wow64RevertWow64FsRedirection", 5, nullptr, 0, 0, true},
    };
    for (const Case& c : cases) {
        sys::testing::ResetSystemCaches();
        std::optional<winsim::ScopedMissingFunction> missing;
        if (c.missingFunction != nullptr) missing.emplace(u"kernel32", c.missingFunction);
        std::optional<winsim::ScopedFault> fault;
        if (c.faultCall != nullptr) fault.emplace(c.faultCall, winsim::FaultMode::Once, 1, c.error);
        EXPECT_EQ(c.isWow64, sys::IsWow64()) << c.what;
        if (c.thrown != 0) {
            try {
                const sys::wow64_fs_redirection_guard guard;
                ADD_FAILURE() << c.what << ": no exception";
            } catch (const zef::CheckResultFailedException& e) {
                EXPECT_EQ(c.thrown, e.Code()) << c.what;
                EXPECT_STREQ("zef/system/detail/windows/wow64_tools", e.File()) << c.what;
            }
        } else {
            EXPECT_NO_THROW({ const sys::wow64_fs_redirection_guard guard; }) << c.what;
        }
        EXPECT_EQ(c.offAfter, winsim::ThreadRedirectionDisabled()) << c.what;
        win::Wow64RevertWow64FsRedirection(nullptr);
    }
    // The failed first answer is kept: IsWow64 asks the system only once.
    sys::testing::ResetSystemCaches();
    {
        const winsim::ScopedFault fault("IsWow64Process", winsim::FaultMode::Once, 1, 5);
        EXPECT_EQ(kAccessDenied, sys::IsWow64());
    }
    winsim::ScopedJournal journal;
    EXPECT_EQ(kAccessDenied, sys::IsWow64());
    EXPECT_THAT(winsim::JournalCalls(), IsEmpty());
}

// ---- Plain directories and long paths ----------------------------------------------------------

TEST_F(SystemHelpersTest, PlainDirectoryAnswers) {
    winsim::PutDirectory(u"C:\\Apps\\Plain");
    winsim::PutDirectory(u"C:\\Apps\\Junction");
    winsim::PutFile(u"C:\\Apps\\file.txt", {1, 2, 3});
    winsim::PutFile(u"C:\\Apps\\link.txt", {1});
    winsim::SetReparsePoint(u"C:\\Apps\\Junction", true);
    winsim::SetReparsePoint(u"C:\\Apps\\link.txt", true);
    std::u16string deep = u"C:\\Apps\\Plain";
    while (deep.size() < 300) deep += u"\\abcdefghij";
    winsim::PutDirectory(deep);

    struct Case {
        const char* what;
        std::u16string path;
        ResultCode expected;
    };
    const Case cases[] = {
        {"a directory", u"C:\\Apps\\Plain", 0},
        {"a directory, other case and '/'", u"c:/apps/PLAIN/", 0},
        {"a drive root", u"C:\\", 0},
        {"a file", u"C:\\Apps\\file.txt", 1},
        {"a junction", u"C:\\Apps\\Junction", 1},
        {"a file that is a reparse point", u"C:\\Apps\\link.txt", 1},
        {"a missing file", u"C:\\Apps\\missing.txt", kFileNotFound},
        {"a missing folder", u"C:\\Apps\\Missing\\x", kPathNotFound},
        {"a missing drive", u"Q:\\x", kPathNotFound},
        {"a directory past MAX_PATH", deep, 0},
        {"past MAX_PATH, through '.' and '..'", deep + u"\\.\\x\\..", 0},
        {"a missing file past MAX_PATH", deep + u"\\missing", kFileNotFound},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, sys::IsPlainDirectory(wstring_t(c.path.c_str()))) << c.what;

    // A failed attributes call is a failure whatever its last error: also one of 0, and the
    // values that the conversion reads as a success HRESULT, would otherwise answer "exists"
    // (1) or even "plain directory" (0) for a folder that was never seen.
    const struct {
        win::DWORD error;
        ResultCode expected;
    } failures[] = {
        {5, kAccessDenied},
        {0, kUnspecifiedPlatform},
        {0x10000, kUnspecifiedPlatform},
        {0x70005, kUnspecifiedPlatform},
        {0x7FFF0000, kUnspecifiedPlatform},
    };
    for (const auto& f : failures) {
        const winsim::ScopedFault fault("GetFileAttributesW", winsim::FaultMode::Once, 1, f.error);
        EXPECT_EQ(f.expected, sys::IsPlainDirectory(u"C:\\Apps\\Missing")) << f.error;
    }
}

TEST_F(SystemHelpersTest, PlainDirectoryUnderWow64TestsWithRedirectionOff) {
    winsim::OsVersion os;
    os.wow64 = true;
    const winsim::ScopedOs scopedOs(os);
    ASSERT_EQ(0, sys::IsWow64());
    winsim::ScopedJournal journal;
    EXPECT_EQ(0, sys::IsPlainDirectory(u"C:\\Windows"));
    EXPECT_THAT(winsim::JournalCalls(),
                ElementsAre("GetModuleHandleW", "GetProcAddress", "Wow64DisableWow64FsRedirection",
                            "GetFileAttributesW", "GetModuleHandleW", "GetProcAddress",
                            "Wow64RevertWow64FsRedirection"));
    // A guard that cannot be entered is the answer's exception.
    const winsim::ScopedFault fault("Wow64DisableWow64FsRedirection", winsim::FaultMode::Once, 1,
                                    5);
    EXPECT_THROW(sys::IsPlainDirectory(u"C:\\Windows"), zef::CheckResultFailedException);
}

TEST_F(SystemHelpersTest, LongPathRewriting) {
    // A separator and 299 letters: 300 characters. (Built in place: g++ 12 at -O3 takes
    // u"\\" + std::u16string(...) for an overlapping copy, -Wrestrict.)
    std::u16string tail(300, u'x');
    tail[0] = u'\\';
    struct Case {
        const char* what;
        std::u16string path;
        std::u16string expected;
        bool owned;
    };
    const Case cases[] = {
        {"259 characters", u"D:\\" + std::u16string(256, u'a'), u"D:\\" + std::u16string(256, u'a'),
         false},
        {"260 characters", u"D:\\" + std::u16string(257, u'a'),
         u"\\\\?\\D:\\" + std::u16string(257, u'a'), true},
        {"'.' and '..' segments", u"D:\\a\\.\\b\\..\\e" + tail, u"\\\\?\\D:\\a\\e" + tail, true},
        {"'/', repeated and trailing separators", u"D:/a//b/" + tail + u"/",
         u"\\\\?\\D:\\a\\b" + tail, true},
        {"'..' past the root stays", u"D:\\..\\..\\a" + tail, u"\\\\?\\D:\\..\\..\\a" + tail, true},
        {"a leading '.' stays", u"D:\\.\\a\\." + tail, u"\\\\?\\D:\\.\\a" + tail, true},
        {"UNC", u"\\\\srv\\share\\dir\\..\\d" + tail, u"\\\\?\\UNC\\srv\\share\\d" + tail, true},
        {"UNC with '/' after the share", u"\\\\srv\\share/x" + tail,
         u"\\\\?\\UNC\\srv\\share\\x" + tail, true},
        {"already long", u"\\\\?\\D:\\a\\..\\b" + tail, u"\\\\?\\D:\\a\\..\\b" + tail, false},
        {"a device path", u"\\\\.\\pipe\\..\\x" + tail, u"\\\\.\\pipe\\..\\x" + tail, true},
        {"relative", u"a\\..\\b" + tail, u"a\\..\\b" + tail, true},
        {"drive-relative", u"D:a\\..\\b" + tail, u"D:a\\..\\b" + tail, true},
        {"rooted without a drive", u"\\a\\..\\b" + tail, u"\\a\\..\\b" + tail, true},
    };
    for (const Case& c : cases) {
        const wstring_t path(c.path.c_str());
        const sys::LongPath longPath = sys::MakeLongPath(path);
        EXPECT_EQ(c.expected, longPath.view()) << c.what;
        EXPECT_EQ(c.owned, longPath.owned()) << c.what;
        if (!c.owned) {
            EXPECT_EQ(path.c_str(), longPath.c_str()) << c.what;
        }
    }
}

// ---- Impersonation ------------------------------------------------------------------------------

TEST_F(SystemHelpersTest, ImpersonationIsRevertedForTheScopeAndRestoredOnEveryExit) {
    const winsim::ScopedThreadToken impersonating;
    ASSERT_TRUE(winsim::ThreadImpersonates());
    struct Exit {
        const char* what;
        bool throws;
    };
    for (const Exit exit : {Exit{"normal exit", false}, Exit{"exception", true}}) {
        winsim::ScopedJournal journal;
        try {
            const sys::scoped_revert_impersonation revert;
            EXPECT_TRUE(revert.reverted()) << exit.what;
            EXPECT_FALSE(winsim::ThreadImpersonates()) << exit.what;
            EXPECT_EQ(1u, winsim::OpenTokenCount()) << exit.what;
            if (exit.throws) ZEF_THROW(zef::RuntimeError, u"inside");
        } catch (const zef::RuntimeError&) {
        }
        EXPECT_TRUE(winsim::ThreadImpersonates()) << exit.what;
        EXPECT_EQ(0u, winsim::OpenTokenCount()) << exit.what;
        EXPECT_THAT(winsim::JournalCalls(),
                    ElementsAre("GetCurrentThread", "OpenThreadToken", "RevertToSelf",
                                "ImpersonateLoggedOnUser", "CloseHandle"))
            << exit.what;
        EXPECT_EQ("0xfffffffffffffffe, 0xe, TRUE", winsim::Journal()[1].args) << exit.what;
    }
}

TEST_F(SystemHelpersTest, AThreadThatImpersonatesNobodyGetsNoCallAtTheEnd) {
    winsim::ScopedJournal journal;
    {
        const sys::scoped_revert_impersonation revert;
        EXPECT_FALSE(revert.reverted());
    }
    EXPECT_THAT(winsim::JournalCalls(), ElementsAre("GetCurrentThread", "OpenThreadToken"));
    EXPECT_EQ(0u, winsim::OpenTokenCount());
}

TEST_F(SystemHelpersTest, ImpersonationFailures) {
    const winsim::ScopedThreadToken impersonating;
    struct Case {
        const char* what;
        const char* faultCall;
        std::uint32_t error;
        ResultCode thrown;  // 0: no exception
        bool revertThrows;  // CheckResultFailedException rather than ResultCodeException
        bool revertedInside;
        std::string record;  // the level-300 record the scope's end writes, if any
    };
    // The thread goes on without its client's identity: the one failure that is not thrown is
    // still reported.
    const std::string lost =
        "scoped_revert_impersonation::~scoped_revert_impersonation: ImpersonateLoggedOnUser "
        "failed: ";
    const std::string asProcess = ", the thread goes on as the process instead of its client";
    const Case cases[] = {
        {"no token", "OpenThreadToken", 1008, 0, false, false, ""},
        {"token not found", "OpenThreadToken", 1168, 0, false, false, ""},
        {"token refused", "OpenThreadToken", 5, kAccessDenied, false, false, ""},
        {"token fails without an error", "OpenThreadToken", 0, kUnspecifiedPlatform, false, false,
         ""},
        {"revert fails", "RevertToSelf", 5, kAccessDenied, true, false, ""},
        {"re-impersonation fails", "ImpersonateLoggedOnUser", 5, 0, false, true,
         lost + "0x80000045 (Access denied)" + asProcess},
        {"re-impersonation fails without an error", "ImpersonateLoggedOnUser", 0, 0, false, true,
         lost + "0x80010100 (Unspecified platform error)" + asProcess},
        {"close fails", "CloseHandle", 6, 0, false, true, ""},
    };
    for (const Case& c : cases) {
        winsim::SetThreadImpersonates(true);
        qorvex::host::HostServicesBundle host;
        std::optional<winsim::ScopedFault> fault;
        fault.emplace(c.faultCall, winsim::FaultMode::Once, 1, c.error);
        try {
            const sys::scoped_revert_impersonation revert(&host.tracer);
            EXPECT_EQ(c.thrown, 0) << c.what << ": no exception";
            EXPECT_EQ(c.revertedInside, revert.reverted()) << c.what;
            EXPECT_EQ(!c.revertedInside, winsim::ThreadImpersonates()) << c.what;
        } catch (const zef::CheckResultFailedException& e) {
            EXPECT_TRUE(c.revertThrows) << c.what;
            EXPECT_EQ(c.thrown, e.Code()) << c.what;
            EXPECT_STREQ("zef/system/security/scoped_revert_impersonation", e.File()) << c.what;
        } catch (const zef::ResultCodeException& e) {
            EXPECT_FALSE(c.revertThrows) << c.what;
            EXPECT_EQ(c.thrown, e.Code()) << c.what;
            EXPECT_TRUE(e.Message().empty()) << c.what;
            EXPECT_STREQ("zef/system/security/scoped_revert_impersonation", e.File()) << c.what;
        }
        fault.reset();
        // The thread is as it was, except where putting the token back itself failed.
        EXPECT_EQ(std::string(c.faultCall) != "ImpersonateLoggedOnUser",
                  winsim::ThreadImpersonates())
            << c.what;
        // A token that could not be closed is the system's to keep; every other one is closed.
        EXPECT_EQ(std::string(c.faultCall) == "CloseHandle" ? 1u : 0u, winsim::OpenTokenCount())
            << c.what;
        std::vector<std::string> records;
        for (const auto& r : host.tracer.Records())
            records.push_back(std::to_string(r.level) + " " + r.text);
        EXPECT_EQ(c.record.empty() ? std::vector<std::string>{}
                                   : std::vector<std::string>{"300 " + c.record},
                  records)
            << c.what;
        winsim::Reset();
        winsim::SetThreadTokenSlice({true, true});
    }
}

// ---- Normalized paths -------------------------------------------------------------------------

TEST_F(SystemHelpersTest, Normalization) {
    struct Case {
        std::u16string text;
        std::u16string path;
        std::u16string directory;
    };
    const Case cases[] = {
        {u"", u"", u"\\"},
        {u"D:/Apps", u"d:\\apps", u"d:\\apps\\"},
        {u"C:\\Program Files\\WindowsApps\\", u"c:\\program files\\windowsapps\\",
         u"c:\\program files\\windowsapps\\"},
        {u"\\\\SRV/Share", u"\\\\srv\\share", u"\\\\srv\\share\\"},
        // Letters beyond ASCII fold as Windows folds names that it compares ignoring case:
        // Latin-1 and Latin Extended-A, Greek (both small sigmas meet), Cyrillic, Armenian,
        // full-width Latin. The multiplication sign, sharp s, micro sign and the Turkish
        // dotted and dotless i have no partner there and stay.
        {u"C:\\\u00C9T\u00C9\u00C4", u"c:\\\u00E9t\u00E9\u00E4", u"c:\\\u00E9t\u00E9\u00E4\\"},
        {u"\u00D7\u00DF\u00B5\u0130\u0131\u0178\u0141\u017D",
         u"\u00D7\u00DF\u00B5\u0130\u0131\u00FF\u0142\u017E",
         u"\u00D7\u00DF\u00B5\u0130\u0131\u00FF\u0142\u017E\\"},
        {u"\u03A3\u03C2\u0386\u038F\u03AB", u"\u03C3\u03C3\u03AC\u03CE\u03CB",
         u"\u03C3\u03C3\u03AC\u03CE\u03CB\\"},
        {u"\u0416\u0401\u0460\u04C0\u04C1\u0531\uFF21",
         u"\u0436\u0451\u0461\u04CF\u04C2\u0561\uFF41",
         u"\u0436\u0451\u0461\u04CF\u04C2\u0561\uFF41\\"},
        // Unpaired surrogates and other units without case pass unchanged.
        {u"\xD800/\xDFFF", u"\xD800\\\xDFFF", u"\xD800\\\xDFFF\\"},
        {u"/", u"\\", u"\\"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.path, sys::NormalizedPath(wstring_t(c.text.c_str())).view()) << Narrow(c.text);
        EXPECT_EQ(c.directory, sys::NormalizedDirectoryPath(wstring_t(c.text.c_str())).view())
            << Narrow(c.text);
    }
    EXPECT_EQ(sys::NormalizedPath(u"C:/A"), sys::NormalizedPath(u"c:\\a"));
}

TEST_F(SystemHelpersTest, PathsLieInAFolderByWholeNormalizedNames) {
    struct Case {
        std::u16string path;
        std::u16string folder;
        bool lies;
    };
    const Case cases[] = {
        {u"C:\\Mnt\\Vol\\x.txt", u"C:\\Mnt\\Vol\\", true},
        {u"c:/MNT/vol/x.txt", u"C:\\Mnt\\Vol", true},
        {u"C:\\Mnt\\Vol", u"C:\\Mnt\\Vol\\", true},  // the mount folder itself
        {u"C:\\\u00C4\\x", u"c:\\\u00E4\\", true},
        {u"\\\\srv\\share\\x", u"\\\\SRV\\Share\\", true},
        {u"C:\\Mnt\\Volume2\\x.txt", u"C:\\Mnt\\Vol\\", false},
        {u"C:\\Mnt", u"C:\\Mnt\\Vol\\", false},
        {u"C:x.txt", u"C:\\", false},  // drive-relative
        {u"x.txt", u"C:\\", false},
        {u"\\??\\C:\\x.txt", u"C:\\", false},
        {u"C:\\x\\..\\Mnt\\Vol\\x.txt", u"C:\\Mnt\\Vol\\", false},  // nothing resolved
        {u"C:\\x.txt", u"", false},
        {u"\\x.txt", u"\\", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.lies, sys::PathLiesInFolder(c.path, c.folder))
            << Narrow(c.path) << " in " << Narrow(c.folder);
    }
}

// ---- Environment expansion ----------------------------------------------------------------------

TEST_F(SystemHelpersTest, EnvironmentExpansion) {
    const winsim::ScopedEnvironment longValue(u"QorvexLong", std::u16string(400, u'v'));
    const winsim::ScopedEnvironment empty(u"QorvexEmpty", u"");
    struct Case {
        std::u16string text;
        ResultCode expected;
        std::u16string expanded;
    };
    const Case cases[] = {
        {u"%ProgramFiles%\\WindowsApps", 0, u"C:\\Program Files\\WindowsApps"},
        {u"%programfiles%|%PROGRAMW6432%", 0, u"C:\\Program Files|C:\\Program Files"},
        {u"%SystemRoot%\\%windir%", 0, u"C:\\Windows\\C:\\Windows"},
        {u"no references", 0, u"no references"},
        {u"", 0, u""},
        {u"%QorvexLong%!", 0, std::u16string(400, u'v') + u"!"},
        {u"%QorvexEmpty%x", 0, u"x"},
        {u"%Undefined%\\x", 1, u"%Undefined%\\x"},
        {u"%Undefined%%ProgramFiles%", 1, u"%Undefined%C:\\Program Files"},
        {u"%ProgramFiles%%Undefined%", 1, u"C:\\Program Files%Undefined%"},
        {u"100%", 1, u"100%"},
        {u"%ProgramFiles%\\50%", 1, u"C:\\Program Files\\50%"},
        {u"a%ProgramFiles", 1, u"a%ProgramFiles"},
        // Each reference is expanded once: a value that holds a reference is taken as it is.
        {u"%QorvexRef%", 0, u"%ProgramFiles%"},
    };
    const winsim::ScopedEnvironment reference(u"QorvexRef", u"%ProgramFiles%");
    for (const Case& c : cases) {
        wstring_t out(u"untouched");
        EXPECT_EQ(c.expected, sys::ExpandEnvironmentVariables(wstring_t(c.text.c_str()), &out))
            << Narrow(c.text);
        EXPECT_EQ(c.expanded, out.view()) << Narrow(c.text);
    }
    // The text ends at its first NUL.
    wstring_t out;
    const wstring_t withNul(u"%ProgramFiles%\0%Undefined%", 26);
    EXPECT_EQ(0, sys::ExpandEnvironmentVariables(withNul, &out));
    EXPECT_EQ(u"C:\\Program Files", out.view());
}

TEST_F(SystemHelpersTest, EnvironmentExpansionFailuresLeaveTheOutputAlone) {
    struct Case {
        const char* what;
        std::uint32_t nth;  // which ExpandEnvironmentStringsW call fails
        std::uint32_t error;
        ResultCode expected;
    };
    const Case cases[] = {
        {"the size query", 1, 5, kAccessDenied},
        {"the expansion", 2, 8, Code(0x80000041u)},
        {"an expansion of the second reference", 4, 5, kAccessDenied},
        {"a failure without an error", 1, 0, kUnspecifiedPlatform},
    };
    for (const Case& c : cases) {
        const winsim::ScopedFault fault("ExpandEnvironmentStringsW", winsim::FaultMode::Nth, c.nth,
                                        c.error);
        wstring_t out(u"untouched");
        EXPECT_EQ(c.expected, sys::ExpandEnvironmentVariables(u"%ProgramFiles%\\%windir%", &out))
            << c.what;
        EXPECT_EQ(u"untouched", out.view()) << c.what;
    }

    // The variable grew between the size query and the expansion.
    {
        int calls = 0;
        const winsim::ScopedHook<&win::ExpandEnvironmentStringsW> growing(
            [&](win::LPCWSTR source, win::LPWSTR destination, win::DWORD size) -> win::DWORD {
                if (++calls == 2) return size + 5;
                return win::ExpandEnvironmentStringsW(source, destination, size);
            });
        wstring_t out(u"untouched");
        EXPECT_EQ(Code(0x80000040u), sys::ExpandEnvironmentVariables(u"%ProgramFiles%", &out));
        EXPECT_EQ(u"untouched", out.view());
    }

    // Memory runs out while the expansion is built.
    {
        const winsim::ScopedEnvironment huge(u"QorvexHuge", std::u16string(4000, u'h'));
        wstring_t out(u"untouched");
        const auto inUse = winsim::GetHeapStats().bytesInUse;
        winsim::SetHeapLimit(inUse + 1000);
        const ResultCode code = sys::ExpandEnvironmentVariables(u"%QorvexHuge%", &out);
        winsim::SetHeapLimit(winsim::kDefaultHeapLimit);
        EXPECT_EQ(Code(0x80000041u), code);
        EXPECT_EQ(u"untouched", out.view());
    }
}

// ---- The caches across threads ----------------------------------------------------------------

TEST_F(SystemHelpersTest, CachesFilledFromSeveralThreadsAtOnceAgree) {
    winsim::OsVersion os;
    os.wow64 = true;
    const winsim::ScopedOs scopedOs(os);
    constexpr int kThreads = 8;
    for (int round = 0; round < 20; ++round) {
        sys::testing::ResetSystemCaches();
        std::atomic<int> waiting{kThreads};
        std::vector<const win::RTL_OSVERSIONINFOEXW*> versions(kThreads);
        std::vector<const sys::OsInfoRecord*> infos(kThreads);
        std::vector<ResultCode> wow64(kThreads);
        std::vector<std::thread> threads;
        for (int i = 0; i < kThreads; ++i) {
            threads.emplace_back([&, i] {
                waiting.fetch_sub(1);
                while (waiting.load() > 0) std::this_thread::yield();
                if (i % 2 == 0) {
                    EXPECT_EQ(0, sys::OsInfo(&infos[i]));
                    EXPECT_EQ(0, sys::OsVersionInfo(&versions[i]));
                } else {
                    EXPECT_EQ(0, sys::OsVersionInfo(&versions[i]));
                    EXPECT_EQ(0, sys::OsInfo(&infos[i]));
                }
                wow64[i] = sys::IsWow64();
                const sys::wow64_fs_redirection_guard guard;
            });
        }
        for (auto& t : threads) t.join();
        for (int i = 0; i < kThreads; ++i) {
            EXPECT_EQ(versions[0], versions[i]);
            EXPECT_EQ(infos[0], infos[i]);
            EXPECT_EQ(0, wow64[i]);
        }
        EXPECT_EQ(19045u, versions[0]->dwBuildNumber);
        EXPECT_EQ(1u, infos[0]->architectureClass);
    }
}

}  // namespace
