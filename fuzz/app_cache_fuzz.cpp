// libFuzzer target for the package cache lookup. The input is an inventory (full names and
// install folders, some missing or empty) and a few paths. Two oracles, both a scan of every
// record in order:
// - the folder index (PackageIndex) must list exactly the records whose normalized folder is a
//   prefix of the normalized path, in record order, as FindPackages does;
// - the component, its cache built from the inventory on the simulated machine, must answer
//   IsMetroStyleAppByCache with 0 exactly when such a record exists among the packages the
//   cache keeps (those with a name and a folder), and leave no runtime object or string alive.
// Any disagreement traps.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "component/antimalware/source/win8_api/source/app_remediation_impl.h"
#include "fuzz/fuzz_text.h"
#include "services/host_services.h"
#include "winsim/sim.h"

namespace {

using antimalware::win8_api::AppRemediationImpl;
using antimalware::win8_api::FindPackages;
using antimalware::win8_api::NormalizedPaths;
using antimalware::win8_api::PackageIndex;
using antimalware::win8_api::PackageRecord;
using antimalware::win8_api::PackageRecords;
using qorvex::fuzz::ConsumeText;

zef::wstring_t Wide(const std::u16string& text) {
    return zef::wstring_t(text.data(), text.size());
}

bool IsPrefix(std::u16string_view folder, std::u16string_view path) {
    return path.substr(0, folder.size()) == folder;
}

struct Component {
    Component() {
        host.tracer.SetMaxLevel(0);  // records refused: the lookups, not the host, are fuzzed
        void* out = nullptr;
        if (zef::CreateComponent<AppRemediationImpl>(&host.locator, qorvex::kIidAppRemediation,
                                                     &out) != 0)
            __builtin_trap();
        remediation = static_cast<qorvex::IAppRemediation*>(out);
    }
    qorvex::host::HostServicesBundle host;
    qorvex::IAppRemediation* remediation = nullptr;
};

void CheckIndex(const PackageRecords& records, const std::vector<std::u16string>& paths) {
    const PackageIndex index(records);
    for (const std::u16string& raw : paths) {
        NormalizedPaths one;
        one.emplace_back(Wide(raw));
        const std::u16string_view path = one[0].view();
        std::vector<std::uint32_t> expected;
        for (std::uint32_t i = 0; i < records.size(); ++i)
            if (IsPrefix(records[i].installedLocation.view(), path)) expected.push_back(i);
        zef::vector<std::uint32_t> found;
        index.Find(records, path, found);
        if (found.size() != expected.size()) __builtin_trap();
        for (std::size_t i = 0; i < expected.size(); ++i)
            if (found[i] != expected[i]) __builtin_trap();
        const PackageRecords scanned = FindPackages(nullptr, records, one);
        if (scanned.size() != expected.size()) __builtin_trap();
        for (std::size_t i = 0; i < expected.size(); ++i)
            if (!(scanned[i].fullName == records[expected[i]].fullName)) __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Component* const component = new Component;
    FuzzedDataProvider in(data, size);

    std::vector<winsim::PackageEntry> inventory;
    PackageRecords all;     // every entry with a folder, as the index sees any record list
    PackageRecords cached;  // what the cache keeps: a name and a folder, both non-empty
    const std::size_t packages = in.ConsumeIntegralInRange<std::size_t>(0, 24);
    for (std::size_t i = 0; i < packages; ++i) {
        winsim::PackageEntry entry;
        entry.fullName = ConsumeText(in, 6);
        if (in.ConsumeBool()) entry.installedLocation = ConsumeText(in, 24);
        if (entry.installedLocation) {
            PackageRecord record{Wide(entry.fullName), zef::system::NormalizedDirectoryPath(
                                                           Wide(*entry.installedLocation))};
            if (!entry.fullName.empty() && !entry.installedLocation->empty())
                cached.push_back(record);
            all.push_back(std::move(record));
        }
        inventory.push_back(std::move(entry));
    }
    std::vector<std::u16string> paths;
    const std::size_t count = in.ConsumeIntegralInRange<std::size_t>(1, 6);
    for (std::size_t i = 0; i < count; ++i) paths.push_back(ConsumeText(in, 40));

    CheckIndex(all, paths);

    winsim::SetPackages(std::move(inventory));
    if (component->remediation->BuildMetroStyleAppsCache() != 0) __builtin_trap();
    for (const std::u16string& raw : paths) {
        // The interface takes a zero-terminated path: it ends at the first NUL.
        const std::u16string given = raw.substr(0, raw.find(u'\0'));
        const zef::system::NormalizedPath path(Wide(given));
        bool inside = false;
        for (const PackageRecord& record : cached)
            inside = inside || IsPrefix(record.installedLocation.view(), path.view());
        if (component->remediation->IsMetroStyleAppByCache(given.c_str()) != (inside ? 0 : 1))
            __builtin_trap();
    }
    const winsim::RuntimeCounters counters = winsim::GetRuntimeCounters();
    if (counters.liveObjects != 0 || counters.liveStrings != 0) __builtin_trap();
    return 0;
}
