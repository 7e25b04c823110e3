// TcgLogProviderImpl end to end on the simulated machine: the component is created through its
// factory (ComponentObject with the reference host's services) and reads registry values and
// archived logs that each test puts on the machine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "component/antimalware/source/trusted_boot/tcg_log_provider/source/cryptography.h"
#include "component/antimalware/source/trusted_boot/tcg_log_provider/source/log_history.h"
#include "component/antimalware/source/trusted_boot/tcg_log_provider/source/tcg_log_provider_factory.h"
#include "component/antimalware/source/trusted_boot/tcg_log_provider/source/tcg_log_provider_impl.h"
#include "qorvex/tcg_log.h"
#include "services/host_services.h"
#include "winsim/sim.h"
#include "zef/rtl/component_object.h"

// ---- A writer that changes a log while the provider reads it -------------------------------
//
// The simulated machine answers every call at once, so a file cannot change between two calls
// on its own. The fixture therefore hooks win::GetFileSize on the test's thread: the hook asks
// the simulated call and then runs a scripted action once the armed number of size queries has
// been answered, the way another writer on a real machine could rewrite a log right after its
// size was taken.
namespace {
std::function<void()> g_afterSizeQuery;
std::atomic<int> g_sizeQueriesUntilAction{0};

win::DWORD SizeQueryThenScriptedWriter(win::HANDLE file, win::DWORD* high) {
    const win::DWORD size = win::GetFileSize(file, high);
    if (g_sizeQueriesUntilAction > 0 && --g_sizeQueriesUntilAction == 0) {
        auto action = std::move(g_afterSizeQuery);
        g_afterSizeQuery = nullptr;
        action();
    }
    return size;
}
}  // namespace

namespace {

using antimalware::trusted_boot::CreateTcgLogProvider;
using antimalware::trusted_boot::TcgLogProviderImpl;
using qorvex::IRawTcgLog;
using qorvex::ITcgLogProvider;
using testing::ElementsAre;
using testing::ElementsAreArray;

constexpr zef::ResultCode kUnknownException = static_cast<zef::ResultCode>(0x80000072u);
constexpr zef::ResultCode kOutOfMemory = static_cast<zef::ResultCode>(0x80000041u);
constexpr zef::ResultCode kNotFound = static_cast<zef::ResultCode>(0x8000004Cu);
constexpr zef::ResultCode kNoInterface = static_cast<zef::ResultCode>(0x80000001u);

constexpr char16_t kTpmKey[] = u"System\\CurrentControlSet\\services\\TPM";
constexpr char16_t kIntegrityKey[] = u"System\\CurrentControlSet\\Control\\IntegrityServices";

IRawTcgLog* const kUntouched = reinterpret_cast<IRawTcgLog*>(std::uintptr_t{0x5A5A5A5A});

// ---- Logs in the SHA-1 event layout -------------------------------------------------------

class LogBuilder {
public:
    // An EV_EVENT_TAG event in PCR 13 holding a loaded-module aggregation of file-path events.
    LogBuilder& FilePaths(const std::vector<std::u16string>& paths) {
        std::vector<std::uint8_t> children;
        for (const std::u16string& path : paths) {
            std::vector<std::uint8_t> text;
            for (char16_t unit : path) Put16(text, unit);
            Put16(text, 0);
            Sipa(children, 0x00070001u, text);
        }
        std::vector<std::uint8_t> data;
        Sipa(data, 0x40010003u, children);
        return Event(13, 6, 0x00, data);
    }
    // An EV_COMPACT_HASH event whose digest is 20 times fill.
    LogBuilder& CompactHash(std::uint32_t pcr, std::uint8_t fill) {
        return Event(pcr, 12, fill, {0x01, 0x02, 0x03, 0x04});
    }
    LogBuilder& Event(std::uint32_t pcr, std::uint32_t type, std::uint8_t digestFill,
                      const std::vector<std::uint8_t>& data) {
        Put32(m_bytes, pcr);
        Put32(m_bytes, type);
        m_bytes.insert(m_bytes.end(), 20, digestFill);
        Put32(m_bytes, static_cast<std::uint32_t>(data.size()));
        m_bytes.insert(m_bytes.end(), data.begin(), data.end());
        return *this;
    }
    // A closing EV_NO_ACTION header, so that the last real event does not end the log.
    std::vector<std::uint8_t> Build() {
        Event(0, 3, 0, {});
        return m_bytes;
    }

private:
    static void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
        out.push_back(static_cast<std::uint8_t>(v));
        out.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    static void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    static void Sipa(std::vector<std::uint8_t>& out, std::uint32_t type,
                     const std::vector<std::uint8_t>& data) {
        Put32(out, type);
        Put32(out, static_cast<std::uint32_t>(data.size()));
        out.insert(out.end(), data.begin(), data.end());
    }

