// RawTcgLogImpl: the object GetRawTcgLog hands out. Interface rules, what the accessors copy,
// how several logs accumulate, object counting, and failures of the host and of memory.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "component/antimalware/source/trusted_boot/tcg_log_provider/source/raw_tcg_log_impl.h"
#include "services/host_services.h"
#include "tcglog/tcg_log_builder.h"
#include "winsim/sim.h"
#include "zef/rtl/component_object.h"
#include "zef/rtl/error_handling/exception.h"

namespace {

using antimalware::trusted_boot::RawTcgLogImpl;
using namespace qorvex::tools;
using testing::ElementsAre;

constexpr zef::ResultCode kNotFound = static_cast<zef::ResultCode>(0x8000004Cu);
constexpr zef::ResultCode kNoInterface = static_cast<zef::ResultCode>(0x80000001u);
constexpr zef::ResultCode kOutOfMemory = static_cast<zef::ResultCode>(0x80000041u);
constexpr zef::ResultCode kInvalidArgument = static_cast<zef::ResultCode>(0x80000046u);

using Tracker = zef::InstanceTracker<RawTcgLogImpl>;

zef::vector<std::uint8_t> Buffer(const Bytes& bytes) {
    zef::vector<std::uint8_t> buffer;
    buffer.reserve(bytes.size());
    for (const std::uint8_t byte : bytes) buffer.push_back(byte);
    return buffer;
}

std::vector<std::u16string> Paths(const zef::vector<zef::wstring_t>& paths) {
    std::vector<std::u16string> out;
    for (const zef::wstring_t& path : paths) out.emplace_back(path.view());
    return out;
}

Bytes Text(std::string_view text) {
    return ByteWriter().Ascii(text).Take();
}

// A log with the given module paths (long enough to leave the strings' inline buffer) in one
// trust boundary, and compact hashes of the given data in PCR 4 and 8 when not empty.
Bytes Log(LogLayout layout, std::initializer_list<std::u16string_view> paths,
          std::string_view pcr4 = {}, std::string_view pcr8 = {}) {
    TcgLogBuilder builder = TcgLogBuilder::ForLayout(layout);
    std::vector<Bytes> modules;
    for (const std::u16string_view path : paths) {
        modules.push_back(SipaLoadedModule(path, 0x1000, 0x2000));
    }
    builder.Add({Separator(0), EventTag(13, SipaTrustBoundary(modules))});
    if (!pcr4.empty()) builder.Add(CompactHash(4, Text(pcr4)));
    if (!pcr8.empty()) builder.Add(CompactHash(8, Text(pcr8)));
    return builder.Build();
}

class RawTcgLogTest : public testing::Test {
protected:
    ~RawTcgLogTest() override {
        EXPECT_EQ(zef::ModuleObjectCount().load(), m_objects);
        EXPECT_EQ(Tracker::LiveCount(), m_live);
        EXPECT_EQ(Tracker::Fold(), m_fold);
        EXPECT_EQ(m_host.Leftovers(), "");
    }

    zef::ref_ptr<RawTcgLogImpl> Create() { return RawTcgLogImpl::Create(&m_host.locator); }

