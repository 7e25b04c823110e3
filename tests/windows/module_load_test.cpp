// Loads qorvex.dll through the Windows loader, as a product's host does, and reaches a component
// through the two exports only. This is where the shipped binary meets the Windows x64 calling
// convention, the loader's import resolution and the statically linked C++ runtime.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "qorvex/module.h"
#include "zef/object.h"

namespace {

// The build knows the DLL by its Linux path; Wine maps the Linux root to drive Z:.
std::wstring ModulePath() {
    std::wstring path = L"Z:";
    for (const char* c = QORVEX_MODULE_UNIX_PATH; *c != '\0'; ++c) {
        path += *c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*c));
    }
    return path;
}

// Host services that live on the stack of a test: reference counts are not tracked, blocks are
// counted so that a test can see every one of them given back.
class TestAllocator final : public zef::IAllocator {
public:
    std::uint32_t AddRef() override { return 2; }
    std::uint32_t Release() override { return 1; }
    zef::ResultCode QueryInterface(zef::InterfaceId, void** out) override {
        *out = nullptr;
        return zef::rc::kNoInterface;
    }
    void* Alloc(std::uint64_t size) override {
        void* block = std::malloc(static_cast<std::size_t>(size));
        if (block != nullptr) ++live;
        return block;
    }
    void* Realloc(void*, std::uint64_t) override { return nullptr; }
    void Free(void* block) override {
        if (block != nullptr) --live;
        std::free(block);
    }

    std::atomic<int> live{0};
};

class RefusingTracer final : public zef::ITracer {
public:
    std::uint32_t AddRef() override { return 2; }
    std::uint32_t Release() override { return 1; }
    zef::ResultCode QueryInterface(zef::InterfaceId, void** out) override {
        *out = nullptr;
        return zef::rc::kNoInterface;
    }
    std::uint32_t AcquireRecordBuffer(std::uint32_t, char**, std::uint64_t) override { return 1; }
    std::uint32_t SubmitRecord(char*, std::uint64_t) override { return 1; }
};

class TestLocator final : public zef::IServiceLocator {
public:
    std::uint32_t AddRef() override { return 2; }
    std::uint32_t Release() override { return 1; }
    zef::ResultCode QueryInterface(zef::InterfaceId, void** out) override {
        *out = nullptr;
        return zef::rc::kNoInterface;
    }
    zef::ResultCode GetInterface(zef::InterfaceId iid, std::uint32_t, void** out) override {
        if (iid == zef::kIidAllocator) {
            *out = static_cast<zef::IAllocator*>(&allocator);
        } else if (iid == zef::kIidTracer && hasTracer) {
            *out = static_cast<zef::ITracer*>(&tracer);
        } else {
            *out = nullptr;
            return zef::rc::kNoInterface;
        }
        return zef::rc::kOk;
    }

    TestAllocator allocator;
    RefusingTracer tracer;
    bool hasTracer = true;
};

class ModuleLoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryExW(ModulePath().c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        ASSERT_NE(module_, nullptr) << "LoadLibraryExW failed with error " << GetLastError();
        getObjectFactory_ = reinterpret_cast<qorvex::GetObjectFactoryFn>(
            reinterpret_cast<void*>(GetProcAddress(module_, qorvex::kGetObjectFactoryExport)));
        canUnloadModule_ = reinterpret_cast<qorvex::CanUnloadModuleFn>(
            reinterpret_cast<void*>(GetProcAddress(module_, qorvex::kCanUnloadModuleExport)));
        ASSERT_NE(getObjectFactory_, nullptr);
        ASSERT_NE(canUnloadModule_, nullptr);
    }

    void TearDown() override {
        if (module_ != nullptr) {
            EXPECT_TRUE(FreeLibrary(module_));
        }
    }

    HMODULE module_ = nullptr;
    qorvex::GetObjectFactoryFn getObjectFactory_ = nullptr;
    qorvex::CanUnloadModuleFn canUnloadModule_ = nullptr;
};

TEST_F(ModuleLoadTest, ReachesAComponentThroughTheRegistryAndUnloadsWhenAllIsReleased) {
    TestLocator host;
    EXPECT_EQ(canUnloadModule_(), zef::rc::kOk);

    void* registryFactory = nullptr;
    ASSERT_EQ(getObjectFactory_(&host, qorvex::kClassModuleFactoryProvider, &registryFactory),
              zef::rc::kOk);
    ASSERT_NE(registryFactory, nullptr);
    EXPECT_EQ(canUnloadModule_(), zef::rc::kFalse);

    void* registry = nullptr;
    ASSERT_EQ(static_cast<zef::IObjectFactory*>(registryFactory)
                  ->CreateInstance(&host, zef::kIidObjectFactoryProvider, &registry),
              zef::rc::kOk);
    void* componentFactory = nullptr;
    ASSERT_EQ(static_cast<zef::IObjectFactoryProvider*>(registry)->GetObjectFactory(
                  &host, qorvex::kClassTcgLogProvider, &componentFactory),
              zef::rc::kOk);
    void* component = nullptr;
    ASSERT_EQ(static_cast<zef::IObjectFactory*>(componentFactory)
                  ->CreateInstance(&host, zef::kIidObject, &component),
              zef::rc::kOk);
    ASSERT_NE(component, nullptr);

    EXPECT_EQ(static_cast<zef::IObject*>(component)->Release(), 0u);
    EXPECT_EQ(static_cast<zef::IObject*>(componentFactory)->Release(), 0u);
    EXPECT_EQ(static_cast<zef::IObject*>(registry)->Release(), 0u);
    EXPECT_EQ(canUnloadModule_(), zef::rc::kFalse);
    EXPECT_EQ(static_cast<zef::IObject*>(registryFactory)->Release(), 0u);

    EXPECT_EQ(canUnloadModule_(), zef::rc::kOk);
    EXPECT_EQ(host.allocator.live, 0);
}

TEST_F(ModuleLoadTest, ExportServesOnlyTheRegistryClass) {
    for (zef::ClassId classId : {qorvex::kClassAppRemediation, qorvex::kClassTcgLogProvider, 0u}) {
        void* out = &out;
        EXPECT_EQ(getObjectFactory_(nullptr, classId, &out), zef::rc::kNotImplemented) << classId;
        EXPECT_EQ(out, nullptr) << classId;
    }
    EXPECT_EQ(canUnloadModule_(), zef::rc::kOk);
}

// A host without a tracer makes the construction throw inside the DLL; the code must come back
// through the export's boundary, with the object's memory given back. This unwinds frames of
// the DLL's own, statically linked runtime.
TEST_F(ModuleLoadTest, ConstructionFailureComesBackAsTheHostsResultCode) {
    TestLocator host;
    host.hasTracer = false;
    void* registryFactory = nullptr;
    ASSERT_EQ(getObjectFactory_(&host, qorvex::kClassModuleFactoryProvider, &registryFactory),
              zef::rc::kOk);
    auto* factory = static_cast<zef::IObjectFactory*>(registryFactory);

    void* registry = &registry;
    EXPECT_EQ(factory->CreateInstance(&host, zef::kIidObject, &registry), zef::rc::kNoInterface);
    EXPECT_EQ(registry, &registry) << "a failed creation must not write *out";
    EXPECT_EQ(host.allocator.live, 0);

    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(canUnloadModule_(), zef::rc::kOk);
}

}  // namespace
