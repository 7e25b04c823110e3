// The Windows Runtime access layer and the PackageManager client on the simulated runtime: the
// apartment scope, the holders, activation, the collection cursor, the HSTRING trace text and
// the package manager's searches and SetPackageState, with every failure's text and code. Each
// test ends with every runtime object and HSTRING released and the thread's apartment as it was.
#include "component/antimalware/source/win8_api/source/winrt_wrapper.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <winsim/sim.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/services/host_services.h"
#include "platform/winrt_objects/package_objects.h"
#include "zef/rtl/error_handling/exception.h"
#include "zef/system/detail/testing/system_caches.h"

namespace {

using antimalware::win8_api::ActivateInstance;
using antimalware::win8_api::com_ptr;
using antimalware::win8_api::HString;
using antimalware::win8_api::IterableIterator;
using antimalware::win8_api::IterableRange;
using antimalware::win8_api::PackageManager;
using antimalware::win8_api::RoInitializeScope;
using testing::ElementsAre;
using testing::IsEmpty;
namespace call = winrt_objects::call;

constexpr char kSourceFile[] = "component/antimalware/source/win8_api/source/winrt_wrapper";
constexpr std::uint32_t kAccessDenied = 0x80070005u;
constexpr std::uint32_t kNoInterface = 0x80004002u;
constexpr zef::ResultCode kAccessDeniedCode = static_cast<zef::ResultCode>(0x80000045u);
constexpr zef::ResultCode kPlatformErrorCode = static_cast<zef::ResultCode>(0x80010100u);

std::u16string Text(const char16_t* s) {
    return s;
}

// What a raised runtime failure carries.
struct Raised {
    std::u16string message;
    zef::ResultCode code;
    bool operator==(const Raised&) const = default;
};

void PrintTo(const Raised& r, std::ostream* os) {
    *os << winsim::Utf8FromUtf16(r.message) << " / 0x" << std::hex
        << static_cast<std::uint32_t>(r.code);
}

// Runs body and returns the SystemException it raised (checking the layer's source file), or
// an empty message when it raised none.
Raised RaisedBy(const std::function<void()>& body) {
    try {
        body();
    } catch (const zef::SystemException& e) {
        EXPECT_STREQ(e.File(), kSourceFile);
        return {std::u16string(e.Message().data(), e.Message().size()), e.Code()};
    }
    return {u"", 0};
}

std::vector<std::string> Calls(std::initializer_list<const char*> names) {
    return std::vector<std::string>(names.begin(), names.end());
}

winsim::PackageEntry Package(std::u16string fullName, std::u16string location) {
    winsim::PackageEntry entry;
    entry.fullName = std::move(fullName);
    entry.installedLocation = std::move(location);
    return entry;
}

std::vector<winsim::PackageEntry> Packages(int count) {
    std::vector<winsim::PackageEntry> packages;
    for (int i = 0; i < count; ++i) {
        const std::u16string name =
            u"Acme.App" + std::u16string(1, char16_t(u'0' + i)) + u"_1.0.0.0_x64__a1b2c3d4e5f6g";
        packages.push_back(Package(name, u"C:\\Program Files\\WindowsApps\\" + name));
    }
    return packages;
}

class WinRtTest : public testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(winsim::GetRuntimeCounters().liveObjects, m_before.liveObjects);
        EXPECT_EQ(winsim::GetRuntimeCounters().liveStrings, m_before.liveStrings);
        EXPECT_EQ(winsim::GetRuntimeCounters().invalidStringDeletes, m_before.invalidStringDeletes);
        EXPECT_EQ(winsim::GetRuntimeCounters().unbalancedUninitializations,
                  m_before.unbalancedUninitializations);
        EXPECT_EQ(winsim::GetThreadApartment(), winsim::ThreadApartmentState{});
    }

    // The package manager's IPackageManager, activated the way the client does it.
    com_ptr<win::IPackageManager> Activate() {
        com_ptr<win::IPackageManager> manager;
        ActivateInstance(HString(win::kRuntimeClassPackageManager, 44), manager);
        return manager;
    }

    std::vector<std::u16string> FullNames(IterableIterator<win::IPackage> begin) {
        std::vector<std::u16string> names;
        const IterableRange<win::IPackage> range(begin, IterableIterator<win::IPackage>());
        for (auto it = range.begin(); !(it == range.end()); ++it) {
            com_ptr<win::IPackageId> id;
            EXPECT_EQ((*it)->get_Id(id.put()), win::S_OK);
            HString name;
            EXPECT_EQ(id->get_FullName(name.put()), win::S_OK);
            names.emplace_back(win::WindowsGetStringRawBuffer(name.get(), nullptr));
        }
        return names;
    }

    winsim::ScopedMachine m_machine;
    winsim::RuntimeCounters m_before = winsim::GetRuntimeCounters();
};

// ---- RoInitializeScope -------------------------------------------------------------------------

TEST_F(WinRtTest, ScopeIsBalancedByOneUninitializeWhetherItJoinedOrWasAlreadyIn) {
    for (const bool alreadyIn : {false, true}) {
        if (alreadyIn) {
            ASSERT_EQ(win::RoInitialize(win::RO_INIT_MULTITHREADED), win::S_OK);
        }
        const winsim::ThreadApartmentState before = winsim::GetThreadApartment();
        {
            winsim::ScopedJournal journal;
            {
                RoInitializeScope scope;
                EXPECT_EQ(winsim::GetThreadApartment().kind, winsim::ApartmentKind::MultiThreaded);
            }
            EXPECT_THAT(winsim::JournalCalls(), ElementsAre("RoInitialize", "RoUninitialize"));
            EXPECT_EQ(winsim::Journal()[0].result, alreadyIn ? "0x1" : "0x0");
        }
        EXPECT_EQ(winsim::GetThreadApartment(), before) << "already in: " << alreadyIn;
        if (alreadyIn) win::RoUninitialize();
    }
}

TEST_F(WinRtTest, ScopeOnASingleThreadedApartmentRaisesAndUndoesNothing) {
    ASSERT_EQ(win::RoInitialize(win::RO_INIT_SINGLETHREADED), win::S_OK);
    {
        winsim::ScopedJournal journal;
        EXPECT_EQ(RaisedBy([] { RoInitializeScope scope; }),
                  (Raised{u"Windows::Foundation::Initialize failed", kPlatformErrorCode}));
        EXPECT_THAT(winsim::JournalCalls(), ElementsAre("RoInitialize"));
        EXPECT_EQ(winsim::Journal()[0].result, "0x80010106");
    }
    EXPECT_EQ(winsim::GetThreadApartment().kind, winsim::ApartmentKind::SingleThreaded);
    win::RoUninitialize();
}