    winsim::ScopedMachine m_machine;
    qorvex::host::HostServicesBundle m_host;
    const std::uint32_t m_objects = zef::ModuleObjectCount().load();
    const std::uint32_t m_live = Tracker::LiveCount();
    const std::uint64_t m_fold = Tracker::Fold();
};

TEST_F(RawTcgLogTest, CountsReferencesAndDestroysItselfAtZero) {
    RawTcgLogImpl* raw = nullptr;
    {
        zef::ref_ptr<RawTcgLogImpl> log = Create();
        raw = log.get();
        EXPECT_EQ(zef::ModuleObjectCount().load(), m_objects + 1);
        EXPECT_EQ(Tracker::LiveCount(), m_live + 1);
        EXPECT_NE(Tracker::Fold(), m_fold);
        EXPECT_EQ(m_host.locator.RefCount(), 1u);
        EXPECT_EQ(raw->AddRef(), 2u);
        EXPECT_EQ(raw->Release(), 1u);
        raw->AddRef();
    }
    EXPECT_EQ(Tracker::LiveCount(), m_live + 1) << "one reference still held";
    EXPECT_EQ(raw->Release(), 0u);
}

TEST_F(RawTcgLogTest, AnswersQueryInterfaceForItsOwnIdAndZeroOnly) {
    zef::ref_ptr<RawTcgLogImpl> log = Create();
    for (const zef::InterfaceId iid : {zef::kIidObject, qorvex::kIidRawTcgLog}) {
        void* out = nullptr;
        EXPECT_EQ(log->QueryInterface(iid, &out), 0);
        EXPECT_EQ(out, static_cast<qorvex::IRawTcgLog*>(log.get()));
        EXPECT_EQ(log->Release(), 1u) << "the query added one reference";
    }
    for (const zef::InterfaceId iid : {qorvex::kIidTcgLogProvider, zef::kIidTracer, 0xFFFFFFFFu}) {
        int sentinel = 0;
        void* out = &sentinel;
        EXPECT_EQ(log->QueryInterface(iid, &out), kNoInterface);
        EXPECT_EQ(out, &sentinel) << "left as it was";
    }
    EXPECT_EQ(log->QueryInterface(qorvex::kIidRawTcgLog, nullptr), kInvalidArgument);
    EXPECT_EQ(log->AddRef(), 2u);
    log->Release();
}

TEST_F(RawTcgLogTest, EmptyObjectAnswersNotFoundAndWritesNothing) {
    zef::ref_ptr<RawTcgLogImpl> log = Create();
    log->AddLog(Buffer(Log(LogLayout::Sha1, {})));
    log->AddLog({});

    zef::vector<zef::wstring_t> paths;
    paths.push_back(zef::wstring_t(u"caller's own"));
    EXPECT_EQ(log->GetModulePaths(paths), kNotFound);
    EXPECT_THAT(Paths(paths), ElementsAre(u"caller's own"));

    std::uint8_t digest[20];
    std::fill(std::begin(digest), std::end(digest), 0xAA);
    EXPECT_EQ(log->GetPcr4CompactHash(digest), kNotFound);
    EXPECT_EQ(log->GetPcr8CompactHash(digest), kNotFound);
    EXPECT_EQ(log->GetPcr4CompactHash(nullptr), kInvalidArgument);
    EXPECT_EQ(Bytes(std::begin(digest), std::end(digest)), Bytes(20, 0xAA));
}

// The caller's vector is emptied and gets independent copies; a vector with a host allocator
// keeps it.
TEST_F(RawTcgLogTest, CopiesPathsAndDigestsOut) {
    zef::ref_ptr<RawTcgLogImpl> log = Create();
    log->AddLog(Buffer(Log(LogLayout::CryptoAgile,
                           {u"\\Windows\\system32\\winload.efi", u"\\Windows\\system32\\hal.dll"},
                           "four", "eight")));
    {
        zef::vector<zef::wstring_t> paths(&m_host.allocator);
        paths.push_back(zef::wstring_t(u"caller's own"));
        ASSERT_EQ(log->GetModulePaths(paths), 0);
        EXPECT_THAT(Paths(paths), ElementsAre(u"\\Windows\\system32\\winload.efi",
                                              u"\\Windows\\system32\\hal.dll"));
        EXPECT_EQ(paths.allocator(), &m_host.allocator);
        paths[0][0] = u'X';
    }
    zef::vector<zef::wstring_t> again;
    ASSERT_EQ(log->GetModulePaths(again), 0);
    EXPECT_EQ(again[0].view(), u"\\Windows\\system32\\winload.efi");

    std::uint8_t digest[20] = {};
    ASSERT_EQ(log->GetPcr4CompactHash(digest), 0);
    EXPECT_EQ(Bytes(std::begin(digest), std::end(digest)), Sha1(Text("four")));
    ASSERT_EQ(log->GetPcr8CompactHash(digest), 0);
    EXPECT_EQ(Bytes(std::begin(digest), std::end(digest)), Sha1(Text("eight")));
    EXPECT_EQ(log->GetPcr8CompactHash(nullptr), kInvalidArgument);
}

// Paths of every log in log order; each digest is that of the last log that had one. A
// malformed log keeps what it gave before it broke and does not stop the next log.
TEST_F(RawTcgLogTest, AccumulatesLogsAndTheLastDigestWins) {
    TcgLogBuilder broken = TcgLogBuilder::Sha1Layout();
    broken.Add({EventTag(13, SipaFilePath(u"\\broken\\before.sys")),
                EventTag(13, Sipa(tcg::kSipaFilePath, Bytes{0x41})),
                EventTag(13, SipaFilePath(u"\\broken\\after.sys")),
                CompactHash(8, Text("unread"))});

    zef::ref_ptr<RawTcgLogImpl> log = Create();
    log->AddLog(Buffer(
        Log(LogLayout::Sha1, {u"\\first\\a.sys", u"\\first\\b.sys"}, "p4 first", "p8 first")));
    log->AddLog(Buffer(broken.Build()));
    log->AddLog(Buffer(Log(LogLayout::CryptoAgile, {u"\\second\\c.sys"}, {}, "p8 second")));
    log->AddLog(Buffer(Log(LogLayout::Sha1, {})));

    zef::vector<zef::wstring_t> paths;
    ASSERT_EQ(log->GetModulePaths(paths), 0);
    EXPECT_THAT(Paths(paths), ElementsAre(u"\\first\\a.sys", u"\\first\\b.sys",
                                          u"\\broken\\before.sys", u"\\second\\c.sys"));
    std::uint8_t digest[20] = {};
    ASSERT_EQ(log->GetPcr4CompactHash(digest), 0);
    EXPECT_EQ(Bytes(std::begin(digest), std::end(digest)), Sha1(Text("p4 first")));
    ASSERT_EQ(log->GetPcr8CompactHash(digest), 0);
    EXPECT_EQ(Bytes(std::begin(digest), std::end(digest)), Sha1(Text("p8 second")));
}

// Empty paths, paths short enough for a string's inline buffer and long ones come out in meeting
// order, also from a log whose only path is empty.
TEST_F(RawTcgLogTest, KeepsEmptyShortAndLongPathsInOrder) {
    TcgLogBuilder mixed = TcgLogBuilder::Sha1Layout();
    mixed.Add({EventTag(13, SipaFilePath(u"")), EventTag(13, SipaFilePath(u"\\a")),
               EventTag(13, SipaFilePath(u"\\Windows\\system32\\drivers\\long.sys"))});
    TcgLogBuilder onlyEmpty = TcgLogBuilder::Sha1Layout();
    onlyEmpty.Add({EventTag(13, SipaFilePath(u""))});

    zef::ref_ptr<RawTcgLogImpl> log = Create();
    log->AddLog(Buffer(mixed.Build()));
    log->AddLog(Buffer(onlyEmpty.Build()));
    zef::vector<zef::wstring_t> paths;
    ASSERT_EQ(log->GetModulePaths(paths), 0);
    EXPECT_THAT(Paths(paths),
                ElementsAre(u"", u"\\a", u"\\Windows\\system32\\drivers\\long.sys", u""));
}

// Whichever process-heap allocation of AddLog fails, std::bad_alloc comes out, the paths of the
// earlier logs are all that the object holds and nothing leaks.
TEST_F(RawTcgLogTest, AddLogRunningOutOfMemoryKeepsWhatEarlierLogsGave) {
    zef::ref_ptr<RawTcgLogImpl> log = Create();
    log->AddLog(Buffer(Log(LogLayout::Sha1, {u"\\Windows\\system32\\winload.efi"})));
    const Bytes second = Log(LogLayout::CryptoAgile,
                             {u"\\Windows\\system32\\hal.dll", u"\\Windows\\system32\\ci.dll"});
    const std::uint64_t liveBefore = winsim::GetHeapStats().liveBlocks;
    bool added = false;
    int refused = 0;
    for (std::uint32_t failing = 1; !added && failing < 64; ++failing) {
        SCOPED_TRACE(failing);
        zef::vector<std::uint8_t> buffer = Buffer(second);
        try {
            winsim::ScopedFault fault("HeapAlloc", winsim::FaultMode::Nth, failing, 0);
            log->AddLog(std::move(buffer));
            added = true;
        } catch (const std::bad_alloc&) {
            ++refused;
            zef::vector<zef::wstring_t> paths;
            ASSERT_EQ(log->GetModulePaths(paths), 0);
            EXPECT_THAT(Paths(paths), ElementsAre(u"\\Windows\\system32\\winload.efi"));
        }
        if (!added) {
            EXPECT_EQ(winsim::GetHeapStats().liveBlocks, liveBefore);
        }
    }
    ASSERT_TRUE(added);
    EXPECT_GE(refused, 3);  // the spans, the text block, the list of logs
    zef::vector<zef::wstring_t> paths;
    ASSERT_EQ(log->GetModulePaths(paths), 0);
    EXPECT_EQ(paths.size(), 3u);
}

TEST_F(RawTcgLogTest, AddLogFreesTheBufferItTookOver) {
    const std::uint64_t before = winsim::GetHeapStats().liveBlocks;
    {
        zef::ref_ptr<RawTcgLogImpl> log = Create();
        Bytes bytes = Log(LogLayout::Sha1, {u"\\Windows\\system32\\drivers\\a.sys"});
        bytes.resize(bytes.size() + 256 * 1024, 0);  // zero events after it
        zef::vector<std::uint8_t> buffer = Buffer(bytes);
        const std::uint64_t inUse = winsim::GetHeapStats().bytesInUse;
        log->AddLog(std::move(buffer));
        EXPECT_TRUE(buffer.empty());
        EXPECT_LT(winsim::GetHeapStats().bytesInUse + 256 * 1024, inUse);
    }
    EXPECT_EQ(winsim::GetHeapStats().liveBlocks, before);
}

TEST_F(RawTcgLogTest, HostRefusingATracerOrAllocatorFailsCreation) {
    for (const zef::InterfaceId iid : {zef::kIidTracer, zef::kIidAllocator}) {
        SCOPED_TRACE(iid);
        const zef::ResultCode refusal = static_cast<zef::ResultCode>(0x80000045u);
        m_host.locator.Refuse(iid, refusal);
        try {
            Create();
            ADD_FAILURE() << "created without the host's services";
        } catch (const zef::GetInterfaceException& e) {
            EXPECT_EQ(e.Code(), refusal);
            EXPECT_EQ(e.Iid(), iid);
        }
        m_host.locator.Accept(iid);
        EXPECT_EQ(zef::ModuleObjectCount().load(), m_objects);
        EXPECT_EQ(Tracker::LiveCount(), m_live);
    }
    EXPECT_TRUE(m_host.tracer.Records().empty());
}

// Whichever process-heap allocation of the copy fails, the result is "Out of memory" with one
// level-300 record, the caller's vector is as it was and nothing leaks.
TEST_F(RawTcgLogTest, GetModulePathsReportsOutOfMemory) {
    zef::ref_ptr<RawTcgLogImpl> log = Create();
    log->AddLog(Buffer(Log(
        LogLayout::Sha1, {u"\\Windows\\system32\\winload.efi", u"\\Windows\\system32\\ntoskrnl.exe",
                          u"\\Windows\\system32\\hal.dll"})));
    zef::vector<zef::wstring_t> paths;
    paths.push_back(zef::wstring_t(u"caller's own path"));
    const std::uint64_t liveBefore = winsim::GetHeapStats().liveBlocks;

    // The vector's block and one block per path.
    for (std::uint32_t failing = 1; failing <= 4; ++failing) {
        SCOPED_TRACE(failing);
        m_host.tracer.Clear();
        {
            winsim::ScopedFault fault("HeapAlloc", winsim::FaultMode::Nth, failing, 0);
            EXPECT_EQ(log->GetModulePaths(paths), kOutOfMemory);
        }
        const auto records = m_host.tracer.Records();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].level, 300u);
        EXPECT_THAT(Paths(paths), ElementsAre(u"caller's own path"));
        EXPECT_EQ(winsim::GetHeapStats().liveBlocks, liveBefore);
    }
    m_host.tracer.Clear();
    EXPECT_EQ(log->GetModulePaths(paths), 0);
    EXPECT_EQ(paths.size(), 3u);
    EXPECT_TRUE(m_host.tracer.Records().empty());
}

// Once filled the object is read from any thread.
TEST_F(RawTcgLogTest, ReadsConcurrently) {
    zef::ref_ptr<RawTcgLogImpl> log = Create();
    log->AddLog(Buffer(Log(LogLayout::CryptoAgile, {u"\\Windows\\system32\\winload.efi"}, "p4")));
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                void* out = nullptr;
                if (log->QueryInterface(qorvex::kIidRawTcgLog, &out) != 0) ++failures;
                auto* reader = static_cast<qorvex::IRawTcgLog*>(out);
                zef::vector<zef::wstring_t> paths;
                std::uint8_t digest[20];
                if (reader->GetModulePaths(paths) != 0 || paths.size() != 1) ++failures;
                if (reader->GetPcr4CompactHash(digest) != 0) ++failures;
                reader->Release();
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(log->AddRef(), 2u);
    log->Release();
}

}  // namespace