    std::vector<std::uint8_t> m_bytes;
};

std::u16string ResumePath(std::uint32_t resume) {
    return u"\\Windows\\System32\\drivers\\resume" + std::u16string(1, u'0' + resume % 10) +
           u".sys";
}

// A log whose module path names its resume and whose PCR 8 digest is the resume + 1.
std::vector<std::uint8_t> ResumeLog(std::uint32_t resume) {
    return LogBuilder()
        .FilePaths({ResumePath(resume)})
        .CompactHash(8, static_cast<std::uint8_t>(resume + 1))
        .Build();
}

std::string LogName(std::uint32_t boot, std::uint32_t resume) {
    char name[32];
    std::snprintf(name, sizeof name, "%010u-%010u.log", boot, resume);
    return name;
}

std::u16string LogPath(std::uint32_t boot, std::uint32_t resume,
                       const std::u16string& windows = u"C:\\Windows") {
    return windows + u"\\Logs\\MeasuredBoot\\" + winsim::Utf16FromUtf8(LogName(boot, resume));
}

std::string Utf8(const zef::wstring_t& text) {
    return winsim::Utf8FromUtf16(std::u16string_view(text.data(), text.size()));
}

// The line of cryptography.cpp that throws every platform failure, as the exception records it.
std::uint32_t ApiFailureThrowLine() {
    std::ifstream source(std::string(QORVEX_SOURCE_DIR) +
                         "/component/antimalware/source/trusted_boot/tcg_log_provider/source/"
                         "cryptography.cpp");
    std::string line;
    for (std::uint32_t number = 1; std::getline(source, line); ++number) {
        if (line.find("ZEF_THROW(zef::RuntimeError") != std::string::npos) return number;
    }
    ADD_FAILURE() << "no RuntimeError throw site in cryptography.cpp";
    return 0;
}

std::string ApiFailureRecord(const std::string& message) {
    return "RuntimeError - " + message +
           ". At component/antimalware/source/trusted_boot/tcg_log_provider/source/"
           "cryptography(" +
           std::to_string(ApiFailureThrowLine()) + ") ";
}

std::vector<std::string> CallArgs(const std::string& call) {
    std::vector<std::string> args;
    for (const winsim::JournalEntry& entry : winsim::Journal()) {
        if (entry.call == call) args.push_back(entry.args);
    }
    return args;
}

// The archived log names CreateFileW was asked to open, in order.
std::vector<std::string> OpenedLogs() {
    std::vector<std::string> names;
    for (const std::string& args : CallArgs("CreateFileW")) {
        const std::size_t end = args.find(".log\"");
        const std::size_t start = args.rfind('\\', end);
        names.push_back(args.substr(start + 1, end + 4 - start - 1));
    }
    return names;
}

// ---- Fixture ------------------------------------------------------------------------------

class TcgLogProviderTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CreateTcgLogProvider(&m_host.locator, qorvex::kIidTcgLogProvider,
                                       reinterpret_cast<void**>(&m_provider)),
                  0);
        m_objectsBefore = zef::ModuleObjectCount().load();
    }

    void TearDown() override {
        g_sizeQueriesUntilAction = 0;
        g_afterSizeQuery = nullptr;
        if (m_provider != nullptr) {
            EXPECT_EQ(m_provider->Release(), 0u);
        }
        EXPECT_EQ(m_host.Leftovers(), "");
    }

    static void SetCounters(std::uint32_t boot, std::uint32_t resume) {
        winsim::SetRegistryDword(kTpmKey, u"OsBootCount", boot);
        winsim::SetRegistryDword(kIntegrityKey, u"OsResumeCount", resume);
    }

    // Boot 17 with resumes 0 to resumeCount, each with its ResumeLog.
    static void PutBoot(std::uint32_t resumeCount, std::uint32_t boot = 17) {
        SetCounters(boot, resumeCount);
        for (std::uint32_t r = 0; r <= resumeCount; ++r)
            winsim::PutFile(LogPath(boot, r), ResumeLog(r));
    }

    // GetRawTcgLog, then checks what must hold after every call, successful or not: no handle
    // left open, the folder path freed exactly once, no process-heap block left behind beyond
    // the returned object, no result object alive after a failure.
    zef::ResultCode Read(IRawTcgLog** log) {
        const winsim::HeapStats before = winsim::GetHeapStats();
        const zef::ResultCode code = m_provider->GetRawTcgLog(log);
        const winsim::HeapStats after = winsim::GetHeapStats();
        EXPECT_EQ(winsim::OpenHandleCount(), 0u);
        EXPECT_EQ(after.coTaskMemLiveBlocks, 0u);
        EXPECT_EQ(after.coTaskMemInvalidFrees, 0u);
        EXPECT_EQ(after.invalidFrees, before.invalidFrees);
        if (code < 0) {
            EXPECT_EQ(after.liveBlocks, before.liveBlocks);
            EXPECT_EQ(zef::ModuleObjectCount().load(), m_objectsBefore);
        }
        return code;
    }

    std::vector<std::string> RecordTexts(std::uint32_t level) const {
        std::vector<std::string> texts;
        for (const auto& record : m_host.tracer.Records()) {
            if (record.level == level) texts.push_back(record.text);
        }
        return texts;
    }

    winsim::ScopedMachine m_machine;
    winsim::ScopedHook<&win::GetFileSize> m_writer{SizeQueryThenScriptedWriter};
    qorvex::host::HostServicesBundle m_host;
    ITcgLogProvider* m_provider = nullptr;
    std::uint32_t m_objectsBefore = 0;
};

