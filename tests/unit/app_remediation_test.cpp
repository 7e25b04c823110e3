// AppRemediationImpl and the package discovery under it, on the simulated machine: the volume
// roots, the package walk with its skipped entries, the hard-link names, the cache, every
// operation's trace lines and result, and the thread state each live call leaves behind.
#include "component/antimalware/source/win8_api/source/app_remediation_impl.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <winsim/sim.h>

#include <atomic>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "host/services/host_services.h"
#include "zef/system/detail/testing/system_caches.h"

namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr zef::ResultCode kCheckFailed = static_cast<zef::ResultCode>(0x80000072u);
const std::u16string kApps = u"C:\\Program Files\\WindowsApps\\";
const std::u16string kNotes = u"Acme.Notes_1.4.2.0_x64__a1b2c3d4e5f6g";
const std::u16string kPaint = u"Acme.Paint_2.0.0.0_x64__a1b2c3d4e5f6g";

winsim::PackageEntry Package(const std::u16string& name, std::optional<std::u16string> folder) {
    winsim::PackageEntry entry;
    entry.fullName = name;
    entry.installedLocation = std::move(folder);
    return entry;
}

std::string Utf8(const std::u16string& text) {
    return std::string(text.begin(), text.end());  // the tests' paths are ASCII
}

class AppRemediationTest : public ::testing::Test {
protected:
    AppRemediationTest() {
        zef::system::testing::ResetSystemCaches();
        winsim::SetPackageVolumes({{u"C:\\Program Files\\WindowsApps", 0}});
        winsim::SetPackages({Package(kNotes, kApps + kNotes), Package(kPaint, kApps + kPaint)});
        m_component = Create();
    }
    ~AppRemediationTest() override {
        if (m_component != nullptr) m_component->Release();
        EXPECT_EQ("", m_host.Leftovers());
        zef::system::testing::ResetSystemCaches();
    }

    qorvex::IAppRemediation* Create() {
        void* out = nullptr;
        EXPECT_EQ(0, zef::CreateComponent<antimalware::win8_api::AppRemediationImpl>(
                         &m_host.locator, qorvex::kIidAppRemediation, &out));
        return static_cast<qorvex::IAppRemediation*>(out);
    }

    // The trace lines since the last call, "<level> <text>", and forgets them.
    std::vector<std::string> Lines() {
        std::vector<std::string> lines;
        for (const auto& r : m_host.tracer.Records())
            lines.push_back(std::to_string(r.level) + " " + r.text);
        m_host.tracer.Clear();
        return lines;
    }

    std::vector<std::u16string> MarkedPackages() {
        std::vector<std::u16string> names;
        for (const auto& call : winsim::GetSetPackageStateCalls()) names.push_back(call.fullName);
        return names;
    }

    // What every call leaves: the caller's identity back, no apartment, no runtime object or
    // string alive, no lock owned.
    void ExpectThreadStateRestored(bool impersonating) {
        EXPECT_EQ(impersonating, winsim::ThreadImpersonates());
        EXPECT_EQ(winsim::ThreadApartmentState{}, winsim::GetThreadApartment());
        const winsim::RuntimeCounters counters = winsim::GetRuntimeCounters();
        EXPECT_EQ(0u, counters.liveObjects);
        EXPECT_EQ(0u, counters.liveStrings);
        EXPECT_EQ(0u, winsim::OwnedCriticalSections());
        EXPECT_EQ(0u, winsim::OpenHandleCount());
    }

    winsim::ScopedMachine m_machine;
    qorvex::host::HostServicesBundle m_host;
    qorvex::IAppRemediation* m_component = nullptr;
};

