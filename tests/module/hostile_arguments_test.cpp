// The remediation component through the module's exports, fed what a careless or hostile
// caller and a misbehaving runtime can hand it: paths past the longest Windows path, paths of
// separators alone, unpaired surrogates, letters beyond ASCII in either case, text with an
// embedded NUL coming back from the package manager, a file with a thousand names, a volume
// path too long for any buffer. Every answer is a defined result code; nothing is cut short
// and then reported as success.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "module/module_fixture.h"
#include "qorvex/app_remediation.h"
#include "winsim/sim.h"

namespace qorvex::test {
namespace {

using ::testing::ElementsAre;

using namespace std::string_literals;

const std::u16string kApps = u"C:\\Program Files\\WindowsApps\\";
const std::u16string kNotes = u"Acme.Notes_1.4.2.0_x64__a1b2c3d4e5f6g";
// "ÄPFEL.ΣΙΓΜΑ.ЖУК" in capitals; callers may spell it in small letters.
const std::u16string kLetters = u"\u00C4PFEL.\u03A3\u0399\u0393\u039C\u0391.\u0416\u0423\u041A";
const std::u16string kLongFolder = kApps + std::u16string(33000, u'L');
const std::u16string kSurrogateFolder = kApps + u"Sur\xD800rogate";
// A folder text that holds a NUL: Windows names never do, so nothing can lie inside it.
const std::u16string kNulFolder = kApps + u"Evil\0Tail"s;

winsim::PackageEntry Package(std::u16string name, std::u16string folder) {
    winsim::PackageEntry entry;
    entry.fullName = std::move(name);
    entry.installedLocation = std::move(folder);
    return entry;
}

class HostileArgumentsTest : public LoadedModuleTest {
protected:
    HostileArgumentsTest() { winsim::SetPackageVolumes({{u"C:\\Program Files\\WindowsApps", 0}}); }

    IAppRemediation* Create() {
        return CreateComponent<IAppRemediation>(kClassAppRemediation, kIidAppRemediation);
    }

    std::vector<std::u16string> Marked() {
        std::vector<std::u16string> names;
        for (const auto& call : winsim::GetSetPackageStateCalls()) names.push_back(call.fullName);
        return names;
    }

    bool Traced(const std::string& text) {
        for (const auto& r : host.tracer.Records())
            if (r.text.find(text) != std::string::npos) return true;
        return false;
    }