std::vector<std::string> ModulePaths(IRawTcgLog* log) {
    zef::vector<zef::wstring_t> paths;
    EXPECT_EQ(log->GetModulePaths(paths), 0);
    std::vector<std::string> texts;
    for (const zef::wstring_t& path : paths) texts.push_back(Utf8(path));
    return texts;
}

// ---- Reading every resume of the boot --------------------------------------------------------

struct BootCase {
    std::uint32_t boot;
    std::uint32_t resumeCount;
};

class TcgLogProviderBootTest : public TcgLogProviderTest,
                               public testing::WithParamInterface<BootCase> {};

TEST_P(TcgLogProviderBootTest, ReadsEveryResumeOfTheBootInOrder) {
    const BootCase c = GetParam();
    PutBoot(c.resumeCount, c.boot);
    winsim::PutFile(LogPath(c.boot, c.resumeCount + 1), ResumeLog(9));  // a later resume: unread
    winsim::PutFile(LogPath(c.boot + 1, 0), ResumeLog(8));              // another boot: unread
    winsim::ScopedJournal journal;

    IRawTcgLog* log = kUntouched;
    ASSERT_EQ(Read(&log), 0);
    ASSERT_NE(log, kUntouched);

    std::vector<std::string> expectedNames;
    std::vector<std::string> expectedPaths;
    for (std::uint32_t r = 0; r <= c.resumeCount; ++r) {
        // Each log is opened once to learn its size and once to read it.
        expectedNames.push_back(LogName(c.boot, r));
        expectedNames.push_back(LogName(c.boot, r));
        expectedPaths.push_back(winsim::Utf8FromUtf16(ResumePath(r)));
    }
    EXPECT_THAT(OpenedLogs(), ElementsAreArray(expectedNames));
    EXPECT_EQ(CallArgs("ReadFile").size(), c.resumeCount + 1);
    EXPECT_THAT(ModulePaths(log), ElementsAreArray(expectedPaths));

    // The digest is the one of the last log.
    std::uint8_t digest[20] = {};
    EXPECT_EQ(log->GetPcr8CompactHash(digest), 0);
    EXPECT_THAT(digest, testing::Each(static_cast<std::uint8_t>(c.resumeCount + 1)));
    EXPECT_EQ(log->GetPcr4CompactHash(digest), kNotFound);

    char resumeHex[16];
    std::snprintf(resumeHex, sizeof resumeHex, "0x%x", c.resumeCount);
    EXPECT_THAT(
        RecordTexts(700),
        ElementsAre(
            "TcgLogProviderImpl::GetRawTcgLog: entering GetRawTcgLog",
            std::string("TcgLogProviderImpl::GetRawTcgLog: Current resume count = ") + resumeHex,
            "TcgLogProviderImpl::GetRawTcgLog: exiting GetRawTcgLog"));
    EXPECT_THAT(RecordTexts(300), testing::IsEmpty());

    // The caller's reference is the only one; the object answers for its interface and for 0.
    void* same = nullptr;
    EXPECT_EQ(log->QueryInterface(0, &same), 0);
    EXPECT_EQ(same, log);
    EXPECT_EQ(log->QueryInterface(qorvex::kIidRawTcgLog, &same), 0);
    EXPECT_EQ(same, log);
    EXPECT_EQ(log->Release(), 2u);
    EXPECT_EQ(log->Release(), 1u);
    EXPECT_EQ(log->Release(), 0u);
    EXPECT_EQ(zef::ModuleObjectCount().load(), m_objectsBefore);
}

