// The remediation component through the module's exports, as a product's host reaches it:
// export, registry object, component factory, then the four operations on the simulated
// machine, with the references and host services all given back at the end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <win/files.h>
#include <win/kernel.h>

#include <string>
#include <string_view>
#include <vector>

#include "module/module_fixture.h"
#include "qorvex/app_remediation.h"
#include "qorvex/tcg_log.h"
#include "winsim/sim.h"

namespace qorvex::test {
namespace {

using ::testing::Contains;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

const std::u16string kApps = u"C:\\Program Files\\WindowsApps\\";
const std::u16string kNotes = u"Acme.Notes_1.4.2.0_x64__a1b2c3d4e5f6g";

class AppRemediationModuleTest : public LoadedModuleTest {
protected:
    AppRemediationModuleTest() {
        winsim::SetPackageVolumes({{u"C:\\Program Files\\WindowsApps", 0}});
        winsim::PackageEntry notes;
        notes.fullName = kNotes;
        notes.installedLocation = kApps + kNotes;
        winsim::SetPackages({notes});
        winsim::LinkNames(
            {u"C:\\Users\\ann\\Downloads\\notes.exe", kApps + kNotes + u"\\notes.exe"});
    }

    IAppRemediation* Create() {
        return CreateComponent<IAppRemediation>(kClassAppRemediation, kIidAppRemediation);
    }

    std::vector<std::u16string> Marked() {
        std::vector<std::u16string> marked;
        for (const auto& call : winsim::GetSetPackageStateCalls()) marked.push_back(call.fullName);
        return marked;
    }

    std::vector<std::string> Records() {
        std::vector<std::string> lines;
        for (const auto& r : host.tracer.Records())
            lines.push_back(std::to_string(r.level) + " " + r.text);
        return lines;
    }

    winsim::ScopedMachine machine;
};

TEST_F(AppRemediationModuleTest, FourOperationsThroughTheExports) {
    IAppRemediation* component = Create();
    ASSERT_NE(nullptr, component);
    const std::u16string inside = kApps + kNotes + u"\\notes.exe";
    const std::u16string download = u"C:\\Users\\ann\\Downloads\\notes.exe";
    EXPECT_EQ(0, component->IsMetroStyleApp(inside.c_str()));
    EXPECT_EQ(1, component->IsMetroStyleApp(download.c_str()));
    EXPECT_EQ(1, component->IsMetroStyleAppByCache(inside.c_str()));
    EXPECT_EQ(0, component->BuildMetroStyleAppsCache());
    EXPECT_EQ(0, component->IsMetroStyleAppByCache(inside.c_str()));
    EXPECT_EQ(1, component->IsMetroStyleAppByCache(download.c_str()));
    // The download is the same file as one inside the package: its other name finds it.
    EXPECT_EQ(0, component->Remediate(download.c_str()));
    std::vector<std::u16string> marked;
    for (const auto& call : winsim::GetSetPackageStateCalls()) marked.push_back(call.fullName);
    EXPECT_THAT(marked, ElementsAre(kNotes));
    std::vector<std::string> lines;
    for (const auto& r : host.tracer.Records()) lines.push_back(r.text);
    EXPECT_THAT(lines, Contains("GetHardlinks: " + std::string(inside.begin(), inside.end())));
    EXPECT_THAT(lines, Contains(HasSubstr("has been remediated")));

    // The interface answers for itself and for IObject only.
    void* other = nullptr;
    EXPECT_LT(component->QueryInterface(kIidTcgLogProvider, &other), 0);
    EXPECT_EQ(nullptr, other);
    component->Release();
}

// Windows answers GetVolumePathNameW for an NT-namespace name ("\??\D:\...") with the root of
// the current drive (Wine's kernel32 volume tests), while FindFirstFileNameW names the file on
// its own volume, D:. Joined, the names would point at C:, here into a package that does not
// hold the file; the hooks answer as Windows does.
TEST_F(AppRemediationModuleTest, RemediateMarksNoPackageThroughANameOffItsVolume) {
    constexpr std::u16string_view kNtPrefix = u"\\??\\";
    const std::u16string onD = u"D:\\Program Files\\WindowsApps\\" + kNotes + u"\\notes.exe";
    winsim::PutFile(onD, {});
    winsim::ScopedHook<&win::GetVolumePathNameW> volume(
        [&](win::LPCWSTR path, win::LPWSTR out, win::DWORD size) {
            if (std::u16string_view(path).substr(0, 4) != kNtPrefix)
                return win::GetVolumePathNameW(path, out, size);
            std::copy_n(u"C:\\", 4, out);
            return win::TRUE;
        });
    winsim::ScopedHook<&win::FindFirstFileNameW> first(
        [&](win::LPCWSTR path, win::DWORD flags, win::DWORD* length, win::PWSTR out) {
            std::u16string_view name(path);
            if (name.substr(0, 4) == kNtPrefix) name.remove_prefix(4);
            return win::FindFirstFileNameW(std::u16string(name).c_str(), flags, length, out);
        });
    IAppRemediation* component = Create();
    ASSERT_NE(nullptr, component);
    EXPECT_EQ(1, component->Remediate((u"\\??\\" + onD).c_str()));
    EXPECT_THAT(Marked(), IsEmpty());
    EXPECT_THAT(Records(), Contains("300 GetHardlinks: Volume path C:\\ does not hold the path, "
                                    "trying to remediate by original path"));
    component->Release();
}

// Windows fails GetVolumePathNameW of "" without a last error; the call still fails with a code
// of its own, and no record reads "No error".
TEST_F(AppRemediationModuleTest, RemediateOfAnEmptyPathFailsWithACodeNeverNoError) {
    winsim::ScopedHook<&win::GetVolumePathNameW> volume(
        [](win::LPCWSTR path, win::LPWSTR out, win::DWORD size) {
            if (path[0] != u'\0') return win::GetVolumePathNameW(path, out, size);
            win::SetLastError(0);
            return win::FALSE;
        });
    IAppRemediation* component = Create();
    ASSERT_NE(nullptr, component);
    EXPECT_EQ(static_cast<zef::ResultCode>(0x8007FFFEu), component->Remediate(u""));
    EXPECT_THAT(Marked(), IsEmpty());
    EXPECT_THAT(Records(), Contains(HasSubstr("GetVolumePathNameW failed: 0x8007fffe")));
    EXPECT_THAT(Records(), Each(Not(HasSubstr("No error"))));
    component->Release();
}

}  // namespace
}  // namespace qorvex::test