TEST_F(WinRtTest, ApartmentsArePerThread) {
    RoInitializeScope scope;
    winsim::ThreadApartmentState other;
    std::thread([&] { other = winsim::GetThreadApartment(); }).join();
    EXPECT_EQ(other, winsim::ThreadApartmentState{});
    EXPECT_EQ(winsim::GetThreadApartment().initializations, 1u);
}

// ---- HString and activation --------------------------------------------------------------------

TEST_F(WinRtTest, EveryHolderAndActivationFailureRaisesItsTextWithTheConvertedCode) {
    struct Case {
        const char* name;
        std::function<void()> setUp;  // runs inside the scope
        std::function<void()> body;
        Raised raised;
    };
    const auto fault = [](const char* call, std::uint32_t error) {
        return [=] { winsim::InjectFault(call, winsim::FaultMode::Once, 0, error); };
    };
    const auto none = [] {};
    const Case cases[] = {
        {"create",
         fault("WindowsCreateString", kAccessDenied),
         [] { HString s(u"abc", 3); },
         {u"::WindowsCreateString failed", kAccessDeniedCode}},
        {"duplicate",
         fault("WindowsDuplicateString", kNoInterface),
         [] {
             const HString s(u"abc", 3);
             const HString copy(s);
         },
         {u"::WindowsDuplicateString failed", kPlatformErrorCode}},
        {"activation",
         fault("RoActivateInstance", kAccessDenied),
         [this] { Activate(); },
         {u"Windows::Foundation::ActivateInstance failed", kAccessDeniedCode}},
        // A failure HRESULT that wraps error 0 converts to success; raised, it is a failure.
        {"activation fails with a wrapped error 0",
         fault("RoActivateInstance", 0x80070000u),
         [this] { Activate(); },
         {u"Windows::Foundation::ActivateInstance failed", kPlatformErrorCode}},
        {"unknown class",
         none,
         [] {
             com_ptr<win::IInspectable> object;
             ActivateInstance(HString(u"Acme.Nothing", 12), object);
         },
         {u"Windows::Foundation::ActivateInstance failed", kPlatformErrorCode}},
        {"interface the class lacks",
         none,
         [] {
             com_ptr<win::IStorageItem> item;
             ActivateInstance(HString(win::kRuntimeClassPackageManager, 44), item);
         },
         {u"Windows::Foundation::ActivateInstance failed", kPlatformErrorCode}},
        {"query fails",
         fault(call::kQueryPackageManager2, kAccessDenied),
         [] {
             com_ptr<win::IPackageManager2> manager;
             ActivateInstance(HString(win::kRuntimeClassPackageManager, 44), manager);
         },
         {u"Windows::Foundation::ActivateInstance failed", kAccessDeniedCode}},
        {"package manager client, create",
         fault("WindowsCreateString", kAccessDenied),
         [] { PackageManager manager(nullptr); },
         {u"::WindowsCreateString failed", kAccessDeniedCode}},
        {"package manager client, duplicate",
         fault("WindowsDuplicateString", kAccessDenied),
         [] { PackageManager manager(nullptr); },
         {u"::WindowsDuplicateString failed", kAccessDeniedCode}},
        {"package manager client, activation",
         fault("RoActivateInstance", kNoInterface),
         [] { PackageManager manager(nullptr); },
         {u"Windows::Foundation::ActivateInstance failed", kPlatformErrorCode}},
    };
    for (const Case& c : cases) {
        RoInitializeScope scope;
        c.setUp();
        EXPECT_EQ(RaisedBy(c.body), c.raised) << c.name;
        winsim::ClearFaults();
        EXPECT_EQ(winsim::GetRuntimeCounters().liveObjects, m_before.liveObjects) << c.name;
        EXPECT_EQ(winsim::GetRuntimeCounters().liveStrings, m_before.liveStrings) << c.name;
    }
}

TEST_F(WinRtTest, ActivationOutsideAnApartmentFails) {
    EXPECT_EQ(RaisedBy([this] { Activate(); }),
              (Raised{u"Windows::Foundation::ActivateInstance failed", kPlatformErrorCode}));
    winsim::ScopedJournal journal;
    com_ptr<win::IInspectable> object;
    EXPECT_EQ(win::RoActivateInstance(nullptr, object.put()), win::CO_E_NOTINITIALIZED);
}

TEST_F(WinRtTest, AskingForIInspectableTakesTheActivatedObjectAsItIs) {
    RoInitializeScope scope;
    com_ptr<win::IInspectable> inspectable;
    ActivateInstance(HString(win::kRuntimeClassPackageManager, 44), inspectable);
    ASSERT_TRUE(inspectable);
    // One reference, ours: the object goes when we let go.
    EXPECT_EQ(winsim::GetRuntimeCounters().liveObjects, m_before.liveObjects + 1);
    EXPECT_EQ(inspectable->AddRef(), 2u);
    EXPECT_EQ(inspectable->Release(), 1u);

    com_ptr<win::IPackageManager> manager;
    ActivateInstance(HString(win::kRuntimeClassPackageManager, 44), manager);
    // The query's reference is the only one left of the second object.
    EXPECT_EQ(manager->AddRef(), 2u);
    EXPECT_EQ(manager->Release(), 1u);
}

TEST_F(WinRtTest, HStringKeepsEmbeddedNulsAndCopiesShareOneString) {
    const char16_t text[] = u"ab\0cd";
    const HString s(text, 5);
    win::UINT32 length = 0;
    const char16_t* buffer = win::WindowsGetStringRawBuffer(s.get(), &length);
    EXPECT_EQ(std::u16string(buffer, length), std::u16string(text, 5));
    {
        const HString copy(s);
        EXPECT_EQ(winsim::GetRuntimeCounters().liveStrings, m_before.liveStrings + 1);
        HString assigned;
        assigned = copy;
        EXPECT_EQ(win::WindowsGetStringRawBuffer(assigned.get(), nullptr), buffer);
    }
    const HString empty(u"", 0);
    EXPECT_EQ(empty.get(), nullptr);
    EXPECT_EQ(Text(win::WindowsGetStringRawBuffer(empty.get(), &length)), u"");
    EXPECT_EQ(length, 0u);
}

// ---- The cursor
// ----------------------------------------------------------------------------------