INSTANTIATE_TEST_SUITE_P(Boots, TcgLogProviderBootTest,
                         testing::Values(BootCase{17, 0}, BootCase{17, 2},
                                         BootCase{4294967295u, 1}),
                         [](const testing::TestParamInfo<BootCase>& info) {
                             return "boot_" + std::to_string(info.param.boot) + "_resumes_" +
                                    std::to_string(info.param.resumeCount);
                         });

TEST_F(TcgLogProviderTest, MakesTheWindowsCallsAsWindowsExpectsThem) {
    PutBoot(0);
    winsim::ScopedJournal journal;
    IRawTcgLog* log = nullptr;
    ASSERT_EQ(Read(&log), 0);
    log->Release();

    EXPECT_THAT(
        CallArgs("RegGetValueW"),
        ElementsAre("HKLM, \"System\\CurrentControlSet\\services\\TPM\", \"OsBootCount\", 0x10",
                    "HKLM, \"System\\CurrentControlSet\\Control\\IntegrityServices\", "
                    "\"OsResumeCount\", 0x10"));
    const std::vector<std::string> opens = CallArgs("CreateFileW");
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_THAT(opens[0], testing::StartsWith("\"C:\\Windows\\Logs\\MeasuredBoot\\0000000017-"
                                              "0000000000.log\", 0x80000000, 0x1, "));
    EXPECT_THAT(opens[0], testing::HasSubstr(", 3, 0x80, "));
    EXPECT_THAT(
        CallArgs("SHGetKnownFolderPath"),
        testing::Each(testing::StartsWith("{F38BF404-1D43-42F2-9305-67DE0B28FC23}, 0x0, ")));
    // Every folder path is freed and every handle closed, each right after its use: the folder
    // text first, then the file.
    std::vector<std::string> calls;
    for (const std::string& call : winsim::JournalCalls()) {
        if (call != "StringCchPrintfW") calls.push_back(call);
    }
    EXPECT_THAT(calls, ElementsAre("RegGetValueW", "RegGetValueW",                        //
                                   "SHGetKnownFolderPath", "CreateFileW", "GetFileSize",  //
                                   "CoTaskMemFree", "CloseHandle",                        //
                                   "SHGetKnownFolderPath", "CreateFileW", "GetFileSize",  //
                                   "ReadFile", "CoTaskMemFree", "CloseHandle"));
}

TEST_F(TcgLogProviderTest, EmptyLogIsNeitherReadNorParsed) {
    SetCounters(17, 1);
    winsim::PutFile(LogPath(17, 0), {});
    winsim::PutFile(LogPath(17, 1), ResumeLog(1));
    winsim::ScopedJournal journal;

    IRawTcgLog* log = nullptr;
    ASSERT_EQ(Read(&log), 0);
    EXPECT_EQ(CallArgs("ReadFile").size(), 1u);  // only resume 1
    EXPECT_THAT(ModulePaths(log), ElementsAre("\\Windows\\System32\\drivers\\resume1.sys"));
    log->Release();

    // Only empty logs: a valid, empty answer.
    SetCounters(17, 0);
    winsim::PutFile(LogPath(17, 0), {});
    ASSERT_EQ(Read(&log), 0);
    zef::vector<zef::wstring_t> paths;
    EXPECT_EQ(log->GetModulePaths(paths), kNotFound);
    log->Release();
}