TEST_F(AppRemediationTest, IsMetroStyleAppTracesTheRoadAndAnswersByThePrefixRule) {
    EXPECT_EQ(0, m_component->IsMetroStyleApp((kApps + kNotes + u"\\Notes.EXE").c_str()));
    EXPECT_THAT(
        Lines(),
        ElementsAre(
            "700 AppRemediationImpl::IsMetroStyleApp: C:\\Program Files\\WindowsApps\\" +
                Utf8(kNotes) + "\\Notes.EXE",
            "700 Trying to get IPackageManager2 interface",
            "700 Trying to get IPackageManager3 interface",
            "700 Using IPackageManager3 to enumerate volumes",
            "700 GetVolumeRoots: Package volume root: C:\\Program Files\\WindowsApps",
            "700 GetVolumeRoots: Package volume root: c:\\windows\\",
            "700 Using IPackageManager2 to enumerate packages",
            "700 GetAllPackages: Package " + Utf8(kNotes),
            "700 GetAllPackages: Package path C:\\Program Files\\WindowsApps\\" + Utf8(kNotes),
            "700 GetAllPackages: Package " + Utf8(kPaint),
            "700 GetAllPackages: Package path C:\\Program Files\\WindowsApps\\" + Utf8(kPaint),
            "700 FindPackages: Found package c:\\program files\\windowsapps\\"
            "acme.notes_1.4.2.0_x64__a1b2c3d4e5f6g\\"));

    struct Case {
        const char16_t* path;
        zef::ResultCode result;
    };
    const std::u16string inPaint = kApps + kPaint + u"/sub/x.dll";
    const std::u16string folderOnly = kApps + kPaint;
    const Case cases[] = {
        {inPaint.c_str(), 0},
        {folderOnly.c_str(), 1},  // the folder itself without its trailing backslash
        {u"C:\\Users\\ann\\a.txt", 1},
        {u"C:\\Program Files\\WindowsApps", 1},
        {u"C:\\Windows\\SystemApps\\x.exe", 1},
        {nullptr, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.result, m_component->IsMetroStyleApp(c.path));
        ExpectThreadStateRestored(false);
    }
    const std::vector<std::string> lines = Lines();
    EXPECT_THAT(lines, Contains("700 AppRemediationImpl::IsMetroStyleApp: (null)"));
    // A path under no root costs the roots only: the packages are never listed.
    EXPECT_EQ(1, m_component->IsMetroStyleApp(u"D:\\Data\\A.txt"));
    EXPECT_THAT(Lines(), ::testing::AllOf(
                             Contains("700 AppRemediationImpl::IsMetroStyleApp: D:\\Data\\A.txt"),
                             Not(Contains(HasSubstr("GetAllPackages")))));
}

TEST_F(AppRemediationTest, DefaultRootBeforeWindows10FollowsTheNativeArchitecture) {
    struct Case {
        std::uint16_t architecture;
        bool wow64;
        bool folderExists;
        bool reparsePoint;
        zef::ResultCode result;
        const char* root;
    };
    const Case cases[] = {
        {9, false, true, false, 0, "D:\\Apps64\\WindowsApps"},
        {9, true, true, false, 0, "D:\\Apps64\\WindowsApps"},
        {12, false, true, false, 0, "D:\\Apps64\\WindowsApps"},
        {0, false, true, false, 0, "D:\\Apps32\\WindowsApps"},
        {9, false, false, false, kCheckFailed, "D:\\Apps64\\WindowsApps"},
        {9, false, true, true, kCheckFailed, "D:\\Apps64\\WindowsApps"},
    };
    for (const std::uint32_t minor : {2u, 3u}) {
        for (const Case& c : cases) {
            winsim::ScopedMachine machine;
            zef::system::testing::ResetSystemCaches();
            winsim::OsVersion os;
            os.major = 6;
            os.minor = minor;
            os.build = minor == 2 ? 9200 : 9600;
            os.architecture = c.architecture;
            os.wow64 = c.wow64;
            winsim::SetOs(os);
            winsim::SetEnvironmentVariable(u"ProgramW6432", u"D:\\Apps64");
            winsim::SetEnvironmentVariable(u"ProgramFiles", u"D:\\Apps32");
            const std::u16string root(c.root, c.root + std::string_view(c.root).size());
            winsim::PutDirectory(u"D:\\");
            if (c.folderExists) winsim::PutDirectory(root);
            if (c.reparsePoint) winsim::SetReparsePoint(root, true);
            winsim::SetPackages({Package(kNotes, root + u"\\" + kNotes)});
            const std::u16string file = root + u"\\" + kNotes + u"\\a.exe";
            SCOPED_TRACE(std::string(c.root) + " arch " + std::to_string(c.architecture));
            EXPECT_EQ(c.result, m_component->IsMetroStyleApp(file.c_str()));
            EXPECT_EQ(c.result == 0 ? 0 : c.result, m_component->Remediate(file.c_str()));
            const std::vector<std::string> lines = Lines();
            EXPECT_THAT(
                lines, Contains(std::string("700 GetVolumeRoots: Package volume root: ") + c.root));
            if (c.result != 0) {
                EXPECT_THAT(lines, Contains(HasSubstr("300 CheckFailedException")));
            }
            ExpectThreadStateRestored(false);
        }
    }
}