TEST_F(WinRtTest, CursorWalksEmptyOneAndManyItemCollectionsWithTheRuntimeCallsItNeeds) {
    struct Case {
        int count;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {0, Calls({call::kFindPackages, call::kFirst, call::kHasCurrent})},
        {1, Calls({call::kFindPackages, call::kFirst, call::kHasCurrent, call::kCurrent,
                   call::kMoveNext})},
        {3, Calls({call::kFindPackages, call::kFirst, call::kHasCurrent, call::kCurrent,
                   call::kMoveNext, call::kCurrent, call::kMoveNext, call::kCurrent,
                   call::kMoveNext})},
    };
    for (const Case& c : cases) {
        const winsim::ScopedPackages packages(Packages(c.count));
        RoInitializeScope scope;
        com_ptr<win::IPackageManager> manager = Activate();
        winsim::ScopedJournal journal;
        com_ptr<win::IIterable<win::IPackage>> collection;
        ASSERT_EQ(manager->FindPackages(collection.put()), win::S_OK);
        IterableIterator<win::IPackage> it(std::move(collection));
        EXPECT_FALSE(collection);
        int seen = 0;
        for (; !(it == IterableIterator<win::IPackage>()); ++it) {
            EXPECT_NE(*it, nullptr);
            ++seen;
        }
        EXPECT_EQ(seen, c.count);
        EXPECT_EQ(winsim::JournalCalls(), c.calls) << c.count << " items";
    }
}

TEST_F(WinRtTest, CursorCopiesShareOneRuntimeIterator) {
    const winsim::ScopedPackages packages(Packages(3));
    RoInitializeScope scope;
    com_ptr<win::IIterable<win::IPackage>> collection;
    ASSERT_EQ(Activate()->FindPackages(collection.put()), win::S_OK);
    IterableIterator<win::IPackage> a(std::move(collection));
    const IterableIterator<win::IPackage> b = a;
    EXPECT_TRUE(a == b);
    ++a;
    // b stands where a went: the second package.
    IterableIterator<win::IPackage> c = b;
    com_ptr<win::IPackageId> id;
    ASSERT_EQ((*c)->get_Id(id.put()), win::S_OK);
    HString name;
    ASSERT_EQ(id->get_FullName(name.put()), win::S_OK);
    EXPECT_EQ(Text(win::WindowsGetStringRawBuffer(name.get(), nullptr)), Packages(3)[1].fullName);
    EXPECT_THAT(FullNames(c), ElementsAre(Packages(3)[1].fullName, Packages(3)[2].fullName));
    // a still holds the iterator that c walked to its end: the runtime has nothing to give it.
    EXPECT_FALSE(a == IterableIterator<win::IPackage>());
    EXPECT_EQ(RaisedBy([&] { *a; }),
              (Raised{u"m_iterator->get_Current() failed", kPlatformErrorCode}));
    // A cursor at the end raises instead of reaching for an iterator it does not hold.
    IterableIterator<win::IPackage> end;
    EXPECT_EQ(RaisedBy([&] { *end; }),
              (Raised{u"m_iterator->get_Current() failed", kPlatformErrorCode}));
    EXPECT_EQ(RaisedBy([&] { ++end; }),
              (Raised{u"m_iterator->MoveNext() failed", kPlatformErrorCode}));
}

TEST_F(WinRtTest, EachFailingCursorCallRaisesItsTextAndReleasesWhatTheCursorHeld) {
    struct Case {
        const char* call;
        int nth;
        Raised raised;
    };
    const Case cases[] = {
        {call::kFirst, 1, {u"iterable->First() failed", kAccessDeniedCode}},
        {call::kHasCurrent, 1, {u"iterator->get_HasCurrent() failed", kAccessDeniedCode}},
        {call::kCurrent, 2, {u"m_iterator->get_Current() failed", kAccessDeniedCode}},
        {call::kMoveNext, 2, {u"m_iterator->MoveNext() failed", kAccessDeniedCode}},
    };
    const winsim::ScopedPackages packages(Packages(3));
    for (const Case& c : cases) {
        RoInitializeScope scope;
        const winsim::ScopedFault fault(c.call, winsim::FaultMode::Nth, c.nth, kAccessDenied);
        EXPECT_EQ(RaisedBy([this] {
                      com_ptr<win::IIterable<win::IPackage>> collection;
                      ASSERT_EQ(Activate()->FindPackages(collection.put()), win::S_OK);
                      FullNames(IterableIterator<win::IPackage>(std::move(collection)));
                  }),
                  c.raised)
            << c.call;
        EXPECT_EQ(winsim::GetRuntimeCounters().liveObjects, m_before.liveObjects) << c.call;
    }
}

// ---- The HSTRING trace text
// ----------------------------------------------------------------------

TEST_F(WinRtTest, HStringTraceTextStopsAtTheFirstNulIsUtf8AndShowsANullBuffer) {
    struct Case {
        std::u16string text;
        bool nullBuffer;
        std::string traced;
    };
    const Case cases[] = {
        {u"Acme.Notes", false, "Acme.Notes"},
        {std::u16string(u"Acme\0Hidden", 11), false, "Acme"},
        {u"Caf\u00e9 \U0001F600", false, "Caf\xc3\xa9 \xf0\x9f\x98\x80"},
        {u"", false, ""},
        {u"Acme.Notes", true, "(null)"},
    };
    for (const Case& c : cases) {
        qorvex::host::HostServicesBundle host;
        const HString text(c.text.data(), static_cast<std::uint32_t>(c.text.size()));
        if (c.nullBuffer)
            winsim::InjectFault("WindowsGetStringRawBuffer", winsim::FaultMode::Once, 0, 0);
        {
            zef::TraceRecord record;
            zef::OpenTraceRecord(record, &host.tracer, zef::trace_level::kDetail);
            zef::TraceWriter writer(record);
            antimalware::win8_api::WriteHString(writer, text.get());
        }
        ASSERT_EQ(host.tracer.Records().size(), 1u);
        EXPECT_EQ(host.tracer.Records()[0].text, c.traced);
    }
}

// ---- PackageManager
// ------------------------------------------------------------------------------

// The machine plays this Windows for the scope, and the version record is read anew.
class ScopedWindows {
public:
    ScopedWindows(std::uint32_t major, std::uint32_t minor, bool recordReadable = true)
        : m_os(Os(major, minor)) {
        if (!recordReadable) m_missing.emplace(u"ntdll.dll", "RtlGetVersion");
        zef::system::testing::ResetSystemCaches();
    }
    ~ScopedWindows() { zef::system::testing::ResetSystemCaches(); }

private:
    static winsim::OsVersion Os(std::uint32_t major, std::uint32_t minor) {
        winsim::OsVersion os;
        os.major = major;
        os.minor = minor;
        os.build = major == 10 ? 19045 : major * 1000 + minor * 100;
        return os;
    }
    winsim::ScopedOs m_os;
    std::optional<winsim::ScopedMissingFunction> m_missing;
};

