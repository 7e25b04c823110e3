// The component object model: creation through the host's locator and allocator, reference
// counting and interface query, destruction order, module-wide counting, and LazyTracer.
#include "zef/rtl/component_object.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "component/antimalware/source/trusted_boot/tcg_log_provider/source/raw_tcg_log_impl.h"
#include "module/object_factory.h"
#include "qorvex/tcg_log.h"
#include "services/host_services.h"
#include "zef/rtl/error_handling/exception.h"

namespace {

using qorvex::host::CapturingTracer;
using qorvex::host::HostServicesBundle;

constexpr zef::InterfaceId kIidProbe = 0x5a5a0001u;
constexpr const char* kConstructionPrefix = "Exception during object construction: ";

class IProbe : public zef::IObject {
public:
    virtual int Value() = 0;

protected:
    ~IProbe() = default;
};

// What a component's own field does when it is built.
enum class FieldBehaviour { Build, ThrowResultCode, ThrowFalse, ThrowInt };

// Reports its destruction, or fails its construction on request.
class ProbeField {
public:
    ProbeField(FieldBehaviour behaviour, std::function<void()> onDestroy)
        : m_onDestroy(std::move(onDestroy)) {
        if (behaviour == FieldBehaviour::ThrowResultCode) {
            ZEF_THROW(zef::ResultCodeException, static_cast<zef::ResultCode>(0x80070005u));
        }
        // A code that reads as success ("False") although construction failed.
        if (behaviour == FieldBehaviour::ThrowFalse) ZEF_THROW(zef::ResultCodeException, 1);
        if (behaviour == FieldBehaviour::ThrowInt) throw 42;
    }
    ProbeField(const ProbeField&) = delete;
    ProbeField& operator=(const ProbeField&) = delete;
    ~ProbeField() {
        if (m_onDestroy) m_onDestroy();
    }

private:
    std::function<void()> m_onDestroy;
};

class ProbeComponent : public IProbe {
public:
    using Interface = IProbe;
    static constexpr zef::InterfaceId kInterfaceId = kIidProbe;

    ProbeComponent(zef::HostServices&& host, int value,
                   FieldBehaviour behaviour = FieldBehaviour::Build,
                   std::function<void()> onFieldDestroyed = {})
        : m_host(std::move(host)),
          m_field(behaviour, std::move(onFieldDestroyed)),
          m_value(value) {}