TEST_F(TcgLogProviderTest, LogNameThatJustFitsTheBufferIsRead) {
    // 259 units and the terminator: the folder takes what the 44 units of the name leave.
    const std::u16string windows = u"C:\\" + std::u16string(259 - 44 - 3, u'W');
    winsim::SetWindowsDirectory(windows);
    SetCounters(17, 0);
    winsim::PutFile(LogPath(17, 0, windows), ResumeLog(0));
    IRawTcgLog* log = nullptr;
    ASSERT_EQ(Read(&log), 0);
    EXPECT_THAT(ModulePaths(log), ElementsAre("\\Windows\\System32\\drivers\\resume0.sys"));
    log->Release();
}

// ---- Failures --------------------------------------------------------------------------------

using qorvex::host::HostServicesBundle;

struct FailureCase {
    const char* name;
    // Breaks boot 17 with resumes 0 to 2, or the host.
    std::function<void(HostServicesBundle&)> breakMachine;
    zef::ResultCode code;
    // The message of the RuntimeError thrown in cryptography.cpp; for other failures, the
    // start of the level-300 record.
    std::string message;
    bool apiFailure;
};

std::string ReadFailed(const char* hr) {
    return std::string("TpmAttGetPlatformLogFromArchive has been failed, HRESULT = ") + hr;
}
std::string CountersFailed(const char* hr) {
    return std::string("TpmAttGetPlatformCounters has been failed, HRESULT = ") + hr;
}

std::vector<FailureCase> FailureCases() {
    using winsim::FaultMode;
    using winsim::InjectFault;
    std::vector<FailureCase> cases;
    auto api = [&](const char* name, std::function<void()> breakMachine,
                   const std::string& message) {
        cases.push_back({name, [breakMachine](HostServicesBundle&) { breakMachine(); },
                         kUnknownException, message, true});
    };
    api(
        "missing_log_of_one_resume", [] { winsim::RemoveFile(LogPath(17, 1)); },
        ReadFailed("80070002"));
    api(
        "missing_boot_count", [] { winsim::RemoveRegistryValue(kTpmKey, u"OsBootCount"); },
        CountersFailed("80070002"));
    api(
        "missing_resume_count",
        [] { winsim::RemoveRegistryValue(kIntegrityKey, u"OsResumeCount"); },
        CountersFailed("80070002"));
    api(
        "boot_count_not_a_dword", [] { winsim::SetRegistryString(kTpmKey, u"OsBootCount", u"17"); },
        CountersFailed("8007065e"));
    api(
        "registry_refused", [] { InjectFault("RegGetValueW", FaultMode::Once, 0, 5); },
        CountersFailed("80070005"));
    api(
        "negative_registry_status",
        [] { InjectFault("RegGetValueW", FaultMode::Nth, 2, 0x80070013u); },
        CountersFailed("80070013"));
    api(
        "no_windows_folder", [] { winsim::SetKnownFolder(win::FOLDERID_Windows, u""); },
        ReadFailed("80070002"));
    api(
        "known_folder_query_fails",
        [] { InjectFault("SHGetKnownFolderPath", FaultMode::Nth, 3, 0x80004005u); },
        ReadFailed("80004005"));
    api(
        "windows_folder_too_long_for_the_name",
        [] { winsim::SetWindowsDirectory(u"C:\\" + std::u16string(259 - 44 - 2, u'W')); },
        ReadFailed("8007007a"));
    api(
        "name_formatting_fails",
        [] { InjectFault("StringCchPrintfW", FaultMode::Once, 0, 0x80070057u); },
        ReadFailed("80070057"));
    api(
        "open_fails", [] { InjectFault("CreateFileW", FaultMode::Nth, 3, 32); },
        ReadFailed("80070020"));
    api(
        "open_fails_without_a_last_error",
        [] { InjectFault("CreateFileW", FaultMode::Once, 0, 0); }, ReadFailed("80004005"));
    api(
        "size_query_fails", [] { InjectFault("GetFileSize", FaultMode::Nth, 4, 6); },
        ReadFailed("80070006"));
    api(
        "read_fails", [] { InjectFault("ReadFile", FaultMode::Nth, 2, 1117); },
        ReadFailed("8007045d"));
    api(
        "log_of_4_gib_or_more",
        [] { winsim::PutSparseFile(LogPath(17, 2), ResumeLog(2), (std::uint64_t{1} << 32) + 64); },
        ReadFailed("800700df"));
    api(
        "log_of_4_gib_minus_1",
        [] { winsim::PutSparseFile(LogPath(17, 0), ResumeLog(0), 0xFFFFFFFFu); },
        ReadFailed("800700df"));
    api(
        "log_grows_between_size_query_and_read",
        [] {
            g_afterSizeQuery = [] {
                std::vector<std::uint8_t> grown = ResumeLog(1);
                grown.push_back(0);
                winsim::PutFile(LogPath(17, 1), std::move(grown));
            };
            g_sizeQueriesUntilAction = 3;  // right after resume 1's size was taken
        },
        ReadFailed("8007007a"));
    api(
        "resume_count_0xffffffff_ends_at_the_first_missing_log",
        [] { winsim::SetRegistryDword(kIntegrityKey, u"OsResumeCount", 0xFFFFFFFFu); },
        ReadFailed("80070002"));

    cases.push_back({"process_heap_exhausted",
                     [](HostServicesBundle&) {
                         winsim::PutFile(LogPath(17, 1), std::vector<std::uint8_t>(1 << 20));
                         winsim::SetHeapLimit(winsim::GetHeapStats().bytesInUse + (1 << 19));
                     },
                     kOutOfMemory, "", false});
    cases.push_back(
        {"host_refuses_the_result_objects_allocator",
         [](HostServicesBundle& host) { host.locator.Refuse(zef::kIidAllocator, kNoInterface); },
         kNoInterface, "GetInterfaceException - ", false});
    cases.push_back(
        {"host_refuses_the_result_objects_tracer",
         [](HostServicesBundle& host) { host.locator.Refuse(zef::kIidTracer, kNoInterface); },
         kNoInterface, "GetInterfaceException - ", false});
    return cases;
}