std::vector<std::string> TraceLines(const qorvex::host::CapturingTracer& tracer) {
    std::vector<std::string> lines;
    for (const auto& record : tracer.Records()) {
        EXPECT_EQ(record.level, 700u) << record.text;
        lines.push_back(record.text);
    }
    return lines;
}

// The runtime calls the journal saw: activation and the objects' methods, without the HSTRING
// housekeeping and the version lookup.
std::vector<std::string> RuntimeCalls() {
    std::vector<std::string> calls;
    const auto& methods = winrt_objects::CallNames();
    for (const std::string& name : winsim::JournalCalls()) {
        if (name.rfind("Ro", 0) == 0 ||
            std::find(methods.begin(), methods.end(), name) != methods.end())
            calls.push_back(name);
    }
    return calls;
}

class PackageManagerTest : public WinRtTest {
protected:
    // One client's life: construction, both searches (the volume search's failure, if any, is
    // returned), and the end; the journal and the trace lines tell what happened.
    struct Run {
        std::vector<std::string> calls;
        std::vector<std::string> traced;
        std::vector<std::u16string> packages;
        std::size_t volumes = 0;
        Raised volumeFailure{u"", 0};
    };

    Run RunClient(bool withTracer) {
        qorvex::host::HostServicesBundle host;
        Run run;
        {
            RoInitializeScope scope;
            winsim::ScopedJournal journal;
            {
                PackageManager manager(withTracer ? &host.tracer : nullptr);
                // The class name and its copy are gone once the object is activated.
                EXPECT_EQ(winsim::GetRuntimeCounters().liveStrings, m_before.liveStrings);
                run.packages = FullNames(manager.FindPackages());
                run.volumeFailure = RaisedBy([&] {
                    for (auto it = manager.FindPackageVolumes();
                         !(it == IterableIterator<win::IPackageVolume>()); ++it)
                        ++run.volumes;
                });
            }
            run.calls = RuntimeCalls();
        }
        run.traced = TraceLines(host.tracer);
        EXPECT_EQ(host.Leftovers(), "");
        return run;
    }

    winsim::ScopedPackages m_packages{Packages(2)};
    winsim::ScopedPackageVolumes m_volumes{{{u"D:\\WindowsApps", 0}, {u"", 0}}};
};