    const zef::HostServices& Host() const noexcept { return m_host; }
    int Value() override { return m_value; }

private:
    zef::HostServices m_host;
    ProbeField m_field;
    int m_value;
};

using Probe = zef::ComponentObject<ProbeComponent>;
using ProbeTracker = zef::InstanceTracker<ProbeComponent>;

// The module-wide values a test must leave as it found them.
struct Counts {
    std::uint32_t objects = zef::ModuleObjectCount().load();
    std::uint32_t live = ProbeTracker::LiveCount();
    std::uint64_t fold = ProbeTracker::Fold();
    bool operator==(const Counts&) const = default;
};

// A log of what the host objects saw, in order.
struct EventLog {
    std::vector<std::string> events;
    void Add(std::string event) { events.push_back(std::move(event)); }
};

// Host objects that forward to the host double and log their reference traffic; Free also logs
// the module-wide counts as they stand when the block comes back.
class LoggingAllocator final : public zef::IAllocator {
public:
    LoggingAllocator(zef::IAllocator* inner, EventLog& log) : m_inner(inner), m_log(log) {}
    std::uint32_t AddRef() override {
        m_log.Add("allocator.AddRef");
        return ++m_refs;
    }
    std::uint32_t Release() override {
        m_log.Add("allocator.Release");
        return --m_refs;
    }
    zef::ResultCode QueryInterface(zef::InterfaceId, void** out) override {
        *out = nullptr;
        return zef::rc::kNoInterface;
    }
    void* Alloc(std::uint64_t size) override { return m_inner->Alloc(size); }
    void* Realloc(void* block, std::uint64_t size) override {
        return m_inner->Realloc(block, size);
    }
    void Free(void* block) override {
        m_log.Add("allocator.Free objects=" + std::to_string(zef::ModuleObjectCount().load()) +
                  " live=" + std::to_string(ProbeTracker::LiveCount()) +
                  " refs=" + std::to_string(m_refs.load()));
        m_inner->Free(block);
    }
    std::uint32_t Refs() const { return m_refs.load(); }

private:
    zef::IAllocator* m_inner;
    EventLog& m_log;
    std::atomic<std::uint32_t> m_refs{1};
};

class LoggingTracer final : public zef::ITracer {
public:
    LoggingTracer(zef::ITracer* inner, EventLog& log) : m_inner(inner), m_log(log) {}
    std::uint32_t AddRef() override { return ++m_refs; }
    std::uint32_t Release() override {
        m_log.Add("tracer.Release");
        return --m_refs;
    }
    zef::ResultCode QueryInterface(zef::InterfaceId, void** out) override {
        *out = nullptr;
        return zef::rc::kNoInterface;
    }
    std::uint32_t AcquireRecordBuffer(std::uint32_t level, char** buffer,
                                      std::uint64_t size) override {
        return m_inner->AcquireRecordBuffer(level, buffer, size);
    }
    std::uint32_t SubmitRecord(char* buffer, std::uint64_t length) override {
        return m_inner->SubmitRecord(buffer, length);
    }
    std::uint32_t Refs() const { return m_refs.load(); }

private:
    zef::ITracer* m_inner;
    EventLog& m_log;
    std::atomic<std::uint32_t> m_refs{1};
};

// A locator that hands out the given services, and refuses an interface with a chosen code
// after granting it a given number of times.
class ScriptedLocator final : public zef::IServiceLocator {
public:
    ScriptedLocator(zef::IAllocator* allocator, zef::ITracer* tracer, EventLog* log = nullptr)
        : m_allocator(allocator), m_tracer(tracer), m_log(log) {}
    std::uint32_t AddRef() override { return ++m_refs; }
    std::uint32_t Release() override {
        if (m_log != nullptr) m_log->Add("locator.Release");
        return --m_refs;
    }
    zef::ResultCode QueryInterface(zef::InterfaceId, void** out) override {
        *out = nullptr;
        return zef::rc::kNoInterface;
    }
    zef::ResultCode GetInterface(zef::InterfaceId iid, std::uint32_t reserved,
                                 void** out) override {
        EXPECT_EQ(reserved, 0u);
        const std::uint32_t request = ++m_requests[iid];
        zef::IObject* service = iid == zef::kIidAllocator ? static_cast<zef::IObject*>(m_allocator)
                                : iid == zef::kIidTracer  ? static_cast<zef::IObject*>(m_tracer)
                                                          : nullptr;
        if (auto rule = m_rules.find(iid); rule != m_rules.end() && request > rule->second.grants) {
            *out = nullptr;
            if (rule->second.leavesReference && service != nullptr) {
                service->AddRef();
                *out = service;
            }
            return rule->second.code;
        }
        if (service == nullptr) {
            *out = nullptr;
            return zef::rc::kNoInterface;
        }
        service->AddRef();
        *out = service;
        return zef::rc::kOk;
    }

    // After grants granted requests, answers iid with code (a success code answers with no
    // interface); leavesReference: the answer still writes a reference into the output.
    void RefuseAfter(zef::InterfaceId iid, std::uint32_t grants, zef::ResultCode code,
                     bool leavesReference = false) {
        m_rules[iid] = Rule{grants, code, leavesReference};
    }
    std::uint32_t Requests(zef::InterfaceId iid) const {
        auto it = m_requests.find(iid);
        return it == m_requests.end() ? 0 : it->second;
    }
    std::uint32_t Refs() const { return m_refs.load(); }

private:
    struct Rule {
        std::uint32_t grants;
        zef::ResultCode code;
        bool leavesReference;
    };
    zef::IAllocator* m_allocator;
    zef::ITracer* m_tracer;
    EventLog* m_log;
    std::map<zef::InterfaceId, Rule> m_rules;
    std::map<zef::InterfaceId, std::uint32_t> m_requests;
    std::atomic<std::uint32_t> m_refs{1};
};

class ComponentObjectTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(Counts{}, m_start) << "module-wide counts changed";
        EXPECT_EQ(host.Leftovers(), "");
    }

    HostServicesBundle host;
    Counts m_start;
};

