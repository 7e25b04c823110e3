// The Windows Runtime access layer and the PackageManager client on the simulated runtime: the
// apartment scope, the holders, activation, the collection cursor, the HSTRING trace text and
// the package manager's searches and SetPackageState, with every failure's text and code. Each
// test ends with every runtime object and HSTRING released and the thread's apartment as it was.
#include "component/antimalware/source/win8_api/source/winrt_wrapper.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <winsim/sim.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "host/services/host_services.h"
#include "platform/winrt_objects/package_objects.h"
#include "zef/rtl/error_handling/exception.h"

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
            EXPECT_EQ(winsim::Journal()[0].result, alreadyIn ? "0x00000001" : "0x00000000");
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
    EXPECT_TRUE(a == IterableIterator<win::IPackage>());
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

}  // namespace
