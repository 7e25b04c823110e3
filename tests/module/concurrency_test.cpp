// The module's entry points from several threads at once: shared factories and a shared
// registry used concurrently, objects created on one thread and released on another, and both
// components shared by threads that mix every operation with creating and releasing their own.
// Every count must come back to where it started and every host reference and block must be
// returned.
#include <gtest/gtest.h>

#include <winsim/sim.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "module/module_fixture.h"
#include "qorvex/app_remediation.h"
#include "qorvex/tcg_log.h"

namespace qorvex::test {
namespace {

using ModuleConcurrencyTest = LoadedModuleTest;

TEST_F(ModuleConcurrencyTest, ConcurrentCreateAndReleaseReturnEverything) {
    constexpr int kThreads = 8;
    constexpr int kRounds = 150;

    zef::IObjectFactory* sharedFactory = RegistryFactory();
    zef::IObjectFactoryProvider* sharedRegistry = Registry();
    ASSERT_NE(sharedFactory, nullptr);
    ASSERT_NE(sharedRegistry, nullptr);

    std::mutex handoffMutex;
    std::vector<zef::IObject*> handoff;  // objects one thread created and another releases
    std::atomic<int> unexpected{0};
    auto check = [&](bool ok) {
        if (!ok) ++unexpected;
    };

    auto worker = [&](int index) {
        for (int round = 0; round < kRounds; ++round) {
            sharedFactory->AddRef();
            sharedRegistry->AddRef();

            // A registry of this thread's own, from the export, and one from the shared factory.
            void* out = nullptr;
            check(GetObjectFactory(&host.locator, kClassModuleFactoryProvider, &out) ==
                  zef::rc::kOk);
            auto* ownFactory = static_cast<zef::IObjectFactory*>(out);
            void* registry = nullptr;
            check(ownFactory->CreateInstance(&host.locator, zef::kIidObjectFactoryProvider,
                                             &registry) == zef::rc::kOk);
            check(ownFactory->Release() == 0);
            void* sharedMade = nullptr;
            check(sharedFactory->CreateInstance(&host.locator, zef::kIidObject, &sharedMade) ==
                  zef::rc::kOk);

            // Component factories and components through the shared registry.
            for (zef::ClassId classId : {kClassTcgLogProvider, kClassAppRemediation}) {
                void* componentFactory = nullptr;
                check(sharedRegistry->GetObjectFactory(&host.locator, classId, &componentFactory) ==
                      zef::rc::kOk);
                void* component = nullptr;
                const zef::ResultCode created =
                    static_cast<zef::IObjectFactory*>(componentFactory)
                        ->CreateInstance(&host.locator, zef::kIidObject, &component);
                check(created == zef::rc::kOk || created == zef::rc::kNotImplemented);
                static_cast<zef::IObject*>(componentFactory)->Release();
                if (created == zef::rc::kOk) {
                    std::lock_guard lock(handoffMutex);
                    handoff.push_back(static_cast<zef::IObject*>(component));
                }
            }

            // Hand this round's objects over and release whatever another thread left.
            std::vector<zef::IObject*> mine;
            {
                std::lock_guard lock(handoffMutex);
                handoff.push_back(static_cast<zef::IObject*>(registry));
                handoff.push_back(static_cast<zef::IObject*>(sharedMade));
                if ((round + index) % 2 == 0) mine.swap(handoff);
            }
            for (zef::IObject* object : mine) object->Release();

            sharedRegistry->Release();
            sharedFactory->Release();
        }
    };

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) threads.emplace_back(worker, t);
    // The shared objects keep the module busy whatever the threads do.
    EXPECT_EQ(CanUnload(), zef::rc::kFalse);
    for (std::thread& thread : threads) thread.join();