TEST_F(ComponentObjectTest, LivesFromCreationToTheLastRelease) {
    Probe* probe = nullptr;
    ASSERT_EQ(Probe::Create(&host.locator, &probe, 7), zef::rc::kOk);
    ASSERT_NE(probe, nullptr);

    // The object counts itself and holds one reference to each host service; the block's own
    // allocator reference is gone, and the allocator was asked for twice.
    EXPECT_EQ(zef::ModuleObjectCount().load(), m_start.objects + 1);
    EXPECT_EQ(ProbeTracker::LiveCount(), m_start.live + 1);
    EXPECT_NE(ProbeTracker::Fold(), m_start.fold);
    EXPECT_EQ(host.allocator.RefCount(), 1u);
    EXPECT_EQ(host.tracer.RefCount(), 1u);
    EXPECT_EQ(host.locator.RefCount(), 1u);
    EXPECT_EQ(host.locator.Requests(zef::kIidAllocator), 2u);
    EXPECT_EQ(host.locator.Requests(zef::kIidTracer), 1u);
    EXPECT_EQ(host.allocator.LiveBlocks(), 1u);
    EXPECT_GE(host.allocator.LiveBytes(), sizeof(Probe));
    EXPECT_EQ(probe->Host().locator.get(), &host.locator);
    EXPECT_EQ(probe->Value(), 7);

    EXPECT_EQ(probe->AddRef(), 2u);
    EXPECT_EQ(probe->Release(), 1u);
    EXPECT_EQ(host.allocator.LiveBlocks(), 1u);
    EXPECT_EQ(probe->Release(), 0u);
    EXPECT_TRUE(host.tracer.Records().empty());
}

TEST_F(ComponentObjectTest, TwoLiveInstancesFoldBothAddresses) {
    Probe* first = nullptr;
    Probe* second = nullptr;
    ASSERT_EQ(Probe::Create(&host.locator, &first, 1), zef::rc::kOk);
    const std::uint64_t foldOfFirst = ProbeTracker::Fold() ^ m_start.fold;
    ASSERT_EQ(Probe::Create(&host.locator, &second, 2), zef::rc::kOk);
    const std::uint64_t foldOfSecond = ProbeTracker::Fold() ^ m_start.fold ^ foldOfFirst;

    EXPECT_EQ(ProbeTracker::LiveCount(), m_start.live + 2);
    EXPECT_NE(foldOfFirst, 0u);
    EXPECT_NE(foldOfSecond, 0u);
    EXPECT_NE(foldOfFirst, foldOfSecond);

    first->Release();
    EXPECT_EQ(ProbeTracker::Fold(), m_start.fold ^ foldOfSecond);
    second->Release();
}

TEST_F(ComponentObjectTest, QueryInterfaceAnswersObjectAndItsOwnInterfaceOnly) {
    Probe* probe = nullptr;
    ASSERT_EQ(Probe::Create(&host.locator, &probe, 3), zef::rc::kOk);

    void* asObject = nullptr;
    void* asProbe = nullptr;
    EXPECT_EQ(probe->QueryInterface(zef::kIidObject, &asObject), zef::rc::kOk);
    EXPECT_EQ(probe->QueryInterface(kIidProbe, &asProbe), zef::rc::kOk);
    EXPECT_EQ(asObject, asProbe);
    EXPECT_EQ(asProbe, static_cast<IProbe*>(probe));
    EXPECT_EQ(static_cast<IProbe*>(asProbe)->Value(), 3);

    for (zef::InterfaceId iid : {zef::kIidObjectFactory, zef::kIidAllocator, 0xFFFFFFFFu}) {
        void* out = &out;
        EXPECT_EQ(probe->QueryInterface(iid, &out), zef::rc::kNoInterface) << iid;
        EXPECT_EQ(out, nullptr) << iid;
    }
    EXPECT_EQ(probe->QueryInterface(kIidProbe, nullptr), zef::rc::kInvalidArgument);

    // Two references from the successful queries, one from creation.
    EXPECT_EQ(probe->Release(), 2u);
    EXPECT_EQ(probe->Release(), 1u);
    EXPECT_EQ(probe->Release(), 0u);
}