TEST_F(AppRemediationTest, UnreadableVolumesAndPackagesAreSkippedAfterARecord) {
    winsim::SetPackageVolumes({{u"", 0},
                               {u"C:\\Program Files\\WindowsApps", 0},
                               {u"", static_cast<win::HRESULT>(0x80070005u)},
                               {u"E:\\Apps", 0}});
    std::vector<winsim::PackageEntry> packages;
    const auto failing = [&](const char16_t* name, auto field) {
        winsim::PackageEntry entry = Package(name, kApps + name);
        entry.fails.*field = static_cast<win::HRESULT>(0x80070005u);
        packages.push_back(entry);
    };
    failing(u"Bad.Id_1", &winsim::PackageFaults::id);
    failing(u"Bad.Name_1", &winsim::PackageFaults::fullName);
    failing(u"Bad.Location_1", &winsim::PackageFaults::installedLocation);
    failing(u"Bad.Item_1", &winsim::PackageFaults::storageItem);
    failing(u"Bad.Path_1", &winsim::PackageFaults::path);
    packages.push_back(Package(u"No.Location_1", std::nullopt));
    packages.push_back(Package(u"Outer_1", u"E:\\Apps\\Outer"));
    packages.push_back(Package(u"Inner_1", u"E:\\Apps\\Outer\\Inner"));
    winsim::SetPackages(packages);

    EXPECT_EQ(0, m_component->IsMetroStyleApp(u"E:\\Apps\\Outer\\Inner\\x.exe"));
    const std::vector<std::string> lines = Lines();
    std::vector<std::string> errors, found, roots;
    for (const auto& line : lines) {
        if (line.rfind("300 ", 0) == 0) errors.push_back(line);
        if (line.find("Found package") != std::string::npos) found.push_back(line);
        if (line.find("volume root") != std::string::npos) roots.push_back(line);
    }
    EXPECT_EQ(7u, errors.size()) << "two volumes and five packages";
    // Each is a failed check of this area, recorded under its source name.
    EXPECT_THAT(errors, Each(AllOf(HasSubstr("300 CheckFailedException - "),
                                   HasSubstr(". At component/antimalware/source/win8_api/source/"
                                             "app_remediation_impl("))));
    EXPECT_THAT(roots, ElementsAre(HasSubstr("C:\\Program Files\\WindowsApps"),
                                   HasSubstr("E:\\Apps"), HasSubstr("c:\\windows\\")));
    EXPECT_THAT(found, ElementsAre("700 FindPackages: Found package e:\\apps\\outer\\",
                                   "700 FindPackages: Found package e:\\apps\\outer\\inner\\"));
    EXPECT_THAT(lines, Contains("700 GetAllPackages: No InstalledLocation"));
    EXPECT_THAT(lines, Not(Contains(HasSubstr("Package path C:\\Program Files\\WindowsApps\\No"))));

    m_component->BuildMetroStyleAppsCache();
    Lines();
    EXPECT_EQ(1, m_component->IsMetroStyleAppByCache((kApps + u"Bad.Path_1\\x").c_str()));
}

