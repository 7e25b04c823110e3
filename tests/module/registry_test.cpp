// The module through its exports: the registry factory, the registry object, the component
// factories and the components, their interfaces, object counting and every failure a host can
// meet on the way.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "module/module_fixture.h"
#include "qorvex/tcg_log.h"

// The module's factories come from the global allocation, which resolves to this program's
// operator new; a test can make the next allocation on its thread fail.
namespace {
thread_local bool t_failNextNew = false;
}  // namespace

// g++ inlines these replacements into their callers and then sees malloc/free paired with
// new/delete, which is exactly what a replacement does (-Wmismatched-new-delete).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
    if (t_failNextNew) {
        t_failNextNew = false;
        throw std::bad_alloc();
    }
    if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}

namespace qorvex::test {
namespace {

constexpr zef::InterfaceId kIidAppRemediation = 0xd8d1855fu;
constexpr const char* kConstructionPrefix = "Exception during object construction: ";

// Asks obj for iid and checks the answer is obj itself with one more reference.
void ExpectAnswersWithItself(zef::IObject* obj, zef::InterfaceId iid) {
    void* out = nullptr;
    ASSERT_EQ(obj->QueryInterface(iid, &out), zef::rc::kOk) << std::hex << iid;
    EXPECT_EQ(out, obj) << std::hex << iid;
    EXPECT_EQ(obj->Release(), 1u);
}

void ExpectRefuses(zef::IObject* obj, zef::InterfaceId iid) {
    void* out = &out;
    EXPECT_EQ(obj->QueryInterface(iid, &out), zef::rc::kNoInterface) << std::hex << iid;
    EXPECT_EQ(out, nullptr) << std::hex << iid;
}

using ModuleRegistryTest = LoadedModuleTest;

TEST_F(ModuleRegistryTest, FactoriesAndRegistryAnswerObjectAndTheirOwnInterface) {
    zef::IObjectFactory* factory = RegistryFactory();
    ASSERT_NE(factory, nullptr);
    ExpectAnswersWithItself(factory, zef::kIidObject);
    ExpectAnswersWithItself(factory, zef::kIidObjectFactory);
    ExpectRefuses(factory, zef::kIidObjectFactoryProvider);
    ExpectRefuses(factory, zef::kIidAllocator);
    EXPECT_EQ(factory->AddRef(), 2u);
    EXPECT_EQ(factory->Release(), 1u);

    void* registryOut = nullptr;
    ASSERT_EQ(factory->CreateInstance(&host.locator, zef::kIidObject, &registryOut), zef::rc::kOk);
    auto* registry = static_cast<zef::IObjectFactoryProvider*>(registryOut);
    ExpectAnswersWithItself(registry, zef::kIidObject);
    ExpectAnswersWithItself(registry, zef::kIidObjectFactoryProvider);
    ExpectRefuses(registry, zef::kIidObjectFactory);

    for (zef::ClassId classId : {kClassTcgLogProvider, kClassAppRemediation}) {
        void* out = nullptr;
        ASSERT_EQ(registry->GetObjectFactory(&host.locator, classId, &out), zef::rc::kOk);
        auto* componentFactory = static_cast<zef::IObjectFactory*>(out);
        ExpectAnswersWithItself(componentFactory, zef::kIidObject);
        ExpectAnswersWithItself(componentFactory, zef::kIidObjectFactory);
        ExpectRefuses(componentFactory, zef::kIidObjectFactoryProvider);
        EXPECT_EQ(componentFactory->Release(), 0u);
    }

    EXPECT_EQ(registry->Release(), 0u);
    EXPECT_EQ(factory->Release(), 0u);
}

TEST_F(ModuleRegistryTest, CanUnloadOnlyOnceEveryObjectIsGone) {
    // A factory from the export alone keeps the module busy.
    zef::IObjectFactory* factory = RegistryFactory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(CanUnload(), zef::rc::kFalse);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(CanUnload(), zef::rc::kOk);

    // Factory, registry and component factory live independently of one another.
    factory = RegistryFactory();
    void* out = nullptr;
    ASSERT_EQ(factory->CreateInstance(&host.locator, zef::kIidObjectFactoryProvider, &out),
              zef::rc::kOk);
    auto* registry = static_cast<zef::IObjectFactoryProvider*>(out);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(CanUnload(), zef::rc::kFalse);

    ASSERT_EQ(registry->GetObjectFactory(&host.locator, kClassTcgLogProvider, &out), zef::rc::kOk);
    auto* componentFactory = static_cast<zef::IObjectFactory*>(out);
    EXPECT_EQ(registry->Release(), 0u);
    EXPECT_EQ(CanUnload(), zef::rc::kFalse);

    void* component = nullptr;
    const zef::ResultCode created =
        componentFactory->CreateInstance(&host.locator, kIidTcgLogProvider, &component);
    EXPECT_EQ(componentFactory->Release(), 0u);
    if (created == zef::rc::kOk) {
        // The component keeps its own host references, and the module busy, on its own.
        ASSERT_NE(component, nullptr);
        EXPECT_EQ(CanUnload(), zef::rc::kFalse);
        EXPECT_EQ(host.allocator.RefCount(), 1u);
        EXPECT_EQ(host.tracer.RefCount(), 1u);
        EXPECT_EQ(host.locator.RefCount(), 1u);
        EXPECT_EQ(static_cast<zef::IObject*>(component)->Release(), 0u);
    } else {
        EXPECT_EQ(created, zef::rc::kNotImplemented);
    }
    EXPECT_EQ(CanUnload(), zef::rc::kOk);
}

TEST_F(ModuleRegistryTest, ComponentsAnswerTheirInterfaceAndObject) {
    zef::IObjectFactoryProvider* registry = Registry();
    ASSERT_NE(registry, nullptr);
    struct Component {
        zef::ClassId classId;
        zef::InterfaceId iid;
    };
    for (const Component& c : {Component{kClassTcgLogProvider, kIidTcgLogProvider},
                               Component{kClassAppRemediation, kIidAppRemediation}}) {
        SCOPED_TRACE(c.classId);
        void* out = nullptr;
        ASSERT_EQ(registry->GetObjectFactory(&host.locator, c.classId, &out), zef::rc::kOk);
        auto* factory = static_cast<zef::IObjectFactory*>(out);
        void* component = &component;
        const zef::ResultCode created = factory->CreateInstance(&host.locator, c.iid, &component);
        if (created == zef::rc::kNotImplemented) {
            // Not part of this build yet; the factory must still leave nothing behind.
            EXPECT_EQ(component, &component);
        } else {
            ASSERT_EQ(created, zef::rc::kOk);
            auto* object = static_cast<zef::IObject*>(component);
            ExpectAnswersWithItself(object, zef::kIidObject);
            ExpectAnswersWithItself(object, c.iid);
            ExpectRefuses(object, zef::kIidObjectFactory);
            EXPECT_EQ(object->AddRef(), 2u);
            EXPECT_EQ(object->Release(), 1u);
            EXPECT_EQ(object->Release(), 0u);
        }
        EXPECT_EQ(factory->Release(), 0u);
    }
    EXPECT_EQ(registry->Release(), 0u);
    EXPECT_TRUE(host.tracer.Records().empty());
}

// Every failure a host can meet between the export and a component: the code, what *out holds
// afterwards, and whether the failure reached the host's tracer. Each row runs with a registry
// factory and a registry object already created, and must leave the objects and host blocks as
// it found them.
enum class Out { Null, Untouched, NotGiven };

struct FailureContext {
    qorvex::host::HostServicesBundle& host;
    zef::IObjectFactory* registryFactory;
    zef::IObjectFactoryProvider* registry;
    void** out;
    zef::ResultCode (*getObjectFactory)(zef::IServiceLocator*, zef::ClassId, void**);
};

struct RegistryFailure {
    const char* name;
    std::function<zef::ResultCode(FailureContext&)> act;
    zef::ResultCode expected;
    Out out;
    bool traced;
};

class RegistryFailureTest : public LoadedModuleTest,
                            public ::testing::WithParamInterface<RegistryFailure> {};

TEST_P(RegistryFailureTest, AnswersWithTheDefinedCode) {
    const RegistryFailure& row = GetParam();
    zef::IObjectFactory* registryFactory = RegistryFactory();
    zef::IObjectFactoryProvider* registry = Registry();
    ASSERT_NE(registryFactory, nullptr);
    ASSERT_NE(registry, nullptr);
    const std::size_t blocksBefore = host.allocator.LiveBlocks();

    static int sentinel;
    void* out = &sentinel;
    FailureContext context{host, registryFactory, registry,
                           row.out == Out::NotGiven ? nullptr : &out, &GetObjectFactory};
    EXPECT_EQ(row.act(context), row.expected);
    switch (row.out) {
        case Out::Null:
            EXPECT_EQ(out, nullptr);
            break;
        case Out::Untouched:
            EXPECT_EQ(out, &sentinel);
            break;
        case Out::NotGiven:
            break;
    }
    // Whatever was created on the way is gone again.
    EXPECT_EQ(host.allocator.LiveBlocks(), blocksBefore);

    const auto records = host.tracer.Records();
    if (row.traced) {
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].level, 300u);
        EXPECT_EQ(records[0].text.rfind(kConstructionPrefix, 0), 0u) << records[0].text;
    } else {
        EXPECT_TRUE(records.empty()) << records.front().text;
    }

