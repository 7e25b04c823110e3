// The remediation component through the module's exports, as a product's host reaches it:
// export, registry object, component factory, then the four operations on the simulated
// machine, with the references and host services all given back at the end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "module/module_fixture.h"
#include "qorvex/app_remediation.h"
#include "qorvex/tcg_log.h"
#include "winsim/sim.h"

namespace qorvex::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

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

}  // namespace
}  // namespace qorvex::test