TEST_F(AppRemediationTest, RemediateMarksEveryPackageOfEveryNameAndReportsTheLastFailure) {
    winsim::LinkNames({kApps + kNotes + u"\\a.exe", kApps + kNotes + u"\\b.exe"});
    EXPECT_EQ(0, m_component->Remediate((kApps + kNotes + u"\\a.exe").c_str()));
    EXPECT_THAT(MarkedPackages(), ElementsAre(kNotes, kNotes));
    std::vector<std::string> lines = Lines();
    EXPECT_THAT(
        lines, Contains("700 AppRemediationImpl::Remediate: Package to remediate " + Utf8(kNotes)));
    EXPECT_THAT(lines, Contains("700 AppRemediationImpl::Remediate: The package " + Utf8(kNotes) +
                                " has been remediated"));
    ExpectThreadStateRestored(false);

    // The first of two packages refuses: its code comes back and the second is still marked.
    winsim::ClearSetPackageStateCalls();
    winsim::PackageEntry notes = Package(kNotes, kApps + kNotes);
    notes.setPackageStateFails = static_cast<win::HRESULT>(0x80070005u);
    winsim::SetPackages({notes, Package(kPaint, kApps + kNotes + u"\\Inner")});
    winsim::LinkNames({kApps + kNotes + u"\\Inner\\c.exe"});
    EXPECT_EQ(static_cast<zef::ResultCode>(0x80000045u),
              m_component->Remediate((kApps + kNotes + u"\\Inner\\c.exe").c_str()));
    EXPECT_THAT(MarkedPackages(), ElementsAre(kNotes, kPaint));
    EXPECT_THAT(Lines(), Contains(HasSubstr("300 SystemException")));

    // Names that cannot be listed: the given path still finds the package.
    winsim::ClearSetPackageStateCalls();
    winsim::SetPackages({Package(kPaint, kApps + kPaint)});
    {
        winsim::ScopedFault fault("FindFirstFileNameW", winsim::FaultMode::Always, 0,
                                  win::ERROR_CALL_NOT_IMPLEMENTED);
        EXPECT_EQ(0, m_component->Remediate((kApps + kPaint + u"\\x.exe").c_str()));
    }
    EXPECT_THAT(MarkedPackages(), ElementsAre(kPaint));
    EXPECT_THAT(Lines(), Contains("300 GetHardlinks: Troubles with hardlink enumeration "
                                  "(0x80070078), trying to remediate by original path"));
    // Outside every package nothing is marked.
    winsim::ClearSetPackageStateCalls();
    EXPECT_EQ(1, m_component->Remediate((kApps + u"Other\\x.exe").c_str()));
    EXPECT_THAT(MarkedPackages(), IsEmpty());
}

TEST_F(AppRemediationTest, LiveFailuresReturnTheirCodeAndUndoEveryScope) {
    struct Case {
        const char* call;
        win::DWORD error;
    };
    const Case cases[] = {
        {"RoInitialize", static_cast<win::DWORD>(0x80004005u)},
        {"RoActivateInstance", static_cast<win::DWORD>(0x80040154u)},
        {"IIterable::First", static_cast<win::DWORD>(0x80004005u)},
        {"GetVolumePathNameW", win::ERROR_ACCESS_DENIED},
    };
    const winsim::ScopedThreadToken token(true);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        winsim::ScopedFault fault(c.call, winsim::FaultMode::Always, 0, c.error);
        const std::u16string file = kApps + kNotes + u"\\a.exe";
        EXPECT_LT(m_component->Remediate(file.c_str()), 0);
        if (std::string_view(c.call) != "GetVolumePathNameW") {
            EXPECT_LT(m_component->IsMetroStyleApp(file.c_str()), 0);
            EXPECT_LT(m_component->BuildMetroStyleAppsCache(), 0);
        }
        EXPECT_THAT(Lines(), Contains(HasSubstr("300 ")));
        ExpectThreadStateRestored(true);
    }
}