    host.locator.Accept(zef::kIidAllocator);
    host.locator.Accept(zef::kIidTracer);
    host.allocator.RefuseAll(false);
    EXPECT_EQ(registry->Release(), 0u);
    EXPECT_EQ(registryFactory->Release(), 0u);
}

constexpr auto kAccessDenied = static_cast<zef::ResultCode>(0x80070005u);
constexpr auto kFail = static_cast<zef::ResultCode>(0x80004005u);

// Acts on the registry factory or the registry with the fixture's locator.
zef::ResultCode Export(FailureContext& c, zef::ClassId classId, bool withLocator = true) {
    return c.getObjectFactory(withLocator ? &c.host.locator : nullptr, classId, c.out);
}
zef::ResultCode CreateRegistry(FailureContext& c, zef::InterfaceId iid) {
    return c.registryFactory->CreateInstance(&c.host.locator, iid, c.out);
}
zef::ResultCode ComponentFactory(FailureContext& c, zef::ClassId classId, bool withLocator = true) {
    return c.registry->GetObjectFactory(withLocator ? &c.host.locator : nullptr, classId, c.out);
}

// Creates a TcgLogProviderImpl through its factory from the registry (the factory is released
// again).
zef::ResultCode CreateTcgLogProvider(FailureContext& c) {
    void* factory = nullptr;
    const zef::ResultCode served =
        c.registry->GetObjectFactory(&c.host.locator, kClassTcgLogProvider, &factory);
    if (served < 0) return served;
    auto* typed = static_cast<zef::IObjectFactory*>(factory);
    const zef::ResultCode created =
        typed->CreateInstance(&c.host.locator, kIidTcgLogProvider, c.out);
    typed->Release();
    return created;
}