zef::ResultCode CreateNothing(zef::IServiceLocator*, zef::InterfaceId, void**) {
    return zef::rc::kNotImplemented;
}

// Every object that hands out an interface, the module's and the host's alike, answers queries
// by one contract; only the raw log object keeps the caller's pointer on a refusal.
TEST_F(ComponentObjectTest, EveryKindOfObjectAnswersQueriesByTheSameContract) {
    using Factory = qorvex::ObjectFactory<&CreateNothing>;
    Factory* factory = nullptr;
    ASSERT_EQ(Factory::New(nullptr, &factory), zef::rc::kOk);
    const zef::ref_ptr<antimalware::trusted_boot::RawTcgLogImpl> rawLog =
        antimalware::trusted_boot::RawTcgLogImpl::Create(&host.locator);

    struct Row {
        const char* name;
        zef::IObject* object;     // as IObject
        void* asInterface;        // what a granted query must write
        zef::InterfaceId ownIid;  // the one interface besides IObject
        bool clearsOutOnRefusal;
    };
    const Row rows[] = {
        {"ObjectFactory", factory, static_cast<zef::IObjectFactory*>(factory),
         zef::kIidObjectFactory, true},
        {"RawTcgLog", rawLog.get(), static_cast<qorvex::IRawTcgLog*>(rawLog.get()),
         qorvex::kIidRawTcgLog, false},
        {"HostAllocator", &host.allocator, static_cast<zef::IAllocator*>(&host.allocator),
         zef::kIidAllocator, true},
        {"HostTracer", &host.tracer, static_cast<zef::ITracer*>(&host.tracer), zef::kIidTracer,
         true},
        {"HostLocator", &host.locator, static_cast<zef::IServiceLocator*>(&host.locator),
         0xFFFFFFFFu, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        for (const zef::InterfaceId iid : {zef::kIidObject, row.ownIid}) {
            void* out = nullptr;
            EXPECT_EQ(row.object->QueryInterface(iid, &out), zef::rc::kOk);
            EXPECT_EQ(out, row.asInterface);
            const std::uint32_t held = row.object->AddRef();
            EXPECT_EQ(row.object->Release(), held - 1);
            EXPECT_EQ(row.object->Release(), held - 2) << "the query added one reference";
        }
        for (const zef::InterfaceId iid : {kIidProbe, zef::kIidObjectFactoryProvider}) {
            if (iid == row.ownIid) continue;
            int sentinel = 0;
            void* out = &sentinel;
            EXPECT_EQ(row.object->QueryInterface(iid, &out), zef::rc::kNoInterface);
            EXPECT_EQ(out, row.clearsOutOnRefusal ? nullptr : &sentinel);
            EXPECT_EQ(row.object->QueryInterface(iid, nullptr), zef::rc::kInvalidArgument);
        }
        EXPECT_EQ(row.object->QueryInterface(row.ownIid, nullptr), zef::rc::kInvalidArgument);
    }
    EXPECT_EQ(factory->Release(), 0u);
}

TEST_F(ComponentObjectTest, DestructionKeepsTheAllocatorUntilItsBlockIsBack) {
    EventLog log;
    LoggingAllocator allocator(&host.allocator, log);
    LoggingTracer tracer(&host.tracer, log);
    ScriptedLocator locator(&allocator, &tracer, &log);

    Probe* probe = nullptr;
    ASSERT_EQ(Probe::Create(&locator, &probe, 1, FieldBehaviour::Build,
                            [&log] { log.Add("field destroyed"); }),
              zef::rc::kOk);
    log.events.clear();

    EXPECT_EQ(probe->Release(), 0u);
    const std::string freeEvent = "allocator.Free objects=" + std::to_string(m_start.objects) +
                                  " live=" + std::to_string(m_start.live) + " refs=2";
    EXPECT_EQ(log.events,
              (std::vector<std::string>{"allocator.AddRef", "field destroyed", "locator.Release",
                                        "tracer.Release", "allocator.Release", freeEvent,
                                        "allocator.Release"}));
    EXPECT_EQ(allocator.Refs(), 1u);
    EXPECT_EQ(tracer.Refs(), 1u);
    EXPECT_EQ(locator.Refs(), 1u);
}

// Every way creation can fail: the result, whether the failure reached the tracer, and that
// nothing of the half-built object is left behind.
struct CreationFailure {
    const char* name;
    std::function<void(HostServicesBundle&, ScriptedLocator&)> arrange;
    FieldBehaviour field;
    zef::ResultCode expected;
    std::vector<std::string> recordParts;  // empty: no record at all
    std::uint64_t allocations;
};

class CreationFailureTest : public ComponentObjectTest,
                            public ::testing::WithParamInterface<CreationFailure> {};

TEST_P(CreationFailureTest, ReturnsTheCodeAndLeavesNothingBehind) {
    const CreationFailure& row = GetParam();
    ScriptedLocator locator(&host.allocator, &host.tracer);
    row.arrange(host, locator);

    Probe* probe = reinterpret_cast<Probe*>(&locator);  // must stay untouched
    EXPECT_EQ(Probe::Create(&locator, &probe, 1, row.field), row.expected);
    EXPECT_EQ(probe, reinterpret_cast<Probe*>(&locator));

    EXPECT_EQ(host.allocator.Allocations(), row.allocations);
    EXPECT_EQ(host.allocator.Frees(), row.allocations);
    EXPECT_EQ(locator.Refs(), 1u);

    const std::vector<CapturingTracer::Record> records = host.tracer.Records();
    if (row.recordParts.empty()) {
        EXPECT_TRUE(records.empty()) << records.front().text;
    } else {
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].level, 300u);
        EXPECT_EQ(records[0].text.rfind(kConstructionPrefix, 0), 0u) << records[0].text;
        for (const std::string& part : row.recordParts) {
            EXPECT_NE(records[0].text.find(part), std::string::npos)
                << "'" << part << "' missing in: " << records[0].text;
        }
    }
}