TEST_F(AppRemediationTest, CacheAnswersFromTheLastBuildOnly) {
    EXPECT_EQ(1, m_component->IsMetroStyleAppByCache((kApps + kNotes + u"\\a.exe").c_str()));
    EXPECT_THAT(Lines(), ElementsAre(HasSubstr("IsMetroStyleAppByCache: C:\\"),
                                     "700 AppRemediationImpl::IsMetroStyleAppByCache: Package "
                                     "not found in cache"));
    EXPECT_EQ(0, m_component->BuildMetroStyleAppsCache());
    EXPECT_THAT(Lines(), Contains("700 AppRemediationImpl::BuildMetroStyleAppsCache: "));
    ExpectThreadStateRestored(false);

    struct Case {
        std::u16string path;
        zef::ResultCode result;
    };
    const Case cases[] = {
        {u"c:/PROGRAM FILES/windowsapps/" + kNotes + u"/A.EXE", 0},
        {kApps + kNotes + u"\\", 0},
        {kApps + kNotes, 1},
        {u"\\\\?\\" + kApps + kNotes + u"\\a.exe", 1},
        {u"C:\\Users\\ann\\a.exe", 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.result, m_component->IsMetroStyleAppByCache(c.path.c_str())) << Utf8(c.path);
    EXPECT_EQ(1, m_component->IsMetroStyleAppByCache(nullptr));
    Lines();
    EXPECT_EQ(0, m_component->IsMetroStyleAppByCache((kApps + kPaint + u"\\a.exe").c_str()));
    EXPECT_THAT(Lines(),
                ElementsAre(HasSubstr("IsMetroStyleAppByCache: "),
                            "700 FindPackages: Found package c:\\program files\\windowsapps\\"
                            "acme.paint_2.0.0.0_x64__a1b2c3d4e5f6g\\",
                            "700 AppRemediationImpl::IsMetroStyleAppByCache: Found package in "
                            "cache c:\\program files\\windowsapps\\"
                            "acme.paint_2.0.0.0_x64__a1b2c3d4e5f6g\\"));

    // A failed build keeps the cache; a second one replaces it.
    {
        winsim::ScopedFault fault("RoActivateInstance", winsim::FaultMode::Always, 0,
                                  static_cast<win::DWORD>(0x80040154u));
        EXPECT_LT(m_component->BuildMetroStyleAppsCache(), 0);
    }
    EXPECT_EQ(0, m_component->IsMetroStyleAppByCache((kApps + kPaint + u"\\a.exe").c_str()));
    winsim::SetPackages({Package(kNotes, kApps + kNotes)});
    EXPECT_EQ(0, m_component->BuildMetroStyleAppsCache());
    EXPECT_EQ(1, m_component->IsMetroStyleAppByCache((kApps + kPaint + u"\\a.exe").c_str()));
    EXPECT_EQ(0, m_component->IsMetroStyleAppByCache((kApps + kNotes + u"\\a.exe").c_str()));
    ExpectThreadStateRestored(false);
}

TEST_F(AppRemediationTest, CacheBuildsAndLookupsFromSeveralThreads) {
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 40; ++i) {
                if (t == 0) {
                    if (m_component->BuildMetroStyleAppsCache() != 0) ++wrong;
                } else {
                    const zef::ResultCode r =
                        m_component->IsMetroStyleAppByCache((kApps + kNotes + u"\\a.exe").c_str());
                    if (r != 0 && r != 1) ++wrong;
                }
            }
            if (winsim::OwnedCriticalSections() != 0) ++wrong;
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(0, wrong.load());
    EXPECT_EQ(0, m_component->IsMetroStyleAppByCache((kApps + kNotes + u"\\a.exe").c_str()));
}

TEST(PackageIndexTest, AnswersExactlyWhatTheScanOfEveryRecordAnswers) {
    using antimalware::win8_api::PackageIndex;
    using antimalware::win8_api::PackageRecord;
    using antimalware::win8_api::PackageRecords;
    using zef::system::NormalizedDirectoryPath;
    using zef::system::NormalizedPath;
    std::mt19937 random(20261210);
    const std::u16string parts[] = {u"a", u"B", u"apps", u"Apps", u"x.y", u"a\\b", u"c:", u"d:"};
    const auto folder = [&](int depth) {
        std::u16string text = random() % 2 ? u"C:" : u"c:";
        for (int i = 0; i < depth; ++i) text += (random() % 4 ? u"\\" : u"/") + parts[random() % 8];
        return text;
    };
    for (int round = 0; round < 200; ++round) {
        PackageRecords records;
        const int count = static_cast<int>(random() % 40);
        for (int i = 0; i < count; ++i) {
            records.push_back(PackageRecord{zef::wstring_t(u"P"),
                                            NormalizedDirectoryPath(zef::wstring_t(
                                                folder(static_cast<int>(random() % 4)).c_str()))});
            // Duplicates of an earlier folder.
            if (i > 0 && random() % 5 == 0) records.push_back(records[random() % records.size()]);
        }
        const PackageIndex index(records);
        for (int probe = 0; probe < 30; ++probe) {
            std::u16string text = folder(static_cast<int>(random() % 6));
            if (random() % 3 == 0) text += u"\\";
            if (random() % 7 == 0) text = u"\\\\?\\" + text;
            const NormalizedPath path{zef::wstring_t(text.c_str())};
            std::vector<std::uint32_t> scanned;
            for (std::uint32_t i = 0; i < records.size(); ++i) {
                const std::u16string_view f = records[i].installedLocation.view();
                if (path.view().substr(0, f.size()) == f) scanned.push_back(i);
            }
            zef::vector<std::uint32_t> found;
            index.Find(records, path.view(), found);
            EXPECT_EQ(scanned, std::vector<std::uint32_t>(found.begin(), found.end()))
                << "round " << round << " path " << Utf8(std::u16string(path.view()));
            // And the scan the module keeps for live lookups lists the same records.
            antimalware::win8_api::NormalizedPaths paths;
            paths.push_back(path);
            EXPECT_EQ(found.size(),
                      antimalware::win8_api::FindPackages(nullptr, records, paths).size());
        }
    }
}

}  // namespace
