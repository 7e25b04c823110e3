// Every operation of the module that hands something out through a pointer, called without
// one: the answer is 0x80000046 ("Invalid argument") and nothing changes: no object is made or
// kept alive, no reference moves, nothing is traced, the machine is not asked.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "module/module_fixture.h"
#include "qorvex/app_remediation.h"
#include "qorvex/tcg_log.h"
#include "winsim/sim.h"

namespace qorvex::test {
namespace {

constexpr zef::ResultCode kInvalidArgument = static_cast<zef::ResultCode>(0x80000046u);
constexpr zef::ClassId kUnknownClass = 0x12345678u;
constexpr zef::InterfaceId kUnknownInterface = 0x12345678u;

// One of each object the module hands out, made through the exports.
struct Objects {
    zef::IObjectFactory* registryFactory = nullptr;
    zef::IObjectFactoryProvider* registry = nullptr;
    zef::IObjectFactory* tcgLogFactory = nullptr;
    zef::IObjectFactory* remediationFactory = nullptr;
    ITcgLogProvider* provider = nullptr;
    IAppRemediation* remediation = nullptr;
    IRawTcgLog* log = nullptr;       // with module paths and both digests
    IRawTcgLog* emptyLog = nullptr;  // without any

    std::vector<zef::IObject*> All() const {
        return {registryFactory, registry,    tcgLogFactory, remediationFactory,
                provider,        remediation, log,           emptyLog};
    }
};

struct NullOutCall {
    const char* name;
    std::function<zef::ResultCode(Objects&, zef::IServiceLocator*)> call;
};

class NullOutTest : public LoadedModuleTest {
protected:
    Objects Make() {
        Objects o;
        o.registryFactory = RegistryFactory();
        o.registry = Registry();
        void* out = nullptr;
        EXPECT_EQ(o.registry->GetObjectFactory(&host.locator, kClassTcgLogProvider, &out), 0);
        o.tcgLogFactory = static_cast<zef::IObjectFactory*>(out);
        EXPECT_EQ(o.registry->GetObjectFactory(&host.locator, kClassAppRemediation, &out), 0);
        o.remediationFactory = static_cast<zef::IObjectFactory*>(out);
        EXPECT_EQ(o.tcgLogFactory->CreateInstance(&host.locator, kIidTcgLogProvider, &out), 0);
        o.provider = static_cast<ITcgLogProvider*>(out);
        EXPECT_EQ(o.remediationFactory->CreateInstance(&host.locator, kIidAppRemediation, &out), 0);
        o.remediation = static_cast<IAppRemediation*>(out);
        EXPECT_EQ(o.provider->GetRawTcgLog(&o.log), 0);
        {
            // Another boot whose only log is empty: a result object without paths or digests.
            winsim::ScopedRegistryValue boot(u"System\\CurrentControlSet\\services\\TPM",
                                             u"OsBootCount", winsim::RegistryValue::Dword(18));
            winsim::ScopedRegistryValue resume(
                u"System\\CurrentControlSet\\Control\\IntegrityServices", u"OsResumeCount",
                winsim::RegistryValue::Dword(0));
            winsim::PutFile(u"C:\\Windows\\Logs\\MeasuredBoot\\0000000018-0000000000.log", {});
            EXPECT_EQ(o.provider->GetRawTcgLog(&o.emptyLog), 0);
        }
        return o;
    }

    static std::uint32_t References(zef::IObject* object) {
        const std::uint32_t count = object->AddRef();
        object->Release();
        return count - 1;
    }