constexpr auto kAccessDenied = static_cast<zef::ResultCode>(0x80070005u);
constexpr auto kFail = static_cast<zef::ResultCode>(0x80004005u);

INSTANTIATE_TEST_SUITE_P(
    ComponentObject, CreationFailureTest,
    ::testing::Values(
        // The block's allocator is refused: its code as is, untraced, nothing allocated.
        CreationFailure{"AllocatorRefusedForTheBlock",
                        [](HostServicesBundle&, ScriptedLocator& locator) {
                            locator.RefuseAfter(zef::kIidAllocator, 0, kAccessDenied);
                        },
                        FieldBehaviour::Build,
                        kAccessDenied,
                        {},
                        0},
        CreationFailure{"AllocatorRefusedForTheHostServices",
                        [](HostServicesBundle&, ScriptedLocator& locator) {
                            locator.RefuseAfter(zef::kIidAllocator, 1, zef::rc::kNoInterface);
                        },
                        FieldBehaviour::Build,
                        zef::rc::kNoInterface,
                        {"Exception during object construction: GetInterfaceException - "
                         "0x80000001 (Interface not supported)",
                         "iid = 0x9cca5603", ". At zef/rtl/objclient("},
                        1},
        // Without a tracer the failure report has nowhere to go: same code, no record.
        CreationFailure{"TracerRefusedAlways",
                        [](HostServicesBundle&, ScriptedLocator& locator) {
                            locator.RefuseAfter(zef::kIidTracer, 0, kFail);
                        },
                        FieldBehaviour::Build,
                        kFail,
                        {},
                        1},
        CreationFailure{
            "AllocatorGivesNoBlock",
            [](HostServicesBundle& host, ScriptedLocator&) { host.allocator.RefuseAll(true); },
            FieldBehaviour::Build,
            zef::rc::kOutOfMemory,
            {"alloc"},
            0},
        CreationFailure{"ComponentFieldThrowsAResultCode",
                        [](HostServicesBundle&, ScriptedLocator&) {},
                        FieldBehaviour::ThrowResultCode,
                        kAccessDenied,
                        {"ResultCodeException - 0x80070005"},
                        1},
        // A refusal that still hands out a reference: the reference is given back.
        CreationFailure{"AllocatorRefusedWithAReferenceLeftInTheOutput",
                        [](HostServicesBundle&, ScriptedLocator& locator) {
                            locator.RefuseAfter(zef::kIidAllocator, 0, kAccessDenied, true);
                        },
                        FieldBehaviour::Build,
                        kAccessDenied,
                        {},
                        0},
        // A success without an interface is no allocator to build with, nor a service to keep.
        CreationFailure{"AllocatorGrantedAsNullForTheBlock",
                        [](HostServicesBundle&, ScriptedLocator& locator) {
                            locator.RefuseAfter(zef::kIidAllocator, 0, zef::rc::kOk);
                        },
                        FieldBehaviour::Build,
                        zef::rc::kUnexpected,
                        {},
                        0},
        CreationFailure{"AllocatorGrantedAsNullForTheHostServices",
                        [](HostServicesBundle&, ScriptedLocator& locator) {
                            locator.RefuseAfter(zef::kIidAllocator, 1, zef::rc::kFalse);
                        },
                        FieldBehaviour::Build,
                        zef::rc::kUnexpected,
                        {"GetInterfaceException - 0x80000040 (Unexpected): iid = 0x9cca5603"},
                        1},
        CreationFailure{"TracerGrantedAsNull",
                        [](HostServicesBundle&, ScriptedLocator& locator) {
                            locator.RefuseAfter(zef::kIidTracer, 0, zef::rc::kOk);
                        },
                        FieldBehaviour::Build,
                        zef::rc::kUnexpected,
                        {},
                        1},
        // A thrown value outside the standard family is caught but has no text to trace.
        CreationFailure{"ComponentFieldThrowsAnInteger",
                        [](HostServicesBundle&, ScriptedLocator&) {},
                        FieldBehaviour::ThrowInt,
                        zef::rc::kUnknownException,
                        {},
                        1}),
    [](const ::testing::TestParamInfo<CreationFailure>& info) { return info.param.name; });