    EXPECT_EQ(unexpected.load(), 0);
    for (zef::IObject* object : handoff) object->Release();
    EXPECT_EQ(CanUnload(), zef::rc::kFalse);
    EXPECT_EQ(sharedRegistry->Release(), 0u);
    EXPECT_EQ(sharedFactory->Release(), 0u);
    EXPECT_EQ(CanUnload(), zef::rc::kOk);
    EXPECT_EQ(host.allocator.Allocations(), host.allocator.Frees());
    EXPECT_TRUE(host.tracer.Records().empty());
}

// What must come back to where it was once every object is released.
struct Counts {
    std::uint64_t heapBlocks = winsim::GetHeapStats().liveBlocks;
    winsim::RuntimeCounters runtime = winsim::GetRuntimeCounters();
    std::size_t handles = winsim::OpenHandleCount();
    std::size_t tokens = winsim::OpenTokenCount();
    bool operator==(const Counts&) const = default;
};

// What one GetRawTcgLog gives, to compare every thread's result with.
struct LogContents {
    std::vector<std::u16string> paths;
    std::array<std::uint8_t, kCompactHashSize> pcr4{};
    std::array<std::uint8_t, kCompactHashSize> pcr8{};
    bool operator==(const LogContents&) const = default;
};

bool Read(IRawTcgLog* log, LogContents& out) {
    zef::vector<zef::wstring_t> paths;
    if (log->GetModulePaths(paths) != 0) return false;
    for (const zef::wstring_t& path : paths) out.paths.emplace_back(path.data(), path.size());
    return log->GetPcr4CompactHash(out.pcr4.data()) == 0 &&
           log->GetPcr8CompactHash(out.pcr8.data()) == 0;
}

TEST_F(ModuleConcurrencyTest, SharedComponentsServeEveryOperationFromSeveralThreads) {
    // Windows 8.1 in a Wow64 process: the live operations need the version record, the product
    // type, the native architecture, the Wow64 answer and the redirection functions, so the
    // first calls, all at once on every thread, fill each of the module's process-wide caches.
    winsim::ScopedMachine machine;
    ASSERT_EQ(winsim::LoadMachineDirectory(std::string(QORVEX_SOURCE_DIR) + "/examples/machine"),
              "");
    winsim::OsVersion os;
    os.major = 6;
    os.minor = 3;
    os.build = 9600;
    os.wow64 = true;
    const winsim::ScopedOs scopedOs(os);
    winsim::PutDirectory(u"C:\\Program Files\\WindowsApps");
    // Threads run as a client, so each live call reverts and restores a token.
    winsim::SetThreadsStartImpersonating(true);
    const std::u16string inside =
        u"C:\\Program Files\\WindowsApps\\Acme.Notes_1.4.2.0_x64__a1b2c3d4e5f6g\\notes.exe";
    const std::u16string download = u"C:\\Users\\ann\\Downloads\\notes.exe";
    const std::u16string outside = u"D:\\Data\\report.docx";

    const Counts before;
    IAppRemediation* sharedApp =
        CreateComponent<IAppRemediation>(kClassAppRemediation, kIidAppRemediation);
    ITcgLogProvider* sharedProvider =
        CreateComponent<ITcgLogProvider>(kClassTcgLogProvider, kIidTcgLogProvider);
    ASSERT_NE(sharedApp, nullptr);
    ASSERT_NE(sharedProvider, nullptr);

    constexpr int kThreads = 6;
    constexpr int kRounds = 210;
    constexpr int kOperations = 7;
    std::atomic<int> waiting{kThreads};
    std::atomic<int> wrong{0};
    std::mutex handoffMutex;
    std::vector<IRawTcgLog*> handoff;  // result objects one thread got and another releases
    std::vector<LogContents> logs(kThreads * kRounds);
    std::atomic<int> logCount{0};
    std::atomic<std::size_t> remediations{0};
    auto expect = [&](bool ok) {
        if (!ok) ++wrong;
    };

    auto worker = [&](int index) {
        waiting.fetch_sub(1);
        while (waiting.load() > 0) std::this_thread::yield();
        for (int round = 0; round < kRounds; ++round) {
            switch ((index + round) % kOperations) {
                case 0:
                    expect(sharedApp->IsMetroStyleApp(inside.c_str()) == 0);
                    expect(sharedApp->IsMetroStyleApp(outside.c_str()) == 1);
                    break;
                case 1: {
                    // Built or not yet built by another thread: either answer, nothing else.
                    const zef::ResultCode r = sharedApp->IsMetroStyleAppByCache(inside.c_str());
                    expect(r == 0 || r == 1);
                    expect(sharedApp->IsMetroStyleAppByCache(outside.c_str()) == 1);
                    break;
                }
                case 2:
                    expect(sharedApp->BuildMetroStyleAppsCache() == 0);
                    expect(sharedApp->IsMetroStyleAppByCache(inside.c_str()) == 0);
                    break;
                case 3:
                    expect(sharedApp->Remediate(download.c_str()) == 0);
                    ++remediations;
                    break;
                case 4: {
                    IRawTcgLog* log = nullptr;
                    expect(sharedProvider->GetRawTcgLog(&log) == 0 && log != nullptr);
                    if (log == nullptr) break;
                    expect(Read(log, logs[logCount.fetch_add(1)]));
                    std::vector<IRawTcgLog*> mine;
                    {
                        std::lock_guard lock(handoffMutex);
                        handoff.push_back(log);
                        if (index % 2 == 0) mine.swap(handoff);
                    }
                    for (IRawTcgLog* other : mine) other->Release();
                    break;
                }
                case 5: {
                    IAppRemediation* own =
                        CreateComponent<IAppRemediation>(kClassAppRemediation, kIidAppRemediation);
                    expect(own != nullptr);
                    if (own == nullptr) break;
                    expect(own->IsMetroStyleAppByCache(inside.c_str()) == 1);
                    expect(own->BuildMetroStyleAppsCache() == 0);
                    expect(own->IsMetroStyleAppByCache(inside.c_str()) == 0);
                    expect(own->Release() == 0);
                    break;
                }
                default: {
                    ITcgLogProvider* own =
                        CreateComponent<ITcgLogProvider>(kClassTcgLogProvider, kIidTcgLogProvider);
                    expect(own != nullptr);
                    if (own == nullptr) break;
                    IRawTcgLog* log = nullptr;
                    expect(own->GetRawTcgLog(&log) == 0 && log != nullptr);
                    // The result object outlives the provider that made it.
                    expect(own->Release() == 0);
                    if (log == nullptr) break;
                    expect(Read(log, logs[logCount.fetch_add(1)]));
                    expect(log->Release() == 0);
                    break;
                }
            }
            if (winsim::OwnedCriticalSections() != 0) ++wrong;
            if (winsim::GetThreadApartment() != winsim::ThreadApartmentState{}) ++wrong;
            if (!winsim::ThreadImpersonates()) ++wrong;
        }
    };

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) threads.emplace_back(worker, t);
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    for (IRawTcgLog* log : handoff) log->Release();

    // Each Remediate marked the one package that holds the download's other name.
    EXPECT_EQ(remediations.load(), winsim::GetSetPackageStateCalls().size());
    // Every thread read the same logs.
    ASSERT_GT(logCount.load(), 0);
    EXPECT_FALSE(logs[0].paths.empty());
    for (int i = 1; i < logCount.load(); ++i) EXPECT_EQ(logs[0], logs[i]) << i;

    EXPECT_EQ(sharedApp->Release(), 0u);
    EXPECT_EQ(sharedProvider->Release(), 0u);
    EXPECT_EQ(CanUnload(), zef::rc::kOk);
    EXPECT_EQ(host.allocator.Allocations(), host.allocator.Frees());
    const Counts after;
    EXPECT_EQ(before.heapBlocks, after.heapBlocks);
    EXPECT_EQ(before.runtime, after.runtime);
    EXPECT_EQ(before.handles, after.handles);
    EXPECT_EQ(before.tokens, after.tokens);
}

}  // namespace
}  // namespace qorvex::test
