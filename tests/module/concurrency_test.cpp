// The module's entry points from several threads at once: shared factories and a shared
// registry used concurrently, objects created on one thread and released on another. Every
// count must come back to zero and every host reference and block must be returned.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "module/module_fixture.h"

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

}  // namespace
}  // namespace qorvex::test