TEST_F(ComponentObjectTest, TracerRefusedOnlyWhileBuildingIsReportedThroughTheNextOne) {
    // The first tracer request (HostServices) fails, the one of the failure report succeeds.
    class OnceRefusingLocator final : public zef::IServiceLocator {
    public:
        explicit OnceRefusingLocator(zef::IServiceLocator* inner) : m_inner(inner) {}
        std::uint32_t AddRef() override { return 2; }
        std::uint32_t Release() override { return 1; }
        zef::ResultCode QueryInterface(zef::InterfaceId, void** out) override {
            *out = nullptr;
            return zef::rc::kNoInterface;
        }
        zef::ResultCode GetInterface(zef::InterfaceId iid, std::uint32_t reserved,
                                     void** out) override {
            if (iid == zef::kIidTracer && !m_refused) {
                m_refused = true;
                *out = nullptr;
                return kFail;
            }
            return m_inner->GetInterface(iid, reserved, out);
        }

    private:
        zef::IServiceLocator* m_inner;
        bool m_refused = false;
    } locator(&host.locator);

    Probe* probe = nullptr;
    EXPECT_EQ(Probe::Create(&locator, &probe, 1), kFail);
    EXPECT_EQ(probe, nullptr);
    const auto records = host.tracer.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, 300u);
    EXPECT_EQ(
        records[0].text.rfind(std::string(kConstructionPrefix) + "GetInterfaceException - ", 0), 0u)
        << records[0].text;
    EXPECT_NE(records[0].text.find("iid = 0x6ef3329b"), std::string::npos) << records[0].text;
    EXPECT_EQ(host.allocator.LiveBlocks(), 0u);
}

TEST_F(ComponentObjectTest, ARefusedRecordChangesNoResult) {
    host.tracer.RefuseRecords(true);
    host.allocator.RefuseAll(true);
    Probe* probe = nullptr;
    EXPECT_EQ(Probe::Create(&host.locator, &probe, 1), zef::rc::kOutOfMemory);
    EXPECT_EQ(host.tracer.AcquireCalls(), 1u);
    EXPECT_TRUE(host.tracer.Records().empty());
}

