// The simulated Windows Runtime: each thread's apartment, the live runtime objects and HSTRINGs,
// the machine's packages and package volumes, and the SetPackageState calls the package manager
// received.
//
// The package manager's runtime methods are injectable calls (winsim::InjectFault), named
// "IIterable::First", "IIterator::MoveNext", "IPackage::get_Id", ... (winrt_objects::call) and
// journaled like every other call.
#pragma once

#include <cstdint>
#include <vector>

#include <winsim/scoped.h>

#include "platform/winrt_objects/inventory.h"

namespace winsim {

using PackageEntry = winrt_objects::PackageEntry;
using PackageFaults = winrt_objects::PackageFaults;
using VolumeEntry = winrt_objects::VolumeEntry;
using SetPackageStateCall = winrt_objects::SetPackageStateCall;

enum class ApartmentKind { None, SingleThreaded, MultiThreaded };

struct ThreadApartmentState {
    ApartmentKind kind = ApartmentKind::None;
    std::uint32_t initializations = 0;  // successful RoInitialize calls not yet undone
    bool operator==(const ThreadApartmentState&) const = default;
};

// The calling thread's apartment.
ThreadApartmentState GetThreadApartment();

struct RuntimeCounters {
    std::uint64_t liveObjects = 0;  // package manager objects not yet released
    std::uint64_t liveStrings = 0;  // HSTRINGs not yet deleted
    std::uint64_t invalidStringDeletes = 0;
    std::uint64_t unbalancedUninitializations = 0;  // RoUninitialize outside an apartment
    bool operator==(const RuntimeCounters&) const = default;
};
// Live objects and strings survive winsim::Reset(), like heap blocks; the other two counters
// count for the whole process.
RuntimeCounters GetRuntimeCounters();

// In enumeration order.
std::vector<PackageEntry> GetPackages();
void SetPackages(std::vector<PackageEntry> packages);
std::vector<VolumeEntry> GetPackageVolumes();
void SetPackageVolumes(std::vector<VolumeEntry> volumes);

class ScopedPackages : public ScopedOverride<std::vector<PackageEntry>> {
public:
    explicit ScopedPackages(std::vector<PackageEntry> packages)
        : ScopedOverride(&GetPackages, &SetPackages, std::move(packages)) {}
};
class ScopedPackageVolumes : public ScopedOverride<std::vector<VolumeEntry>> {
public:
    explicit ScopedPackageVolumes(std::vector<VolumeEntry> volumes)
        : ScopedOverride(&GetPackageVolumes, &SetPackageVolumes, std::move(volumes)) {}
};

// Every SetPackageState call since the last reset or clear, in order.
std::vector<SetPackageStateCall> GetSetPackageStateCalls();
void ClearSetPackageStateCalls();

}  // namespace winsim