    winsim::ScopedMachine machine;
};

TEST_F(HostileArgumentsTest, BothLookupsAnswerExtremePathsByThePrefixRule) {
    winsim::SetPackages({Package(kNotes, kApps + kNotes),
                         Package(u"Acme.Letters_1.0.0.0_x64__a1b2c3d4e5f6g", kApps + kLetters),
                         Package(u"Acme.Long_1.0.0.0_x64__a1b2c3d4e5f6g", kLongFolder),
                         Package(u"Acme.Surrogate_1.0.0.0_x64__a1b2c3d4e5f6g", kSurrogateFolder),
                         Package(u"Acme.Nul_1.0.0.0_x64__a1b2c3d4e5f6g", kNulFolder)});
    host.tracer.SetMaxLevel(300);  // the walk's progress lines are not the point here
    IAppRemediation* component = Create();
    ASSERT_NE(nullptr, component);
    ASSERT_EQ(0, component->BuildMetroStyleAppsCache());

    struct Case {
        const char* what;
        std::u16string path;
        zef::ResultCode expected;
    };
    const Case cases[] = {
        {"past the longest Windows path, inside a package",
         kApps + kNotes + u"\\" + std::u16string(32767, u'x'), 0},
        {"past the longest Windows path, inside none", u"D:\\" + std::u16string(40000, u'x'), 1},
        {"separators only", std::u16string(40000, u'\\'), 1},
        {"one separator", u"/", 1},
        {"the long-path prefix alone", u"\\\\?\\", 1},
        {"inside a folder of 33,000 characters", kLongFolder + u"\\app.exe", 0},
        {"that folder one character short", kLongFolder.substr(0, kLongFolder.size() - 1), 1},
        {"small letters for capitals beyond ASCII",
         kApps + u"\u00E4pfel.\u03C3\u03B9\u03B3\u03BC\u03B1.\u0436\u0443\u043A\\app.exe", 0},
        {"the final sigma for the capital",
         kApps + u"\u00E4PFEL.\u03C2\u0399\u0393\u039C\u0391.\u0416\u0423\u041A\\app.exe", 0},
        {"a different letter beyond ASCII",
         kApps + u"\u00C5PFEL.\u03A3\u0399\u0393\u039C\u0391.\u0416\u0423\u041A\\app.exe", 1},
        {"an unpaired surrogate inside its package", kSurrogateFolder + u"\\x\xDC00.exe", 0},
        {"the other half of the pair instead", kApps + u"Sur\xDC00rogate\\x.exe", 1},
        {"where the folder's text is cut at its NUL", kApps + u"Evil\\x.exe", 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, component->IsMetroStyleApp(c.path.c_str())) << c.what;
        EXPECT_EQ(c.expected, component->IsMetroStyleAppByCache(c.path.c_str())) << c.what;
    }
    component->Release();
}

TEST_F(HostileArgumentsTest, AFullNameWithAnEmbeddedNulIsMarkedWhole) {
    // The runtime reports one package under a name with a NUL inside; the name up to the NUL is
    // another package. Only the reported one may be marked.
    const std::u16string good = u"Acme.Good_1.0.0.0_x64__a1b2c3d4e5f6g";
    const std::u16string carrier = good + u"\0Evil"s;
    winsim::SetPackages({Package(good, kApps + u"Good"), Package(carrier, kApps + u"Evil")});
    winsim::PutFile(kApps + u"Evil\\x.exe", {});
    IAppRemediation* component = Create();
    ASSERT_NE(nullptr, component);
    EXPECT_EQ(0, component->Remediate((kApps + u"Evil\\x.exe").c_str()));
    EXPECT_THAT(Marked(), ElementsAre(carrier));
    for (const auto& package : winsim::GetPackages())
        EXPECT_EQ(package.fullName == carrier, package.state == win::PackageState_Tampered);
    component->Release();
}

TEST_F(HostileArgumentsTest, RemediateAnswersExtremePathsWithADefinedCode) {
    winsim::SetPackages({Package(kNotes, kApps + kNotes)});
    // A volume mounted so deep that its path takes all but a few characters of the longest name
    // Windows reads (32,766 characters, in the \\?\ form).
    const std::u16string deepVolume = u"D:\\" + std::u16string(32766 - 4 - 3 - 6, u'm');
    winsim::MountVolume(deepVolume);
    struct Case {
        const char* what;
        std::u16string path;
        zef::ResultCode expected;
        std::vector<std::u16string> marked;
        const char* traced;
    };
    const Case cases[] = {
        // Windows reads no name that long: its volume path cannot be read, nothing is marked.
        {"past the longest Windows path, inside a package",
         kApps + kNotes + u"\\" + std::u16string(32767, u'x'),
         static_cast<zef::ResultCode>(0x80010103u),  // no such path
         {},
         "GetVolumePathNameW failed"},
        {"separators only",
         std::u16string(40000, u'\\'),
         static_cast<zef::ResultCode>(0x80010103u),  // no such path
         {},
         "GetVolumePathNameW failed"},
        // The volume path grows the buffer to its largest; the names cannot be listed (there
        // is no such file), so the given path stands alone, inside no package.
        {"on a volume mounted as deep as the longest name allows",
         u"\\\\?\\" + deepVolume + u"\\x.exe",
         1,
         {},
         "trying to remediate by original path"},
        {"the same name without the \\\\?\\ form",
         deepVolume + u"\\x.exe",
         static_cast<zef::ResultCode>(0x80010103u),
         {},
         "GetVolumePathNameW failed"},
    };
    IAppRemediation* component = Create();
    ASSERT_NE(nullptr, component);
    for (const Case& c : cases) {
        winsim::ClearSetPackageStateCalls();
        host.tracer.Clear();
        EXPECT_EQ(c.expected, component->Remediate(c.path.c_str())) << c.what;
        EXPECT_EQ(c.marked, Marked()) << c.what;
        EXPECT_TRUE(Traced(c.traced)) << c.what;
    }
    component->Release();
}

TEST_F(HostileArgumentsTest, AFileWithAThousandNamesMarksEveryPackageHoldingOne) {
    // 50 packages; name k lies in folder k % 60, so ten folders of names belong to no package.
    // Names past the first 260 characters make the enumerator grow its buffer on the way.
    constexpr int kPackages = 50;
    std::vector<winsim::PackageEntry> packages;
    const auto folder = [](int i) {
        return kApps + u"Pkg" + std::u16string(1, u'A' + i / 26) + std::u16string(1, u'A' + i % 26);
    };
    const auto fullName = [](int i) {
        return u"Vendor.Pkg" + std::u16string(1, u'A' + i / 26) + std::u16string(1, u'A' + i % 26) +
               u"_1.0.0.0_x64__a1b2c3d4e5f6g";
    };
    for (int i = 0; i < kPackages; ++i) packages.push_back(Package(fullName(i), folder(i)));
    winsim::SetPackages(packages);
    std::vector<std::u16string> names = {u"C:\\Users\\ann\\Downloads\\tool.exe"};
    std::vector<std::u16string> expected;
    for (int k = 1; k < 1000; ++k) {
        const int at = k % 60;
        std::u16string name =
            folder(at) + u"\\" + std::u16string(1 + k % 300, u'n') + u"\\" +
            std::u16string(1, u'a' + k % 26) + u"tool" + std::u16string(1, u'0' + k / 100) +
            std::u16string(1, u'0' + k / 10 % 10) + std::u16string(1, u'0' + k % 10) + u".exe";
        names.push_back(std::move(name));
        if (at < kPackages) expected.push_back(fullName(at));
    }
    winsim::LinkNames(names);
    host.tracer.SetMaxLevel(300);
    IAppRemediation* component = Create();
    ASSERT_NE(nullptr, component);
    EXPECT_EQ(0, component->Remediate(names.front().c_str()));
    // Once for each name inside a package, in the order the system lists the names.
    EXPECT_EQ(expected, Marked());
    std::size_t tampered = 0;
    for (const auto& package : winsim::GetPackages())
        tampered += package.state == win::PackageState_Tampered ? 1 : 0;
    EXPECT_EQ(static_cast<std::size_t>(kPackages), tampered);
    component->Release();
}

TEST_F(HostileArgumentsTest, TheCacheOfAHundredThousandPackagesAnswersEveryLookup) {
    constexpr int kCount = 100000;
    std::vector<winsim::PackageEntry> packages;
    packages.reserve(kCount);
    const auto name = [](int i) {
        const std::string digits = std::to_string(i);
        return u"Vendor.App" + std::u16string(digits.begin(), digits.end());
    };
    for (int i = 0; i < kCount; ++i) packages.push_back(Package(name(i), kApps + name(i)));
    // One folder inside another: a path in the inner one lies in both.
    packages.push_back(Package(u"Vendor.Inner", kApps + name(7) + u"\\Inner"));
    winsim::SetPackages(std::move(packages));
    host.tracer.SetMaxLevel(300);
    IAppRemediation* component = Create();
    ASSERT_NE(nullptr, component);
    ASSERT_EQ(0, component->BuildMetroStyleAppsCache());
    for (int i = 0; i < kCount; i += 997)
        EXPECT_EQ(0, component->IsMetroStyleAppByCache((kApps + name(i) + u"\\a.exe").c_str()))
            << i;
    EXPECT_EQ(0, component->IsMetroStyleAppByCache((kApps + name(kCount - 1) + u"\\a").c_str()));
    EXPECT_EQ(0, component->IsMetroStyleAppByCache((kApps + name(7) + u"\\inner\\a").c_str()));
    EXPECT_EQ(1, component->IsMetroStyleAppByCache((kApps + name(kCount) + u"\\a.exe").c_str()));
    EXPECT_EQ(1, component->IsMetroStyleAppByCache((kApps + u"Vendor.App\\a.exe").c_str()));
    EXPECT_EQ(1, component->IsMetroStyleAppByCache((kApps + name(12)).c_str()));
    component->Release();
}

}  // namespace
}  // namespace qorvex::test