class TcgLogProviderFailureTest : public TcgLogProviderTest,
                                  public testing::WithParamInterface<FailureCase> {};

TEST_P(TcgLogProviderFailureTest, FailsWithTheCodeAndOneRecordAndLeavesTheOutPointer) {
    const FailureCase& c = GetParam();
    PutBoot(2);
    c.breakMachine(m_host);
    winsim::ScopedJournal journal;

    IRawTcgLog* log = kUntouched;
    EXPECT_EQ(Read(&log), c.code);
    EXPECT_EQ(log, kUntouched);

    const std::vector<std::string> failures = RecordTexts(300);
    ASSERT_EQ(failures.size(), 1u);
    if (c.apiFailure) {
        EXPECT_EQ(failures[0], ApiFailureRecord(c.message));
    } else {
        EXPECT_THAT(failures[0], testing::StartsWith(c.message));
    }
    EXPECT_THAT(
        RecordTexts(700),
        testing::AllOf(testing::Contains("TcgLogProviderImpl::GetRawTcgLog: entering GetRawTcgLog"),
                       testing::Not(testing::Contains(testing::HasSubstr("exiting")))));
}

INSTANTIATE_TEST_SUITE_P(Failures, TcgLogProviderFailureTest, testing::ValuesIn(FailureCases()),
                         [](const testing::TestParamInfo<FailureCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(TcgLogProviderTest, ResumeCount0xFFFFFFFFStopsAtTheFirstMissingLog) {
    PutBoot(2);
    winsim::SetRegistryDword(kIntegrityKey, u"OsResumeCount", 0xFFFFFFFFu);
    winsim::ScopedJournal journal;
    IRawTcgLog* log = kUntouched;
    EXPECT_EQ(Read(&log), kUnknownException);
    EXPECT_THAT(OpenedLogs(),
                ElementsAre(LogName(17, 0), LogName(17, 0), LogName(17, 1), LogName(17, 1),
                            LogName(17, 2), LogName(17, 2), LogName(17, 3)));
    EXPECT_THAT(RecordTexts(700), testing::Contains("TcgLogProviderImpl::GetRawTcgLog: Current "
                                                    "resume count = 0xffffffff"));
}

// A log that shrinks between its size query and its read: the bytes that are no longer there
// are not read as zeros. Here the shortened log ends inside a file-path event; padded with zeros
// up to the size first measured, that event would come out as a path of text and zeros.
TEST_F(TcgLogProviderTest, LogThatShrinksWhileReadIsParsedAsWhatWasRead) {
    SetCounters(17, 0);
    const std::vector<std::uint8_t> full =
        LogBuilder()
            .FilePaths({u"\\Windows\\System32\\drivers\\a-rather-long-driver-name.sys"})
            .Build();
    winsim::PutFile(LogPath(17, 0), std::vector<std::uint8_t>(full.size() + 256, 0xEE));
    g_afterSizeQuery = [&] {
        winsim::PutFile(LogPath(17, 0),
                        std::vector<std::uint8_t>(full.begin(), full.begin() + 32 + 16 + 8 + 20));
    };
    g_sizeQueriesUntilAction = 1;

    IRawTcgLog* log = kUntouched;
    ASSERT_EQ(Read(&log), 0);
    zef::vector<zef::wstring_t> paths;
    EXPECT_EQ(log->GetModulePaths(paths), kNotFound);
    log->Release();
}

// ---- Tracing -------------------------------------------------------------------------------

// A provider that was given no tracer at all (HostServices allows a null one).
class UntracedProvider final : public TcgLogProviderImpl {
public:
    using TcgLogProviderImpl::TcgLogProviderImpl;
    std::uint32_t AddRef() override { return 1; }
    std::uint32_t Release() override { return 1; }
    zef::ResultCode QueryInterface(zef::InterfaceId, void**) override { return kNoInterface; }
};

TEST_F(TcgLogProviderTest, WithoutTracerOrWithARefusingOneTheResultsAreTheSame) {
    PutBoot(1);
    zef::HostServices services(&m_host.locator);
    services.tracer.reset();
    UntracedProvider untraced(std::move(services));
    m_host.tracer.Clear();

    IRawTcgLog* log = nullptr;
    ASSERT_EQ(untraced.GetRawTcgLog(&log), 0);
    EXPECT_THAT(ModulePaths(log), ElementsAre("\\Windows\\System32\\drivers\\resume0.sys",
                                              "\\Windows\\System32\\drivers\\resume1.sys"));
    log->Release();

    m_host.tracer.RefuseRecords(true);
    ASSERT_EQ(Read(&log), 0);
    log->Release();

    winsim::RemoveFile(LogPath(17, 1));
    log = kUntouched;
    EXPECT_EQ(untraced.GetRawTcgLog(&log), kUnknownException);
    EXPECT_EQ(Read(&log), kUnknownException);
    EXPECT_EQ(log, kUntouched);
    EXPECT_THAT(m_host.tracer.Records(), testing::IsEmpty());
    EXPECT_EQ(m_host.tracer.OpenBuffers(), 0u);
}

// ---- Concurrency ---------------------------------------------------------------------------

TEST_F(TcgLogProviderTest, ConcurrentCallsEachBuildTheirOwnResult) {
    PutBoot(2);
    constexpr int kThreads = 4;
    constexpr int kCalls = 25;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kCalls; ++i) {
                IRawTcgLog* log = nullptr;
                if (m_provider->GetRawTcgLog(&log) != 0) {
                    ++failures;
                    continue;
                }
                zef::vector<zef::wstring_t> paths;
                if (log->GetModulePaths(paths) != 0 || paths.size() != 3) ++failures;
                log->Release();
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(winsim::OpenHandleCount(), 0u);
    EXPECT_EQ(zef::ModuleObjectCount().load(), m_objectsBefore);
}

// ---- The reading steps on their own ------------------------------------------------------------

TEST(LogHistoryTest, RefusesAResumeIndexPastTheResumeCount) {
    winsim::ScopedMachine machine;
    const antimalware::trusted_boot::LogHistory history(17, 2);
    try {
        history.GetLog(3);
        ADD_FAILURE() << "no exception";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "LogHistory: invalid resume count");
    }
}

TEST(TpmAttGetPlatformLogFromArchiveTest, WithoutAByteCountTheArgumentIsInvalid) {
    winsim::ScopedMachine machine;
    try {
        antimalware::trusted_boot::TpmAttGetPlatformLogFromArchive(17, 0, nullptr, 0, nullptr);
        ADD_FAILURE() << "no exception";
    } catch (const zef::RuntimeError& e) {
        EXPECT_EQ(Utf8(e.Message()), ReadFailed("80070057"));
    }
    EXPECT_EQ(winsim::GetHeapStats().coTaskMemLiveBlocks, 0u);
}

TEST_F(TcgLogProviderTest, NullOutPointerIsRefusedBeforeAnyLogIsRead) {
    PutBoot(0);
    winsim::ScopedJournal journal;
    EXPECT_EQ(m_provider->GetRawTcgLog(nullptr), zef::rc::kInvalidArgument);
    EXPECT_TRUE(CallArgs("CreateFileW").empty());
}

}  // namespace