    winsim::ScopedMachine machine;
};

TEST_F(NullOutTest, EveryOutPointerOperationRefusesANullOneAndChangesNothing) {
    using O = Objects;
    using L = zef::IServiceLocator*;
    std::vector<NullOutCall> rows = {
        {"zefGetObjectFactory",
         [](O&, L l) { return GetObjectFactory(l, kClassModuleFactoryProvider, nullptr); }},
        {"zefGetObjectFactory, component class",
         [](O&, L l) { return GetObjectFactory(l, kClassAppRemediation, nullptr); }},
        {"zefGetObjectFactory, no locator",
         [](O&, L) { return GetObjectFactory(nullptr, kClassModuleFactoryProvider, nullptr); }},
        {"registry factory CreateInstance",
         [](O& o, L l) {
             return o.registryFactory->CreateInstance(l, zef::kIidObjectFactoryProvider, nullptr);
         }},
        {"registry factory CreateInstance, unknown interface",
         [](O& o, L l) {
             return o.registryFactory->CreateInstance(l, kUnknownInterface, nullptr);
         }},
        {"TcgLogProviderImpl factory CreateInstance",
         [](O& o, L l) { return o.tcgLogFactory->CreateInstance(l, kIidTcgLogProvider, nullptr); }},
        {"AppRemediationImpl factory CreateInstance",
         [](O& o, L l) {
             return o.remediationFactory->CreateInstance(l, kIidAppRemediation, nullptr);
         }},
        {"GetRawTcgLog", [](O& o, L) { return o.provider->GetRawTcgLog(nullptr); }},
        {"GetPcr4CompactHash", [](O& o, L) { return o.log->GetPcr4CompactHash(nullptr); }},
        {"GetPcr8CompactHash", [](O& o, L) { return o.log->GetPcr8CompactHash(nullptr); }},
        {"GetPcr4CompactHash, no digest",
         [](O& o, L) { return o.emptyLog->GetPcr4CompactHash(nullptr); }},
        {"GetPcr8CompactHash, no digest",
         [](O& o, L) { return o.emptyLog->GetPcr8CompactHash(nullptr); }},
    };
    for (const zef::ClassId classId :
         {kClassTcgLogProvider, kClassAppRemediation, kClassModuleFactoryProvider, kUnknownClass}) {
        rows.push_back({"registry GetObjectFactory", [classId](O& o, L l) {
                            return o.registry->GetObjectFactory(l, classId, nullptr);
                        }});
        rows.push_back({"registry GetObjectFactory, no locator", [classId](O& o, L) {
                            return o.registry->GetObjectFactory(nullptr, classId, nullptr);
                        }});
    }
    // The objects' members as IObject, for the queries.
    struct Queried {
        const char* name;
        std::function<zef::IObject*(O&)> object;
        zef::InterfaceId own;
    };
    const Queried queried[] = {
        {"registry factory", [](O& o) -> zef::IObject* { return o.registryFactory; },
         zef::kIidObjectFactory},
        {"registry", [](O& o) -> zef::IObject* { return o.registry; },
         zef::kIidObjectFactoryProvider},
        {"TcgLogProviderImpl factory", [](O& o) -> zef::IObject* { return o.tcgLogFactory; },
         zef::kIidObjectFactory},
        {"AppRemediationImpl factory", [](O& o) -> zef::IObject* { return o.remediationFactory; },
         zef::kIidObjectFactory},
        {"TcgLogProviderImpl", [](O& o) -> zef::IObject* { return o.provider; },
         kIidTcgLogProvider},
        {"AppRemediationImpl", [](O& o) -> zef::IObject* { return o.remediation; },
         kIidAppRemediation},
        {"raw log", [](O& o) -> zef::IObject* { return o.log; }, kIidRawTcgLog},
    };
    for (const Queried& q : queried) {
        for (const zef::InterfaceId iid : {zef::kIidObject, q.own, kUnknownInterface}) {
            rows.push_back({q.name, [object = q.object, iid](O& o, L) {
                                return object(o)->QueryInterface(iid, nullptr);
                            }});
        }
    }

    ASSERT_EQ(winsim::LoadMachineDirectory(std::string(QORVEX_SOURCE_DIR) + "/examples/machine"),
              "");
    for (const NullOutCall& row : rows) {
        SCOPED_TRACE(row.name);
        Objects objects = Make();
        std::vector<std::uint32_t> references;
        for (zef::IObject* object : objects.All()) references.push_back(References(object));
        host.tracer.Clear();
        const std::size_t hostBlocks = host.allocator.LiveBlocks();
        const std::uint64_t locatorRequests =
            host.locator.Requests(zef::kIidAllocator) + host.locator.Requests(zef::kIidTracer);
        const winsim::HeapStats heap = winsim::GetHeapStats();

        winsim::ScopedCallSweep platformCalls;
        EXPECT_EQ(row.call(objects, &host.locator), kInvalidArgument);

        EXPECT_EQ(platformCalls.Calls(), 0u);
        EXPECT_TRUE(host.tracer.Records().empty());
        EXPECT_EQ(host.allocator.LiveBlocks(), hostBlocks);
        EXPECT_EQ(
            host.locator.Requests(zef::kIidAllocator) + host.locator.Requests(zef::kIidTracer),
            locatorRequests);
        EXPECT_EQ(winsim::GetHeapStats().liveBlocks, heap.liveBlocks);
        std::vector<std::uint32_t> after;
        for (zef::IObject* object : objects.All()) after.push_back(References(object));
        EXPECT_EQ(after, references);
        for (zef::IObject* object : objects.All()) object->Release();
        // Nothing was made that outlives the objects above.
        EXPECT_EQ(CanUnload(), zef::rc::kOk);
    }
}

}  // namespace
}  // namespace qorvex::test