TEST_F(ComponentObjectTest, ReferencesAndObjectsMayCrossThreads) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 200;
    Probe* shared = nullptr;
    ASSERT_EQ(Probe::Create(&host.locator, &shared, 0), zef::rc::kOk);

    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                shared->AddRef();
                Probe* own = nullptr;
                if (Probe::Create(&host.locator, &own, i) != zef::rc::kOk) ++failures;
                if (own != nullptr) own->Release();
                shared->Release();
            }
        });
    }
    for (std::thread& thread : threads) thread.join();

    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(ProbeTracker::LiveCount(), m_start.live + 1);
    EXPECT_EQ(shared->Release(), 0u);
}

// The create-query-release step every component factory runs: the query's answer with the
// object alive only through it, or the creation's failure with out untouched, and never a
// success code without an object.
TEST_F(ComponentObjectTest, CreateComponentHandsOutTheQueryOrAFailureButNeverAnEmptySuccess) {
    constexpr auto kAccessDenied = static_cast<zef::ResultCode>(0x80070005u);
    struct Row {
        const char* name;
        zef::InterfaceId iid;
        FieldBehaviour field;
        zef::ResultCode expected;
        bool outWritten;
    };
    const Row rows[] = {
        {"Granted", kIidProbe, FieldBehaviour::Build, zef::rc::kOk, true},
        {"UnknownInterface", zef::kIidAllocator, FieldBehaviour::Build, zef::rc::kNoInterface,
         true},
        {"ConstructionFails", kIidProbe, FieldBehaviour::ThrowResultCode, kAccessDenied, false},
        {"ConstructionFailsWithASuccessCode", kIidProbe, FieldBehaviour::ThrowFalse,
         zef::rc::kUnexpected, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        void* out = &out;
        EXPECT_EQ(zef::CreateComponent<ProbeComponent>(&host.locator, row.iid, &out, 7, row.field),
                  row.expected);
        if (!row.outWritten) {
            EXPECT_EQ(out, &out);
        } else if (row.expected == zef::rc::kOk) {
            ASSERT_NE(out, nullptr);
            EXPECT_EQ(static_cast<IProbe*>(out)->Value(), 7);
            EXPECT_EQ(ProbeTracker::LiveCount(), m_start.live + 1);
            EXPECT_EQ(static_cast<IProbe*>(out)->Release(), 0u) << "the caller's is the only one";
        } else {
            EXPECT_EQ(out, nullptr);
        }
        EXPECT_EQ(ProbeTracker::LiveCount(), m_start.live);
    }
}

class LazyTracerTest : public ::testing::Test {
protected:
    HostServicesBundle host;
};

TEST_F(LazyTracerTest, WithoutALocatorYieldsNothing) {
    zef::LazyTracer tracer(nullptr);
    EXPECT_EQ(tracer.Get(), nullptr);
    EXPECT_EQ(tracer.Get(), nullptr);
}

TEST_F(LazyTracerTest, AsksOnceAndReleasesWhatItGot) {
    {
        zef::LazyTracer tracer(&host.locator);
        EXPECT_EQ(host.locator.Requests(zef::kIidTracer), 0u);
        EXPECT_EQ(tracer.Get(), &host.tracer);
        EXPECT_EQ(tracer.Get(), &host.tracer);
        EXPECT_EQ(host.locator.Requests(zef::kIidTracer), 1u);
        EXPECT_EQ(host.tracer.RefCount(), 1u);
    }
    EXPECT_EQ(host.tracer.RefCount(), 0u);
}

TEST_F(LazyTracerTest, NeverAsksAgainAfterARefusal) {
    host.locator.Refuse(zef::kIidTracer, kFail);
    zef::LazyTracer tracer(&host.locator);
    EXPECT_EQ(tracer.Get(), nullptr);
    host.locator.Accept(zef::kIidTracer);
    EXPECT_EQ(tracer.Get(), nullptr);
    EXPECT_EQ(host.locator.Requests(zef::kIidTracer), 1u);
    EXPECT_EQ(host.tracer.RefCount(), 0u);
}

}  // namespace
