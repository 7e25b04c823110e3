// The WinRT access layer against the runtime of the build: the simulated one on Linux, Wine's
// real combase when cross-built, so a simulation that is consistently wrong gets caught. Without
// anything registered: the apartment scope, HSTRINGs and the activation of a class nobody
// serves. Under Wine with our package manager server registered (package_server.sh sets up a prefix
// of its own and says what it expects through QORVEX_PACKAGE_SERVER_EXPECT): the PackageManager
// client lists the server's packages and volumes with the interfaces the prefix's Windows version
// offers, and its SetPackageState reaches the server.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "component/antimalware/source/win8_api/source/winrt_wrapper.h"
#include "contract/machine.h"
#include "host/services/host_services.h"
#include "zef/rtl/error_handling/exception.h"

namespace {

using antimalware::win8_api::ActivateInstance;
using antimalware::win8_api::com_ptr;
using antimalware::win8_api::HString;
using antimalware::win8_api::IterableIterator;
using antimalware::win8_api::PackageManager;
using antimalware::win8_api::RoInitializeScope;

std::string Utf8(win::HSTRING text) {
    const char16_t* buffer = win::WindowsGetStringRawBuffer(text, nullptr);
    std::string out;
    for (; buffer != nullptr && *buffer != 0; ++buffer) out += static_cast<char>(*buffer);
    return out;
}

TEST(WinRtCallsTest, ScopeJoinsTheMultithreadedApartmentAndASecondScopeIsAlsoBalanced) {
    std::thread([] {
        {
            RoInitializeScope outer;
            // combase answers S_FALSE now, which the scope takes as success.
            EXPECT_EQ(win::RoInitialize(win::RO_INIT_MULTITHREADED), win::S_FALSE);
            win::RoUninitialize();
            RoInitializeScope inner;
        }
        // Both scopes undone: the thread may now choose the other apartment.
        EXPECT_EQ(win::RoInitialize(win::RO_INIT_SINGLETHREADED), win::S_OK);
        try {
            RoInitializeScope scope;
            ADD_FAILURE() << "a multithreaded scope on a single-threaded thread";
        } catch (const zef::SystemException& e) {
            EXPECT_EQ(e.Code(), static_cast<zef::ResultCode>(0x80010100u));
        }
        win::RoUninitialize();
    }).join();
}

TEST(WinRtCallsTest, HStringsRoundTripWithEmbeddedNulsAndShareOnCopy) {
    const char16_t text[] = u"Acme\0Notes \u00e9";
    const HString s(text, 12);
    win::UINT32 length = 0;
    const char16_t* buffer = win::WindowsGetStringRawBuffer(s.get(), &length);
    ASSERT_EQ(length, 12u);
    EXPECT_EQ(std::u16string(buffer, length), std::u16string(text, 12));
    const HString copy(s);
    EXPECT_EQ(std::u16string(win::WindowsGetStringRawBuffer(copy.get(), nullptr), 12),
              std::u16string(text, 12));
    const HString empty(u"", 0);
    EXPECT_EQ(empty.get(), nullptr);
    EXPECT_EQ(std::u16string(win::WindowsGetStringRawBuffer(nullptr, &length)), u"");
    EXPECT_EQ(length, 0u);
}

TEST(WinRtCallsTest, ActivatingAClassNobodyServesRaisesTheActivationFailure) {
    std::thread([] {
        RoInitializeScope scope;
        try {
            com_ptr<win::IInspectable> object;
            ActivateInstance(HString(u"Acme.Nothing.Here", 17), object);
            ADD_FAILURE() << "activated a class nobody serves";
        } catch (const zef::SystemException& e) {
            EXPECT_EQ(e.Message().view(), u"Windows::Foundation::ActivateInstance failed");
            EXPECT_EQ(e.Code(), static_cast<zef::ResultCode>(0x80010100u));
        }
        com_ptr<win::IInspectable> object;
        EXPECT_EQ(win::RoActivateInstance(HString(u"Acme.Nothing.Here", 17).get(), object.put()),
                  win::REGDB_E_CLASSNOTREG);
    }).join();
}

// ---- The runtime's own answers, as tables of facts --------------------------------------------
// HSTRING rows: dlls/combase/tests/string.c (test_create, test_duplicate, test_access);
// activation: dlls/combase/tests/roapi.c and the documentation of RoInitialize and
// RoActivateInstance.

TEST(WinRtCallsTest, HStringCallsByArgument) {
    const char16_t text[] = u"abcdef";  // and its terminator: 7 units
    struct Row {
        const char* what;
        const char16_t* source;
        win::UINT32 length;
        bool withOut;
        win::HRESULT hr;
        bool nullString;  // the HSTRING made is the null one (the empty string)
    };
    const Row rows[] = {
        {"six units", text, 6, true, win::S_OK, false},
        {"three units of a longer text", text, 3, true, win::S_OK, false},
        {"the terminator counted in", text, 7, true, win::S_OK, false},
        {"no place for the result", text, 6, false, win::E_INVALIDARG, true},
        {"no text but a length", nullptr, 6, true, win::E_POINTER, true},
        {"no text, no length", nullptr, 0, true, win::S_OK, true},
        {"empty text", u"", 0, true, win::S_OK, true},
        {"a text with length 0", text, 0, true, win::S_OK, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        win::HSTRING string = reinterpret_cast<win::HSTRING>(std::uintptr_t{0xdead0});
        EXPECT_EQ(row.hr, win::WindowsCreateString(row.source, row.length,
                                                   row.withOut ? &string : nullptr));
        if (!row.withOut) continue;
        if (win::FAILED(row.hr)) continue;
        if (row.nullString) {
            EXPECT_EQ(nullptr, string);
        } else {
            ASSERT_NE(nullptr, string);
        }
        win::UINT32 length = 12345;
        const char16_t* buffer = win::WindowsGetStringRawBuffer(string, &length);
        ASSERT_NE(nullptr, buffer) << "even the null string has a buffer";
        EXPECT_EQ(row.nullString ? 0u : row.length, length);
        EXPECT_EQ(std::u16string(row.source == nullptr ? u"" : row.source, length),
                  std::u16string(buffer, length));
        EXPECT_EQ(u'\0', buffer[length]) << "terminated after its length";
        EXPECT_EQ(buffer, win::WindowsGetStringRawBuffer(string, nullptr));
        EXPECT_EQ(win::S_OK, win::WindowsDeleteString(string));
    }

    // Embedded NULs are part of the string.
    win::HSTRING embedded = nullptr;
    ASSERT_EQ(win::S_OK, win::WindowsCreateString(u"a\0c\0ef", 6, &embedded));
    win::UINT32 length = 0;
    EXPECT_EQ(std::u16string(u"a\0c\0ef", 6),
              std::u16string(win::WindowsGetStringRawBuffer(embedded, &length), 6));
    EXPECT_EQ(6u, length);

    EXPECT_EQ(win::S_OK, win::WindowsDeleteString(embedded));
}

// string.c test_duplicate and Microsoft's documentation of WindowsDuplicateString: a string
// duplicates to itself (the same HSTRING, shared, so it outlives the deletion of the
// original), the null string to the null string, and no place for the result is E_INVALIDARG.
TEST(WinRtCallsTest, WindowsDuplicateStringByArgument) {
    const char16_t text[] = u"a\0c\0ef";
    struct Row {
        const char* what;
        win::UINT32 length;  // of the string duplicated; 0: the null string
        bool withOut;
        win::HRESULT hr;
    };
    const Row rows[] = {
        {"a string", 6, true, win::S_OK},
        {"a string of one unit", 1, true, win::S_OK},
        {"the null string", 0, true, win::S_OK},
        {"a string, no place for the result", 6, false, win::E_INVALIDARG},
        {"the null string, no place for the result", 0, false, win::E_INVALIDARG},
    };
    const auto kUnset = reinterpret_cast<win::HSTRING>(std::uintptr_t{0xdead0});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        win::HSTRING original = nullptr;
        ASSERT_EQ(win::S_OK, win::WindowsCreateString(text, row.length, &original));
        win::HSTRING copy = kUnset;
        EXPECT_EQ(row.hr, win::WindowsDuplicateString(original, row.withOut ? &copy : nullptr));
        if (!row.withOut) {
            EXPECT_EQ(kUnset, copy);
            EXPECT_EQ(win::S_OK, win::WindowsDeleteString(original));
            continue;
        }
        EXPECT_EQ(original, copy);
        EXPECT_EQ(win::S_OK, win::WindowsDeleteString(original));
        win::UINT32 length = 12345;
        const char16_t* buffer = win::WindowsGetStringRawBuffer(copy, &length);
        ASSERT_NE(nullptr, buffer);
        EXPECT_EQ(row.length, length);
        EXPECT_EQ(std::u16string(text, row.length), std::u16string(buffer, length));
        EXPECT_EQ(win::S_OK, win::WindowsDeleteString(copy));
    }
}

TEST(WinRtCallsTest, ApartmentAnswersByCallSequence) {
    std::thread([] {
        struct Step {
            const char* what;
            int initType;  // -1: RoUninitialize
            win::HRESULT hr;
        };
        constexpr int kUninitialize = -1;
        const Step steps[] = {
            {"joins the multithreaded apartment", win::RO_INIT_MULTITHREADED, win::S_OK},
            {"again: already there", win::RO_INIT_MULTITHREADED, win::S_FALSE},
            {"the other apartment type", win::RO_INIT_SINGLETHREADED, win::RPC_E_CHANGED_MODE},
            {"undo the second", kUninitialize, win::S_OK},
            {"undo the first", kUninitialize, win::S_OK},
            {"free again: single-threaded", win::RO_INIT_SINGLETHREADED, win::S_OK},
            {"now multithreaded is the other type", win::RO_INIT_MULTITHREADED,
             win::RPC_E_CHANGED_MODE},
            {"undo", kUninitialize, win::S_OK},
        };
        for (const Step& step : steps) {
            SCOPED_TRACE(step.what);
            if (step.initType == kUninitialize) {
                win::RoUninitialize();
                continue;
            }
            EXPECT_EQ(step.hr, win::RoInitialize(static_cast<win::RO_INIT_TYPE>(step.initType)));
        }
    }).join();
}

// roapi.c test_ActivationFactories: a class nobody registered is REGDB_E_CLASSNOTREG in the
// multithreaded apartment. Microsoft's documentation of RoActivateInstance: E_POINTER when there
// is no place for the instance, CO_E_NOTINITIALIZED on a thread that has not called
// RoInitialize. Wine 8 looks the class up before either (it activates outside an apartment and
// answers a missing place with the class's error), so those rows run on the simulated machine
// only.
TEST(WinRtCallsTest, RoActivateInstanceByApartmentAndArgument) {
    constexpr int kNoApartment = -1;
    struct Row {
        const char* what;
        int apartment;  // the RO_INIT_TYPE the thread joined, or kNoApartment
        bool withOut;
        win::HRESULT hr;
        bool simulatedOnly;
    };
    const Row rows[] = {
        {"an unknown class, multithreaded", win::RO_INIT_MULTITHREADED, true,
         win::REGDB_E_CLASSNOTREG, false},
        {"an unknown class, single-threaded", win::RO_INIT_SINGLETHREADED, true,
         win::REGDB_E_CLASSNOTREG, false},
        {"no place for the instance", win::RO_INIT_MULTITHREADED, false, win::E_POINTER, true},
        {"outside an apartment", kNoApartment, true, win::CO_E_NOTINITIALIZED, true},
    };
    for (const Row& row : rows) {
        if (row.simulatedOnly && !contract::kSimulatedMachine) continue;
        SCOPED_TRACE(row.what);
        std::thread([&] {
            if (row.apartment != kNoApartment) {
                ASSERT_EQ(win::S_OK,
                          win::RoInitialize(static_cast<win::RO_INIT_TYPE>(row.apartment)));
            }
            const HString unknown(u"Does.Not.Exist", 14);
            win::IInspectable* object = nullptr;
            EXPECT_EQ(row.hr,
                      win::RoActivateInstance(unknown.get(), row.withOut ? &object : nullptr));
            if (row.withOut) {
                EXPECT_EQ(nullptr, object);
            }
            if (row.apartment != kNoApartment) win::RoUninitialize();
        }).join();
    }
}

// ---- With the package manager server ---------------------------------------------------------

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::vector<std::string> TraceLines(const qorvex::host::CapturingTracer& tracer) {
    std::vector<std::string> lines;
    for (const auto& record : tracer.Records()) lines.push_back(record.text);
    return lines;
}

TEST(WinRtCallsTest, PackageManagerListsTheServersPackagesAndVolumesAndSetsState) {
    const std::string expect = Env("QORVEX_PACKAGE_SERVER_EXPECT");
    if (expect.empty()) GTEST_SKIP() << "needs the package manager server (package_server.sh)";
    const bool windows10 = expect == "win10";
    std::thread([&] {
        qorvex::host::HostServicesBundle host;
        RoInitializeScope scope;
        PackageManager manager(&host.tracer);

        std::vector<std::string> names, locations;
        for (IterableIterator<win::IPackage> it = manager.FindPackages();
             !(it == IterableIterator<win::IPackage>()); ++it) {
            win::IPackage* package = *it;
            com_ptr<win::IPackageId> id;
            ASSERT_EQ(package->get_Id(id.put()), win::S_OK);
            HString name;
            ASSERT_EQ(id->get_FullName(name.put()), win::S_OK);
            names.push_back(Utf8(name.get()));
            com_ptr<win::IStorageFolder> folder;
            const win::HRESULT hr = package->get_InstalledLocation(folder.put());
            if (win::FAILED(hr)) {
                locations.push_back("error");
                continue;
            }
            com_ptr<win::IStorageItem> item;
            ASSERT_EQ(folder->QueryInterface(win::IidOf<win::IStorageItem>, item.put_void()),
                      win::S_OK);
            HString path;
            ASSERT_EQ(item->get_Path(path.put()), win::S_OK);
            locations.push_back(Utf8(path.get()));
        }
        EXPECT_EQ(names, (std::vector<std::string>{"Acme.Notes_1.4.2.0_x64__a1b2c3d4e5f6g",
                                                   "Acme.Broken_1.0.0.0_x64__a1b2c3d4e5f6g"}));
        EXPECT_EQ(
            locations,
            (std::vector<std::string>{
                "C:\\Program Files\\WindowsApps\\Acme.Notes_1.4.2.0_x64__a1b2c3d4e5f6g", "error"}));

        std::vector<std::string> volumes;
        try {
            for (IterableIterator<win::IPackageVolume> it = manager.FindPackageVolumes();
                 !(it == IterableIterator<win::IPackageVolume>()); ++it) {
                HString path;
                EXPECT_EQ((*it)->get_PackageStorePath(path.put()), win::S_OK);
                volumes.push_back(Utf8(path.get()));
            }
            EXPECT_TRUE(windows10);
        } catch (const zef::SystemException& e) {
            EXPECT_FALSE(windows10);
            EXPECT_EQ(e.Message().view(), u"IPackageManager3 unsupported");
            EXPECT_EQ(e.Code(), static_cast<zef::ResultCode>(0x80000042u));
        }
        const std::vector<std::string> expectedVolumes =
            windows10 ? std::vector<std::string>{"D:\\WindowsApps", ""}
                      : std::vector<std::string>{};
        EXPECT_EQ(volumes, expectedVolumes);

        manager.SetPackageState(u"Acme.Notes_1.4.2.0_x64__a1b2c3d4e5f6g");
        try {
            manager.SetPackageState(u"Acme.Unknown_1.0.0.0_x64__a1b2c3d4e5f6g");
            ADD_FAILURE() << "an unknown package's state was set";
        } catch (const zef::SystemException& e) {
            EXPECT_EQ(e.Message().view(), u"m_packageManager->SetPackageState() failed");
            EXPECT_EQ(e.Code(), static_cast<zef::ResultCode>(0x80073CF1u));
        }

        const std::vector<std::string> expected =
            windows10 ? std::vector<std::string>{"Trying to get IPackageManager2 interface",
                                                 "Trying to get IPackageManager3 interface",
                                                 "Using IPackageManager2 to enumerate packages",
                                                 "Using IPackageManager3 to enumerate volumes"}
                      : std::vector<std::string>{"Using IPackageManager to enumerate packages"};
        EXPECT_EQ(TraceLines(host.tracer), expected);
    }).join();

    std::ifstream record(Env("QORVEX_PACKAGE_SERVER_RECORD"), std::ios::binary);
    const std::string calls((std::istreambuf_iterator<char>(record)),
                            std::istreambuf_iterator<char>());
    EXPECT_EQ(calls,
              "Acme.Notes_1.4.2.0_x64__a1b2c3d4e5f6g 3\n"
              "Acme.Unknown_1.0.0.0_x64__a1b2c3d4e5f6g 3\n");
}

}  // namespace