const RegistryFailure kRegistryFailures[] = {
    // A locator that breaks its contract: a refusal that still hands out a reference (given back
    // by the module), or a success without an interface (a failure, never a null dereference).
    {"LocatorRefusesTheAllocatorButLeavesAReference",
     [](FailureContext& c) {
         c.host.locator.Answer(zef::kIidAllocator, kAccessDenied, true);
         return CreateRegistry(c, zef::kIidObjectFactoryProvider);
     },
     kAccessDenied, Out::Untouched, false},
    {"LocatorGrantsANullAllocator",
     [](FailureContext& c) {
         c.host.locator.Answer(zef::kIidAllocator, zef::rc::kOk, false);
         return CreateRegistry(c, zef::kIidObjectFactoryProvider);
     },
     zef::rc::kUnexpected, Out::Untouched, false},
    {"ProviderLocatorRefusesTheAllocatorButLeavesAReference",
     [](FailureContext& c) {
         c.host.locator.Answer(zef::kIidAllocator, kAccessDenied, true);
         return CreateTcgLogProvider(c);
     },
     kAccessDenied, Out::Untouched, false},
    {"ProviderLocatorGrantsANullAllocator",
     [](FailureContext& c) {
         c.host.locator.Answer(zef::kIidAllocator, zef::rc::kOk, false);
         return CreateTcgLogProvider(c);
     },
     zef::rc::kUnexpected, Out::Untouched, false},
    // The construction report has no tracer to go to either.
    {"ProviderLocatorGrantsANullTracer",
     [](FailureContext& c) {
         c.host.locator.Answer(zef::kIidTracer, zef::rc::kFalse, false);
         return CreateTcgLogProvider(c);
     },
     zef::rc::kUnexpected, Out::Untouched, false},
    // Component classes are reachable only through the registry.
    {"ExportAskedForAppRemediation",
     [](FailureContext& c) { return Export(c, kClassAppRemediation); }, zef::rc::kNotImplemented,
     Out::Null, false},
    {"ExportAskedForTcgLogProvider",
     [](FailureContext& c) { return Export(c, kClassTcgLogProvider); }, zef::rc::kNotImplemented,
     Out::Null, false},
    {"ExportAskedForAnUnknownClassWithoutLocator",
     [](FailureContext& c) { return Export(c, 0u, false); }, zef::rc::kNotImplemented, Out::Null,
     false},
    {"RegistryAskedForItsOwnClass",
     [](FailureContext& c) { return ComponentFactory(c, kClassModuleFactoryProvider); },
     zef::rc::kNotImplemented, Out::Null, false},
    {"RegistryAskedForAnUnknownClass",
     [](FailureContext& c) { return ComponentFactory(c, 0x12345678u); }, zef::rc::kNotImplemented,
     Out::Null, false},
    {"FactoryQueriedForAnotherInterface",
     [](FailureContext& c) {
         return c.registryFactory->QueryInterface(zef::kIidObjectFactoryProvider, c.out);
     },
     zef::rc::kNoInterface, Out::Null, false},
    {"RegistryQueriedForAnotherInterface",
     [](FailureContext& c) { return c.registry->QueryInterface(zef::kIidObjectFactory, c.out); },
     zef::rc::kNoInterface, Out::Null, false},
    // The new object does not implement the interface: it is destroyed before the call returns.
    {"CreateInstanceWithAnUnsupportedInterface",
     [](FailureContext& c) { return CreateRegistry(c, zef::kIidObjectFactory); },
     zef::rc::kNoInterface, Out::Null, false},
    // Component creation failures come back as the creation's code with *out unwritten.
    {"LocatorRefusesTheAllocator",
     [](FailureContext& c) {
         c.host.locator.Refuse(zef::kIidAllocator, kAccessDenied);
         return CreateRegistry(c, zef::kIidObjectFactoryProvider);
     },
     kAccessDenied, Out::Untouched, false},
    {"AllocatorGivesNoBlock",
     [](FailureContext& c) {
         c.host.allocator.RefuseAll(true);
         return CreateRegistry(c, zef::kIidObjectFactoryProvider);
     },
     zef::rc::kOutOfMemory, Out::Untouched, true},
    {"LocatorRefusesTheTracer",
     [](FailureContext& c) {
         c.host.locator.Refuse(zef::kIidTracer, kFail);
         return CreateRegistry(c, zef::kIidObjectFactoryProvider);
     },
     kFail, Out::Untouched, false},
    // A factory that cannot be allocated is reported through the locator when there is one.
    {"RegistryFactoryCannotBeAllocated",
     [](FailureContext& c) {
         t_failNextNew = true;
         return Export(c, kClassModuleFactoryProvider);
     },
     zef::rc::kOutOfMemory, Out::Untouched, true},
    {"RegistryFactoryCannotBeAllocatedWithoutLocator",
     [](FailureContext& c) {
         t_failNextNew = true;
         return Export(c, kClassModuleFactoryProvider, false);
     },
     zef::rc::kOutOfMemory, Out::Untouched, false},
    {"ComponentFactoryCannotBeAllocated",
     [](FailureContext& c) {
         t_failNextNew = true;
         return ComponentFactory(c, kClassTcgLogProvider);
     },
     zef::rc::kOutOfMemory, Out::Untouched, true},
    {"ComponentFactoryCannotBeAllocatedWithoutLocator",
     [](FailureContext& c) {
         t_failNextNew = true;
         return ComponentFactory(c, kClassAppRemediation, false);
     },
     zef::rc::kOutOfMemory, Out::Untouched, false},
    // Calls that break the calling contract get an answer instead of a crash.
    {"ExportWithoutOut", [](FailureContext& c) { return Export(c, kClassModuleFactoryProvider); },
     zef::rc::kInvalidArgument, Out::NotGiven, false},
    {"GetObjectFactoryWithoutOut",
     [](FailureContext& c) { return ComponentFactory(c, kClassTcgLogProvider); },
     zef::rc::kInvalidArgument, Out::NotGiven, false},
    {"CreateInstanceWithoutOut",
     [](FailureContext& c) { return CreateRegistry(c, zef::kIidObjectFactoryProvider); },
     zef::rc::kInvalidArgument, Out::NotGiven, false},
    {"CreateInstanceWithoutLocator",
     [](FailureContext& c) {
         return c.registryFactory->CreateInstance(nullptr, zef::kIidObjectFactoryProvider, c.out);
     },
     zef::rc::kInvalidArgument, Out::Untouched, false},
    {"QueryInterfaceWithoutOut",
     [](FailureContext& c) { return c.registry->QueryInterface(zef::kIidObject, c.out); },
     zef::rc::kInvalidArgument, Out::NotGiven, false},
};

INSTANTIATE_TEST_SUITE_P(Module, RegistryFailureTest, ::testing::ValuesIn(kRegistryFailures),
                         [](const ::testing::TestParamInfo<RegistryFailure>& info) {
                             return info.param.name;
                         });

}  // namespace
}  // namespace qorvex::test
