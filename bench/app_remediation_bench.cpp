// The Store-app lookups on the simulated machine, with a host that refuses every trace record.
//
// BM_CacheLookup/N/inside: IsMetroStyleAppByCache on a component whose cache holds N packages,
//   for a path inside the middle package (inside=1) or under no package (inside=0).
// BM_NestedScan/N/inside: the same question answered by scanning every record (FindPackages),
//   the baseline the cache lookup is measured against in the same run.
// BM_CacheLookupSeparators/L: IsMetroStyleAppByCache over 10,000 packages for a path of L
//   backslashes and nothing else, each one a folder boundary the index looks up (linear in L).
// BM_BuildCache/N: BuildMetroStyleAppsCache over N simulated packages (runtime calls included).
// BM_LiveOutsideRoots: IsMetroStyleApp for a path under no package volume root: the runtime
//   scope, the package manager client and the roots, no package enumeration.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "component/antimalware/source/win8_api/source/app_remediation_impl.h"
#include "services/host_services.h"
#include "winsim/sim.h"
#include "zef/system/detail/testing/system_caches.h"

namespace {

using antimalware::win8_api::AppRemediationImpl;

const std::u16string kApps = u"C:\\Program Files\\WindowsApps\\";

std::u16string Widen(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

std::vector<winsim::PackageEntry> Inventory(int count) {
    std::vector<winsim::PackageEntry> packages;
    packages.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        winsim::PackageEntry entry;
        entry.fullName = u"Vendor.App" + Widen(std::to_string(i)) + u"_1.0.0.0_x64__a1b2c3d4e5f6g";
        entry.installedLocation = kApps + entry.fullName;
        packages.push_back(std::move(entry));
    }
    return packages;
}

struct Machine {
    explicit Machine(int count) {
        zef::system::testing::ResetSystemCaches();
        winsim::SetPackageVolumes({{u"C:\\Program Files\\WindowsApps", 0}});
        winsim::SetPackages(Inventory(count));
        host.tracer.RefuseRecords(true);
        void* out = nullptr;
        zef::CreateComponent<AppRemediationImpl>(&host.locator, qorvex::kIidAppRemediation, &out);
        component = static_cast<qorvex::IAppRemediation*>(out);
    }
    ~Machine() { component->Release(); }

    winsim::ScopedMachine machine;
    qorvex::host::HostServicesBundle host;
    qorvex::IAppRemediation* component = nullptr;
};

std::u16string Probe(int count, bool inside) {
    return inside ? kApps + u"Vendor.App" + Widen(std::to_string(count / 2)) +
                        u"_1.0.0.0_x64__a1b2c3d4e5f6g\\bin\\app.exe"
                  : u"C:\\Users\\ann\\Documents\\report.docx";
}

void BM_CacheLookup(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    Machine m(count);
    if (m.component->BuildMetroStyleAppsCache() != 0) state.SkipWithError("build failed");
    const std::u16string path = Probe(count, state.range(1) != 0);
    const zef::ResultCode expected = state.range(1) != 0 ? 0 : 1;
    for (auto _ : state) {
        if (m.component->IsMetroStyleAppByCache(path.c_str()) != expected)
            state.SkipWithError("wrong answer");
    }
}
BENCHMARK(BM_CacheLookup)->ArgsProduct({{100, 1000, 10000, 100000}, {0, 1}});

void BM_CacheLookupSeparators(benchmark::State& state) {
    Machine m(10000);
    if (m.component->BuildMetroStyleAppsCache() != 0) state.SkipWithError("build failed");
    const std::u16string path(static_cast<std::size_t>(state.range(0)), u'\\');
    for (auto _ : state) {
        if (m.component->IsMetroStyleAppByCache(path.c_str()) != 1)
            state.SkipWithError("wrong answer");
    }
}
BENCHMARK(BM_CacheLookupSeparators)
    ->Arg(1000)
    ->Arg(8000)
    ->Arg(32767)
    ->Unit(benchmark::kMicrosecond);

void BM_NestedScan(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    antimalware::win8_api::PackageRecords records;
    for (const auto& entry : Inventory(count))
        records.push_back({zef::wstring_t(entry.fullName.c_str()),
                           zef::system::NormalizedDirectoryPath(
                               zef::wstring_t(entry.installedLocation->c_str()))});
    antimalware::win8_api::NormalizedPaths paths;
    paths.emplace_back(zef::wstring_t(Probe(count, state.range(1) != 0).c_str()));
    for (auto _ : state) {
        benchmark::DoNotOptimize(antimalware::win8_api::FindPackages(nullptr, records, paths));
    }
}
BENCHMARK(BM_NestedScan)->ArgsProduct({{100, 1000, 10000, 100000}, {0, 1}});

void BM_BuildCache(benchmark::State& state) {
    Machine m(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        if (m.component->BuildMetroStyleAppsCache() != 0) state.SkipWithError("build failed");
    }
}
BENCHMARK(BM_BuildCache)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_LiveOutsideRoots(benchmark::State& state) {
    Machine m(1000);
    for (auto _ : state) {
        if (m.component->IsMetroStyleApp(u"D:\\Data\\report.docx") != 1)
            state.SkipWithError("wrong answer");
    }
}
BENCHMARK(BM_LiveOutsideRoots)->Unit(benchmark::kMicrosecond);

}  // namespace