TEST_F(PackageManagerTest, PicksUpTheInterfacesOfEachWindowsVersionAndTracesEachStep) {
    const Raised unsupported{u"IPackageManager3 unsupported",
                             static_cast<zef::ResultCode>(0x80000042u)};
    const auto cursor = [](const char* search, std::size_t items) {
        std::vector<std::string> calls = {search, call::kFirst, call::kHasCurrent};
        for (std::size_t i = 0; i < items; ++i) {
            calls.insert(calls.end(),
                         {call::kCurrent, call::kPackageId, call::kFullName, call::kMoveNext});
        }
        return calls;
    };
    const auto volumeCursor = [] {
        return Calls({call::kFindPackageVolumes, call::kFirst, call::kHasCurrent, call::kMoveNext,
                      call::kMoveNext});
    };
    const auto join = [](std::vector<std::string> a, const std::vector<std::string>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    struct Case {
        const char* name;
        std::uint32_t major, minor;
        std::vector<std::string> traced;
        std::vector<std::string> calls;
        std::size_t volumes;
        Raised volumeFailure;
    };
    const Case cases[] = {
        {"Windows 8",
         6,
         2,
         {"Using IPackageManager to enumerate packages"},
         join({"RoActivateInstance"}, cursor(call::kFindPackages, 2)),
         0,
         unsupported},
        {"Windows 8.1",
         6,
         3,
         {"Trying to get IPackageManager2 interface",
          "Using IPackageManager2 to enumerate packages"},
         join({"RoActivateInstance", call::kQueryPackageManager2},
              cursor(call::kFindPackagesWithPackageTypes, 2)),
         0,
         unsupported},
        {"Windows 10",
         10,
         0,
         {"Trying to get IPackageManager2 interface", "Trying to get IPackageManager3 interface",
          "Using IPackageManager2 to enumerate packages",
          "Using IPackageManager3 to enumerate volumes"},
         join(join({"RoActivateInstance", call::kQueryPackageManager2, call::kQueryPackageManager3},
                   cursor(call::kFindPackagesWithPackageTypes, 2)),
              volumeCursor()),
         2,
         {u"", 0}},
    };
    for (const Case& c : cases) {
        const ScopedWindows windows(c.major, c.minor);
        const Run traced = RunClient(true);
        EXPECT_EQ(traced.traced, c.traced) << c.name;
        EXPECT_EQ(traced.calls, c.calls) << c.name;
        EXPECT_EQ(traced.packages,
                  (std::vector<std::u16string>{Packages(2)[0].fullName, Packages(2)[1].fullName}))
            << c.name;
        EXPECT_EQ(traced.volumes, c.volumes) << c.name;
        EXPECT_EQ(traced.volumeFailure, c.volumeFailure) << c.name;

        // Without a tracer nothing is traced and the same calls are made.
        const Run untraced = RunClient(false);
        EXPECT_THAT(untraced.traced, IsEmpty()) << c.name;
        EXPECT_EQ(untraced.calls, c.calls) << c.name;
        EXPECT_EQ(untraced.volumeFailure, c.volumeFailure) << c.name;
    }
}

TEST_F(PackageManagerTest, WithoutAVersionRecordTakesWhatTheObjectOffers) {
    // The machine still plays its Windows; only the client cannot read which one it is.
    // (Plain members only: g++ 12 at -O3 reports strings in a table like this one as maybe used
    // uninitialized, -Wmaybe-uninitialized.)
    struct Case {
        std::uint32_t major, minor;
        std::size_t volumes;
        bool volumesUnsupported;
        const char* search;
    };
    const Case cases[] = {
        {6, 2, 0, true, "Using IPackageManager to enumerate packages"},
        {10, 0, 2, false, "Using IPackageManager2 to enumerate packages"},
    };
    for (const Case& c : cases) {
        const Raised volumeFailure =
            c.volumesUnsupported
                ? Raised{u"IPackageManager3 unsupported", static_cast<zef::ResultCode>(0x80000042u)}
                : Raised{u"", 0};
        const ScopedWindows windows(c.major, c.minor, /*recordReadable=*/false);
        const Run run = RunClient(true);
        ASSERT_GE(run.traced.size(), 3u);
        EXPECT_EQ(run.traced[0], "Trying to get IPackageManager2 interface");
        EXPECT_EQ(run.traced[1], "Trying to get IPackageManager3 interface");
        EXPECT_EQ(run.traced[2], c.search);
        EXPECT_EQ(run.packages.size(), 2u);
        EXPECT_EQ(run.volumes, c.volumes) << c.major;
        EXPECT_EQ(run.volumeFailure, volumeFailure) << c.major;
    }
}

TEST_F(PackageManagerTest, EachFailingStepRaisesItsTextAndLeavesNothingBehind) {
    struct Case {
        const char* name;
        std::uint32_t major, minor;
        const char* faultCall;
        std::uint32_t error;
        std::function<void(PackageManager&)> operation;  // after construction, if any
        Raised raised;
    };
    const auto findPackages = [](PackageManager& m) { m.FindPackages(); };
    const auto findVolumes = [](PackageManager& m) { m.FindPackageVolumes(); };
    const auto setState = [](const char16_t* name) {
        return [name](PackageManager& m) { m.SetPackageState(name); };
    };
    const std::function<void(PackageManager&)> nothing;  // the construction itself fails
    const Case cases[] = {
        {"IPackageManager2 refused",
         10,
         0,
         call::kQueryPackageManager2,
         kNoInterface,
         nothing,
         {u"querying IPackageManager2 failed", kPlatformErrorCode}},
        {"IPackageManager3 refused",
         10,
         0,
         call::kQueryPackageManager3,
         kAccessDenied,
         nothing,
         {u"querying IPackageManager3 failed", kAccessDeniedCode}},
        {"package search, Windows 8",
         6,
         2,
         call::kFindPackages,
         kAccessDenied,
         findPackages,
         {u"m_packageManager->FindPackages() failed", kAccessDeniedCode}},
        {"package search, Windows 10",
         10,
         0,
         call::kFindPackagesWithPackageTypes,
         kAccessDenied,
         findPackages,
         {u"m_packageManager->FindPackages() failed", kAccessDeniedCode}},
        {"volume search",
         10,
         0,
         call::kFindPackageVolumes,
         kAccessDenied,
         findVolumes,
         {u"m_packageManager->FindPackages() failed", kAccessDeniedCode}},
        {"cursor over the packages",
         10,
         0,
         call::kFirst,
         kAccessDenied,
         findPackages,
         {u"iterable->First() failed", kAccessDeniedCode}},
        {"full name",
         10,
         0,
         "WindowsCreateString",
         kAccessDenied,
         setState(u"Acme.App0_1.0.0.0_x64__a1b2c3d4e5f6g"),
         {u"::WindowsCreateString failed", kAccessDeniedCode}},
        {"state refused by the runtime",
         10,
         0,
         call::kSetPackageState,
         kAccessDenied,
         setState(u"Acme.App0_1.0.0.0_x64__a1b2c3d4e5f6g"),
         {u"m_packageManager->SetPackageState() failed", kAccessDeniedCode}},
        {"unknown package",
         6,
         2,
         nullptr,
         0,
         setState(u"Acme.Unknown_1.0.0.0_x64__a1b2c3d4e5f6g"),
         {u"m_packageManager->SetPackageState() failed",
          static_cast<zef::ResultCode>(0x80073CF1u)}},
    };
    for (const Case& c : cases) {
        const ScopedWindows windows(c.major, c.minor);
        qorvex::host::HostServicesBundle host;
        {
            RoInitializeScope scope;
            EXPECT_EQ(RaisedBy([&] {
                          // A construction step fails from the start; an operation's
                          // call once the client stands.
                          std::optional<winsim::ScopedFault> fault;
                          const auto inject = [&] {
                              if (c.faultCall != nullptr)
                                  fault.emplace(c.faultCall, winsim::FaultMode::Always, 0, c.error);
                          };
                          if (!c.operation) inject();
                          PackageManager manager(&host.tracer);
                          if (!c.operation) return;
                          inject();
                          c.operation(manager);
                      }),
                      c.raised)
                << c.name;
        }
        EXPECT_EQ(winsim::GetRuntimeCounters().liveObjects, m_before.liveObjects) << c.name;
        EXPECT_EQ(winsim::GetRuntimeCounters().liveStrings, m_before.liveStrings) << c.name;
        EXPECT_EQ(host.Leftovers(), "") << c.name;
    }
}

// A package manager as a broken runtime or server may hand it out: QueryInterface answers S_OK
// for the interfaces in `hollow` but leaves the out pointer null, and so does FindPackages. It
// lives on the test's stack; the client calls none of its other methods.
class HollowPackageManager final : public win::IPackageManager {
public:
    explicit HollowPackageManager(std::vector<win::IID> hollow) : m_hollow(std::move(hollow)) {}
    ~HollowPackageManager() = default;

    win::HRESULT QueryInterface(win::REFIID iid, void** out) override {
        *out = nullptr;
        for (const win::IID& h : m_hollow) {
            if (h == iid) return win::S_OK;
        }
        if (iid == win::IUnknown::kIid || iid == win::IInspectable::kIid ||
            iid == win::IPackageManager::kIid) {
            AddRef();
            *out = static_cast<win::IPackageManager*>(this);
            return win::S_OK;
        }
        return win::E_NOINTERFACE;
    }
    win::ULONG AddRef() override { return ++m_references; }
    win::ULONG Release() override { return --m_references; }
    win::ULONG References() const { return m_references; }

    win::HRESULT GetIids(win::ULONG*, win::IID**) override { return win::E_NOTIMPL; }
    win::HRESULT GetRuntimeClassName(win::HSTRING*) override { return win::E_NOTIMPL; }
    win::HRESULT GetTrustLevel(win::TrustLevel*) override { return win::E_NOTIMPL; }
    win::HRESULT AddPackageAsync(win::IUriRuntimeClass*, win::IIterableOfUri*,
                                 win::DeploymentOptions,
                                 win::IAsyncDeploymentOperation**) override {
        return win::E_NOTIMPL;
    }
    win::HRESULT UpdatePackageAsync(win::IUriRuntimeClass*, win::IIterableOfUri*,
                                    win::DeploymentOptions,
                                    win::IAsyncDeploymentOperation**) override {
        return win::E_NOTIMPL;
    }
    win::HRESULT RemovePackageAsync(win::HSTRING, win::IAsyncDeploymentOperation**) override {
        return win::E_NOTIMPL;
    }
    win::HRESULT StagePackageAsync(win::IUriRuntimeClass*, win::IIterableOfUri*,
                                   win::IAsyncDeploymentOperation**) override {
        return win::E_NOTIMPL;
    }
    win::HRESULT RegisterPackageAsync(win::IUriRuntimeClass*, win::IIterableOfUri*,
                                      win::DeploymentOptions,
                                      win::IAsyncDeploymentOperation**) override {
        return win::E_NOTIMPL;
    }
    win::HRESULT FindPackages(win::IIterable<win::IPackage>** packages) override {
        *packages = nullptr;
        return win::S_OK;
    }
    win::HRESULT FindPackagesByUserSecurityId(win::HSTRING,
                                              win::IIterable<win::IPackage>**) override {
        return win::E_NOTIMPL;
    }
    win::HRESULT FindPackagesByNamePublisher(win::HSTRING, win::HSTRING,
                                             win::IIterable<win::IPackage>**) override {
        return win::E_NOTIMPL;
    }
    win::HRESULT FindPackagesByUserSecurityIdNamePublisher(
        win::HSTRING, win::HSTRING, win::HSTRING, win::IIterable<win::IPackage>**) override {
        return win::E_NOTIMPL;
    }
    win::HRESULT FindUsers(win::HSTRING, win::IIterableOfPackageUserInformation**) override {
        return win::E_NOTIMPL;
    }
    win::HRESULT SetPackageState(win::HSTRING, win::PackageState) override {
        return win::E_NOTIMPL;
    }
    win::HRESULT FindPackageByPackageFullName(win::HSTRING, win::IPackage**) override {
        return win::E_NOTIMPL;
    }
    win::HRESULT CleanupPackageForUserAsync(win::HSTRING, win::HSTRING,
                                            win::IAsyncDeploymentOperation**) override {
        return win::E_NOTIMPL;
    }
    win::HRESULT FindPackagesByPackageFamilyName(win::HSTRING,
                                                 win::IIterable<win::IPackage>**) override {
        return win::E_NOTIMPL;
    }
    win::HRESULT FindPackagesByUserSecurityIdPackageFamilyName(
        win::HSTRING, win::HSTRING, win::IIterable<win::IPackage>**) override {
        return win::E_NOTIMPL;
    }
    win::HRESULT FindPackageByUserSecurityIdPackageFullName(win::HSTRING, win::HSTRING,
                                                            win::IPackage**) override {
        return win::E_NOTIMPL;
    }

private:
    std::vector<win::IID> m_hollow;
    win::ULONG m_references = 1;  // the test's own
};

// Activation, the newer interfaces and the searches all take an object out of a call that
// answered success: one that hands out nothing is a failure of that call, raised with E_POINTER's
// code, never an object that is dereferenced later.
TEST_F(PackageManagerTest, ASuccessThatHandsOutNoObjectIsAFailure) {
    const Raised activation{u"Windows::Foundation::ActivateInstance failed", kPlatformErrorCode};
    const auto search = [](PackageManager& manager) { manager.FindPackages(); };
    struct Case {
        const char* name;
        std::uint32_t major, minor;
        bool recordReadable;
        bool activationHandsOutNothing;
        std::vector<win::IID> hollow;
        std::function<void(PackageManager&)> operation;  // after construction, if any
        Raised raised;
    };
    const Case cases[] = {
        {"activation", 10, 0, true, true, {}, nullptr, activation},
        {"IPackageManager", 10, 0, true, false, {win::IPackageManager::kIid}, nullptr, activation},
        {"IPackageManager2",
         10,
         0,
         true,
         false,
         {win::IPackageManager2::kIid},
         nullptr,
         {u"querying IPackageManager2 failed", kPlatformErrorCode}},
        // Without the version record a newer interface is taken only when offered; one that
        // comes out null is not offered, and the search falls back to IPackageManager's.
        {"newer interfaces, version unknown",
         10,
         0,
         false,
         false,
         {win::IPackageManager2::kIid, win::IPackageManager3::kIid},
         search,
         {u"m_packageManager->FindPackages() failed", kPlatformErrorCode}},
        {"package search",
         6,
         2,
         true,
         false,
         {},
         search,
         {u"m_packageManager->FindPackages() failed", kPlatformErrorCode}},
    };
    for (const Case& c : cases) {
        const ScopedWindows windows(c.major, c.minor, c.recordReadable);
        HollowPackageManager hollow(c.hollow);
        winsim::ScopedHook<&win::RoActivateInstance> hook(
            [&](win::HSTRING, win::IInspectable** out) {
                *out = nullptr;
                if (c.activationHandsOutNothing) return win::S_OK;
                hollow.AddRef();
                *out = &hollow;
                return win::S_OK;
            });
        qorvex::host::HostServicesBundle host;
        EXPECT_EQ(RaisedBy([&] {
                      PackageManager manager(&host.tracer);
                      EXPECT_FALSE(manager.HasPackageVolumes()) << c.name;
                      if (c.operation) c.operation(manager);
                  }),
                  c.raised)
            << c.name;
        // Every reference the client took is back.
        EXPECT_EQ(hollow.References(), 1u) << c.name;
        EXPECT_EQ(host.Leftovers(), "") << c.name;
    }
}

TEST_F(PackageManagerTest, SetPackageStateMarksThePackageTamperedWith) {
    const ScopedWindows windows(10, 0);
    RoInitializeScope scope;
    PackageManager manager(nullptr);
    manager.SetPackageState(Packages(2)[1].fullName.c_str());
    EXPECT_EQ(winsim::GetSetPackageStateCalls(),
              (std::vector<winsim::SetPackageStateCall>{
                  {Packages(2)[1].fullName, win::PackageState_Tampered}}));
    EXPECT_EQ(winsim::GetPackages()[1].state, win::PackageState_Tampered);
    EXPECT_EQ(winsim::GetPackages()[0].state, win::PackageState_Normal);
}

// The machine.json members, read through the client as the remediation code reads them.
TEST_F(WinRtTest, PackagesAndVolumesOfAMachineDirectoryWithTheirScriptedFailures) {
    ASSERT_EQ(winsim::LoadMachineDirectory(QORVEX_SOURCE_DIR "/tests/data/winrt-machine"), "");
    const ScopedWindows windows(10, 0);
    RoInitializeScope scope;
    PackageManager manager(nullptr);

    std::vector<std::string> seen;
    for (auto it = manager.FindPackages(); !(it == IterableIterator<win::IPackage>()); ++it) {
        com_ptr<win::IPackageId> id;
        win::HRESULT hr = (*it)->get_Id(id.put());
        if (win::FAILED(hr)) {
            EXPECT_FALSE(id);
            seen.push_back("Id " + winsim::Utf8FromUtf16(u"") + std::to_string(hr));
            continue;
        }
        HString name;
        ASSERT_EQ(id->get_FullName(name.put()), win::S_OK);
        com_ptr<win::IStorageFolder> folder;
        hr = (*it)->get_InstalledLocation(folder.put());
        std::string location = std::to_string(hr);
        if (win::SUCCEEDED(hr)) {
            com_ptr<win::IStorageItem> item;
            ASSERT_EQ(folder->QueryInterface(win::IidOf<win::IStorageItem>, item.put_void()),
                      win::S_OK);
            HString path;
            ASSERT_EQ(item->get_Path(path.put()), win::S_OK);
            location = winsim::Utf8FromUtf16(win::WindowsGetStringRawBuffer(path.get(), nullptr));
        }
        seen.push_back(winsim::Utf8FromUtf16(win::WindowsGetStringRawBuffer(name.get(), nullptr)) +
                       " " + location);
    }
    EXPECT_THAT(seen, ElementsAre("Acme.Notes_1.4.2.0_x64__a1b2c3d4e5f6g C:\\Program "
                                  "Files\\WindowsApps\\Acme.Notes_1.4.2.0_x64__a1b2c3d4e5f6g",
                                  "Acme.Broken_1.0.0.0_x64__a1b2c3d4e5f6g " +
                                      std::to_string(static_cast<win::HRESULT>(0x80070002u)),
                                  "Id " + std::to_string(static_cast<win::HRESULT>(0x80070005u)),
                                  "Acme.Locked_1.0.0.0_x64__a1b2c3d4e5f6g C:\\Program "
                                  "Files\\WindowsApps\\Locked"));

    std::vector<std::string> volumes;
    for (auto it = manager.FindPackageVolumes(); !(it == IterableIterator<win::IPackageVolume>());
         ++it) {
        HString path;
        const win::HRESULT hr = (*it)->get_PackageStorePath(path.put());
        volumes.push_back(win::SUCCEEDED(hr) ? winsim::Utf8FromUtf16(win::WindowsGetStringRawBuffer(
                                                   path.get(), nullptr))
                                             : "error " + std::to_string(hr));
    }
    EXPECT_THAT(volumes,
                ElementsAre("D:\\WindowsApps", "",
                            "error " + std::to_string(static_cast<win::HRESULT>(0x80070005u))));

    EXPECT_EQ(RaisedBy([&] { manager.SetPackageState(u"Acme.Locked_1.0.0.0_x64__a1b2c3d4e5f6g"); }),
              (Raised{u"m_packageManager->SetPackageState() failed",
                      static_cast<zef::ResultCode>(0x80073D02u)}));
}

TEST(WinRtMachineDirectoryTest, WrongPackageMembersAreReportedWithTheirPlace) {
    const winsim::ScopedMachine machine;
    struct Case {
        const char* json;
        const char* message;  // a part of the loader's message
    };
    const Case cases[] = {
        {R"({"packages": {}})", "\"packages\" must be an array"},
        {R"({"packages": [{"installedLocation": null}]})", "needs a \"fullName\""},
        {R"({"packages": [{"fullName": "A"}]})", "needs an \"installedLocation\""},
        {R"({"packages": [{"fullName": "A", "installedLocation": null, "fails": {"Size": "0x80070005"}}]})",
         "\"Size\" is not a package property"},
        {R"({"packages": [{"fullName": "A", "installedLocation": null, "setPackageStateFails": "0x1"}]})",
         "must be a failure HRESULT"},
        {R"({"packageVolumes": [{}]})", "needs a \"packageStorePath\" or \"fails\""},
        {R"({"packageVolumes": [{"fails": "0x8007000G"}]})", "must be a failure HRESULT"},
    };
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() /
        ("qorvex-winrt-machine-" +
         std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    for (const Case& c : cases) {
        std::filesystem::create_directories(dir);
        std::ofstream(dir / "machine.json") << c.json;
        const std::string message = winsim::LoadMachineDirectory(dir.string());
        EXPECT_THAT(message, testing::HasSubstr(c.message)) << c.json;
        EXPECT_THAT(message, testing::HasSubstr("machine.json:1:")) << c.json;
        EXPECT_THAT(winsim::GetPackages(), IsEmpty()) << c.json;
    }
    std::filesystem::remove_all(dir);
}

// ---- Every runtime call of the simulation fails as injected
// ---------------------------------------

// One row per injectable call of the Windows Runtime room: the call made with its fault armed
// for exactly one call, and what its caller must see (the HRESULT, null results). The rows name
// exactly the room's calls, so a call added without a row fails here.
TEST_F(WinRtTest, EveryRuntimeCallFailsWithTheInjectedHResultAndNullResults) {
    const winsim::ScopedPackages packages(Packages(1));
    const winsim::ScopedPackageVolumes volumes({{u"D:\\WindowsApps", 0}});
    const win::HRESULT injected = static_cast<win::HRESULT>(kAccessDenied);
    RoInitializeScope scope;
    const com_ptr<win::IPackageManager> manager = Activate();
    com_ptr<win::IPackageManager2> manager2;
    com_ptr<win::IPackageManager3> manager3;
    ASSERT_EQ(manager->QueryInterface(win::IidOf<win::IPackageManager2>, manager2.put_void()),
              win::S_OK);
    ASSERT_EQ(manager->QueryInterface(win::IidOf<win::IPackageManager3>, manager3.put_void()),
              win::S_OK);
    com_ptr<win::IIterable<win::IPackage>> iterable;
    ASSERT_EQ(manager->FindPackages(iterable.put()), win::S_OK);
    com_ptr<win::IIterator<win::IPackage>> iterator;
    ASSERT_EQ(iterable->First(iterator.put()), win::S_OK);
    com_ptr<win::IPackage> package;
    ASSERT_EQ(iterator->get_Current(package.put()), win::S_OK);
    com_ptr<win::IStorageFolder> folder;
    ASSERT_EQ(package->get_InstalledLocation(folder.put()), win::S_OK);
    com_ptr<win::IStorageItem> item;
    ASSERT_EQ(folder->QueryInterface(win::IidOf<win::IStorageItem>, item.put_void()), win::S_OK);
    com_ptr<win::IPackageId> id;
    ASSERT_EQ(package->get_Id(id.put()), win::S_OK);
    com_ptr<win::IIterable<win::IPackageVolume>> volumeIterable;
    ASSERT_EQ(manager3->FindPackageVolumes(volumeIterable.put()), win::S_OK);
    com_ptr<win::IIterator<win::IPackageVolume>> volumeIterator;
    ASSERT_EQ(volumeIterable->First(volumeIterator.put()), win::S_OK);
    com_ptr<win::IPackageVolume> volume;
    ASSERT_EQ(volumeIterator->get_Current(volume.put()), win::S_OK);
    const HString name(u"Acme.App0_1.0.0.0_x64__a1b2c3d4e5f6g", 36);

    // Calls an out-parameter method and checks the HRESULT and that nothing came out.
    const auto nullOut = [&](auto method) {
        return [=] {
            void* out = reinterpret_cast<void*>(std::intptr_t{1});
            EXPECT_EQ(method(&out), injected);
            EXPECT_EQ(out, nullptr);
        };
    };
    struct Row {
        std::string call;
        std::function<void()> callAndCheck;
    };
    const Row rows[] = {
        {"RoInitialize",
         [&] {
             EXPECT_EQ(win::RoInitialize(win::RO_INIT_MULTITHREADED), injected);
             EXPECT_EQ(winsim::GetThreadApartment().initializations, 1u);
         }},
        {"RoActivateInstance", nullOut([&](void** out) {
             return win::RoActivateInstance(HString(win::kRuntimeClassPackageManager, 44).get(),
                                            reinterpret_cast<win::IInspectable**>(out));
         })},
        {"WindowsCreateString", nullOut([&](void** out) {
             return win::WindowsCreateString(u"x", 1, reinterpret_cast<win::HSTRING*>(out));
         })},
        {"WindowsDuplicateString", nullOut([&](void** out) {
             return win::WindowsDuplicateString(name.get(), reinterpret_cast<win::HSTRING*>(out));
         })},
        {"WindowsDeleteString",
         [&] {
             win::HSTRING copy = nullptr;
             ASSERT_EQ(win::WindowsDuplicateString(name.get(), &copy), win::S_OK);
             winsim::InjectFault("WindowsDeleteString", winsim::FaultMode::Once, 0, kAccessDenied);
             EXPECT_EQ(win::WindowsDeleteString(copy), injected);
             // The reference is still the caller's.
             EXPECT_EQ(win::WindowsDeleteString(copy), win::S_OK);
         }},
        {"WindowsGetStringRawBuffer",
         [&] {
             win::UINT32 length = 7;
             EXPECT_EQ(win::WindowsGetStringRawBuffer(name.get(), &length), nullptr);
             EXPECT_EQ(length, 0u);
         }},
        {call::kQueryPackageManager2, nullOut([&](void** out) {
             return manager->QueryInterface(win::IidOf<win::IPackageManager2>, out);
         })},
        {call::kQueryPackageManager3, nullOut([&](void** out) {
             return manager->QueryInterface(win::IidOf<win::IPackageManager3>, out);
         })},
        {call::kFindPackages, nullOut([&](void** out) {
             return manager->FindPackages(reinterpret_cast<win::IIterable<win::IPackage>**>(out));
         })},
        {call::kFindPackagesWithPackageTypes, nullOut([&](void** out) {
             return manager2->FindPackagesWithPackageTypes(
                 win::PackageTypes_Main, reinterpret_cast<win::IIterable<win::IPackage>**>(out));
         })},
        {call::kFindPackageVolumes, nullOut([&](void** out) {
             return manager3->FindPackageVolumes(
                 reinterpret_cast<win::IIterable<win::IPackageVolume>**>(out));
         })},
        {call::kSetPackageState,
         [&] {
             EXPECT_EQ(manager->SetPackageState(name.get(), win::PackageState_Tampered), injected);
             EXPECT_EQ(winsim::GetPackages()[0].state, win::PackageState_Normal);
         }},
        {call::kFirst, nullOut([&](void** out) {
             return iterable->First(reinterpret_cast<win::IIterator<win::IPackage>**>(out));
         })},
        {call::kHasCurrent,
         [&] {
             win::boolean has = 1;
             EXPECT_EQ(iterator->get_HasCurrent(&has), injected);
             EXPECT_EQ(has, 0);
         }},
        {call::kCurrent, nullOut([&](void** out) {
             return iterator->get_Current(reinterpret_cast<win::IPackage**>(out));
         })},
        {call::kMoveNext,
         [&] {
             win::boolean has = 1;
             EXPECT_EQ(iterator->MoveNext(&has), injected);
             EXPECT_EQ(has, 0);
             // The position did not move.
             com_ptr<win::IPackage> still;
             EXPECT_EQ(iterator->get_Current(still.put()), win::S_OK);
         }},
        {call::kPackageId, nullOut([&](void** out) {
             return package->get_Id(reinterpret_cast<win::IPackageId**>(out));
         })},
        {call::kInstalledLocation, nullOut([&](void** out) {
             return package->get_InstalledLocation(reinterpret_cast<win::IStorageFolder**>(out));
         })},
        {call::kFullName, nullOut([&](void** out) {
             return id->get_FullName(reinterpret_cast<win::HSTRING*>(out));
         })},
        {call::kQueryStorageItem, nullOut([&](void** out) {
             return folder->QueryInterface(win::IidOf<win::IStorageItem>, out);
         })},
        {call::kPath,
         nullOut([&](void** out) { return item->get_Path(reinterpret_cast<win::HSTRING*>(out)); })},
        {call::kPackageStorePath, nullOut([&](void** out) {
             return volume->get_PackageStorePath(reinterpret_cast<win::HSTRING*>(out));
         })},
    };

    std::vector<std::string> named, roomCalls;
    for (const Row& row : rows) named.push_back(row.call);
    const auto& methods = winrt_objects::CallNames();
    for (const std::string& injectable : winsim::InjectableCalls()) {
        if (injectable.rfind("Ro", 0) == 0 || injectable.rfind("Windows", 0) == 0 ||
            std::find(methods.begin(), methods.end(), injectable) != methods.end())
            roomCalls.push_back(injectable);
    }
    EXPECT_THAT(named, testing::UnorderedElementsAreArray(roomCalls));

    for (const Row& row : rows) {
        SCOPED_TRACE(row.call);
        if (row.call != "WindowsDeleteString")
            winsim::InjectFault(row.call, winsim::FaultMode::Once, 0, kAccessDenied);
        row.callAndCheck();
        winsim::ClearFaults();
    }
}

}  // namespace
